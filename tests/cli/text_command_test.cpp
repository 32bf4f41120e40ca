// Line splitting and the encrypt-text / decrypt-text commands, in process and,
// on native builds, through the built resicrypt-cli.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <random>

#include "cli/cli_args.h"
#include "cli/line_splitter.h"
#include "cli/text_command.h"
#include "engine/text_cipher.h"

namespace resicrypt::cli {
namespace {

namespace fs = std::filesystem;

std::vector<std::pair<std::string, std::string>> Split(const std::vector<std::string>& chunks) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::string content;
  LineSplitter splitter([&](std::string_view piece) { content += piece; },
                        [&](std::string_view ending) {
                          lines.emplace_back(content, std::string(ending));
                          content.clear();
                        });
  for (const std::string& chunk : chunks) splitter.Feed(chunk);
  splitter.Finish();
  return lines;
}

using Lines = std::vector<std::pair<std::string, std::string>>;

TEST(LineSplitter, EndingsAndChunkBoundaries) {
  const Lines expected = {{"one", "\n"},    {"two", "\r\n"}, {"", "\n"},
                          {"a\rb", "\r\n"}, {"", "\r\n"},    {"last\r", ""}};
  const std::string input = "one\ntwo\r\n\na\rb\r\n\r\nlast\r";
  EXPECT_EQ(Split({input}), expected);
  // Every way of cutting the input in two, including between CR and LF.
  for (std::size_t cut = 0; cut <= input.size(); ++cut) {
    EXPECT_EQ(Split({input.substr(0, cut), input.substr(cut)}), expected) << cut;
  }
  // One byte at a time.
  std::vector<std::string> bytes;
  for (const char c : input) bytes.emplace_back(1, c);
  EXPECT_EQ(Split(bytes), expected);
  EXPECT_EQ(Split({}), Lines{});
  EXPECT_EQ(Split({"x\n"}), (Lines{{"x", "\n"}}));
  EXPECT_EQ(Split({std::string("a\0b\n", 4)}), (Lines{{std::string("a\0b", 3), "\n"}}));
}

TEST(KeyFromPasswordFile, FirstLineCutTo17Bytes) {
  std::string key;
  std::string message;
  ASSERT_TRUE(KeyFromPasswordFile("secret\r\nsecond line", key, message));
  EXPECT_EQ(key, "secret");
  ASSERT_TRUE(KeyFromPasswordFile("0123456789abcdefghij\n", key, message));
  EXPECT_EQ(key, "0123456789abcdefg");
  ASSERT_TRUE(KeyFromPasswordFile(" a \xE9", key, message));  // no line ending; bytes as they are
  EXPECT_EQ(key, " a \xE9");
  ASSERT_TRUE(KeyFromPasswordFile("abc\r", key, message));  // a CR without LF is a password byte
  EXPECT_EQ(key, "abc\r");

  EXPECT_FALSE(KeyFromPasswordFile("ab\r\nlonger second line", key, message));
  EXPECT_NE(message.find("at least 3"), std::string::npos);
  EXPECT_FALSE(KeyFromPasswordFile("", key, message));
  EXPECT_FALSE(KeyFromPasswordFile("\nabcdef", key, message));
  EXPECT_FALSE(KeyFromPasswordFile(std::string("abc\0def", 7), key, message));
}

class TextCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    // Other builds of these tests may run at the same time: a folder of its own.
    dir = fs::temp_directory_path() / (std::string("resicrypt_cli_") + info->name() + "_" +
                                       std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    BuildTextAlphabet(alphabet);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  static std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
  }
  // Runs the command in process; returns the exit code, fills output and error.
  int Run(CipherDirection direction, const std::string& passwordFile, const std::string& input,
          std::string& output, std::string& error, const TextStreaming& streaming = {}) {
    const std::string inPath = WriteFile("in", input);
    std::FILE* in = std::fopen(inPath.c_str(), "rb");
    std::FILE* outFile = std::fopen((dir / "out").string().c_str(), "wb");
    std::FILE* errFile = std::fopen((dir / "err").string().c_str(), "wb");
    const int code = RunTextCommand(direction, passwordFile, in, outFile, errFile, streaming);
    std::fclose(in);
    std::fclose(outFile);
    std::fclose(errFile);
    output = ReadFile(dir / "out");
    error = ReadFile(dir / "err");
    return code;
  }
  // The exit status of a shell command run in dir (-1 when no shell ran).
  int Shell(const std::string& command) const {
    const int status = std::system(("cd \"" + dir.string() + "\" && " + command).c_str());
    return status == -1 ? -1 : (status >> 8) & 0xFF;
  }
  std::string Encrypt(const std::string& key, const std::string& line) {
    return EncryptText(*workspace, alphabet, key, line);
  }

