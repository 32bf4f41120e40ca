// The progress line of pack and unpack on standard error, drawn the way pv and
// rsync --info=progress2 draw theirs: one line, rewritten in place,
//    42%   1.1 GiB of 2.5 GiB   512.0 MiB/s   0:03 left
// On its own it is drawn only on a terminal and only once the work has run about
// a second, so that short runs, scripts and pipes see nothing; --progress draws
// it at once wherever standard error goes, --no-progress never.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_args.h"
#include "container/pack.h"

namespace resicrypt::cli {

enum class ProgressChoice { kAuto, kOn, kOff };

// --progress, --no-progress, or neither.
ProgressChoice ProgressChoiceOf(const ParsedArgs& parsed);

// True when the stream is a terminal (on Windows the console: "2> NUL" is none).
bool IsTerminal(std::FILE* stream);

// "42%   1.1 GiB of 2.5 GiB   512.0 MiB/s   0:03 left"; without a total, bytes
// and rate alone; ended (done), the time taken in place of the time left.
std::string ProgressText(std::int64_t done, std::int64_t total, double seconds, bool ended);

class ProgressLine {
 public:
  using Clock = double (*)();  // seconds from any fixed point on
  static constexpr double kDelaySeconds = 1.0;   // on its own: no line for shorter work
  static constexpr double kRedrawSeconds = 0.2;  // at most five redraws a second

  // The work starts now (the time counts towards the delay from here).
  ProgressLine(std::FILE* out, ProgressChoice choice, Clock clock = nullptr);
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // False when no line will ever be drawn: callers then spare the sizes.
  bool Active() const { return active_; }
  // The bytes the work will take (0: not known); the rate counts from here.
  void Start(std::int64_t totalBytes);
  void Update(std::int64_t doneBytes);
  // The last state, drawn and ended with a line break, if a line was drawn.
  void Finish();

 private:
  void Draw(double now, bool ended);

  std::FILE* out_;
  Clock clock_;
  bool active_;
  bool waits_;  // on its own: drawn only after kDelaySeconds
  double created_ = 0;
  double started_ = 0;
  double drawnAt_ = 0;
  bool drawn_ = false;
  std::size_t width_ = 0;
  std::int64_t total_ = 0;
  std::int64_t done_ = 0;
};

// Bytes packed so far, from PackContainer's events: the sources' sizes, then
// block by block of the source under way.
class PackProgress : public PackEvents {
 public:
  // sizes: the sources', in packing order; blockLength: file bytes per block.
  PackProgress(ProgressLine& line, const std::vector<std::int64_t>& sizes, int blockLength);
  void SourceStarting(std::int32_t index, std::int32_t fileCount) override;
  void BlockDue(std::int32_t block) override;
  void SourcePacked(const FileRecord& record, std::int32_t fullBlocks, int blockLength,
                    int residueCount) override;

 private:
  ProgressLine& line_;
  std::vector<std::int64_t> before_;  // bytes of the sources before each one
  int blockLength_;
  std::size_t current_ = 0;
};

// Bytes unpacked so far, from UnpackContainer's events, which an unpacking's
// events pass on (RecordStarting, BlockDue, BlocksDone). With the records' sizes
// (a listing) it knows the total; without, it counts the blocks' bytes alone.
class UnpackProgress {
 public:
  UnpackProgress(ProgressLine& line, const std::vector<std::int64_t>& sizes, int blockLength);
  void RecordStarting(std::int32_t index);
  void BlocksStarting(std::int32_t blockCount);
  void BlockDue(std::int32_t block);
  void BlocksDone();

 private:
  std::int64_t Before() const;

  ProgressLine& line_;
  std::vector<std::int64_t> before_;  // empty: sizes not known
  int blockLength_;
  std::size_t current_ = 0;
  std::int64_t counted_ = 0;  // bytes of the records done, when sizes are not known
  std::int64_t recordBytes_ = 0;
};

}  // namespace resicrypt::cli
