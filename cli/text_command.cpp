#include "cli/text_command.h"

#include <fstream>
#include <memory>
#include <vector>

#include "cli/cli_args.h"
#include "cli/line_splitter.h"
#include "engine/text_cipher.h"

namespace resicrypt::cli {

namespace {

constexpr std::size_t kChunkSize = 1 << 16;

// Only the first line of the password file matters; the LF is kept so that a CR
// before it is known to be part of a CR LF ending.
bool ReadFirstLine(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::getline(in, text, '\n');
  if (in.bad()) return false;
  if (!in.eof()) text.push_back('\n');
  return true;
}

}  // namespace

bool KeyFromPasswordFile(const std::string& fileText, std::string& key, std::string& message) {
  std::string line = fileText.substr(0, fileText.find('\n'));
  if (line.size() < fileText.size() && !line.empty() && line.back() == '\r') line.pop_back();
  KeyProblem problem = KeyProblem::kNone;
  key = TextKey::UsedPart(line);
  TextKey::From(key, &problem);
  if (problem == KeyProblem::kHasNul) {
    message = "the password contains a NUL byte";
    return false;
  }
  if (problem == KeyProblem::kTooShort) {
    message =
        "the password is too short: it needs at least 3 bytes, the first line of the "
        "password file has " +
        std::to_string(line.size());
    return false;
  }
  return true;
}

int RunTextCommand(CipherDirection direction, const std::string& passwordFile, std::FILE* in,
                   std::FILE* out, std::FILE* err) {
  std::string fileText;
  if (!ReadFirstLine(passwordFile, fileText)) {
    std::fprintf(err, "resicrypt-cli: cannot read password file '%s'\n", passwordFile.c_str());
    return kExitFailure;
  }
  std::string key;
  std::string message;
  if (!KeyFromPasswordFile(fileText, key, message)) {
    std::fprintf(err, "resicrypt-cli: %s\n", message.c_str());
    return kExitUsage;
  }

  auto workspace = std::make_unique<CipherWorkspace>();
  TextAlphabet alphabet;
  BuildTextAlphabet(alphabet);
  // The key is prepared once for every line.
  const TextCipher cipher(*workspace, alphabet, key);

  std::string output;
  bool writeFailed = false;
  const auto flush = [&] {
    if (!output.empty() && std::fwrite(output.data(), 1, output.size(), out) != output.size()) {
      writeFailed = true;
    }
    output.clear();
  };
  LineSplitter lines([&](std::string_view content, std::string_view ending) {
    output +=
        direction == CipherDirection::kEncrypt ? cipher.Encrypt(content) : cipher.Decrypt(content);
    output += ending;
    if (output.size() >= kChunkSize) flush();
  });

  std::vector<char> chunk(kChunkSize);
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
    if (got > 0) lines.Feed(std::string_view(chunk.data(), got));
    if (got < chunk.size()) break;
  }
  const bool readFailed = std::ferror(in) != 0;
  lines.Finish();
  flush();
  if (std::fflush(out) != 0) writeFailed = true;

  if (readFailed) {
    std::fprintf(err, "resicrypt-cli: error reading standard input\n");
    return kExitFailure;
  }
  if (writeFailed) {
    std::fprintf(err, "resicrypt-cli: error writing standard output\n");
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace resicrypt::cli