  fs::path dir;
  std::string out;  // what Run wrote to standard output and error
  std::string err;
  std::unique_ptr<CipherWorkspace> workspace = std::make_unique<CipherWorkspace>();
  TextAlphabet alphabet{};
};

TEST_F(TextCommand, EachLineThroughTheCipherEndingsKept) {
  const std::string passwordFile = WriteFile("pw", "0123456789abcdefghij\r\nnot the key\n");
  const std::string key = "0123456789abcdefg";
  const std::string input = "first line\r\nsecond\n\n\xE9t\xE9\tx\nlast";
  ASSERT_EQ(Run(CipherDirection::kEncrypt, passwordFile, input, out, err), kExitOk);
  EXPECT_EQ(err, "");
  EXPECT_EQ(out, Encrypt(key, "first line") + "\r\n" + Encrypt(key, "second") + "\n\n" +
                     Encrypt(key, "\xE9t\xE9\tx") + "\n" + Encrypt(key, "last"));

  std::string back;
  ASSERT_EQ(Run(CipherDirection::kDecrypt, passwordFile, out, back, err), kExitOk);
  EXPECT_EQ(back, input);
}

// Refused: a line with a NUL byte (decryption ends a text there) or with a byte
// 255 in its last block (the last length mod L bytes, or the last L), which
// decryption drops as padding. An empty line stands in for it.
TEST_F(TextCommand, EncryptRefusesLinesThatWouldNotComeBack) {
  const std::string passwordFile = WriteFile("pw", "abcd\n");  // L = 4
  const std::string input = std::string("fine\nab\0cd\r\n", 12) +
                            "\377abc\n"     // 4 bytes: the last block is all of it
                            "a\377bcdef\n"  // 7 bytes: the 255 is before the last 3
                            "last\377";     // 5 bytes: the last block is the 255
  ASSERT_EQ(Run(CipherDirection::kEncrypt, passwordFile, input, out, err), kExitFailure);
  EXPECT_EQ(out, Encrypt("abcd", "fine") + "\n\r\n\n" + Encrypt("abcd", "a\377bcdef") + "\n");
  const std::string prefix = "resicrypt-cli: line ";
  const std::string suffix = "; it is written as an empty line\n";
  EXPECT_EQ(err, prefix +
                     "2 cannot be encrypted and given back: it holds a NUL byte (byte 3), "
                     "where decryption would end it" +
                     suffix + prefix +
                     "3 cannot be encrypted and given back: its last block (the last 4 "
                     "bytes) holds a byte 255, which decryption would drop as padding" +
                     suffix + prefix +
                     "5 cannot be encrypted and given back: its last block (the "
                     "last byte) holds a byte 255, which decryption would drop as "
                     "padding" +
                     suffix);
  std::string back;
  ASSERT_EQ(Run(CipherDirection::kDecrypt, passwordFile, out, back, err), kExitOk);
  EXPECT_EQ(back, "fine\n\r\n\na\377bcdef\n");
}

// Lines that are no cipher text under the password come back as they were, and
// the exit status and a count say so; an empty line is an empty line's cipher text.
TEST_F(TextCommand, DecryptCountsLinesThatAreNotCipherText) {
  const std::string passwordFile = WriteFile("pw", "abc\n");
  const std::string one = Encrypt("abc", "one");
  const std::string input = one + "\nplain words\r\n\n" + Encrypt("abc", "two") + "\n" +
                            one.substr(0, one.size() - 1) + "\n";  // no whole block
  ASSERT_EQ(Run(CipherDirection::kDecrypt, passwordFile, input, out, err), kExitNotCipherText);
  EXPECT_EQ(out, "one\nplain words\r\n\ntwo\n" + one.substr(0, one.size() - 1) + "\n");
  EXPECT_EQ(err,
            "resicrypt-cli: 2 lines were not cipher text under this password and were "
            "written back unchanged (the first is line 2)\n");

  ASSERT_EQ(Run(CipherDirection::kDecrypt, WriteFile("other", "abd\n"), one, out, err),
            kExitNotCipherText);
  EXPECT_EQ(out, one);
  EXPECT_EQ(err,
            "resicrypt-cli: 1 line was not cipher text under this password and was "
            "written back unchanged (it is line 1)\n");
}

