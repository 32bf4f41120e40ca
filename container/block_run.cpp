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

// Two threads running the large pieces of a record: the worker of the process
// and the caller, each taking slices of the current piece until none is left and
// reading, ciphering and writing them through its own channel. Between pieces the
// worker waits, so that only the calling thread runs while the window takes its
// turn. The worker is started at the first large piece of the process and lives
// as long as the process, waiting: starting and ending a thread costs
// milliseconds on some systems (tens of them under Wine, which tells every
// loaded library of each thread that ends), too much to pay per record. It serves
// one runner at a time (Claim, Release). During a piece it touches only its
// channel, its buffers and the steps' Transform. When no thread can be started,
// the caller does all the work alone.
//
// The caller waits only for slices the worker has taken. A worker that has not
// taken up the piece by the time the caller ran out of slices (not scheduled yet)
// is let off it, so the caller never waits for a thread that did no work.
//
// A slice that fails stops both threads from taking further slices; the piece
// then ends with the failure of the earliest failed slice (its read before its
// write), as a run in block order would have met it first.
class TransformCrew {
 public:
  // The crew of the process for one runner, or null while another runner has it.
  static TransformCrew* Claim() {
    // Never destroyed: the worker waits until the process ends.
    static TransformCrew* const crew = new TransformCrew();
    bool idle = false;
    return crew->claimed_.compare_exchange_strong(idle, true) ? crew : nullptr;
  }
  void Release() { claimed_.store(false); }

  // Blocks first.. (count of them) of steps through both threads, slice blocks at
  // a time, the caller's through callerChannel with the buffers in and out (room
  // for slice blocks each); returns when all are done or a slice failed, with
  // the worker waiting again.
  BlockRunResult Run(const BlockSteps& steps, std::size_t inBytes, std::size_t outBytes,
                     BlockChannel& callerChannel, unsigned char* in, unsigned char* out,
                     BlockChannel& workerChannel, std::int32_t first, std::size_t count,
                     std::size_t slice) {
    // The worker is off every piece here (none open, or this runner's last one
    // ended), so its buffers may change.
    if (workerIn_.size() < slice * inBytes) workerIn_.resize(slice * inBytes);
    if (workerOut_.size() < slice * outBytes) workerOut_.resize(slice * outBytes);
    Piece piece{&steps, &workerChannel, inBytes, outBytes, first, count, slice};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      piece_ = piece;
      next_.store(0, std::memory_order_relaxed);
      failed_.store(false, std::memory_order_relaxed);
      failedAt_ = count;
      failure_ = BlockRunResult::Done;
      open_ = started_;
      ++generation_;
    }
    wake_.notify_one();
    RunSlices(piece, callerChannel, in, out);
    std::unique_lock<std::mutex> lock(mutex_);
    open_ = false;  // a worker that has not taken the piece up yet leaves it alone
    done_.wait(lock, [this] { return !workerBusy_; });
    return failure_;
  }

 private:
  struct Piece {
    const BlockSteps* steps = nullptr;
    BlockChannel* workerChannel = nullptr;
    std::size_t inBytes = 0;
    std::size_t outBytes = 0;
    std::int32_t first = 0;
    std::size_t count = 0;
    std::size_t slice = 1;
  };

  TransformCrew() {
    try {
      std::thread([this] { WorkerLoop(); }).detach();
      started_ = true;
    } catch (const std::system_error&) {
      // No worker: Run does every slice on the calling thread.
    }
  }

  void RunSlices(const Piece& piece, BlockChannel& channel, unsigned char* in, unsigned char* out) {
    for (;;) {
      const std::size_t at = next_.fetch_add(piece.slice, std::memory_order_relaxed);
      if (at >= piece.count || failed_.load(std::memory_order_relaxed)) return;
      const std::size_t n = std::min(piece.slice, piece.count - at);
      const auto block = piece.first + static_cast<std::int32_t>(at);
      if (!channel.ReadAt(in, block, n)) return Fail(at, BlockRunResult::ReadFailed);
      piece.steps->Transform(in, n, out);
      if (!channel.WriteAt(out, block, n)) return Fail(at, BlockRunResult::WriteFailed);
    }
  }

  void Fail(std::size_t at, BlockRunResult failure) {
    std::lock_guard<std::mutex> lock(mutex_);
    failed_.store(true, std::memory_order_relaxed);
    if (at < failedAt_) {
      failedAt_ = at;
      failure_ = failure;
    }
  }

  void WorkerLoop() {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return generation_ != seen; });
      seen = generation_;
      if (!open_) continue;  // the caller has finished this piece alone
      workerBusy_ = true;
      const Piece piece = piece_;
      lock.unlock();
      RunSlices(piece, *piece.workerChannel, workerIn_.data(), workerOut_.data());
      lock.lock();
      workerBusy_ = false;
      done_.notify_one();
    }
  }

  std::atomic<bool> claimed_{false};
  std::vector<unsigned char> workerIn_;
  std::vector<unsigned char> workerOut_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> failed_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Piece piece_;
  std::size_t failedAt_ = 0;  // the earliest failed slice of the piece
  BlockRunResult failure_ = BlockRunResult::Done;
  std::uint64_t generation_ = 0;
  bool open_ = false;        // the worker may still take up the current piece
  bool workerBusy_ = false;  // the worker is on slices of the current piece
  bool started_ = false;     // whether the worker runs
};

std::int64_t BlockPlaces::InOffset(std::int32_t block) const {
  return inBase + static_cast<std::int64_t>(block - 1) * static_cast<std::int64_t>(inBytes);
}

std::int64_t BlockPlaces::OutOffset(std::int32_t block) const {
  const std::int64_t offset =
      outBase + static_cast<std::int64_t>(block - 1) * static_cast<std::int64_t>(outBytes);
  return shortBlock > 0 && block > shortBlock ? offset - static_cast<std::int64_t>(shortBy)
                                              : offset;
}

