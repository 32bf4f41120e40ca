// The AVX-512 kernels (F, BW, VBMI, VNNI) of the block codec. Only functions
// marked with the target attribute use those instructions, and the codec calls
// them only after HasAvx512Kernels() said yes.
#include <cstring>

#include "engine/codec_kernels.h"

#if RESICRYPT_X86_KERNELS
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12 takes the deliberately undefined start values inside the intrinsics
// for uninitialized reads.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define RESICRYPT_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vnni")))
#endif

namespace resicrypt {
namespace codec_kernels {

#if RESICRYPT_X86_KERNELS

bool HasAvx512Kernels() {
  static const bool supported = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vnni");
  }();
  return supported;
}

namespace {

// x mod m for integers |x| < 2^20 in float lanes: the quotient is
// floor(x / m + 1 / (2m)). Rounding 1/m and the one rounding of the fused
// multiply-add move (x + 1/2) / m by less than 2 * 2^20 / m * 2^-24 = 1 / (8m),
// and (x + 1/2) / m lies at least 1 / (2m) away from every integer, so the floor
// is that of x / m. x - q m is an integer below m in magnitude: exact.
RESICRYPT_AVX512 inline __m512i Remainder(__m512i x, const float* modulus, const float* inverse,
                                          const float* halfInverse) {
  const __m512 value = _mm512_cvtepi32_ps(x);
  const __m512 m = _mm512_loadu_ps(modulus);
  const __m512 estimate = _mm512_fmadd_ps(value, _mm512_loadu_ps(inverse), _mm512_loadu_ps(halfInverse));
  const __m512 q = _mm512_roundscale_ps(estimate, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
  return _mm512_cvtps_epi32(_mm512_fnmadd_ps(q, m, value));
}

// One step: the residues of the blocks in the 64 bytes at window, 16 bytes per
// vector (the bytes past the step's blocksPerStep * R are scrap that the next
// step overwrites). With more than one vector the step holds one block, and
// every lane takes the same four bytes of chunk k: a broadcast serves them all.
template <int V, int K>
RESICRYPT_AVX512 inline void EncodeStep(const EncodeLanes& lanes, const unsigned char* window,
                                        unsigned char* out) {
  __m512i bytes[K];
  if (V == 1) {
    const __m512i all = _mm512_loadu_si512(window);
    for (int k = 0; k < K; ++k) {
      bytes[k] = _mm512_permutexvar_epi8(_mm512_loadu_si512(lanes.source[0][k]), all);
    }
  } else {
    for (int k = 0; k < K; ++k) {
      std::int32_t chunk;
      std::memcpy(&chunk, window + 4 * k, sizeof chunk);
      bytes[k] = _mm512_set1_epi32(chunk);
    }
  }
  for (int s = 0; s < V; ++s) {
    __m512i sum = _mm512_setzero_si512();
    for (int k = 0; k < K; ++k) {
      sum = _mm512_dpbusd_epi32(sum, bytes[k], _mm512_loadu_si512(lanes.weight[s][k]));
    }
    const __m512i residues =
        Remainder(sum, lanes.modulus[s], lanes.inverse[s], lanes.halfInverse[s]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * s), _mm512_cvtepi32_epi8(residues));
  }
}

template <int V, int K>
RESICRYPT_AVX512 void EncodeRun(const EncodeLanes& lanes, int L, int R, const unsigned char* in,
                                std::size_t count, unsigned char* out) {
  const auto G = static_cast<std::size_t>(lanes.blocksPerStep);
  const std::size_t inStep = G * static_cast<std::size_t>(L);
  const std::size_t outStep = G * static_cast<std::size_t>(R);
  const unsigned char* const inEnd = in + count * static_cast<std::size_t>(L);
  unsigned char* const outEnd = out + count * static_cast<std::size_t>(R);
  // Full steps whose window and stores stay inside the buffers.
  while (count >= G && inEnd - in >= kWindowBytes && outEnd - out >= 16 * V) {
    EncodeStep<V, K>(lanes, in, out);
    in += inStep;
    out += outStep;
    count -= G;
  }
  // The last few blocks through a zeroed window and a scratch output.
  while (count > 0) {
    const std::size_t blocks = count < G ? count : G;
    unsigned char window[kWindowBytes] = {};
    unsigned char scratch[16 * kMaxLaneVectors];
    std::memcpy(window, in, blocks * static_cast<std::size_t>(L));
    EncodeStep<V, K>(lanes, window, scratch);
    std::memcpy(out, scratch, blocks * static_cast<std::size_t>(R));
    in += blocks * static_cast<std::size_t>(L);
    out += blocks * static_cast<std::size_t>(R);
    count -= blocks;
  }
}

using EncodeRunner = void (*)(const EncodeLanes&, int, int, const unsigned char*, std::size_t,
                              unsigned char*);
template <int V>
constexpr EncodeRunner kEncodeRuns[kMaxChunks] = {EncodeRun<V, 1>, EncodeRun<V, 2>,
                                                  EncodeRun<V, 3>, EncodeRun<V, 4>,
                                                  EncodeRun<V, 5>, EncodeRun<V, 6>};

// t(i) = r(i) * (M / m(i))^-1 mod m(i) for the residue bytes of 16 blocks, as
// floats (r times the inverse is below 2^16, exact).
RESICRYPT_AVX512 inline __m512 ResidueTerm(__m512i stored, const DecodeLanes& lanes, int i) {
  const __m512 r = _mm512_cvtepi32_ps(_mm512_and_si512(stored, _mm512_set1_epi32(0xFF)));
  const __m512 x = _mm512_mul_ps(r, _mm512_set1_ps(lanes.crtInverse[i]));
  const __m512 estimate =
      _mm512_fmadd_ps(x, _mm512_set1_ps(lanes.inverse[i]), _mm512_set1_ps(lanes.halfInverse[i]));
  const __m512 q = _mm512_roundscale_ps(estimate, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
  return _mm512_fnmadd_ps(q, _mm512_set1_ps(lanes.modulus[i]), x);
}

// The sum of t(i) / m(i) in double precision, in two halves of 8 lanes. Each
// product and addition rounds by at most 40 * 2^-53, so the sum of at most 39
// terms is off by less than 2^-42.
RESICRYPT_AVX512 inline void AddFraction(__m512 t, double reciprocal, __m512d& low,
                                         __m512d& high) {
  const __m512d r = _mm512_set1_pd(reciprocal);
  low = _mm512_fmadd_pd(_mm512_cvtps_pd(_mm512_castps512_ps256(t)), r, low);
  high = _mm512_fmadd_pd(
      _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(t), 1))), r, high);
}

