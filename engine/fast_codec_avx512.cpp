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
    RESICRYPT_UNROLL
    for (int k = 0; k < K; ++k) {
      bytes[k] = _mm512_permutexvar_epi8(_mm512_loadu_si512(lanes.source[0][k]), all);
    }
  } else {
    RESICRYPT_UNROLL
    for (int k = 0; k < K; ++k) {
      std::int32_t chunk;
      std::memcpy(&chunk, window + 4 * k, sizeof chunk);
      bytes[k] = _mm512_set1_epi32(chunk);
    }
  }
  RESICRYPT_UNROLL
  for (int s = 0; s < V; ++s) {
    __m512i sum = _mm512_setzero_si512();
    RESICRYPT_UNROLL
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

// One vpdpbusd per quad: column += quads[j] (unsigned bytes) times the four
// signed weight bytes of weights[j]; in two chains when they are long.
template <int Q>
RESICRYPT_AVX512 inline __m512i Column(__m512i column, const __m512i* quads,
                                       const std::uint32_t* weights) {
  __m512i other = _mm512_setzero_si512();
  RESICRYPT_UNROLL
  for (int j = 0; j < Q; ++j) {
    const __m512i weight = _mm512_set1_epi32(static_cast<int>(weights[j]));
    if (Q >= 4 && j % 2 == 1) {
      other = _mm512_dpbusd_epi32(other, quads[j], weight);
    } else {
      column = _mm512_dpbusd_epi32(column, quads[j], weight);
    }
  }
  return Q >= 4 ? _mm512_add_epi32(column, other) : column;
}

// Q residue quads per block, R = 4 (Q - 1) + Tail (Tail 1..3) or 4 Q (Tail 0);
// codec_kernels.h says how a step works. q' takes slots R and R + 1, in the last
// residue quad or in one more.
template <int Q, int Tail>
RESICRYPT_AVX512 void DecodeRun(const DecodeLanes& lanes, int L, int R, const unsigned char* in,
                                std::size_t count, unsigned char* out, DecodeOneBlock redo,
                                const void* context, BlockFailures& failures) {
  const auto reach = static_cast<std::size_t>(lanes.reach);
  const auto fullStores = static_cast<std::size_t>(64 * lanes.stores);
  const int F = lanes.fractionBytes;
  const int P = lanes.columns;
  const __m512i lowByte = _mm512_set1_epi32(0xFF);
  // Packing: bytes 0 of four column vectors into one lane's four bytes.
  alignas(64) unsigned char pairBytes[64];
  alignas(64) unsigned char quadBytes[64];
  for (int t = 0; t < kLanes; ++t) {
    pairBytes[4 * t] = static_cast<unsigned char>(4 * t);
    pairBytes[4 * t + 1] = static_cast<unsigned char>(64 + 4 * t);
    pairBytes[4 * t + 2] = static_cast<unsigned char>(4 * t);
    pairBytes[4 * t + 3] = static_cast<unsigned char>(4 * t);
    quadBytes[4 * t] = static_cast<unsigned char>(4 * t);
    quadBytes[4 * t + 1] = static_cast<unsigned char>(4 * t + 1);
    quadBytes[4 * t + 2] = static_cast<unsigned char>(64 + 4 * t);
    quadBytes[4 * t + 3] = static_cast<unsigned char>(64 + 4 * t + 1);
  }
  const __m512i pairs = _mm512_load_si512(pairBytes);
  const __m512i joins = _mm512_load_si512(quadBytes);
  // The tail: the last blocks from a zeroed copy that every window may read.
  alignas(64) unsigned char scratch[kLanes * kMaxResidues + 4 * kMaxQuads + 128];
  std::size_t firstBlock = 0;  // of the step, within the call

  while (count > 0) {
    const unsigned char* source = in;
    std::size_t blocks = kLanes;
    if (count < kLanes || count * static_cast<std::size_t>(R) < reach) {
      blocks = count < kLanes ? count : kLanes;
      std::memset(scratch, 0, sizeof scratch);
      std::memcpy(scratch, in, blocks * static_cast<std::size_t>(R));
      source = scratch;
    }

    constexpr int kOutQuads = Tail == 1 || Tail == 2 ? Q : Q + 1;
    __m512i quads[Q + 1];
    RESICRYPT_UNROLL
    for (int j = 0; j < Q; ++j) {
      __m512i quad = _mm512_setzero_si512();
      for (int g = 0; g < lanes.groups; ++g) {
        const unsigned char* window = source + g * lanes.groupStride + 4 * j;
        quad = _mm512_or_si512(
            quad, _mm512_maskz_permutex2var_epi8(lanes.fetchMask[g], _mm512_loadu_si512(window),
                                                 _mm512_loadu_si512(lanes.fetchIndex[g]),
                                                 _mm512_loadu_si512(window + 64)));
      }
      quads[j] = quad;
    }
    // The check: a residue byte above its modulus less one, and (below) a byte
    // of V' from L up, leave a lane not 0.
    __m512i broken = _mm512_setzero_si512();
    RESICRYPT_UNROLL
    for (int j = 0; j < Q; ++j) {
      broken = _mm512_or_si512(
          broken, _mm512_subs_epu8(quads[j], _mm512_set1_epi32(static_cast<int>(lanes.residueLimit[j]))));
    }

    // The quotient q' and whether the lane is doubtful.
    // The columns first, each on its own; the carries after them (a carry that
    // fed the next column would chain every multiply-add of the step).
    __m512i sums[kMaxColumns];
    sums[0] = Column<Q>(_mm512_set1_epi32(lanes.bias), quads, lanes.fractionWeight[0]);
    for (int c = 1; c <= F; ++c) {
      sums[c] = Column<Q>(_mm512_setzero_si512(), quads, lanes.fractionWeight[c]);
    }
    __m512i carry = _mm512_setzero_si512();
    __m512i fractionBits = _mm512_setzero_si512();
    for (int c = 0; c < F; ++c) {
      const __m512i column = _mm512_add_epi32(sums[c], carry);
      carry = _mm512_srai_epi32(column, 8);
      if (c >= 2) fractionBits = _mm512_or_si512(fractionBits, column);
    }
    const __m512i q = _mm512_add_epi32(sums[F], carry);  // below 2^14
    // (quad & keep) | q's bytes: the residue bytes below slot R stay.
    constexpr int kOr = 0xEA;
    if (Tail == 0) {
      quads[Q] = q;
    } else {
      quads[Q - 1] = _mm512_ternarylogic_epi32(quads[Q - 1],
                                               _mm512_set1_epi32((1 << (8 * Tail)) - 1),
                                               _mm512_slli_epi32(q, 8 * Tail), kOr);
      if (Tail == 3) quads[Q] = _mm512_srli_epi32(q, 8);
    }
    const __mmask16 doubtful = _mm512_testn_epi32_mask(fractionBits, lowByte);

    // The output columns, their carries, and four of them packed to a lane.
    __m512i packed[kMaxPacked + 1];
    __m512i low[4];
    carry = _mm512_setzero_si512();
    __mmask16 negative = 0;
    for (int p = 0; p < P; ++p) {
      sums[p] = Column<kOutQuads>(_mm512_setzero_si512(), quads, lanes.columnWeight[p]);
    }
    for (int p = 0; p < P; ++p) {
      const __m512i column = _mm512_add_epi32(sums[p], carry);
      carry = _mm512_srai_epi32(column, 8);
      if (p == P - 1) negative = _mm512_test_epi32_mask(column, _mm512_set1_epi32(0x80));
      if (p >= L) broken = _mm512_ternarylogic_epi32(broken, column, lowByte, 0xF8);  // | (c & 0xFF)
      if (p < L) {
        low[p % 4] = column;
        if (p % 4 == 3 || p == L - 1) {
          for (int k = p % 4 + 1; k < 4; ++k) low[k] = _mm512_setzero_si512();
          packed[p / 4] = _mm512_permutex2var_epi8(
              _mm512_permutex2var_epi8(low[0], pairs, low[1]), joins,
              _mm512_permutex2var_epi8(low[2], pairs, low[3]));
        }
      }
    }
    if (lanes.packed % 2 != 0) packed[lanes.packed] = _mm512_setzero_si512();

    // 64 output bytes at a time; past this step's blocks only while the buffer
    // goes on (the next step writes those bytes again).
    const std::size_t outBytes = blocks * static_cast<std::size_t>(L);
    const std::size_t room = count * static_cast<std::size_t>(L);
    for (int o = 0; o < lanes.stores; ++o) {
      const auto offset = static_cast<std::size_t>(64 * o);
      if (offset >= outBytes) break;
      const __m512i index = _mm512_loadu_si512(lanes.storeIndex[o]);
      __m512i bytes = _mm512_setzero_si512();
      for (int k = 0; 2 * k < lanes.packed; ++k) {
        bytes = _mm512_or_si512(bytes, _mm512_maskz_permutex2var_epi8(
                                           lanes.storeMask[o][k], packed[2 * k], index,
                                           packed[2 * k + 1]));
      }
      if (room >= fullStores && blocks == kLanes) {
        _mm512_storeu_si512(out + offset, bytes);
      } else {
        const std::size_t left = outBytes - offset;
        const __mmask64 mask = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
        _mm512_mask_storeu_epi8(out + offset, mask, bytes);
      }
    }

    const unsigned inStep = (1u << blocks) - 1;
    const unsigned redone = static_cast<unsigned>(doubtful & negative) & inStep;
    const unsigned failed =
        RedoBlocks(redone, in, R, out, L, redo, context) |
        (static_cast<unsigned>(_mm512_test_epi32_mask(broken, broken)) & inStep & ~redone);
    failures.Add(failed, firstBlock);
    firstBlock += blocks;
    in += blocks * static_cast<std::size_t>(R);
    out += blocks * static_cast<std::size_t>(L);
    count -= blocks;
  }
}

// The small-product decoder (DecodeLanes): exact in double lanes, so no block
// is ever redone. A byte b becomes the double b by putting it under the bits of
// 2^52 and taking 2^52 off; V' < 2^52 comes back to an integer the same way.
RESICRYPT_AVX512 void DecodeSmallProduct(const DecodeLanes& lanes, int L, int R,
                                         const unsigned char* in, std::size_t count,
                                         unsigned char* out, DecodeOneBlock redo,
                                         const void* context, BlockFailures& failures) {
  constexpr std::size_t kStep = 16;
  std::size_t firstBlock = 0;  // of the step, within the call
  const __m512d bound = _mm512_set1_pd(lanes.smallBound);
  const __m512i limitLow = _mm512_loadu_si512(lanes.smallLimit);
  const __m512i limitHigh = _mm512_loadu_si512(lanes.smallLimit + 64);
  const auto blockBytes = static_cast<std::size_t>(R);
  const auto outBytes = static_cast<std::size_t>(L);
  const __m512i twoTo52Bits = _mm512_set1_epi64(0x4330000000000000LL);
  const __m512d twoTo52 = _mm512_castsi512_pd(twoTo52Bits);
  const __m512d M = _mm512_set1_pd(lanes.product);
  const __m512d inverse = _mm512_set1_pd(lanes.productInverse);
  const __m512d zero = _mm512_setzero_pd();
  const __m512i store = _mm512_loadu_si512(lanes.smallStore);
  const __mmask64 byteZero = 0x0101010101010101ULL;
  const __mmask64 storeMask = (__mmask64{1} << (kStep * outBytes)) - 1;
  // Whole steps while the 128-byte window stays inside the input.
  while (count >= kStep && count * blockBytes >= 128) {
    const __m512i low = _mm512_loadu_si512(in);
    const __m512i high = _mm512_loadu_si512(in + 64);
    __m512i value[2];
    // Residue bytes above their modulus less one: the blocks they belong to.
    const __mmask64 aboveLow = _mm512_cmpgt_epu8_mask(low, limitLow);
    const __mmask64 aboveHigh = _mm512_cmpgt_epu8_mask(high, limitHigh);
    unsigned failed = 0;
    if ((aboveLow | aboveHigh) != 0) {  // damage only
      for (int x = 0; x < 128; ++x) {
        if (((x < 64 ? aboveLow >> x : aboveHigh >> (x - 64)) & 1) != 0) failed |= 1u << (x / R);
      }
    }
    for (int h = 0; h < 2; ++h) {
      __m512d sum = zero;
      for (int i = 0; i < R; ++i) {
        const __m512i residue = _mm512_maskz_permutex2var_epi8(
            byteZero, low, _mm512_loadu_si512(lanes.smallFetch[i][h]), high);
        const __m512d r =
            _mm512_sub_pd(_mm512_castsi512_pd(_mm512_or_si512(residue, twoTo52Bits)), twoTo52);
        sum = _mm512_fmadd_pd(r, _mm512_set1_pd(lanes.productWeight[i]), sum);
      }
      const __m512d q =
          _mm512_roundscale_pd(_mm512_mul_pd(sum, inverse), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
      __m512d v = _mm512_fnmadd_pd(q, M, sum);  // exact: an integer in (-M, 2M)
      v = _mm512_mask_add_pd(v, _mm512_cmp_pd_mask(v, zero, _CMP_LT_OQ), v, M);
      v = _mm512_mask_sub_pd(v, _mm512_cmp_pd_mask(v, M, _CMP_GE_OQ), v, M);
      value[h] = _mm512_castpd_si512(_mm512_add_pd(v, twoTo52));  // low bits: V'
      failed |= static_cast<unsigned>(_mm512_cmp_pd_mask(v, bound, _CMP_GE_OQ)) << (8 * h);
    }
    failures.Add(failed, firstBlock);
    firstBlock += kStep;
    _mm512_mask_storeu_epi8(out, storeMask, _mm512_permutex2var_epi8(value[0], store, value[1]));
    in += kStep * blockBytes;
    out += kStep * outBytes;
    count -= kStep;
  }
  for (; count > 0; --count, in += blockBytes, out += outBytes, ++firstBlock) {
    if (!redo(context, in, out)) failures.Add(1, firstBlock);
  }
}

using DecodeRunner = void (*)(const DecodeLanes&, int, int, const unsigned char*, std::size_t,
                              unsigned char*, DecodeOneBlock, const void*, BlockFailures&);
template <int Q>
constexpr DecodeRunner kDecodeRuns[4] = {DecodeRun<Q, 0>, DecodeRun<Q, 1>, DecodeRun<Q, 2>,
                                         DecodeRun<Q, 3>};

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
                        const void* context, BlockFailures& failures) {
  static constexpr const DecodeRunner* kRuns[kMaxQuads] = {
      kDecodeRuns<1>, kDecodeRuns<2>, kDecodeRuns<3>, kDecodeRuns<4>, kDecodeRuns<5>,
      kDecodeRuns<6>, kDecodeRuns<7>, kDecodeRuns<8>, kDecodeRuns<9>, kDecodeRuns<10>};
  if (lanes.smallProduct) {
    DecodeSmallProduct(lanes, L, R, residues, count, blocks, redo, context, failures);
    return;
  }
  kRuns[lanes.quads - 1][R % 4](lanes, L, R, residues, count, blocks, redo, context, failures);
}

#else  // no x86 kernels with this compiler

bool HasAvx512Kernels() { return false; }
void EncodeBlocksAvx512(const EncodeLanes&, int, int, const unsigned char*, std::size_t,
                        unsigned char*) {}
void DecodeBlocksAvx512(const DecodeLanes&, int, int, const unsigned char*, std::size_t,
                        unsigned char*, DecodeOneBlock, const void*, BlockFailures&) {}

#endif

}  // namespace codec_kernels
}  // namespace resicrypt
