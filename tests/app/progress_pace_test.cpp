#include "app/progress_pace.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/fake_form.h"

namespace resicrypt {
namespace {

using std::chrono::milliseconds;
using Clock = ProgressPace::Clock;

Clock::time_point At(int ms) { return Clock::time_point(milliseconds(ms)); }

TEST(ProgressPace, GivesOnePositionPerFrameAndHoldsBackTheNewest) {
  ProgressPace pace(milliseconds(16));
  EXPECT_TRUE(pace.Move(1, At(1000)));   // the first move is painted at once
  EXPECT_FALSE(pace.Move(2, At(1005)));  // within the frame
  EXPECT_FALSE(pace.Move(3, At(1015)));
  EXPECT_TRUE(pace.Move(4, At(1016)));   // a whole frame after the last one given
  EXPECT_EQ(pace.TakeHeldBack(At(1017)), std::nullopt) << "4 replaced what was held back";
  EXPECT_FALSE(pace.Move(5, At(1020)));
  EXPECT_FALSE(pace.Move(6, At(1031)));
  EXPECT_EQ(pace.TakeHeldBack(At(1031)), std::optional<int>(6));
  EXPECT_EQ(pace.TakeHeldBack(At(1031)), std::nullopt);
  // The position taken counts as given: the next frame starts there.
  EXPECT_FALSE(pace.Move(7, At(1046)));
  EXPECT_TRUE(pace.Move(8, At(1047)));
}

// A file whose window turns come every 2 ms for 200 ms: turns 0, 2, ..., 198. The
// bar takes a position at 0, 16, 32, ..., 192 (13 of the 100), and the last one,
// 198, waits for the bar's next change or the command's end.
TEST(ProgressPace, PacesAHundredQuickTurnsToTheFrames) {
  ProgressPace pace(milliseconds(16));
  std::vector<int> given;
  for (int t = 0; t < 200; t += 2) {
    if (pace.Move(t, At(t))) given.push_back(t);
  }
  EXPECT_EQ(given, (std::vector<int>{0, 16, 32, 48, 64, 80, 96, 112, 128, 144, 160, 176, 192}));
  EXPECT_EQ(pace.TakeHeldBack(At(199)), std::optional<int>(198));
}

TEST(ProgressPace, SlowTurnsAndAZeroFrameGiveEveryPosition) {
  ProgressPace slow(milliseconds(16));
  ProgressPace zero(milliseconds(0));
  for (int k = 0; k < 10; ++k) {
    EXPECT_TRUE(slow.Move(k, At(20 * k)));
    EXPECT_TRUE(zero.Move(k, At(1000)));
  }
  EXPECT_EQ(slow.TakeHeldBack(At(1000)), std::nullopt);
  EXPECT_EQ(zero.TakeHeldBack(At(1000)), std::nullopt);
}

// The window behind the paced bars, which logs what reaches each bar.
class BarLog final : public testing::FakeForm {
 public:
  std::vector<std::string> log;
  void ShowProgress(ProgressBar bar, bool visible) override {
    log.push_back(Name(bar) + (visible ? " shown" : " hidden"));
  }
  void SetProgressRange(ProgressBar bar, int minimum, int maximum) override {
    log.push_back(Name(bar) + " " + std::to_string(minimum) + ".." + std::to_string(maximum));
  }
  void SetProgressPosition(ProgressBar bar, int position) override {
    log.push_back(Name(bar) + " at " + std::to_string(position));
  }

 private:
  static std::string Name(ProgressBar bar) { return bar == ProgressBar::Blocks ? "1" : "2"; }
};

// A frame longer than any test: every move after a bar's first waits, and the
// newest waiting one reaches the bar before the bar changes otherwise or the
// command ends. Each bar has its own pace.
TEST(PacedBars, MovesWithinAFrameWaitUntilTheBarChangesOtherwise) {
  BarLog window;
  PacedBars bars(window, std::chrono::hours(1));
  bars.ShowProgress(ProgressBar::Blocks, true);
  bars.SetProgressRange(ProgressBar::Blocks, 1, 1000);
  for (int position : {10, 20, 30}) bars.SetProgressPosition(ProgressBar::Blocks, position);
  bars.SetProgressRange(ProgressBar::Blocks, 1, 500);  // 30 first, in the old range
  bars.SetProgressPosition(ProgressBar::Blocks, 40);
  bars.ShowProgress(ProgressBar::Blocks, false);
  bars.ShowProgress(ProgressBar::Blocks, true);  // nothing held back: nothing given
  bars.SetProgressPosition(ProgressBar::Files, 7);
  bars.SetProgressPosition(ProgressBar::Files, 8);
  bars.SetProgressPosition(ProgressBar::Blocks, 50);
  bars.GiveHeldBack();  // the command's end
  bars.GiveHeldBack();
  EXPECT_EQ(window.log, (std::vector<std::string>{"1 shown", "1 1..1000", "1 at 10", "1 at 30",
                                                  "1 1..500", "1 at 40", "1 hidden", "1 shown",
                                                  "2 at 7", "1 at 50", "2 at 8"}));
}

}  // namespace
}  // namespace resicrypt
