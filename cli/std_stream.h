// Standard input and output in place of files: the container format needs each
// file's size before its bytes, and the container code reads and writes files at
// offsets, so a stream passes through a file in a private temporary folder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace resicrypt::cli {

// True when standard output is a terminal (or the Windows console).
bool StdoutIsTerminal();

// A new folder in the temporary folder (TMPDIR or /tmp; on Windows TEMP) that
// only this user can enter, removed with what it holds when this goes.
class PrivateFolder {
 public:
  PrivateFolder() = default;
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder();

  bool Create();
  // The folder, ending in a separator.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

enum class StreamCopy { kDone, kTooLong, kNotRead, kNotWritten };

// Copies in to the file at path (made anew), a chunk at a time, no more than
// limit bytes (kTooLong when in holds more).
StreamCopy StreamToFile(std::FILE* in, const std::string& path, std::int64_t limit);
// Copies the file at path to out and flushes it.
StreamCopy FileToStream(const std::string& path, std::FILE* out);

}  // namespace resicrypt::cli
