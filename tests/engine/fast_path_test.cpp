// The prepared block codec and TextCipher held against the step-by-step
// operations (EncodeBlock, DecodeBlock, EncryptTextReference, ...), which are
// the reference: random keys, blocks, residue bytes and texts, including wrong
// keys and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#endif

#include "engine/engine.h"
#include "engine/fast_codec.h"
#include "engine/text_cipher.h"
#include "engine/reference/reference.h"
#include "reference_math.h"
#include "test_support.h"

namespace resicrypt {
namespace {

using Bytes = std::vector<unsigned char>;

using testsupport::KeyCase;
using testsupport::kKeyCases;

// Prepares the workspace for the password and returns N.
int PrepareKey(CipherWorkspace& ws, const std::string& password, const KeyCase& key) {
  testsupport::PrepareKey(ws, password, key.tableSize);
  return ResidueCount(ws, static_cast<int>(password.size())) + key.spare;
}

Bytes Positions(const std::int32_t* table, int first, int last) {
  Bytes bytes;
  for (int k = first; k <= last; ++k) bytes.push_back(static_cast<unsigned char>(table[k]));
  return bytes;
}

// EncodeBlock on the block in positions 1..L (positions above L are 0 after
// DerivePermutation and stay so).
Bytes ReferenceEncode(CipherWorkspace& ws, const Bytes& block, int N) {
  std::copy(block.begin(), block.end(), ws.blockDigits + 1);
  EncodeBlock(ws, kBlockBase, N);
  return Positions(ws.residues, 2, N);
}

struct ReferenceDecode {
  Bytes value;   // outputDigits 2..N
  Bytes digits;  // radixDigits 2..N
  int zeros;
};
ReferenceDecode RunDecodeBlock(ReferenceWorkspace& ws, const Bytes& residues, int N) {
  std::copy(residues.begin(), residues.end(), ws.residues + 2);
  ws.zeroDigitCount = 0;
  DecodeBlock(ws, kBlockBase, N);
  return {Positions(ws.outputDigits, 2, N), Positions(ws.radixDigits, 2, N), ws.zeroDigitCount};
}

// Residues of the number x modulo m(2)..m(N), by the slow big number.
Bytes ResiduesOf(const reference::BigNumber& x, const CipherWorkspace& ws, int N) {
  Bytes residues;
  for (int i = 2; i <= N; ++i) {
    residues.push_back(
        static_cast<unsigned char>(x.Mod(static_cast<std::uint32_t>(ws.ModulusTable[i]))));
  }
  return residues;
}

// x - 1 for x > 0, digit by digit.
reference::BigNumber MinusOne(const reference::BigNumber& x, std::size_t digitCount) {
  std::vector<int> digits = x.ToBytes(digitCount);
  for (auto& d : digits) {
    if (d > 0) {
      --d;
      break;
    }
    d = 255;
  }
  return reference::BigNumber::FromBytes(digits);
}

// Residue inputs a decoder can meet: every byte value, wrong keys, damage, and the
// values next to 0, M / 2 and M, where an estimated quotient is most easily one off.
std::vector<Bytes> DecoderInputs(std::mt19937& rng, const CipherWorkspace& ws, const Bytes& valid,
                                 int N) {
  const auto count = static_cast<std::size_t>(N - 1);
  std::vector<Bytes> inputs = {valid, Bytes(count, 0), Bytes(count, 255)};
  for (int round = 0; round < 4; ++round) {
    Bytes random(count);
    for (auto& r : random) r = static_cast<unsigned char>(rng());
    inputs.push_back(random);
  }
  Bytes damaged = valid;
  damaged[rng() % count] ^= static_cast<unsigned char>(1 + rng() % 255);
  inputs.push_back(damaged);

  reference::BigNumber M(1);
  Bytes below(count);
  Bytes at(count);
  Bytes above(count);
  for (int i = 2; i <= N; ++i) {
    const auto m = ws.ModulusTable[i];
    M = M.Times(static_cast<std::uint32_t>(m));
    below[static_cast<std::size_t>(i - 2)] = static_cast<unsigned char>(m - 1);  // M - 1
    at[static_cast<std::size_t>(i - 2)] = static_cast<unsigned char>(m);         // 0, unreduced
    above[static_cast<std::size_t>(i - 2)] = static_cast<unsigned char>(m + 1);  // 1, unreduced
  }
  inputs.push_back(below);
  inputs.push_back(at);
  inputs.push_back(above);
  // The products of all but the last one or three moduli, and one less: the
  // smallest number whose top digits are not all 0, and the largest whose are.
  for (const int top : {1, 3}) {
    reference::BigNumber product(1);
    for (int i = 2; i <= N - top; ++i) {
      product = product.Times(static_cast<std::uint32_t>(ws.ModulusTable[i]));
    }
    inputs.push_back(ResiduesOf(product, ws, N));
    inputs.push_back(ResiduesOf(MinusOne(product, count), ws, N));
  }
  reference::BigNumber half = M;
  half.DivideBy(2);
  inputs.push_back(ResiduesOf(half, ws, N));
  inputs.push_back(ResiduesOf(half.Plus(reference::BigNumber(1)), ws, N));
  inputs.push_back(ResiduesOf(MinusOne(half, count), ws, N));
  return inputs;
}

// Numbers next to 0 and next to M on a scale of powers of two: 2^b - 1, 2^b,
// 2^b + 1 and M minus those, for every third b below 8 (N - 1). A decoder whose
// quotient comes from a sum of fractions finds the sum within 2^b / M of a
// whole number here, just above it (sparse blocks: high bytes 0) or just below.
std::vector<Bytes> NearZeroAndNearM(const CipherWorkspace& ws, int N, int firstBit) {
  std::vector<Bytes> inputs;
  for (int b = firstBit; b < 8 * (N - 1); b += 3) {
    std::vector<int> bytes(static_cast<std::size_t>(b / 8 + 1), 0);
    bytes.back() = 1 << (b % 8);
    const reference::BigNumber power = reference::BigNumber::FromBytes(bytes);
    for (const reference::BigNumber& x : {power, power.Plus(reference::BigNumber(1)),
                                          MinusOne(power, static_cast<std::size_t>(N))}) {
      const Bytes residues = ResiduesOf(x, ws, N);
      inputs.push_back(residues);
      Bytes negated(residues.size());  // M - x
      for (std::size_t k = 0; k < residues.size(); ++k) {
        const auto m = static_cast<unsigned>(ws.ModulusTable[k + 2]);
        negated[k] = static_cast<unsigned char>((m - residues[k]) % m);
      }
      inputs.push_back(negated);
    }
  }
  return inputs;
}

// For every block length and random keys (bytes 1..255, so also 128 and up):
// the codec's residues are EncodeBlock's, and its decodings of any residue bytes
// are DecodeBlock's value, mixed-radix digits and zero-digit count.
TEST(BlockCodecFastPath, AgreesWithTheStepByStepCodec) {
  auto ws = testsupport::NewWorkspace();
  std::mt19937 rng(2024);
  for (const KeyCase& key : kKeyCases) {
    for (int L = 3; L <= key.maxLength; ++L) {
      for (int round = 0; round < 6; ++round) {
        const std::string password = testsupport::RandomBytes(rng, static_cast<std::size_t>(L));
        const int N = PrepareKey(*ws, password, key);
        const BlockCodec codec(*ws, L, N);
        ASSERT_TRUE(codec.IsUsable());
        ASSERT_EQ(codec.BlockLength(), L);
        ASSERT_EQ(codec.LastModulusPosition(), N);
        ASSERT_EQ(codec.CipherBlockLength(), N - 1);
        BuildProductTable(*ws, N);
        const auto count = static_cast<std::size_t>(N - 1);

        std::vector<Bytes> blocks = {
            Bytes(static_cast<std::size_t>(L), 0), Bytes(static_cast<std::size_t>(L), 255), [&] {
              const std::string s = testsupport::RandomBytes(rng, static_cast<std::size_t>(L), 0);
              return Bytes(s.begin(), s.end());
            }()};
        // Numbers that are multiples of a few consecutive moduli (residues 0 there).
        for (int first = 2; first + 2 <= N; first += 3) {
          const std::string k = testsupport::RandomBytes(rng, static_cast<std::size_t>(L - 3), 0);
          reference::BigNumber value = reference::BigNumber::FromBytes(
              std::vector<int>(reinterpret_cast<const unsigned char*>(k.data()),
                               reinterpret_cast<const unsigned char*>(k.data()) + k.size()));
          for (int i = first; i <= first + 2; ++i) {
            value = value.Times(static_cast<std::uint32_t>(ws->ModulusTable[i]));
          }
          const std::vector<int> bytes = value.ToBytes(static_cast<std::size_t>(L));
          blocks.emplace_back(bytes.begin(), bytes.end());
        }
        for (const Bytes& block : blocks) {
          const Bytes residues = ReferenceEncode(*ws, block, N);
          Bytes fast(count);
          codec.Encode(block.data(), fast.data());
          ASSERT_EQ(fast, residues) << "L = " << L;

          for (const Bytes& input : DecoderInputs(rng, *ws, residues, N)) {
            const ReferenceDecode expected = RunDecodeBlock(*ws, input, N);
            Bytes value(count);
            codec.DecodeValue(input.data(), value.data());
            ASSERT_EQ(value, expected.value) << "L = " << L;
            Bytes plain(static_cast<std::size_t>(L));
            codec.Decode(input.data(), plain.data());
            ASSERT_EQ(plain, Bytes(expected.value.begin(), expected.value.begin() + L));
            Bytes digits(count);
            ASSERT_EQ(codec.MixedRadixDigits(input.data(), digits.data()), expected.zeros);
            ASSERT_EQ(codec.MixedRadixDigits(input.data(), nullptr), expected.zeros);
            ASSERT_EQ(digits, expected.digits);
            // The top digits test: whether the last s digits are all 0.
            for (const int s : {0, 1, 2, 3, N - 1}) {
              const bool zeroTop = std::all_of(expected.digits.end() - s, expected.digits.end(),
                                               [](unsigned char d) { return d == 0; });
              Bytes decoded(static_cast<std::size_t>(L));
              ASSERT_EQ(codec.DecodeAndTestTopDigits(input.data(), s, decoded.data()), zeroTop);
              ASSERT_EQ(decoded, plain);
            }
          }
          // The block itself comes back, with the spare digits 0.
          Bytes plain(static_cast<std::size_t>(L));
          codec.Decode(residues.data(), plain.data());
          ASSERT_EQ(plain, block);
          ASSERT_GE(codec.MixedRadixDigits(residues.data(), nullptr), key.spare);
        }
      }
    }
  }
}

// The batch calls equal block-by-block calls, and the codec keeps its constants
// when the workspace is prepared for another key afterwards.
TEST(BlockCodecFastPath, BatchesMatchSingleBlocks) {
  auto ws = testsupport::NewWorkspace();
  std::mt19937 rng(7);
  const std::string password = "batch password of 23 by";
  const int N = PrepareKey(*ws, password, kKeyCases[0]);
  const int L = static_cast<int>(password.size());
  const BlockCodec codec(*ws, L, N);
  PrepareKey(*ws, "another key", kKeyCases[1]);

  const std::size_t blocks = 50;
  const std::string plain = testsupport::RandomBytes(rng, blocks * static_cast<std::size_t>(L), 0);
  const auto* in = reinterpret_cast<const unsigned char*>(plain.data());
  Bytes cipher(blocks * static_cast<std::size_t>(N - 1));
  codec.EncodeBlocks(in, blocks, cipher.data());
  Bytes back(plain.size());
  codec.DecodeBlocks(cipher.data(), blocks, back.data());
  EXPECT_EQ(std::string(back.begin(), back.end()), plain);

  PrepareKey(*ws, password, kKeyCases[0]);
  for (std::size_t b = 0; b < blocks; ++b) {
    const Bytes block(in + b * static_cast<std::size_t>(L),
                      in + (b + 1) * static_cast<std::size_t>(L));
    const Bytes expected = ReferenceEncode(*ws, block, N);
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(),
                           cipher.begin() + static_cast<std::ptrdiff_t>(b * expected.size())));
  }
}

