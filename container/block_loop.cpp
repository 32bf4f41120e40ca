#include "container/block_loop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <limits>
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

}  // namespace

// The blocks of a record, shared out in slices that both threads take in block
// order from one counter: a thread held up by other work takes fewer, and
// neither waits for the other until the record is done.
struct BlockLoop::Stretch {
  const InputFile* input = nullptr;
  const OutputFile* output = nullptr;
  const RecordBlocks* record = nullptr;
  const BlockWork* work = nullptr;
  std::int64_t inAt = 0;  // offsets of block 1
  std::int64_t outAt = 0;
  std::size_t count = 0;  // blocks 1..count
  std::size_t sliceBlocks = 0;
  std::size_t slices = 0;
  std::atomic<std::size_t> next{0};  // the next slice to take
  // The earliest failure so far: 2 s for the read of slice s, 2 s + 1 for its write.
  std::atomic<std::size_t> failure{kNoFailure};
  static constexpr std::size_t kNoFailure = std::numeric_limits<std::size_t>::max();
  // What the helper threw; read by the calling thread once the helper is done.
  std::exception_ptr helperThrew;

  void Fail(std::size_t at) {
    std::size_t seen = failure.load();
    while (at < seen && !failure.compare_exchange_weak(seen, at)) {
    }
  }
  // After a throw: no slice is taken any more; the ones taken are ended.
  void Abandon() { next.store(slices); }
};

// The window's turns of a shared record: every step-th block from next on.
struct BlockLoop::Turns {
  BlockWork& work;
  std::int32_t step;
  std::int32_t next;

  // The turns at blocks up to block.
  void Reach(std::int32_t block) {
    for (; next <= block; next += step) work.Due(next);
  }
};

// Every slice before a failure has been taken already, by one thread or the
// other, and is ended by it, so the earliest failure in block order is the one
// left; a slice after a known failure is neither read nor written.
void BlockLoop::RunSlices(Stretch& stretch, std::vector<unsigned char>& in,
                          std::vector<unsigned char>& out, Turns* turns) {
  const RecordBlocks& record = *stretch.record;
  MakeRoom(in, stretch.sliceBlocks * record.inBytes);
  MakeRoom(out, stretch.sliceBlocks * record.outBytes);
  for (;;) {
    const std::size_t s = stretch.next.fetch_add(1);
    if (s >= stretch.slices || stretch.failure.load() < 2 * s) return;
    const std::size_t skipped = s * stretch.sliceBlocks;
    const std::size_t count = std::min(stretch.sliceBlocks, stretch.count - skipped);
    const auto first = 1 + static_cast<std::int32_t>(skipped);
    if (turns != nullptr) turns->Reach(first);
    if (!stretch.input->ReadAt(stretch.inAt + static_cast<std::int64_t>(skipped * record.inBytes),
                               in.data(), count * record.inBytes)) {
      stretch.Fail(2 * s);
      return;
    }
    stretch.work->TransformAt(in.data(), count, out.data(), first);
    if (stretch.failure.load() < 2 * s) return;
    if (!stretch.output->WriteAt(
            stretch.outAt + static_cast<std::int64_t>(skipped * record.outBytes), out.data(),
            OutBytes(record, first, count))) {
      stretch.Fail(2 * s + 1);
      return;
    }
  }
}

// The thread that takes slices beside the calling thread, waiting in between.
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
  void Start(Stretch& stretch) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stretch_ = &stretch;
    }
    wake_.notify_one();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return stretch_ == nullptr; });
  }

 private:
  void Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || stretch_ != nullptr; });
      if (stretch_ == nullptr) return;
      Stretch& stretch = *stretch_;
      lock.unlock();
      // A throw here would end the program: it goes to the calling thread.
      try {
        RunSlices(stretch, in_, out_, nullptr);
      } catch (...) {
        stretch.helperThrew = std::current_exception();
        stretch.Abandon();
      }
      lock.lock();
      stretch_ = nullptr;
      done_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Stretch* stretch_ = nullptr;  // given and not done yet
  bool quit_ = false;
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
  if (WantsHelper(static_cast<std::size_t>(record.total), record)) {
    return RunSplit(input, output, record, work, step, chunkBlocks);
  }
  std::int32_t m = 1;
  while (m <= record.total) {
    if (m % step == 0) work.Due(m);
    // The blocks before the window's next turn, a chunk at a time, through the
    // files' buffers as the header fields go, so that a record of a few blocks
    // costs no call to the system per chunk.
    const std::int32_t last = std::min(record.total, (m / step + 1) * step - 1);
    while (m <= last) {
      const std::size_t count = std::min(chunkBlocks, static_cast<std::size_t>(last - m + 1));
      MakeRoom(in_, count * record.inBytes);
      MakeRoom(out_, count * record.outBytes);
      if (!input.Read(in_.data(), count * record.inBytes)) return BlockLoopResult::ReadFailed;
      work.TransformAt(in_.data(), count, out_.data(), m);
      if (!output.Write(out_.data(), OutBytes(record, m, count))) {
        return BlockLoopResult::WriteFailed;
      }
      m += static_cast<std::int32_t>(count);
    }
  }
  return BlockLoopResult::Done;
}

bool BlockLoop::WantsHelper(std::size_t count, const RecordBlocks& record) {
  if (count < 2 || count * record.inBytes < options_.helperFromBytes || helperFailed_) {
    return false;
  }
  if (!helper_) {
    try {
      helper_ = std::make_unique<Helper>();
    } catch (const std::system_error&) {
      helperFailed_ = true;
      return false;
    }
  }
  return true;
}

// Slices of a chunk each, or halves when the record is under two chunks, so that
// both threads have work from the helper's threshold on.
BlockLoopResult BlockLoop::RunSplit(InputFile& input, OutputFile& output,
                                    const RecordBlocks& record, BlockWork& work,
                                    std::int32_t step, std::size_t chunkBlocks) {
  // Bytes the output holds of earlier records go out first: a failure among them
  // comes before any of these blocks'.
  if (!output.Flush()) return BlockLoopResult::WriteFailed;
  Stretch stretch;
  stretch.input = &input;
  stretch.output = &output;
  stretch.record = &record;
  stretch.work = &work;
  stretch.inAt = input.Position();
  stretch.outAt = output.Position();
  stretch.count = static_cast<std::size_t>(record.total);
  stretch.sliceBlocks = std::min(chunkBlocks, (stretch.count + 1) / 2);
  stretch.slices = (stretch.count + stretch.sliceBlocks - 1) / stretch.sliceBlocks;
  Turns turns{work, step, step};
  helper_->Start(stretch);
  // The helper works on the stretch on this stack: whatever this thread throws,
  // it waits for the helper before the stretch goes.
  std::exception_ptr thrown;
  try {
    RunSlices(stretch, in_, out_, &turns);
  } catch (...) {
    thrown = std::current_exception();
    stretch.Abandon();
  }
  helper_->Wait();
  if (!thrown) thrown = stretch.helperThrew;
  if (thrown) std::rethrow_exception(thrown);
  const std::size_t failure = stretch.failure.load();
  if (failure != Stretch::kNoFailure) {
    return failure % 2 == 0 ? BlockLoopResult::ReadFailed : BlockLoopResult::WriteFailed;
  }
  // The turns whose blocks the helper took last.
  turns.Reach(record.total);
  input.Skip(static_cast<std::int64_t>(stretch.count * record.inBytes));
  return output.Skip(static_cast<std::int64_t>(OutBytes(record, 1, stretch.count)))
             ? BlockLoopResult::Done
             : BlockLoopResult::WriteFailed;
}

}  // namespace resicrypt
