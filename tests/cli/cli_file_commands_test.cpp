// resicrypt-cli pack / unpack / list: arguments, passwords, exit codes, and
// containers that pass between the command line and the window both ways.
#include <gtest/gtest.h>

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "cli_run.h"

namespace containertest {
namespace {

using resicrypt::cli::ParseArgs;

TEST(CliFileArgs, PackUnpackAndListGrammar) {
  auto parsed = ParseArgs({"pack", "--password-file", "pw", "-o", "out.yal", "a", "b"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.command, resicrypt::cli::FindCommand("pack"));
  EXPECT_EQ(parsed.options.at("o"), "out.yal");
  EXPECT_EQ(parsed.positional, (std::vector<std::string>{"a", "b"}));

  parsed = ParseArgs({"unpack", "-C", "dir", "box.yal"});  // password asked on the terminal
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.at("C"), "dir");
  EXPECT_EQ(parsed.options.count("password-file"), 0u);

  parsed = ParseArgs({"list", "box.yal"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.command, resicrypt::cli::FindCommand("list"));

  parsed = ParseArgs({"pack", "-o", "x.yal", "--", "-o"});  // a source named "-o"
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.positional, std::vector<std::string>{"-o"});
  for (const char* codePage : {"874", "1250", "1258", "932", "936", "949", "950"}) {
    EXPECT_EQ(ParseArgs({"pack", "--codepage", codePage, "-o", "x.yal", "a"}).error, "");
  }
  EXPECT_EQ(ParseArgs({"unpack", "--codepage", "65001", "--to-stdout", "a.yal", "n"}).error, "");

  const std::vector<std::vector<std::string>> bad = {
      {"pack", "-o", "x.yal"},              // no sources
      {"pack", "a.txt"},                    // no -o
      {"pack", "-o"},                       // -o without its value
      {"pack", "-o", "x", "-o", "y", "a"},  // twice
      {"pack", "-C", "d", "-o", "x", "a"},  // -C belongs to unpack
      {"unpack"},
      {"unpack", "a.yal", "b.yal"},
      {"list"},
      {"list", "-o", "x", "a.yal"},
      {"pack", "-o", "x", "--stdin-name", "n", "a"},       // no source '-' to name
      {"pack", "-o", "x", "--stdin-name", "n", "-", "-"},  // standard input twice
      {"pack", "-o", "x", "--codepage", "65001", "a"},     // pack stores a Windows code page
      {"pack", "-o", "x", "--codepage", "cp874", "a"},
      {"list", "--codepage", "1259", "a.yal"},
      {"unpack", "--to-stdout", "-C", "d", "a.yal"},  // no file is written
      {"pack", "--progress", "--no-progress", "-o", "x", "a"},  // both
      {"list", "--progress", "a.yal"},                           // progress of pack and unpack
  };
  for (const auto& args : bad) EXPECT_NE(ParseArgs(args).error, "") << args.size();
  EXPECT_NE(
      resicrypt::cli::CommandHelp(*resicrypt::cli::FindCommand("pack"))
          .find("-o OUT.yal"),
      std::string::npos);
}

TEST(CliFileArgs, FilePasswordIsTheWholeFirstLineOf3To23Bytes) {
  std::string message;
  const std::string accepted[] = {"abc", std::string(23, 'k'), "\xE7\xF6\xFC", "with blank "};
  for (const std::string& line : accepted) {
    const auto password = resicrypt::cli::FilePasswordFromLine(line, message);
    ASSERT_TRUE(password) << line;
    EXPECT_EQ(password->Bytes(), line);  // no cut at 17 bytes
  }
  const std::string refused[] = {"", "ab", std::string(24, 'k'), std::string("ab\0cd", 5)};
  for (const std::string& line : refused) {
    EXPECT_FALSE(resicrypt::cli::FilePasswordFromLine(line, message)) << line.size();
    EXPECT_NE(message, "");
  }
  // From a file: the line ending (LF or CR LF) is not part of it, later lines are ignored.
  TempFolder folder;
  WriteBytes(folder.Path("a.txt"), "alpha");
  WriteBytes(folder.Path("pw"), "sesame 23 bytes long!!!\r\nsecond line\n");
  EXPECT_EQ(RunCli(folder, {"pack", "--password-file", folder.Path("pw"), "-o",
                            folder.Path("a.yal"), folder.Path("a.txt")})
                .status,
            0);
  EXPECT_EQ(Le32At(ReadBytes(folder.Path("a.yal")), 0),
            ReferenceCipher("sesame 23 bytes long!!!").N());
}

TEST(CliFileCommands, ContainersPassBetweenTheCommandLineAndTheWindow) {
  TempFolder folder;
  fs::create_directory(folder.Root() / "cli");
  fs::create_directory(folder.Root() / "win");
  const std::string password = "\xE7ok 23-byte key \xFC\xFF\x80!!!!";
  ASSERT_EQ(password.size(), 23u);
  WriteBytes(folder.Path("pw"), password + "\n");
  const Files files = {
      {"empty", ""}, {"odd.bin", RandomBytes(23 * 40 + 1, 1)}, {"big.bin", RandomBytes(70000, 2)}};
  const std::vector<std::string> sources = WriteFiles(folder.Folder(), files);
  const std::string cliContainer = (folder.Root() / "cli" / "").string() + "from-cli.yal";
  const std::string winContainer = (folder.Root() / "win" / "").string() + "from-win.yal";

  // Command line -> window.
  std::vector<std::string> args = {"pack", "--password-file", folder.Path("pw"), "-o",
                                   cliContainer};
  args.insert(args.end(), sources.begin(), sources.end());
  const CliRun packed = RunCli(folder, args);
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(packed.err, "");
  auto form = NewForm(password);
  Decrypt(*form, cliContainer);
  EXPECT_EQ(form->report.size(), 1u + 3 * 7);
  for (const auto& [name, content] : files) {
    EXPECT_EQ(ReadBytes((folder.Root() / "cli" / "").string() + name), content);
  }

  // Window -> command line, into another folder with -C.
  auto packer = NewForm(password);
  Encrypt(*packer, sources, winContainer);
  fs::create_directory(folder.Root() / "out");
  const CliRun unpacked = RunCli(folder, {"unpack", "--password-file", folder.Path("pw"), "-C",
                                          folder.Path("out"), winContainer});
  ASSERT_EQ(unpacked.status, 0) << unpacked.err;
  for (const auto& [name, content] : files) {
    EXPECT_EQ(ReadBytes((folder.Root() / "out" / "").string() + name), content);
  }
  // By default into the container's own folder.
  ASSERT_EQ(RunCli(folder, {"unpack", "--password-file", folder.Path("pw"), winContainer}).status,
            0);
  EXPECT_EQ(ReadBytes((folder.Root() / "win" / "").string() + "odd.bin"), files[1].second);

  // Names and sizes without the password.
  const CliRun listed = RunCli(folder, {"list", winContainer});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out, "          0  empty\n        921  odd.bin\n      70000  big.bin\n");
}

TEST(CliFileCommands, FailuresGiveAMessageAndANonZeroStatus) {
  TempFolder folder;
  WriteBytes(folder.Path("pw"), "right key\n");
  WriteBytes(folder.Path("bad"), "wrong key\n");
  WriteBytes(folder.Path("short"), "ab\n");
  WriteBytes(folder.Path("a.txt"), "alpha");
  WriteBytes(folder.Path("b.txt"), "beta");
  fs::create_directory(folder.Root() / "sub");
  WriteBytes((folder.Root() / "sub" / "").string() + "a.txt", "other alpha");
  const std::string box = folder.Path("box.yal");
  const std::string pw = folder.Path("pw");
  ASSERT_EQ(RunCli(folder, {"pack", "--password-file", pw, "-o", box, folder.Path("a.txt"),
                            folder.Path("b.txt")})
                .status,
            0);

  std::string miscounted = ReadBytes(box);
  const std::size_t countAt = 3 + static_cast<std::size_t>(Le32At(miscounted, 0));
  miscounted[countAt] = 1;  // 2 files counted as 1, then as none
  WriteBytes(folder.Path("one.yal"), miscounted);
  miscounted[countAt] = 0;
  WriteBytes(folder.Path("zero.yal"), miscounted);
  WriteBytes(folder.Path("stray.yal"), ReadBytes(box) + "\n");  // one byte after the last record
  std::string longName = ReadBytes(box);  // record 2 named with 300 bytes
  longName.replace(WalkRecords(longName, 9)[1].offset, 9, Le32(300) + std::string(300, 'n'));
  WriteBytes(folder.Path("long.yal"), longName);

  // Files that cannot be containers: a container's first field is N, a residue
  // count from 6 (3-byte passwords, moduli 241 239 233 229 first) to 35 (23-byte
  // passwords, moduli 5 7 11 ... 149 first), and its header takes 4 + N - 1 + 4
  // bytes. A header that reads and records that do not are damage.
  const auto header = [](std::int32_t n, std::size_t length) {
    return (Le32(n) + std::string(64, '\0')).substr(0, length);
  };
  const std::string noCount = "not a container (its first field is no residue count)";
  const std::string tooShort = "not a container (too short to hold a header)";
  WriteBytes(folder.Path("n5.yal"), header(5, 12));
  WriteBytes(folder.Path("n6.yal"), header(6, 13));
  WriteBytes(folder.Path("n35.yal"), header(35, 42));
  WriteBytes(folder.Path("n35short.yal"), header(35, 41));
  WriteBytes(folder.Path("n36.yal"), header(36, 43));
  WriteBytes(folder.Path("n6cut.yal"), header(6, 12));
  WriteBytes(folder.Path("ab.yal"), "ab");
  WriteBytes(folder.Path("cut.yal"), ReadBytes(box).substr(0, 20));
  // The first residue of b.txt's one block made 255, above every modulus: the
  // record is damaged, its bytes go to b.txt.damaged, a.txt unpacks as usual.
  std::string changed = ReadBytes(box);
  changed[WalkRecords(changed, 9)[1].blocksOffset] = '\xFF';
  fs::create_directory(folder.Root() / "damaged");
  const std::string damagedBox = (folder.Root() / "damaged" / "").string() + "box.yal";
  WriteBytes(damagedBox, changed);

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;  // a part of standard error
  };
  const Case cases[] = {
      {{"list", folder.Path("pw")}, 1, "cannot list '" + folder.Path("pw") + "': " + noCount},
      {{"unpack", "--password-file", pw, folder.Path("pw")},
       1,
       "cannot unpack '" + folder.Path("pw") + "': " + noCount},
      {{"unpack", "--password-file", pw, folder.Path("ab.yal")}, 1, tooShort},
      {{"list", folder.Path("ab.yal")}, 1, tooShort},
      {{"list", folder.Path("n5.yal")}, 1, noCount},
      {{"list", folder.Path("n6.yal")}, 0, ""},  // no files
      {{"list", folder.Path("n6cut.yal")}, 1, tooShort},
      {{"list", folder.Path("n35.yal")}, 0, ""},
      {{"list", folder.Path("n35short.yal")}, 1, tooShort},
      {{"list", folder.Path("n36.yal")}, 1, noCount},
      {{"unpack", "--password-file", pw, folder.Path("n36.yal")}, 1, noCount},
      {{"test", "--password-file", pw, folder.Path("pw")}, 1,
       "cannot test '" + folder.Path("pw") + "': " + noCount},
      {{"list", folder.Path("cut.yal")}, 1, "container damaged (its records do not fill it)"},
      {{"unpack", "--password-file", pw, folder.Path("cut.yal")}, 1, "Record 1 not unpacked"},
      {{"unpack", "--password-file", folder.Path("bad"), box}, 2, "wrong password for"},
      {{"unpack", "--password-file", folder.Path("short"), box}, 2, "3 to 23 bytes"},
      {{"unpack", "--password-file", folder.Path("none"), box}, 1, "cannot read password file"},
      {{"unpack", "--password-file", pw, folder.Path("none.yal")}, 1, "cannot open container"},
      {{"pack", "--password-file", pw, "-o", folder.Path("two.yal"), folder.Path("a.txt"),
        (folder.Root() / "sub" / "").string() + "a.txt"},
       2,
       "another source has the same name"},
      {{"pack", "--password-file", pw, "-o", folder.Path("dir.yal"), folder.Path("sub")},
       2,
       "a folder, not a file"},
      {{"pack", "--password-file", pw, "-o", folder.Path("part.yal"), folder.Path("a.txt"),
        folder.Path("gone.txt")},
       2,
       "cannot pack '" + folder.Path("gone.txt") + "': "},
      {{"pack", "--password-file", pw, "-o", folder.Path("no") + "/x.yal", folder.Path("a.txt")},
       1,
       "cannot create container"},
      {{"unpack", "--password-file", pw, folder.Path("one.yal")},
       1,
       "bytes after record 1 not unpacked"},
      {{"unpack", "--password-file", pw, folder.Path("zero.yal")},
       1,
       "bytes after its header not unpacked"},
      {{"unpack", "--password-file", pw, folder.Path("stray.yal")},
       1,
       "bytes after record 2 not unpacked"},
      {{"list", folder.Path("stray.yal")}, 1, "container damaged"},
      {{"unpack", "--password-file", pw, "--to-stdout", folder.Path("long.yal")},
       2,
       "holds 2 files: name the one"},
      {{"test", "--password-file", pw, damagedBox},
       1,
       "Record 2 damaged (1 block failed its check, the first at byte 0): b.txt\n"
       "resicrypt-cli: 1 of 2 files damaged"},
      {{"test", "--password-file", folder.Path("bad"), box}, 2, "wrong password for"},
      {{"test", "--password-file", pw, folder.Path("none.yal")}, 1, "cannot open container"},
      {{"unpack", "--password-file", pw, "--to-stdout", damagedBox, "b.txt"},
       1,
       "Record 2 damaged (1 block failed its check, the first at byte 0): b.txt\n"
       "resicrypt-cli: nothing written to standard output"},
      {{"unpack", "--password-file", pw, damagedBox},
       1,
       "Record 2 damaged (1 block failed its check, the first at byte 0), written as "
       "'b.txt.damaged': b.txt\nresicrypt-cli: 1 file damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const CliRun run = RunCli(folder, c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(folder.Root() / "two.yal"));
  EXPECT_FALSE(fs::exists(folder.Root() / "part.yal"));
  EXPECT_FALSE(fs::exists("file.damaged"));  // --to-stdout left nothing where it ran
  EXPECT_EQ(NamesIn(folder.Root() / "damaged"),
            (std::vector<std::string>{"a.txt", "b.txt.damaged", "box.yal"}));
  EXPECT_EQ(ReadBytes(folder.Path("damaged/a.txt")), "alpha");
  // Where b.txt stands, the damaged record leaves it as it was and writes nothing.
  WriteBytes(folder.Path("damaged/b.txt"), "kept");
  fs::remove(folder.Root() / "damaged" / "b.txt.damaged");
  const CliRun kept = RunCli(folder, {"unpack", "--password-file", pw, damagedBox});
  EXPECT_EQ(kept.status, 1);
  EXPECT_NE(kept.err.find("the first at byte 0), nothing written: b.txt"), std::string::npos)
      << kept.err;
  EXPECT_EQ(ReadBytes(folder.Path("damaged/b.txt")), "kept");
  EXPECT_FALSE(fs::exists(folder.Root() / "damaged" / "b.txt.damaged"));

  // A hostile name is refused and the rest unpacked, with a non-zero status.
  std::string bytes = ReadBytes(box);
  const auto records = WalkRecords(bytes, 9);
  ASSERT_EQ(records.size(), 2u);
  bytes.replace(records[0].offset, 9, Le32(5) + "../ab");
  fs::create_directory(folder.Root() / "in");
  const std::string inBox = (folder.Root() / "in" / "").string() + "box.yal";
  WriteBytes(inBox, bytes);
  const CliRun hostile = RunCli(folder, {"unpack", "--password-file", pw, inBox});
  EXPECT_EQ(hostile.status, 1);
  EXPECT_NE(hostile.err.find("Record 1 not unpacked (path separator in name): ../ab"),
            std::string::npos)
      << hostile.err;
  EXPECT_EQ(ReadBytes((folder.Root() / "in" / "").string() + "b.txt"), "beta");
  EXPECT_FALSE(fs::exists(folder.Root() / "ab"));

  // A damaged container stops with the record named.
  WriteBytes(inBox, ReadBytes(box).substr(0, records[1].end - 1));
  const CliRun damaged = RunCli(folder, {"unpack", "--password-file", pw, inBox});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(damaged.err.find("Record 2 not unpacked"), std::string::npos) << damaged.err;
}

#ifndef _WIN32
// Names judged as the code page's bytes Windows will see: the device COM¹ (byte
// 0xB9 in 1252), letters that Windows' upper case makes one (ґ Ґ in 1251, ơ Ơ and
// ư Ư in 1258), and é composed and as e with a combining acute (1258), which
// unpack as one name. Each refused before anything is written.
TEST(CliFileCommands, NamesAreJudgedAsTheBytesWindowsWillSee) {
  struct Case {
    std::string codePage;
    std::vector<std::string> names;
    std::string why;
  };
  const Case cases[] = {
      {"1252", {"COM\xC2\xB9.txt"}, "device name"},
      {"1251", {"\xD2\x91.txt", "\xD2\x90.txt"}, "another source has the same name"},
      {"1258", {"\xC6\xA1.txt", "\xC6\xA0.txt"}, "another source has the same name"},
      {"1258", {"\xC6\xB0.txt", "\xC6\xAF.txt"}, "another source has the same name"},
      {"1258", {"\xC3\xA9.txt", "e\xCC\x81.txt"}, "another source has the same name"},
  };
  TempFolder folder;
  WriteBytes(folder.Path("pw"), "secret\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names.back());
    std::vector<std::string> args = {
        "pack", "--password-file",   folder.Path("pw"), "--codepage", c.codePage,
        "-o",   folder.Path("n.yal")};
    for (std::size_t k = 0; k < c.names.size(); ++k) {
      fs::create_directories(folder.Root() / std::to_string(k));
      args.push_back(folder.Folder() + std::to_string(k) + "/" + c.names[k]);
      WriteBytes(args.back(), "content");
    }
    const CliRun run = RunCli(folder, args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot pack '" + args.back() + "': " + c.why), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(folder.Path("n.yal")));
  }
}
#endif

// test: the password, the header and every block checked, nothing written: the
// folder (and all under the test's root) is as it was, whole or damaged.
TEST(CliFileCommands, TestChecksEveryBlockAndWritesNothing) {
  TempFolder folder;
  WriteBytes(folder.Path("pw"), "right key\n");
  fs::create_directory(folder.Root() / "in");
  const std::vector<std::string> sources =
      WriteFiles(folder.Folder(), {{"a.bin", RandomBytes(5000, 3)}, {"e", ""}});
  const std::string box = (folder.Root() / "in" / "").string() + "box.yal";
  ASSERT_EQ(RunCli(folder, {"pack", "--password-file", folder.Path("pw"), "-o", box, sources[0],
                            sources[1]})
                .status,
            0);
  std::string changed = ReadBytes(box);
  const auto blockBytes = static_cast<std::size_t>(ReferenceCipher("right key").N() - 1);
  changed[WalkRecords(changed, 9)[0].blocksOffset + 40 * blockBytes] = '\xFF';  // block 41
  const std::string damaged = (folder.Root() / "in" / "").string() + "damaged.yal";
  WriteBytes(damaged, changed);
  const auto everything = [&folder] {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder.Root())) {
      entries.push_back(entry.path().string() + " " +
                        (entry.is_regular_file() ? ReadBytes(entry.path().string()) : ""));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
  };
  const std::vector<std::string> before = everything();
  const CliRun whole = RunCli(folder, {"test", "--password-file", folder.Path("pw"), box});
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(whole.out, box + ": 2 files whole\n");
  const CliRun broken = RunCli(folder, {"test", "--password-file", folder.Path("pw"), damaged});
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.err,
            "resicrypt-cli: Record 1 damaged (1 block failed its check, the first at byte 360): "
            "a.bin\nresicrypt-cli: 1 of 2 files damaged\n");
  EXPECT_EQ(everything(), before);
}

#ifdef _WIN32
std::string MakeFolder(const std::string& path) {  // narrow, in the system's code page
  return CreateDirectoryA(path.c_str(), nullptr), path + "\\";
}
#else
std::string MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0700), path + "/"; }
#endif

