// The portable level's block decoder on x86-64, where SSE2 is part of the
// baseline: the 15-bit decoder of the AVX2 kernels (fast_codec_wide.h) on the 4
// lanes of a 128-bit vector. SSE2 has pmaddwd; what the AVX2 kernels take from
// later sets (word blends, lane permutes) is done here with masks and unpacks.
// Elsewhere the portable level keeps its scalar loops.
#include "engine/codec_kernels.h"

#if RESICRYPT_SSE2_KERNELS
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <emmintrin.h>
#define RESICRYPT_WIDE_TARGET
#include "engine/fast_codec_wide.h"

namespace resicrypt {
namespace codec_kernels {
namespace {

struct Sse2Vector {
  using Type = __m128i;
  static constexpr int kLanes = 4;
  static __m128i Zero() { return _mm_setzero_si128(); }
  static __m128i Set1(int x) { return _mm_set1_epi32(x); }
  static __m128i Add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
  static __m128i And(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
  static __m128i Or(__m128i a, __m128i b) { return _mm_or_si128(a, b); }
  static __m128i Madd(__m128i a, __m128i b) { return _mm_madd_epi16(a, b); }
  static __m128i ShiftLeft(__m128i v, int n) { return _mm_slli_epi32(v, n); }
  static __m128i ShiftRight(__m128i v, int n) { return _mm_srli_epi32(v, n); }
  static __m128i ShiftRightSigned(__m128i v, int n) { return _mm_srai_epi32(v, n); }
  static __m128i HighBytes(__m128i v) { return _mm_srli_epi16(v, 8); }
  static __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
  static void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
  // Rows r[0..3] of four 32-bit lanes become columns.
  static void Transpose(__m128i* r) {
    const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]);
    const __m128i t1 = _mm_unpackhi_epi32(r[0], r[1]);
    const __m128i t2 = _mm_unpacklo_epi32(r[2], r[3]);
    const __m128i t3 = _mm_unpackhi_epi32(r[2], r[3]);
    r[0] = _mm_unpacklo_epi64(t0, t2);
    r[1] = _mm_unpackhi_epi64(t0, t2);
    r[2] = _mm_unpacklo_epi64(t1, t3);
    r[3] = _mm_unpackhi_epi64(t1, t3);
  }
  static unsigned ZeroLanes(__m128i v) {
    return static_cast<unsigned>(
        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(v, _mm_setzero_si128()))));
  }
  static unsigned SignLanes(__m128i v) {
    return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(v)));
  }
  static __m128i WithLow(__m128i v, __m128i x) {
    const __m128i low = _mm_set1_epi32(0xFFFF);
    return _mm_or_si128(_mm_andnot_si128(low, v), _mm_and_si128(x, low));
  }
  static __m128i WithHigh(__m128i v, __m128i x) {
    return _mm_or_si128(_mm_and_si128(v, _mm_set1_epi32(0xFFFF)), _mm_slli_epi32(x, 16));
  }
  static __m128i SubtractBytes(__m128i a, __m128i b) { return _mm_subs_epu8(a, b); }
};

}  // namespace

void DecodeBlocksSse2(const DecodeLanes& lanes, int L, int R, const unsigned char* residues,
                      std::size_t count, unsigned char* blocks, DecodeOneBlock redo,
                      const void* context, BlockFailures& failures) {
  DecodeWide<Sse2Vector>(lanes, L, R, residues, count, blocks, redo, context, failures);
}

}  // namespace codec_kernels
}  // namespace resicrypt

#endif
