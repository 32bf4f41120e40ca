// The progress line: when it is drawn, how it is rewritten, and what it says.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

#include "cli/progress.h"

namespace resicrypt::cli {
namespace {

// A clock the test sets: seconds since the work began.
double now = 0;
double TestClock() { return now; }

TEST(ProgressText, PercentBytesRateAndTimeLeft) {
  const std::int64_t kMiB = 1 << 20;
  // 512 MiB of 1 GiB in 2 s: 256 MiB/s, 2 s for the other half.
  EXPECT_EQ(ProgressText(512 * kMiB, 1024 * kMiB, 2.0, false),
            " 50%   512.0 MiB of 1.0 GiB   256.0 MiB/s   0:02 left");
  // 3 KiB of 300 KiB at 1 KiB/s: 297 s left.
  EXPECT_EQ(ProgressText(3072, 300 * 1024, 3.0, false),
            "  1%   3.0 KiB of 300.0 KiB   1.0 KiB/s   4:57 left");
  EXPECT_EQ(ProgressText(100, 0, 4.0, false), "100 B   25 B/s");  // total not known
  EXPECT_EQ(ProgressText(5, 5, 3725.0, true), "100%   5 B of 5 B   0 B/s   in 1:02:05");
}

#ifndef _WIN32
#define RESICRYPT_TEST_TERMINAL
// A pseudo-terminal, raw (no CR added to LF), and what its program side wrote.
class Terminal {
 public:
  Terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const int slave = open(ptsname(master_), O_RDWR | O_NOCTTY);
    termios mode{};
    tcgetattr(slave, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);
    fcntl(master_, F_SETFL, O_NONBLOCK);
    file_ = fdopen(slave, "w");
  }
  ~Terminal() {
    if (file_ != nullptr) std::fclose(file_);
    if (master_ >= 0) close(master_);
  }
  std::FILE* File() const { return file_; }
  std::string Written() const {
    std::fflush(file_);
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(master_, buffer, sizeof buffer)) > 0;) {
      text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
  }

 private:
  int master_ = -1;
  std::FILE* file_ = nullptr;
};

#endif

// A new file in the temporary folder, to write and read back (tmpfile() would
// take the drive's root on Windows).
std::FILE* ScratchFile() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "resicrypt-progress-test.txt").string();
  std::FILE* file = std::fopen(path.c_str(), "w+b");
  std::remove(path.c_str());  // gone once closed (at once where the system allows)
  return file;
}

// On a terminal and in a file, on its own, with --progress and --no-progress: the
// updates at their times (of 100 bytes), then the end.
TEST(ProgressLine, DrawnOnATerminalAfterASecondOrAtOnceWhenAsked) {
  struct Update {
    double time;
    std::int64_t done;
  };
  struct Row {
    const char* name;
    bool terminal;
    ProgressChoice choice;
    std::vector<Update> updates;
    double end;
    std::string expected;
  };
  const Row rows[] = {
      {"terminal, done within a second: nothing", true, ProgressChoice::kAuto,
       {{0.2, 10}, {0.9, 100}}, 0.95, ""},
      // 1.1 is within 0.2 s of the line before; the end's line is shorter by two.
      {"terminal, past a second: drawn, rewritten, ended", true, ProgressChoice::kAuto,
       {{0.5, 10}, {1.0, 20}, {1.1, 30}, {1.25, 50}, {2.0, 100}}, 2.0,
       "\r 20%   20 B of 100 B   20 B/s   0:04 left"
       "\r 50%   50 B of 100 B   40 B/s   0:01 left"
       "\r100%   100 B of 100 B   50 B/s   0:00 left"
       "\r100%   100 B of 100 B   50 B/s   in 0:02  \n"},
      {"file: nothing", false, ProgressChoice::kAuto, {{0.5, 10}, {2.0, 50}, {5.0, 100}}, 5.0,
       ""},
      {"file, --progress: at once", false, ProgressChoice::kOn, {{0.5, 10}}, 1.0,
       "\r 10%   10 B of 100 B   20 B/s   0:05 left"
       "\r 10%   10 B of 100 B   10 B/s   in 0:01  \n"},
      {"terminal, --no-progress: nothing", true, ProgressChoice::kOff, {{2.0, 50}, {3.0, 100}},
       3.0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
#ifdef RESICRYPT_TEST_TERMINAL
    Terminal terminal;
    std::FILE* file = row.terminal ? terminal.File() : ScratchFile();
#else
    if (row.terminal) continue;  // a console of its own is more than this test makes
    std::FILE* file = ScratchFile();
#endif
    ASSERT_NE(file, nullptr);
    now = 0;
    {
      ProgressLine line(file, row.choice, &TestClock);
      line.Start(100);
      for (const Update& update : row.updates) {
        now = update.time;
        line.Update(update.done);
      }
      now = row.end;
      line.Finish();
    }
    std::string written;
    if (row.terminal) {
#ifdef RESICRYPT_TEST_TERMINAL
      written = terminal.Written();
#endif
    } else {
      std::fflush(file);
      std::rewind(file);
      for (int c; (c = std::fgetc(file)) != EOF;) written += static_cast<char>(c);
      std::fclose(file);
    }
    EXPECT_EQ(written, row.expected);
  }
}

}  // namespace
}  // namespace resicrypt::cli
