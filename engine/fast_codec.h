// The block codec of one command: the key-dependent constants of EncodeBlock and
// DecodeBlock computed once, so that a block costs a few dozen multiplications
// instead of some N^2 divisions.
//
// BlockCodec gives exactly the bytes of the step-by-step operations in
// engine/reference/reference.h (EncodeBlock; BuildProductTable, DecodeBlock and
// SolveCongruence), which stay the reference; tests/engine/fast_path_test.cpp holds the two against each other
// on random keys, blocks and residue bytes (wrong keys and damage included).
//
// Use in the file commands (table size 55, one spare modulus), once per command:
//
//   SetPasswordText(ws, password);
//   BuildModulusTable(ws, kFileTableSize);
//   DerivePermutation(ws, kFileTableSize);
//   const int L = static_cast<int>(PasswordLength(ws));
//   const int N = ResidueCount(ws, L) + 1;
//   const BlockCodec codec(ws, L, N);              // after DerivePermutation
//
//   pack:    codec.Encode(ws.passwordText, check);           // the check block, N - 1 bytes
//            codec.EncodeBlocks(plain, count, cipher);       // count * L -> count * (N - 1)
//            final block: fill the L bytes (tail, then padding) and codec.Encode it
//   unpack:  codec.Decode(storedCheck, decoded);             // compare with the password
//            codec.DecodeBlocks(cipher, count, plain);       // count * (N - 1) -> count * L
//
// EncodeBlocks/DecodeBlocks take any number of blocks back to back, so a command
// can pass a whole read buffer (say 64 KiB of blocks) per call. The file commands
// never read zeroDigitCount, and the codec neither reads nor writes it.
//
// The codec copies what it needs from the workspace: it never writes to it and
// stays valid when the workspace is prepared again for another command. The text
// cipher uses it through TextCipher (text_cipher.h). No member allocates, and
// every member is const after construction, so one codec may serve several
// threads at once.
#ifndef RESICRYPT_ENGINE_FAST_CODEC_H
#define RESICRYPT_ENGINE_FAST_CODEC_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/cipher_workspace.h"
#include "engine/codec_kernels.h"

namespace resicrypt {

// The loops behind EncodeBlocks and DecodeBlocks: the portable ones, which run
// on every processor (DecodeBlocks with SSE2 on x86-64, which every such
// processor has), AVX2 ones (with FMA) and AVX-512 ones (F, BW, VBMI, VNNI),
// which give the same bytes several times faster. Every kernel gives exactly the
// bytes of the reference operations; a codec takes the best the processor has
// unless told.
enum class CodecKernel { kPortable, kAvx2, kAvx512 };
bool IsCodecKernelSupported(CodecKernel kernel);
const char* CodecKernelName(CodecKernel kernel);  // "portable", "avx2", "avx512"
// The best kernel the processor has (it is asked once).
CodecKernel FastestCodecKernel();

// The environment variable RESICRYPT_CODEC=portable|avx2|avx512 forces a level,
// for tests and benchmarks. A word it does not know, or a level the processor
// lacks, is refused rather than replaced by another level:
// ChooseCodecKernel reads a setting (null or empty: none) and returns the
// kernel, or an error text that says what is wrong.
struct CodecKernelChoice {
  CodecKernel kernel = CodecKernel::kPortable;
  std::string error;  // empty when the setting is taken
};
CodecKernelChoice ChooseCodecKernel(const char* setting);
// The error text for the program's RESICRYPT_CODEC, or null when it is fine.
// Every program's main calls it first and, when it is not null, prints it and
// exits with a non-zero code (2, as resicrypt-cli does).
const char* CodecSettingError();
// The kernel the commands use: the one RESICRYPT_CODEC forces, else the fastest.
// A refused setting that reaches here (a program that did not check it first)
// ends the program with the error text on stderr and exit code 2.
CodecKernel BestCodecKernel();

// Largest residue count N the codec takes: the file commands need at most 36
// (L = 23), the text cipher at most 31 (L = 17).
constexpr int kMaxCodecResidueCount = 40;
constexpr int kMaxCodecCipherBlock = kMaxCodecResidueCount - 1;  // N - 1 residue bytes
// Largest block length L: files use at most 23, text at most 17.
constexpr int kMaxCodecBlockLength = 24;

// x mod P for an integer 0 <= x < 2^51 and 2 <= P < 2^24, with inverseP = 1.0 / P
// rounded to nearest. The quotient is the truncated (x + 1/2) * inverseP:
// (x + 1/2) / P lies at least 1/(2P) away from every integer, and the two
// roundings move it by less than (x + 1/2) / P * 2^-52 < 1/(2P), so the quotient
// is exact. The double form takes x as an exact double (an integer below 2^51
// always is one).
inline std::int64_t RemainderByReciprocal(std::int64_t x, std::int64_t P, double inverseP) {
  const auto q = static_cast<std::int64_t>((static_cast<double>(x) + 0.5) * inverseP);
  return x - q * P;
}
inline std::int64_t RemainderByReciprocal(double x, std::int64_t P, double inverseP) {
  const auto q = static_cast<std::int64_t>((x + 0.5) * inverseP);
  return static_cast<std::int64_t>(x) - q * P;
}

class BlockCodec {
 public:
  // Takes the moduli m(2)..m(N) from a workspace on which BuildModulusTable and
  // DerivePermutation have run. L is the block length (1 <= L <= N - 1, at most
  // kMaxCodecBlockLength), N the position of the last modulus in use
  // (2 <= N <= kMaxCodecResidueCount).
  // The moduli must be pairwise coprime numbers from 2 to 255, as every key
  // order of the file and text tables is (distinct primes) for passwords of up
  // to 23 (files) or 17 (text) bytes. Anything else leaves the codec unusable:
  // IsUsable() is false and the other members must not be called.
  // kernel picks the batch loops (tests run each one); one the processor lacks
  // falls back to the portable loops.
  BlockCodec(const CipherWorkspace& workspace, int L, int N,
             CodecKernel kernel = BestCodecKernel());

