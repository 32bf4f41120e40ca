// A file command on a thread of its own, so that the window goes on handling its
// messages while the command packs or unpacks.
//
// The command sees the window through a view that touches nothing itself: every
// call is queued, in order, for the window's thread, which runs the queue in
// Drain when the wake function (called from any thread) asks it to. A question
// waits on the command's thread until the window's thread has its answer.
//
// The calls reach the window through a WindowHandOff, which cannot lose a
// wake-up to a modal box that a call opens.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/form_port.h"
#include "app/window_hand_off.h"

namespace resicrypt {

class CommandThread {
 public:
  using Body = std::function<void(FileCommandView&)>;

  // window: the view the queued calls reach, used on the window's thread only.
  // wake: makes the window's thread call Drain soon; it may be called from any
  // thread and must not wait for the window.
  CommandThread(FileCommandView& window, std::function<void()> wake);
  ~CommandThread();
  CommandThread(const CommandThread&) = delete;
  CommandThread& operator=(const CommandThread&) = delete;

  // Starts body on its own thread. finished runs on the window's thread, in Drain,
  // after everything the body queued, also when the body threw; then the body's
  // exception, or else one that finished threw, comes out of Drain. At most one
  // body runs at a time.
  void Start(Body body, std::function<void()> finished);
  bool Running() const { return thread_.joinable(); }

  // The window's thread: the running command stops at its next block turn, as a
  // failed run stops (CommandStopped).
  void RequestStop() { stopRequested_ = true; }

  // The window's thread: runs the next call the command queued and those queued
  // after it, for a few milliseconds at most, and, once they have returned (also
  // by an exception), wakes the window again while more are waiting, so that its
  // own messages come in between. A call made while one runs returns at once.
  void Drain();

  // The window's thread, when the window goes away: a question still waiting is
  // answered OK (stop), the command runs to its end without the window, and
  // nothing it queued is run.
  void Abandon();

 private:
  class Mailbox;
  bool Ask(std::function<bool()> question);

  FileCommandView& window_;
  WindowHandOff handOff_;
  std::unique_ptr<Mailbox> mailbox_;
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable answered_;
  std::atomic<bool> stopRequested_{false};
  bool abandoned_ = false;
};

}  // namespace resicrypt
