// The check that decides which program the DDE back link may start, on random
// first macros. A path it accepts is a full path (a drive's root, or a share
// \\server\share\ that is no device name space) of a *.exe, with no byte that
// could end or split the quoted command line or name another file (control
// bytes, quotes, wildcards, redirections, a stream's colon); its command line is
// the path quoted and nothing else; and the letter case of A to Z changes
// nothing. One byte of those inserted anywhere makes any path refused (but for a
// colon that makes a drive).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/dde_service.h"

namespace {

using resicrypt::IsCallerProgramPath;

[[noreturn]] void Fail(const char* why, std::string_view path) {
  std::fprintf(stderr, "caller path: %s: %.*s\n", why, static_cast<int>(path.size()), path.data());
  std::abort();
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The root's length: "X:\" or "\\server\share\" with both names present and the
// server no "." or "?"; 0 for anything else.
std::size_t RootLength(std::string_view path) {
  if (path.size() >= 3 && Lower(path[0]) >= 'a' && Lower(path[0]) <= 'z' && path[1] == ':' &&
      path[2] == '\\') {
    return 3;
  }
  if (path.substr(0, 2) != "\\\\") return 0;
  const std::size_t server = path.find('\\', 2);
  if (server == std::string_view::npos || server == 2) return 0;
  const std::string_view serverName = path.substr(2, server - 2);
  if (serverName == "." || serverName == "?") return 0;
  const std::size_t share = path.find('\\', server + 1);
  if (share == std::string_view::npos || share == server + 1) return 0;
  return share + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string path(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool accepted = IsCallerProgramPath(path);

  std::string flipped = path;
  for (char& c : flipped) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : Lower(c);
  if (IsCallerProgramPath(flipped) != accepted) Fail("letter case decides", path);

  constexpr std::string_view kRefused = "\"*?<>|:\t\n\r";
  const std::size_t pick = data[0];
  const char inserted = kRefused[pick % kRefused.size()];
  const std::size_t at = pick % (path.size() + 1);
  std::string spoiled = path;
  spoiled.insert(at, 1, inserted);
  // A colon after the first byte may make the drive of a full path.
  if (!(inserted == ':' && at == 1) && IsCallerProgramPath(spoiled)) {
    Fail("accepted with a refused byte", spoiled);
  }

  if (!accepted) return 0;
  const std::size_t root = RootLength(path);
  if (root == 0) Fail("no full path", path);
  for (std::size_t k = 0; k < path.size(); ++k) {
    const auto byte = static_cast<unsigned char>(path[k]);
    if (byte < 32 || std::string_view("\"*?<>|").find(path[k]) != std::string_view::npos ||
        (path[k] == ':' && k != 1)) {
      Fail("a byte a program path cannot hold", path);
    }
  }
  if (path.size() < root + 4) Fail("no file name", path);
  std::string extension = path.substr(path.size() - 4);
  for (char& c : extension) c = Lower(c);
  if (extension != ".exe") Fail("not a .exe", path);
  if (resicrypt::CallerProgramCommandLine(path) != "\"" + path + "\"") {
    Fail("the command line is more than the quoted path", path);
  }
  return 0;
}
