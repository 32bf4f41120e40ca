// resicrypt-cli: the Resicrypt cipher for scripts. See cli_args.h for the grammar.
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <csignal>
#endif

#include "cli/cli_args.h"
#include "cli/file_command.h"
#include "cli/text_command.h"
#include "container/platform_file.h"
#include "engine/fast_codec.h"
#include "resicrypt_version.h"

namespace {

#ifdef _WIN32
// Ctrl-C, Ctrl-Break and closing the console (or the session) end the run as a
// failed one, with the status a shell gives a run ended by SIGINT: a container
// that stood at its path stays, and no new file is left half-written.
constexpr int kExitInterrupted = 130;

BOOL WINAPI EndOnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      resicrypt::EndProcessLeavingNoFile(kExitInterrupted);
    default:
      return FALSE;
  }
}
#endif

#ifdef _WIN32
// The arguments as the system holds them, in UTF-16, each in the ANSI code page in
// which the files are opened; nullopt, with a message, at the first that does not
// come back as it went: a best-fit letter ("G" for "Ğ", "b" for "ｂ") would name
// another file.
std::optional<std::vector<std::string>> AnsiArguments(std::string& message) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>{};
  std::vector<std::string> args;
  for (int k = 1; k < count && message.empty(); ++k) {
    const std::wstring arg = wide[k];
    const int wideLength = static_cast<int>(arg.size());
    BOOL lossy = FALSE;
    std::string ansi(arg.size() * 2, '\0');
    ansi.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, arg.data(), wideLength, ansi.data(),
                            static_cast<int>(ansi.size()), nullptr, &lossy)));
    std::wstring back(ansi.size(), L'\0');
    back.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), back.data(),
                            static_cast<int>(back.size()))));
    if (lossy || back != arg) {
      std::string shown(arg.size() * 3, '\0');
      shown.resize(static_cast<std::size_t>(
          WideCharToMultiByte(CP_UTF8, 0, arg.data(), wideLength, shown.data(),
                              static_cast<int>(shown.size()), nullptr, nullptr)));
      message = "argument '" + shown + "' has characters outside the system's code page (" +
                std::to_string(GetACP()) + ")";
    }
    args.push_back(std::move(ansi));
  }
  LocalFree(wide);
  if (!message.empty()) return std::nullopt;
  return args;
}
#endif

int Run(int argc, char** argv) {
  // A RESICRYPT_CODEC level this processor lacks, or an unknown word: refused.
  if (const char* error = resicrypt::CodecSettingError()) {
    std::fprintf(stderr, "%s\n", error);
    return resicrypt::cli::kExitUsage;
  }
#ifdef _WIN32
  SetConsoleCtrlHandler(EndOnConsoleEvent, TRUE);
#else
  // A file that would pass the size limit (ulimit -f) fails its write with
  // EFBIG and is reported like any failed write, instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
#ifdef _WIN32
  // Text passes byte for byte: no CR LF translation on the standard streams.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  using namespace resicrypt::cli;
#ifdef _WIN32
  // main's argv is the ANSI code page's best fit of the command line.
  static_cast<void>(argc);
  static_cast<void>(argv);
  std::string unusable;
  const std::optional<std::vector<std::string>> ansi = AnsiArguments(unusable);
  if (!ansi) {
    std::fprintf(stderr, "resicrypt-cli: %s\n", unusable.c_str());
    return kExitUsage;
  }
  const std::vector<std::string>& args = *ansi;
#else
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
#endif
  const ParsedArgs parsed = ParseArgs(args);
  if (!parsed.error.empty()) {
    std::fputs(UsageError(parsed).c_str(), stderr);
    return kExitUsage;
  }
  if (parsed.version) {
    std::fputs("resicrypt-cli " RESICRYPT_VERSION "\n", stdout);
    return kExitOk;
  }
  if (parsed.help) {
    const CommandSpec* command = parsed.command;
    const std::string text = command != nullptr ? CommandHelp(*command) : UsageText();
    std::fputs(text.c_str(), stdout);
    return kExitOk;
  }
  const CommandSpec* command = parsed.command;
  if (command != nullptr && command->run != nullptr) {
    return command->run(parsed, stdin, stdout, stderr);
  }
  std::fputs(UsageText().c_str(), stderr);
  return kExitUsage;
}

}  // namespace

// Out of memory, or any other failure thrown from below, ends the run with a
// message and exit status 1, never with an abort and a core file.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    std::fputs("resicrypt-cli: out of memory\n", stderr);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "resicrypt-cli: %s\n", error.what());
  }
  return resicrypt::cli::kExitFailure;
}
