#include "cli/std_stream.h"

#include <cstdlib>
#include <memory>
#include <vector>

#ifdef _WIN32
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

bool PrivateFolder::Create() {
#ifdef _WIN32
  char folder[MAX_PATH + 1];
  const DWORD length = GetTempPathA(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return false;
  // The temporary folder is the user's own on Windows.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string path = std::string(folder) + "rcl" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(GetTickCount() + attempt);
    if (CreateDirectoryA(path.c_str(), nullptr)) {
      path_ = path + "\\";
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
#else
  const char* folder = std::getenv("TMPDIR");
  std::string path = (folder != nullptr && *folder != '\0') ? folder : "/tmp";
  path += "/resicrypt-XXXXXX";
  if (mkdtemp(path.data()) == nullptr) return false;  // mode 0700
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
  file_ = std::fopen(path_.c_str(), "w+b");
#else
  std::string name = path_ + "-XXXXXX";
  const int fd = access("/proc/self/fd", X_OK) == 0 ? mkstemp(name.data()) : -1;
  if (fd >= 0) {
    unlink(name.c_str());
    path_ = "/proc/self/fd/" + std::to_string(fd);
    file_ = fdopen(fd, "w+b");
    if (file_ == nullptr) close(fd);
  } else {
    file_ = std::fopen(path_.c_str(), "w+b");
  }
#endif
  if (file_ == nullptr) return StreamCopy::kNotWritten;
  std::vector<char> chunk(kChunkBytes);
  std::int64_t total = 0;
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
    total += static_cast<std::int64_t>(got);
    if (total > limit) return StreamCopy::kTooLong;
    if (got > 0 && std::fwrite(chunk.data(), 1, got, file_) != got) return StreamCopy::kNotWritten;
    if (got < chunk.size()) break;
  }
  if (std::ferror(in)) return StreamCopy::kNotRead;
  return std::fflush(file_) == 0 ? StreamCopy::kDone : StreamCopy::kNotWritten;
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