// Lines cut into pieces of a few bytes and held in a temporary file beyond a few
// dozen: the output is still the whole-line cipher's, line by line.
TEST_F(TextCommand, StreamedLinesMatchTheWholeLineCipher) {
  std::mt19937 rng(8);
  for (int round = 0; round < 60; ++round) {
    std::string key(3 + rng() % 15, ' ');
    for (char& c : key) c = static_cast<char>(33 + rng() % 90);
    const std::string passwordFile = WriteFile("pw", key + "\n");
    const std::size_t blockChars = Encrypt(key, "x").size();
    std::string plain, cipher, expectedCipher, expectedPlain;
    bool refused = false;
    std::size_t notCipherText = 0;
    for (std::size_t lines = 1 + rng() % 6, k = 0; k < lines; ++k) {
      std::string line(rng() % (4 * blockChars), '\0');
      for (char& c : line) {
        const auto draw = rng() % 200;
        c = static_cast<char>(draw == 0 ? 0 : draw == 1 ? 255 : draw == 2 ? '\r' : 32 + draw % 90);
      }
      const std::string ending = k + 1 == lines && rng() % 2 ? "" : rng() % 2 ? "\r\n" : "\n";
      if (!ending.empty() && !line.empty() && line.back() == '\r') line.back() = 'r';
      const std::string encrypted = Encrypt(key, line);
      const bool comesBack = DecryptText(*workspace, alphabet, key, encrypted) == line;
      refused = refused || !comesBack;
      plain += line + ending;
      expectedCipher += (comesBack ? encrypted : "") + ending;
      // Cipher text and plain lines for decryption.
      const std::string decryptLine = rng() % 3 ? encrypted : line;
      cipher += decryptLine + ending;
      const std::string decrypted = DecryptText(*workspace, alphabet, key, decryptLine);
      expectedPlain += decrypted + ending;
      if (!decryptLine.empty() && decrypted == decryptLine) ++notCipherText;
    }
    const TextStreaming streaming{1 + rng() % 13, rng() % 40};
    SCOPED_TRACE(testing::Message() << "round " << round << " pieces " << streaming.pieceBytes
                                    << " held " << streaming.heldInMemory);
    EXPECT_EQ(Run(CipherDirection::kEncrypt, passwordFile, plain, out, err, streaming),
              refused ? kExitFailure : kExitOk);
    EXPECT_EQ(out, expectedCipher);
    EXPECT_EQ(Run(CipherDirection::kDecrypt, passwordFile, cipher, out, err, streaming),
              notCipherText > 0 ? kExitNotCipherText : kExitOk);
    EXPECT_EQ(out, expectedPlain);
  }
}

// Far more than one read chunk: lines cross chunk boundaries.
TEST_F(TextCommand, LongInputRoundTrips) {
  const std::string passwordFile = WriteFile("pw", "abc\n");
  std::mt19937 rng(1);
  std::string input;
  while (input.size() < 300000) {
    const std::size_t length = rng() % 3000;
    for (std::size_t k = 0; k < length; ++k) input.push_back(static_cast<char>(32 + rng() % 95));
    input += rng() % 2 ? "\n" : "\r\n";
  }
  std::string cipher;
  std::string back;
  ASSERT_EQ(Run(CipherDirection::kEncrypt, passwordFile, input, cipher, err), kExitOk);
  ASSERT_EQ(Run(CipherDirection::kDecrypt, passwordFile, cipher, back, err), kExitOk);
  EXPECT_EQ(back, input);
}

TEST_F(TextCommand, UnusablePasswordFiles) {
  EXPECT_EQ(Run(CipherDirection::kEncrypt, WriteFile("pw", "ab\nabcdef\n"), "text\n", out, err),
            kExitUsage);
  EXPECT_NE(err.find("at least 3"), std::string::npos);
  EXPECT_EQ(out, "");
  EXPECT_EQ(Run(CipherDirection::kEncrypt, (dir / "missing").string(), "text\n", out, err),
            kExitFailure);
  EXPECT_NE(err.find("cannot read password file"), std::string::npos);
}

