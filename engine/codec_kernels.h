// The vector kernels behind BlockCodec's batch calls (fast_codec.h): their lane
// tables, which the codec fills once per key in portable code, and the entry
// points, which live in their own source files and run only on a processor that
// has the instructions they were compiled for (SSE2 on x86-64: every one).
#ifndef RESICRYPT_ENGINE_CODEC_KERNELS_H
#define RESICRYPT_ENGINE_CODEC_KERNELS_H

#include <cstddef>
#include <cstdint>

// x86 kernels need GCC-style target attributes and <immintrin.h>; elsewhere (or
// under another compiler) only the portable loops exist.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define RESICRYPT_X86_KERNELS 1
#else
#define RESICRYPT_X86_KERNELS 0
#endif
// The loops over a block's groups, limbs, chunks, quads and vectors run a count
// fixed per instance; unrolled, their sums stay in registers and independent
// steps overlap instead of going through the stack one at a time.
#if defined(__GNUC__)
#define RESICRYPT_UNROLL _Pragma("GCC unroll 16")
#else
#define RESICRYPT_UNROLL
#endif
// Every x86-64 processor has SSE2: there the portable level decodes with it, and
// needs neither a target attribute nor a question to the processor.
#if RESICRYPT_X86_KERNELS && defined(__x86_64__)
#define RESICRYPT_SSE2_KERNELS 1
#else
#define RESICRYPT_SSE2_KERNELS 0
#endif

