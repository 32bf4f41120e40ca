// The few file calls the container needs, on POSIX and on Win32 (ANSI paths, in
// the system code page). A file is opened once and then read and written at
// offsets only: two threads may use one handle at once at different offsets,
// and renaming or replacing the file by its name leaves an open handle on the
// file it opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace resicrypt {

class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  ~FileHandle() { Close(); }

  // An existing file, for reading only.
  static FileHandle OpenForReading(const std::string& path);
  // A new file at path for reading and writing; fails when the name is taken.
  static FileHandle CreateNew(const std::string& path);

  bool IsOpen() const;
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
#ifdef _WIN32
  void* handle_ = nullptr;  // HANDLE; nullptr when closed
#else
  int fd_ = -1;
#endif
};

// True when nothing is at path, or a file that may be opened for writing.
bool MayReplaceFile(const std::string& path);
// Puts the file from in place of to, replacing a file there.
bool RenameOver(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);

}  // namespace resicrypt
