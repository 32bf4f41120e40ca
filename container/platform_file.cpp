#include "container/platform_file.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace resicrypt {

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

#ifdef _WIN32

namespace {

// Others may read and write the file meanwhile, as the C library's fopen lets them.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Raw(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

std::intptr_t Open(const std::string& path, DWORD access, DWORD disposition) {
  return reinterpret_cast<std::intptr_t>(CreateFileA(path.c_str(), access, kShare, nullptr,
                                                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A handle opened without FILE_FLAG_OVERLAPPED still takes its offset from the
// OVERLAPPED, and returns when the transfer is done.
OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return at;
}

DWORD Most(std::size_t count) { return static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30)); }

}  // namespace

// INVALID_HANDLE_VALUE is -1, kClosed.
FileHandle FileHandle::OpenForReading(const std::string& path) {
  return FileHandle(Open(path, GENERIC_READ, OPEN_EXISTING));
}

FileHandle FileHandle::CreateNew(const std::string& path) {
  return FileHandle(Open(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW));
}

std::size_t FileHandle::ReadSome(std::int64_t offset, void* data, std::size_t count) const {
  OVERLAPPED at = At(offset);
  DWORD got = 0;
  return IsOpen() && ReadFile(Raw(native_), data, Most(count), &got, &at) ? got : 0;
}

std::size_t FileHandle::WriteSome(std::int64_t offset, const void* data, std::size_t count) const {
  OVERLAPPED at = At(offset);
  DWORD put = 0;
  return IsOpen() && WriteFile(Raw(native_), data, Most(count), &put, &at) ? put : 0;
}

std::int64_t FileHandle::Size() const {
  LARGE_INTEGER size{};
  return IsOpen() && GetFileSizeEx(Raw(native_), &size) ? size.QuadPart : -1;
}

// The handle's own file pointer serves nothing else: reads and writes give offsets.
bool FileHandle::Cut(std::int64_t length) const {
  LARGE_INTEGER end{};
  end.QuadPart = length;
  return IsOpen() && SetFilePointerEx(Raw(native_), end, nullptr, FILE_BEGIN) &&
         SetEndOfFile(Raw(native_));
}

bool FileHandle::Close() {
  return !IsOpen() || CloseHandle(Raw(std::exchange(native_, kClosed)));
}

bool MayReplaceFile(const std::string& path) {
  FileHandle probe(Open(path, GENERIC_WRITE, OPEN_EXISTING));
  const DWORD error = GetLastError();
  return probe.IsOpen() || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

#else  // POSIX

namespace {

std::intptr_t Open(const std::string& path, int flags) {
  int fd;
  do {
    fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

FileHandle FileHandle::OpenForReading(const std::string& path) {
  return FileHandle(Open(path, O_RDONLY));
}

FileHandle FileHandle::CreateNew(const std::string& path) {
  return FileHandle(Open(path, O_RDWR | O_CREAT | O_EXCL));
}

std::size_t FileHandle::ReadSome(std::int64_t offset, void* data, std::size_t count) const {
  ssize_t got = -1;
  while (IsOpen() && (got = pread(static_cast<int>(native_), data, count,
                                  static_cast<off_t>(offset))) < 0 &&
         errno == EINTR) {
  }
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t FileHandle::WriteSome(std::int64_t offset, const void* data, std::size_t count) const {
  ssize_t put = -1;
  while (IsOpen() && (put = pwrite(static_cast<int>(native_), data, count,
                                   static_cast<off_t>(offset))) < 0 &&
         errno == EINTR) {
  }
  return put > 0 ? static_cast<std::size_t>(put) : 0;
}

// The end as a seek finds it, which also tells devices and pipes (no end) apart.
std::int64_t FileHandle::Size() const {
  return IsOpen() ? static_cast<std::int64_t>(lseek(static_cast<int>(native_), 0, SEEK_END)) : -1;
}

bool FileHandle::Cut(std::int64_t length) const {
  return IsOpen() && ftruncate(static_cast<int>(native_), static_cast<off_t>(length)) == 0;
}

bool FileHandle::Close() {
  return !IsOpen() || close(static_cast<int>(std::exchange(native_, kClosed))) == 0;
}

bool MayReplaceFile(const std::string& path) {
  // Non-blocking, so that a pipe with no reader is refused instead of waited for.
  FileHandle probe(Open(path, O_WRONLY | O_NONBLOCK));
  return probe.IsOpen() || errno == ENOENT;
}

bool RenameOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

#endif

}  // namespace resicrypt
