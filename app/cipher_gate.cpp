#include "app/cipher_gate.h"

#include <exception>
#include <utility>

#include "app/flag_scope.h"

namespace resicrypt {

void CipherGate::Release() {
  if (holds_ > 0) --holds_;
  RunPending();
}

bool CipherGate::RunOrDefer(Action action) {
  // Behind the actions already waiting, so that they keep their order.
  pending_.push_back(std::move(action));
  if (Busy()) return false;
  RunPending();
  return true;
}

void CipherGate::RunPending() {
  // A held-back action may itself be a file command, which drains the rest of the
  // queue when it ends; a drain already under way further up the stack (an
  // action's modal box lets events through) then finds nothing left, or goes on
  // with what came meanwhile once the action returns, and nothing runs twice.
  if (draining_) return;
  FlagScope scope(draining_);
  // An action that fails does not strand the ones behind it, which nothing
  // would run until the next event: they run, and the first failure comes out
  // afterwards.
  std::exception_ptr failure;
  while (!pending_.empty() && !Busy()) {
    Action next = std::move(pending_.front());
    pending_.pop_front();
    try {
      next();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace resicrypt
