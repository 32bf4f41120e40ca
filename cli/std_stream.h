// Standard input and output in place of files: the container format needs each
// file's size before its bytes, and the container code reads and writes files at
// offsets, so a stream passes through a file in a private temporary folder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "container/platform_file.h"

namespace resicrypt::cli {

// True when standard output is a terminal (on Windows the console).
bool StdoutIsTerminal();

// The temporary folder: TMPDIR or /tmp; on Windows TEMP. Ends in a separator.
std::string TemporaryFolder();

// A new folder in the temporary folder that only this user can enter, removed
// with what it holds when this goes, and on Linux also by a signal that ends the
// process (once what it holds is gone).
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
  std::unique_ptr<RemovedOnSignal> removal_;
};

enum class StreamCopy { kDone, kTooLong, kNotRead, kNotWritten };

// A stream held whole in a file of a private folder, for code that opens files
// by their paths; no copy of the bytes outlives the process. On Linux the file
// has no name from the start: Path() is /proc/self/fd/N of a descriptor kept
// open. Without /proc it is a file of the folder that a signal's handler removes
// as well. On Windows it is deleted when the last handle on it closes, which the
// system does however the process ends.
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
  // The system's code (errno) of a failed write (kNotWritten), 0 if unknown.
  int Error() const { return error_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::unique_ptr<RemovedOnSignal> removal_;
  int error_ = 0;
};

// Writes the first size bytes of the open file to out and flushes it.
StreamCopy HeldToStream(const FileHandle& file, std::int64_t size, std::FILE* out);

// Copies the file at path to out and flushes it; the file loses its name (on
// Windows once it is closed) before the first byte is copied.
StreamCopy FileToStream(const std::string& path, std::FILE* out);

}  // namespace resicrypt::cli
