#include "ui/cipher_gate.h"

#include <utility>

namespace resicrypt {

namespace {

// Resets a flag when its scope ends, also when an action throws.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void CipherGate::RunFileCommand(const Action& command) {
  if (Busy()) {
    pending_.push_back([this, command] { RunFileCommand(command); });
    return;
  }
  ++holds_;
  try {
    command();
  } catch (...) {
    --holds_;
    throw;
  }
  --holds_;
  RunPending();
}

bool CipherGate::RunOrDefer(Action action) {
  if (Busy()) {
    pending_.push_back(std::move(action));
    return false;
  }
  RunPending();
  action();
  return true;
}

void CipherGate::RunPending() {
  // A held-back action may itself be a file command, which drains the rest of the
  // queue when it ends; a drain already under way then finds nothing left and
  // nothing runs twice.
  if (draining_) return;
  FlagScope scope(draining_);
  while (!pending_.empty() && !Busy()) {
    Action next = std::move(pending_.front());
    pending_.pop_front();
    next();
  }
}

}  // namespace resicrypt
