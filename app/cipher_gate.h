// Holds back events that would start a cipher operation while a file command runs.
//
// A file command runs on while the window goes on handling its events, so a click
// on another command button, a password label or a DDE text line can arrive in the
// middle of one. All cipher operations share the one workspace, so such an
// event must not run then. The window hands every cipher-starting event to
// RunOrDefer: it runs at once when no file command is running, and otherwise waits
// in a queue that runs, in arrival order, as soon as the file command ends. Mode
// changes, show all, hide all and Hide Password do not touch the workspace and are
// handled at once without the gate.
#pragma once

#include <deque>
#include <functional>

namespace resicrypt {

class CipherGate {
 public:
  using Action = std::function<void()>;

  // A file command holds the gate from its start (Hold) until it has ended, also
  // on its own thread (Release, which runs the held-back actions in arrival
  // order). A file command that starts while another one runs waits with the
  // other held-back actions.
  void Hold() { ++holds_; }
  void Release();

  bool Busy() const { return holds_ > 0; }

  // Runs the action now, or queues it while a file command runs. Returns true when
  // it ran at once (or, when called from inside a held-back action, runs as soon
  // as that action returns); an action's failure comes out after the actions
  // waiting with it have run.
  bool RunOrDefer(Action action);

 private:
  void RunPending();

  int holds_ = 0;
  bool draining_ = false;
  std::deque<Action> pending_;
};

}  // namespace resicrypt
