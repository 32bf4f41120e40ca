// The AVX2 kernels (with FMA) of the block codec, for the many x86-64 processors
// without the AVX-512 ones. Only functions marked with the target attribute use
// those instructions, and the codec calls them only after HasAvx2Kernels() said
// yes. AVX2 has neither vpdpbusd nor byte permutes across the whole vector: the
// products go through vpmaddwd on pairs of 16-bit words, and blocks are moved
// into lanes by 8 x 8 transposes of 32-bit words.
#include <cstring>

#include "engine/codec_kernels.h"

#if RESICRYPT_X86_KERNELS
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define RESICRYPT_AVX2 __attribute__((target("avx2,fma")))
// The loops over a step's vectors, pairs and quads run a count fixed per
// instance; unrolled, their sums stay in registers.
#define RESICRYPT_UNROLL _Pragma("GCC unroll 16")
#endif

namespace resicrypt {
namespace codec_kernels {

#if RESICRYPT_X86_KERNELS

bool HasAvx2Kernels() {
  static const bool supported = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  }();
  return supported;
}

namespace {

RESICRYPT_AVX2 inline __m256i Load(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
RESICRYPT_AVX2 inline void Store(void* p, __m256i v) {
  _mm256_storeu_si256(static_cast<__m256i*>(p), v);
}

// x mod m for integers |x| < 2^20 in float lanes, as in the AVX-512 encoder: the
// floor of x / m + 1 / (2m) is exact there.
RESICRYPT_AVX2 inline __m256i Remainder(__m256i x, const float* modulus, const float* inverse,
                                        const float* halfInverse) {
  const __m256 value = _mm256_cvtepi32_ps(x);
  const __m256 estimate =
      _mm256_fmadd_ps(value, _mm256_loadu_ps(inverse), _mm256_loadu_ps(halfInverse));
  const __m256 q = _mm256_floor_ps(estimate);
  return _mm256_cvtps_epi32(_mm256_fnmadd_ps(q, _mm256_loadu_ps(modulus), value));
}

// Rows r[0..7] of eight 32-bit words become columns: word j of row t goes to
// word t of row j.
RESICRYPT_AVX2 inline void Transpose8(__m256i* r) {
  const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]);
  const __m256i t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]);
  const __m256i t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]);
  const __m256i t5 = _mm256_unpackhi_epi32(r[4], r[5]);
  const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]);
  const __m256i t7 = _mm256_unpackhi_epi32(r[6], r[7]);
  const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);
  const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);
  const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);
  const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);
  const __m256i u4 = _mm256_unpacklo_epi64(t4, t6);
  const __m256i u5 = _mm256_unpackhi_epi64(t4, t6);
  const __m256i u6 = _mm256_unpacklo_epi64(t5, t7);
  const __m256i u7 = _mm256_unpackhi_epi64(t5, t7);
  r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// The residues of V vectors (values 0..254) as 8 V bytes in order, 32 at a time.
RESICRYPT_AVX2 inline __m256i PackBytes(__m256i a, __m256i b, __m256i c, __m256i d) {
  const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_packus_epi32(c, d));
  return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// One step of V vectors; data(s, k) gives the pair vector of chunk k for vector s.
// The residue bytes of the step go to out, 32 bytes per four vectors (the bytes
// past the step's blocks are scrap that the next step overwrites).
template <int V, int K, typename Data>
RESICRYPT_AVX2 inline void EncodeVectors(const EncodePairLanes& lanes, Data data,
                                         unsigned char* out) {
  __m256i residues[(V + 3) / 4 * 4];
  RESICRYPT_UNROLL
  for (int s = 0; s < V; ++s) {
    // Two chains, so that the additions wait on each other half as long.
    __m256i sum = _mm256_setzero_si256();
    __m256i other = _mm256_setzero_si256();
    RESICRYPT_UNROLL
    for (int k = 0; k < K; ++k) {
      const __m256i product = _mm256_madd_epi16(data(s, k), Load(lanes.weight[s][k]));
      if (k % 2 == 0) {
        sum = _mm256_add_epi32(sum, product);
      } else {
        other = _mm256_add_epi32(other, product);
      }
    }
    residues[s] = Remainder(_mm256_add_epi32(sum, other), lanes.modulus[s], lanes.inverse[s],
                            lanes.halfInverse[s]);
  }
  RESICRYPT_UNROLL
  for (int s = V; s < (V + 3) / 4 * 4; ++s) residues[s] = _mm256_setzero_si256();
  RESICRYPT_UNROLL
  for (int s = 0; s < V; s += 4) {
    const __m256i bytes = PackBytes(residues[s], residues[s + 1], residues[s + 2], residues[s + 3]);
    if (V - s <= 2) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * s), _mm256_castsi256_si128(bytes));
    } else {
      Store(out + 8 * s, bytes);
    }
  }
}

