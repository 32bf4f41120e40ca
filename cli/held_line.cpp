#include "cli/held_line.h"

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace resicrypt::cli {

namespace {

// A new file in the temporary folder that nobody else can open by name and that
// goes away with the process, however it ends.
std::FILE* CreateTemporaryFile() {
#ifdef _WIN32
  wchar_t folder[MAX_PATH + 1];
  wchar_t path[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return nullptr;
  if (GetTempFileNameW(folder, L"rcl", 0, path) == 0) return nullptr;
  // D: deleted when closed, also when the process dies.
  std::FILE* file = _wfopen(path, L"w+bD");
  if (file == nullptr) DeleteFileW(path);
  return file;
#else
  const char* folder = std::getenv("TMPDIR");
  std::string path = (folder != nullptr && *folder != '\0') ? folder : "/tmp";
  path += "/resicrypt-line-XXXXXX";
  const int fd = mkstemp(path.data());
  if (fd < 0) return nullptr;
  unlink(path.c_str());  // the open handle keeps it until the end
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) close(fd);
  return file;
#endif
}

}  // namespace

bool HeldLine::Add(std::string_view piece) {
  if (failed_) return false;
  if (size_ == memory_.size() && memory_.size() + piece.size() <= memoryLimit_) {
    memory_.append(piece);
    size_ += piece.size();
    return true;
  }
  if (size_ == memory_.size()) {
    // Outgrown: what memory holds goes first, the rest straight after it.
    if (file_ == nullptr) file_.reset(CreateTemporaryFile());
    if (file_ == nullptr || std::fseek(file_.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(memory_.data(), 1, memory_.size(), file_.get()) != memory_.size()) {
      failed_ = true;
      return false;
    }
  }
  if (std::fwrite(piece.data(), 1, piece.size(), file_.get()) != piece.size()) {
    failed_ = true;
    return false;
  }
  size_ += piece.size();
  return true;
}

bool HeldLine::Replay(std::vector<char>& buffer,
                      const std::function<void(std::string_view)>& take) {
  if (!InFile()) {
    for (std::size_t at = 0; at < memory_.size(); at += buffer.size()) {
      take(std::string_view(memory_).substr(at, buffer.size()));
    }
    return true;
  }
  if (std::fflush(file_.get()) != 0 || std::fseek(file_.get(), 0, SEEK_SET) != 0) return false;
  for (std::size_t left = size_; left > 0;) {
    const std::size_t want = std::min(left, buffer.size());
    if (std::fread(buffer.data(), 1, want, file_.get()) != want) return false;
    take(std::string_view(buffer.data(), want));
    left -= want;
  }
  return true;
}

void HeldLine::Clear() {
  memory_.clear();
  size_ = 0;
  failed_ = false;
}

}  // namespace resicrypt::cli