// The level the processor offers, read here from cpuid and xgetbv apart from the
// engine's own probe: AVX-512 (F, BW, VBMI, VNNI) with the system saving the
// ZMM registers, else AVX2 and FMA with it saving the YMM ones.
CodecKernel KernelTheProcessorReports() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (c & (1u << 27)) == 0) return CodecKernel::kPortable;
  const bool fma = (c & (1u << 12)) != 0;
  unsigned low = 0, high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return CodecKernel::kPortable;
  const bool avx512 = (b & (1u << 16)) && (b & (1u << 30)) && (c & (1u << 1)) && (c & (1u << 11));
  if (avx512 && (low & 0xE6) == 0xE6) return CodecKernel::kAvx512;
  if ((b & (1u << 5)) && fma && (low & 6) == 6) return CodecKernel::kAvx2;
#endif
  return CodecKernel::kPortable;
}

// The native and the Windows build (under Wine) pick the level the processor
// reports; RESICRYPT_CODEC forces one it has and is refused, with the word in
// the message, for a level it lacks or a word that names none.
TEST(CodecKernelChoice, FollowsTheProcessorAndTheSetting) {
  const CodecKernel fastest = KernelTheProcessorReports();
  EXPECT_EQ(FastestCodecKernel(), fastest);
  EXPECT_EQ(ChooseCodecKernel(nullptr).kernel, fastest);
  EXPECT_EQ(ChooseCodecKernel("").kernel, fastest);
  if (std::getenv("RESICRYPT_CODEC") == nullptr) {
    EXPECT_EQ(BestCodecKernel(), fastest);
  }
  for (const CodecKernel kernel :
       {CodecKernel::kPortable, CodecKernel::kAvx2, CodecKernel::kAvx512}) {
    const std::string name = CodecKernelName(kernel);
    const CodecKernelChoice choice = ChooseCodecKernel(name.c_str());
    EXPECT_EQ(choice.kernel, kernel);
    EXPECT_EQ(choice.error.empty(), kernel <= fastest) << name;  // the levels go up
    if (!choice.error.empty()) {
      EXPECT_NE(choice.error.find("RESICRYPT_CODEC=" + name), std::string::npos);
    }
  }
  for (const char* word : {"AVX2", "avx", "sse4", "avx2 ", "fast"}) {
    EXPECT_NE(ChooseCodecKernel(word).error.find(std::string("RESICRYPT_CODEC=") + word),
              std::string::npos);
  }
}

