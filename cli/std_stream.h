// Standard input and output in place of files: the container format needs each
// file's size before its bytes, and the container code reads and writes files at
// offsets, so a stream passes through a file in a private temporary folder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace resicrypt::cli {

// True when standard output is a terminal (on Windows the console).
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

// A stream held whole in a file of a private folder, for code that opens files
// by their paths. On Linux the file has no name from the start: Path() is
// /proc/self/fd/N of a descriptor kept open, so that no copy of the bytes
// outlives the process however it ends. Elsewhere (or without /proc) it is a
// file of the folder until the folder goes.
class HeldStream {
 public:
  HeldStream() = default;
  HeldStream(const HeldStream&) = delete;
  HeldStream& operator=(const HeldStream&) = delete;
  ~HeldStream();

  // Copies in, a chunk at a time, no more than limit bytes (kTooLong when in
  // holds more).
  StreamCopy Hold(std::FILE* in, const PrivateFolder& folder, std::int64_t limit);
  const std::string& Path() const { return path_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
};

// Copies the file at path to out and flushes it; the file loses its name (on
// Windows once it is closed) before the first byte is copied.
StreamCopy FileToStream(const std::string& path, std::FILE* out);

}  // namespace resicrypt::cli