// In a folder named with code page 1252's bytes 0x80-0x9F ("€–“”"), which the C
// locale cannot convert: sources that could not all be unpacked again beside each
// other, the container among its sources and a folder are refused before
// anything is written; a record named like its container is refused, the others
// unpacked.
TEST(CliFileCommands, SourcesAndRecordsAreCheckedInACodePageFolder) {
  TempFolder root;
  const std::string at = MakeFolder(root.Folder() + "\x80\x96\x93\x94");
  const std::string d1 = MakeFolder(at + "d1"), d2 = MakeFolder(at + "d2");
  WriteBytes(at + "doc1", "document");
  WriteBytes(at + "pw", "secret\n");
  const std::string same = "another source has the same name on Windows: '" + d1;
#ifndef _WIN32
  symlink((at + "doc1").c_str(), (at + "link").c_str());
#endif
  const std::vector<std::vector<std::string>> cases = {
      // sources; what is said of the last one
      {d1 + "report.txt", d2 + "REPORT.txt", same + "report.txt'"},
      {d1 + "a.txt", d2 + "a.txt. .", same + "a.txt'"},
#ifdef _WIN32
      {d1 + "\xE9.txt", d2 + "\xC9.txt", same + "\xE9.txt'"},  // é É in code page 1252
      {d1 + "\x9A", d2 + "\x8A", same + "\x9A'"},              // š Š
#else
      {d1 + "\xC3\xA9.txt", d2 + "\xC3\x89.txt", same + "\xC3\xA9.txt'"},  // é É in UTF-8
      {d1 + "\xC5\xA1", d2 + "\xC5\xA0", same + "\xC5\xA1'"},              // š Š
      {at + "\xE6\x97\xA5.txt",                                             // 日
       "name not in code page 1252 (code pages 932, 936, 949 and 950 hold it: --codepage N)"},
      {at + "\xF0\x9F\x98\x80.txt", "name not in code page 1252"},  // an emoji: in none
      {at + "\xE9.txt", "name not in code page 1252"},                     // no UTF-8
      {at + "notes\\2024", "backslash in name (a separator on Windows)"},
      {at + "link", "it is the container itself"},                // a link to the container
#endif
      {at + "doc1", "it is the container itself"},
      {d1, "a folder, not a file"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"pack", "--password-file", at + "pw", "-o", at + "doc1"};
    args.insert(args.end(), c.begin(), c.end() - 1);
    for (auto source = c.begin(); source + 1 != c.end(); ++source) {
      if (*source != at + "doc1" && *source != d1 && *source != at + "link") {
        WriteBytes(*source, "source");
      }
    }
    const CliRun run = RunCli(root, args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "resicrypt-cli: cannot pack '" + c[c.size() - 2] + "': " + c.back() + "\n");
    EXPECT_EQ(ReadBytes(at + "doc1"), "document");
  }
  const std::string src = MakeFolder(at + "src"), in = MakeFolder(at + "in");
  for (const char* name : {"a.txt", "box.yal", "c.txt"}) WriteBytes(src + name, name);
  RunCli(root, {"pack", "--password-file", at + "pw", "-o", in + "box.yal", src + "a.txt",
                src + "box.yal", src + "c.txt"});
  const CliRun unpacked = RunCli(root, {"unpack", "--password-file", at + "pw", in + "box.yal"});
  EXPECT_NE(unpacked.err.find("(name of the container itself): box.yal"), std::string::npos);
  EXPECT_EQ(ReadBytes(in + "a.txt") + ReadBytes(in + "c.txt"), "a.txtc.txt");
}

