// The modulus table, the residue count and the padding generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <random>

#include "engine/engine.h"
#include "test_support.h"

namespace resicrypt {
namespace {

const std::vector<int> kTable55 = {
    251, 241, 239, 233, 229, 227, 223, 211, 199, 197, 193, 191, 181, 179, 173, 167, 163, 157, 151,
    149, 139, 137, 131, 127, 113, 109, 107, 103, 101, 97,  89,  83,  79,  73,  71,  67,  61,  59,
    53,  47,  43,  41,  37,  31,  29,  23,  19,  17,  13,  11,  7,   5,   3,   2,   1};
const std::vector<int> kTable44 = {191, 181, 179, 173, 167, 163, 157, 151, 149, 139, 137,
                                   131, 127, 113, 109, 107, 103, 101, 97,  89,  83,  79,
                                   73,  71,  67,  61,  59,  53,  47,  43,  41,  37,  31,
                                   29,  23,  19,  17,  13,  11,  7,   5,   3,   2,   1};

std::vector<int> TablePositions(const CipherWorkspace& ws, int n) {
  return std::vector<int>(ws.ModulusTable + 1, ws.ModulusTable + n + 1);
}

TEST(BuildModulusTable, GivesTheListedTablesInEitherOrder) {
  auto ws = testsupport::NewWorkspace();
  BuildModulusTable(*ws, 55);
  EXPECT_EQ(TablePositions(*ws, 55), kTable55);
  BuildModulusTable(*ws, 44);
  EXPECT_EQ(TablePositions(*ws, 44), kTable44);
  BuildModulusTable(*ws, 55);
  EXPECT_EQ(TablePositions(*ws, 55), kTable55);
}

TEST(BuildModulusTable, SmallSizeAndOutOfRangeSizes) {
  auto ws = testsupport::NewWorkspace();
  BuildModulusTable(*ws, 9);
  EXPECT_EQ(TablePositions(*ws, 9), (std::vector<int>{19, 17, 13, 11, 7, 5, 3, 2, 1}));
  // The largest size still fits: 252 primes, the largest of which is 1601.
  BuildModulusTable(*ws, kMaxTableSize);
  EXPECT_EQ(ws->ModulusTable[1], 1601);
  EXPECT_EQ(ws->ModulusTable[kMaxTableSize], 1);
  // Sizes beyond the tables leave the workspace as it was.
  BuildModulusTable(*ws, 44);
  BuildModulusTable(*ws, kMaxTableSize + 1);
  BuildModulusTable(*ws, 0);
  EXPECT_EQ(TablePositions(*ws, 44), kTable44);
}

// Columns of residue_count.tsv: L, reference 55, reference 44, largest 55, largest 44.
void ExpectResidueCounts(int column, int tableSize, bool ascending) {
  auto ws = testsupport::NewWorkspace();
  std::vector<int> moduli = testsupport::UsedPrimesDescending(tableSize);
  if (ascending) std::reverse(moduli.begin(), moduli.end());
  testsupport::PutModuli(*ws, moduli);
  int rows = 0;
  for (const auto& row : testsupport::ReadTsv("residue_count.tsv")) {
    if (row[static_cast<std::size_t>(column)] == "-") continue;
    const int L = std::stoi(row[0]);
    EXPECT_EQ(ResidueCount(*ws, L), std::stoi(row[static_cast<std::size_t>(column)]))
        << "L = " << L << ", size " << tableSize << (ascending ? " ascending" : " descending");
    ++rows;
  }
  EXPECT_GE(rows, 15);
}

TEST(ResidueCount, ReferenceOrderMatchesTheTable) {
  ExpectResidueCounts(1, 55, false);
  ExpectResidueCounts(2, 44, false);
}

TEST(ResidueCount, SmallPrimesFirstGiveTheLargestCounts) {
  ExpectResidueCounts(3, 55, true);
  ExpectResidueCounts(4, 44, true);
}

// For any order the moduli up to the returned position reach 256^L and one
// fewer do not (checked in double precision, away from the rounding boundary),
// and the count is at least L + 2.
TEST(ResidueCount, RandomOrdersCoverTheBlockRange) {
  auto ws = testsupport::NewWorkspace();
  std::mt19937 rng(20240607);
  for (int round = 0; round < 300; ++round) {
    const int tableSize = round % 2 == 0 ? 55 : 44;
    std::vector<int> moduli = testsupport::UsedPrimesDescending(tableSize);
    std::shuffle(moduli.begin(), moduli.end(), rng);
    testsupport::PutModuli(*ws, moduli);
    for (int L = 1; L <= (tableSize == 55 ? 23 : 17); ++L) {
      const int count = ResidueCount(*ws, L);
      ASSERT_GE(count, L + 2);
      double logs = 0;
      for (int i = 2; i < count; ++i) logs += std::log(moduli[static_cast<std::size_t>(i - 2)]);
      const double target = L * std::log(256.0);
      EXPECT_LT(logs, target + 1e-4);
      EXPECT_GE(logs + std::log(moduli[static_cast<std::size_t>(count - 2)]), target - 1e-4);
    }
  }
}

TEST(ResidueCount, NeverRunsPastTheTable) {
  auto ws = testsupport::NewWorkspace();
  for (int& m : ws->ModulusTable) m = 1;  // logarithms of 0: the sum never grows
  EXPECT_EQ(ResidueCount(*ws, 5), kDigitTableSize - 1);
  EXPECT_EQ(ResidueCount(*ws, 0), 2);
}

// The generator's 64-bit step, worked by hand in 32-bit halves: with
// S = h * 2^32 + l, S * (346 * 2^32 + 20021) = l * 20021 + 2^32 * (h * 20021 + l * 346) mod 2^64.
RandomState HandStep(RandomState s) {
  const std::uint64_t low = std::uint64_t{s.low} * 20021u + 1u;
  const std::uint64_t high =
      (std::uint64_t{s.high} * 20021u + std::uint64_t{s.low} * 346u + (low >> 32)) & 0xFFFFFFFFu;
  return {static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high)};
}

TEST(Random, SeedAndFirstDraws) {
  SeedRandomAt(0);
  EXPECT_EQ(GetRandomState().low, 1u);
  EXPECT_EQ(GetRandomState().high, 0u);
  // S = 1 -> 346 * 2^32 + 20022: high word 346.
  EXPECT_EQ(RandomBelow(1000), 346);
  // -> 20022 * 20021 + 2^32 * (346 * 20021 + 20022 * 346) + 1.
  EXPECT_EQ(RandomBelow(100000000), 13854878);
  EXPECT_EQ(GetRandomState().low, 400860463u);

  SeedRandomAt(1);
  EXPECT_EQ(GetRandomState().low, 22695478u);
  SeedRandomAt(0xFFFFFFFFu);  // -22695477 + 1 mod 2^32
  EXPECT_EQ(GetRandomState().low, 0u - 22695476u);
  EXPECT_EQ(GetRandomState().high, 0u);
}

TEST(Random, StepsLikeTheHandComputation) {
  SetRandomState(0xDEADBEEFu, 0x87654321u);
  RandomState expected = GetRandomState();
  for (int k = 0; k < 1000; ++k) {
    expected = HandStep(expected);
    const int value = RandomBelow(213) + 41;
    EXPECT_EQ(value, static_cast<int>((expected.high & 0x7FFFFFFFu) % 213u) + 41);
    EXPECT_GE(value, 41);
    EXPECT_LE(value, 253);
    EXPECT_EQ(GetRandomState().low, expected.low);
    EXPECT_EQ(GetRandomState().high, expected.high);
  }
}

TEST(Random, ZeroAndOneBounds) {
  SetRandomState(12345u, 678u);
  EXPECT_EQ(RandomBelow(0), 0);
  EXPECT_EQ(GetRandomState().low, 12345u);
  EXPECT_EQ(GetRandomState().high, 678u);
  EXPECT_EQ(RandomBelow(1), 0);
  const RandomState after = HandStep({12345u, 678u});
  EXPECT_EQ(GetRandomState().low, after.low);
  EXPECT_EQ(GetRandomState().high, after.high);
}

TEST(Random, SeedRandomUsesTheCurrentTime) {
  const auto before = static_cast<std::uint32_t>(std::time(nullptr));
  SeedRandom();
  const RandomState seeded = GetRandomState();
  const auto after = static_cast<std::uint32_t>(std::time(nullptr));
  EXPECT_EQ(seeded.high, 0u);
  bool matches = false;
  for (std::uint32_t t = before; t != after + 1; ++t) {
    matches = matches || seeded.low == t * 22695477u + 1u;
  }
  EXPECT_TRUE(matches);
}

}  // namespace
}  // namespace resicrypt
