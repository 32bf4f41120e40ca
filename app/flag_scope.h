// Sets a flag for the length of a scope and clears it when the scope ends, also
// when what runs inside throws.
#pragma once

namespace resicrypt {

class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace resicrypt