// A typo among the sources: every problem is told, nothing is written, and the
// container that stood at -o stays byte for byte; standard input is not read.
TEST(CliFileCommands, EverySourceIsCheckedBeforeAnythingIsWritten) {
  TempFolder folder;
  const std::string box = folder.Path("box.yal");
  WriteBytes(box, "old container");
  WriteBytes(folder.Path("pw"), "secret\n");
  WriteBytes(folder.Path("a.txt"), "alpha");
  WriteBytes(folder.Path("A.TXT."), "same name on Windows");
  std::vector<std::string> args = {"pack", "--password-file", folder.Path("pw"), "-o", box};
  args.insert(args.end(), {"--stdin-name", "a.txt", folder.Path("a.txt"), "-",
                           folder.Path("missing.txt"), folder.Root().string()});
  std::string expected =
      "resicrypt-cli: cannot pack '-': another source has the same name on "
      "Windows: '" +
      folder.Path("a.txt") + "'\n";
  expected += "resicrypt-cli: cannot pack '" + folder.Path("missing.txt") + "': ";
#ifndef _WIN32
  expected += "No such file or directory\n";
  args.push_back(folder.Path("A.TXT."));
  WriteBytes(folder.Path("huge.bin"), "");
  fs::resize_file(folder.Root() / "huge.bin", std::uintmax_t{1} << 31);  // sparse
  args.push_back(folder.Path("huge.bin"));
#endif
  const CliRun run = RunCli(folder, args, "standard input");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.substr(0, expected.size()), expected);
  EXPECT_NE(run.err.find("cannot pack '" + folder.Root().string() + "': a folder, not a file\n"),
            std::string::npos);
