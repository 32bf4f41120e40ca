// resicrypt-cli's argument parser on random argument lists (the input split at
// NUL bytes). An accepted list must name a command of the table, only options of
// that command, every required option, no more arguments than the command takes,
// and must parse again to the same result when written out in the long form
// (--name=value, then "--" and the arguments). Help and usage texts are built for
// whatever the parser returned. --version is accepted alone only.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_args.h"

namespace {

using namespace resicrypt::cli;

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "cli args: %s\n", why);
  std::abort();
}

const OptionSpec* Option(const CommandSpec& command, const std::string& name) {
  for (const OptionSpec& option : command.options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (std::size_t k = 0; k < size; ++k) {
    if (data[k] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[k]));
    }
  }
  if (size > 0) args.push_back(current);
  if (args.size() > 64) return 0;

  const ParsedArgs parsed = ParseArgs(args);
  const CommandSpec* command = parsed.command;
  if (command != nullptr && FindCommand(command->name) != command) Fail("command not in the table");
  if (command != nullptr) CommandHelp(*command);
  if (!parsed.error.empty()) {
    UsageText();
    return 0;
  }
  if (args.empty()) Fail("no arguments accepted");
  if (parsed.version && (args.size() != 1 || args[0] != "--version")) Fail("version with more");
  if (parsed.help || parsed.version) return 0;

  if (command == nullptr) Fail("accepted without a command");
  for (const auto& [name, value] : parsed.options) {
    if (Option(*command, name) == nullptr) Fail("option of another command");
  }
  for (const OptionSpec& option : command->options) {
    if (option.required && parsed.options.count(option.name) == 0) Fail("required option missing");
  }
  if (parsed.positional.size() > static_cast<std::size_t>(command->maxPositional)) {
    Fail("too many arguments");
  }
  const std::size_t containers =
      parsed.positional.size() - (parsed.options.count("to-stdout") != 0 ? 1 : 0);
  const std::string name = command->name;
  if ((name == "unpack" || name == "test" || name == "list") && parsed.positional.size() != 1 &&
      (name != "unpack" || containers != 1)) {
    Fail("unpack, test and list take one container (and unpack --to-stdout a name)");
  }
  if (name == "pack" && parsed.positional.empty()) Fail("pack without sources");

  // The same request written out in the long form.
  std::vector<std::string> again = {command->name};
  for (const auto& [name, value] : parsed.options) {
    again.push_back("--" + name +
                    (Option(*command, name)->valueName != nullptr ? "=" + value : ""));
  }
  again.push_back("--");
  for (const std::string& arg : parsed.positional) again.push_back(arg);
  const ParsedArgs reparsed = ParseArgs(again);
  if (!reparsed.error.empty() || reparsed.help || reparsed.command != parsed.command ||
      reparsed.options != parsed.options || reparsed.positional != parsed.positional) {
    Fail("the long form parses to another request");
  }
  return 0;
}
