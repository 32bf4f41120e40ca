#include "container/block_loop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace resicrypt {

// Measured with bench/container_bench (PackSplit, UnpackSplit; best of nine on a
// shared two-core machine): with chunks of 20-40 KiB the helper cost time (2 MiB
// files: 15 ms against 6), from about 80 KiB on unpack gained and pack lost
// nothing, at 640 KiB both gained. 128 KiB keeps clear of the losing sizes.
std::size_t FileWorkOptions::DefaultHelperFromBytes() {
  return std::thread::hardware_concurrency() >= 2 ? std::size_t{128} << 10 : kNoHelper;
}

namespace {

// Output bytes of blocks first..first + count - 1.
std::size_t OutBytes(const RecordBlocks& record, std::int32_t first, std::size_t count) {
  const bool holdsLast = first + static_cast<std::int32_t>(count) - 1 == record.total;
  return count * record.outBytes - (holdsLast ? record.lastShortBy : 0);
}

void MakeRoom(std::vector<unsigned char>& buffer, std::size_t bytes) {
  if (buffer.size() < bytes) buffer.resize(bytes);
}

// One thread's share of a split chunk: count blocks from block first on, at
// their offsets in both files.
struct Half {
  const InputFile* input = nullptr;
  const OutputFile* output = nullptr;
  const RecordBlocks* record = nullptr;
  const BlockWork* work = nullptr;
  std::int64_t inAt = 0;
  std::int64_t outAt = 0;
  std::int32_t first = 0;
  std::size_t count = 0;
};

// Reads, ciphers and writes a half; the write is left out once stop is set.
BlockLoopResult RunHalf(const Half& half, std::vector<unsigned char>& in,
                        std::vector<unsigned char>& out, const std::atomic<bool>* stop) {
  MakeRoom(in, half.count * half.record->inBytes);
  MakeRoom(out, half.count * half.record->outBytes);
  if (!half.input->ReadAt(half.inAt, in.data(), half.count * half.record->inBytes)) {
    return BlockLoopResult::ReadFailed;
  }
  half.work->Transform(in.data(), half.count, out.data());
  if (stop != nullptr && stop->load()) return BlockLoopResult::Done;
  if (!half.output->WriteAt(half.outAt, out.data(), OutBytes(*half.record, half.first, half.count))) {
    return BlockLoopResult::WriteFailed;
  }
  return BlockLoopResult::Done;
}

}  // namespace

// The thread that takes the second half of each split chunk, waiting in between.
class BlockLoop::Helper {
 public:
  Helper() : thread_([this] { Serve(); }) {}
  ~Helper() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  void Start(const Half& half) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      half_ = half;
      busy_ = true;
      callerFailed_.store(false);
    }
    wake_.notify_one();
  }
  void CallerFailed() { callerFailed_.store(true); }
  BlockLoopResult Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !busy_; });
    return result_;
  }

 private:
  void Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || busy_; });
      if (!busy_) return;
      const Half half = half_;
      lock.unlock();
      const BlockLoopResult result = RunHalf(half, in_, out_, &callerFailed_);
      lock.lock();
      result_ = result;
      busy_ = false;
      done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Half half_;
  bool busy_ = false;  // a half is given and not done yet
  bool quit_ = false;
  BlockLoopResult result_ = BlockLoopResult::Done;
  std::atomic<bool> callerFailed_{false};  // the helper leaves its write out
  std::vector<unsigned char> in_;
  std::vector<unsigned char> out_;
  std::thread thread_;  // last: it starts once the members above are made
};

BlockLoop::BlockLoop(const FileWorkOptions& options) : options_(options) {}

BlockLoop::~BlockLoop() = default;

BlockLoopResult BlockLoop::Run(InputFile& input, OutputFile& output, const RecordBlocks& record,
                               BlockWork& work) {
  const std::int32_t step = ServiceStep(record.total);
  const std::size_t chunkBlocks = std::max<std::size_t>(1, options_.chunkBytes / record.inBytes);
  std::int32_t m = 1;
  while (m <= record.total) {
    if (m % step == 0) work.Due(m);
    // The blocks before the window's next turn, a chunk at a time.
    const std::int32_t last = std::min(record.total, (m / step + 1) * step - 1);
    while (m <= last) {
      const std::size_t count = std::min(chunkBlocks, static_cast<std::size_t>(last - m + 1));
      const BlockLoopResult result = RunChunk(input, output, record, work, m, count);
      if (result != BlockLoopResult::Done) return result;
      m += static_cast<std::int32_t>(count);
    }
  }
  return BlockLoopResult::Done;
}

// A small chunk goes through the files' buffers, as the header fields do, so
// that a record of a few blocks costs no call to the system per chunk.
//
// A split chunk: the helper's half comes after the caller's in block order, so a
// failure of the caller's half is the run's whatever the helper met, and the
// helper leaves its write out once it is known. The caller always ends its own
// half, as a run in block order would have.
BlockLoopResult BlockLoop::RunChunk(InputFile& input, OutputFile& output,
                                    const RecordBlocks& record, const BlockWork& work,
                                    std::int32_t first, std::size_t count) {
  const std::size_t inBytes = count * record.inBytes;
  if (count >= 2 && inBytes >= options_.helperFromBytes && !helper_ && !helperFailed_) {
    try {
      helper_ = std::make_unique<Helper>();
    } catch (const std::system_error&) {
      helperFailed_ = true;
    }
  }
  if (count < 2 || inBytes < options_.helperFromBytes || !helper_) {
    MakeRoom(in_, inBytes);
    MakeRoom(out_, count * record.outBytes);
    if (!input.Read(in_.data(), inBytes)) return BlockLoopResult::ReadFailed;
    work.Transform(in_.data(), count, out_.data());
    if (!output.Write(out_.data(), OutBytes(record, first, count))) {
      return BlockLoopResult::WriteFailed;
    }
    return BlockLoopResult::Done;
  }

  // Bytes the output holds of earlier blocks go out first: a failure among them
  // comes before any of this chunk's.
  if (!output.Flush()) return BlockLoopResult::WriteFailed;
  const std::size_t callerCount = count / 2;
  const Half mine{&input, &output, &record, &work, input.Position(), output.Position(), first,
                  callerCount};
  const auto theirsFirst = first + static_cast<std::int32_t>(callerCount);
  const Half theirs{&input,
                    &output,
                    &record,
                    &work,
                    mine.inAt + static_cast<std::int64_t>(callerCount * record.inBytes),
                    mine.outAt + static_cast<std::int64_t>(OutBytes(record, first, callerCount)),
                    theirsFirst,
                    count - callerCount};
  helper_->Start(theirs);
  const BlockLoopResult mineResult = RunHalf(mine, in_, out_, nullptr);
  if (mineResult != BlockLoopResult::Done) helper_->CallerFailed();
  const BlockLoopResult theirsResult = helper_->Wait();
  if (mineResult != BlockLoopResult::Done) return mineResult;
  if (theirsResult != BlockLoopResult::Done) return theirsResult;
  input.Skip(static_cast<std::int64_t>(inBytes));
  return output.Skip(static_cast<std::int64_t>(OutBytes(record, first, count)))
             ? BlockLoopResult::Done
             : BlockLoopResult::WriteFailed;
}

}  // namespace resicrypt
