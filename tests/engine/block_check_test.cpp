// The block check at every codec level and in the step-by-step code: blocks
// damaged in each of the three ways, built here from the arithmetic alone (a
// residue is V mod m, the moduli's product and 256^L are plain numbers), never
// by the code under test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/fast_codec.h"
#include "engine/reference/reference.h"
#include "test_support.h"

namespace resicrypt {
namespace {

using Bytes = std::vector<unsigned char>;

// A key by hand: the moduli m(2)..m(N) and the block length L. The product of
// all but the last (spare) modulus reaches 256^L, that of one fewer does not.
struct HandKey {
  const char* name;
  std::vector<int> moduli;
  int L;
};
// The worked example's moduli (179, 173, 167, 163 reach 256^3; 157 is the
// spare), and the nine largest primes of the file table for L = 8 (their
// logarithms to base 2 sum to 69.8 >= 64, the first eight to 62.2), spare 191.
const HandKey kHandKeys[] = {
    {"worked example, L = 3", {179, 173, 167, 163, 157}, 3},
    {"largest primes, L = 8", {239, 233, 229, 227, 223, 211, 199, 197, 193, 191}, 8},
};

// x mod m for the number whose base-256 digits are bytes (first least significant).
int ModOf(const Bytes& bytes, int m) {
  int r = 0;
  for (auto b = bytes.rbegin(); b != bytes.rend(); ++b) r = (r * 256 + *b) % m;
  return r;
}

// Residue bytes of V + extra, where extra mod m(i) is given per modulus.
Bytes ResiduesPlus(const HandKey& key, const Bytes& block, const std::vector<int>& extra) {
  Bytes residues;
  for (std::size_t i = 0; i < key.moduli.size(); ++i) {
    const int m = key.moduli[i];
    residues.push_back(static_cast<unsigned char>((ModOf(block, m) + extra[i]) % m));
  }
  return residues;
}

// Per modulus: 0 (the block itself), the product of all moduli but the spare
// (V + that has spare digit 1), or 256^L (V + that is at or above 256^L, below
// that product, so its spare digit is 0).
enum class Added { kNothing, kProductBeforeSpare, kPowerOfBlock };
std::vector<int> AddedMod(const HandKey& key, Added added) {
  std::vector<int> extra;
  for (const int m : key.moduli) {
    int value = added == Added::kNothing ? 0 : 1 % m;
    if (added == Added::kProductBeforeSpare) {
      for (std::size_t k = 0; k + 1 < key.moduli.size(); ++k) value = value * key.moduli[k] % m;
    }
    if (added == Added::kPowerOfBlock) {
      for (int p = 0; p < key.L; ++p) value = value * 256 % m;
    }
    extra.push_back(value);
  }
  return extra;
}

// The three kinds of damage of one block, and the block as it is.
enum class Damage { kNone, kResidueAtModulus, kSpareDigit, kValueAtPower };
Bytes DamagedBlock(const HandKey& key, const Bytes& block, Damage damage) {
  switch (damage) {
    case Damage::kNone:
      return ResiduesPlus(key, block, AddedMod(key, Added::kNothing));
    case Damage::kResidueAtModulus: {
      // The same residue plus its modulus, where that still fits a byte: it
      // decodes to the block itself, so only this test can see it.
      Bytes residues = ResiduesPlus(key, block, AddedMod(key, Added::kNothing));
      for (std::size_t i = 0; i < residues.size(); ++i) {
        if (residues[i] + key.moduli[i] <= 255) {
          residues[i] = static_cast<unsigned char>(residues[i] + key.moduli[i]);
          return residues;
        }
      }
      ADD_FAILURE() << "no residue leaves room for its modulus";
      return residues;
    }
    case Damage::kSpareDigit:
      return ResiduesPlus(key, block, AddedMod(key, Added::kProductBeforeSpare));
    case Damage::kValueAtPower:
      return ResiduesPlus(key, block, AddedMod(key, Added::kPowerOfBlock));
  }
  return {};
}

std::unique_ptr<ReferenceWorkspace> HandWorkspace(const HandKey& key) {
  auto ws = testsupport::NewWorkspace();
  testsupport::PutModuli(*ws, key.moduli);
  return ws;
}

TEST(BlockCheck, TheWorkedBlockIsBuiltAsTheExampleGivesIt) {
  const Bytes residues = DamagedBlock(kHandKeys[0], {97, 98, 99}, Damage::kNone);
  EXPECT_EQ(residues, (Bytes{155, 145, 82, 95, 104}));
}

// Every level, and the step-by-step check, on batches of whole blocks with one
// kind of damage at two places (blocks 9 and 30 of 37, across vector steps).
TEST(BlockCheck, EveryLevelFindsEachKindOfDamage) {
  const struct Row {
    const char* name;
    Damage damage;
  } kRows[] = {
      {"whole", Damage::kNone},
      {"residue at or above its modulus", Damage::kResidueAtModulus},
      {"spare digit not 0", Damage::kSpareDigit},
      {"value at or above 256^L", Damage::kValueAtPower},
  };
  constexpr std::size_t kBlocks = 37;
  const std::size_t kDamagedAt[] = {9, 30};
  std::mt19937 rng(32);
  for (const HandKey& key : kHandKeys) {
    SCOPED_TRACE(key.name);
    const int N = static_cast<int>(key.moduli.size()) + 1;
    const auto L = static_cast<std::size_t>(key.L);
    const std::size_t R = key.moduli.size();
    for (const Row& row : kRows) {
      SCOPED_TRACE(row.name);
      const bool damaged = row.damage != Damage::kNone;
      Bytes plain;
      Bytes stored;
      for (std::size_t b = 0; b < kBlocks; ++b) {
        // Block 9 of small numbers (1, 0, ...): its residues leave room for a modulus.
        const std::string text = testsupport::RandomBytes(rng, L, 0);
        Bytes block = b == kDamagedAt[0] ? Bytes(L, 0) : Bytes(text.begin(), text.end());
        if (b == kDamagedAt[0]) block[0] = 1;
        const bool hit = b == kDamagedAt[0] || b == kDamagedAt[1];
        const Bytes residues = DamagedBlock(key, block, hit ? row.damage : Damage::kNone);
        plain.insert(plain.end(), block.begin(), block.end());
        stored.insert(stored.end(), residues.begin(), residues.end());
      }

      // The step-by-step check, block by block.
      auto ws = HandWorkspace(key);
      BuildProductTable(*ws, N);
      for (std::size_t b = 0; b < kBlocks; ++b) {
        for (std::size_t i = 0; i < R; ++i) ws->residues[i + 2] = stored[b * R + i];
        DecodeBlock(*ws, kBlockBase, N);
        const bool hit = b == kDamagedAt[0] || b == kDamagedAt[1];
        EXPECT_EQ(DecodedBlockFails(*ws, N, key.L, true), damaged && hit) << "block " << b;
      }

      for (const CodecKernel kernel : testsupport::SupportedKernels()) {
        SCOPED_TRACE(CodecKernelName(kernel));
        const BlockCodec codec(*ws, key.L, N, kernel);
        ASSERT_TRUE(codec.IsUsable());
        Bytes out(kBlocks * L);
        const codec_kernels::BlockFailures failures =
            codec.DecodeCheckedBlocks(stored.data(), kBlocks, out.data());
        EXPECT_EQ(failures.count, damaged ? 2u : 0u);
        EXPECT_EQ(failures.first, damaged ? kDamagedAt[0] : codec_kernels::BlockFailures::kNone);
        if (row.damage == Damage::kNone || row.damage == Damage::kResidueAtModulus) {
          EXPECT_EQ(out, plain);  // an aliased residue still decodes to the block
        }
        // The damaged block alone, and from the second block on.
        const Bytes one(stored.begin() + static_cast<std::ptrdiff_t>(kDamagedAt[1] * R),
                        stored.begin() + static_cast<std::ptrdiff_t>((kDamagedAt[1] + 1) * R));
        EXPECT_EQ(codec.DecodeCheckedBlocks(one.data(), 1, out.data()).count, damaged ? 1u : 0u);
        EXPECT_EQ(codec.DecodeCheckedBlocks(stored.data() + R, kBlocks - 1, out.data()).first,
                  damaged ? kDamagedAt[0] - 1 : codec_kernels::BlockFailures::kNone);
      }
    }
  }
}

}  // namespace
}  // namespace resicrypt