// Every kernel's batch calls against EncodeBlock and DecodeBlock, block by block,
// for random keys of every length, and for moduli drawn from the primes below
// 256 (table size 0) up to the largest N the codec takes, beyond what keys reach
// (N <= 31), where a step reads its last vector rows: random blocks, all 0 and
// all 255, small numbers (where a decoder's quotient estimate is least sure),
// and as residues any bytes a decoder can meet. Batches of several lengths, so
// that the vector steps, the blocks they leave over and both buffer ends are all
// crossed.
TEST(BlockCodecFastPath, EveryKernelAgreesWithTheStepByStepCodec) {
  auto ws = testsupport::NewWorkspace();
  std::mt19937 rng(31);
  std::vector<int> primes = testsupport::UsedPrimesDescending(55);
  primes.insert(primes.end(), {2, 241, 251});
  for (const CodecKernel kernel : testsupport::SupportedKernels()) {
    SCOPED_TRACE(static_cast<int>(kernel));
    for (const KeyCase& key : {kKeyCases[0], kKeyCases[1], KeyCase{0, 0, kMaxCodecBlockLength}}) {
      for (int L = 3; L <= key.maxLength; ++L) {
        for (int round = 0; round < (key.tableSize != 0 ? 3 : 1); ++round) {
          const auto length = static_cast<std::size_t>(L);
          int N = 32 + L % (kMaxCodecResidueCount - 31);
          if (key.tableSize != 0) {
            N = PrepareKey(*ws, testsupport::RandomBytes(rng, length), key);
          } else {
            ws = testsupport::NewWorkspace();  // block positions above L 0
            std::shuffle(primes.begin(), primes.end(), rng);
            testsupport::PutModuli(*ws, primes);
          }
          SCOPED_TRACE(N);
          const BlockCodec codec(*ws, L, N, kernel);
          ASSERT_EQ(codec.Kernel(), kernel);
          BuildProductTable(*ws, N);
          const auto R = static_cast<std::size_t>(N - 1);
          // The check's spare-digit test holds for keys whose blocks all have it.
          const bool spareTested = key.tableSize != 0 && SpareDigitIsZeroForBlocks(*ws, N, L);

          std::vector<Bytes> blocks = {Bytes(length, 0), Bytes(length, 255)};
          for (int k = 0; k < 30; ++k) {
            const std::string b = testsupport::RandomBytes(rng, length, 0);
            blocks.emplace_back(b.begin(), b.end());
          }
          for (std::size_t top = 1; top < length; top += 2) {  // V' below 256^top
            Bytes small(length, 0);
            for (std::size_t p = 0; p < top; ++p) small[p] = static_cast<unsigned char>(rng());
            blocks.push_back(small);
          }
          std::shuffle(blocks.begin(), blocks.end(), rng);
          Bytes plain;
          Bytes expected;
          for (const Bytes& block : blocks) {
            plain.insert(plain.end(), block.begin(), block.end());
            const Bytes residues = ReferenceEncode(*ws, block, N);
            expected.insert(expected.end(), residues.begin(), residues.end());
          }

          std::vector<Bytes> inputs = NearZeroAndNearM(*ws, N, round);
          for (std::size_t b = 0; b < blocks.size(); b += 4) {
            const Bytes valid(expected.begin() + static_cast<std::ptrdiff_t>(b * R),
                              expected.begin() + static_cast<std::ptrdiff_t>((b + 1) * R));
            for (Bytes& input : DecoderInputs(rng, *ws, valid, N)) inputs.push_back(input);
          }
          Bytes stored;
          Bytes decoded;
          std::vector<bool> fails;  // the step-by-step check of each stored block
          for (const Bytes& input : inputs) {
            stored.insert(stored.end(), input.begin(), input.end());
            const Bytes value = RunDecodeBlock(*ws, input, N).value;
            fails.push_back(DecodedBlockFails(*ws, N, L, spareTested));
            decoded.insert(decoded.end(), value.begin(), value.begin() + L);
          }
          for (std::size_t bytes = 0; bytes < 256; ++bytes) {  // every byte value somewhere
            stored.push_back(static_cast<unsigned char>(bytes));
          }
          stored.resize(stored.size() / R * R + (stored.size() % R ? R : 0), 0);
          for (std::size_t b = decoded.size() / length; b < stored.size() / R; ++b) {
            const Bytes input(stored.begin() + static_cast<std::ptrdiff_t>(b * R),
                              stored.begin() + static_cast<std::ptrdiff_t>((b + 1) * R));
            const Bytes value = RunDecodeBlock(*ws, input, N).value;
            fails.push_back(DecodedBlockFails(*ws, N, L, spareTested));
            decoded.insert(decoded.end(), value.begin(), value.begin() + L);
          }
          {  // nothing whole is called damaged
            Bytes back(plain.size());
            EXPECT_EQ(codec.DecodeCheckedBlocks(expected.data(), blocks.size(), back.data()).count,
                      0u);
          }

          // Whole batches, and their first blocks alone: 1 to 64 of them, so that
          // the vector steps, the blocks they leave over and both buffer ends are
          // crossed at every offset. Inputs are copied to buffers of their exact
          // size (the sanitizer build sees any read past them), outputs get 64
          // guard bytes that must stay.
          const std::size_t plainBlocks = blocks.size();
          const std::size_t storedBlocks = stored.size() / R;
          constexpr std::size_t kGuard = 64;
          std::vector<std::size_t> counts = {plainBlocks, storedBlocks};
          for (std::size_t count = 1; count <= 64; ++count) counts.push_back(count);
          // count blocks of `in` bytes each from source through run must give the
          // first count blocks of `out` bytes of want, and leave the guard alone.
          const auto batch = [&](const Bytes& source, std::size_t in, std::size_t out,
                                 const Bytes& want, std::size_t count, auto run) {
            const Bytes input(source.begin(),
                              source.begin() + static_cast<std::ptrdiff_t>(count * in));
            Bytes result(count * out + kGuard, 0xA5);
            run(input.data(), count, result.data());
            ASSERT_EQ(Bytes(result.end() - kGuard, result.end()), Bytes(kGuard, 0xA5))
                << "L = " << L << ", " << count << " blocks";
            result.resize(count * out);
            ASSERT_EQ(result,
                      Bytes(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(count * out)))
                << "L = " << L << ", " << count << " blocks";
          };
          for (const std::size_t count : counts) {
            if (count <= plainBlocks) {
              batch(plain, length, R, expected, count,
                    [&](const unsigned char* in, std::size_t n, unsigned char* out) {
                      codec.EncodeBlocks(in, n, out);
                    });
            }
            if (count <= storedBlocks) {
              batch(stored, R, length, decoded, count,
                    [&](const unsigned char* in, std::size_t n, unsigned char* out) {
                      codec.DecodeBlocks(in, n, out);
                    });
              // The check finds the blocks the step-by-step check finds.
              std::size_t want = 0;
              std::size_t first = codec_kernels::BlockFailures::kNone;
              for (std::size_t b = 0; b < count; ++b) {
                if (!fails[b]) continue;
                if (want++ == 0) first = b;
              }
              batch(stored, R, length, decoded, count,
                    [&](const unsigned char* in, std::size_t n, unsigned char* out) {
                      const auto failures = codec.DecodeCheckedBlocks(in, n, out);
                      EXPECT_EQ(failures.count, want) << "L = " << L << ", " << n << " blocks";
                      EXPECT_EQ(failures.first, first) << "L = " << L << ", " << n << " blocks";
                    });
            }
          }
        }
      }
    }
  }
}