// Bytes a step may store: 16 for up to two vectors, else 32 per four.
constexpr int StoreBytes(int V) { return V <= 2 ? 16 : (V + 3) / 4 * 32; }

// The pair vectors of a step (a lambda would not take the target attribute).
struct BroadcastPairs {
  const std::int32_t* pairs;
  RESICRYPT_AVX2 __m256i operator()(int, int k) const { return _mm256_set1_epi32(pairs[k]); }
};
struct PickedPairs {
  const EncodePairLanes& lanes;
  __m256i pairs;
  RESICRYPT_AVX2 __m256i operator()(int s, int k) const {
    return _mm256_permutevar8x32_epi32(pairs, Load(lanes.pick[s][k]));
  }
};

// One block a step: its bytes widened to 16 bits (16 at a time), each pair
// broadcast to all lanes.
template <int V, int K>
RESICRYPT_AVX2 inline void EncodeOne(const EncodePairLanes& lanes, const unsigned char* block,
                                     unsigned char* out) {
  alignas(32) std::int32_t pairs[(K + 7) / 8 * 8];
  RESICRYPT_UNROLL
  for (int h = 0; h < (K + 7) / 8; ++h) {
    Store(pairs + 8 * h,
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * h))));
  }
  EncodeVectors<V, K>(lanes, BroadcastPairs{pairs}, out);
}

// Several blocks a step, from one 16-byte window.
template <int K>
RESICRYPT_AVX2 inline void EncodeSeveral(const EncodePairLanes& lanes, const unsigned char* window,
                                         unsigned char* out) {
  const __m256i bytes =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window)));
  const __m256i pairs = _mm256_shuffle_epi8(bytes, Load(lanes.windowIndex));
  EncodeVectors<2, K>(lanes, PickedPairs{lanes, pairs}, out);
}

template <int V, int K>
RESICRYPT_AVX2 inline void EncodeStep(const EncodePairLanes& lanes, bool several,
                                      const unsigned char* in, unsigned char* out) {
  if constexpr (V == 2) {
    if (several) {
      EncodeSeveral<K>(lanes, in, out);
      return;
    }
  }
  EncodeOne<V, K>(lanes, in, out);
}

template <int V, int K>
RESICRYPT_AVX2 void EncodeRun(const EncodePairLanes& lanes, int L, int R, const unsigned char* in,
                              std::size_t count, unsigned char* out) {
  const auto G = static_cast<std::size_t>(lanes.blocksPerStep);
  const bool several = G > 1;
  const std::size_t inStep = G * static_cast<std::size_t>(L);
  const std::size_t outStep = G * static_cast<std::size_t>(R);
  const std::ptrdiff_t reads = several ? 16 : (K + 7) / 8 * 16;
  constexpr std::ptrdiff_t kWrites = StoreBytes(V);
  const unsigned char* const inEnd = in + count * static_cast<std::size_t>(L);
  unsigned char* const outEnd = out + count * static_cast<std::size_t>(R);
  // Full steps whose reads and stores stay inside the buffers.
  while (count >= G && inEnd - in >= reads && outEnd - out >= kWrites) {
    EncodeStep<V, K>(lanes, several, in, out);
    in += inStep;
    out += outStep;
    count -= G;
  }
  // The last few blocks through a zeroed window and a scratch output.
  while (count > 0) {
    const std::size_t blocks = count < G ? count : G;
    alignas(32) unsigned char window[32] = {};
    alignas(32) unsigned char scratch[kWrites];
    std::memcpy(window, in, blocks * static_cast<std::size_t>(L));
    EncodeStep<V, K>(lanes, several, window, scratch);
    std::memcpy(out, scratch, blocks * static_cast<std::size_t>(R));
    in += blocks * static_cast<std::size_t>(L);
    out += blocks * static_cast<std::size_t>(R);
    count -= blocks;
  }
}

using EncodeRunner = void (*)(const EncodePairLanes&, int, int, const unsigned char*, std::size_t,
                              unsigned char*);
template <int V>
constexpr EncodeRunner kEncodeRuns[kMaxBlockPairs] = {
    EncodeRun<V, 1>, EncodeRun<V, 2>,  EncodeRun<V, 3>,  EncodeRun<V, 4>,
    EncodeRun<V, 5>, EncodeRun<V, 6>,  EncodeRun<V, 7>,  EncodeRun<V, 8>,
    EncodeRun<V, 9>, EncodeRun<V, 10>, EncodeRun<V, 11>, EncodeRun<V, 12>};

