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

bool WindowHandOff::Take(std::function<void()>& call) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (calls_.empty()) {
    armed_ = false;
    return false;
  }
  call = std::move(calls_.front());
  calls_.pop_front();
  return true;
}

void WindowHandOff::Drain() {
  if (running_) return;
  FlagScope scope(running_);
  const auto until = std::chrono::steady_clock::now() + batch_;
  std::function<void()> call;
  if (!Take(call)) return;
  // armed_ stays set while the calls run: the calls queued meanwhile wait for a
  // box one opens, and the window is woken for them once the batch has ended.
  try {
    for (;;) {
      call();
      if (std::chrono::steady_clock::now() >= until) break;
      if (!Take(call)) return;  // none left, and no wake-up outstanding
    }
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
