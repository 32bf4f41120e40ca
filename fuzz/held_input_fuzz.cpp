// What holds standard input on random input. The first byte picks the sizes; the
// rest is the input.
// - HeldStream holds the input whole when it has at most limit bytes (the limit
//   one below, at or one above its size), kTooLong otherwise; its file reads back
//   as the input, and once the stream and its private folder go, nothing is left in
//   the temporary folder.
// - HeldLine takes the input as two lines in pieces of 1 to 7 bytes, one after the
//   other with a Clear between, keeps each in memory up to its limit (0 to 15
//   bytes) and in a file beyond it, and gives each back whole in buffers of 1 to
//   5 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli/held_line.h"
#include "cli/std_stream.h"

namespace {

namespace fs = std::filesystem;
using resicrypt::cli::StreamCopy;

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "held input: %s\n", why);
  std::abort();
}

std::string ReadAll(const std::string& path) {
  std::string bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
      bytes.append(chunk, got);
    }
    std::fclose(file);
  }
  return bytes;
}

void HoldStream(std::string_view input, std::uint8_t pick) {
  const std::int64_t size = static_cast<std::int64_t>(input.size());
  const std::int64_t limit = std::max<std::int64_t>(0, size - 1 + pick % 3);
  std::FILE* in = std::fopen("input", "w+b");
  if (in == nullptr || std::fwrite(input.data(), 1, input.size(), in) != input.size() ||
      std::fseek(in, 0, SEEK_SET) != 0) {
    Fail("cannot write the input");
  }
  {
    resicrypt::cli::PrivateFolder folder;
    if (!folder.Create()) Fail("no private folder");
    resicrypt::cli::HeldStream held;
    const StreamCopy copy = held.Hold(in, folder, limit);
    if (size > limit) {
      if (copy != StreamCopy::kTooLong) Fail("more than the limit held");
    } else if (copy != StreamCopy::kDone || ReadAll(held.Path()) != input) {
      Fail("not held as it came");
    }
  }
  std::fclose(in);
  std::remove("input");
  if (!fs::is_empty("tmp")) Fail("left behind in the temporary folder");
}

void HoldLines(std::string_view input, std::uint8_t pick) {
  const std::size_t memoryLimit = pick % 16u;
  resicrypt::cli::HeldLine line(memoryLimit);
  const std::size_t pieceBytes = pick % 7u + 1;
  std::vector<char> buffer(pick % 5u + 1);
  const std::size_t half = input.size() / 2;
  for (const std::string_view whole : {input.substr(0, half), input.substr(half)}) {
    line.Clear();
    for (std::size_t at = 0; at < whole.size(); at += pieceBytes) {
      if (!line.Add(whole.substr(at, pieceBytes))) Fail("not added");
    }
    if (line.Size() != whole.size()) Fail("another size");
    if (line.InFile() != (whole.size() > memoryLimit)) Fail("memory limit not kept");
    std::string back;
    if (!line.Replay(buffer, [&](std::string_view piece) {
          if (piece.empty() || piece.size() > buffer.size()) Fail("a piece of another size");
          back.append(piece);
        }) ||
        back != whole) {
      Fail("the line does not come back");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The temporary folder is a folder of its own in the working folder (the run's
  // scratch folder).
  static const bool inScratch =
      (fs::create_directories("tmp") || fs::is_directory("tmp")) && setenv("TMPDIR", fs::absolute("tmp").c_str(), 1) == 0;
  if (!inScratch) Fail("cannot make the temporary folder");
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  HoldStream(input, data[0]);
  HoldLines(input, static_cast<std::uint8_t>(data[0] / 3));
  return 0;
}
