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

#include <chrono>
#include <optional>

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

}  // namespace resicrypt
