// One line's content, held until the line has ended and its verdict is known (the
// text commands write a refused or rejected line otherwise than the rest): in
// memory up to a limit, beyond it in a temporary file that is removed when the
// command ends. Memory stays bounded for a line of any length.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace resicrypt::cli {

class HeldLine {
 public:
  explicit HeldLine(std::size_t memoryLimit) : memoryLimit_(memoryLimit) {}

  // False when the line outgrew memory and the temporary file could not be made
  // or written; nothing more is held then.
  bool Add(std::string_view piece);
  std::size_t Size() const { return size_; }
  bool InFile() const { return file_ != nullptr && size_ > memory_.size(); }

  // Hands the line on in pieces of at most buffer.size() bytes. False on a read
  // error of the temporary file.
  bool Replay(std::vector<char>& buffer, const std::function<void(std::string_view)>& take);
  // Empties it for the next line; the temporary file is kept for reuse.
  void Clear();

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };

  std::size_t memoryLimit_;
  std::string memory_;  // the whole line while it fits
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::size_t size_ = 0;
  bool failed_ = false;
};

}  // namespace resicrypt::cli
