// How many single changed residue bytes the block check lets through (a
// measurement, not a benchmark): random passwords of every length from 3 to 23
// bytes, random blocks, one residue byte of each set to another random value.
// A change escapes when it turns the block into another that passes: the
// rebuilt value moves by a multiple of the product of the other moduli and
// stays below 256^L, which only a product below 256^L allows (a spare modulus
// much smaller than the changed one). The step-by-step check is asked as well,
// to show that the codec agrees with it. Fixed seed, a few seconds:
//   build/native/bench/damage_escapes
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "engine/engine.h"
#include "engine/fast_codec.h"
#include "engine/reference/reference.h"

int main() {
  using namespace resicrypt;
  constexpr int kKeys = 3000;
  constexpr int kChangesPerKey = 200;
  std::mt19937_64 rng(7);
  auto ws = std::make_unique<ReferenceWorkspace>();
  long changes[24] = {};
  long escaped[24] = {};
  long disagreements = 0;
  for (int key = 0; key < kKeys; ++key) {
    const int L = 3 + key % 21;
    std::string password(static_cast<std::size_t>(L), 'a');
    for (char& c : password) c = static_cast<char>(1 + rng() % 255);
    SetPasswordText(*ws, password);
    BuildModulusTable(*ws, kFileTableSize);
    DerivePermutation(*ws, kFileTableSize);
    const int N = ResidueCount(*ws, L) + 1;
    const BlockCodec codec(*ws, L, N, CodecKernel::kPortable);
    BuildProductTable(*ws, N);
    const bool spareTested = SpareDigitIsZeroForBlocks(*ws, N, L);
    for (int t = 0; t < kChangesPerKey; ++t) {
      unsigned char block[kMaxCodecBlockLength];
      unsigned char residues[kMaxCodecCipherBlock];
      unsigned char out[kMaxCodecBlockLength];
      for (int p = 0; p < L; ++p) block[p] = static_cast<unsigned char>(rng());
      codec.Encode(block, residues);
      const auto i = static_cast<std::size_t>(rng() % static_cast<unsigned>(N - 1));
      unsigned char changed = residues[i];
      while (changed == residues[i]) changed = static_cast<unsigned char>(rng());
      residues[i] = changed;
      ++changes[L];
      const bool passed = codec.DecodeCheckedBlocks(residues, 1, out).count == 0;
      for (int k = 0; k < N - 1; ++k) ws->residues[k + 2] = residues[k];
      DecodeBlock(*ws, kBlockBase, N);
      disagreements += passed != DecodedBlockFails(*ws, N, L, spareTested) ? 0 : 1;
      escaped[L] += passed ? 1 : 0;
    }
  }
  long total = 0;
  long totalEscaped = 0;
  std::printf("password bytes  changes  escaped\n");
  for (int L = 3; L <= 23; ++L) {
    std::printf("%14d  %7ld  %7ld\n", L, changes[L], escaped[L]);
    total += changes[L];
    totalEscaped += escaped[L];
  }
  std::printf("all: %ld of %ld changed bytes escaped (1 in %.0f); the step-by-step check "
              "disagreed %ld times\n",
              totalEscaped, total, totalEscaped > 0 ? double(total) / double(totalEscaped) : 0.0,
              disagreements);
  return disagreements == 0 ? 0 : 1;
}