  bool IsUsable() const { return usable_; }
  int BlockLength() const { return blockLength_; }               // L
  int LastModulusPosition() const { return residueCount_ + 1; }  // N
  int CipherBlockLength() const { return residueCount_; }        // N - 1
  CodecKernel Kernel() const { return kernel_; }

  // One block: L bytes (first byte = least significant digit) -> the residues
  // of positions 2..N, one byte each (N - 1 bytes). Same as EncodeBlock with the
  // block in blockDigits 1..L and 0 in positions L + 1..N - 1.
  void Encode(const unsigned char* block, unsigned char* residues) const;
  // count blocks of L bytes, back to back -> count cipher blocks of N - 1 bytes.
  void EncodeBlocks(const unsigned char* blocks, std::size_t count, unsigned char* residues) const;

  // One cipher block: N - 1 residue bytes, any values 0..255 (a residue at or
  // above its modulus counts modulo it) -> the L bytes of block positions 1..L,
  // that is DecodeBlock's outputDigits 2..L + 1.
  void Decode(const unsigned char* residues, unsigned char* block) const;
  // count cipher blocks of N - 1 bytes -> count blocks of L bytes.
  void DecodeBlocks(const unsigned char* residues, std::size_t count, unsigned char* blocks) const;
  // DecodeBlocks, and which blocks fail their check: a block that EncodeBlock
  // made under this key has every residue below its modulus and a rebuilt value
  // V' below 256^L. Every changed residue byte breaks one or the other: a byte
  // at or above its modulus, or, below it, another value V' below the product
  // of the moduli, of which only the block's own is below 256^L. The spare
  // modulus's mixed-radix digit is then 0 too (V' < 256^L <= the product of the
  // others, for every key whose ResidueCount did not round below 256^L), so it
  // needs no test of its own. Costs a few vector instructions per step.
  codec_kernels::BlockFailures DecodeCheckedBlocks(const unsigned char* residues,
                                                   std::size_t count, unsigned char* blocks) const;
  // All N - 1 base-256 digits of the rebuilt number V' (DecodeBlock's
  // outputDigits 2..N), least significant first. For blocks under the same key
  // the digits above L are 0; for other residues they are what they are.
  void DecodeValue(const unsigned char* residues, unsigned char* digits) const;

  // Decode, and whether the top topDigits mixed-radix digits (those of positions
  // N - topDigits + 1..N) are all 0, that is whether V' lies below the product of
  // the other moduli (0 <= topDigits <= N - 1). When it is true, MixedRadixDigits
  // would count at least topDigits zeros: the text cipher's check takes this
  // short way for the blocks under its key and counts only for the others.
  bool DecodeAndTestTopDigits(const unsigned char* residues, int topDigits,
                              unsigned char* block) const;
  // Whether 256^L is at most the product of all but the last topDigits moduli, so
  // that a V' below 256^L (one that is a block) has its top topDigits mixed-radix
  // digits 0. Every text key has it but for the float rounding in ResidueCount.
  bool BlocksHaveZeroTopDigits(int topDigits) const;

  // Garner's mixed-radix digits of the residues (DecodeBlock's radixDigits 2..N)
  // and the number of them that are 0, which is what DecodeBlock adds to
  // zeroDigitCount. digits (N - 1 bytes) may be null when only the count matters.
  int MixedRadixDigits(const unsigned char* residues, unsigned char* digits) const;

