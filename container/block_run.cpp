#include "container/block_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "container/binary_file.h"
#include "container/file_cipher.h"

namespace resicrypt {

namespace {

BlockRunLimits limitsInPlace = DefaultBlockRunLimits();

}  // namespace

// Two threads ciphering the chunks of the large pieces of one record: the worker
// started here and the caller, each taking slices of the current chunk until none
// is left. Between pieces the worker waits, so that only the calling thread runs
// while the window takes its turn; it is started once per record instead of once
// per piece. The worker touches only the chunk's buffers and the steps'
// Transform; the destructor joins it. When no thread can be started, the caller
// does all the work alone.
//
// The caller waits only for slices the worker has taken. A worker that has not
// taken up the chunk by the time the caller ran out of slices (still starting,
// which in a process with many libraries loaded can take milliseconds, or not
// scheduled yet) is let off it, so the caller never waits for a thread that did
// no work.
class TransformCrew {
 public:
  TransformCrew(const BlockSteps& steps, std::size_t inBytes, std::size_t outBytes,
                std::size_t sliceBlocks)
      : steps_(steps), inBytes_(inBytes), outBytes_(outBytes), slice_(sliceBlocks) {
    try {
      worker_ = std::thread([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
      // No worker: Finish runs every slice on the calling thread.
    }
  }
  TransformCrew(const TransformCrew&) = delete;
  TransformCrew& operator=(const TransformCrew&) = delete;
  ~TransformCrew() {
    Dismiss();
    if (worker_.joinable()) worker_.join();
  }

  // Tells the worker to end, without waiting for it; nothing may be posted after.
  void Dismiss() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
  }

  // The worker starts on count blocks from in into out.
  void Post(const unsigned char* in, std::size_t count, unsigned char* out) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      in_ = in;
      out_ = out;
      count_ = count;
      next_.store(0, std::memory_order_relaxed);
      open_ = worker_.joinable();
      ++generation_;
    }
    wake_.notify_one();
  }

  // The caller takes what is left of the chunk, then waits for the worker's part.
  void Finish() {
    const unsigned char* in = nullptr;
    unsigned char* out = nullptr;
    std::size_t count = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      in = in_;
      out = out_;
      count = count_;
    }
    RunSlices(in, count, out);
    std::unique_lock<std::mutex> lock(mutex_);
    open_ = false;  // a worker that has not taken the chunk up yet leaves it alone
    done_.wait(lock, [this] { return !workerBusy_; });
  }

 private:
  void RunSlices(const unsigned char* in, std::size_t count, unsigned char* out) {
    for (;;) {
      const std::size_t first = next_.fetch_add(slice_, std::memory_order_relaxed);
      if (first >= count) return;
      const std::size_t n = std::min(slice_, count - first);
      steps_.Transform(in + first * inBytes_, n, out + first * outBytes_);
    }
  }

  void WorkerLoop() {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      if (!open_) continue;  // the caller has finished this chunk alone
      workerBusy_ = true;
      const unsigned char* in = in_;
      unsigned char* out = out_;
      const std::size_t count = count_;
      lock.unlock();
      RunSlices(in, count, out);
      lock.lock();
      workerBusy_ = false;
      done_.notify_one();
    }
  }

  const BlockSteps& steps_;
  const std::size_t inBytes_;
  const std::size_t outBytes_;
  const std::size_t slice_;
  std::atomic<std::size_t> next_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const unsigned char* in_ = nullptr;
  unsigned char* out_ = nullptr;
  std::size_t count_ = 0;
  std::uint64_t generation_ = 0;
  bool open_ = false;        // the worker may still take up the current chunk
  bool workerBusy_ = false;  // the worker is on slices of the current chunk
  bool stop_ = false;
  std::thread worker_;  // last: started once everything above is in place
};

void BlockRunner::CrewDeleter::operator()(TransformCrew* crew) const { delete crew; }

BlockRunLimits DefaultBlockRunLimits() {
  BlockRunLimits limits{};
  limits.chunkBytes = kFileBufferBytes;
  limits.chunksPerPiece = 3;
  limits.sliceBlocks = 2048;
  limits.threadedPieceBytes = std::size_t{256} << 10;
  limits.threads = std::thread::hardware_concurrency() >= 2;
  limits.tryBothWays = true;
  return limits;
}

BlockRunLimits SetBlockRunLimits(const BlockRunLimits& limits) {
  const BlockRunLimits previous = limitsInPlace;
  limitsInPlace = limits;
  return previous;
}

BlockRunner::BlockRunner(std::size_t inBytes, std::size_t outBytes)
    : inBytes_(inBytes),
      outBytes_(outBytes),
      limits_(limitsInPlace),
      chunkBlocks_(std::max<std::size_t>(1, limits_.chunkBytes / inBytes)) {
  limits_.sliceBlocks = std::max<std::size_t>(1, limits_.sliceBlocks);
  limits_.chunksPerPiece = std::max<std::size_t>(1, limits_.chunksPerPiece);
}

BlockRunResult BlockRunner::Run(std::int32_t total, BlockSteps& steps) {
  crew_.reset();  // a crew serves the steps of one record
  const BlockRunResult result = RunPieces(total, steps);
  crew_.reset();
  return result;
}