#ifdef RESICRYPT_CLI_EXE
// The built tool through the shell's redirections (native builds only).
TEST_F(TextCommand, ToolRunsEndToEnd) {
  const std::string exe = RESICRYPT_CLI_EXE;
  const std::string passwordFile = WriteFile("pw", "tool key\n");
  const std::string input = "alpha\r\nbeta\n\xF0\x9F\x94\x91 key\n";
  WriteFile("plain", input);
  const auto run = [&](const std::string& args, const std::string& from, const std::string& to) {
    return Shell("\"" + exe + "\" " + args + " < " + from + " > " + to + " 2> stderr");
  };
  ASSERT_EQ(run("encrypt-text --password-file \"" + passwordFile + "\"", "plain", "cipher"), 0);
  const std::string cipher = ReadFile(dir / "cipher");
  EXPECT_EQ(cipher, Encrypt("tool key", "alpha") + "\r\n" + Encrypt("tool key", "beta") + "\n" +
                        Encrypt("tool key", "\xF0\x9F\x94\x91 key") + "\n");
  ASSERT_EQ(run("decrypt-text --password-file=\"" + passwordFile + "\"", "cipher", "back"), 0);
  EXPECT_EQ(ReadFile(dir / "back"), input);

  EXPECT_EQ(run("encrypt-text --password-file -", "plain", "out"), 2);
  EXPECT_EQ(run("encrypt-text --frob", "plain", "out"), 2);
  EXPECT_EQ(ReadFile(dir / "stderr"),
            "resicrypt-cli: unknown option '--frob' for encrypt-text\n"
            "Try 'resicrypt-cli encrypt-text --help'\n");
  EXPECT_EQ(run("--help", "plain", "out"), 0);
  EXPECT_NE(ReadFile(dir / "out").find("decrypt-text"), std::string::npos);
  EXPECT_EQ(
      run("encrypt-text --password-file \"" + WriteFile("short", "xy\n") + "\"", "plain", "out"),
      2);
}

// Containers through pipes and tar, the refusals of standard streams, and usage
// errors of one line; every run, refusals included, leaves its temporary folder
// (TMPDIR) as empty as it found it.
using CliStreams = TextCommand;
TEST_F(CliStreams, PipelinesRefusalsAndUsageErrors) {
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
    std::string err;
  };
  const Case cases[] = {
      {"tar c d | " + cli +
           " pack --password-file pw -o - --stdin-name d.tar - > d.yal && mkdir o && " + cli +
           " unpack --password-file pw --to-stdout d.yal | tar x -C o && diff -r d o/d",
       0, ""},
      {cli + " pack --password-file pw -o two.yal d/a.txt two.txt && " + cli +
           " unpack --password-file pw --to-stdout two.yal two.txt > got && test \"$(cat got)\" = "
           "two",
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
      {"echo wrong key > bad && " + cli + " unpack --password-file bad --to-stdout two.yal two.txt",
       2, "resicrypt-cli: wrong password for 'two.yal'\n"},
      {"TMPDIR=\"$PWD/nowhere\" " + cli + " pack --password-file pw -o - two.txt > got", 1,
       "resicrypt-cli: cannot make a temporary folder for standard input or output\n"},
      // The password from the pipe that carries the data: the data is left whole.
      {"{ cat pw d/sub/b.bin; } | " + cli +
           " pack --password-file /dev/stdin --stdin-name b.bin -o p.yal - && " + cli +
           " unpack --password-file pw --to-stdout p.yal | cmp -s - d/sub/b.bin",
       0, ""},
      {"test \"$({ cat pw; printf 'a\\nb\\nc\\n'; } | " + cli +
           " encrypt-text --password-file /dev/stdin | wc -l)\" -eq 3",
       0, ""},
      // A reader that stops early (SIGPIPE) leaves no temporary folder behind.
      {"head -c 3000000 /dev/zero > zeros && { " + cli +
           " pack --password-file pw -o - zeros | head -c 1 > /dev/null; } && test -z \"$(ls -A "
           "tmp)\"",
       0, ""},
  };
  fs::create_directories(dir / "tmp");
  for (const Case& c : cases) {
    EXPECT_EQ(Shell("export TMPDIR=\"$PWD/tmp\"; { " + c.command + "; } 2> err"), c.status)
        << c.command;
    EXPECT_EQ(ReadFile(dir / "err"), c.err) << c.command;
  }
  EXPECT_FALSE(fs::exists(dir / "x.yal"));
  EXPECT_TRUE(fs::is_empty(dir / "tmp"));
}

