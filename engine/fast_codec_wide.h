// The block decoder in digits of 15 bits (DecodeLanes' wide tables,
// codec_kernels.h), written once for vectors of any number of 32-bit lanes: the
// AVX2 kernels run it on 8 lanes, the portable level on x86-64 on SSE2's 4. One
// block per lane; pmaddwd multiplies the residues, two 16-bit words to a lane, by
// the digits, and the doubtful lanes whose top bit is set are redone by the
// portable code.
//
// Included by a kernel's source file only, after it has defined RESICRYPT_UNROLL
// and RESICRYPT_WIDE_TARGET, the target attribute of its functions (empty when
// the build's baseline has the instructions). Everything here is in an unnamed
// namespace, so each of those files compiles its own copy for its own
// instructions. DecodeWideRun takes a struct of static vector operations:
//   Type, kLanes             a vector of kLanes 32-bit lanes
//   Zero(), Set1(x)          all lanes 0 / x
//   Add, And, Or             lane by lane
//   Madd(a, b)               16-bit words multiplied, each lane's two products summed
//   ShiftLeft(v, n), ShiftRight(v, n), ShiftRightSigned(v, n)
//   HighBytes(v)             the high byte of each 16-bit word, in its low byte
//   Load(p), Store(p, v)     kLanes * 4 bytes, unaligned
//   Transpose(rows)          kLanes rows of kLanes lanes: lane j of row t to lane t of row j
//   ZeroLanes(v), SignLanes(v)  bit t set when lane t is 0 / has its bit 31 set
//   WithLow(v, x), WithHigh(v, x)  the low / high 16 bits of each lane replaced
//                            by the low 16 bits of x's lane
//   SubtractBytes(a, b)      bytes a - b, 0 where b is larger (unsigned, saturated)
#ifndef RESICRYPT_ENGINE_FAST_CODEC_WIDE_H
#define RESICRYPT_ENGINE_FAST_CODEC_WIDE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/codec_kernels.h"

