#include <cmath>

#include "engine/engine.h"

namespace resicrypt {

void BuildModulusTable(CipherWorkspace& workspace, int n) {
  if (n < 1 || n > kMaxTableSize) {
    return;
  }
  // Ascending list 1, 2, 3, ... of primes found by trial division with the
  // list's own primes from 2 upward; it runs two entries past position n.
  std::int32_t list[kDigitTableSize] = {};
  list[1] = 1;
  list[2] = 2;
  list[3] = 3;
  int count = 3;
  for (std::int32_t x = 5; count <= n + 1; x += 2) {
    bool isPrime = false;
    for (int k = 2; k <= count; ++k) {
      const std::int32_t p = list[k];
      if (x % p == 0) {
        break;
      }
      if (p * p > x) {
        isPrime = true;
        break;
      }
    }
    if (isPrime) {
      list[++count] = x;
    }
  }
  // Reverse list positions 1..n into the table through the block buffer.
  for (int k = 1; k <= n; ++k) {
    workspace.blockDigits[k] = list[n + 1 - k];
  }
  for (int k = 1; k <= n; ++k) {
    workspace.ModulusTable[k] = workspace.blockDigits[k];
  }
}

int ResidueCount(CipherWorkspace& workspace, int L) {
  // Single precision on purpose: the count is stored in containers and decides
  // the cipher text length, so the float rounding is part of the format.
  const float target = static_cast<float>(L * std::log(256.0));
  float sum = 0.0f;
  int i = 1;
  do {
    ++i;
    sum = static_cast<float>(std::log(static_cast<double>(workspace.ModulusTable[i])) +
                             static_cast<double>(sum));
  } while (target > sum && i < kDigitTableSize - 1);
  return i;
}

}  // namespace resicrypt
