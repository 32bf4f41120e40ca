#include "cli/password_prompt.h"

#include <cstdio>
#include <fstream>

#ifdef _WIN32
#include <conio.h>
#include <io.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace resicrypt::cli {

PasswordLine ReadPasswordLine(const std::string& path, std::size_t usedBytes, std::string& line) {
  line.clear();
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return PasswordLine::kNotRead;
  // One byte at a time: a pipe that stays open after its line must not be waited on.
  for (char c; in.get(c);) {
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
  if (in.bad()) return PasswordLine::kNotRead;
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

// Echo off for as long as it lives.
class EchoOff {
 public:
  EchoOff() {
    active_ = tcgetattr(STDIN_FILENO, &saved_) == 0;
    if (active_) {
      termios quiet = saved_;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  ~EchoOff() {
    if (active_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }

 private:
  termios saved_{};
  bool active_ = false;
};

}  // namespace

bool StdinIsTerminal() { return isatty(STDIN_FILENO) != 0; }

bool ReadPasswordNoEcho(const char* prompt, std::string& password) {
  std::fputs(prompt, stderr);
  std::fflush(stderr);
  password.clear();
  bool ended = false;
  {
    EchoOff echoOff;
    for (;;) {
      const int c = std::getchar();
      if (c == EOF) break;
      if (c == '\n') {
        ended = true;
        break;
      }
      password.push_back(static_cast<char>(c));
    }
  }
  std::fputs("\n", stderr);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return ended || !password.empty();
}

#endif

}  // namespace resicrypt::cli
