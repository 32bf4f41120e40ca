// Block encoding and decoding, the product table and the congruence walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/engine.h"
#include "engine/reference/reference.h"
#include "reference_math.h"
#include "test_support.h"

namespace resicrypt {
namespace {

std::vector<int> Positions(const std::int32_t* table, int first, int last) {
  return std::vector<int>(table + first, table + last + 1);
}

// Size-44 table in the reference order, L = 3, N = 8, block 97, 98, 99.
class ReferenceOrderBlock : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::PutModuli(*ws, testsupport::UsedPrimesDescending(44));
    ws->blockDigits[1] = 97;
    ws->blockDigits[2] = 98;
    ws->blockDigits[3] = 99;
  }
  std::unique_ptr<ReferenceWorkspace> ws = testsupport::NewWorkspace();
};

TEST_F(ReferenceOrderBlock, EncodesToTheWorkedResidues) {
  EXPECT_EQ(Positions(ws->ModulusTable, 2, 8),
            (std::vector<int>{179, 173, 167, 163, 157, 151, 149}));
  EXPECT_EQ(ResidueCount(*ws, 3) + 3, 8);
  EncodeBlock(*ws, 256, 8);
  EXPECT_EQ(Positions(ws->residues, 2, 8), (std::vector<int>{155, 145, 82, 95, 104, 15, 12}));
}

TEST_F(ReferenceOrderBlock, DecodesThroughTheWorkedDigits) {
  const std::vector<int> residues = {155, 145, 82, 95, 104, 15, 12};
  std::copy(residues.begin(), residues.end(), ws->residues + 2);
  BuildProductTable(*ws, 8);
  ws->zeroDigitCount = 0;
  DecodeBlock(*ws, 256, 8);
  const std::vector<int> a = {1, 6, 72, 151, 82, 83, 73};
  const std::vector<int> b = {155, 163, 90, 151, 0, 0, 0};
  const std::vector<int> g = {155, 56, 43, 1, 0, 0, 0};
  for (int i = 2; i <= 8; ++i) {
    const auto k = static_cast<std::size_t>(i - 2);
    EXPECT_EQ(ws->productTable[i][i], a[k]) << "i = " << i;
    EXPECT_EQ(SolveCongruence(*ws, i, a[k], b[k]), g[k]) << "i = " << i;
  }
  EXPECT_EQ(Positions(ws->radixDigits, 2, 8), g);
  EXPECT_EQ(ws->zeroDigitCount, 3);
  EXPECT_EQ(Positions(ws->outputDigits, 2, 8), (std::vector<int>{97, 98, 99, 0, 0, 0, 0}));
}

TEST_F(ReferenceOrderBlock, ResiduesAboveTheModulusAreReduced) {
  // Position 3 has modulus 173: 200 reads as 27, as does 27 itself.
  BuildProductTable(*ws, 8);
  std::vector<int> decoded[2];
  for (const int residue : {200, 27}) {
    std::fill(ws->residues, ws->residues + 10, 5);
    ws->residues[3] = residue;
    DecodeBlock(*ws, 256, 8);
    decoded[residue == 27] = Positions(ws->outputDigits, 2, 8);
  }
  EXPECT_EQ(decoded[0], decoded[1]);
  EXPECT_EQ(ws->reducedResidues[3], 27);
}

TEST_F(ReferenceOrderBlock, DigitsAboveTheBlockLengthWrapModuloTheProduct) {
  // Seven bytes 255 with only seven moduli: V = 256^7 - 1 comes back reduced.
  std::vector<int> bytes(7, 255);
  std::copy(bytes.begin(), bytes.end(), ws->blockDigits + 1);
  EncodeBlock(*ws, 256, 8);
  BuildProductTable(*ws, 8);
  DecodeBlock(*ws, 256, 8);
  const std::vector<int> moduli = Positions(ws->ModulusTable, 2, 8);
  const auto garner = reference::BruteForceGarner(moduli, Positions(ws->residues, 2, 8));
  EXPECT_EQ(Positions(ws->outputDigits, 2, 8), garner.value.ToBytes(7));
  EXPECT_NE(Positions(ws->outputDigits, 2, 8), bytes);
}

TEST_F(ReferenceOrderBlock, CountsOutsideTheTablesAreIgnored) {
  std::fill(std::begin(ws->residues), std::end(ws->residues), -1);
  EncodeBlock(*ws, 256, 1);
  EncodeBlock(*ws, 256, kMaxResidueCount + 1);
  BuildProductTable(*ws, kMaxResidueCount + 1);
  DecodeBlock(*ws, 256, 0);
  EXPECT_EQ(ws->residues[2], -1);
  EXPECT_EQ(ws->productTable[2][2], 0);
  EXPECT_EQ(SolveCongruence(*ws, kDigitTableSize, 1, 1), -1);
}

TEST(SolveCongruence, WorkedWalks) {
  const CongruenceWalk first = WalkCongruence(173, 6, 163);
  EXPECT_EQ(first.x, 56);
  EXPECT_EQ(first.passes, 2);
  const CongruenceWalk second = WalkCongruence(167, 72, 90);
  EXPECT_EQ(second.x, 43);
  EXPECT_EQ(second.passes, 7);
  EXPECT_EQ(WalkCongruence(3, 2, 1).x, 2);
  EXPECT_EQ(WalkCongruence(3, 1, 2).x, 2);
  EXPECT_EQ(WalkCongruence(173, 1, 100).x, 100);
  EXPECT_EQ(WalkCongruence(173, 0, 100).x, 0);
  EXPECT_EQ(WalkCongruence(173, 0, 0).x, 0);
}

