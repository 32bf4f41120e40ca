// The answers a test scripts for a dialog, taken one at a time.
#pragma once

#include <deque>
#include <optional>
#include <utility>

namespace resicrypt::testing {

// The next scripted answer into result: none left, or an empty one, is Cancel.
template <typename T>
bool TakeAnswer(std::deque<std::optional<T>>& answers, T& result) {
  if (answers.empty()) return false;
  const std::optional<T> answer = std::move(answers.front());
  answers.pop_front();
  if (answer) result = *answer;
  return answer.has_value();
}

}  // namespace resicrypt::testing