// The quads split for vpmaddwd: slots 0 and 2 (even) and 1 and 3 (odd) of each
// quad as 16-bit words.
struct Split {
  __m256i even;
  __m256i odd;
};
RESICRYPT_AVX2 inline Split SplitQuad(__m256i quad) {
  return {_mm256_and_si256(quad, _mm256_set1_epi32(0x00FF00FF)), _mm256_srli_epi16(quad, 8)};
}

// The column sum of Q quads against weights[j][0..1] (codec_kernels.h), in two
// chains.
template <int Q>
RESICRYPT_AVX2 inline __m256i Column(__m256i column, const Split* quads,
                                     const std::uint32_t (*weights)[2]) {
  __m256i other = _mm256_setzero_si256();
  RESICRYPT_UNROLL
  for (int j = 0; j < Q; ++j) {
    column = _mm256_add_epi32(
        column,
        _mm256_madd_epi16(quads[j].even, _mm256_set1_epi32(static_cast<int>(weights[j][0]))));
    other = _mm256_add_epi32(
        other, _mm256_madd_epi16(quads[j].odd, _mm256_set1_epi32(static_cast<int>(weights[j][1]))));
  }
  return _mm256_add_epi32(column, other);
}

// 8 blocks a step, one per 32-bit lane, in digits of 15 bits (codec_kernels.h):
// Q residue quads per block, R = 4 (Q - 1) + Tail (Tail 1..3) or 4 Q (Tail 0);
// q' takes slot R.
template <int Q, int Tail>
RESICRYPT_AVX2 void DecodeRun(const DecodeLanes& lanes, int L, int R, const unsigned char* in,
                              std::size_t count, unsigned char* out, DecodeOneBlock redo,
                              const void* context) {
  constexpr int kSteps = 8;
  constexpr int kRows = (Q + 7) / 8;  // 32-byte rows read per block
  const auto blockBytes = static_cast<std::size_t>(R);
  const auto plainBytes = static_cast<std::size_t>(L);
  const std::size_t reach = (kSteps - 1) * blockBytes + 32 * kRows;
  const std::size_t writes = (kSteps - 1) * plainBytes + 32;
  const int F = lanes.wideFraction;
  const int P = lanes.wideColumns;
  const int words = (L + 3) / 4;  // 32-bit words of output per block
  const __m256i zero = _mm256_setzero_si256();
  const __m256i digitMask = _mm256_set1_epi32(0x7FFF);
  alignas(32) unsigned char scratchIn[kSteps * kMaxResidues + 32 * 2];
  alignas(32) unsigned char scratchOut[kSteps * 24 + 32];

  while (count > 0) {
    const unsigned char* source = in;
    std::size_t blocks = kSteps;
    if (count < kSteps || count * blockBytes < reach) {
      blocks = count < kSteps ? count : kSteps;
      std::memset(scratchIn, 0, sizeof scratchIn);
      std::memcpy(scratchIn, in, blocks * blockBytes);
      source = scratchIn;
    }

    // Quad j of block t into lane t of quads[j].
    __m256i quads[kRows * 8];
    RESICRYPT_UNROLL
    for (int h = 0; h < kRows; ++h) {
      RESICRYPT_UNROLL
      for (int t = 0; t < kSteps; ++t) quads[8 * h + t] = Load(source + t * blockBytes + 32 * h);
      Transpose8(quads + 8 * h);
    }
    Split split[Q + 1];
    RESICRYPT_UNROLL
    for (int j = 0; j < Q; ++j) split[j] = SplitQuad(quads[j]);

    // The quotient q' and whether the lane is doubtful (fraction digits 1..F-1 all 0).
    __m256i carry = zero;
    __m256i fractionBits = zero;
    for (int c = 0; c < F; ++c) {
      const __m256i start = c == 0 ? _mm256_set1_epi32(lanes.bias) : zero;
      const __m256i column =
          _mm256_add_epi32(Column<Q>(start, split, lanes.wideFractionWeight[c]), carry);
      carry = _mm256_srai_epi32(column, 15);
      if (c >= 1) fractionBits = _mm256_or_si256(fractionBits, column);
    }
    const __m256i q = _mm256_add_epi32(Column<Q>(zero, split, lanes.wideFractionWeight[F]), carry);
    const int doubtful = _mm256_movemask_ps(
        _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(fractionBits, digitMask), zero)));
    // q' (below 2^14) into the 16-bit half of slot R.
    constexpr int kOutQuads = Tail == 0 ? Q + 1 : Q;
    if (Tail == 0) {
      split[Q] = {q, zero};
    } else if (Tail == 1) {
      split[Q - 1].odd = _mm256_blend_epi16(split[Q - 1].odd, q, 0x55);
    } else if (Tail == 2) {
      split[Q - 1].even = _mm256_blend_epi16(split[Q - 1].even, _mm256_slli_epi32(q, 16), 0xAA);
    } else {
      split[Q - 1].odd = _mm256_blend_epi16(split[Q - 1].odd, _mm256_slli_epi32(q, 16), 0xAA);
    }

    // The output columns and their carries; their digits gathered into 32-bit
    // words, word k of block t in lane t of packed[k].
    __m256i packed[8];
    RESICRYPT_UNROLL
    for (int k = 0; k < 8; ++k) packed[k] = zero;
    carry = zero;
    int negative = 0;
    __m256i word = zero;
    int wordBits = 0;  // bits of word already filled
    int done = 0;      // words filled
    for (int p = 0; p < P; ++p) {
      const __m256i column =
          _mm256_add_epi32(Column<kOutQuads>(zero, split, lanes.wideColumnWeight[p]), carry);
      carry = _mm256_srai_epi32(column, 15);
      if (p == P - 1) {
        negative = _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(column, 17)));
      }
      if (done < words) {
        const __m256i digit = _mm256_and_si256(column, digitMask);
        word = _mm256_or_si256(word, _mm256_sll_epi32(digit, _mm_cvtsi32_si128(wordBits)));
        wordBits += 15;
        if (wordBits >= 32) {
          packed[done++] = word;
          wordBits -= 32;
          word = _mm256_srl_epi32(digit, _mm_cvtsi32_si128(15 - wordBits));
        }
      }
    }
    if (done < words) packed[done] = word;
    // Row t after the transpose holds block t's bytes, stored 32 at a time in
    // block order (each store's bytes past the block are written again by the next).
    Transpose8(packed);
    const bool direct = blocks == kSteps && count * plainBytes >= writes;
    unsigned char* const target = direct ? out : scratchOut;
    RESICRYPT_UNROLL
    for (int t = 0; t < kSteps; ++t) Store(target + t * plainBytes, packed[t]);
    if (!direct) std::memcpy(out, scratchOut, blocks * plainBytes);

    unsigned wrong = static_cast<unsigned>(doubtful & negative) & ((1u << blocks) - 1);
    while (wrong != 0) {
      const unsigned b = static_cast<unsigned>(__builtin_ctz(wrong));
      wrong &= wrong - 1;
      redo(context, in + b * blockBytes, out + b * plainBytes);
    }
    in += blocks * blockBytes;
    out += blocks * plainBytes;
    count -= blocks;
  }
}