// The remainder through a rounded reciprocal over its whole domain, above all at
// exact multiples (k a power of two) and next to them, where a truncated estimate
// without the half would fall one short.
TEST(BlockCodecFastPath, RemainderByReciprocalIsExact) {
  std::mt19937_64 rng(17);
  std::vector<std::int64_t> divisors = {2, 3, 251, 239 * 241, 16777215, 251 * 241 * 239};
  for (int round = 0; round < 300; ++round) {
    divisors.push_back(2 + static_cast<std::int64_t>(rng() % ((1 << 24) - 2)));
  }
  const std::int64_t limit = std::int64_t{1} << 51;
  for (const std::int64_t P : divisors) {
    const double inverse = 1.0 / static_cast<double>(P);
    std::vector<std::int64_t> values = {0, 1, P - 1, P, limit - 1, limit - 1 - (limit - 1) % P};
    for (std::int64_t k = 1; k <= (limit - 1) / P; k *= 2) {
      for (const std::int64_t x : {k * P, k * P + 1, k * P - 1, k * P + P / 2}) values.push_back(x);
    }
    for (int round = 0; round < 20; ++round)
      values.push_back(static_cast<std::int64_t>(rng() % limit));
    for (const std::int64_t x : values) {
      if (x < 0 || x >= limit) continue;
      ASSERT_EQ(RemainderByReciprocal(x, P, inverse), x % P) << x << " mod " << P;
      ASSERT_EQ(RemainderByReciprocal(static_cast<double>(x), P, inverse), x % P);
    }
  }
}