#ifndef _WIN32
  EXPECT_NE(run.err.find("cannot pack '" + folder.Path("A.TXT.") + "': another source"),
            std::string::npos);
  EXPECT_NE(run.err.find("huge.bin': larger than 2147483647 bytes\n"), std::string::npos);
#endif
  EXPECT_EQ(ReadBytes(box), "old container");
}

// Names are stored as bytes of a Windows code page (1252 unless --codepage says
// otherwise), as the window stores them; Linux converts from and to UTF-8, Windows
// keeps its ANSI code page (1252 under Wine in the C locale) unless told.
TEST(CliFileCommands, NamesAreStoredInAWindowsCodePage) {
  struct Case {
    std::string codePage, name, stored;  // stored empty: refused
    std::string holders = {};            // of a refused name, as the message names them
  };
  const Case cases[] = {
#ifdef _WIN32
      {"", "\334n\357c\366d\351.txt", "\334n\357c\366d\351.txt"},  // Ünïcödé, octal
      {"1250", "\xC4\x8A.txt", "\xC4\x8A.txt"},                    // Ä Š
      {"1250", "\xA3.txt", "",  // £: Ł's byte there
       " (code pages 1252, 1253, 1254, 1255, 1256, 1257 and 1258 hold it: --codepage N)"},
#else
      {"", "\303\234n\303\257c\303\266d\303\251.txt", "\334n\357c\366d\351.txt"},  // Ünïcödé
      {"1251", "\xD0\x9F\xD1\x80\xD0\xB8.txt", "\xCF\xF0\xE8.txt"},                // При
      {"1252", "\xC4\x9E.txt", "", " (code page 1254 holds it: --codepage 1254)"},  // Ğ
      // The double-byte code pages, where a trail byte may be a backslash's:
      // 表 in Shift JIS, 許 in Big5, 中文 in GBK, 한글 in Korean.
      {"932", "\xE8\xA1\xA8.txt", "\x95\x5C.txt"},
      {"950", "\xE8\xA8\xB1.txt", "\xB3\x5C.txt"},
      {"936", "\xE4\xB8\xAD\xE6\x96\x87.txt", "\xD6\xD0\xCE\xC4.txt"},
      {"949", "\xED\x95\x9C\xEA\xB8\x80.txt", "\xC7\xD1\xB1\xDB.txt"},
      {"932", "\xED\x95\x9C.txt", "", " (code page 949 holds it: --codepage 949)"},  // 한
      {"1258", "e\xCC\x80.txt", ""},  // e and a combining grave: its bytes read back as \xC3\xA8
#endif
  };
  TempFolder folder;
  WriteBytes(folder.Path("pw"), "secret\n");
  for (const Case& c : cases) {
    const std::string path = folder.Folder() + c.name;
    WriteBytes(path, "content");
    std::vector<std::string> options = {"--password-file", folder.Path("pw")};
    if (!c.codePage.empty()) options.insert(options.end(), {"--codepage", c.codePage});
    std::vector<std::string> pack = {"pack", "-o", folder.Path("n.yal"), path};
    pack.insert(pack.begin() + 1, options.begin(), options.end());
    const CliRun packed = RunCli(folder, pack);
    if (c.stored.empty()) {
      EXPECT_EQ(packed.err, "resicrypt-cli: cannot pack '" + path + "': name not in code page " +
                                c.codePage + c.holders + "\n");
      continue;
    }
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(WalkRecords(ReadBytes(folder.Path("n.yal")), 6).at(0).name, c.stored);
    fs::remove(path);
    std::vector<std::string> list = {"list", folder.Path("n.yal")};
    list.insert(list.begin() + 1, options.begin() + 2, options.end());
    EXPECT_EQ(RunCli(folder, list).out, "          7  " + c.name + "\n");
    std::vector<std::string> unpack = {"unpack", folder.Path("n.yal")};
    unpack.insert(unpack.begin() + 1, options.begin(), options.end());
    EXPECT_EQ(RunCli(folder, unpack).status, 0);
    EXPECT_EQ(ReadBytes(path), "content");
  }
#ifdef _WIN32
  // The Linux command line's container (the first case's bytes) in the window:
  // the file comes back under its name in UTF-16 as well.
  const std::string first = folder.Folder() + cases[0].name;
  WriteBytes(first, "window");
  RunCli(folder, {"pack", "--password-file", folder.Path("pw"), "-o", folder.Path("n.yal"), first});
  fs::remove(first);
  Decrypt(*NewForm("secret"), folder.Path("n.yal"));
  std::error_code error;
  EXPECT_EQ(fs::file_size(folder.Root() / L"\u00DCn\u00EFc\u00F6d\u00E9.txt", error), 6u);
#endif
}

