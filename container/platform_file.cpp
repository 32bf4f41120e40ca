// What both systems share; their own calls are in platform_file_posix.cpp and
// platform_file_win.cpp.
#include "container/platform_file.h"

#include <atomic>
#include <cstdio>
#include <ctime>

#include "container/container_path.h"
#include "container/platform_file_system.h"

namespace resicrypt {

std::string os::TemporaryNameBeside(const std::string& path) {
  static int anchor = 0;
  static std::atomic<std::uint32_t> state{
      static_cast<std::uint32_t>(std::time(nullptr)) ^
      static_cast<std::uint32_t>(std::clock()) * 2654435761u ^
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&anchor) >> 4)};
  const std::uint32_t draw = state.fetch_add(0x9E3779B9u) * 1664525u + 1013904223u;
  char name[20];
  std::snprintf(name, sizeof name, "~rc%06x.tmp", static_cast<unsigned>(draw >> 8));
  return FolderPart(FullPath(path)) + name;  // "Y:box.yal": in Y:'s folder, not ours
}

const char* FileTypeWords(FileType type) {
  switch (type) {
    case FileType::kMissing:
      return "no file";
    case FileType::kRegular:
      return "a file";
    case FileType::kFolder:
      return "a folder";
    case FileType::kDevice:
      return "a device";
    case FileType::kPipe:
      return "a named pipe";
    case FileType::kSocket:
      return "a socket";
    case FileType::kOther:
      break;
  }
  return "a special file";
}

bool FileHandle::ReadAt(std::int64_t offset, void* data, std::size_t count) const {
  auto* bytes = static_cast<unsigned char*>(data);
  while (count > 0) {
    const std::size_t got = ReadSome(offset, bytes, count);
    if (got == 0) return false;
    bytes += got;
    count -= got;
    offset += static_cast<std::int64_t>(got);
  }
  return true;
}

bool FileHandle::WriteAt(std::int64_t offset, const void* data, std::size_t count) const {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0) {
    const std::size_t put = WriteSome(offset, bytes, count);
    if (put == 0) return false;
    bytes += put;
    count -= put;
    offset += static_cast<std::int64_t>(put);
  }
  return true;
}

bool FileHandle::HasByteAt(std::int64_t offset) const {
  unsigned char byte = 0;
  return ReadSome(offset, &byte, 1) == 1;
}

std::size_t FileHandle::ReadSome(std::int64_t offset, void* data, std::size_t count) const {
  const std::int64_t got = IsOpen() ? os::Read(native_, offset, data, count) : 0;
  if (got < 0) Note(os::LastError());
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t FileHandle::WriteSome(std::int64_t offset, const void* data, std::size_t count) const {
  const std::int64_t put = IsOpen() ? os::Write(native_, offset, data, count) : 0;
  if (put < 0) Note(os::LastError());
  return put > 0 ? static_cast<std::size_t>(put) : 0;
}

std::int64_t FileHandle::Size() const {
  const std::int64_t size = IsOpen() ? os::Size(native_) : -1;
  if (size < 0 && IsOpen()) Note(os::LastError());
  return size;
}

FileMode FileHandle::Mode() const { return IsOpen() ? os::Mode(native_) : kDefaultFileMode; }

bool FileHandle::Cut(std::int64_t length) const {
  if (IsOpen() && os::Cut(native_, length)) return true;
  Note(os::LastError());
  return false;
}

bool FileHandle::Close() {
  if (!IsOpen()) return true;
  if (os::Close(std::exchange(native_, kClosed))) return true;
  Note(os::LastError());
  return false;
}

// The target is looked at first, and the new file made only for a target that
// may be replaced (each system's CheckTarget and MakeFile).
bool ReplacementFile::Begin(const std::string& path, FileMode widestMode) {
  Abandon();
  error_ = 0;
  refused_ = FileType::kRegular;
  replaces_ = false;
  mode_ = widestMode;
  path_ = path;
  if (CheckTarget() && MakeFile()) return true;
  path_.clear();
  return false;
}

}  // namespace resicrypt
