// Command-line grammar of resicrypt-cli:
//   resicrypt-cli COMMAND [--option VALUE | --option=VALUE]... [ARG]...
//   resicrypt-cli --help | help [COMMAND] | COMMAND --help
//   resicrypt-cli --version
// One-letter options take a single dash: -o VALUE.
// Commands and their options are rows of one table: a new command is a new row (its
// name, its own rules, its options and help) and its run function.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace resicrypt::cli {

// Exit codes of resicrypt-cli.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;        // a file or line could not be read, written or encrypted
constexpr int kExitUsage = 2;          // bad arguments or an unusable password
constexpr int kExitNotCipherText = 3;  // decrypt-text wrote lines back unchanged

struct OptionSpec {
  const char* name;       // without the leading "--"; a one-letter name is given as "-x"
  const char* valueName;  // shown in help, e.g. "FILE"; nullptr for a flag, which takes none
  bool required;
  const char* help;
};

struct ParsedArgs;

// How a command runs once its arguments are parsed: on the standard streams,
// giving the exit status.
using CommandRun = int (*)(const ParsedArgs& parsed, std::FILE* in, std::FILE* out, std::FILE* err);
// A command's own rules beyond the grammar: a usage error's text, or empty.
using CommandCheck = std::string (*)(const ParsedArgs& parsed);

// A command is one row: its name, its own rules, its arguments and help, and its run.
struct CommandSpec {
  const char* name;
  CommandCheck check;  // nullptr: the grammar says all
  CommandRun run;
  const char* synopsis;  // arguments after the command name, for the usage line
  const char* summary;
  std::vector<OptionSpec> options;
  int maxPositional;              // arguments that are not options
  const char* details = nullptr;  // more for the command's own help: lines, outcomes
};

// Every command the tool knows, in the order help lists them.
const std::vector<CommandSpec>& Commands();
// The row of a command by its name, or nullptr.
const CommandSpec* FindCommand(const std::string& name);

struct ParsedArgs {
  const CommandSpec* command = nullptr;          // the row of the command given, if any
  bool help = false;                           // print help (for command, or overall) and exit 0
  bool version = false;                        // print the version and exit 0
  std::map<std::string, std::string> options;  // option name (without "--") -> value
  std::vector<std::string> positional;
  std::string error;  // not empty: a usage error, exit kExitUsage
};

// The two lines a usage error prints: what is wrong, and where help is.
std::string UsageError(const ParsedArgs& parsed);

// Parses the arguments after the program name.
ParsedArgs ParseArgs(const std::vector<std::string>& args);

// Help for all commands, or for one.
std::string UsageText();
std::string CommandHelp(const CommandSpec& command);

}  // namespace resicrypt::cli
