#include "cli/progress.h"

#include <algorithm>
#include <chrono>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace resicrypt::cli {

namespace {

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// "512 B", "1.5 KiB", "2.5 GiB".
std::string Bytes(double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 4) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

// "0:03", "1:02:03".
std::string Duration(double seconds) {
  const auto whole = static_cast<long long>(std::max(0.0, seconds) + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace

ProgressChoice ProgressChoiceOf(const ParsedArgs& parsed) {
  if (parsed.options.count("no-progress") != 0) return ProgressChoice::kOff;
  if (parsed.options.count("progress") != 0) return ProgressChoice::kOn;
  return ProgressChoice::kAuto;
}

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  DWORD mode = 0;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

std::string ProgressText(std::int64_t done, std::int64_t total, double seconds, bool ended) {
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  std::string text;
  if (total > 0) {
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%",
                  static_cast<int>(std::min<std::int64_t>(done, total) * 100 / total));
    text = std::string(percent) + "   " + Bytes(static_cast<double>(done)) + " of " +
           Bytes(static_cast<double>(total));
  } else {
    text = Bytes(static_cast<double>(done));
  }
  text += "   " + Bytes(rate) + "/s";
  if (ended) {
    text += "   in " + Duration(seconds);
  } else if (total > 0 && rate > 0) {
    text += "   " + Duration(static_cast<double>(std::max<std::int64_t>(total - done, 0)) / rate) +
            " left";
  }
  return text;
}

ProgressLine::ProgressLine(std::FILE* out, ProgressChoice choice, Clock clock)
    : out_(out),
      clock_(clock != nullptr ? clock : &SteadySeconds),
      active_(choice == ProgressChoice::kOn || (choice == ProgressChoice::kAuto && IsTerminal(out))),
      waits_(choice == ProgressChoice::kAuto),
      created_(clock_()),
      started_(created_) {}

void ProgressLine::Start(std::int64_t totalBytes) {
  total_ = totalBytes;
  done_ = 0;
  started_ = clock_();
}

void ProgressLine::Update(std::int64_t doneBytes) {
  if (!active_) return;
  done_ = doneBytes;
  const double now = clock_();
  if (!drawn_ && waits_ && now - created_ < kDelaySeconds) return;
  if (drawn_ && now - drawnAt_ < kRedrawSeconds) return;
  Draw(now, false);
}

void ProgressLine::Finish() {
  if (!active_ || (waits_ && !drawn_)) return;
  Draw(clock_(), true);
  std::fputc('\n', out_);
  std::fflush(out_);
  active_ = false;
}

void ProgressLine::Draw(double now, bool ended) {
  std::string text = ProgressText(done_, total_, now - started_, ended);
  const std::size_t width = text.size();
  if (width < width_) text.append(width_ - width, ' ');  // over the longer line before
  width_ = width;
  std::fputc('\r', out_);
  std::fputs(text.c_str(), out_);
  std::fflush(out_);
  drawn_ = true;
  drawnAt_ = now;
}

PackProgress::PackProgress(ProgressLine& line, const std::vector<std::int64_t>& sizes,
                           int blockLength)
    : line_(line), before_(sizes.size() + 1, 0), blockLength_(blockLength) {
  for (std::size_t k = 0; k < sizes.size(); ++k) before_[k + 1] = before_[k] + sizes[k];
  line_.Start(before_.back());
}

void PackProgress::SourceStarting(std::int32_t index, std::int32_t /*fileCount*/) {
  current_ = std::min(static_cast<std::size_t>(index), before_.size() - 1);
  line_.Update(before_[current_]);
}

void PackProgress::BlockDue(std::int32_t block) {
  const std::int64_t size = current_ + 1 < before_.size()
                                ? before_[current_ + 1] - before_[current_]
                                : 0;
  line_.Update(before_[current_] +
               std::min(static_cast<std::int64_t>(block) * blockLength_, size));
}

void PackProgress::SourcePacked(const FileRecord& /*record*/, std::int32_t /*fullBlocks*/,
                                int /*blockLength*/, int /*residueCount*/) {
  line_.Update(before_[std::min(current_ + 1, before_.size() - 1)]);
}

UnpackProgress::UnpackProgress(ProgressLine& line, const std::vector<std::int64_t>& sizes,
                               int blockLength)
    : line_(line), blockLength_(blockLength) {
  if (!sizes.empty()) {
    before_.assign(sizes.size() + 1, 0);
    for (std::size_t k = 0; k < sizes.size(); ++k) before_[k + 1] = before_[k] + sizes[k];
  }
  line_.Start(before_.empty() ? 0 : before_.back());
}

std::int64_t UnpackProgress::Before() const {
  return before_.empty() ? counted_ : before_[std::min(current_, before_.size() - 1)];
}

void UnpackProgress::RecordStarting(std::int32_t index) {
  current_ = static_cast<std::size_t>(index);
  line_.Update(Before());
}

void UnpackProgress::BlocksStarting(std::int32_t blockCount) {
  recordBytes_ = current_ + 1 < before_.size()
                     ? before_[current_ + 1] - before_[current_]
                     : static_cast<std::int64_t>(blockCount) * blockLength_;
}

void UnpackProgress::BlockDue(std::int32_t block) {
  line_.Update(Before() + std::min(static_cast<std::int64_t>(block) * blockLength_, recordBytes_));
}

void UnpackProgress::BlocksDone() {
  if (before_.empty()) {
    counted_ += recordBytes_;
    line_.Update(counted_);
  } else {
    line_.Update(Before() + recordBytes_);
  }
}

}  // namespace resicrypt::cli
