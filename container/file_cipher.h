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
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"

namespace resicrypt {

constexpr int kMinFilePasswordLength = 3;
constexpr int kMaxFilePasswordLength = 23;

// Head of one record: the name and size stored in the clear.
struct FileRecord {
  std::string name;
  std::int32_t size = 0;

  // Blocks that carry L file bytes each; the final block comes on top.
  std::int32_t FullBlocks(int L) const { return size / L; }
  std::int32_t Remainder(int L) const { return size % L; }
  std::int32_t BlockCount(int L) const { return size / L + 1; }
  // Bytes of the record in the container: 4 + n + 4 + (S div L + 1) x (N - 1).
  std::int64_t Length(int L, int N) const {
    return 8 + static_cast<std::int64_t>(name.size()) +
           static_cast<std::int64_t>(BlockCount(L)) * (N - 1);
  }
};

// The password encrypted as one block: residues 2..N, one byte each.
struct CheckBlock {
  std::array<unsigned char, kMaxResidueCount> residues{};
  int length = 0;  // N - 1
};

// The clock that seeds the padding generator before each final block: whole
// seconds of the calendar time, as SeedRandom reads it. A caller that must
// reproduce a container byte for byte (the round-trip tests) puts a clock of its
// own in; nullptr puts the calendar back. Returns the clock that was in place.
using PaddingClock = std::uint32_t (*)();
PaddingClock SetPaddingClock(PaddingClock clock);

// The workspace prepared for one file command: the password copied into
// passwordText, BuildModulusTable and DerivePermutation run for table size 55,
// L = the password's length and N = ResidueCount(L) + 1. Block positions above L
// are left at 0 by DerivePermutation and never written, as the format needs.
// The caller has checked the password (3 to 23 bytes, no NUL).
class FileCipher {
 public:
  FileCipher(CipherWorkspace& workspace, std::string_view password);

  int BlockLength() const { return blockLength_; }  // L
  int Residues() const { return residues_; }        // N
  int EncryptedBlockBytes() const { return residues_ - 1; }

  // L plaintext bytes -> N - 1 residue bytes.
  void EncryptBlock(const unsigned char* plain, unsigned char* out);
  // The final block: r = 0..L-1 bytes, then padding RandomBelow(213) + 41 drawn for
  // positions r+1..L in ascending order after seeding the generator from the
  // padding clock.
  void EncryptFinalBlock(const unsigned char* tail, int r, unsigned char* out);
  CheckBlock MakeCheckBlock();

  // Needed once before DecryptBlock.
  void PrepareDecoding();
  // N - 1 residue bytes -> the L bytes of block positions 1..L.
  void DecryptBlock(const unsigned char* in, unsigned char* plain);
  // Positions 1..L at which the decoded check block differs from the password.
  std::vector<int> CheckBlockDifferences(const CheckBlock& stored);

 private:
  void EncodeFromBlockDigits(unsigned char* out);

  CipherWorkspace& workspace_;
  int blockLength_;
  int residues_;
};

// The window is serviced every (total div 100) + 1 blocks: after every block while
// total is below 100, about a hundred times per file above that.
class BlockCadence {
 public:
  explicit BlockCadence(std::int32_t total) : limit_(total / 100) {}
  // Counts one block; true when the window is due.
  bool Count() {
    if (++count_ > limit_) {
      count_ = 0;
      return true;
    }
    return false;
  }

 private:
  std::int32_t limit_;
  std::int32_t count_ = 0;
};

}  // namespace resicrypt
