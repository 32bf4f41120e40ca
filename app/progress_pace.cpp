#include "app/progress_pace.h"

namespace resicrypt {

bool ProgressPace::Move(int position, Clock::time_point now) {
  if (lastGiven_ && now - *lastGiven_ < frame_) {
    heldBack_ = position;
    return false;
  }
  lastGiven_ = now;
  heldBack_.reset();
  return true;
}

std::optional<int> ProgressPace::TakeHeldBack(Clock::time_point now) {
  std::optional<int> position;
  position.swap(heldBack_);
  if (position) lastGiven_ = now;
  return position;
}

void PacedBars::GiveHeldBack() {
  GiveHeldBack(ProgressBar::Blocks);
  GiveHeldBack(ProgressBar::Files);
}

void PacedBars::GiveHeldBack(ProgressBar bar) {
  if (const auto position = PaceOf(bar).TakeHeldBack(ProgressPace::Clock::now())) {
    window_.SetProgressPosition(bar, *position);
  }
}

void PacedBars::ShowProgress(ProgressBar bar, bool visible) {
  GiveHeldBack(bar);
  window_.ShowProgress(bar, visible);
}

void PacedBars::SetProgressRange(ProgressBar bar, int minimum, int maximum) {
  GiveHeldBack(bar);
  window_.SetProgressRange(bar, minimum, maximum);
}

// Moving a bar repaints it at once; moves less than a frame apart wait.
void PacedBars::SetProgressPosition(ProgressBar bar, int position) {
  if (PaceOf(bar).Move(position, ProgressPace::Clock::now())) {
    window_.SetProgressPosition(bar, position);
  }
}

}  // namespace resicrypt
