#include "app/cipher_gate.h"

#include <utility>

#include "app/flag_scope.h"

namespace resicrypt {

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

void CipherGate::Release() {
  if (holds_ > 0) --holds_;
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
