// What both systems share; their own calls are in platform_file_posix.cpp and
// platform_file_win.cpp.
#include "container/platform_file.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iterator>

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
  // In the order of FileType.
  static constexpr const char* kWords[] = {"no file",      "a file",   "a folder",      "a device",
                                           "a named pipe", "a socket", "a special file"};
  static_assert(std::size(kWords) == static_cast<std::size_t>(FileType::kOther) + 1);
  return kWords[static_cast<int>(type)];
}

template <typename Byte, typename Move>
bool FileHandle::MoveAll(std::int64_t offset, Byte* bytes, std::size_t count, Move move) const {
  while (count > 0) {
    const std::int64_t moved = IsOpen() ? move(native_, offset, bytes, count) : 0;
    if (moved < 0) Note(os::LastError());
    if (moved <= 0) return false;
    bytes += moved;
    count -= static_cast<std::size_t>(moved);
    offset += moved;
  }
  return true;
}

bool FileHandle::ReadAt(std::int64_t offset, void* data, std::size_t count) const {
  return MoveAll(offset, static_cast<unsigned char*>(data), count, os::Read);
}

std::int64_t FileHandle::ReadUpTo(std::int64_t offset, void* data, std::size_t count,
                                  std::size_t minimum) const {
  auto* bytes = static_cast<unsigned char*>(data);
  std::int64_t read = 0;
  while (count > 0 && IsOpen()) {
    const std::int64_t moved = os::Read(native_, offset + read, bytes, count);
    if (moved < 0) {
      Note(os::LastError());
      return -1;
    }
    if (moved == 0) break;
    bytes += moved;
    count -= static_cast<std::size_t>(moved);
    read += moved;
    if (count > 0 && static_cast<std::size_t>(read) >= minimum) break;  // short: the end
  }
  return IsOpen() ? read : -1;
}

bool FileHandle::WriteAt(std::int64_t offset, const void* data, std::size_t count) const {
  return MoveAll(offset, static_cast<const unsigned char*>(data), count, os::Write);
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
  scratch_ = false;
  modeGiven_ = false;
  mode_ = widestMode;
  path_ = path;
  if (CheckTarget() && MakeFile()) return true;
  path_.clear();
  return false;
}

bool ReplacementFile::BeginUnnamed(const std::string& folder) {
  Abandon();
  error_ = 0;
  refused_ = FileType::kRegular;
  replaces_ = false;
  scratch_ = true;
  path_.clear();
  if (MakeUnnamedFile(folder)) return true;
  scratch_ = false;
  return false;
}

}  // namespace resicrypt
