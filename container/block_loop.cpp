#include "container/block_loop.h"

#include <algorithm>
#include <system_error>

namespace resicrypt {

// Measured with bench/container_bench (BM_PackSplit, BM_UnpackSplit): on two
// cores a helper for chunks from 128 KiB on made pack and unpack faster; below
// that the hand-over to the other thread costs about what it saves.
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

BlockLoop::~BlockLoop() {
  if (!helper_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_one();
  helper_.join();
}

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

// A small chunk goes through the files' buffers, as header fields do: a record of
// a few blocks costs no call to the system per chunk.
BlockLoopResult BlockLoop::RunChunk(InputFile& input, OutputFile& output,
                                    const RecordBlocks& record, const BlockWork& work,
                                    std::int32_t first, std::size_t count) {
  if (count >= 2 && count * record.inBytes >= options_.helperFromBytes && StartHelper()) {
    return RunSplit(input, output, record, work, first, count);
  }
  MakeRoom(callerBuffers_.in, count * record.inBytes);
  MakeRoom(callerBuffers_.out, count * record.outBytes);
  if (!input.Read(callerBuffers_.in.data(), count * record.inBytes)) {
    return BlockLoopResult::ReadFailed;
  }
  work.Transform(callerBuffers_.in.data(), count, callerBuffers_.out.data());
  if (!output.Write(callerBuffers_.out.data(), OutBytes(record, first, count))) {
    return BlockLoopResult::WriteFailed;
  }
  return BlockLoopResult::Done;
}

// The helper's half comes after the caller's in block order, so a failure of the
// caller's half is the run's whatever the helper met, and the helper leaves its
// write out once it is known. The caller always ends its own half, as a run in
// block order would have.
BlockLoopResult BlockLoop::RunSplit(InputFile& input, OutputFile& output,
                                    const RecordBlocks& record, const BlockWork& work,
                                    std::int32_t first, std::size_t count) {
  // Bytes the output holds of earlier blocks go out first: a failure among them
  // comes before any of this chunk's.
  if (!output.Flush()) return BlockLoopResult::WriteFailed;
  const std::size_t callerCount = count / 2;
  const Half mine{&input,
                  &output,
                  &work,
                  input.Position(),
                  output.Position(),
                  callerCount,
                  callerCount * record.inBytes,
                  OutBytes(record, first, callerCount),
                  callerCount * record.outBytes};
  const Half theirs{&input,
                    &output,
                    &work,
                    mine.inAt + static_cast<std::int64_t>(mine.inBytes),
                    mine.outAt + static_cast<std::int64_t>(mine.outBytes),
                    count - callerCount,
                    (count - callerCount) * record.inBytes,
                    OutBytes(record, first + static_cast<std::int32_t>(callerCount),
                             count - callerCount),
                    (count - callerCount) * record.outBytes};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    helperHalf_ = theirs;
    helperHasHalf_ = true;
    callerFailed_.store(false);
  }
  wake_.notify_one();
  const BlockLoopResult mineResult = RunHalf(mine, callerBuffers_, nullptr);
  if (mineResult != BlockLoopResult::Done) callerFailed_.store(true);
  BlockLoopResult theirsResult;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !helperHasHalf_; });
    theirsResult = helperResult_;
  }
  if (mineResult != BlockLoopResult::Done) return mineResult;
  if (theirsResult != BlockLoopResult::Done) return theirsResult;
  input.Skip(static_cast<std::int64_t>(mine.inBytes + theirs.inBytes));
  if (!output.Skip(static_cast<std::int64_t>(mine.outBytes + theirs.outBytes))) {
    return BlockLoopResult::WriteFailed;
  }
  return BlockLoopResult::Done;
}

BlockLoopResult BlockLoop::RunHalf(const Half& half, Buffers& buffers,
                                   const std::atomic<bool>* stop) {
  MakeRoom(buffers.in, half.inBytes);
  MakeRoom(buffers.out, half.outRoom);
  if (!half.input->ReadAt(half.inAt, buffers.in.data(), half.inBytes)) {
    return BlockLoopResult::ReadFailed;
  }
  half.work->Transform(buffers.in.data(), half.count, buffers.out.data());
  if (stop != nullptr && stop->load()) return BlockLoopResult::Done;
  if (!half.output->WriteAt(half.outAt, buffers.out.data(), half.outBytes)) {
    return BlockLoopResult::WriteFailed;
  }
  return BlockLoopResult::Done;
}

bool BlockLoop::StartHelper() {
  if (helper_.joinable()) return true;
  if (helperFailedToStart_) return false;
  try {
    helper_ = std::thread([this] { HelperLoop(); });
    return true;
  } catch (const std::system_error&) {
    helperFailedToStart_ = true;  // the calling thread does every chunk
    return false;
  }
}

void BlockLoop::HelperLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || helperHasHalf_; });
    if (!helperHasHalf_) return;  // quit_, with no half left
    const Half half = helperHalf_;
    lock.unlock();
    const BlockLoopResult result = RunHalf(half, helperBuffers_, &callerFailed_);
    lock.lock();
    helperResult_ = result;
    helperHasHalf_ = false;
    done_.notify_one();
  }
}

}  // namespace resicrypt
