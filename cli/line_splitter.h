// Cuts a byte stream, fed in chunks of any size, into lines, without holding a
// line: its content is handed on in pieces as it comes, then its end. A line ends
// at LF or at CR LF; the ending is handed on separately so that it can be written
// back as it came. A last line without an ending is ended by Finish with an empty
// ending.
#pragma once

#include <functional>
#include <string_view>

namespace resicrypt::cli {

class LineSplitter {
 public:
  using PieceHandler = std::function<void(std::string_view piece)>;
  using EndHandler = std::function<void(std::string_view ending)>;

  LineSplitter(PieceHandler piece, EndHandler end)
      : piece_(std::move(piece)), end_(std::move(end)) {}

  void Feed(std::string_view chunk);
  void Finish();

 private:
  void Piece(std::string_view piece);
  void End(std::string_view ending);

  PieceHandler piece_;
  EndHandler end_;
  bool open_ = false;    // a line has begun and not ended
  bool heldCr_ = false;  // the chunk ended in CR: the next byte tells whether it ends the line
};

}  // namespace resicrypt::cli