template <int D>
RESICRYPT_AVX512 inline void AddPair(__m512i (&columns)[D], __m512i pair,
                                     const std::uint32_t* digits) {
  for (int p = 0; p < D; ++p) {
    columns[p] = _mm512_dpwssd_epi32(columns[p], pair,
                                     _mm512_set1_epi32(static_cast<int>(digits[p])));
  }
}

// q = floor(sum + 2e) with e = 2^-40 above the rounding of the sum; a lane is
// doubtful when the sum lies within 4e of a whole number (and is not 0, which
// only residues whose terms are all 0 give, exactly). Elsewhere q is exact.
RESICRYPT_AVX512 inline __m256i Quotient(__m512d sum, __mmask8& doubtful) {
  constexpr double e = 1.0 / 1099511627776.0;  // 2^-40
  const __m512d shifted = _mm512_add_pd(sum, _mm512_set1_pd(2 * e));
  const __m512d q = _mm512_roundscale_pd(shifted, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
  const __m512d fraction = _mm512_sub_pd(shifted, q);
  const __mmask8 near = _mm512_cmp_pd_mask(fraction, _mm512_set1_pd(4 * e), _CMP_LT_OQ) |
                        _mm512_cmp_pd_mask(fraction, _mm512_set1_pd(1 - 4 * e), _CMP_GT_OQ);
  doubtful = near & _mm512_cmp_pd_mask(sum, _mm512_setzero_pd(), _CMP_NEQ_OQ);
  return _mm512_cvtpd_epi32(q);
}

template <int D>
RESICRYPT_AVX512 void DecodeRun(const DecodeLanes& lanes, int L, int R,
                                const unsigned char* in, std::size_t count, unsigned char* out,
                                DecodeOneBlock redo, const void* context) {
  const std::size_t inStep = kLanes * static_cast<std::size_t>(R);
  const std::size_t outStep = kLanes * static_cast<std::size_t>(L);
  const __m512i rows = _mm512_mullo_epi32(
      _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15), _mm512_set1_epi32(R));
  constexpr int kWords = (D + 1) / 2;  // 4 output bytes each
  // A step reads 3 bytes past its last block and writes up to 3 past it.
  unsigned char inScratch[kLanes * kMaxResidues + 128];
  unsigned char outScratch[kLanes * 2 * kMaxDigits + 4];
  while (count > 0) {
    const unsigned char* source = in;
    unsigned char* target = out;
    std::size_t blocks = kLanes;
    const bool tail = count < kLanes || count * static_cast<std::size_t>(R) < inStep + 3 ||
                      count * static_cast<std::size_t>(R) < 128 ||
                      count * static_cast<std::size_t>(L) < outStep + 3;
    if (tail) {
      blocks = count < kLanes ? count : kLanes;
      std::memset(inScratch, 0, sizeof inScratch);
      std::memcpy(inScratch, in, blocks * static_cast<std::size_t>(R));
      source = inScratch;
      target = outScratch;
    }

    // Residue i of the 16 blocks, one to a lane: for short blocks (16 of them in
    // 128 bytes) picked from two vectors, otherwise gathered.
    const bool shortBlocks = R * kLanes <= 128;
    const __m512i first = _mm512_loadu_si512(source);
    const __m512i second = _mm512_loadu_si512(source + 64);
    const auto column = [&](int k) RESICRYPT_AVX512 {
      if (shortBlocks) {
        const __m512i index = _mm512_add_epi32(rows, _mm512_set1_epi32(k));
        return _mm512_maskz_permutex2var_epi8(0x1111111111111111ull, first, index, second);
      }
      return _mm512_i32gather_epi32(rows, source + k, 1);
    };
    __m512i columns[D];
    for (int p = 0; p < D; ++p) columns[p] = _mm512_setzero_si512();
    __m512d low = _mm512_setzero_pd();
    __m512d high = _mm512_setzero_pd();
    int i = 0;
    for (; i + 1 < R; i += 2) {
      const __m512 t0 = ResidueTerm(column(i), lanes, i);
      const __m512 t1 = ResidueTerm(column(i + 1), lanes, i + 1);
      AddFraction(t0, lanes.reciprocal[i], low, high);
      AddFraction(t1, lanes.reciprocal[i + 1], low, high);
      const __m512i pair =
          _mm512_or_si512(_mm512_cvtps_epi32(t0), _mm512_slli_epi32(_mm512_cvtps_epi32(t1), 16));
      AddPair<D>(columns, pair, lanes.pairDigits[i / 2]);
    }
    __m512i last = _mm512_setzero_si512();  // the odd residue out, if any
    if (i < R) {
      const __m512 t = ResidueTerm(column(i), lanes, i);
      AddFraction(t, lanes.reciprocal[i], low, high);
      last = _mm512_cvtps_epi32(t);
    }
    __mmask8 doubtfulLow;
    __mmask8 doubtfulHigh;
    const __m512i q = _mm512_inserti64x4(
        _mm512_castsi256_si512(Quotient(low, doubtfulLow)), Quotient(high, doubtfulHigh), 1);
    // q beside the odd residue, or alone in the low half.
    const __m512i pair = i < R ? _mm512_or_si512(last, _mm512_slli_epi32(q, 16)) : q;
    AddPair<D>(columns, pair, lanes.pairDigits[R / 2]);

    // Carries from digit to digit; two digits to a 32-bit word.
    std::uint32_t words[kWords][kLanes];
    __m512i carry = _mm512_setzero_si512();
    for (int p = 0; p < D; ++p) {
      const __m512i v = _mm512_add_epi32(columns[p], carry);
      carry = _mm512_srai_epi32(v, 16);
      columns[p] = _mm512_and_si512(v, _mm512_set1_epi32(0xFFFF));
    }
    for (int w = 0; w < kWords; ++w) {
      const __m512i high16 =
          2 * w + 1 < D ? _mm512_slli_epi32(columns[2 * w + 1], 16) : _mm512_setzero_si512();
      _mm512_storeu_si512(words[w], _mm512_or_si512(columns[2 * w], high16));
    }
    const int outWords = (L + 3) / 4;
    for (std::size_t b = 0; b < blocks; ++b) {
      unsigned char* row = target + b * static_cast<std::size_t>(L);
      for (int w = 0; w < outWords; ++w) std::memcpy(row + 4 * w, &words[w][b], 4);
    }
    if (tail) std::memcpy(out, outScratch, blocks * static_cast<std::size_t>(L));
    unsigned doubtful = static_cast<unsigned>(doubtfulLow) | (unsigned{doubtfulHigh} << 8);
    doubtful &= (1u << blocks) - 1;
    while (doubtful != 0) {
      const unsigned b = static_cast<unsigned>(__builtin_ctz(doubtful));
      doubtful &= doubtful - 1;
      redo(context, in + b * static_cast<std::size_t>(R), out + b * static_cast<std::size_t>(L));
    }
    in += blocks * static_cast<std::size_t>(R);
    out += blocks * static_cast<std::size_t>(L);
    count -= blocks;
  }
}

