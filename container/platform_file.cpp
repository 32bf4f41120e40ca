#include "container/platform_file.h"

#include <algorithm>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace resicrypt {

#ifdef _WIN32

namespace {

// Others may read and write the file meanwhile, as the C library's fopen lets them.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// ReadFile and WriteFile move at most a DWORD of bytes a call.
constexpr std::size_t kMostPerCall = std::size_t{1} << 30;

HANDLE Raw(void* handle) { return static_cast<HANDLE>(handle); }

OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return at;
}

void* Opened(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }

}  // namespace

FileHandle::FileHandle(FileHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

FileHandle FileHandle::OpenForReading(const std::string& path) {
  FileHandle file;
  file.handle_ = Opened(CreateFileA(path.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  return file;
}

FileHandle FileHandle::CreateNew(const std::string& path) {
  FileHandle file;
  file.handle_ = Opened(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShare, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file;
}

bool FileHandle::IsOpen() const { return handle_ != nullptr; }

// A handle opened without FILE_FLAG_OVERLAPPED still takes its offset from the
// OVERLAPPED and returns when the transfer is done.
bool FileHandle::ReadAt(std::int64_t offset, void* data, std::size_t count) const {
  auto* bytes = static_cast<unsigned char*>(data);
  while (count > 0 && handle_ != nullptr) {
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    if (!ReadFile(Raw(handle_), bytes, static_cast<DWORD>(std::min(count, kMostPerCall)), &got,
                  &at) ||
        got == 0) {
      return false;
    }
    bytes += got;
    count -= got;
    offset += got;
  }
  return count == 0;
}

bool FileHandle::WriteAt(std::int64_t offset, const void* data, std::size_t count) const {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0 && handle_ != nullptr) {
    OVERLAPPED at = At(offset);
    DWORD put = 0;
    if (!WriteFile(Raw(handle_), bytes, static_cast<DWORD>(std::min(count, kMostPerCall)), &put,
                   &at) ||
        put == 0) {
      return false;
    }
    bytes += put;
    count -= put;
    offset += put;
  }
  return count == 0;
}

std::int64_t FileHandle::Size() const {
  LARGE_INTEGER size{};
  if (handle_ == nullptr || !GetFileSizeEx(Raw(handle_), &size)) return -1;
  return size.QuadPart;
}

// The handle's own file pointer serves nothing else: reads and writes give offsets.
bool FileHandle::Cut(std::int64_t length) const {
  LARGE_INTEGER end{};
  end.QuadPart = length;
  return handle_ != nullptr && SetFilePointerEx(Raw(handle_), end, nullptr, FILE_BEGIN) &&
         SetEndOfFile(Raw(handle_));
}

bool FileHandle::Close() {
  if (handle_ == nullptr) return true;
  return CloseHandle(Raw(std::exchange(handle_, nullptr))) != 0;
}

bool MayReplaceFile(const std::string& path) {
  const HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, kShare, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    return true;
  }
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

#else  // POSIX

FileHandle::FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileHandle FileHandle::OpenForReading(const std::string& path) {
  FileHandle file;
  do {
    file.fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (file.fd_ < 0 && errno == EINTR);
  return file;
}

FileHandle FileHandle::CreateNew(const std::string& path) {
  FileHandle file;
  do {
    file.fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (file.fd_ < 0 && errno == EINTR);
  return file;
}

bool FileHandle::IsOpen() const { return fd_ >= 0; }

bool FileHandle::ReadAt(std::int64_t offset, void* data, std::size_t count) const {
  auto* bytes = static_cast<unsigned char*>(data);
  while (count > 0 && fd_ >= 0) {
    const ssize_t got = pread(fd_, bytes, count, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    count -= static_cast<std::size_t>(got);
    offset += got;
  }
  return count == 0;
}

bool FileHandle::WriteAt(std::int64_t offset, const void* data, std::size_t count) const {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0 && fd_ >= 0) {
    const ssize_t put = pwrite(fd_, bytes, count, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    count -= static_cast<std::size_t>(put);
    offset += put;
  }
  return count == 0;
}

// The end as a seek finds it, which also tells devices and pipes (no end) apart.
std::int64_t FileHandle::Size() const {
  return fd_ >= 0 ? static_cast<std::int64_t>(lseek(fd_, 0, SEEK_END)) : -1;
}

bool FileHandle::Cut(std::int64_t length) const {
  return fd_ >= 0 && ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

bool FileHandle::Close() {
  if (fd_ < 0) return true;
  return close(std::exchange(fd_, -1)) == 0;
}

bool MayReplaceFile(const std::string& path) {
  // Non-blocking, so that a pipe with no reader is refused instead of waited for.
  const int probe = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (probe >= 0) {
    close(probe);
    return true;
  }
  return errno == ENOENT;
}

bool RenameOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

#endif

}  // namespace resicrypt
