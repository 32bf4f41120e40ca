#include "cli/line_splitter.h"

namespace resicrypt::cli {

void LineSplitter::Feed(std::string_view chunk) {
  while (!chunk.empty()) {
    const std::size_t lf = chunk.find('\n');
    if (heldCr_) {
      heldCr_ = false;
      if (lf == 0) {
        End("\r\n");
        chunk.remove_prefix(1);
        continue;
      }
      Piece("\r");  // it did not end its line
    }
    std::string_view content = chunk.substr(0, lf);
    const bool endsInCr = !content.empty() && content.back() == '\r';
    if (endsInCr) content.remove_suffix(1);
    Piece(content);
    if (lf == std::string_view::npos) {
      if (endsInCr) open_ = heldCr_ = true;
      return;
    }
    End(endsInCr ? "\r\n" : "\n");
    chunk.remove_prefix(lf + 1);
  }
}

void LineSplitter::Finish() {
  // No LF follows, so a CR here is part of the text, not a line ending.
  if (heldCr_) Piece("\r");
  heldCr_ = false;
  if (open_) End(std::string_view());
}

void LineSplitter::Piece(std::string_view piece) {
  if (piece.empty()) return;
  open_ = true;
  piece_(piece);
}

void LineSplitter::End(std::string_view ending) {
  open_ = false;
  end_(ending);
}

}  // namespace resicrypt::cli