#ifdef _WIN32
// "C:box.yal" lies in C:'s own current folder (kept in the "=C:" variable, as
// cmd.exe keeps it) while the process works on another drive: the container is
// written and unpacked there, not in the process's folder.
TEST(CliFileCommands, ADriveRelativeContainerStaysInItsDrivesFolder) {
  TempFolder there;
  const std::string drive = there.Folder().substr(0, 2), previous = fs::current_path().string();
  std::string root = "Z:\\";  // the root of another drive becomes the current folder
  while (root[0] > 'A' && (root[0] == drive[0] || !SetCurrentDirectoryA(root.c_str()))) --root[0];
  if (root[0] == 'A') GTEST_SKIP() << "no second drive";
  SetEnvironmentVariableA(("=" + drive).c_str(), there.Folder().c_str());
  const std::string source = MakeFolder(there.Path("src")) + "a.txt";
  WriteBytes(source, "packed");
  WriteBytes(there.Path("pw"), "secret\n");
  RunCli(there, {"pack", "--password-file", there.Path("pw"), "-o", drive + "box.yal", source});
  RunCli(there, {"unpack", "--password-file", there.Path("pw"), drive + "box.yal"});
  fs::current_path(previous);
  SetEnvironmentVariableA(("=" + drive).c_str(), nullptr);
  EXPECT_EQ(ReadBytes(there.Path("a.txt")), "packed");
}
#endif

}  // namespace
}  // namespace containertest