using DecodeRunner = void (*)(const DecodeLanes&, int, int, const unsigned char*, std::size_t,
                              unsigned char*, DecodeOneBlock, const void*);
constexpr DecodeRunner kDecodeRuns[kMaxDigits] = {
    DecodeRun<1>, DecodeRun<2>, DecodeRun<3>, DecodeRun<4>,  DecodeRun<5>,  DecodeRun<6>,
    DecodeRun<7>, DecodeRun<8>, DecodeRun<9>, DecodeRun<10>, DecodeRun<11>, DecodeRun<12>};

}  // namespace

void EncodeBlocksAvx512(const EncodeLanes& lanes, int L, int R, const unsigned char* blocks,
                        std::size_t count, unsigned char* residues) {
  const int k = lanes.chunks - 1;
  switch (lanes.vectors) {
    case 1:
      kEncodeRuns<1>[k](lanes, L, R, blocks, count, residues);
      break;
    case 2:
      kEncodeRuns<2>[k](lanes, L, R, blocks, count, residues);
      break;
    default:
      kEncodeRuns<3>[k](lanes, L, R, blocks, count, residues);
      break;
  }
}

void DecodeBlocksAvx512(const DecodeLanes& lanes, int L, int R, const unsigned char* residues,
                        std::size_t count, unsigned char* blocks, DecodeOneBlock redo,
                        const void* context) {
  kDecodeRuns[lanes.digits - 1](lanes, L, R, residues, count, blocks, redo, context);
}

#else  // no x86 kernels with this compiler

bool HasAvx512Kernels() { return false; }
void EncodeBlocksAvx512(const EncodeLanes&, int, int, const unsigned char*, std::size_t,
                        unsigned char*) {}
void DecodeBlocksAvx512(const DecodeLanes&, int, int, const unsigned char*, std::size_t,
                        unsigned char*, DecodeOneBlock, const void*) {}

#endif

}  // namespace codec_kernels
}  // namespace resicrypt
