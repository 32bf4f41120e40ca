#include "cli/password_prompt.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#include <conio.h>
#include <io.h>
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace resicrypt::cli {

namespace {

// The password file, read one byte per call and never ahead: what follows the
// line in a pipe, a FIFO or a terminal stays there for whoever reads next (a
// source '-' or the text after the password on the same standard input).
class UnbufferedFile {
 public:
  explicit UnbufferedFile(const std::string& path) {
#ifdef _WIN32
    handle_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
#else
    do fd_ = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
#endif
  }
  UnbufferedFile(const UnbufferedFile&) = delete;
  UnbufferedFile& operator=(const UnbufferedFile&) = delete;
  ~UnbufferedFile() {
#ifdef _WIN32
    if (IsOpen()) CloseHandle(handle_);
#else
    if (IsOpen()) close(fd_);
#endif
  }
  bool IsOpen() const {
#ifdef _WIN32
    return handle_ != INVALID_HANDLE_VALUE;
#else
    return fd_ >= 0;
#endif
  }
  // 1 with a byte, 0 at the end, -1 on an error.
  int Next(char& c) {
#ifdef _WIN32
    DWORD got = 0;
    if (ReadFile(handle_, &c, 1, &got, nullptr)) return got == 1 ? 1 : 0;
    return GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
#else
    ssize_t got = 0;
    do got = read(fd_, &c, 1);
    while (got < 0 && errno == EINTR);
    return got > 0 ? 1 : got == 0 ? 0 : -1;
#endif
  }

 private:
#ifdef _WIN32
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  int fd_ = -1;
#endif
};

}  // namespace

PasswordLine ReadPasswordLine(const std::string& path, std::size_t usedBytes, std::string& line) {
  line.clear();
  UnbufferedFile in(path);
  if (!in.IsOpen()) return PasswordLine::kNotRead;
  int got = 0;
  for (char c; (got = in.Next(c)) > 0;) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return PasswordLine::kRead;
    }
    line.push_back(c);
    // One byte beyond the used ones may still be the CR of a CR LF.
    if (line.size() > usedBytes + 1 || (line.size() > usedBytes && c != '\r')) {
      line.resize(usedBytes);
      return PasswordLine::kLonger;
    }
  }
  if (got < 0) return PasswordLine::kNotRead;
  if (line.size() > usedBytes) {  // the CR was no line ending's
    line.resize(usedBytes);
    return PasswordLine::kLonger;
  }
  return PasswordLine::kRead;
}

#ifdef _WIN32

bool StdinIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

bool ReadPasswordNoEcho(const char* prompt, std::string& password) {
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  password.clear();
  for (;;) {
    const int c = _getch();  // the console, unechoed
    if (c == '\r' || c == '\n') break;
    if (c == 3 || c == 26 || c == EOF) {  // Ctrl-C, Ctrl-Z
      std::fputs("\n", stderr);
      return false;
    }
    if (c == '\b') {
      if (!password.empty()) password.pop_back();
      continue;
    }
    if (c == 0 || c == 0xE0) {  // a function or arrow key: its second code follows
      _getch();
      continue;
    }
    password.push_back(static_cast<char>(c));
  }
  std::fputs("\n", stderr);
  return true;
}

#else

namespace {

// Echo off for as long as it lives. Both changes take effect at once: a flush
// would throw away the lines typed ahead after the password.
class EchoOff {
 public:
  EchoOff() {
    active_ = tcgetattr(STDIN_FILENO, &saved_) == 0;
    if (active_) {
      termios quiet = saved_;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  ~EchoOff() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }

 private:
  termios saved_{};
  bool active_ = false;
};

bool ReadByte(int fd, char& c) {
  ssize_t got = 0;
  do got = read(fd, &c, 1);
  while (got < 0 && errno == EINTR);
  return got == 1;
}

}  // namespace

bool StdinIsTerminal() { return isatty(STDIN_FILENO) != 0; }

bool ReadPasswordNoEcho(const char* prompt, std::string& password) {
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  password.clear();
  bool ended = false;
  {
    EchoOff echoOff;
    // Past the stream's buffer, a byte per call: the rest stays in the terminal.
    for (char c; ReadByte(STDIN_FILENO, c);) {
      if (c == '\n') {
        ended = true;
        break;
      }
      password.push_back(c);
    }
  }
  std::fputs("\n", stderr);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return ended || !password.empty();
}

#endif

}  // namespace resicrypt::cli
