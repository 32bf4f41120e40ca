#include "app/window_hand_off.h"

#include <utility>

#include "app/flag_scope.h"

namespace resicrypt {

void WindowHandOff::Post(std::function<void()> call) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    calls_.push_back(std::move(call));
    wake = !armed_;
    armed_ = true;
  }
  if (wake) wake_();
}

void WindowHandOff::Drain() {
  if (running_) return;
  FlagScope scope(running_);
  std::function<void()> call;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (calls_.empty()) {
      armed_ = false;
      return;
    }
    call = std::move(calls_.front());
    calls_.pop_front();
  }
  // armed_ stays set while the call runs: the calls queued meanwhile wait for a
  // box it opens, and the window is woken for them once the call has returned.
  try {
    call();
  } catch (...) {
    Rearm();
    throw;
  }
  Rearm();
}

void WindowHandOff::Rearm() {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake = !calls_.empty();
    armed_ = wake;
  }
  if (wake) wake_();
}

void WindowHandOff::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  armed_ = false;
  calls_.clear();
}

void WindowHandOff::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = false;
}

}  // namespace resicrypt
