#include "engine/fast_codec.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>


namespace resicrypt {

namespace {

// Multi-word numbers for the constants: 32-bit limbs, least significant first.
constexpr int kLimbBits = 32;
constexpr std::uint64_t kLimbMask = 0xFFFFFFFFu;

void MultiplySmall(std::uint32_t* limbs, int count, std::uint64_t factor) {
  std::uint64_t carry = 0;
  for (int k = 0; k < count; ++k) {
    const std::uint64_t value = limbs[k] * factor + carry;  // < 2^32 * 2^24 + 2^32
    limbs[k] = static_cast<std::uint32_t>(value & kLimbMask);
    carry = value >> kLimbBits;
  }
  assert(carry == 0);
}

// Divides in place by a divisor below 2^24 and returns the remainder.
std::uint64_t DivideSmall(std::uint32_t* limbs, int count, std::uint64_t divisor) {
  std::uint64_t remainder = 0;
  for (int k = count - 1; k >= 0; --k) {
    const std::uint64_t value = (remainder << kLimbBits) | limbs[k];
    limbs[k] = static_cast<std::uint32_t>(value / divisor);
    remainder = value % divisor;
  }
  return remainder;
}

std::uint64_t ModSmall(const std::uint32_t* limbs, int count, std::uint64_t divisor) {
  std::uint64_t remainder = 0;
  for (int k = count - 1; k >= 0; --k) {
    remainder = ((remainder << kLimbBits) | limbs[k]) % divisor;
  }
  return remainder;
}

// Whether each of the numbers 2..255 shares no prime factor with those before it:
// below 256 every number is a product of primes below 16 and at most one more.
bool ArePairwiseCoprime(const std::uint32_t* numbers, int count) {
  bool used[256] = {};
  for (int k = 0; k < count; ++k) {
    std::uint32_t rest = numbers[k];
    for (const std::uint32_t p : {2u, 3u, 5u, 7u, 11u, 13u}) {
      if (rest % p != 0) continue;
      if (used[p]) return false;
      used[p] = true;
      while (rest % p == 0) rest /= p;
    }
    if (rest > 1) {
      if (used[rest]) return false;
      used[rest] = true;
    }
  }
  return true;
}

// a^-1 mod m for gcd(a, m) = 1, m >= 2 (extended Euclid); 0 otherwise.
std::int64_t ModularInverse(std::int64_t a, std::int64_t m) {
  std::int64_t oldR = a % m;
  std::int64_t r = m;
  std::int64_t oldS = 1;
  std::int64_t s = 0;
  while (r != 0) {
    const std::int64_t q = oldR / r;
    std::int64_t t = oldR - q * r;
    oldR = r;
    r = t;
    t = oldS - q * s;
    oldS = s;
    s = t;
  }
  if (oldR != 1) {
    return 0;
  }
  return ((oldS % m) + m) % m;
}

}  // namespace

// value mod m(k) for value < 2^24: the quotient (value * ceil(2^32 / m)) >> 32 is
// exact there because the rounding error of the reciprocal, times 2^24, stays
// below 2^32 / m.
inline std::uint32_t BlockCodec::ReduceSmall(std::uint32_t value, int k) const {
  const auto q = static_cast<std::uint32_t>((value * reciprocal_[k]) >> 32);
  return value - q * modulus_[k];
}

bool IsCodecKernelSupported(CodecKernel kernel) {
  switch (kernel) {
    case CodecKernel::kPortable:
      return true;
    case CodecKernel::kAvx2:
      return codec_kernels::HasAvx2Kernels();
    case CodecKernel::kAvx512:
      return codec_kernels::HasAvx512Kernels();
  }
  return false;
}

const char* CodecKernelName(CodecKernel kernel) {
  switch (kernel) {
    case CodecKernel::kPortable:
      return "portable";
    case CodecKernel::kAvx2:
      return "avx2";
    case CodecKernel::kAvx512:
      return "avx512";
  }
  return "?";
}

CodecKernel FastestCodecKernel() {
  for (const CodecKernel kernel : {CodecKernel::kAvx512, CodecKernel::kAvx2}) {
    if (IsCodecKernelSupported(kernel)) return kernel;
  }
  return CodecKernel::kPortable;
}

CodecKernelChoice ChooseCodecKernel(const char* setting) {
  CodecKernelChoice choice;
  if (setting == nullptr || *setting == '\0') {
    choice.kernel = FastestCodecKernel();
    return choice;
  }
  for (const CodecKernel kernel :
       {CodecKernel::kPortable, CodecKernel::kAvx2, CodecKernel::kAvx512}) {
    if (std::strcmp(setting, CodecKernelName(kernel)) != 0) continue;
    choice.kernel = kernel;
    if (!IsCodecKernelSupported(kernel)) {
      choice.error =
          std::string("RESICRYPT_CODEC=") + setting + ": this processor has no " +
          (kernel == CodecKernel::kAvx2 ? "AVX2 (with FMA)" : "AVX-512 (F, BW, VBMI and VNNI)");
    }
    return choice;
  }
  choice.error = std::string("RESICRYPT_CODEC=") + setting +
                 ": unknown codec level (portable, avx2 or avx512)";
  return choice;
}

namespace {

// RESICRYPT_CODEC as the program started with it, read once.
const CodecKernelChoice& SettingChoice() {
  static const CodecKernelChoice choice = [] {
#if defined(_MSC_VER)
    char* value = nullptr;
    std::size_t size = 0;
    std::string setting;
    if (_dupenv_s(&value, &size, "RESICRYPT_CODEC") == 0 && value != nullptr) setting = value;
    std::free(value);
    return ChooseCodecKernel(setting.c_str());
#else
    return ChooseCodecKernel(std::getenv("RESICRYPT_CODEC"));
#endif
  }();
  return choice;
}

}  // namespace

const char* CodecSettingError() {
  const CodecKernelChoice& choice = SettingChoice();
  return choice.error.empty() ? nullptr : choice.error.c_str();
}

CodecKernel BestCodecKernel() {
  const CodecKernelChoice& choice = SettingChoice();
  if (!choice.error.empty()) {
    std::fprintf(stderr, "%s\n", choice.error.c_str());
    std::exit(2);
  }
  return choice.kernel;
}

namespace {

// 256^p mod m as a signed byte weight: the residue, or the residue less m above 127.
int SignedWeight(std::uint32_t power, std::uint32_t m) {
  return power <= 127 ? static_cast<int>(power) : static_cast<int>(power) - static_cast<int>(m);
}

// An output lane's modulus and the reciprocals its reduction multiplies by.
template <typename Lanes>
void SetLaneModulus(Lanes& lanes, int s, int j, std::uint32_t m) {
  lanes.modulus[s][j] = static_cast<float>(m);
  lanes.inverse[s][j] = 1.0f / static_cast<float>(m);
  lanes.halfInverse[s][j] = 0.5f / static_cast<float>(m);
}

// The lane tables of the AVX-512 encoder (codec_kernels.h) for moduli m(0..R-1).
void FillEncodeLanes(codec_kernels::EncodeLanes& lanes, const std::uint32_t* moduli, int L, int R) {
  using codec_kernels::kLanes;
  lanes.blocksPerStep = R <= kLanes ? kLanes / R : 1;
  lanes.vectors = (lanes.blocksPerStep * R + kLanes - 1) / kLanes;
  lanes.chunks = (L + 3) / 4;
  for (int s = 0; s < lanes.vectors; ++s) {
    for (int j = 0; j < kLanes; ++j) {
      const int o = kLanes * s + j;  // output byte of the step
      const bool used = o < lanes.blocksPerStep * R;
      const int t = used ? o / R : 0;
      const std::uint32_t m = used ? moduli[o % R] : 1;
      SetLaneModulus(lanes, s, j, m);
      std::uint32_t power = 1 % m;  // 256^p mod m
      for (int k = 0; k < lanes.chunks; ++k) {
        for (int b = 0; b < 4; ++b) {
          const int p = 4 * k + b;
          const int source = t * L + p;
          lanes.source[s][k][4 * j + b] = static_cast<unsigned char>(source % 64);
          const int weight = used && p < L ? SignedWeight(power, m) : 0;
          lanes.weight[s][k][4 * j + b] = static_cast<signed char>(weight);
          power = power * 256 % m;
        }
      }
    }
  }
}

// The lane tables of the AVX2 encoder (codec_kernels.h) for moduli m(0..R-1).
void FillEncodePairLanes(codec_kernels::EncodePairLanes& lanes, const std::uint32_t* moduli, int L,
                         int R) {
  using codec_kernels::kPairLanes;
  const int K = (L + 1) / 2;
  lanes.pairs = K;
  lanes.chunks = (L + 3) / 4;
  const int lastBytes = L - 4 * (lanes.chunks - 1);
  lanes.lastChunkMask = lastBytes == 4 ? 0xFFFFFFFFu : (std::uint32_t{1} << (8 * lastBytes)) - 1;
  const int several = 2 * kPairLanes / R;  // blocks in two vectors
  if (several >= 2 && several * L <= 16 && several * K <= kPairLanes) {
    lanes.blocksPerStep = several;
    lanes.vectors = 2;
  } else {
    lanes.blocksPerStep = 1;
    lanes.vectors = (R + kPairLanes - 1) / kPairLanes;
  }
  const bool words = lanes.blocksPerStep == 1;
  for (int x = 0; x < 32; ++x) lanes.windowIndex[x] = 0x80;
  if (!words) {
    for (int t = 0; t < lanes.blocksPerStep; ++t) {
      for (int k = 0; k < K; ++k) {
        const int slot = t * K + k;  // bytes 4 slot.. of the vector, 16-byte halves alike
        const int p = t * L + 2 * k;
        lanes.windowIndex[4 * slot] = static_cast<unsigned char>(p);
        if (2 * k + 1 < L) lanes.windowIndex[4 * slot + 2] = static_cast<unsigned char>(p + 1);
      }
    }
  }
  // Weight b of chunk (pair) k belongs to the word (byte) 2 k + b, which starts
  // at block byte step (2 k + b).
  const int step = words ? 2 : 1;
  for (int s = 0; s < lanes.vectors; ++s) {
    for (int j = 0; j < kPairLanes; ++j) {
      const int o = kPairLanes * s + j;  // output byte of the step
      const bool used = o < lanes.blocksPerStep * R;
      const int t = used ? o / R : 0;
      const std::uint32_t m = used ? moduli[o % R] : 1;
      SetLaneModulus(lanes, s, j, m);
      std::uint32_t power = 1 % m;  // 256^p mod m
      std::uint32_t weightSum = 0;  // of the words in use, mod m
      for (int k = 0; k < (words ? lanes.chunks : K); ++k) {
        int weight[2] = {};
        for (int b = 0; b < 2; ++b) {
          const int p = step * (2 * k + b);
          if (used && p < L) {
            weight[b] = SignedWeight(power, m);
            weightSum = (weightSum + power) % m;
          }
          power = power * 256 % m;
          if (words) power = power * 256 % m;
        }
        lanes.weight[s][k][j] = (static_cast<std::uint32_t>(weight[0]) & 0xFFFF) |
                                (static_cast<std::uint32_t>(weight[1]) << 16);
        lanes.pick[s][k][j] = t * K + k;
      }
      if (words) {
        // 2^15 (weightSum + 1) mod m, and 2^16 mod m as a signed weight.
        lanes.start[s][j] = static_cast<std::int32_t>((32768 % m) * (weightSum + 1) % m);
        lanes.fold[s][j] = 1u | (static_cast<std::uint32_t>(SignedWeight(65536 % m, m)) << 16);
      }
    }
  }
}

// The AVX2 and SSE2 decoders' digits of 15 bits (codec_kernels.h).
constexpr int kWideBits = 15;
constexpr std::int64_t kWideBase = std::int64_t{1} << kWideBits;

// Bits 15 p..15 p + 14 of a number in 32-bit limbs (0 above them).
std::int64_t WideDigit(const std::uint32_t* limbs, int limbCount, int p) {
  std::int64_t digit = 0;
  for (int b = 0; b < kWideBits; ++b) {
    const int bit = kWideBits * p + b;
    if (bit / 32 < limbCount) {
      digit |= static_cast<std::int64_t>((limbs[bit / 32] >> (bit % 32)) & 1) << b;
    }
  }
  return digit;
}

// Digits of any size made digits between -2^14 and 2^14 - 1 with the same sum
// mod B^count (the carry out of the top is dropped).
void NormalizeWide(std::int64_t* digits, int count) {
  std::int64_t carry = 0;
  for (int k = 0; k < count; ++k) {
    const std::int64_t v = digits[k] + carry + kWideBase / 2;
    carry = v >= 0 ? v / kWideBase : -((-v + kWideBase - 1) / kWideBase);  // floor
    digits[k] = v - carry * kWideBase - kWideBase / 2;
  }
}

// Puts a digit in the half of its word that slot (residue number) takes.
void PutWide(std::uint32_t (*quads)[2], int slot, std::int64_t digit) {
  const int s = slot % 4;
  quads[slot / 4][s % 2] |= static_cast<std::uint32_t>(static_cast<std::uint16_t>(digit))
                            << (16 * (s / 2));
}

// The bytes 0..count-1 of a number (limbs, least significant first; 0 above
// them), or of its negative mod 256^count when negate is set.
void NumberBytes(const std::uint32_t* limbs, int limbCount, bool negate, int count,
                 unsigned char* bytes) {
  unsigned carry = negate ? 1 : 0;  // -x = ~x + 1
  for (int p = 0; p < count; ++p) {
    const int k = p / 4;
    unsigned byte = k < limbCount ? (limbs[k] >> (8 * (p % 4))) & 0xFF : 0;
    if (negate) byte = (~byte & 0xFF) + carry;
    carry = byte >> 8;
    bytes[p] = static_cast<unsigned char>(byte & 0xFF);
  }
}

// Digits between -128 and 127 that sum to the bytes' number mod 256^count, each
// placed in byte `slot` of its word (the other bytes are kept).
void PutSignedDigits(const unsigned char* bytes, int count, int slot, std::uint32_t* words,
                     int stride) {
  int carry = 0;
  for (int p = 0; p < count; ++p) {
    int v = bytes[p] + carry;
    carry = v >= 128 ? 1 : 0;
    v -= 256 * carry;
    words[p * stride] |= (static_cast<std::uint32_t>(v) & 0xFF) << (8 * slot);
  }
}

}  // namespace

BlockCodec::BlockCodec(const CipherWorkspace& workspace, int L, int N, CodecKernel kernel) {
  if (N < 2 || N > kMaxCodecResidueCount || L < 1 || L > N - 1 || L > kMaxCodecBlockLength) {
    return;
  }
  const int count = N - 1;
  for (int k = 0; k < count; ++k) {
    const std::int32_t m = workspace.ModulusTable[k + 2];
    if (m < 2 || m > 255) {
      return;
    }
    modulus_[k] = static_cast<std::uint32_t>(m);
    reciprocal_[k] = ((std::uint64_t{1} << 32) + static_cast<std::uint64_t>(m) - 1) /
                     static_cast<std::uint64_t>(m);
  }
  if (!ArePairwiseCoprime(modulus_, count)) {
    return;
  }
  blockLength_ = L;
  residueCount_ = count;
  const int wordCount = (L + kWordBytes - 1) / kWordBytes;
  const int groupCount = (count + kGroupSize - 1) / kGroupSize;
  const int limbCount = (count + 3) / 4;  // M < 256^(N-1)

  prefixProductLimbs_[0][0] = 1;
  for (int i = 0; i < count; ++i) {
    for (int k = 0; k < limbCount; ++k) prefixProductLimbs_[i + 1][k] = prefixProductLimbs_[i][k];
    MultiplySmall(prefixProductLimbs_[i + 1], limbCount, modulus_[i]);
  }
  for (int k = 0; k < limbCount; ++k) productLimbs_[k] = prefixProductLimbs_[count][k];

  for (int g = 0; g < groupCount; ++g) {
    const int first = g * kGroupSize;
    const int last = first + kGroupSize < count ? first + kGroupSize : count;
    std::int64_t P = 1;
    for (int k = first; k < last; ++k) P *= modulus_[k];
    groupModulus_[g] = P;
    groupInverse_[g] = 1.0 / static_cast<double>(P);

    // Within the group: e(k) = (P / m(k)) * ((P / m(k))^-1 mod m(k)).
    for (int k = first; k < last; ++k) {
      const std::int64_t m = modulus_[k];
      const std::int64_t rest = P / m;
      crtFactor_[k] = rest * ModularInverse(rest % m, m);
    }

    // Across groups: C(g) = (M / P) * ((M / P)^-1 mod P), below M.
    std::uint32_t C[kMaxLimbs];
    for (int k = 0; k < limbCount; ++k) C[k] = productLimbs_[k];
    DivideSmall(C, limbCount, static_cast<std::uint64_t>(P));
    const std::int64_t inverse = ModularInverse(
        static_cast<std::int64_t>(ModSmall(C, limbCount, static_cast<std::uint64_t>(P))), P);
    MultiplySmall(C, limbCount, static_cast<std::uint64_t>(inverse));
    for (int k = 0; k < limbCount; ++k) crtLimbs_[k][g] = C[k];
    crtFraction_[g] = (inverse << 32) / P;  // C(g) / M = inverse / P

    // Encoding: the weight of word w is 2^(24 w) mod P.
    std::int64_t weight = 1;
    for (int w = 0; w < wordCount; ++w) {
      wordWeight_[g][w] = static_cast<double>(weight);
      weight = (weight << (8 * kWordBytes)) % P;
    }
  }

  // Garner's table, as BuildProductTable fills it (transposed), and its inverses.
  // Step i reads its own entry and the pairs from the one that holds i + 1 on.
  std::uint32_t product[kMaxCodecCipherBlock + 1];  // m(0) * ... * m(i-1) mod m(j)
  for (int j = 0; j < count; ++j) product[j] = 1;
  product[count] = 0;  // the free half of the last pair when the count is odd
  for (int i = 0; i < count; ++i) {
    const std::uint32_t m = modulus_[i];
    for (int j = (i + 1) / 2 * 2; j < count; j += 2) {
      prefixPairs_[i][j / 2] = product[j] | (std::uint64_t{product[j + 1]} << 32);
    }
    inverse_[i] = static_cast<std::uint32_t>(ModularInverse(product[i], m));
    inverseShoup_[i] = (std::uint64_t{inverse_[i]} << 32) / m;
    digitOffset_[i] = m * ((std::uint32_t{1} << kMaxRunningValueBits) / m + 1);
    for (int j = i + 1; j < count; ++j) product[j] = ReduceSmall(product[j] * m, j);
  }

  static const EncodeRunner kEncodeRuns[kMaxWords] = {
      &BlockCodec::EncodeRun<1>, &BlockCodec::EncodeRun<2>, &BlockCodec::EncodeRun<3>,
      &BlockCodec::EncodeRun<4>, &BlockCodec::EncodeRun<5>, &BlockCodec::EncodeRun<6>,
      &BlockCodec::EncodeRun<7>, &BlockCodec::EncodeRun<8>};
  static const DecodeRunner kDecodeRuns[kMaxGroups] = {
      &BlockCodec::DecodeRun<1>,  &BlockCodec::DecodeRun<2>,  &BlockCodec::DecodeRun<3>,
      &BlockCodec::DecodeRun<4>,  &BlockCodec::DecodeRun<5>,  &BlockCodec::DecodeRun<6>,
      &BlockCodec::DecodeRun<7>,  &BlockCodec::DecodeRun<8>,  &BlockCodec::DecodeRun<9>,
      &BlockCodec::DecodeRun<10>, &BlockCodec::DecodeRun<11>, &BlockCodec::DecodeRun<12>,
      &BlockCodec::DecodeRun<13>};
  encodeRun_ = kEncodeRuns[wordCount - 1];
  decodeRun_ = kDecodeRuns[groupCount - 1];
  if (kernel != CodecKernel::kPortable && IsCodecKernelSupported(kernel)) {
    kernel_ = kernel;
    if (kernel == CodecKernel::kAvx512) {
      FillEncodeLanes(encodeLanes_, modulus_, L, count);
    } else {
      FillEncodePairLanes(encodePairLanes_, modulus_, L, count);
    }
    FillDecodeLanes(limbCount);
  } else if (RESICRYPT_SSE2_KERNELS) {
    FillDecodeLanes(limbCount);  // for the portable level's SSE2 decoder
  }
  usable_ = true;
}

namespace {

inline double Load24(const unsigned char* b) {
  return static_cast<double>(b[0] | (b[1] << 8) | (b[2] << 16));
}

// The sum of a[i] * b[i] for i in [first, last), added as a balanced tree so that
// the additions wait on each other only log2(last - first) deep.
template <int first, int last>
inline double DotProduct(const double* a, const double* b) {
  if constexpr (last - first == 1) {
    return a[first] * b[first];
  } else {
    constexpr int middle = first + (last - first) / 2;
    return DotProduct<first, middle>(a, b) + DotProduct<middle, last>(a, b);
  }
}
template <std::size_t... g>
inline std::int64_t DotProduct(const std::int64_t* a, const std::uint32_t* b,
                               std::index_sequence<g...>) {
  return ((a[g] * b[g]) + ...);
}

// The low bytes of a number held in 32-bit limbs, least significant first.
inline void StoreBytes(const std::uint32_t* limbs, int count, unsigned char* out) {
  int p = 0;
  for (; p + 4 <= count; p += 4) {
    const std::uint32_t limb = limbs[p / 4];
    out[p] = static_cast<unsigned char>(limb & 0xFF);
    out[p + 1] = static_cast<unsigned char>((limb >> 8) & 0xFF);
    out[p + 2] = static_cast<unsigned char>((limb >> 16) & 0xFF);
    out[p + 3] = static_cast<unsigned char>(limb >> 24);
  }
  for (; p < count; ++p) {
    out[p] = static_cast<unsigned char>((limbs[p / 4] >> (8 * (p % 4))) & 0xFF);
  }
}

}  // namespace

// W words per block (W = ceil(L / 3)). Per group: the block number mod P as the
// dot product of the words with the weights, then the residues of its moduli.
template <int W>
void BlockCodec::EncodeRun(const unsigned char* blocks, std::size_t count,
                           unsigned char* residues) const {
  const int L = blockLength_;
  const int R = residueCount_;
  const int tailBytes = L - kWordBytes * (W - 1);  // 1..3 bytes in the last word
  const int fullGroups = R / kGroupSize;
  for (std::size_t b = 0; b < count; ++b, blocks += L, residues += R) {
    double words[W];
    for (int w = 0; w < W - 1; ++w) words[w] = Load24(blocks + kWordBytes * w);
    const unsigned char* last = blocks + kWordBytes * (W - 1);
    words[W - 1] = tailBytes == 3   ? Load24(last)
                   : tailBytes == 2 ? static_cast<double>(last[0] | (last[1] << 8))
                                    : static_cast<double>(last[0]);

    // Each product is below 2^48, the sum of at most 8 below 2^51: exact.
    int k = 0;
    for (int g = 0; g < fullGroups; ++g, k += kGroupSize) {
      const double x = DotProduct<0, W>(words, wordWeight_[g]);
      const auto value =
          static_cast<std::uint32_t>(RemainderByReciprocal(x, groupModulus_[g], groupInverse_[g]));
      residues[k] = static_cast<unsigned char>(ReduceSmall(value, k));
      residues[k + 1] = static_cast<unsigned char>(ReduceSmall(value, k + 1));
      residues[k + 2] = static_cast<unsigned char>(ReduceSmall(value, k + 2));
    }
    if (k < R) {
      const int g = fullGroups;
      const double x = DotProduct<0, W>(words, wordWeight_[g]);
      const auto value =
          static_cast<std::uint32_t>(RemainderByReciprocal(x, groupModulus_[g], groupInverse_[g]));
      for (; k < R; ++k) residues[k] = static_cast<unsigned char>(ReduceSmall(value, k));
    }
  }
}

// G groups per cipher block. V' in K limbs: the group values R(g) by the small
// Chinese remainder step, then V' = sum R(g) * C(g) - q * M with the quotient q
// estimated from the fractions C(g) / M; an addition of M puts a quotient that is
// one too large right. The low outBytes bytes of V' go out. The result says
// whether every V' lay below the product of all but the last topDigits moduli.
template <int G>
bool BlockCodec::DecodeRun(const unsigned char* residues, std::size_t count, unsigned char* out,
                           int outBytes, int topDigits,
                           codec_kernels::BlockFailures* failures) const {
  constexpr int K = (kGroupSize * G + 3) / 4;  // limbs above those of M stay 0
  const int R = residueCount_;
  const std::uint32_t* bound = prefixProductLimbs_[R - topDigits];
  bool allBelow = true;
  for (std::size_t b = 0; b < count; ++b, residues += R, out += outBytes) {
    std::int64_t value[G];
    // sum R(g) * C(g) / M in 32.32 fixed point, each term rounded down by less
    // than 2^-32 * R(g): the estimate is at most 13 * 2^24 / 2^32 < 1/16 short.
    // Rounded at one half it gives q exactly whenever V' / M is below one half,
    // as it always is (below one third) for the residues of a block under the
    // key, and q or q + 1 otherwise.
    std::int64_t quotient = std::int64_t{1} << 31;
    RESICRYPT_UNROLL
    for (int g = 0; g < G; ++g) {
      const int first = kGroupSize * g;
      std::int64_t x = residues[first] * crtFactor_[first];  // below 3 * 255 * 2^24 in all
      if (g < G - 1) {
        x += residues[first + 1] * crtFactor_[first + 1] +
             residues[first + 2] * crtFactor_[first + 2];
      } else {
        for (int k = first + 1; k < R; ++k) x += residues[k] * crtFactor_[k];
      }
      value[g] = RemainderByReciprocal(x, groupModulus_[g], groupInverse_[g]);
      quotient += value[g] * crtFraction_[g];  // below 2^56 each, 2^60 in all
    }
    const std::int64_t q = quotient >> 32;  // below 13 * 2^24

    // Limb k: carry + sum R(g) * C(g)[k] - q * M[k], each part below 2^60.
    std::uint32_t limbs[K];
    std::int64_t carry = 0;
    RESICRYPT_UNROLL
    for (int k = 0; k < K; ++k) {
      const std::int64_t t = carry - q * productLimbs_[k] +
                             DotProduct(value, crtLimbs_[k], std::make_index_sequence<G>());
      limbs[k] = static_cast<std::uint32_t>(static_cast<std::uint64_t>(t) & kLimbMask);
      carry = (t - static_cast<std::int64_t>(limbs[k])) / (std::int64_t{1} << kLimbBits);
    }
    // The sum came out as V' - M when the quotient was one too large.
    if (carry < 0) {
      std::uint64_t c = 0;
      for (int k = 0; k < K; ++k) {
        const std::uint64_t s = std::uint64_t{limbs[k]} + productLimbs_[k] + c;
        limbs[k] = static_cast<std::uint32_t>(s & kLimbMask);
        c = s >> kLimbBits;
      }
      assert(carry + static_cast<std::int64_t>(c) == 0);
    } else {
      assert(carry == 0);
    }

    StoreBytes(limbs, outBytes, out);
    if (failures != nullptr) {
      // The block's check: every residue below its modulus, V' below 256^L.
      std::uint32_t above = 0;
      for (int k = 0; k < R; ++k) above |= residues[k] >= modulus_[k] ? 1u : 0u;
      const int L = blockLength_;
      for (int k = L / 4; k < K; ++k) above |= 4 * k >= L ? limbs[k] : limbs[k] >> (8 * (L - 4 * k));
      if (above != 0) failures->Add(1, b);
    }
    if (topDigits > 0) {
      bool below = false;  // equal is not below
      for (int k = K - 1; k >= 0; --k) {
        if (limbs[k] != bound[k]) {
          below = limbs[k] < bound[k];
          break;
        }
      }
      allBelow = allBelow && below;
    }
  }
  return allBelow;
}

// The vector decoders' tables (codec_kernels.h).
void BlockCodec::FillDecodeLanes(int limbCount) {
  using namespace codec_kernels;
  DecodeLanes& lanes = decodeLanes_;
  const int R = residueCount_;
  const int L = blockLength_;
  lanes.quads = (R + 3) / 4;
  lanes.bias = (255 * R + 1) / 2;

  // F = 2 and P: 8 P >= bits(M) + 1, so that every bit of V' and the sign of
  // V' - M are in the columns (codec_kernels.h).
  int bits = 32 * limbCount;
  while (bits > 0 && ((productLimbs_[(bits - 1) / 32] >> ((bits - 1) % 32)) & 1) == 0) --bits;
  const int F = 2;
  const int P = (bits + 1 + 7) / 8 > L ? (bits + 1 + 7) / 8 : L;
  assert(P <= kMaxColumns);
  lanes.fractionBytes = F;
  lanes.columns = P;
  for (int j = 0; j < kMaxQuads; ++j) {
    for (int b = 0; b < 4; ++b) {
      const int i = 4 * j + b;
      const std::uint32_t limit = i < R ? modulus_[i] - 1 : 255;
      lanes.residueLimit[j] |= limit << (8 * b);
    }
  }

  // Fetch windows: lanes t of a group read bytes (t - first) R + b < 128 of theirs.
  const int perGroup = 124 / R + 1 < kLanes ? 124 / R + 1 : kLanes;
  lanes.groups = (kLanes + perGroup - 1) / perGroup;
  lanes.groupStride = perGroup * R;
  lanes.reach = (lanes.groups - 1) * lanes.groupStride + 4 * (lanes.quads - 1) + 128;
  for (int t = 0; t < kLanes; ++t) {
    const int g = t / perGroup;
    for (int b = 0; b < 4; ++b) {
      lanes.fetchIndex[g][4 * t + b] = static_cast<unsigned char>((t - g * perGroup) * R + b);
      lanes.fetchMask[g] |= std::uint64_t{1} << (4 * t + b);
    }
  }

  // The small-product decoder: 255 R M < 2^52 (M below 2^44 at most, in two limbs).
  const double productValue =
      static_cast<double>(productLimbs_[0]) +
      (limbCount > 1 ? static_cast<double>(productLimbs_[1]) * 4294967296.0 : 0.0);
  lanes.smallProduct = R <= kMaxSmallResidues && L <= kMaxSmallBlock && bits <= 44 &&
                       255.0 * R * productValue < 4503599627370496.0;  // 2^52
  if (lanes.smallProduct) {
    lanes.smallBound = static_cast<double>(std::uint64_t{1} << (8 * L));
    for (int x = 0; x < 128; ++x) {
      lanes.smallLimit[x] = static_cast<unsigned char>(x < kLanes * R ? modulus_[x % R] - 1 : 255);
    }
    lanes.product = productValue;
    lanes.productInverse = 1.0 / productValue;
    for (int h = 0; h < 2; ++h) {
      for (int t = 0; t < 8; ++t) {
        for (int i = 0; i < R; ++i) {
          lanes.smallFetch[i][h][8 * t] = static_cast<unsigned char>((8 * h + t) * R + i);
        }
      }
    }
    for (int x = 0; x < kLanes * L; ++x) {
      const int t = x / L;
      lanes.smallStore[x] = static_cast<unsigned char>(64 * (t / 8) + 8 * (t % 8) + x % L);
    }
  }

  // Weights of residue i: digits of C(i) mod 256^P and of round(c(i) 256^F / m(i)).
  unsigned char bytes[kMaxColumns + 1];
  for (int i = 0; i < R; ++i) {
    const std::uint32_t m = modulus_[i];
    std::uint32_t C[kMaxLimbs];
    for (int k = 0; k < limbCount; ++k) C[k] = productLimbs_[k];
    DivideSmall(C, limbCount, m);
    const auto c = static_cast<std::uint64_t>(
        ModularInverse(static_cast<std::int64_t>(ModSmall(C, limbCount, m)), m));
    MultiplySmall(C, limbCount, c);
    if (lanes.smallProduct) {
      lanes.productWeight[i] = static_cast<double>(C[0]) +
                               (limbCount > 1 ? static_cast<double>(C[1]) * 4294967296.0 : 0.0);
    }
    NumberBytes(C, limbCount, false, P, bytes);
    PutSignedDigits(bytes, P, i % 4, &lanes.columnWeight[0][i / 4], kMaxQuads + 1);
    const std::uint64_t fraction = ((c << (8 * F)) + m / 2) / m;  // at most 256^F
    for (int k = 0; k <= F; ++k)
      bytes[k] = static_cast<unsigned char>((fraction >> (8 * k)) & 0xFF);
    PutSignedDigits(bytes, F + 1, i % 4, &lanes.fractionWeight[0][i / 4], kMaxQuads);
  }
  // q' in slots R (times -M) and R + 1 (times -256 M).
  NumberBytes(productLimbs_, limbCount, true, P + 1, bytes);
  PutSignedDigits(bytes, P, R % 4, &lanes.columnWeight[0][R / 4], kMaxQuads + 1);
  PutSignedDigits(bytes, P - 1, (R + 1) % 4, &lanes.columnWeight[1][(R + 1) / 4], kMaxQuads + 1);

  // The 15-bit decoders' F = 1 and P: 15 P >= bits(M) + 1 and 15 P >= 8 L.
  const int wideOut = (8 * L + kWideBits - 1) / kWideBits;
  const int wideAll = (bits + 1 + kWideBits - 1) / kWideBits;
  const int wideF = 1;
  const int wideP = wideAll > wideOut ? wideAll : wideOut;
  assert(wideP <= kMaxWideColumns);
  lanes.wideFraction = wideF;
  lanes.wideColumns = wideP;
  for (int p = 0; p < wideP; ++p) {
    const int below = 8 * L - kWideBits * p;  // bits of digit p below 256^L
    lanes.wideValueMask[p] =
        below >= kWideBits ? 0u : (below <= 0 ? 0x7FFFu : 0x7FFFu & ~((1u << below) - 1));
  }
  std::int64_t digits[kMaxWideColumns];
  for (int i = 0; i < R; ++i) {
    const std::uint32_t m = modulus_[i];
    std::uint32_t C[kMaxLimbs];
    for (int k = 0; k < limbCount; ++k) C[k] = productLimbs_[k];
    DivideSmall(C, limbCount, m);
    const auto c = static_cast<std::uint64_t>(
        ModularInverse(static_cast<std::int64_t>(ModSmall(C, limbCount, m)), m));
    MultiplySmall(C, limbCount, c);
    for (int p = 0; p < wideP; ++p) digits[p] = WideDigit(C, limbCount, p);
    NormalizeWide(digits, wideP);
    for (int p = 0; p < wideP; ++p) PutWide(lanes.wideColumnWeight[p], i, digits[p]);
    // round(c B^F / m) by long division, digit by digit from the top.
    std::uint64_t rest = c;
    for (int k = wideF - 1; k >= 0; --k) {
      rest <<= kWideBits;
      digits[k] = static_cast<std::int64_t>(rest / m);
      rest %= m;
    }
    digits[wideF] = 0;
    if (2 * rest >= m) {
      for (int k = 0; k <= wideF && ++digits[k] == kWideBase; ++k) digits[k] = 0;
    }
    NormalizeWide(digits, wideF + 1);
    for (int k = 0; k <= wideF; ++k) PutWide(lanes.wideFractionWeight[k], i, digits[k]);
  }
  for (int p = 0; p < wideP; ++p) digits[p] = -WideDigit(productLimbs_, limbCount, p);
  NormalizeWide(digits, wideP);
  for (int p = 0; p < wideP; ++p) PutWide(lanes.wideColumnWeight[p], R, digits[p]);

  // Output: byte x of store o is byte p of block t, in packed vector p / 4.
  lanes.packed = (L + 3) / 4;
  lanes.stores = (kLanes * L + 63) / 64;
  for (int o = 0; o < lanes.stores; ++o) {
    for (int x = 0; x < 64 && 64 * o + x < kLanes * L; ++x) {
      const int t = (64 * o + x) / L;
      const int p = (64 * o + x) % L;
      lanes.storeIndex[o][x] = static_cast<unsigned char>(64 * (p / 4 % 2) + 4 * t + p % 4);
      lanes.storeMask[o][p / 8] |= std::uint64_t{1} << x;
    }
  }
}

bool BlockCodec::DecodeOne(const void* codec, const unsigned char* residues, unsigned char* block) {
  const auto* self = static_cast<const BlockCodec*>(codec);
  codec_kernels::BlockFailures failures;
  (self->*(self->decodeRun_))(residues, 1, block, self->blockLength_, 0, &failures);
  return failures.count == 0;
}

void BlockCodec::Encode(const unsigned char* block, unsigned char* residues) const {
  assert(usable_);
  (this->*encodeRun_)(block, 1, residues);
}

void BlockCodec::EncodeBlocks(const unsigned char* blocks, std::size_t count,
                              unsigned char* residues) const {
  assert(usable_);
  if (kernel_ == CodecKernel::kAvx512) {
    codec_kernels::EncodeBlocksAvx512(encodeLanes_, blockLength_, residueCount_, blocks, count,
                                      residues);
    return;
  }
  if (kernel_ == CodecKernel::kAvx2) {
    codec_kernels::EncodeBlocksAvx2(encodePairLanes_, blockLength_, residueCount_, blocks, count,
                                    residues);
    return;
  }
  (this->*encodeRun_)(blocks, count, residues);
}

void BlockCodec::Decode(const unsigned char* residues, unsigned char* block) const {
  assert(usable_);
  (this->*decodeRun_)(residues, 1, block, blockLength_, 0, nullptr);
}

void BlockCodec::DecodeBlocksWith(const unsigned char* residues, std::size_t count,
                                  unsigned char* blocks,
                                  codec_kernels::BlockFailures& failures) const {
  assert(usable_);
  if (kernel_ == CodecKernel::kAvx512) {
    codec_kernels::DecodeBlocksAvx512(decodeLanes_, blockLength_, residueCount_, residues, count,
                                      blocks, &BlockCodec::DecodeOne, this, failures);
    return;
  }
  if (kernel_ == CodecKernel::kAvx2) {
    codec_kernels::DecodeBlocksAvx2(decodeLanes_, blockLength_, residueCount_, residues, count,
                                    blocks, &BlockCodec::DecodeOne, this, failures);
    return;
  }
#if RESICRYPT_SSE2_KERNELS
  codec_kernels::DecodeBlocksSse2(decodeLanes_, blockLength_, residueCount_, residues, count,
                                  blocks, &BlockCodec::DecodeOne, this, failures);
#else
  (this->*decodeRun_)(residues, count, blocks, blockLength_, 0, &failures);
#endif
}

void BlockCodec::DecodeBlocks(const unsigned char* residues, std::size_t count,
                              unsigned char* blocks) const {
  codec_kernels::BlockFailures unread;
  DecodeBlocksWith(residues, count, blocks, unread);
}

codec_kernels::BlockFailures BlockCodec::DecodeCheckedBlocks(const unsigned char* residues,
                                                             std::size_t count,
                                                             unsigned char* blocks) const {
  codec_kernels::BlockFailures failures;
  DecodeBlocksWith(residues, count, blocks, failures);
  return failures;
}

void BlockCodec::DecodeValue(const unsigned char* residues, unsigned char* digits) const {
  assert(usable_);
  (this->*decodeRun_)(residues, 1, digits, residueCount_, 0, nullptr);
}

bool BlockCodec::DecodeAndTestTopDigits(const unsigned char* residues, int topDigits,
                                        unsigned char* block) const {
  assert(usable_ && topDigits >= 0 && topDigits <= residueCount_);
  return (this->*decodeRun_)(residues, 1, block, blockLength_, topDigits, nullptr);
}

bool BlockCodec::BlocksHaveZeroTopDigits(int topDigits) const {
  assert(usable_ && topDigits >= 0 && topDigits <= residueCount_);
  // At least 256^L = 2^(8 L): a bit from 8 L up.
  const std::uint32_t* bound = prefixProductLimbs_[residueCount_ - topDigits];
  for (int bit = 8 * blockLength_; bit < kLimbBits * kMaxLimbs; ++bit) {
    if ((bound[bit / kLimbBits] >> (bit % kLimbBits)) & 1) return true;
  }
  return false;
}

// Garner with the inverses looked up instead of walked (the walk finds the same,
// unique solution). The running values stay unreduced until they are read, two
// to a 64-bit word: each addend is below 255^2 and there are at most 39, so a
// value stays below 2^22 and never reaches into its neighbour. Digit i is
// ((residue - running value) * inverse) mod m(i), the difference taken above
// digitOffset_ so that it stays positive, the product reduced with the
// precomputed quotient of the inverse (Shoup): it lands in [0, 2 m).
int BlockCodec::MixedRadixDigits(const unsigned char* residues, unsigned char* digits) const {
  assert(usable_);
  const int R = residueCount_;
  const int pairs = (R + 1) / 2;
  std::uint64_t running[kMaxPairs] = {};
  int zeros = 0;
  // Digit i from the running value of position i; then its multiples are added
  // to the pairs from the one that holds i + 1 on.
  const auto step = [&](int i, std::uint32_t done, int firstPair) {
    const std::uint32_t m = modulus_[i];
    const std::uint64_t t = residues[i] + digitOffset_[i] - done;  // below 2^23
    const std::uint64_t q = (t * inverseShoup_[i]) >> 32;
    auto g = static_cast<std::uint32_t>(t * inverse_[i] - q * m);
    if (g >= m) g -= m;
    if (digits != nullptr) digits[i] = static_cast<unsigned char>(g);
    if (g == 0) ++zeros;
    const std::uint64_t* row = prefixPairs_[i];
    for (int j = firstPair; j < pairs; ++j) running[j] += g * row[j];
  };
  for (int p = 0; p < pairs; ++p) {
    step(2 * p, static_cast<std::uint32_t>(running[p] & kLimbMask), p);
    if (2 * p + 1 < R) step(2 * p + 1, static_cast<std::uint32_t>(running[p] >> 32), p + 1);
  }
  return zeros;
}

}  // namespace resicrypt
