#include "cli/std_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace resicrypt::cli {

namespace {

constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool StdoutIsTerminal() {
#ifdef _WIN32
  // The console, not any character device: "> NUL" is no terminal.
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

std::string TemporaryFolder() {
#ifdef _WIN32
  char folder[MAX_PATH + 1];
  const DWORD length = GetTempPathA(MAX_PATH + 1, folder);
  return length == 0 || length > MAX_PATH ? std::string() : std::string(folder, length);
#else
  const char* folder = std::getenv("TMPDIR");
  std::string path = (folder != nullptr && *folder != '\0') ? folder : "/tmp";
  return path.back() == '/' ? path : path + "/";
#endif
}

bool PrivateFolder::Create() {
  const std::string folder = TemporaryFolder();
#ifdef _WIN32
  if (folder.empty()) return false;
  // The temporary folder is the user's own on Windows.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string path = folder + "rcl" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(path.c_str(), nullptr)) {
      path_ = path + "\\";
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
#else
  std::string path = folder + "resicrypt-XXXXXX";
  if (mkdtemp(path.data()) == nullptr) return false;  // mode 0700
  removal_ = std::make_unique<RemovedOnSignal>(path);
  path_ = path + "/";
  return true;
#endif
}

PrivateFolder::~PrivateFolder() {
  if (path_.empty()) return;
    // Only the files this run put there.
#ifdef _WIN32
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((path_ + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileA((path_ + found.cFileName).c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path_.c_str());
#else
  if (DIR* dir = opendir(path_.c_str())) {
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
    closedir(dir);
    for (const std::string& name : names) {
      if (name != "." && name != "..") unlink((path_ + name).c_str());
    }
  }
  rmdir(path_.c_str());
#endif
}

HeldStream::~HeldStream() {
  if (file_ != nullptr) std::fclose(file_);
}

StreamCopy HeldStream::Hold(std::FILE* in, const PrivateFolder& folder, std::int64_t limit) {
  path_ = folder.Path() + "stdin";
#ifdef _WIN32
  // Others may open it (the packer does, by its name) only to read it.
  const HANDLE handle = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  const int fd =
      handle == INVALID_HANDLE_VALUE
          ? -1
          : _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDWR | _O_BINARY);
  if (handle != INVALID_HANDLE_VALUE && fd < 0) CloseHandle(handle);
  file_ = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
  if (fd >= 0 && file_ == nullptr) _close(fd);
#else
  std::string name = path_ + "-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd >= 0 && access("/proc/self/fd", X_OK) == 0) {
    unlink(name.c_str());
    path_ = "/proc/self/fd/" + std::to_string(fd);
  } else if (fd >= 0) {
    path_ = name;
    removal_ = std::make_unique<RemovedOnSignal>(path_);
  }
  file_ = fd >= 0 ? fdopen(fd, "w+b") : nullptr;
  if (fd >= 0 && file_ == nullptr) close(fd);
#endif
  if (file_ == nullptr) {
    error_ = errno;
    return StreamCopy::kNotWritten;
  }
  std::vector<char> chunk(kChunkBytes);
  std::int64_t total = 0;
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
    total += static_cast<std::int64_t>(got);
    if (total > limit) return StreamCopy::kTooLong;
    if (got > 0 && std::fwrite(chunk.data(), 1, got, file_) != got) {
      error_ = errno;
      return StreamCopy::kNotWritten;
    }
    if (got < chunk.size()) break;
  }
  if (std::ferror(in)) return StreamCopy::kNotRead;
  if (std::fflush(file_) == 0) return StreamCopy::kDone;
  error_ = errno;
  return StreamCopy::kNotWritten;
}

StreamCopy HeldToStream(const FileHandle& file, std::int64_t size, std::FILE* out) {
  std::vector<char> chunk(kChunkBytes);
  for (std::int64_t at = 0; at < size;) {
    const auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(size - at, static_cast<std::int64_t>(chunk.size())));
    if (!file.ReadAt(at, chunk.data(), count)) return StreamCopy::kNotRead;
    if (std::fwrite(chunk.data(), 1, count, out) != count) return StreamCopy::kNotWritten;
    at += static_cast<std::int64_t>(count);
  }
  return std::fflush(out) == 0 ? StreamCopy::kDone : StreamCopy::kNotWritten;
}

StreamCopy FileToStream(const std::string& path, std::FILE* out) {
#ifdef _WIN32
  File in(std::fopen(path.c_str(), "rbD"));  // D: deleted when closed
#else
  File in(std::fopen(path.c_str(), "rb"));
  unlink(path.c_str());
#endif
  if (!in) return StreamCopy::kNotRead;
  std::vector<char> chunk(kChunkBytes);
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in.get());
    if (got > 0 && std::fwrite(chunk.data(), 1, got, out) != got) return StreamCopy::kNotWritten;
    if (got < chunk.size()) break;
  }
  if (std::ferror(in.get())) return StreamCopy::kNotRead;
  return std::fflush(out) == 0 ? StreamCopy::kDone : StreamCopy::kNotWritten;
}

}  // namespace resicrypt::cli
