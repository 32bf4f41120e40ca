// resicrypt-dde-call: encrypts or decrypts text lines with a running Resicrypt,
// through its DDE service, the way another program would.
//
//   resicrypt-dde-call [--server NAME] [--timeout MS] encrypt|decrypt PASSWORD [FILE]
//   resicrypt-dde-call --version | --help
//
// Reads the lines of FILE (or of standard input), sends them to Resicrypt and
// writes each result to standard output, one per line (CR LF), in the order of
// the input. An empty input line gives an empty output line: an empty macro has
// no text to work on. When the conversation ends, Resicrypt ends too.
//
// Exit codes: 0 every line answered; 1 wrong arguments or unreadable input;
// 2 Resicrypt could not be reached; 3 every line answered, but some were not
// cipher text under the password (Resicrypt sends such a line back unchanged, as
// resicrypt-cli decrypt-text writes it, with the same status); 4 every line
// answered, but some could not be encrypted (Resicrypt answers such a line with
// the empty text); 5 Resicrypt did not link back or a result did not come in time.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "examples/dde_caller_win.h"
#include "resicrypt_version.h"

namespace {

using resicrypt::examples::DdeCaller;

constexpr int kExitUsage = 1;
constexpr int kExitNoService = 2;
constexpr int kExitNotDecrypted = 3;
constexpr int kExitNotEncrypted = 4;
constexpr int kExitNoReply = 5;

constexpr char kUsage[] =
    "usage: resicrypt-dde-call [--server NAME] [--timeout MS] encrypt|decrypt PASSWORD [FILE]\n"
    "       resicrypt-dde-call --version | --help\n";

struct Options {
  std::string server = resicrypt::examples::kResicryptService;
  DWORD timeoutMs = 10000;
  std::string operation;  // "Open" or "Close"
  std::string password;
  std::string file;  // empty: standard input
};

int Usage(const char* problem) {
  std::fprintf(stderr, "resicrypt-dde-call: %s\n%s", problem, kUsage);
  return kExitUsage;
}

// The usage and what each part means, for --help.
void Help() {
  std::fputs(kUsage, stdout);
  std::fputs(
      "\nEncrypts or decrypts the lines of FILE (or of standard input) with a running\n"
      "Resicrypt, through its DDE service, and writes each result to standard output,\n"
      "one per line (CR LF). An empty line gives an empty line. Resicrypt uses the\n"
      "first 17 characters of the password and ends when the conversation ends.\n"
      "\n"
      "  --server NAME  the DDE service (default Resicrypt)\n"
      "  --timeout MS   how long to wait for each result (default 10000)\n"
      "\n"
      "Exit status: 0 every line answered; 1 wrong arguments or unreadable input;\n"
      "2 Resicrypt not reachable; 3 some lines were not cipher text under the password\n"
      "(written back unchanged, as resicrypt-cli decrypt-text does); 4 some lines could\n"
      "not be encrypted (written as empty lines); 5 no link back or a result missing\n"
      "in time.\n",
      stdout);
}

bool ParseOptions(int argc, char** argv, Options& options, std::string& problem) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if ((argument == "--server" || argument == "--timeout") && i + 1 < argc) {
      const std::string value = argv[++i];
      if (argument == "--server") {
        options.server = value;
      } else {
        char* end = nullptr;
        const unsigned long milliseconds = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || milliseconds == 0 || milliseconds > 600000) {
          problem = "--timeout takes milliseconds from 1 to 600000";
          return false;
        }
        options.timeoutMs = static_cast<DWORD>(milliseconds);
      }
    } else if (argument.size() > 1 && argument[0] == '-') {
      problem = "unknown option " + argument;
      return false;
    } else {
      positional.push_back(argument);
    }
  }
  if (positional.size() < 2 || positional.size() > 3) {
    problem = "an operation and a password are needed";
    return false;
  }
  if (positional[0] == "encrypt") {
    options.operation = "Open";
  } else if (positional[0] == "decrypt") {
    options.operation = "Close";
  } else {
    problem = "the operation is encrypt or decrypt";
    return false;
  }
  options.password = positional[1];
  // Resicrypt does not take a shorter password and would read the first text
  // line as the password instead.
  if (options.password.size() < 3 || options.password.find_first_of("\r\n") != std::string::npos) {
    problem = "the password needs at least 3 characters on one line";
    return false;
  }
  if (options.password.size() > 17) {
    std::fprintf(stderr,
                 "resicrypt-dde-call: note: Resicrypt uses the first 17 characters of "
                 "the password\n");
  }
  if (positional.size() == 3) options.file = positional[2];
  return true;
}

