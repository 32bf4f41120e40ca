// Argument parsing of resicrypt-cli.
#include <gtest/gtest.h>

#include "cli/cli_args.h"

namespace resicrypt::cli {
namespace {

TEST(ParseArgs, TextCommandsTakeAPasswordFile) {
  ParsedArgs parsed = ParseArgs({"encrypt-text", "--password-file", "key.txt"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.command, FindCommand("encrypt-text"));
  EXPECT_EQ(parsed.options.at("password-file"), "key.txt");

  parsed = ParseArgs({"decrypt-text", "--password-file=dir/my key"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.command, FindCommand("decrypt-text"));
  EXPECT_EQ(parsed.options.at("password-file"), "dir/my key");
  EXPECT_FALSE(parsed.help);
}

TEST(ParseArgs, HelpForallAndForOneCommand) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}}) {
    const ParsedArgs parsed = ParseArgs(args);
    EXPECT_TRUE(parsed.help);
    EXPECT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.command, nullptr);
  }
  EXPECT_EQ(ParseArgs({"help", "decrypt-text"}).command, FindCommand("decrypt-text"));
  const ParsedArgs commandHelp = ParseArgs({"encrypt-text", "--help"});  // no password file needed
  EXPECT_TRUE(commandHelp.help);
  EXPECT_EQ(commandHelp.error, "");
  EXPECT_EQ(commandHelp.command, FindCommand("encrypt-text"));
  EXPECT_TRUE(ParseArgs({"--version"}).version);
  EXPECT_EQ(ParseArgs({"--version"}).error, "");

  const std::string usage = UsageText();
  for (const CommandSpec& command : Commands()) {
    EXPECT_NE(usage.find(command.name), std::string::npos);
    EXPECT_NE(CommandHelp(command).find("--password-file FILE"), std::string::npos);
  }
}

TEST(ParseArgs, UsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"--verbose"},
      {"help", "frobnicate"},
      {"--version", "pack"},
      {"encrypt-text"},                          // no password file
      {"encrypt-text", "--password-file"},       // no value
      {"encrypt-text", "--password-file", "-"},  // stdin is the text
      {"decrypt-text", "--password-file=-"},
      {"encrypt-text", "--password-file", "a", "--password-file", "b"},
      {"encrypt-text", "--password-file", "a", "--mode", "x"},  // unknown option
      {"encrypt-text", "--password-file", "a", "-x"},
      {"encrypt-text", "--password-file", "a", "extra"},  // no arguments taken
  };
  for (const auto& args : bad) {
    const ParsedArgs parsed = ParseArgs(args);
    EXPECT_NE(parsed.error, "") << (args.empty() ? "(none)" : args.back());
    EXPECT_FALSE(parsed.help && parsed.error.empty());
  }
  EXPECT_NE(ParseArgs({"encrypt-text", "--password-file", "-"}).error.find("standard input"),
            std::string::npos);
}

TEST(ParseArgs, DoubleDashEndsOptions) {
  // A value starting with "-" is still taken after the option name.
  EXPECT_EQ(ParseArgs({"encrypt-text", "--password-file", "-key"}).options.at("password-file"),
            "-key");
  const ParsedArgs parsed = ParseArgs({"encrypt-text", "--password-file", "k", "--", "--x"});
  EXPECT_NE(parsed.error, "");  // "--x" is an argument now, and the command takes none
  EXPECT_EQ(parsed.positional, std::vector<std::string>{"--x"});
}

}  // namespace
}  // namespace resicrypt::cli