namespace resicrypt {
namespace codec_kernels {
namespace {

// The quads split for pmaddwd: slots 0 and 2 (even) and 1 and 3 (odd) of each
// quad as 16-bit words.
template <typename Vector>
struct Split {
  typename Vector::Type even;
  typename Vector::Type odd;
};
template <typename Vector>
RESICRYPT_WIDE_TARGET inline Split<Vector> SplitQuad(typename Vector::Type quad) {
  return {Vector::And(quad, Vector::Set1(0x00FF00FF)), Vector::HighBytes(quad)};
}

// Columns 0..B-1 of rows (row b: the weights [j][0..1] of quad j,
// codec_kernels.h) summed over Q quads into sums[0..B-1]. Each quad's words are
// read once for all B columns, whose sums stay in registers, one chain each;
// read column by column, the quads (more than the registers hold) came from the
// stack for every multiply-add, and every step waited on loads.
template <typename Vector, int Q, int B, int kRowQuads>
RESICRYPT_WIDE_TARGET __attribute__((always_inline)) inline void Columns(
    typename Vector::Type* sums, const Split<Vector>* quads,
    const std::uint32_t (*rows)[kRowQuads][2]) {
  using V = typename Vector::Type;
  V acc[B];
  RESICRYPT_UNROLL
  for (int b = 0; b < B; ++b) acc[b] = Vector::Zero();
  RESICRYPT_UNROLL
  for (int j = 0; j < Q; ++j) {
    const V even = quads[j].even;
    const V odd = quads[j].odd;
    RESICRYPT_UNROLL
    for (int b = 0; b < B; ++b) {
      const V products =
          Vector::Add(Vector::Madd(even, Vector::Set1(static_cast<int>(rows[b][j][0]))),
                      Vector::Madd(odd, Vector::Set1(static_cast<int>(rows[b][j][1]))));
      acc[b] = Vector::Add(acc[b], products);
      // As a register here: else GCC reassociates each chain into one tree over
      // all the quads, whose products it keeps on the stack until the end.
      asm("" : "+x"(acc[b]));
    }
  }
  RESICRYPT_UNROLL
  for (int b = 0; b < B; ++b) sums[b] = acc[b];
}

// Up to kFewQuads quads, each column is summed where its carry is taken (in two
// chains), with no round trip through memory: the words of a step stay in
// registers as they are, or (SSE2's 4 lanes, up to 6 quads) the loads are few
// beside the multiply-adds. engine_bench found this order faster there.
template <typename Vector>
constexpr int kFewQuads = Vector::kLanes == 4 ? 6 : 3;
template <typename Vector, int Q>
RESICRYPT_WIDE_TARGET inline typename Vector::Type Column(const Split<Vector>* quads,
                                                          const std::uint32_t (*weights)[2]) {
  typename Vector::Type column = Vector::Zero();
  typename Vector::Type other = Vector::Zero();
  RESICRYPT_UNROLL
  for (int j = 0; j < Q; ++j) {
    column = Vector::Add(
        column, Vector::Madd(quads[j].even, Vector::Set1(static_cast<int>(weights[j][0]))));
    other = Vector::Add(other,
                        Vector::Madd(quads[j].odd, Vector::Set1(static_cast<int>(weights[j][1]))));
  }
  return Vector::Add(column, other);
}

// Column p: from sums (AllColumns) when there are more than kFewQuads quads.
template <typename Vector, int Q, int kRowQuads>
RESICRYPT_WIDE_TARGET __attribute__((always_inline)) inline typename Vector::Type ColumnAt(
    const typename Vector::Type* sums, const Split<Vector>* quads,
    const std::uint32_t (*rows)[kRowQuads][2], int p) {
  if constexpr (Q <= kFewQuads<Vector>) {
    return Column<Vector, Q>(quads, rows[p]);
  } else {
    return sums[p];
  }
}

// Columns 0..count-1 of rows, kColumnBlock at a time, when there are more than
// kFewQuads quads. These are inlined into the step: a call would leave no vector
// in a register across it.
constexpr int kColumnBlock = 4;
// The last left < kColumnBlock columns: Columns with B = left.
template <typename Vector, int Q, int B, int kRowQuads>
RESICRYPT_WIDE_TARGET __attribute__((always_inline)) inline void LastColumns(
    typename Vector::Type* sums, const Split<Vector>* quads,
    const std::uint32_t (*rows)[kRowQuads][2], int left) {
  if constexpr (B > 0) {
    if (left == B) {
      Columns<Vector, Q, B>(sums, quads, rows);
    } else {
      LastColumns<Vector, Q, B - 1>(sums, quads, rows, left);
    }
  }
}
template <typename Vector, int Q, int kRowQuads>
RESICRYPT_WIDE_TARGET __attribute__((always_inline)) inline void AllColumns(
    typename Vector::Type* sums, const Split<Vector>* quads,
    const std::uint32_t (*rows)[kRowQuads][2], int count) {
  if constexpr (Q <= kFewQuads<Vector>) return;
  int p = 0;
  for (; p + kColumnBlock <= count; p += kColumnBlock) {
    Columns<Vector, Q, kColumnBlock>(sums + p, quads, rows + p);
  }
  LastColumns<Vector, Q, kColumnBlock - 1>(sums + p, quads, rows + p, count - p);
}

// kLanes blocks a step, one per lane: Q residue quads per block, R = 4 (Q - 1) +
// Tail (Tail 1..3) or 4 Q (Tail 0); q' takes slot R.
template <typename Vector, int Q, int Tail>
RESICRYPT_WIDE_TARGET void DecodeWideRun(const DecodeLanes& lanes, int L, int R,
                                         const unsigned char* in, std::size_t count,
                                         unsigned char* out, DecodeOneBlock redo,
                                         const void* context, BlockFailures& failures) {
  using V = typename Vector::Type;
  constexpr int kSteps = Vector::kLanes;
  constexpr int kRowBytes = 4 * kSteps;                         // one row: a lane per quad
  constexpr int kRows = (Q + kSteps - 1) / kSteps;              // rows read per block
  constexpr int kOutRows = (kMaxPacked + kSteps - 1) / kSteps;  // rows written at most
  constexpr int kMaxRows = (kMaxQuads + kSteps - 1) / kSteps;
  const auto blockBytes = static_cast<std::size_t>(R);
  const auto plainBytes = static_cast<std::size_t>(L);
  const int F = lanes.wideFraction;
  const int P = lanes.wideColumns;
  const int words = (L + 3) / 4;  // 32-bit words of output per block
  const int outRows = (words + kSteps - 1) / kSteps;
  const std::size_t reach = (kSteps - 1) * blockBytes + kRowBytes * kRows;
  const std::size_t writes =
      (kSteps - 1) * plainBytes + kRowBytes * static_cast<std::size_t>(outRows);
  const V zero = Vector::Zero();
  const V digitMask = Vector::Set1(0x7FFF);
  alignas(kRowBytes) unsigned char scratchIn[kSteps * kMaxResidues + kRowBytes * kMaxRows];
  alignas(kRowBytes) unsigned char scratchOut[kSteps * 4 * kMaxPacked + kRowBytes * kOutRows];
  std::size_t firstBlock = 0;  // of the step, within the call

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
    V quads[kRows * kSteps];
    RESICRYPT_UNROLL
    for (int h = 0; h < kRows; ++h) {
      RESICRYPT_UNROLL
      for (int t = 0; t < kSteps; ++t) {
        quads[kSteps * h + t] =
            Vector::Load(source + static_cast<std::size_t>(t) * blockBytes + kRowBytes * h);
      }
      Vector::Transpose(quads + kSteps * h);
    }
    Split<Vector> split[Q + 1];
    RESICRYPT_UNROLL
    for (int j = 0; j < Q; ++j) split[j] = SplitQuad<Vector>(quads[j]);
    // The check: a residue byte above its modulus less one, and (below) a bit
    // of V' from 8 L up, leave a lane not 0.
    V broken = zero;
    RESICRYPT_UNROLL
    for (int j = 0; j < Q; ++j) {
      broken = Vector::Or(broken, Vector::SubtractBytes(
                                      quads[j], Vector::Set1(static_cast<int>(lanes.residueLimit[j]))));
    }

    // The quotient q' and whether the lane is doubtful (fraction digits 1..F-1 all
    // 0). The columns first, the carries after them (a carry that fed the next
    // column would chain every multiply-add of the step).
    V sums[kMaxWideColumns];
    AllColumns<Vector, Q>(sums, split, lanes.wideFractionWeight, F + 1);
    V carry = Vector::Set1(lanes.bias);
    V fractionBits = zero;
    for (int c = 0; c < F; ++c) {
      const V column =
          Vector::Add(ColumnAt<Vector, Q>(sums, split, lanes.wideFractionWeight, c), carry);
      carry = Vector::ShiftRightSigned(column, 15);
      if (c >= 1) fractionBits = Vector::Or(fractionBits, column);
    }
    const V q = Vector::Add(ColumnAt<Vector, Q>(sums, split, lanes.wideFractionWeight, F), carry);
    const unsigned doubtful = Vector::ZeroLanes(Vector::And(fractionBits, digitMask));
    // q' (below 2^14) into the 16-bit half of slot R.
    constexpr int kOutQuads = Tail == 0 ? Q + 1 : Q;
    if (Tail == 0) {
      split[Q] = {q, zero};
    } else if (Tail == 1) {
      split[Q - 1].odd = Vector::WithLow(split[Q - 1].odd, q);
    } else if (Tail == 2) {
      split[Q - 1].even = Vector::WithHigh(split[Q - 1].even, q);
    } else {
      split[Q - 1].odd = Vector::WithHigh(split[Q - 1].odd, q);
    }

    // The output columns and their carries; their digits gathered into 32-bit
    // words, word k of block t in lane t of packed[k].
    V packed[kOutRows * kSteps];
    RESICRYPT_UNROLL
    for (int k = 0; k < kOutRows * kSteps; ++k) packed[k] = zero;
    AllColumns<Vector, kOutQuads>(sums, split, lanes.wideColumnWeight, P);
    carry = zero;
    unsigned negative = 0;
    V word = zero;
    int wordBits = 0;  // bits of word already filled
    int done = 0;      // words filled
    for (int p = 0; p < P; ++p) {
      const V column =
          Vector::Add(ColumnAt<Vector, kOutQuads>(sums, split, lanes.wideColumnWeight, p), carry);
      carry = Vector::ShiftRightSigned(column, 15);
      if (p == P - 1) negative = Vector::SignLanes(Vector::ShiftLeft(column, 17));
      if (lanes.wideValueMask[p] != 0) {
        broken = Vector::Or(broken,
                            Vector::And(column, Vector::Set1(static_cast<int>(lanes.wideValueMask[p]))));
      }
      if (done < words) {
        const V digit = Vector::And(column, digitMask);
        word = Vector::Or(word, Vector::ShiftLeft(digit, wordBits));
        wordBits += 15;
        if (wordBits >= 32) {
          packed[done++] = word;
          wordBits -= 32;
          word = Vector::ShiftRight(digit, 15 - wordBits);
        }
      }
    }
    if (done < words) packed[done] = word;
    // Row t of a transposed group holds a part of block t's bytes, stored a row
    // at a time in block order (each store's bytes past the block are written
    // again by the next). Every block has a first row: h == 0 says so, and the
    // test on outRows is left for the others.
    RESICRYPT_UNROLL
    for (int h = 0; h < kOutRows; ++h) {
      if (h == 0 || h < outRows) Vector::Transpose(packed + kSteps * h);
    }
    const bool direct = blocks == kSteps && count * plainBytes >= writes;
    unsigned char* const target = direct ? out : scratchOut;
    RESICRYPT_UNROLL
    for (int t = 0; t < kSteps; ++t) {
      RESICRYPT_UNROLL
      for (int h = 0; h < kOutRows; ++h) {
        if (h == 0 || h < outRows) {
          Vector::Store(target + static_cast<std::size_t>(t) * plainBytes + kRowBytes * h,
                        packed[kSteps * h + t]);
        }
      }
    }
    if (!direct) std::memcpy(out, scratchOut, blocks * plainBytes);

    const unsigned inStep = (1u << blocks) - 1;
    const unsigned redone = doubtful & negative & inStep;
    const unsigned failed = RedoBlocks(redone, in, R, out, L, redo, context) |
                            (~Vector::ZeroLanes(broken) & inStep & ~redone);
    failures.Add(failed, firstBlock);
    firstBlock += blocks;
    in += blocks * blockBytes;
    out += blocks * plainBytes;
    count -= blocks;
  }
}

using DecodeWideRunner = void (*)(const DecodeLanes&, int, int, const unsigned char*, std::size_t,
                                  unsigned char*, DecodeOneBlock, const void*, BlockFailures&);
template <typename Vector, int Q>
constexpr DecodeWideRunner kDecodeWideRuns[4] = {
    DecodeWideRun<Vector, Q, 0>, DecodeWideRun<Vector, Q, 1>, DecodeWideRun<Vector, Q, 2>,
    DecodeWideRun<Vector, Q, 3>};

// count cipher blocks of R bytes -> count blocks of L bytes, the run for R chosen.
template <typename Vector>
RESICRYPT_WIDE_TARGET void DecodeWide(const DecodeLanes& lanes, int L, int R,
                                      const unsigned char* residues, std::size_t count,
                                      unsigned char* blocks, DecodeOneBlock redo,
                                      const void* context, BlockFailures& failures) {
  static constexpr const DecodeWideRunner* kRuns[kMaxQuads] = {
      kDecodeWideRuns<Vector, 1>, kDecodeWideRuns<Vector, 2>, kDecodeWideRuns<Vector, 3>,
      kDecodeWideRuns<Vector, 4>, kDecodeWideRuns<Vector, 5>, kDecodeWideRuns<Vector, 6>,
      kDecodeWideRuns<Vector, 7>, kDecodeWideRuns<Vector, 8>, kDecodeWideRuns<Vector, 9>,
      kDecodeWideRuns<Vector, 10>};
  kRuns[lanes.quads - 1][R % 4](lanes, L, R, residues, count, blocks, redo, context, failures);
}

}  // namespace
}  // namespace codec_kernels
}  // namespace resicrypt

#endif