TEST(BlockCodecFastPath, RefusesCountsAndModuliItCannotHandle) {
  auto ws = testsupport::NewWorkspace();
  PrepareKey(*ws, "abc", kKeyCases[0]);
  EXPECT_TRUE(BlockCodec(*ws, 3, 6).IsUsable());
  EXPECT_FALSE(BlockCodec(*ws, 3, 1).IsUsable());
  EXPECT_FALSE(BlockCodec(*ws, 0, 6).IsUsable());
  EXPECT_FALSE(BlockCodec(*ws, 6, 6).IsUsable());  // L above N - 1
  EXPECT_FALSE(BlockCodec(*ws, 3, kMaxCodecResidueCount + 1).IsUsable());
  EXPECT_TRUE(BlockCodec(*ws, kMaxCodecBlockLength, kMaxCodecResidueCount).IsUsable());
  EXPECT_FALSE(BlockCodec(*ws, kMaxCodecBlockLength + 1, kMaxCodecResidueCount).IsUsable());

  testsupport::PutModuli(*ws, {7, 11, 13, 7, 17});  // 7 twice: no unique rebuild
  EXPECT_FALSE(BlockCodec(*ws, 3, 6).IsUsable());
  testsupport::PutModuli(*ws, {7, 11, 1, 13, 17});
  EXPECT_FALSE(BlockCodec(*ws, 3, 6).IsUsable());
  testsupport::PutModuli(*ws, {7, 11, 256, 13, 17});
  EXPECT_FALSE(BlockCodec(*ws, 3, 6).IsUsable());
  testsupport::PutModuli(*ws, {9, 10, 7, 11, 13});  // coprime, though not all prime
  EXPECT_TRUE(BlockCodec(*ws, 3, 6).IsUsable());
}

