// The password permutation of the modulus table.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "engine/engine.h"
#include "reference_math.h"
#include "test_support.h"

namespace resicrypt {
namespace {

std::vector<int> KeyedModuli(CipherWorkspace& ws, const std::string& password, int n) {
  testsupport::PrepareKey(ws, password, n);
  return std::vector<int>(ws.ModulusTable + 2, ws.ModulusTable + n - 2);
}

// V = 83 ("S"): factorial digits 1, 2, 1, 3, then 0; table of size 9.
TEST(DerivePermutation, SmallTableExample) {
  auto ws = testsupport::NewWorkspace();
  testsupport::PrepareKey(*ws, "S", 9);
  EXPECT_EQ(std::vector<int>(ws->outputDigits + 1, ws->outputDigits + 8),
            (std::vector<int>{7, 6, 1, 4, 2, 5, 3}));
  EXPECT_EQ(std::vector<int>(ws->ModulusTable + 2, ws->ModulusTable + 7),
            (std::vector<int>{7, 3, 11, 5, 13}));
  EXPECT_EQ(ws->ModulusTable[1], 19);  // never moved
  EXPECT_EQ(ws->ModulusTable[7], 1);   // radix-2 digit of 83
  EXPECT_EQ(ws->ModulusTable[8], 0);   // position 1 of the radix digits
}

// Passwords of every accepted length, bytes 1..255: the key order matches the
// list-erasure reference, and so is each used prime exactly once.
TEST(DerivePermutation, MatchesReferenceAndUsesEachPrimeOnce) {
  auto ws = testsupport::NewWorkspace();
  std::mt19937 rng(7);
  for (const int n : {55, 44}) {
    const int maxLength = n == 55 ? 23 : 17;
    std::vector<int> primes = testsupport::UsedPrimesDescending(n);
    std::sort(primes.begin(), primes.end());
    for (int length = 3; length <= maxLength; ++length) {
      for (int round = 0; round < 20; ++round) {
        // Half the rounds use only bytes 128..255, where signed bytes would go wrong.
        const std::string password = testsupport::RandomBytes(rng, static_cast<std::size_t>(length),
                                                              round % 2 == 0 ? 1 : 128, 255);
        std::vector<int> moduli = KeyedModuli(*ws, password, n);
        ASSERT_EQ(moduli, reference::KeyOrderedModuli(password, n))
            << "n " << n << " length " << length;
        std::sort(moduli.begin(), moduli.end());
        EXPECT_EQ(moduli, primes);
        for (int k = length + 1; k <= n; ++k) ASSERT_EQ(ws->blockDigits[k], 0);
        for (int k = 1; k <= length; ++k) {
          ASSERT_EQ(ws->blockDigits[k],
                    static_cast<unsigned char>(password[static_cast<std::size_t>(k - 1)]));
        }
      }
    }
  }
}

// Extreme passwords: all bytes 255 (largest V) and all bytes 1.
TEST(DerivePermutation, ExtremePasswords) {
  auto ws = testsupport::NewWorkspace();
  for (const int n : {55, 44}) {
    for (const char byte : {'\xFF', '\x01'}) {
      const std::string password(n == 55 ? 23 : 17, byte);
      EXPECT_EQ(KeyedModuli(*ws, password, n), reference::KeyOrderedModuli(password, n));
    }
  }
}

// A three-byte number is below 11!, so only positions 2..12 are reordered and the
// rest keep descending order from the 12th largest used prime.
TEST(DerivePermutation, ThreeBytePasswordsOnlyMoveTheLargestPrimes) {
  auto ws = testsupport::NewWorkspace();
  std::mt19937 rng(3);
  for (int round = 0; round < 200; ++round) {
    const std::string password = testsupport::RandomBytes(rng, 3);
    for (const int n : {55, 44}) {
      const std::vector<int> moduli = KeyedModuli(*ws, password, n);
      const std::vector<int> descending = testsupport::UsedPrimesDescending(n);
      EXPECT_EQ(std::vector<int>(moduli.begin() + 11, moduli.end()),
                std::vector<int>(descending.begin() + 11, descending.end()));
      EXPECT_EQ(moduli[11], n == 55 ? 179 : 113);
      EXPECT_EQ(ResidueCount(*ws, 3), 5);  // any four of the 11 largest primes reach 256^3
    }
  }
}

TEST(DerivePermutation, HighBytesCountUnsigned) {
  // "\xC8" "AA": V = 200 + 65 * 256 + 65 * 65536. Read as a signed byte, 200
  // would be -56 and V would drop by 256, to the number of "\xC8" "@A".
  auto ws = testsupport::NewWorkspace();
  const std::string password =
      "\xC8"
      "AA";
  const std::string signedReading =
      "\xC8"
      "@A";
  ASSERT_NE(reference::KeyOrderedModuli(password, 55),
            reference::KeyOrderedModuli(signedReading, 55));
  EXPECT_EQ(KeyedModuli(*ws, password, 55), reference::KeyOrderedModuli(password, 55));
}

TEST(DerivePermutation, DifferentPasswordsGiveDifferentSlots) {
  auto ws = testsupport::NewWorkspace();
  std::set<std::vector<int>> seen;
  for (const std::string password : {"abc", "abd", "bbc", "acb", "cba"}) {
    testsupport::PrepareKey(*ws, password, 44);
    seen.insert(std::vector<int>(ws->outputDigits + 1, ws->outputDigits + 43));
  }
  EXPECT_EQ(seen.size(), 5u);
}

// A password longer than the table (the buffer holds up to 199 bytes) only
// counts with its first n bytes and writes nothing past position n.
TEST(DerivePermutation, OverlongPasswordStaysInsideTheTables) {
  auto ws = testsupport::NewWorkspace();
  std::fill(std::begin(ws->blockDigits), std::end(ws->blockDigits), -7);
  SetPasswordText(*ws, std::string(500, 'z'));
  EXPECT_EQ(PasswordLength(*ws), 199u);
  BuildModulusTable(*ws, 44);
  DerivePermutation(*ws, 44);
  for (int k = 45; k < kDigitTableSize; ++k) ASSERT_EQ(ws->blockDigits[k], -7);
  EXPECT_EQ(std::vector<int>(ws->ModulusTable + 2, ws->ModulusTable + 42),
            reference::KeyOrderedModuli(std::string(44, 'z'), 44));
}

TEST(PasswordText, CopiesStopAtTheBufferAndAtNul) {
  auto ws = testsupport::NewWorkspace();
  ws->zeroDigitCount = 12345;
  std::fill(std::begin(ws->radixDigits), std::end(ws->radixDigits), 777);
  SetPasswordText(*ws, std::string(1000, 'p'));
  SetPasswordText2(*ws, std::string(1000, 'q'));
  EXPECT_EQ(PasswordLength(*ws), 199u);
  EXPECT_EQ(ws->passwordText[199], 0);
  EXPECT_EQ(ws->passwordText2[98], 'q');
  EXPECT_EQ(ws->passwordText2[99], 0);
  EXPECT_EQ(ws->zeroDigitCount, 12345);  // neighbours untouched
  EXPECT_EQ(ws->radixDigits[0], 777);

  SetPasswordText(*ws, std::string("ab\0cd", 5));
  EXPECT_EQ(PasswordView(*ws), "ab");
  EXPECT_EQ(ws->passwordText[3], 0);  // the earlier, longer password is cleared
  SetPasswordText(*ws, "");
  EXPECT_EQ(PasswordLength(*ws), 0u);
}

}  // namespace
}  // namespace resicrypt
