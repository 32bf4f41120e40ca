// The manual page (docs/resicrypt-cli.1.in) held to the command table: its
// SYNOPSIS has one line for each command, with that command's options, and its
// COMMANDS section one entry for each command (and help).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_args.h"

namespace resicrypt::cli {
namespace {

std::vector<std::string> PageLines() {
  std::ifstream in(RESICRYPT_MAN_PAGE);
  EXPECT_TRUE(in.good()) << RESICRYPT_MAN_PAGE;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines of a section, from its .SH line to the next.
std::vector<std::string> Section(const std::vector<std::string>& page, const std::string& name) {
  std::vector<std::string> lines;
  bool inside = false;
  for (const std::string& line : page) {
    if (line.rfind(".SH ", 0) == 0) inside = line == ".SH " + name;
    else if (inside) lines.push_back(line);
  }
  return lines;
}

// Each command's options as its SYNOPSIS line names them (troff writes a dash
// as \-): "resicrypt-cli NAME" up to the next .br, the options without dashes.
std::map<std::string, std::set<std::string>> SynopsisOptions(const std::vector<std::string>& page) {
  const std::regex commandLine(R"(^\.B resicrypt-cli ([a-z-]+))");
  const std::regex option(R"(\\-\\-([a-z]+(\\-[a-z]+)*)|\\-([A-Za-z])\b)");
  std::map<std::string, std::set<std::string>> commands;
  std::string command;
  for (const std::string& line : Section(page, "SYNOPSIS")) {
    std::smatch match;
    if (line == ".br") {
      command.clear();
      continue;
    }
    if (std::regex_search(line, match, commandLine)) {
      command = match[1];
      commands[command];
    }
    if (command.empty()) continue;
    for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it) {
      std::string name = (*it)[1].matched ? (*it)[1].str() : (*it)[3].str();
      commands[command].insert(std::regex_replace(name, std::regex(R"(\\-)"), "-"));
    }
  }
  return commands;
}

// The entries of the COMMANDS section: the first word after each .TP.
std::set<std::string> CommandEntries(const std::vector<std::string>& page) {
  const std::vector<std::string> lines = Section(page, "COMMANDS");
  std::set<std::string> entries;
  for (std::size_t k = 0; k + 1 < lines.size(); ++k) {
    if (lines[k] != ".TP") continue;
    std::istringstream entry(lines[k + 1]);
    std::string macro, word;
    entry >> macro >> word;
    entries.insert(word);
  }
  return entries;
}

TEST(ManPage, SynopsisAndCommandsFollowTheCommandTable) {
  const std::vector<std::string> page = PageLines();
  std::map<std::string, std::set<std::string>> table;
  std::set<std::string> names{"help"};
  for (const CommandSpec& command : Commands()) {
    names.insert(command.name);
    for (const OptionSpec& option : command.options) table[command.name].insert(option.name);
  }
  EXPECT_EQ(SynopsisOptions(page), table);
  EXPECT_EQ(CommandEntries(page), names);
}

}  // namespace
}  // namespace resicrypt::cli
