// Cuts a byte stream, fed in chunks of any size, into lines. A line ends at LF or
// at CR LF; the ending is handed on separately so that it can be written back as
// it came. A last line without an ending is handed on by Finish with an empty ending.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace resicrypt::cli {

class LineSplitter {
 public:
  using LineHandler = std::function<void(std::string_view content, std::string_view ending)>;

  explicit LineSplitter(LineHandler handler) : handler_(std::move(handler)) {}

  void Feed(std::string_view chunk);
  void Finish();

 private:
  void Emit(std::string_view line);  // line without its LF

  LineHandler handler_;
  std::string pending_;  // start of a line that the next chunk continues
};

}  // namespace resicrypt::cli
