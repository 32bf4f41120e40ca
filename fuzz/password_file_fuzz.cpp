// The password-file reader on random files. The first byte gives how many bytes
// of the line are used (0 to 31); the rest is the file. The line is what stands
// before the first LF, without the CR of a CR LF (a CR before no LF is a byte of
// the line): read whole when it has at most that many bytes, otherwise its first
// bytes and kLonger.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/password_prompt.h"

namespace {

using resicrypt::cli::PasswordLine;

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "password file: %s\n", why);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t used = data[0] % 32u;
  const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
  // The working folder is the run's scratch folder.
  const std::string path = "password-file";
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
      std::fclose(out) != 0) {
    Fail("cannot write the file");
  }

  std::string expected(file.substr(0, file.find('\n')));
  if (expected.size() < file.size() && !expected.empty() && expected.back() == '\r') {
    expected.pop_back();
  }
  const PasswordLine expectedResult =
      expected.size() > used ? PasswordLine::kLonger : PasswordLine::kRead;
  if (expected.size() > used) expected.resize(used);

  std::string line = "left from before";
  const PasswordLine result = resicrypt::cli::ReadPasswordLine(path, used, line);
  if (result != expectedResult) Fail("another verdict");
  if (line != expected) Fail("another line");
  std::remove(path.c_str());
  return 0;
}
