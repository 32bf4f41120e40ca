// The few file calls the container needs, on POSIX and on Win32 (ANSI paths, in
// the system code page). A file is opened once and then read and written at
// offsets only: two threads may use one handle at once at different offsets,
// and renaming or replacing the file by its name leaves an open handle on the
// file it opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace resicrypt {

class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(FileHandle&& other) noexcept : native_(std::exchange(other.native_, kClosed)) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    std::swap(native_, other.native_);
    return *this;
  }
  ~FileHandle() { Close(); }

  // An existing file, for reading only.
  static FileHandle OpenForReading(const std::string& path);
  // A new file at path for reading and writing; fails when the name is taken.
  static FileHandle CreateNew(const std::string& path);

  bool IsOpen() const { return native_ != kClosed; }
  // Exactly count bytes at offset; false on an error or an early end.
  bool ReadAt(std::int64_t offset, void* data, std::size_t count) const;
  bool WriteAt(std::int64_t offset, const void* data, std::size_t count) const;
  // The length of the file now; -1 when it cannot be told.
  std::int64_t Size() const;
  // Keeps the first length bytes.
  bool Cut(std::int64_t length) const;
  // False when closing reports an error (a write that failed late).
  bool Close();

 private:
  // A HANDLE on Windows, a descriptor elsewhere.
  static constexpr std::intptr_t kClosed = -1;
  explicit FileHandle(std::intptr_t native) : native_(native) {}
  // At most count bytes at offset; 0 at the end or on an error.
  std::size_t ReadSome(std::int64_t offset, void* data, std::size_t count) const;
  std::size_t WriteSome(std::int64_t offset, const void* data, std::size_t count) const;

  std::intptr_t native_ = kClosed;

  friend bool MayReplaceFile(const std::string& path);
};

// True when nothing is at path, or a file that may be opened for writing.
bool MayReplaceFile(const std::string& path);
// Puts the file from in place of to, replacing a file there.
bool RenameOver(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);

}  // namespace resicrypt
