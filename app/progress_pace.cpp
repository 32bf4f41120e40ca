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

}  // namespace resicrypt
