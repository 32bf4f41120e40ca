#include "cli/cli_args.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include "cli/code_page.h"
#include "cli/file_command.h"
#include "cli/text_command.h"

namespace resicrypt::cli {

namespace {

constexpr const char* kProgram = "resicrypt-cli";

// The commands' runs in the one form of CommandRun.
int RunEncryptText(const ParsedArgs& parsed, std::FILE* in, std::FILE* out, std::FILE* err) {
  return RunTextCommand(CipherDirection::kEncrypt, parsed.options.at("password-file"), in, out,
                        err);
}
int RunDecryptText(const ParsedArgs& parsed, std::FILE* in, std::FILE* out, std::FILE* err) {
  return RunTextCommand(CipherDirection::kDecrypt, parsed.options.at("password-file"), in, out,
                        err);
}
int RunUnpackCommand(const ParsedArgs& parsed, std::FILE*, std::FILE* out, std::FILE* err) {
  return RunUnpack(parsed, out, err);
}
int RunTestCommand(const ParsedArgs& parsed, std::FILE*, std::FILE* out, std::FILE* err) {
  return RunTest(parsed, out, err);
}
int RunListCommand(const ParsedArgs& parsed, std::FILE*, std::FILE* out, std::FILE* err) {
  return RunList(parsed, out, err);
}

const OptionSpec kPasswordFileOption = {
    "password-file", "FILE", true,
    "read the password from the first line of FILE (its line ending excluded); "
    "the first 17 bytes are the key, at least 3 are needed; '-' is not allowed, "
    "standard input carries the text"};

const OptionSpec kPackPasswordOption = {
    "password-file", "FILE", false,
    "read the password from the first line of FILE (its line ending excluded), 3 to 23 "
    "bytes, all of them used; without it the password is asked for twice on the terminal"};

const OptionSpec kUnpackPasswordOption = {
    "password-file", "FILE", false,
    "read the password from the first line of FILE (its line ending excluded), 3 to 23 "
    "bytes, all of them used; without it the password is asked for once on the terminal"};

const OptionSpec kCodePageOption = {
    "codepage", "N", false,
    "the Windows code page of the names stored in the container: 1250 to 1258, 874, or "
    "932 (Japanese), 936 (Simplified Chinese), 949 (Korean), 950 (Traditional Chinese) "
    "(default: 1252 on Linux, the system's ANSI code page on Windows, as the window uses); "
    "65001 reads the UTF-8 names of containers that 3.01's Linux command line made"};

const OptionSpec kProgressOption = {
    "progress", nullptr, false,
    "draw the progress line on standard error even when it is no terminal, and at once "
    "(by default it is drawn on a terminal only, once the work has taken a second)"};
const OptionSpec kNoProgressOption = {"no-progress", nullptr, false,
                                      "draw no progress line, not even on a terminal"};

// "-o" for one-letter options, "--name" otherwise.
std::string OptionFlag(const std::string& name) { return (name.size() == 1 ? "-" : "--") + name; }

const OptionSpec* FindOption(const CommandSpec& command, const std::string& name) {
  for (const OptionSpec& option : command.options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

ParsedArgs Fail(ParsedArgs parsed, const std::string& message) {
  parsed.error = message;
  return parsed;
}

// The text commands read their text from standard input.
std::string CheckTextCommand(const ParsedArgs& parsed) {
  if (parsed.options.at("password-file") == "-") {
    return "--password-file - is not allowed: standard input carries the text";
  }
  return std::string();
}

std::string CheckPack(const ParsedArgs& parsed) {
  const auto codePage = parsed.options.find("codepage");
  if (codePage != parsed.options.end() && codePage->second == "65001") {
    return "--codepage 65001 only reads containers; pack stores names in a Windows "
           "code page";
  }
  if (parsed.positional.empty()) return "pack needs at least one source file";
  const auto dashes = std::count(parsed.positional.begin(), parsed.positional.end(), "-");
  const bool named = parsed.options.count("stdin-name") != 0;
  if (dashes > 1) return "standard input ('-') can be one source only";
  if (dashes == 1 && !named) return "the source '-' (standard input) needs --stdin-name NAME";
  if (dashes == 0 && named) return "--stdin-name is for the source '-' (standard input)";
  return std::string();
}

// test and list: one container.
std::string CheckOneContainer(const ParsedArgs& parsed) {
  return parsed.positional.empty() ? "give one container file" : std::string();
}

std::string CheckUnpack(const ParsedArgs& parsed) {
  const bool toStdout = parsed.options.count("to-stdout") != 0;
  if (toStdout && parsed.options.count("C") != 0) {
    return "--to-stdout writes no files: -C has nothing to do";
  }
  if (parsed.positional.empty()) return "give one container file";
  if (!toStdout && parsed.positional.size() > 1) {
    return "unexpected argument '" + parsed.positional[1] +
           "' (a stored name follows the container only with --to-stdout)";
  }
  return std::string();
}

// The rules every command shares, then the command's own.
std::string CheckCommand(const ParsedArgs& parsed) {
  const auto codePage = parsed.options.find("codepage");
  if (codePage != parsed.options.end()) {
    const std::string& value = codePage->second;
    const bool digits = !value.empty() && value.size() <= 5 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || !NameCodePage::Numbered(std::stoi(value))) {
      return "--codepage " + value +
             " is not a code page for names (1250 to 1258, 874, 932, 936, 949, 950, 65001)";
    }
  }
  if (parsed.options.count("progress") != 0 && parsed.options.count("no-progress") != 0) {
    return "--progress and --no-progress exclude each other";
  }
  return parsed.command->check != nullptr ? parsed.command->check(parsed) : std::string();
}

}  // namespace

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
      {"encrypt-text",
       &CheckTextCommand,
       &RunEncryptText,
       "--password-file FILE",
       "encrypt standard input line by line into printable cipher text",
       {kPasswordFileOption},
       0,
       "A line that decryption could not give back whole is refused: one that holds a\n"
       "NUL byte (decryption ends a text there), or one with a byte 255 in its last\n"
       "block, which decryption drops as padding (the last block is the last n mod L\n"
       "bytes of an n-byte line, or the last L bytes when L divides n; L is the key\n"
       "length, 3 to 17). A refused line is written as an empty line (its line ending\n"
       "alone), so that every later line keeps its number; standard error names it,\n"
       "and the exit status is 1. The other lines are encrypted all the same.\n"},
      {"decrypt-text",
       &CheckTextCommand,
       &RunDecryptText,
       "--password-file FILE",
       "decrypt cipher text from standard input line by line; a line that is not "
       "cipher text under the password is written back unchanged",
       {kPasswordFileOption},
       0,
       "A line is cipher text under the password when its last whole block of cipher\n"
       "characters decrypts as one; an empty line is the cipher text of an empty line.\n"
       "When any other line was written back unchanged (a wrong password, or a line\n"
       "that was never encrypted), standard error says how many and which came first,\n"
       "and the exit status is 3.\n"},
      {"pack",
       &CheckPack,
       &RunPack,
       "[--password-file FILE] [--codepage N] [--stdin-name NAME] -o OUT.yal SRC...",
       "pack the source files into one new container OUT.yal, as Encrypt File does",
       {kPackPasswordOption,
        {"o", "OUT.yal", true,
         "the container to write (replaced if it is there); '-' writes it to standard output, "
         "which may not be a terminal"},
        {"stdin-name", "NAME", false,
         "the name under which the source '-', standard input, is stored (needed with it)"},
        kCodePageOption, kProgressOption, kNoProgressOption},
       1 << 30,
       "Every source is checked before anything is written: one that is missing, cannot\n"
       "be read, is not a regular file (a folder, device, named pipe or socket) or holds\n"
       "more than 2147483647 bytes, and one whose name the code page cannot hold, is\n"
       "named, and nothing is written (exit status 2); a container at OUT.yal stays as it\n"
       "was. Standard input ('-') is held in a private temporary file until it ends,\n"
       "since a record needs its size first; so is a container for '-o -'.\n"
       "Each file must unpack again beside the others on Windows too: two whose names\n"
       "Windows takes for one (the same name from two folders, or names that differ\n"
       "only in letter case or trailing dots and blanks), a source that is OUT.yal\n"
       "itself, and on Linux a name with a backslash are refused before anything is\n"
       "written (exit status 2).\n"
       "A folder, device, named pipe or socket in place of OUT.yal is refused without\n"
       "being opened. The new container replaces OUT.yal only when every file was\n"
       "packed; if packing stops (a file that cannot be read to its end, or one that\n"
       "changes meanwhile), a container that\n"
       "was there is kept as it was, and a new one is left with the files before the\n"
       "one that failed. Until it is complete the new container is private to you and\n"
       "goes away if the run is interrupted or killed. It keeps the permissions of the\n"
       "file it replaces.\n"},
      {"unpack",
       &CheckUnpack,
       &RunUnpackCommand,
       "[--password-file FILE] [--codepage N] [-C DIR | --to-stdout] CONTAINER.yal [NAME]",
       "unpack every file of the container into its folder (or DIR), as Decrypt File does",
       {kUnpackPasswordOption,
        {"C", "DIR", false,
         "the folder to unpack into, which must exist (default: the container's folder)"},
        {"to-stdout", nullptr, false,
         "write the file NAME (or the container's only file) to standard output; it is "
         "held until then in a temporary file that has no name (TMPDIR or /tmp; on "
         "Windows TEMP, deleted on close), which needs room for it"},
        kCodePageOption, kProgressOption, kNoProgressOption},
       2,
       "Each file is written privately and takes its name only when it is complete:\n"
       "an interrupted or killed run leaves no partial file behind, and a file it would\n"
       "replace stays as it was. A replaced file keeps its permissions; a new one is\n"
       "readable by no more users than the container. A record is refused (and the\n"
       "exit status is 1) when its name is not a plain file name, names the container,\n"
       "or leads to a file unpacked before from the same container; unpacking stops\n"
       "where a folder, device, named pipe or socket stands at a file's name.\n"
       "Every block is checked as it is decrypted. A file with blocks that fail the\n"
       "check is damaged (exit status 1): it never replaces a file of its name, and\n"
       "where none stands its bytes are written to NAME.damaged instead; the files\n"
       "before and after it are unpacked as usual.\n"},
      {"test",
       &CheckOneContainer,
       &RunTestCommand,
       "[--password-file FILE] [--codepage N] CONTAINER.yal",
       "check the password, the container and every block of every file, writing nothing",
       {kUnpackPasswordOption, kCodePageOption, kProgressOption, kNoProgressOption},
       1,
       "Exit status 0 when every file is whole, 1 when a file is damaged (each one is\n"
       "named, with how many blocks failed the check and where the first starts) or\n"
       "the container cannot be read to its end, 2 for a wrong password. Nothing is\n"
       "written anywhere.\n"},
      {"list",
       &CheckOneContainer,
       &RunListCommand,
       "[--password-file FILE] [--codepage N] CONTAINER.yal",
       "list the names and sizes of the files in the container (stored in the clear)",
       {{"password-file", "FILE", false,
         "only the length of the password is used, for the rare container whose block "
         "length cannot be told from the container alone"},
        kCodePageOption},
       1},
  };
  return commands;
}