std::size_t BlockPlaces::OutLength(std::int32_t first, std::size_t count) const {
  const std::size_t bytes = count * outBytes;
  const std::int32_t last = first + static_cast<std::int32_t>(count) - 1;
  return shortBlock > 0 && first <= shortBlock && shortBlock <= last ? bytes - shortBy : bytes;
}

namespace {

class FileChannel : public BlockChannel {
 public:
  explicit FileChannel(const BlockPlaces& places) : places_(places) {}
  bool Open(const std::string& inPath, const std::string& outPath) {
    return input_.OpenForReading(inPath) && output_.OpenForWriting(outPath);
  }
  bool ReadAt(unsigned char* in, std::int32_t first, std::size_t count) override {
    return input_.ReadAt(places_.InOffset(first), in, count * places_.inBytes);
  }
  bool WriteAt(const unsigned char* out, std::int32_t first, std::size_t count) override {
    return output_.WriteAt(places_.OutOffset(first), out, places_.OutLength(first, count));
  }

 private:
  BlockPlaces places_;
  FileAtOffsets input_;
  FileAtOffsets output_;
};

}  // namespace

std::unique_ptr<BlockChannel> OpenFileChannel(const InputFile& input, const OutputFile& output,
                                              const BlockPlaces& places) {
  auto channel = std::make_unique<FileChannel>(places);
  if (!channel->Open(input.Path(), output.TemporaryPath())) return nullptr;
  return channel;
}

BlockRunResult AlignFiles(InputFile& input, OutputFile& output, const BlockPlaces& places,
                          std::int32_t block) {
  if (!output.Flush() || !output.SeekTo(places.OutOffset(block))) {
    return BlockRunResult::WriteFailed;
  }
  if (!input.SeekTo(places.InOffset(block))) return BlockRunResult::ReadFailed;
  return BlockRunResult::Done;
}

BlockRunLimits DefaultBlockRunLimits() {
  BlockRunLimits limits{};
  limits.chunkBytes = kFileBufferBytes;
  // A slice and its cipher text stay in the core's own cache between the read,
  // the cipher and the write.
  limits.sliceBytes = std::size_t{128} << 10;
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
      chunkBlocks_(std::max<std::size_t>(1, limits_.chunkBytes / inBytes)),
      sliceBlocks_(std::max<std::size_t>(1, limits_.sliceBytes / inBytes)) {}

BlockRunResult BlockRunner::Run(std::int32_t total, BlockSteps& steps) {
  // A crew and its channels serve the steps of one record; the channels' streams
  // are closed before the caller goes on with the files.
  channelsFailed_ = false;
  const BlockRunResult result = RunPieces(total, steps);
  callerChannel_.reset();
  workerChannel_.reset();
  if (crew_ != nullptr) crew_->Release();
  crew_ = nullptr;
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
  if (!StartCrew(steps)) return RunPiece(first, count, steps);
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
  }
  return result;
}

bool BlockRunner::StartCrew(BlockSteps& steps) {
  if (crew_ != nullptr) return true;
  if (channelsFailed_) return false;
  callerChannel_ = steps.OpenChannel();
  workerChannel_ = callerChannel_ ? steps.OpenChannel() : nullptr;
  if (!workerChannel_) {
    channelsFailed_ = true;  // the record runs in block order on the calling thread
    callerChannel_.reset();
    return false;
  }
  crew_ = TransformCrew::Claim();
  if (crew_ == nullptr) {
    channelsFailed_ = true;  // another runner has the worker
    callerChannel_.reset();
    workerChannel_.reset();
    return false;
  }
  return true;
}

BlockRunResult BlockRunner::RunPiece(std::int32_t first, std::size_t count, BlockSteps& steps) {
  while (count > 0) {
    const std::size_t n = std::min(count, chunkBlocks_);
    if (in_.size() < n * inBytes_) in_.resize(n * inBytes_);
    if (out_.size() < n * outBytes_) out_.resize(n * outBytes_);
    if (!steps.Read(in_.data(), n)) return BlockRunResult::ReadFailed;
    steps.Transform(in_.data(), n, out_.data());
    if (!steps.Write(out_.data(), first, n)) return BlockRunResult::WriteFailed;
    first += static_cast<std::int32_t>(n);
    count -= n;
  }
  return BlockRunResult::Done;
}

// The piece goes through the two channels; the record's own streams are put
// before it first (the output's buffered bytes written out) and after it at the
// end, so that pieces in block order can follow.
BlockRunResult BlockRunner::RunPieceThreaded(std::int32_t first, std::size_t count,
                                             BlockSteps& steps) {
  if (!StartCrew(steps)) return RunPiece(first, count, steps);
  const BlockRunResult before = steps.Align(first);
  if (before != BlockRunResult::Done) return before;
  // At least this many slices per piece, so that the two threads end a piece
  // close together however the slices fall between them.
  constexpr std::size_t kSlicesPerPiece = 16;
  const std::size_t slice =
      std::max<std::size_t>(1, std::min(sliceBlocks_, (count + kSlicesPerPiece - 1) / kSlicesPerPiece));
  if (in_.size() < slice * inBytes_) in_.resize(slice * inBytes_);
  if (out_.size() < slice * outBytes_) out_.resize(slice * outBytes_);
  const BlockRunResult result = crew_->Run(steps, inBytes_, outBytes_, *callerChannel_, in_.data(),
                                           out_.data(), *workerChannel_, first, count, slice);
  if (result != BlockRunResult::Done) return result;
  return steps.Align(first + static_cast<std::int32_t>(count));
}

}  // namespace resicrypt
