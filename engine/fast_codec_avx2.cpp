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
#define RESICRYPT_WIDE_TARGET RESICRYPT_AVX2
#include "engine/fast_codec_wide.h"
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

// One step of V vectors; data(s, k) gives the word vector of chunk (or pair) k
// for vector s. With Fold, the lanes start at lanes.start and their sums are
// folded before the remainder (codec_kernels.h). The residue bytes of the step go
// to out, 32 bytes per four vectors (the bytes past the step's blocks are scrap
// that the next step overwrites).
template <int V, int K, bool Fold, typename Data>
RESICRYPT_AVX2 inline void EncodeVectors(const EncodePairLanes& lanes, Data data,
                                         unsigned char* out) {
  __m256i residues[(V + 3) / 4 * 4];
  RESICRYPT_UNROLL
  for (int s = 0; s < V; ++s) {
    // Two chains, so that the additions wait on each other half as long.
    __m256i sum = Fold ? Load(lanes.start[s]) : _mm256_setzero_si256();
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
    sum = _mm256_add_epi32(sum, other);
    if (Fold) {
      sum =
          _mm256_madd_epi16(_mm256_xor_si256(sum, _mm256_set1_epi32(0x8000)), Load(lanes.fold[s]));
    }
    residues[s] = Remainder(sum, lanes.modulus[s], lanes.inverse[s], lanes.halfInverse[s]);
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

// The word vectors of a step (a lambda would not take the target attribute).
struct BroadcastChunks {
  const __m256i* chunks;
  RESICRYPT_AVX2 __m256i operator()(int, int k) const { return chunks[k]; }
};
struct PickedPairs {
  const EncodePairLanes& lanes;
  __m256i pairs;
  RESICRYPT_AVX2 __m256i operator()(int s, int k) const {
    return _mm256_permutevar8x32_epi32(pairs, Load(lanes.pick[s][k]));
  }
};

// One block a step of C chunks: each chunk broadcast from the block to all
// lanes, its words' top bits flipped; lastMask keeps the block's bytes of the last.
template <int V, int C>
RESICRYPT_AVX2 inline void EncodeOne(const EncodePairLanes& lanes, __m256i lastMask,
                                     const unsigned char* block, unsigned char* out) {
  const __m256i flip = _mm256_set1_epi32(static_cast<int>(0x80008000u));
  __m256i chunks[C];
  RESICRYPT_UNROLL
  for (int k = 0; k < C; ++k) {
    std::int32_t word;
    std::memcpy(&word, block + 4 * k, sizeof word);
    __m256i chunk = _mm256_set1_epi32(word);
    if (k == C - 1) chunk = _mm256_and_si256(chunk, lastMask);
    chunks[k] = _mm256_xor_si256(chunk, flip);
  }
  EncodeVectors<V, C, true>(lanes, BroadcastChunks{chunks}, out);
}

// Several blocks a step of K pairs each, from one 16-byte window, in two vectors.
template <int K>
RESICRYPT_AVX2 inline void EncodeSeveral(const EncodePairLanes& lanes, __m256i,
                                         const unsigned char* window, unsigned char* out) {
  const __m256i bytes =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window)));
  const __m256i pairs = _mm256_shuffle_epi8(bytes, Load(lanes.windowIndex));
  EncodeVectors<2, K, false>(lanes, PickedPairs{lanes, pairs}, out);
}

// The steps over count blocks; Step is EncodeOne or EncodeSeveral, which reads
// `reads` bytes of its first block and stores `writes` bytes.
template <void (*Step)(const EncodePairLanes&, __m256i, const unsigned char*, unsigned char*),
          std::ptrdiff_t kReads, std::ptrdiff_t kWrites>
RESICRYPT_AVX2 void EncodeSteps(const EncodePairLanes& lanes, int L, int R, const unsigned char* in,
                                std::size_t count, unsigned char* out) {
  const auto G = static_cast<std::size_t>(lanes.blocksPerStep);
  const std::size_t inStep = G * static_cast<std::size_t>(L);
  const std::size_t outStep = G * static_cast<std::size_t>(R);
  const __m256i lastMask = _mm256_set1_epi32(static_cast<int>(lanes.lastChunkMask));
  const unsigned char* const inEnd = in + count * static_cast<std::size_t>(L);
  unsigned char* const outEnd = out + count * static_cast<std::size_t>(R);
  // Full steps whose reads and stores stay inside the buffers.
  while (count >= G && inEnd - in >= kReads && outEnd - out >= kWrites) {
    Step(lanes, lastMask, in, out);
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
    Step(lanes, lastMask, window, scratch);
    std::memcpy(out, scratch, blocks * static_cast<std::size_t>(R));
    in += blocks * static_cast<std::size_t>(L);
    out += blocks * static_cast<std::size_t>(R);
    count -= blocks;
  }
}

using EncodeRunner = void (*)(const EncodePairLanes&, int, int, const unsigned char*, std::size_t,
                              unsigned char*);
