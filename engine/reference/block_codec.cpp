#include "engine/reference/reference.h"

#include "engine/engine.h"

namespace resicrypt {

namespace {

bool IsResidueCountInRange(int N) { return N >= 2 && N <= kMaxResidueCount; }

// Normalises base-256 digits at positions 2..N, carrying upward into N + 1.
void CarryDigits(std::int32_t* digits, int N) {
  for (int k = 2; k <= N; ++k) {
    if (digits[k] >= 256) {
      digits[k + 1] += digits[k] / 256;
      digits[k] %= 256;
    }
  }
}

}  // namespace

void EncodeBlock(CipherWorkspace& ws, int base, int N) {
  if (!IsResidueCountInRange(N)) {
    return;
  }
  const std::int32_t* m = ws.ModulusTable;
  const std::int32_t* d = ws.blockDigits;
  for (int i = 2; i <= N; ++i) {
    ws.numberDigits[i] = base % m[i];
    ws.residues[i] = d[1] % m[i];
    ws.auxDigits[i] = 1;
  }
  // Digit j carries the weight 256^(j-1), kept modulo each m(i) in auxDigits.
  for (int j = 2; j <= N - 1; ++j) {
    for (int i = 2; i <= N; ++i) {
      ws.auxDigits[i] = ws.auxDigits[i] * ws.numberDigits[i] % m[i];
      ws.residues[i] = (ws.residues[i] + d[j] * ws.auxDigits[i] % m[i]) % m[i];
    }
  }
}

void BuildProductTable(ReferenceWorkspace& ws, int N) {
  if (!IsResidueCountInRange(N)) {
    return;
  }
  const std::int32_t* m = ws.ModulusTable;
  for (int i = 2; i <= N; ++i) {
    std::int32_t a = 1;
    for (int j = 2; j <= N; ++j) {
      ws.productTable[j][i] = a;
      a = a * m[j] % m[i];
    }
  }
}

void DecodeBlock(ReferenceWorkspace& ws, int base, int N) {
  if (!IsResidueCountInRange(N)) {
    return;
  }
  const std::int32_t* m = ws.ModulusTable;
  for (int i = 2; i <= N; ++i) {
    ws.reducedResidues[i] = ws.residues[i] % m[i];
    ws.partialValues[i] = 0;
  }

  // Garner: digit g(i) solves (product of earlier moduli) * g = residue - value so far.
  for (int k = 0; k < kProductTableSize; ++k) {
    ws.radixDigits[k] = 0;
  }
  for (int i = 2; i <= N; ++i) {
    const std::int32_t a = ws.productTable[i][i];
    std::int32_t b = ws.reducedResidues[i] - ws.partialValues[i];
    if (b < 0) {
      b += m[i];
    }
    const std::int32_t g = SolveCongruence(ws, i, a, b);
    ws.radixDigits[i] = g;
    if (g == 0) {
      ++ws.zeroDigitCount;
    }
    for (int j = 2; j <= N; ++j) {
      ws.partialValues[j] = (ws.partialValues[j] + g * ws.productTable[i][j]) % m[j];
    }
  }

  // Base conversion: outputDigits accumulates g(i+1) * m(2)...m(i), with the
  // running product kept in base 256 in numberDigits.
  for (int k = 2; k <= N + 1; ++k) {
    ws.numberDigits[k] = 0;
    ws.outputDigits[k] = 0;
  }
  ws.numberDigits[2] = 1;
  ws.outputDigits[2] = ws.radixDigits[2];
  for (int i = 2; i <= N - 1; ++i) {
    for (int k = 2; k <= N; ++k) {
      ws.numberDigits[k] *= m[i];
    }
    CarryDigits(ws.numberDigits, N);
    const std::int32_t g = ws.radixDigits[i + 1];
    for (int k = 2; k <= N; ++k) {
      ws.outputDigits[k] += g * ws.numberDigits[k];
    }
    CarryDigits(ws.outputDigits, N);
  }
  static_cast<void>(base);  // the conversion is always to base 256
}

bool DecodedBlockFails(const CipherWorkspace& ws, int N, int L, bool spareDigitTested) {
  if (!IsResidueCountInRange(N)) {
    return false;
  }
  for (int i = 2; i <= N; ++i) {
    if (ws.residues[i] >= ws.ModulusTable[i]) {
      return true;
    }
  }
  if (spareDigitTested && ws.radixDigits[N] != 0) {
    return true;
  }
  // Block byte p is at index p + 1: the bytes above position L at L + 2..N.
  for (int k = L + 2; k <= N; ++k) {
    if (ws.outputDigits[k] != 0) {
      return true;
    }
  }
  return false;
}

bool SpareDigitIsZeroForBlocks(ReferenceWorkspace& ws, int N, int L) {
  if (!IsResidueCountInRange(N)) {
    return false;
  }
  for (int p = 1; p <= N - 1; ++p) {
    ws.blockDigits[p] = p <= L ? 255 : 0;
  }
  EncodeBlock(ws, kBlockBase, N);
  DecodeBlock(ws, kBlockBase, N);
  for (int p = L + 1; p <= N - 1; ++p) {
    ws.blockDigits[p] = 0;
  }
  return ws.radixDigits[N] == 0;
}

CongruenceWalk WalkCongruence(int m, int a, int b) {
  if (a < 2) {
    for (int x = 0; x < m; ++x) {
      if (a * x % m == b) {
        return {x, 0};
      }
    }
    return {0, 0};
  }
  const int q = m / a;
  const int r = m % a;
  if (r == 0) {
    return {-1, 0};  // a divides m: m is not prime
  }
  const int s = a - r;
  // Adding q to x moves a*x by -r (mod m), adding q + 1 moves it by +s. e tracks
  // a*x as an integer near b and is walked down by r and up by s until it hits b.
  int x = b / a + 1;
  int e = a * x;
  for (int pass = 1;; ++pass) {
    if (pass > m) {
      return {-1, pass};
    }
    if (e == b) {
      return {x % m, pass};
    }
    if (e > b) {
      const int k = (e - b) / r + 1;
      e -= k * r;
      x += k * q;
      if ((b - e) % r == 0) {
        e += r;
        x -= q;
      }
    }
    if (e < b) {
      const int k = (b - e) / s + 1;
      e += k * s;
      x += k * (q + 1);
      if ((e - b) % s == 0) {
        e -= s;
        x -= q + 1;
      }
    }
  }
}

int SolveCongruence(CipherWorkspace& ws, int i, int a, int b) {
  if (i < 0 || i >= kDigitTableSize) {
    return -1;
  }
  return WalkCongruence(ws.ModulusTable[i], a, b).x;
}

}  // namespace resicrypt
