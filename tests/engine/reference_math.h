// Slow, independent arithmetic for checking the engine: a plain big integer and
// the cipher's steps written the obvious way (list erasure for the permutation,
// big-number remainders for the residues, brute-force Garner digits).
#ifndef RESICRYPT_TESTS_ENGINE_REFERENCE_MATH_H
#define RESICRYPT_TESTS_ENGINE_REFERENCE_MATH_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace reference {

// Non-negative integer, little-endian base-2^32 limbs.
class BigNumber {
 public:
  BigNumber() = default;
  explicit BigNumber(std::uint32_t value) {
    if (value != 0) limbs_.push_back(value);
  }

  // The bytes as a base-256 number, first byte least significant.
  static BigNumber FromBytes(const std::vector<int>& bytes) {
    BigNumber result;
    for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
      result.MultiplyAdd(256, static_cast<std::uint32_t>(*it));
    }
    return result;
  }

  static BigNumber PowerOf256(int exponent) {
    BigNumber result(1);
    for (int k = 0; k < exponent; ++k) result.MultiplyAdd(256, 0);
    return result;
  }

  bool IsZero() const { return limbs_.empty(); }

  void MultiplyAdd(std::uint32_t factor, std::uint32_t addend) {
    std::uint64_t carry = addend;
    for (auto& limb : limbs_) {
      const std::uint64_t value = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(value);
      carry = value >> 32;
    }
    if (carry != 0) limbs_.push_back(static_cast<std::uint32_t>(carry));
    Trim();
  }

  // Divides in place, returns the remainder.
  std::uint32_t DivideBy(std::uint32_t divisor) {
    std::uint64_t remainder = 0;
    for (auto it = limbs_.rbegin(); it != limbs_.rend(); ++it) {
      const std::uint64_t value = (remainder << 32) | *it;
      *it = static_cast<std::uint32_t>(value / divisor);
      remainder = value % divisor;
    }
    Trim();
    return static_cast<std::uint32_t>(remainder);
  }

  std::uint32_t Mod(std::uint32_t divisor) const {
    BigNumber copy = *this;
    return copy.DivideBy(divisor);
  }

  BigNumber Plus(const BigNumber& other) const {
    BigNumber result;
    std::uint64_t carry = 0;
    const std::size_t size = std::max(limbs_.size(), other.limbs_.size());
    for (std::size_t k = 0; k < size; ++k) {
      const std::uint64_t value = carry + (k < limbs_.size() ? limbs_[k] : 0u) +
                                  (k < other.limbs_.size() ? other.limbs_[k] : 0u);
      result.limbs_.push_back(static_cast<std::uint32_t>(value));
      carry = value >> 32;
    }
    if (carry != 0) result.limbs_.push_back(static_cast<std::uint32_t>(carry));
    result.Trim();
    return result;
  }

  BigNumber Times(std::uint32_t factor) const {
    BigNumber result = *this;
    result.MultiplyAdd(factor, 0);
    return result;
  }

  bool operator<(const BigNumber& other) const {
    if (limbs_.size() != other.limbs_.size()) return limbs_.size() < other.limbs_.size();
    for (std::size_t k = limbs_.size(); k-- > 0;) {
      if (limbs_[k] != other.limbs_[k]) return limbs_[k] < other.limbs_[k];
    }
    return false;
  }
  bool operator==(const BigNumber& other) const { return limbs_ == other.limbs_; }

  // Base-256 digits, least significant first, padded with zeros to count.
  std::vector<int> ToBytes(std::size_t count) const {
    BigNumber copy = *this;
    std::vector<int> bytes;
    while (bytes.size() < count) bytes.push_back(static_cast<int>(copy.DivideBy(256)));
    return bytes;
  }

 private:
  void Trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }
  std::vector<std::uint32_t> limbs_;
};

// The first count primes in ascending order, by checking every divisor.
inline std::vector<int> FirstPrimes(int count) {
  std::vector<int> primes;
  for (int x = 2; static_cast<int>(primes.size()) < count; ++x) {
    bool prime = true;
    for (int d = 2; d < x; ++d) {
      if (x % d == 0) prime = false;
    }
    if (prime) primes.push_back(x);
  }
  return primes;
}

