// Which positions of a progress bar are painted while a file command runs.
//
// The file commands move ProgressBar1 about a hundred times per file, and before
// every block of a file under a hundred blocks; on a fast disk that is several
// hundred moves a second, more than a screen shows (a position painted over within
// one refresh of the screen is never seen). Each move repaints the bar at once,
// which costs a few tenths of a millisecond and, under Wine, about ten round trips
// to the window server: a large part of a command's time on a fast disk. So a bar
// takes a new position at once when its last one was given at least a frame (one
// refresh of the screen) ago; otherwise the newest position is held back and given
// at the next move a frame later, or before the bar is shown, hidden or given a new
// range, or when the command ends, whichever comes first. Every turn of the window
// still comes at the same block and lets the same events through; only repaints
// that no screen could show apart are left out.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>

#include "app/form_port.h"

namespace resicrypt {

class ProgressPace {
 public:
  using Clock = std::chrono::steady_clock;

  // frame: the shortest time between two positions given to the bar; zero gives
  // every position at once.
  explicit ProgressPace(Clock::duration frame) : frame_(frame) {}

  // A new position at time now. True when the bar is to take it now (it then
  // counts as given at now); false when it is held back, replacing any position
  // held back before.
  bool Move(int position, Clock::time_point now);

  // The position held back, if any, for the bar to take now; nothing is held
  // back afterwards, and the next frame starts at now.
  std::optional<int> TakeHeldBack(Clock::time_point now);

 private:
  Clock::duration frame_;
  std::optional<Clock::time_point> lastGiven_;
  std::optional<int> heldBack_;
};

// The window as a running file command sees it: every call goes on to the window,
// and each bar's positions go through a pace of its own. A bar takes the position
// held back for it before anything else changes on it.
class PacedBars : public FileCommandView {
 public:
  PacedBars(FileCommandView& window, ProgressPace::Clock::duration frame)
      : window_(window), paces_{ProgressPace(frame), ProgressPace(frame)} {}

  // When the command ends, also by an error: the positions held back reach the bars.
  void GiveHeldBack();

  void ShowEdit1() override { window_.ShowEdit1(); }
  void ReportAppend(const std::string& line) override { window_.ReportAppend(line); }
  void ShowProgress(ProgressBar bar, bool visible) override;
  void SetProgressRange(ProgressBar bar, int minimum, int maximum) override;
  void SetProgressPosition(ProgressBar bar, int position) override;
  void ShowMessage(const std::string& text) override { window_.ShowMessage(text); }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    return window_.AskOkCancel(text, caption);
  }
  void BlockTurn() override { window_.BlockTurn(); }

 private:
  ProgressPace& PaceOf(ProgressBar bar) { return paces_[bar == ProgressBar::Blocks ? 0 : 1]; }
  void GiveHeldBack(ProgressBar bar);

  FileCommandView& window_;
  std::array<ProgressPace, 2> paces_;  // ProgressBar1, ProgressBar2
};

}  // namespace resicrypt
