// The vector kernels behind BlockCodec's batch calls (fast_codec.h): their lane
// tables, which the codec fills once per key in portable code, and the entry
// points, which live in their own source files and run only on a processor that
// has the instructions they were compiled for.
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

// Decoding as the Chinese remainder sum, 16 blocks at a time, one block per lane.
// With t(i) = r(i) * inverse(i) mod m(i), inverse(i) = (M / m(i))^-1 mod m(i),
// the rebuilt number is V' = sum t(i) (M / m(i)) - q M with q = floor(sum t(i) /
// m(i)). q comes from a double-precision sum; a block whose sum lies so close
// to a whole number that q could be off (V' within 2^-38 M of 0 or M, other than
// V' = 0) is decoded again by the portable code. The low bytes of V' then come
// from 16-bit digit columns: column p sums t(i) times digit p of M / m(i), and q
// times digit p of -M, all mod 2^(16 D); the digits are taken between -2^15 and
// 2^15 - 1, so that pairs of them feed the signed 16-bit dot products.
constexpr int kMaxResidues = 39;
constexpr int kMaxDigits = 12;  // 16-bit digits of the largest block
constexpr int kMaxPairs = (kMaxResidues + 2) / 2;
struct DecodeLanes {
  int digits = 0;  // D = ceil(L / 2)
  int pairs = 0;   // ceil((R + 1) / 2): residue pairs, then q beside the last
  float modulus[kMaxResidues] = {};
  float inverse[kMaxResidues] = {};      // 1 / m rounded to nearest
  float halfInverse[kMaxResidues] = {};  // 1 / (2 m)
  float crtInverse[kMaxResidues] = {};   // (M / m)^-1 mod m
  double reciprocal[kMaxResidues] = {};  // 1 / m in double precision
  // Pair j, column p: digit p of the factor of residue 2j in the low half and of
  // residue 2j + 1 (or of -M for q) in the high half.
  std::uint32_t pairDigits[kMaxPairs][kMaxDigits] = {};
};

// Redoes one block with the portable code: context is the codec.
using DecodeOneBlock = void (*)(const void* context, const unsigned char* residues,
                                unsigned char* block);

// Whether the processor (and the system, which must save the registers) runs
// the AVX-512 kernels: F, BW, VBMI and VNNI. Asked once, then remembered.
bool HasAvx512Kernels();

// count blocks of L bytes -> count * R residue bytes, as the portable loop.
void EncodeBlocksAvx512(const EncodeLanes& lanes, int L, int R, const unsigned char* blocks,
                        std::size_t count, unsigned char* residues);

// count cipher blocks of R bytes -> count blocks of L bytes, as the portable loop.
void DecodeBlocksAvx512(const DecodeLanes& lanes, int L, int R, const unsigned char* residues,
                        std::size_t count, unsigned char* blocks, DecodeOneBlock redo,
                        const void* context);

}  // namespace codec_kernels
}  // namespace resicrypt

#endif
