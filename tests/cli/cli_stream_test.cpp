// resicrypt-cli on standard streams, run through the shell (native builds only):
// pipelines through tar, the refusals, and usage errors of one line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

#ifdef RESICRYPT_CLI_EXE
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CliStreams, PipelinesRefusalsAndUsageErrors) {
  const fs::path dir =
      fs::temp_directory_path() / ("resicrypt-streams-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "d" / "sub");
  std::ofstream(dir / "pw") << "pipe key\n";
  std::ofstream(dir / "d" / "a.txt") << "alpha\n";
  std::ofstream(dir / "d" / "sub" / "b.bin", std::ios::binary)
      << std::string(70000, '\xFF') << '\0';
  std::ofstream(dir / "two.txt") << "two\n";
  const std::string cli = std::string("\"") + RESICRYPT_CLI_EXE + "\"";
  struct Case {
    std::string command;  // run in dir, standard error to the file err
    int status;
    std::string err;  // "*": not compared
  };
  const Case cases[] = {
      {"tar c d | " + cli + " pack --password-file pw -o - --stdin-name d.tar - > d.yal", 0, ""},
      {"mkdir out && " + cli + " unpack --password-file pw --to-stdout d.yal | tar x -C out", 0,
       ""},
      {"diff -r d out/d", 0, ""},
      {cli + " pack --password-file pw -o two.yal d/a.txt two.txt", 0, ""},
      {cli + " unpack --password-file pw --to-stdout two.yal two.txt > got && test \"$(cat got)\" "
             "= two",
       0, ""},
      {cli + " unpack --password-file pw --to-stdout two.yal > got", 2,
       "resicrypt-cli: 'two.yal' holds 2 files: name the one for standard output (see "
       "'resicrypt-cli list')\n"},
      {"script -qec '" + cli +
           " pack --password-file pw -o - two.txt' /dev/null > got; "
           "s=$?; grep -q 'not written to a terminal' got && exit $s",
       2, ""},
      {cli + " pack --password-file pw -o x.yal - < two.txt", 2,
       "resicrypt-cli: the source '-' (standard input) needs --stdin-name NAME\n"
       "Try 'resicrypt-cli pack --help'\n"},
      {cli + " unpack --password-file pw -C nowhere two.yal", 2,
       "resicrypt-cli: cannot unpack into 'nowhere': no such folder\n"},
      {cli + " frobnicate", 2,
       "resicrypt-cli: unknown command 'frobnicate'\nTry 'resicrypt-cli --help'\n"},
      {cli + " list --codepage 437 two.yal", 2, "*"},
  };
  for (const Case& c : cases) {
    const std::string command = "cd \"" + dir.string() + "\" && { " + c.command + "; } 2> err";
    const int status = std::system(command.c_str());
    EXPECT_EQ(status == -1 ? -1 : (status >> 8) & 0xFF, c.status) << c.command;
    if (c.err != "*") {
      EXPECT_EQ(ReadFile(dir / "err"), c.err) << c.command;
    }
  }
  EXPECT_FALSE(fs::exists(dir / "x.yal"));
  fs::remove_all(dir);
}
#endif

}  // namespace
