#include "cli/line_splitter.h"

namespace resicrypt::cli {

void LineSplitter::Feed(std::string_view chunk) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = chunk.find('\n', start);
    if (lf == std::string_view::npos) break;
    if (pending_.empty()) {
      Emit(chunk.substr(start, lf - start));
    } else {
      pending_.append(chunk.data() + start, lf - start);
      Emit(pending_);
      pending_.clear();
    }
    start = lf + 1;
  }
  pending_.append(chunk.data() + start, chunk.size() - start);
}

void LineSplitter::Finish() {
  if (!pending_.empty()) {
    // No LF follows, so a CR here is part of the text, not a line ending.
    handler_(pending_, std::string_view());
    pending_.clear();
  }
}

void LineSplitter::Emit(std::string_view line) {
  if (!line.empty() && line.back() == '\r') {
    handler_(line.substr(0, line.size() - 1), "\r\n");
  } else {
    handler_(line, "\n");
  }
}

}  // namespace resicrypt::cli