 private:
  // Residues are handled in groups of up to three consecutive positions, whose
  // modulus product P stays below 2^24; the block is read as 24-bit words; V'
  // is built in 32-bit limbs.
  static constexpr int kGroupSize = 3;
  static constexpr int kMaxGroups = (kMaxCodecCipherBlock + kGroupSize - 1) / kGroupSize;
  static constexpr int kWordBytes = 3;
  static constexpr int kMaxWords = (kMaxCodecBlockLength + kWordBytes - 1) / kWordBytes;
  static constexpr int kMaxLimbs = (kGroupSize * kMaxGroups + 3) / 4;
  static constexpr int kMaxPairs = (kMaxCodecCipherBlock + 1) / 2;
  static constexpr int kMaxRunningValueBits = 22;  // Garner's unreduced values

  // The loops over words and groups run for a count fixed per key; each count
  // has its own instance, chosen once in the constructor.
  template <int W>
  void EncodeRun(const unsigned char* blocks, std::size_t count, unsigned char* residues) const;
  template <int G>
  bool DecodeRun(const unsigned char* residues, std::size_t count, unsigned char* out, int outBytes,
                 int topDigits, codec_kernels::BlockFailures* failures = nullptr) const;
  using EncodeRunner = void (BlockCodec::*)(const unsigned char*, std::size_t,
                                            unsigned char*) const;
  using DecodeRunner = bool (BlockCodec::*)(const unsigned char*, std::size_t, unsigned char*, int,
                                            int, codec_kernels::BlockFailures*) const;
  std::uint32_t ReduceSmall(std::uint32_t value, int k) const;
  void FillDecodeLanes(int limbCount);

  bool usable_ = false;
  int blockLength_ = 0;   // L
  int residueCount_ = 0;  // N - 1, residue k (from 0) belongs to position k + 2
  EncodeRunner encodeRun_ = nullptr;
  DecodeRunner decodeRun_ = nullptr;
  CodecKernel kernel_ = CodecKernel::kPortable;
  codec_kernels::EncodeLanes encodeLanes_;          // the AVX-512 kernels' tables
  codec_kernels::EncodePairLanes encodePairLanes_;  // the AVX2 encoder's
  codec_kernels::DecodeLanes decodeLanes_;          // the vector decoders' (SSE2 too)
  // The portable Decode, for the blocks a kernel leaves to it.
  // True when the block passes its check.
  static bool DecodeOne(const void* codec, const unsigned char* residues, unsigned char* block);
  void DecodeBlocksWith(const unsigned char* residues, std::size_t count, unsigned char* blocks,
                        codec_kernels::BlockFailures& failures) const;

  std::uint32_t modulus_[kMaxCodecCipherBlock] = {};
  // ceil(2^32 / m): x mod m for x < 2^24 by one multiplication and a shift.
  std::uint64_t reciprocal_[kMaxCodecCipherBlock] = {};

  // Group g: product P of its moduli and 1 / P.
  std::int64_t groupModulus_[kMaxGroups] = {};
  double groupInverse_[kMaxGroups] = {};
  // Encoding: 2^(24 w) mod P for word w. Kept as doubles: the dot product of
  // the words with them is exact in double precision (every product is below
  // 2^48, the sum below 2^51) and leaves the integer multiplier free for the
  // reductions that follow.
  double wordWeight_[kMaxGroups][kMaxWords] = {};
  // Decoding, within a group: residue k times crtFactor_[k], summed over the
  // group and taken mod P, is the group's value mod P.
  std::int64_t crtFactor_[kMaxCodecCipherBlock] = {};
  // Across groups: V' = sum of R(g) * C(g) mod M with C(g) = (M / P) *
  // ((M / P)^-1 mod P), below M; stored limb by limb, crtLimbs_[k][g], and 0
  // above the limbs of M. crtFraction_[g] = floor(C(g) / M * 2^32).
  std::uint32_t crtLimbs_[kMaxLimbs][kMaxGroups] = {};
  std::int64_t crtFraction_[kMaxGroups] = {};
  std::uint32_t productLimbs_[kMaxLimbs] = {};  // M
  // m(0) * ... * m(i-1) (residue numbering from 0), i = 0..N-1.
  std::uint32_t prefixProductLimbs_[kMaxCodecCipherBlock + 1][kMaxLimbs] = {};

  // Garner: prefixPairs_[i] holds m(0) * ... * m(i-1) mod m(j) for j = 0, 1, ...
  // (residue numbering from 0), two values per word (j even in the low half).
  // inverse_[i] is the entry for j = i inverted mod m(i), inverseShoup_[i] =
  // floor(inverse_[i] * 2^32 / m(i)) for the product by it, digitOffset_[i] a
  // multiple of m(i) above every unreduced running value.
  std::uint64_t prefixPairs_[kMaxCodecCipherBlock][kMaxPairs];  // only the pairs read are set
  std::uint32_t inverse_[kMaxCodecCipherBlock] = {};
  std::uint64_t inverseShoup_[kMaxCodecCipherBlock] = {};
  std::uint32_t digitOffset_[kMaxCodecCipherBlock] = {};
};

}  // namespace resicrypt

#endif