BlockRunResult BlockRunner::RunPieces(std::int32_t total, BlockSteps& steps) {
  const std::int32_t step = ServiceStep(total);
  std::int32_t m = 1;
  while (m <= total) {
    if (m % step == 0) steps.Due(m);
    // The piece runs up to the block before the next turn of the window.
    const std::int32_t last = std::min(total, (m / step + 1) * step - 1);
    const auto count = static_cast<std::size_t>(last - m + 1);
    const bool large =
        limits_.threads && count >= 2 && count * inBytes_ >= limits_.threadedPieceBytes;
    const BlockRunResult result =
        large ? RunLargePiece(m, count, steps) : RunPiece(m, count, steps);
    if (result != BlockRunResult::Done) return result;
    m = last + 1;
  }
  return BlockRunResult::Done;
}

// The worker pays where starting a thread and handing chunks over are cheap next
// to the cipher work of a piece; where they are not (a thread can take a
// millisecond to start on some systems), it costs time. So unless the limits
// say otherwise, the first large pieces of a command try both ways: one on a
// single thread to warm the buffers, then three each way in turn, timed; the
// worker stays only when its best time per block was clearly below the single
// thread's best (the best of three, so that one disturbed piece decides nothing).
// The worker is started before the first piece of the trial, so that it gets
// going while that piece runs on one thread and its start is not timed as the
// cost of handing it chunks.
BlockRunResult BlockRunner::RunLargePiece(std::int32_t first, std::size_t count,
                                          BlockSteps& steps) {
  constexpr int kTrialPieces = 7;  // the warm-up, then three each way
  if (!limits_.tryBothWays || trial_ == Trial::KeepWorker) {
    return RunPieceThreaded(first, count, steps);
  }
  if (trial_ == Trial::OneThread) return RunPiece(first, count, steps);
  StartCrew(steps);
  const bool withWorker = triedPieces_ % 2 == 0 && triedPieces_ > 0;
  const auto start = std::chrono::steady_clock::now();
  const BlockRunResult result =
      withWorker ? RunPieceThreaded(first, count, steps) : RunPiece(first, count, steps);
  const double perBlock =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() /
      static_cast<double>(count);
  if (triedPieces_ > 0) {
    double& best = withWorker ? bestWithWorker_ : bestOneThread_;
    if (best == 0 || perBlock < best) best = perBlock;
  }
  if (++triedPieces_ == kTrialPieces) {
    trial_ = bestWithWorker_ < 0.9 * bestOneThread_ ? Trial::KeepWorker : Trial::OneThread;
    // A worker no longer needed ends while the pieces go on; Run joins it.
    if (trial_ == Trial::OneThread && crew_) crew_->Dismiss();
  }
  return result;
}

void BlockRunner::StartCrew(const BlockSteps& steps) {
  if (!crew_) crew_.reset(new TransformCrew(steps, inBytes_, outBytes_, limits_.sliceBlocks));
}

BlockRunResult BlockRunner::RunPiece(std::int32_t first, std::size_t count, BlockSteps& steps) {
  std::vector<unsigned char>& in = in_[0];
  std::vector<unsigned char>& out = out_[0];
  while (count > 0) {
    const std::size_t n = std::min(count, chunkBlocks_);
    if (in.size() < n * inBytes_) in.resize(n * inBytes_);
    if (out.size() < n * outBytes_) out.resize(n * outBytes_);
    if (!steps.Read(in.data(), n)) return BlockRunResult::ReadFailed;
    steps.Transform(in.data(), n, out.data());
    if (!steps.Write(out.data(), first, n)) return BlockRunResult::WriteFailed;
    first += static_cast<std::int32_t>(n);
    count -= n;
  }
  return BlockRunResult::Done;
}

// Chunk j is ciphered by both threads while the calling thread first writes
// chunk j - 1 and reads chunk j + 1, so the file work overlaps the cipher work.
BlockRunResult BlockRunner::RunPieceThreaded(std::int32_t first, std::size_t count,
                                             BlockSteps& steps) {
  const std::size_t chunk = std::min(
      chunkBlocks_,
      std::max(limits_.sliceBlocks, (count + limits_.chunksPerPiece - 1) / limits_.chunksPerPiece));
  for (int k = 0; k < 2; ++k) {
    if (in_[k].size() < chunk * inBytes_) in_[k].resize(chunk * inBytes_);
    if (out_[k].size() < chunk * outBytes_) out_[k].resize(chunk * outBytes_);
  }
  StartCrew(steps);
  TransformCrew& crew = *crew_;

  std::size_t current = std::min(count, chunk);  // blocks of the chunk being ciphered
  if (!steps.Read(in_[0].data(), current)) return BlockRunResult::ReadFailed;
  std::size_t left = count - current;  // blocks not read yet
  std::size_t previous = 0;            // blocks ciphered and not yet written
  std::int32_t previousFirst = first;
  int k = 0;
  for (;;) {
    crew.Post(in_[k].data(), current, out_[k].data());
    if (previous > 0 && !steps.Write(out_[1 - k].data(), previousFirst, previous)) {
      return BlockRunResult::WriteFailed;
    }
    const std::size_t next = std::min(left, chunk);
    if (next > 0 && !steps.Read(in_[1 - k].data(), next)) return BlockRunResult::ReadFailed;
    crew.Finish();
    previousFirst = first;
    previous = current;
    first += static_cast<std::int32_t>(current);
    if (next == 0) break;
    current = next;
    left -= next;
    k = 1 - k;
  }
  if (!steps.Write(out_[k].data(), previousFirst, previous)) return BlockRunResult::WriteFailed;
  return BlockRunResult::Done;
}

}  // namespace resicrypt