// For every prime modulus below 256 and every a, b the walk lands on the one
// solution within its pass limit.
TEST(SolveCongruence, SolvesEveryCongruenceModuloSmallPrimes) {
  for (const int m : reference::FirstPrimes(54)) {
    for (int a = 1; a < m; ++a) {
      for (int b = 0; b < m; ++b) {
        const CongruenceWalk walk = WalkCongruence(m, a, b);
        ASSERT_GE(walk.x, 0) << m << " " << a << " " << b;
        ASSERT_LT(walk.x, m);
        ASSERT_EQ(a * walk.x % m, b) << m << " " << a << " " << b;
        ASSERT_LE(walk.passes, m);
      }
    }
  }
}

TEST(SolveCongruence, GivesUpWhereNoSolutionExists) {
  // 6x = 1 (mod 15) has no solution (3 divides 6 and 15, not 1): the walk can
  // only return on a hit, so it must reach its pass limit.
  const CongruenceWalk walk = WalkCongruence(15, 6, 1);
  EXPECT_EQ(walk.x, -1);
  EXPECT_EQ(walk.passes, 16);
  EXPECT_EQ(WalkCongruence(4, 2, 1).x, -1);           // a divides m
  EXPECT_EQ(WalkCongruence(15, 6, 3).x * 6 % 15, 3);  // solvable even though 15 is not prime
}

using testsupport::KeyCase;
using testsupport::kKeyCases;
using testsupport::PrepareKey;

TEST(BuildProductTable, HoldsThePartialProducts) {
  auto ws = testsupport::NewWorkspace();
  PrepareKey(*ws, "product table", 55);
  const int N = ResidueCount(*ws, 13) + 1;
  BuildProductTable(*ws, N);
  for (int i = 2; i <= N; ++i) {
    reference::BigNumber product(1);
    for (int j = 2; j <= N; ++j) {
      ASSERT_EQ(static_cast<std::uint32_t>(ws->productTable[j][i]),
                product.Mod(static_cast<std::uint32_t>(ws->ModulusTable[i])));
      product = product.Times(static_cast<std::uint32_t>(ws->ModulusTable[j]));
    }
  }
}

// Random, zero and all-255 blocks under random keys: the residues are the big
// number's remainders, and decoding gives back every byte with the spare digits 0.
TEST(BlockCodec, RoundTripsEveryBlockLength) {
  auto ws = testsupport::NewWorkspace();
  std::mt19937 rng(11);
  for (const KeyCase& key : kKeyCases) {
    for (int L = 3; L <= key.maxLength; ++L) {
      for (int round = 0; round < 12; ++round) {
        PrepareKey(*ws, testsupport::RandomBytes(rng, static_cast<std::size_t>(L)), key.tableSize);
        const int R = ResidueCount(*ws, L);
        const int N = R + key.spare;
        std::vector<int> block(static_cast<std::size_t>(L));
        for (auto& byte : block) {
          byte = round == 0 ? 255 : round == 1 ? 0 : static_cast<int>(rng() % 256);
        }
        std::copy(block.begin(), block.end(), ws->blockDigits + 1);
        EncodeBlock(*ws, 256, N);

        const reference::BigNumber value = reference::BigNumber::FromBytes(block);
        for (int i = 2; i <= N; ++i) {
          ASSERT_EQ(static_cast<std::uint32_t>(ws->residues[i]),
                    value.Mod(static_cast<std::uint32_t>(ws->ModulusTable[i])));
        }

        BuildProductTable(*ws, N);
        ws->zeroDigitCount = 0;
        DecodeBlock(*ws, 256, N);
        ASSERT_EQ(Positions(ws->outputDigits, 2, L + 1), block) << "L = " << L;
        for (int i = R + 1; i <= N; ++i) ASSERT_EQ(ws->radixDigits[i], 0);
        ASSERT_GE(ws->zeroDigitCount, key.spare);
        if (round == 1) {
          ASSERT_EQ(ws->zeroDigitCount, N - 1);  // zero block: every digit 0
        }
      }
    }
  }
}

// Residues that no block produced (any byte 0..255) rebuild the Chinese remainder
// value, digit for digit; the zero digits add to the running count.
TEST(BlockCodec, DecodesArbitraryResiduesToTheRemainderValue) {
  auto ws = testsupport::NewWorkspace();
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    const KeyCase& key = kKeyCases[round % 2];
    PrepareKey(*ws, testsupport::RandomBytes(rng, 3 + rng() % 15), key.tableSize);
    const int N = ResidueCount(*ws, 3 + static_cast<int>(rng() % 15)) + key.spare;
    std::vector<int> residues(static_cast<std::size_t>(N - 1));
    for (auto& r : residues) r = static_cast<int>(rng() % 256);
    if (round % 5 == 0) residues.back() = 0;
    std::copy(residues.begin(), residues.end(), ws->residues + 2);
    BuildProductTable(*ws, N);
    ws->zeroDigitCount = 4;
    DecodeBlock(*ws, 256, N);

    const std::vector<int> moduli = Positions(ws->ModulusTable, 2, N);
    const auto garner = reference::BruteForceGarner(moduli, residues);
    ASSERT_EQ(Positions(ws->radixDigits, 2, N), garner.digits);
    ASSERT_EQ(ws->zeroDigitCount, 4 + std::count(garner.digits.begin(), garner.digits.end(), 0));
    ASSERT_EQ(Positions(ws->outputDigits, 2, N),
              garner.value.ToBytes(static_cast<std::size_t>(N - 1)));
  }
}

}  // namespace
}  // namespace resicrypt
