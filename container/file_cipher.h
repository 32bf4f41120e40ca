// ContainerFile, the .yal layout, and the cipher steps the two file commands share.
//
//   residue count  4 bytes   N = ResidueCount(L) + 1 for the password's length L
//   check block    N-1       the password encrypted as one block (CheckBlock)
//   file count     4 bytes   F
//   F records      FileRecord, one after the other, in packing order:
//     name length  4 bytes   n
//     name         n bytes   the bare file name, no terminator
//     file size    4 bytes   S
//     blocks       (S div L + 1) x (N-1) bytes: S div L full blocks of L file bytes,
//                  then a final block of the last S mod L bytes filled up with padding
//
// Integers are 32-bit signed, least significant byte first. An encrypted block is
// the residues 2..N of its L bytes (first byte = least significant digit), one
// byte each. There is no signature: a reader knows a container only by N.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/fast_codec.h"
#include "engine/keys.h"

namespace resicrypt {

constexpr int kMinFilePasswordLength = static_cast<int>(FilePassword::kMinBytes);
constexpr int kMaxFilePasswordLength = static_cast<int>(FilePassword::kMaxBytes);

// Head of one record: the name and size stored in the clear.
struct FileRecord {
  std::string name;
  std::int32_t size = 0;

  // Blocks that carry blockLength file bytes each; the final block comes on top.
  std::int32_t FullBlocks(int blockLength) const { return size / blockLength; }
  std::int32_t Remainder(int blockLength) const { return size % blockLength; }
  std::int32_t BlockCount(int blockLength) const { return size / blockLength + 1; }
  bool operator==(const FileRecord& other) const {
    return name == other.name && size == other.size;
  }
};

// The password encrypted as one block: residues 2..N, one byte each.
struct CheckBlock {
  std::array<unsigned char, kMaxResidueCount> residues{};
  int length = 0;  // N - 1
};

// The clock that seeds the padding generator before each final block: whole
// seconds of the calendar time, as SeedRandom reads it. A caller that must
// reproduce a container byte for byte (the round-trip tests) gives a clock of its
// own; nullptr is the calendar.
using PaddingClock = std::uint32_t (*)();

// How a pack or unpack does its file work; the defaults suit the commands. The
// tests give their own padding clock, and small chunks with the helper thread on
// for every chunk, so that small files cross every boundary on two threads.
struct FileWorkOptions {
  PaddingClock paddingClock = nullptr;
  // At most this many input bytes of a record's blocks per read (at least one
  // block): a chunk, or a slice of the blocks shared with the helper. 256 KiB
  // measured best of 128 KiB to 1 MiB for pack and unpack of 256 MiB.
  std::size_t chunkBytes = std::size_t{256} << 10;
  // A record's blocks are shared with a helper thread
  // from this many input bytes on; kNoHelper keeps them on the calling thread.
  std::size_t helperFromBytes = DefaultHelperFromBytes();

  static constexpr std::size_t kNoHelper = static_cast<std::size_t>(-1);
  // The size from which a helper pays on this machine (kNoHelper on one core).
  static std::size_t DefaultHelperFromBytes();
};

// The workspace prepared for one file command: the password copied into
// passwordText, BuildModulusTable and DerivePermutation run for table size 55,
// L = the password's length and N = ResidueCount(L) + 1. Block positions above L
// are left at 0 by DerivePermutation and never written, as the format needs.
//
// The blocks go through the block codec built from the prepared key, which gives
// the bytes EncodeBlock and DecodeBlock give, block by block (the engine's tests
// hold the two against each other, and the container tests hold a whole pack and
// unpack against the step-by-step operations). The block members are const and
// touch only their arguments, so two threads may run them at once on different
// blocks.
class FileCipher {
 public:
  FileCipher(CipherWorkspace& workspace, const FilePassword& password);

  int BlockLength() const { return blockLength_; }  // L
  int Residues() const { return residues_; }        // N
  int EncryptedBlockBytes() const { return residues_ - 1; }

  // count blocks of L plaintext bytes -> count blocks of N - 1 residue bytes.
  void EncryptBlocks(const unsigned char* plain, std::size_t count, unsigned char* out) const {
    codec_.EncodeBlocks(plain, count, out);
  }
  // The final block: tailBytes = 0..L-1 file bytes, then padding RandomBelow(213) + 41
  // drawn for positions tailBytes+1..L in ascending order after seeding the generator
  // from clock.
  void EncryptFinalBlock(const unsigned char* tail, int tailBytes, unsigned char* out,
                         PaddingClock clock) const;
  CheckBlock MakeCheckBlock() const;

  // count blocks of N - 1 residue bytes -> count blocks of the L bytes of block
  // positions 1..L.
  void DecryptBlocks(const unsigned char* in, std::size_t count, unsigned char* plain) const {
    codec_.DecodeBlocks(in, count, plain);
  }
  // DecryptBlocks, and which blocks failed their check (BlockCodec::DecodeCheckedBlocks):
  // how many, and the index of the first among the count.
  codec_kernels::BlockFailures DecryptCheckedBlocks(const unsigned char* in, std::size_t count,
                                                    unsigned char* plain) const {
    return codec_.DecodeCheckedBlocks(in, count, plain);
  }
  // Positions 1..L at which the decoded check block differs from the password.
  std::vector<int> CheckBlockDifferences(const CheckBlock& stored) const;

 private:
  int blockLength_;
  int residues_;
  BlockCodec codec_;
  unsigned char password_[kMaxFilePasswordLength] = {};  // P[1..L]
};

// The window is serviced before every (total div 100) + 1-th block: after every
// block while total is below 100, about a hundred times per file above that.
// Blocks are numbered from 1; block m is due when m is a multiple of the step.
inline std::int32_t ServiceStep(std::int32_t total) { return total / 100 + 1; }

}  // namespace resicrypt