const CommandSpec* FindCommand(const std::string& name) {
  for (const CommandSpec& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

namespace {

// --version and help, which take no command's arguments: --help, -h or help,
// each with an optional command. Nothing for any other first argument.
std::optional<ParsedArgs> ParseVersionOrHelp(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  const std::string& first = args[0];
  if (first == "--version") {
    parsed.version = true;
    if (args.size() > 1) return Fail(parsed, "unexpected argument '" + args[1] + "'");
    return parsed;
  }
  if (first != "--help" && first != "-h" && first != "help") return std::nullopt;
  parsed.help = true;
  if (args.size() > 1) {
    const CommandSpec* command = FindCommand(args[1]);
    if (command == nullptr) return Fail(parsed, "unknown command '" + args[1] + "'");
    parsed.command = command;
  }
  if (args.size() > 2) return Fail(parsed, "unexpected argument '" + args[2] + "'");
  return parsed;
}

// The option args[at] of command (-x VALUE, --name VALUE, --name=VALUE or a flag)
// into parsed.options; a value given apart moves at on to it. False, with
// parsed.error set, when the option is unknown, lacks its value or comes twice.
bool TakeOption(const CommandSpec& command, const std::vector<std::string>& args, std::size_t& at,
                bool shortOption, ParsedArgs& parsed) {
  const std::string& arg = args[at];
  const std::size_t equals = shortOption ? std::string::npos : arg.find('=');
  const std::string name =
      shortOption ? arg.substr(1)
                  : arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
  const OptionSpec* option = FindOption(command, name);
  std::string value;
  if (option == nullptr) {
    parsed.error = "unknown option '--" + name + "' for " + command.name;
  } else if (option->valueName == nullptr) {
    if (equals != std::string::npos) parsed.error = "option " + OptionFlag(name) + " takes no value";
  } else if (equals != std::string::npos) {
    value = arg.substr(equals + 1);
  } else if (at + 1 < args.size()) {
    value = args[++at];
  } else {
    parsed.error = "option " + OptionFlag(name) + " needs a value (" + option->valueName + ")";
  }
  if (parsed.error.empty() && parsed.options.count(name) != 0) {
    parsed.error = "option " + OptionFlag(name) + " given twice";
  }
  if (!parsed.error.empty()) return false;
  parsed.options[name] = value;
  return true;
}

// What a command's arguments must hold once all are read: no more arguments than
// it takes, its required options, and its own rules (CheckCommand).
std::string CheckArguments(const CommandSpec& command, const ParsedArgs& parsed) {
  if (static_cast<int>(parsed.positional.size()) > command.maxPositional) {
    return "unexpected argument '" +
           parsed.positional[static_cast<std::size_t>(command.maxPositional)] + "'";
  }
  for (const OptionSpec& option : command.options) {
    if (option.required && parsed.options.count(option.name) == 0) {
      return std::string(command.name) + " needs " + OptionFlag(option.name) + " " +
             option.valueName;
    }
  }
  return CheckCommand(parsed);
}

}  // namespace

ParsedArgs ParseArgs(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  if (args.empty()) return Fail(parsed, "no command given");
  if (std::optional<ParsedArgs> versionOrHelp = ParseVersionOrHelp(args)) return *versionOrHelp;
  const std::string& first = args[0];
  const CommandSpec* command = FindCommand(first);
  if (command == nullptr) {
    return Fail(parsed, (first.rfind("-", 0) == 0 ? "unknown option '" : "unknown command '") +
                            first + "'");
  }
  parsed.command = command;

  bool optionsEnded = false;
  for (std::size_t k = 1; k < args.size(); ++k) {
    const std::string& arg = args[k];
    const bool shortOption = !optionsEnded && arg.size() == 2 && arg[0] == '-' && arg[1] != '-' &&
                             FindOption(*command, arg.substr(1)) != nullptr;
    if (!shortOption && (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0)) {
      if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
        return Fail(parsed, "unknown option '" + arg + "'");
      }
      parsed.positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help") {
      parsed.help = true;
    } else if (!TakeOption(*command, args, k, shortOption, parsed)) {
      return parsed;
    }
  }
  if (parsed.help) return parsed;
  const std::string problem = CheckArguments(*command, parsed);
  if (!problem.empty()) return Fail(parsed, problem);
  return parsed;
}

std::string UsageText() {
  std::ostringstream out;
  out << "Usage: " << kProgram << " COMMAND [OPTIONS]\n\n"
      << "Encrypts and decrypts text with the Resicrypt residue cipher.\n\nCommands:\n";
  for (const CommandSpec& command : Commands()) {
    out << "  " << command.name << " " << command.synopsis << "\n      " << command.summary << "\n";
  }
  out << "\nText is read from standard input and written to standard output, one line out\n"
      << "for each line in; a line ends at LF or CR LF, and the line ending is kept as it is.\n"
      << "pack, unpack, test and list work on .yal containers, the files of Encrypt File\n"
      << "and Decrypt File; exit status 0 only when every file was packed or unpacked\n"
      << "(or tested) whole.\n"
      << "They fit pipes: 'pack -o -' writes the container to standard output, a source\n"
      << "'-' is standard input (stored as --stdin-name NAME), and 'unpack --to-stdout'\n"
      << "writes one file to standard output:\n"
      << "  tar c d | " << kProgram
      << " pack --password-file pw -o - --stdin-name d.tar - > d.yal\n"
      << "  " << kProgram << " unpack --password-file pw --to-stdout d.yal | tar x\n"
      << "Stored names are bytes of a Windows code page, as the window writes them: on\n"
      << "Linux they are converted from and to UTF-8 through code page 1252 (or\n"
      << "--codepage N); on Windows the system's ANSI code page is used as it is.\n"
      << "pack and unpack draw a progress line on standard error when it is a terminal\n"
      << "and the work takes more than a second (--progress: always, --no-progress: never).\n"
      << "A line of any length is ciphered in bounded memory: a line longer than 1 MiB\n"
      << "is held in a temporary file (in TMPDIR or /tmp; on Windows in TEMP) until it\n"
      << "has ended.\n"
      << "\nRun '" << kProgram << " COMMAND --help' for the options of a command, '" << kProgram
      << " --version' for the version.\n"
      << "Exit status: 0 done; 1 a file could not be read or written, a container is\n"
      << "damaged, a line could not be encrypted so as to come back, or out of memory;\n"
      << "2 bad arguments or password, sources that pack refuses, a -C folder that is not\n"
      << "there, --to-stdout without a name for a container of several files;\n"
      << "3 decrypt-text wrote lines back unchanged that were not cipher text under the\n"
      << "password; 130 (Windows) stopped by Ctrl-C, Ctrl-Break or closing the console.\n";
  return out.str();
}

std::string UsageError(const ParsedArgs& parsed) {
  const CommandSpec* command = parsed.command;
  const std::string help = command != nullptr
                               ? std::string(kProgram) + " " + command->name + " --help"
                               : std::string(kProgram) + " --help";
  return std::string(kProgram) + ": " + parsed.error + "\nTry '" + help + "'\n";
}

std::string CommandHelp(const CommandSpec& command) {
  std::ostringstream out;
  out << "Usage: " << kProgram << " " << command.name << " " << command.synopsis << "\n\n"
      << command.summary << ".\n\nOptions:\n";
  for (const OptionSpec& option : command.options) {
    out << "  " << OptionFlag(option.name)
        << (option.valueName != nullptr ? std::string(" ") + option.valueName : "") << "\n      "
        << option.help << "\n";
  }
  out << "  --help\n      show this help\n";
  if (command.details != nullptr) out << "\n" << command.details;
  return out.str();
}

}  // namespace resicrypt::cli