template <int V, int C>
constexpr EncodeRunner kOneRun = EncodeSteps<EncodeOne<V, C>, 4 * C, StoreBytes(V)>;
template <int V>
constexpr EncodeRunner kOneRuns[kMaxBlockPairs / 2] = {kOneRun<V, 1>, kOneRun<V, 2>, kOneRun<V, 3>,
                                                       kOneRun<V, 4>, kOneRun<V, 5>, kOneRun<V, 6>};
template <int K>
constexpr EncodeRunner kSeveralRun = EncodeSteps<EncodeSeveral<K>, 16, StoreBytes(2)>;
constexpr EncodeRunner kSeveralRuns[kMaxBlockPairs] = {
    kSeveralRun<1>, kSeveralRun<2>,  kSeveralRun<3>,  kSeveralRun<4>,
    kSeveralRun<5>, kSeveralRun<6>,  kSeveralRun<7>,  kSeveralRun<8>,
    kSeveralRun<9>, kSeveralRun<10>, kSeveralRun<11>, kSeveralRun<12>};

// The 15-bit decoder (fast_codec_wide.h) on 8 lanes.
struct Avx2Vector {
  using Type = __m256i;
  static constexpr int kLanes = 8;
  RESICRYPT_AVX2 static __m256i Zero() { return _mm256_setzero_si256(); }
  RESICRYPT_AVX2 static __m256i Set1(int x) { return _mm256_set1_epi32(x); }
  RESICRYPT_AVX2 static __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
  RESICRYPT_AVX2 static __m256i And(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
  RESICRYPT_AVX2 static __m256i Or(__m256i a, __m256i b) { return _mm256_or_si256(a, b); }
  RESICRYPT_AVX2 static __m256i Madd(__m256i a, __m256i b) { return _mm256_madd_epi16(a, b); }
  RESICRYPT_AVX2 static __m256i ShiftLeft(__m256i v, int n) { return _mm256_slli_epi32(v, n); }
  RESICRYPT_AVX2 static __m256i ShiftRight(__m256i v, int n) { return _mm256_srli_epi32(v, n); }
  RESICRYPT_AVX2 static __m256i ShiftRightSigned(__m256i v, int n) {
    return _mm256_srai_epi32(v, n);
  }
  RESICRYPT_AVX2 static __m256i HighBytes(__m256i v) { return _mm256_srli_epi16(v, 8); }
  RESICRYPT_AVX2 static __m256i Load(const void* p) { return codec_kernels::Load(p); }
  RESICRYPT_AVX2 static void Store(void* p, __m256i v) { codec_kernels::Store(p, v); }
  RESICRYPT_AVX2 static void Transpose(__m256i* rows) { Transpose8(rows); }
  RESICRYPT_AVX2 static unsigned ZeroLanes(__m256i v) {
    return static_cast<unsigned>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, _mm256_setzero_si256()))));
  }
  RESICRYPT_AVX2 static unsigned SignLanes(__m256i v) {
    return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(v)));
  }
  RESICRYPT_AVX2 static __m256i WithLow(__m256i v, __m256i x) {
    return _mm256_blend_epi16(v, x, 0x55);
  }
  RESICRYPT_AVX2 static __m256i WithHigh(__m256i v, __m256i x) {
    return _mm256_blend_epi16(v, _mm256_slli_epi32(x, 16), 0xAA);
  }
  RESICRYPT_AVX2 static __m256i SubtractBytes(__m256i a, __m256i b) {
    return _mm256_subs_epu8(a, b);
  }
};

}  // namespace

void EncodeBlocksAvx2(const EncodePairLanes& lanes, int L, int R, const unsigned char* blocks,
                      std::size_t count, unsigned char* residues) {
  if (lanes.blocksPerStep > 1) {
    kSeveralRuns[lanes.pairs - 1](lanes, L, R, blocks, count, residues);
    return;
  }
  const int c = lanes.chunks - 1;
  switch (lanes.vectors) {
    case 1:
      kOneRuns<1>[c](lanes, L, R, blocks, count, residues);
      break;
    case 2:
      kOneRuns<2>[c](lanes, L, R, blocks, count, residues);
      break;
    case 3:
      kOneRuns<3>[c](lanes, L, R, blocks, count, residues);
      break;
    case 4:
      kOneRuns<4>[c](lanes, L, R, blocks, count, residues);
      break;
    default:
      kOneRuns<5>[c](lanes, L, R, blocks, count, residues);
      break;
  }
}

void DecodeBlocksAvx2(const DecodeLanes& lanes, int L, int R, const unsigned char* residues,
                      std::size_t count, unsigned char* blocks, DecodeOneBlock redo,
                      const void* context, BlockFailures& failures) {
  DecodeWide<Avx2Vector>(lanes, L, R, residues, count, blocks, redo, context, failures);
}

#else  // no x86 kernels with this compiler

bool HasAvx2Kernels() { return false; }
void EncodeBlocksAvx2(const EncodePairLanes&, int, int, const unsigned char*, std::size_t,
                      unsigned char*) {}
void DecodeBlocksAvx2(const DecodeLanes&, int, int, const unsigned char*, std::size_t,
                      unsigned char*, DecodeOneBlock, const void*, BlockFailures&) {}

#endif

}  // namespace codec_kernels
}  // namespace resicrypt