// Moduli m(2), m(3), ... (index 0 = position 2) that the password selects from a
// table of size n: the password number's factorial digits pick, as a Lehmer code,
// which remaining slot each value takes.
inline std::vector<int> KeyOrderedModuli(const std::string& password, int n) {
  // Old table: position k (1-based) holds the (n - k)-th prime, position n holds 1.
  const std::vector<int> primes = FirstPrimes(n - 1);
  std::vector<int> oldTable(static_cast<std::size_t>(n + 1), 0);
  for (int k = 1; k < n; ++k)
    oldTable[static_cast<std::size_t>(k)] = primes[static_cast<std::size_t>(n - 1 - k)];
  oldTable[static_cast<std::size_t>(n)] = 1;

  std::vector<int> bytes;
  for (char c : password) bytes.push_back(static_cast<unsigned char>(c));
  BigNumber number = BigNumber::FromBytes(bytes);
  std::vector<int> digit(static_cast<std::size_t>(n + 1), 0);
  for (int d = 2; d <= n; ++d)
    digit[static_cast<std::size_t>(d)] =
        static_cast<int>(number.DivideBy(static_cast<std::uint32_t>(d)));

  // Free slots in ascending order; value v takes the free slot at index digit[v].
  std::vector<int> freeSlots;
  for (int s = 1; s <= n - 2; ++s) freeSlots.push_back(s);
  std::vector<int> content(static_cast<std::size_t>(n - 1), 0);
  for (int v = n - 2; v >= 1; --v) {
    const auto at = freeSlots.begin() + digit[static_cast<std::size_t>(v)];
    content[static_cast<std::size_t>(*at)] = v;
    freeSlots.erase(at);
  }
  std::vector<int> moduli;
  for (int i = 2; i <= n - 3; ++i) {
    moduli.push_back(
        oldTable[static_cast<std::size_t>(content[static_cast<std::size_t>(n - i)] + 2)]);
  }
  return moduli;
}

// Smallest count R of moduli from the front whose product reaches 256^L, returned
// as the position of the last one (R + 1). nearBoundary is set when the product
// is within a relative 1e-3 of 256^L on either side, where the engine's single
// precision sums may decide either way.
inline int ExactResidueCount(const std::vector<int>& moduli, int L, bool* nearBoundary) {
  const BigNumber target = BigNumber::PowerOf256(L);
  BigNumber product(1);
  double logProduct = 0.0;
  const double logTarget = L * std::log(256.0);
  *nearBoundary = false;
  for (std::size_t k = 0; k < moduli.size(); ++k) {
    product = product.Times(static_cast<std::uint32_t>(moduli[k]));
    logProduct += std::log(static_cast<double>(moduli[k]));
    if (std::fabs(logProduct - logTarget) < 1e-3) *nearBoundary = true;
    if (!(product < target)) return static_cast<int>(k) + 2;
  }
  return -1;
}

// Mixed-radix (Garner) digits of the number below m(2)...m(N) with the given
// residues, each digit found by trying every value; also the number itself.
struct GarnerResult {
  std::vector<int> digits;
  BigNumber value;
};
inline GarnerResult BruteForceGarner(const std::vector<int>& moduli,
                                     const std::vector<int>& residues) {
  GarnerResult result;
  BigNumber radix(1);
  for (std::size_t k = 0; k < moduli.size(); ++k) {
    const int m = moduli[k];
    const int want = residues[k] % m;
    int digit = -1;
    for (int g = 0; g < m; ++g) {
      if (result.value.Plus(radix.Times(static_cast<std::uint32_t>(g)))
              .Mod(static_cast<std::uint32_t>(m)) == static_cast<std::uint32_t>(want)) {
        digit = g;
        break;
      }
    }
    result.digits.push_back(digit);
    result.value = result.value.Plus(radix.Times(static_cast<std::uint32_t>(digit)));
    radix = radix.Times(static_cast<std::uint32_t>(m));
  }
  return result;
}

}  // namespace reference

#endif
