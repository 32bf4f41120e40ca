// The block loop of one record, shared by packing and unpacking: blocks are read,
// passed through the cipher and written a chunk at a time, and the window gets
// its turn before every (total div 100) + 1-th block, on the calling thread, with
// every block before it written.
//
// A large chunk is split with a helper thread: the calling thread reads, ciphers
// and writes the first half, the helper the second, each at its own offsets on
// the same two file handles. The helper lives for one pack or unpack: it starts
// at the first chunk that is split and ends with the BlockLoop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
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
  // The window's turn, before block number block is read; on the calling thread.
  virtual void Due(std::int32_t block) = 0;
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
  explicit BlockLoop(const FileWorkOptions& options) : options_(options) {}
  BlockLoop(const BlockLoop&) = delete;
  BlockLoop& operator=(const BlockLoop&) = delete;
  ~BlockLoop();

  // The record's blocks from input to output; both positions end after them.
  // On a failure, the earliest in block order (a block's read before its write).
  BlockLoopResult Run(InputFile& input, OutputFile& output, const RecordBlocks& record,
                      BlockWork& work);

 private:
  // Blocks of one thread's share of a chunk, at their offsets in both files.
  struct Half {
    const InputFile* input = nullptr;
    const OutputFile* output = nullptr;
    const BlockWork* work = nullptr;
    std::int64_t inAt = 0;
    std::int64_t outAt = 0;
    std::size_t count = 0;
    std::size_t inBytes = 0;
    std::size_t outBytes = 0;  // of all count blocks, the short one counted short
    std::size_t outRoom = 0;   // what Transform gives for them
  };
  struct Buffers {
    std::vector<unsigned char> in;
    std::vector<unsigned char> out;
  };

  BlockLoopResult RunChunk(InputFile& input, OutputFile& output, const RecordBlocks& record,
                           const BlockWork& work, std::int32_t first, std::size_t count);
  BlockLoopResult RunSplit(InputFile& input, OutputFile& output, const RecordBlocks& record,
                           const BlockWork& work, std::int32_t first, std::size_t count);
  // Reads, ciphers and writes a half; the write is left out once stop is set.
  static BlockLoopResult RunHalf(const Half& half, Buffers& buffers,
                                 const std::atomic<bool>* stop);
  bool StartHelper();
  void HelperLoop();

  FileWorkOptions options_;
  Buffers callerBuffers_;
  Buffers helperBuffers_;

  std::thread helper_;
  bool helperFailedToStart_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Half helperHalf_;
  bool helperHasHalf_ = false;  // a half waits for the helper or is under way
  bool quit_ = false;
  std::atomic<bool> callerFailed_{false};  // the helper leaves its write out
  BlockLoopResult helperResult_ = BlockLoopResult::Done;
};

}  // namespace resicrypt