// The input lines; a CR before the line end is dropped.
bool ReadLines(const std::string& file, std::vector<std::string>& lines) {
  std::ifstream stream;
  std::istream* input = &std::cin;
  if (!file.empty()) {
    stream.open(file, std::ios::binary);
    if (!stream) return false;
    input = &stream;
  } else {
    _setmode(_fileno(stdin), _O_BINARY);
  }
  std::string line;
  while (std::getline(*input, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return input->eof();
}

void WriteLine(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputs("\r\n", stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs("resicrypt-dde-call " RESICRYPT_VERSION "\n", stdout);
    return 0;
  }
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                    std::strcmp(argv[1], "/?") == 0)) {
    Help();
    return 0;
  }
  Options options;
  std::string problem;
  if (!ParseOptions(argc, argv, options, problem)) return Usage(problem.c_str());
  std::vector<std::string> lines;
  if (!ReadLines(options.file, lines)) {
    std::fprintf(stderr, "resicrypt-dde-call: cannot read %s\n",
                 options.file.empty() ? "standard input" : options.file.c_str());
    return kExitUsage;
  }
  // Results are bytes of the system's code page, written as they come.
  _setmode(_fileno(stdout), _O_BINARY);

  DdeCaller caller;
  const std::string ownPath = resicrypt::examples::OwnExecutablePath();
  if (!caller.Start(ownPath, problem) || !caller.Connect(options.server, problem)) {
    std::fprintf(stderr, "resicrypt-dde-call: %s\n", problem.c_str());
    return kExitNoService;
  }

  // Macro 1: our own path. Resicrypt links back to our service. Every macro goes
  // out without waiting in a synchronous transaction, and our messages keep
  // flowing meanwhile, so that we can answer Resicrypt's connection request.
  if (!caller.Post(ownPath) || !caller.WaitForLinkBack(options.timeoutMs)) {
    std::fprintf(stderr, "resicrypt-dde-call: Resicrypt did not link back to the service %s\n",
                 caller.OwnServiceName().c_str());
    caller.Disconnect(options.timeoutMs);
    return kExitNoReply;
  }
  // Macro 2: the operation; macro 3: the password.
  if (!caller.Post(options.operation) || !caller.Post(options.password)) {
    std::fprintf(stderr, "resicrypt-dde-call: the conversation with Resicrypt ended\n");
    caller.Disconnect(options.timeoutMs);
    return kExitNoReply;
  }

  // Macro 4 and on: one line each, one result each.
  int status = 0;
  std::size_t expected = 0;
  std::size_t unchanged = 0;  // lines decryption sent back as they were
  std::size_t firstUnchanged = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) {
      WriteLine("");
      continue;
    }
    ++expected;
    if (!caller.Post(lines[i]) || !caller.WaitForResults(expected, options.timeoutMs)) {
      std::fprintf(stderr, "resicrypt-dde-call: no result for line %zu\n", i + 1);
      status = kExitNoReply;
      break;
    }
    const std::string& result = caller.Results()[expected - 1].text;
    if (result.find_first_of("\r\n") != std::string::npos) {
      // Cipher text may hold these bytes; as a macro it would end at the first.
      std::fprintf(stderr,
                   "resicrypt-dde-call: warning: the result of line %zu holds a line break "
                   "byte and cannot be sent back as one line\n",
                   i + 1);
    }
    if (result.empty() && options.operation == "Open") {
      // A non-empty line encrypts to something; the empty text says it would not
      // have come back whole (a byte 255 at its end).
      std::fprintf(stderr,
                   "resicrypt-dde-call: line %zu was not encrypted: a byte 255 near its end "
                   "would not come back from decryption\n",
                   i + 1);
      status = kExitNotEncrypted;
    }
    if (result == lines[i] && options.operation == "Close" && unchanged++ == 0) {
      firstUnchanged = i + 1;
    }
    WriteLine(result);
  }
  if (unchanged > 0) {
    std::fprintf(stderr,
                 "resicrypt-dde-call: %zu line%s not cipher text under this password and "
                 "%s sent back unchanged (the first is line %zu)\n",
                 unchanged, unchanged == 1 ? " was" : "s were", unchanged == 1 ? "was" : "were",
                 firstUnchanged);
    if (status == 0) status = kExitNotDecrypted;
  }

  caller.Disconnect(options.timeoutMs);
  return status;
}