// The largest password numbers (all bytes 255) still order distinct primes, so
// every key the commands accept gets a usable codec.
TEST(BlockCodecFastPath, EveryAcceptedKeyIsUsable) {
  auto ws = testsupport::NewWorkspace();
  for (const KeyCase& key : kKeyCases) {
    for (int L = 3; L <= key.maxLength; ++L) {
      const std::string password(static_cast<std::size_t>(L), '\xFF');
      const int N = PrepareKey(*ws, password, key);
      EXPECT_TRUE(BlockCodec(*ws, L, N).IsUsable()) << key.tableSize << " " << L;
    }
  }
}

// ---- Text cipher: TextCipher / EncryptText against the step-by-step reference.

class TextFastPath : public ::testing::Test {
 protected:
  void SetUp() override { BuildTextAlphabet(alphabet); }

  TextAlphabet alphabet{};
  std::unique_ptr<ReferenceWorkspace> ws = testsupport::NewWorkspace();
  std::unique_ptr<ReferenceWorkspace> reference = testsupport::NewWorkspace();  // the reference's own
};

// One hostile generator for the text differential: random keys of 3..17 bytes and
// keys the rules cut or refuse (short, empty, long, a NUL inside, high bytes);
// texts around whole blocks with bytes 0 and 255; and for decryption the cipher
// text, a wrong key, the plain text, trailing characters, a cut-off block,
// damage, and random cipher-alphabet text that now and then passes by chance.
std::vector<std::pair<std::string, std::string>> HostileTexts(CipherWorkspace& reference,
                                                              const TextAlphabet& alphabet) {
  std::vector<std::pair<std::string, std::string>> cases;
  std::mt19937 rng(99);
  const auto addWithCipher = [&](const std::string& password, const std::string& text) {
    cases.emplace_back(password, text);
    const std::string cipher = EncryptTextReference(reference, alphabet, password, text);
    cases.emplace_back(password, cipher);
    cases.emplace_back(password, cipher + "xy");
    if (!cipher.empty()) cases.emplace_back(password, cipher.substr(0, cipher.size() - 1));
    return cipher;
  };
  for (const std::string& password :
       {std::string("ab"), std::string(""), std::string("abc"),
        std::string("a much longer password than seventeen bytes"), std::string("ab\0cdef", 7),
        std::string("abcd\0ef", 7), std::string(17, '\xFF'), std::string(18, '\x80')}) {
    addWithCipher(password, "Password rules: cut at 17 bytes and at a NUL.");
  }
  for (int round = 0; round < 120; ++round) {
    const auto keyLength = static_cast<std::size_t>(3 + round % 15);
    const std::string password = testsupport::RandomBytes(rng, keyLength);
    std::size_t length = rng() % 120;
    if (round % 4 == 0) length = keyLength * (1 + rng() % 5);
    std::string text = testsupport::RandomBytes(rng, length, 0, 255);
    if (round % 6 == 1 && !text.empty()) text.back() = '\xFF';
    const std::string cipher = addWithCipher(password, text);
    cases.emplace_back(testsupport::RandomBytes(rng, keyLength), cipher);
    // Characters EncryptText never writes (0, 255, 127..160) and others.
    for (int hit = 0; hit < 3 && !cipher.empty(); ++hit) {
      std::string damaged = cipher;
      const unsigned char values[] = {0, 255, 127, 160, 1, static_cast<unsigned char>(rng())};
      damaged[rng() % damaged.size()] = static_cast<char>(values[rng() % 6]);
      cases.emplace_back(password, damaged);
    }
  }
  for (int round = 0; round < 400; ++round) {
    std::string text(rng() % 90, ' ');
    for (auto& c : text) c = static_cast<char>(alphabet.indexToByte[rng() % 179]);
    cases.emplace_back(testsupport::RandomBytes(rng, 3 + rng() % 15), text);
  }
  return cases;
}

