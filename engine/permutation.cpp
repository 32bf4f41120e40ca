#include "engine/engine.h"

namespace resicrypt {

namespace {

// Divides the base-256 number in numberDigits positions 1..top by d in place,
// building the quotient in auxDigits, and returns the remainder.
std::int32_t DivideNumberDigits(CipherWorkspace& ws, int top, std::int32_t d) {
  std::int32_t remainder = 0;
  for (int k = top; k >= 1; --k) {
    const std::int32_t current = remainder * 256 + ws.numberDigits[k];
    ws.auxDigits[k] = current / d;
    remainder = current % d;
  }
  for (int k = top; k >= 1; --k) {
    ws.numberDigits[k] = ws.auxDigits[k];
    ws.auxDigits[k] = 0;
  }
  return remainder;
}

}  // namespace

void DerivePermutation(CipherWorkspace& ws, int n) {
  if (n < 3 || n > kMaxTableSize) {
    return;
  }
  // Only the first n password bytes fit the number tables.
  int length = static_cast<int>(PasswordLength(ws));
  if (length > n) {
    length = n;
  }

  for (int k = 0; k <= n; ++k) {
    ws.blockDigits[k] = 0;
    ws.radixDigits[k] = 0;
    ws.outputDigits[k] = 0;
  }
  for (int k = 1; k <= length; ++k) {
    ws.blockDigits[k] = ws.passwordText[k - 1];
  }

  // The password number, first byte least significant.
  int top = 0;
  for (int k = 1; k <= n; ++k) {
    ws.numberDigits[k] = ws.blockDigits[k];
    ws.auxDigits[k] = 0;
    if (ws.numberDigits[k] != 0) {
      top = k;
    }
  }

  // Factorial-base digits: radixDigits[d] is the digit of radix d.
  for (std::int32_t d = 2; d <= n; ++d) {
    ws.radixDigits[d] = DivideNumberDigits(ws, top, d);
  }

  // Lehmer decoding into the slots outputDigits 1..n-2: each value v goes into
  // the empty slot that has exactly radixDigits[v] empty slots before it.
  const int slotCount = n - 2;
  for (int v = slotCount; v >= 1; --v) {
    int emptyBefore = ws.radixDigits[v];
    for (int s = 1; s <= slotCount; ++s) {
      if (ws.outputDigits[s] != 0) {
        continue;
      }
      if (emptyBefore == 0) {
        ws.outputDigits[s] = v;
        break;
      }
      --emptyBefore;
    }
  }

  // Reorder: gather the moduli in radixDigits 3..n-2, then lay them out
  // backwards from position 2. Positions n-2 and n-1 receive radixDigits 2 and 1,
  // which are no moduli and are never read.
  for (int s = slotCount; s >= 3; --s) {
    ws.radixDigits[s] = ws.ModulusTable[ws.outputDigits[s] + 2];
  }
  for (int i = 2; i <= n - 1; ++i) {
    ws.ModulusTable[i] = ws.radixDigits[n - i];
  }
}

}  // namespace resicrypt
