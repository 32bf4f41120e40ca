// Calls handed to the window's thread, from any thread, and run there in the
// order they came: one per wake-up, or those that wait for up to a given time,
// so that the window's own messages come in between. The file command's thread
// reaches the window this way (its many short calls a batch at a time), and so
// do the DDE service's events (one at a time).
//
// A wake-up cannot be lost: at most one is outstanding, and none is asked for
// while a call runs. A call that opens a modal box lets the window's messages
// through, and a wake-up handled there would find the hand-off busy and be spent
// for nothing; instead the Drain that ran the call asks for the next wake-up once
// the call has returned, also by an exception.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>

namespace resicrypt {

class WindowHandOff {
 public:
  // wake makes the window's thread call Drain soon; it is called from any thread
  // and must not wait for the window. A Drain runs one call, and then further
  // calls that wait while it has run for less than batch.
  explicit WindowHandOff(std::function<void()> wake,
                         std::chrono::steady_clock::duration batch = {})
      : wake_(std::move(wake)), batch_(batch) {}
  WindowHandOff(const WindowHandOff&) = delete;
  WindowHandOff& operator=(const WindowHandOff&) = delete;

  // Any thread. Dropped while the hand-off is closed.
  void Post(std::function<void()> call);
  // The window's thread: runs the next call (and, with a batch time, the calls
  // after it that wait, until that time is spent). A Drain inside a running call
  // (a modal box's loop) returns at once.
  void Drain();
  // Drops the waiting calls and takes none until it is opened again.
  void Close();
  void Open();

 private:
  void Rearm();
  // The next call, or none (and then no wake-up is outstanding).
  bool Take(std::function<void()>& call);

  std::function<void()> wake_;
  std::chrono::steady_clock::duration batch_;
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
  bool armed_ = false;    // a wake-up is on its way, or the running call's Drain will ask for one
  bool running_ = false;  // the window's thread only
  bool closed_ = false;
};

}  // namespace resicrypt