TEST_F(TextFastPath, EveryHostileInputGivesTheReferencesResultBothWays) {
  for (const auto& [password, text] : HostileTexts(*reference, alphabet)) {
    SCOPED_TRACE(testing::Message()
                 << "key length " << password.size() << ", text length " << text.size());
    ASSERT_EQ(EncryptText(*ws, alphabet, password, text),
              EncryptTextReference(*reference, alphabet, password, text));
    ASSERT_EQ(DecryptText(*ws, alphabet, password, text),
              DecryptTextReference(*reference, alphabet, password, text));
  }
  const TextCipher shortKey(*ws, alphabet, "ab");
  EXPECT_FALSE(shortKey.IsUsable());
  EXPECT_EQ(shortKey.Encrypt("some text"), "");
  EXPECT_EQ(shortKey.Decrypt("some text"), "");
}

// One prepared cipher serves many lines, with the same results as one call per
// line, and the workspace is left prepared for the key as the reference leaves it.
TEST_F(TextFastPath, PreparedCipherServesManyLines) {
  std::mt19937 rng(3);
  const std::string password = "seventeen bytes!!";
  const TextCipher cipher(*ws, alphabet, password);
  ASSERT_TRUE(cipher.IsUsable());
  EXPECT_EQ(cipher.BlockLength(), 17);
  for (int line = 0; line < 40; ++line) {
    const std::string text = testsupport::RandomBytes(rng, rng() % 80, 32, 126);
    const std::string encrypted = cipher.Encrypt(text);
    ASSERT_EQ(encrypted, EncryptTextReference(*reference, alphabet, password, text));
    ASSERT_EQ(cipher.Decrypt(encrypted),
              DecryptTextReference(*reference, alphabet, password, encrypted));
  }
  EXPECT_EQ(PasswordView(*ws), password);
  for (int k = 1; k <= 44; ++k) EXPECT_EQ(ws->ModulusTable[k], reference->ModulusTable[k]) << k;
}

}  // namespace
}  // namespace resicrypt
