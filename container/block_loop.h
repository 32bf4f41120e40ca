// The block loop of one record, shared by packing and unpacking: blocks are read,
// passed through the cipher and written a chunk at a time, and the window gets
// its turn at every (total div 100) + 1-th block, on the calling thread, in
// block order.
//
// A record of many blocks is shared with a helper thread: both take slices of a
// chunk each from one counter, in block order, and read, cipher and write them
// at their offsets on the same two file handles, so a thread held up by other
// work does fewer slices instead of holding up the other. The calling thread
// gives the window its turns between its own slices, once the slices taken have
// reached the turn's block, and the helper goes on meanwhile. The helper lives
// for one pack or unpack: it starts at the first record that is split and ends
// with the BlockLoop. Whatever either thread throws (out of memory, a throwing
// turn), Run throws it on the calling thread once the helper has let go of the
// record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "container/binary_file.h"
#include "container/file_cipher.h"

namespace resicrypt {

enum class BlockLoopResult { Done, ReadFailed, WriteFailed };

// What one record's blocks go through.
class BlockWork {
 public:
  virtual ~BlockWork() = default;
  // count blocks in -> count blocks out. Runs on either thread, for different
  // blocks at once: it may touch nothing but its arguments and constants.
  virtual void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const = 0;
  // The same for blocks first..first + count - 1 of the record (numbered from
  // 1), for work that needs to know where its blocks lie; the loop calls this.
  virtual void TransformAt(const unsigned char* in, std::size_t count, unsigned char* out,
                           std::int32_t /*first*/) const {
    Transform(in, count, out);
  }
  // The window's turn at block number block, on the calling thread, in order:
  // before that block is read, or, in a shared record, once the slices taken
  // have reached it.
  virtual void Due(std::int32_t block) = 0;
};

// A record's blocks through one of the cipher's block functions (EncryptBlocks
// when packing, DecryptBlocks when unpacking), and the events' turns.
template <typename Events>
class CipherBlockWork final : public BlockWork {
 public:
  using Blocks = void (FileCipher::*)(const unsigned char*, std::size_t, unsigned char*) const;
  CipherBlockWork(const FileCipher& cipher, Blocks blocks, Events& events)
      : cipher_(cipher), blocks_(blocks), events_(events) {}
  void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const override {
    (cipher_.*blocks_)(in, count, out);
  }
  void Due(std::int32_t block) override { events_.BlockDue(block); }

 private:
  const FileCipher& cipher_;
  Blocks blocks_;
  Events& events_;
};

// The blocks of one record, one after the other from the input's and the
// output's positions: total blocks of inBytes in and outBytes out, the last one
// written lastShortBy bytes short.
struct RecordBlocks {
  std::int32_t total = 0;
  std::size_t inBytes = 0;
  std::size_t outBytes = 0;
  std::size_t lastShortBy = 0;
};

class BlockLoop {
 public:
  explicit BlockLoop(const FileWorkOptions& options);
  BlockLoop(const BlockLoop&) = delete;
  BlockLoop& operator=(const BlockLoop&) = delete;
  ~BlockLoop();

  // The record's blocks from input to output; both positions end after them.
  // On a failure, the earliest in block order (a block's read before its write);
  // a throw on either thread wins over failures and leaves the positions open.
  BlockLoopResult Run(InputFile& input, OutputFile& output, const RecordBlocks& record,
                      BlockWork& work);

 private:
  class Helper;
  struct Stretch;
  struct Turns;
  // Takes slices until none is left or one failed; turns, on the calling thread
  // only, gives the window its turns as the slices go.
  static void RunSlices(Stretch& stretch, std::vector<unsigned char>& in,
                        std::vector<unsigned char>& out, Turns* turns);
  // Whether count blocks are shared with the helper, which is started if need be.
  bool WantsHelper(std::size_t count, const RecordBlocks& record);
  BlockLoopResult RunSplit(InputFile& input, OutputFile& output, const RecordBlocks& record,
                           BlockWork& work, std::int32_t step, std::size_t chunkBlocks);

  FileWorkOptions options_;
  std::vector<unsigned char> in_;
  std::vector<unsigned char> out_;
  std::unique_ptr<Helper> helper_;
  bool helperFailed_ = false;  // no thread could be started: the caller does all
};

}  // namespace resicrypt