namespace resicrypt {
namespace codec_kernels {

constexpr int kLanes = 16;          // 32-bit lanes of one 512-bit vector
constexpr int kMaxLaneVectors = 3;  // ceil(39 residues / 16)
constexpr int kMaxChunks = 6;       // ceil(24 bytes / 4)
constexpr int kWindowBytes = 64;    // the input bytes one step can pick from

// Encoding as a small matrix product. One step takes blocksPerStep blocks (as
// many as fit 16 residues, at least one) and yields their residues in
// `vectors` vectors of 16 lanes; lane j of vector s holds output byte 16 s + j
// of the step, that is residue i of block t. Its value is
//   sum over chunks k of sum over b < 4 of window[source] * weight
// with the window the 64 input bytes from the step's first block, source =
// t L + 4 k + b and weight = 256^(4k+b) mod m(i) taken between -127 and 127
// (0 above the block). The sum stays below 24 * 255 * 127 < 2^20 in magnitude,
// and its remainder mod m(i) is found in single precision (see the kernel).
// Unused lanes have weight 0 and modulus 1.
struct EncodeLanes {
  int blocksPerStep = 0;
  int vectors = 0;
  int chunks = 0;
  unsigned char source[kMaxLaneVectors][kMaxChunks][kWindowBytes] = {};
  signed char weight[kMaxLaneVectors][kMaxChunks][kWindowBytes] = {};
  float modulus[kMaxLaneVectors][kLanes] = {};
  float inverse[kMaxLaneVectors][kLanes] = {};      // 1 / m rounded to nearest
  float halfInverse[kMaxLaneVectors][kLanes] = {};  // 1 / (2 m)
};

// Decoding as the Chinese remainder sum, 16 blocks at a time, one block per
// 32-bit lane, in integer byte arithmetic. With C(i) = (M / m(i)) * ((M /
// m(i))^-1 mod m(i)) the raw residue bytes r(i) (0..255, unreduced) give
// S = sum r(i) C(i) = V' + q M, q = floor(sum r(i) c(i) / m(i)), c(i) the inverse.
// The residue bytes of a block are fetched four to a lane ("quads", slot 4j + b
// in byte b of quad j) by byte permutes over 128-byte windows, one window per
// group of lanes. Every sum is a set of byte columns fed by vpdpbusd (unsigned
// data bytes times signed weight bytes):
// - fraction columns 0..F: the weights are the digits (taken between -128 and
//   127) of round(c(i) 256^F / m(i)); with the bias below added to column 0 and
//   the carries run, column F holds q' and columns below F the fraction. q' is q
//   or q + 1, and q + 1 only if V' > M - 255 R M / 256^F; then, and when V' <
//   2^16 M / 256^F, the fraction bytes 2..F-1 are all 0 ("doubtful");
// - output columns 0..P-1: the digits of C(i) mod 256^P, and for q' (its two
//   bytes in slots R and R + 1) those of -M and -256 M mod 256^P. The carries
//   give V' - (q' - q) M mod 256^P. F = 2 bytes hold the rounding (below 255 R
//   + 2 < 2^16), so q' is q or q + 1, and every lane counts as doubtful; P >= L
//   covers every bit of 2 M, so bit 8P - 1 is set exactly when q' = q + 1 (V' -
//   M is negative): such a lane is decoded again by the portable code. Every
//   other lane holds all of V', and its columns from L up are 0 exactly when
//   V' < 256^L (the block's check).
// Each column sums at most 40 products below 2^15 in magnitude: below 2^21.
// The low L bytes of the 16 blocks are packed four to a lane and permuted into
// place, 64 output bytes at a time.
constexpr int kMaxResidues = 39;
constexpr int kMaxQuads = (kMaxResidues + 3) / 4;  // residue quads; q' may take one more
constexpr int kMaxColumns = kMaxResidues + 1;      // output columns P
constexpr int kMaxFractionBytes = 7;               // F
constexpr int kMaxFetchGroups = 4;                 // at least 4 lanes per window
constexpr int kMaxPacked = 6;                      // ceil(24 / 4) packed output vectors
constexpr int kMaxStores = 6;                      // 16 * 24 bytes in 64-byte stores
constexpr int kMaxSmallResidues = 8;               // R of the small-product decoder
constexpr int kMaxSmallBlock = 4;                  // L of the small-product decoder
constexpr int kMaxWideFraction = 6;                // F of the 15-bit decoders
constexpr int kMaxWideColumns = 22;                // its P: (39 * 8 + 30) / 15
struct DecodeLanes {
  int quads = 0;          // ceil(R / 4)
  // The check of a block: byte b of residueLimit[j] is m(4j + b) - 1 (255 past
  // R), so that a residue byte above it is one at or above its modulus.
  std::uint32_t residueLimit[kMaxQuads] = {};
  int fractionBytes = 0;  // F
  int columns = 0;        // P
  std::int32_t bias = 0;  // added to fraction column 0: ceil(255 R / 2)
  // Fetch: group g takes lanes g * lanesPerGroup.. from the window at
  // g * groupStride + 4 j (quad j); index and lane mask per group.
  int groups = 0;
  int groupStride = 0;
  int reach = 0;  // bytes a full step may read from its first block
  unsigned char fetchIndex[kMaxFetchGroups][64] = {};
  std::uint64_t fetchMask[kMaxFetchGroups] = {};
  // Weights, four signed bytes per quad: fraction column c, output column p
  // (slots R and R + 1: digits of -M and of -256 M, for the bytes of q').
  std::uint32_t fractionWeight[kMaxFractionBytes + 1][kMaxQuads] = {};
  std::uint32_t columnWeight[kMaxColumns][kMaxQuads + 1] = {};
  // Output: packed vector k holds bytes 4k..4k+3 of each block; store o takes
  // byte x from pair k / 2 at storeIndex[o][x] where storeMask[o][k / 2] says so.
  int packed = 0;  // ceil(L / 4)
  int stores = 0;  // ceil(16 L / 64)
  unsigned char storeIndex[kMaxStores][64] = {};
  std::uint64_t storeMask[kMaxStores][kMaxPacked / 2] = {};

  // Short blocks under a small product (the 3-byte file passwords): when
  // 255 R M < 2^52, the sum S = sum r(i) C(i) is an exact double, and so is
  // V' = S - floor(S / M) M; 16 blocks a step, two vectors of eight 64-bit lanes.
  // The floor is estimated with 1 / M (off by at most one, as S / M < 2^11) and
  // put right by one step either way. Only for R <= 8 and L <= 4: a step's
  // residues fit one 128-byte window and its output one 64-byte store.
  bool smallProduct = false;
  double productWeight[kMaxSmallResidues] = {};  // C(i)
  double product = 0;                            // M
  double productInverse = 0;                     // 1 / M rounded to nearest
  // Residue i of block 8 h + t into byte 0 of lane t of vector h.
  unsigned char smallFetch[kMaxSmallResidues][2][64] = {};
  // Output byte x of the step: byte x mod L of block x div L, from the two vectors.
  unsigned char smallStore[64] = {};
  // Byte x of a step's residues (16 R of them): m(x mod R) - 1, 255 past them.
  unsigned char smallLimit[128] = {};
  double smallBound = 0;                             // 256^L