// The progress line through the built tool: on a terminal (script's
// pseudo-terminal) a pack that has waited over a second for its standard input
// draws it; into a pipe it draws nothing unless --progress says so.
TEST_F(CliStreams, ProgressIsDrawnOnATerminalAndNotIntoAPipe) {
  std::ofstream(dir / "pw") << "progress key\n";
  const std::string cli = std::string("\"") + RESICRYPT_CLI_EXE + "\"";
  const std::string slowPack = "(sleep 1.5; echo data) | " + cli +
                               " pack --password-file pw --stdin-name d.txt -o d.yal - ";
  const std::string drawn = "100%   5 B of 5 B   ";
  struct Case {
    std::string command;  // its standard error (and output) go to the file got
    bool drawn;
  };
  const Case cases[] = {
      {"script -qec \"sh -c '" + slowPack + "'\" /dev/null > got", true},
      {"script -qec \"sh -c '" + slowPack + "--no-progress'\" /dev/null > got", false},
      {slowPack + "2>&1 | cat > got", false},
      {cli + " pack --password-file pw -o e.yal pw --progress 2>&1 | cat > got", true},
      {cli + " unpack --password-file pw -C out --progress d.yal 2>&1 | cat > got", true},
      {cli + " unpack --password-file pw -C out d.yal 2>&1 | cat > got", false},
      {cli + " test --password-file pw --progress d.yal 2>&1 | cat > got", true},
      {cli + " test --password-file pw d.yal 2>&1 >/dev/null | cat > got", false},
  };
  fs::create_directories(dir / "out");
  for (const Case& c : cases) {
    ASSERT_EQ(Shell(c.command), 0) << c.command;
    const std::string got = ReadFile(dir / "got");
    if (c.drawn) {
      EXPECT_NE(got.find("\r" + (c.command.find("-o e.yal") != std::string::npos
                                     ? std::string("100%   13 B of 13 B   ")
                                     : drawn)),
                std::string::npos)
          << c.command << ": " << got;
    } else {
      EXPECT_EQ(got, "") << c.command;
    }
  }
  EXPECT_EQ(ReadFile(dir / "out" / "d.txt"), "data\n");
}
#endif

#ifdef RESICRYPT_CLI_MEMORY_LIMIT_TEST
// A line of 1 GB, made on the fly, through encrypt-text and decrypt-text, each in
// under 100 MB of address space: the line is streamed, never held in memory whole.
TEST_F(TextCommand, GigabyteLineRoundTripsInBoundedMemory) {
  const std::string cli = std::string("\"") + RESICRYPT_CLI_EXE + "\" ";
  const std::string password =
      " --password-file \"" + WriteFile("pw", "seventeen bytes!!\n") + "\"";
  const std::string line = "head -c 1000000000 /dev/zero | tr '\\0' a";
  ASSERT_EQ(
      Shell("ulimit -v 100000 && " + line + " | { " + cli + "encrypt-text" + password +
            "; echo $? > encrypted; } | { " + cli + "decrypt-text" + password +
            " 2> stderr; echo $? > decrypted; } | cksum > back && " + line + " | cksum > line"),
      0);
  EXPECT_EQ(ReadFile(dir / "encrypted"), "0\n");
  EXPECT_EQ(ReadFile(dir / "decrypted"), "0\n");
  EXPECT_EQ(ReadFile(dir / "stderr"), "");
  EXPECT_EQ(ReadFile(dir / "back"), ReadFile(dir / "line"));
}

// A password file is read no further than a password can use and a line ending
// (CR LF: see FilePasswordIsTheWholeFirstLineOf3To23Bytes): an endless one is
// refused at once, in little memory.
TEST_F(TextCommand, PasswordFilesAreReadNoFurtherThanAPasswordCanUse) {
  const std::pair<std::string, const char*> cases[] = {
      {"encrypt-text --password-file /dev/zero < /dev/null", "NUL byte"},
      {"unpack --password-file /dev/zero box.yal", "the first line of '/dev/zero' is longer"},
      {"pack --password-file " + WriteFile("a", "sesame 23 bytes long!!!\n") + " -o a.yal a", ""}};
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(Shell("ulimit -v 100000 && \"" RESICRYPT_CLI_EXE "\" " + args + " 2> stderr"),
              *message != '\0' ? 2 : 0)
        << args;
    EXPECT_NE(ReadFile(dir / "stderr").find(message), std::string::npos) << args;
  }
}
#endif

}  // namespace
}  // namespace resicrypt::cli