using DecodeRunner = void (*)(const DecodeLanes&, int, int, const unsigned char*, std::size_t,
                              unsigned char*, DecodeOneBlock, const void*);
template <int Q>
constexpr DecodeRunner kDecodeRuns[4] = {DecodeRun<Q, 0>, DecodeRun<Q, 1>, DecodeRun<Q, 2>,
                                         DecodeRun<Q, 3>};

}  // namespace

void EncodeBlocksAvx2(const EncodePairLanes& lanes, int L, int R, const unsigned char* blocks,
                      std::size_t count, unsigned char* residues) {
  const int k = lanes.pairs - 1;
  switch (lanes.vectors) {
    case 1:
      kEncodeRuns<1>[k](lanes, L, R, blocks, count, residues);
      break;
    case 2:
      kEncodeRuns<2>[k](lanes, L, R, blocks, count, residues);
      break;
    case 3:
      kEncodeRuns<3>[k](lanes, L, R, blocks, count, residues);
      break;
    case 4:
      kEncodeRuns<4>[k](lanes, L, R, blocks, count, residues);
      break;
    default:
      kEncodeRuns<5>[k](lanes, L, R, blocks, count, residues);
      break;
  }
}

void DecodeBlocksAvx2(const DecodeLanes& lanes, int L, int R, const unsigned char* residues,
                      std::size_t count, unsigned char* blocks, DecodeOneBlock redo,
                      const void* context) {
  static constexpr const DecodeRunner* kRuns[kMaxQuads] = {
      kDecodeRuns<1>, kDecodeRuns<2>, kDecodeRuns<3>, kDecodeRuns<4>, kDecodeRuns<5>,
      kDecodeRuns<6>, kDecodeRuns<7>, kDecodeRuns<8>, kDecodeRuns<9>, kDecodeRuns<10>};
  kRuns[lanes.quads - 1][R % 4](lanes, L, R, residues, count, blocks, redo, context);
}

#else  // no x86 kernels with this compiler

bool HasAvx2Kernels() { return false; }
void EncodeBlocksAvx2(const EncodePairLanes&, int, int, const unsigned char*, std::size_t,
                      unsigned char*) {}
void DecodeBlocksAvx2(const DecodeLanes&, int, int, const unsigned char*, std::size_t,
                      unsigned char*, DecodeOneBlock, const void*) {}

#endif

}  // namespace codec_kernels
}  // namespace resicrypt