  // The AVX2 and SSE2 decoders (fast_codec_wide.h): the same sum in digits of
  // 15 bits (base B = 2^15), which fill pmaddwd's 16-bit factors (neither has
  // vpdpbusd). Weights are digits between -2^14 and 2^14 - 1, two to a word:
  // [0] for slots 0 and 2 of a quad (low and high half), [1] for slots 1 and 3.
  // - fraction columns 0..F: the digits of round(c(i) B^F / m(i)); with the
  //   bias added to column 0 and the carries run, column F holds q'. q' is q or
  //   q + 1 (the bound of the byte form, with B for 256), and when it is q + 1
  //   the fraction is below 255 R < 2^14, so its digits 1..F-1 are 0
  //   ("doubtful"); a doubtful lane with q' = q has V' < 2^15 M / B^F.
  // - output columns 0..P-1: the digits of C(i) mod B^P, and of -M for q',
  //   which takes one 16-bit slot (slot R) as it is below 2^14. With
  //   15 (P + F) >= bits(M) + 16 a doubtful lane whose bit 15 P - 1 is set had
  //   q' = q + 1 and is redone; every other lane is exact. 15 P >= 8 L.
  //   Here F = 1 (the rounding is below 2^15) and 15 P covers every bit of 2 M:
  //   every lane is doubtful, bit 15 P - 1 is set exactly when q' = q + 1, and
  //   the other lanes hold all of V', whose bits from 8 L up (wideValueMask of
  //   each column) are 0 exactly when V' < 256^L.
  // A column sums at most 40 products below 2^22 and q' times a digit, below
  // 2^28, in magnitude.
  int wideFraction = 0;  // F
  int wideColumns = 0;   // P
  std::uint32_t wideFractionWeight[kMaxWideFraction + 1][kMaxQuads][2] = {};
  std::uint32_t wideColumnWeight[kMaxWideColumns][kMaxQuads + 1][2] = {};
  std::uint32_t wideValueMask[kMaxWideColumns] = {};
};

// Encoding with AVX2: 8 lanes of 32 bits per vector, lane j of vector s for
// output byte 8 s + j of the step (residue i of block t), products by vpmaddwd.
// - One block a step (R above 8, or too many bytes for one window): the block's
//   bytes go in chunks of four, each broadcast to all lanes as two 16-bit words
//   (bytes 4k, 4k + 1 and 4k + 2, 4k + 3: "chunk k") with the top bit of each word
//   flipped, which makes the word W - 2^15 as vpmaddwd reads it (signed). Chunk k
//   has the weights 256^(4k) and 256^(4k+2) mod m(i) (between -127 and 127, 0
//   above the block; a block byte past L in the last chunk is masked off). Lane
//   start `start`, a residue of 2^15 (sum of the weights of the words in use + 1)
//   mod m, puts the flips right. The sum x stays below 6 * 2 * 2^15 * 127 + 255
//   < 2^26 in magnitude and is folded: with x's low word flipped too, vpmaddwd by
//   (1, 2^16 mod m) gives x - 2^15 mod m, below 2^15 + 2^10 * 127 < 2^20 in
//   magnitude; its remainder is found as in the AVX-512 encoder.
// - Several blocks a step (R at most 8): as many blocks as fit 16 lanes take
//   their bytes in pairs, two zero-extended 16-bit words in a 32-bit lane (bytes
//   2k and 2k + 1, "pair k") with the weights 256^(2k) and 256^(2k+1) mod m(i);
//   the pairs of all of them come from one 16-byte window and each lane picks
//   those of its own block. The sum, below 12 * 2 * 255 * 127 < 2^20, needs no fold.
constexpr int kPairLanes = 8;
constexpr int kMaxPairVectors = (kMaxResidues + kPairLanes - 1) / kPairLanes;
constexpr int kMaxBlockPairs = 12;  // ceil(24 bytes / 2)
struct EncodePairLanes {
  int blocksPerStep = 0;
  int vectors = 0;  // V
  int pairs = 0;    // ceil(L / 2), several blocks a step
  int chunks = 0;   // ceil(L / 4), one block a step
  // One block a step: the bytes of the last chunk that belong to the block.
  std::uint32_t lastChunkMask = 0;
  // Several blocks a step: byte x of the 32-byte pair vector is window byte
  // windowIndex[x] (0x80: zero), for pair k of block t in 32-bit slot
  // t ceil(L / 2) + k; lane j of vector s takes slot pick[s][k][j].
  unsigned char windowIndex[32] = {};
  std::int32_t pick[kMaxPairVectors][kMaxBlockPairs][kPairLanes] = {};
  // The two 16-bit weights of pair k (several a step) or chunk k (one a step).
  std::uint32_t weight[kMaxPairVectors][kMaxBlockPairs][kPairLanes] = {};
  // One block a step: the lane's start and its fold's weights (1, 2^16 mod m).
  std::int32_t start[kMaxPairVectors][kPairLanes] = {};
  std::uint32_t fold[kMaxPairVectors][kPairLanes] = {};
  float modulus[kMaxPairVectors][kPairLanes] = {};
  float inverse[kMaxPairVectors][kPairLanes] = {};
  float halfInverse[kMaxPairVectors][kPairLanes] = {};
};

// The blocks of one decoding call that failed their check (a residue at or above
// its modulus, or a rebuilt value at or above 256^L): how many, and the index
// within the call of the first.
struct BlockFailures {
  static constexpr std::size_t kNone = ~std::size_t{0};
  std::size_t count = 0;
  std::size_t first = kNone;
  // The blocks base + b for every bit b set in failed.
  void Add(unsigned failed, std::size_t base) {
    for (std::size_t b = base; failed != 0; ++b, failed >>= 1) {  // rare: damage only
      if ((failed & 1) == 0) continue;
      if (first == kNone) first = b;
      ++count;
    }
  }
};

// Redoes one block with the portable code: context is the codec. True when the
// block passes its check.
using DecodeOneBlock = bool (*)(const void* context, const unsigned char* residues,
                                unsigned char* block);
// Redoes block b of a step (R residue bytes from in, L block bytes to out) for
// every bit b set in blocks; the result has the bits of those that failed.
inline unsigned RedoBlocks(unsigned blocks, const unsigned char* in, int R, unsigned char* out,
                           int L, DecodeOneBlock redo, const void* context) {
  unsigned failed = 0;
  for (unsigned b = 0; blocks != 0; ++b, blocks >>= 1) {
    if ((blocks & 1) != 0 && !redo(context, in + b * static_cast<std::size_t>(R),
                                   out + b * static_cast<std::size_t>(L))) {
      failed |= 1u << b;
    }
  }
  return failed;
}

// Whether the processor (and the system, which must save the registers) runs
// the AVX-512 kernels: F, BW, VBMI and VNNI. Asked once, then remembered.
bool HasAvx512Kernels();
// The same for the AVX2 kernels: AVX2 and FMA.
bool HasAvx2Kernels();

// count blocks of L bytes -> count * R residue bytes, as the portable loop.
void EncodeBlocksAvx512(const EncodeLanes& lanes, int L, int R, const unsigned char* blocks,
                        std::size_t count, unsigned char* residues);

// count cipher blocks of R bytes -> count blocks of L bytes, as the portable loop.
void DecodeBlocksAvx512(const DecodeLanes& lanes, int L, int R, const unsigned char* residues,
                        std::size_t count, unsigned char* blocks, DecodeOneBlock redo,
                        const void* context, BlockFailures& failures);

// The AVX2 kernels, with the same contracts.
void EncodeBlocksAvx2(const EncodePairLanes& lanes, int L, int R, const unsigned char* blocks,
                      std::size_t count, unsigned char* residues);
void DecodeBlocksAvx2(const DecodeLanes& lanes, int L, int R, const unsigned char* residues,
                      std::size_t count, unsigned char* blocks, DecodeOneBlock redo,
                      const void* context, BlockFailures& failures);

// The portable level's decoder where RESICRYPT_SSE2_KERNELS is 1: the AVX2
// decoder's sums on 4 lanes of SSE2, with the same contract.
void DecodeBlocksSse2(const DecodeLanes& lanes, int L, int R, const unsigned char* residues,
                      std::size_t count, unsigned char* blocks, DecodeOneBlock redo,
                      const void* context, BlockFailures& failures);

}  // namespace codec_kernels
}  // namespace resicrypt

#endif
