// The container layout byte for byte, its integer fields, block counts and the
// path and name rules.
#include <gtest/gtest.h>

#include <ctime>

#include "container/byte_order.h"
#include "container/container_path.h"
#include "container/file_cipher.h"
#include "container_test_support.h"

namespace containertest {
namespace {

using resicrypt::FileRecord;

TEST(ContainerFields, LittleEndian32BitSignedIntegers) {
  struct Case {
    std::int32_t value;
    const char* bytes;
  };
  const Case cases[] = {
      {0, "\x00\x00\x00\x00"},          {8, "\x08\x00\x00\x00"},
      {12, "\x0C\x00\x00\x00"},         {0x01020304, "\x04\x03\x02\x01"},
      {-1, "\xFF\xFF\xFF\xFF"},         {-2, "\xFE\xFF\xFF\xFF"},
      {2147483647, "\xFF\xFF\xFF\x7F"}, {-2147483647 - 1, "\x00\x00\x00\x80"},
  };
  for (const Case& c : cases) {
    unsigned char stored[4];
    resicrypt::StoreLe32(stored, c.value);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored), 4), std::string(c.bytes, 4))
        << c.value;
    EXPECT_EQ(resicrypt::LoadLe32(reinterpret_cast<const unsigned char*>(c.bytes)), c.value);
  }
}

TEST(ContainerFields, BlockCountsOfARecord) {
  // A 12-byte file under a 5-byte password: bytes 1..5, 6..10, then 11..12 with
  // three padding bytes. A 10-byte file: two full blocks and a padding-only block.
  struct Case {
    std::int32_t size;
    int L;
    std::int32_t full, remainder, blocks;
  };
  const Case cases[] = {
      {12, 5, 2, 2, 3},  {10, 5, 2, 0, 3},   {0, 5, 0, 0, 1},
      {4, 5, 0, 4, 1},   {22, 23, 0, 22, 1}, {23, 23, 1, 0, 2},
      {24, 23, 1, 1, 2}, {3, 3, 1, 0, 2},    {2147483647, 3, 715827882, 1, 715827883}};
  for (const Case& c : cases) {
    const FileRecord record{"notes", c.size};
    EXPECT_EQ(record.FullBlocks(c.L), c.full) << c.size << "/" << c.L;
    EXPECT_EQ(record.Remainder(c.L), c.remainder) << c.size << "/" << c.L;
    EXPECT_EQ(record.BlockCount(c.L), c.blocks) << c.size << "/" << c.L;
  }
}

TEST(ContainerLayout, WorkedExampleOf49Bytes) {
  const std::string password = PasswordWithResidueCount(5, 8);
  ASSERT_EQ(password.size(), 5u);
  TempFolder folder;
  WriteBytes(folder.Path("notes"), "Hello, world");  // 12 bytes
  auto form = NewForm(password);
  const auto before = static_cast<std::uint32_t>(std::time(nullptr));
  Encrypt(*form, {folder.Path("notes")}, folder.Path("box.yal"));
  const auto after = static_cast<std::uint32_t>(std::time(nullptr));

  const std::string bytes = ReadBytes(folder.Path("box.yal"));
  ASSERT_EQ(bytes.size(), 49u);
  ReferenceCipher reference(password);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x08\x00\x00\x00", 4));   // residue count
  EXPECT_EQ(bytes.substr(4, 7), reference.Encode(password));           // check block
  EXPECT_EQ(bytes.substr(11, 4), std::string("\x01\x00\x00\x00", 4));  // file count
  EXPECT_EQ(bytes.substr(15, 4), std::string("\x05\x00\x00\x00", 4));  // name length
  EXPECT_EQ(bytes.substr(19, 5), "notes");                             // name
  EXPECT_EQ(bytes.substr(24, 4), std::string("\x0C\x00\x00\x00", 4));  // file size
  EXPECT_EQ(bytes.substr(28, 7), reference.Encode("Hello"));           // full block 1
  EXPECT_EQ(bytes.substr(35, 7), reference.Encode(", wor"));           // full block 2
  // Final block: "ld" and three padding bytes RandomBelow(213) + 41, drawn in
  // order after the generator was seeded from the clock for this file.
  bool matched = false;
  for (std::uint32_t t = before; t <= after; ++t) {
    resicrypt::SeedRandomAt(t);
    std::string block = "ld";
    for (int k = 0; k < 3; ++k) block += static_cast<char>(resicrypt::RandomBelow(213) + 41);
    matched = matched || reference.Encode(block) == bytes.substr(42, 7);
  }
  EXPECT_TRUE(matched);

  const std::vector<std::string> report = {folder.Path("notes"), "File Byte Amount = 12",
                                           "File Byte Part   = 2", "Open Long Byte   = 5",
                                           "Close Long Byte  = 8"};
  EXPECT_EQ(form->report, report);
}

TEST(ContainerLayout, FinalBlockIsAlwaysThereAndPaddedFrom41To253) {
  const std::string password = "pad42";
  ReferenceCipher reference(password);
  const auto blockBytes = static_cast<std::size_t>(reference.N() - 1);
  TempFolder folder;
  const Files files = {{"empty", ""}, {"ten", "0123456789"}, {"three", "abc"}};
  auto form = NewForm(password);
  Encrypt(*form, WriteFiles(folder.Folder(), files), folder.Path("pad.yal"));
  const std::string bytes = ReadBytes(folder.Path("pad.yal"));
  ASSERT_EQ(Le32At(bytes, 0), reference.N());
  ASSERT_EQ(Le32At(bytes, 4 + blockBytes), 3);
  const auto records = WalkRecords(bytes, 5);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records.back().end, bytes.size());  // nothing follows the last record
  for (std::size_t k = 0; k < records.size(); ++k) {
    const RecordAt& record = records[k];
    const std::string& content = files[k].second;
    EXPECT_EQ(record.name, files[k].first);
    EXPECT_EQ(record.size, static_cast<std::int32_t>(content.size()));
    const std::size_t blocks = content.size() / 5 + 1;
    ASSERT_EQ(record.end - record.blocksOffset, blocks * blockBytes);
    const std::string last = reference.Decode(bytes.substr(record.end - blockBytes, blockBytes));
    const std::size_t r = content.size() % 5;
    EXPECT_EQ(last.substr(0, r), content.substr(content.size() - r));
    for (std::size_t p = r; p < 5; ++p) {
      const auto padding = static_cast<unsigned char>(last[p]);
      EXPECT_GE(padding, 41);
      EXPECT_LE(padding, 253);
    }
  }
}

TEST(ContainerPaths, NameAndFolderSplitAtTheLastSeparator) {
  struct Case {
    const char* path;
    const char* name;
    const char* folder;
  };
  const Case cases[] = {
      {"C:\\Data\\report.doc", "report.doc", "C:\\Data\\"},
      {"C:\\report.doc", "report.doc", "C:\\"},
      {"\\\\server\\share\\a b.txt", "a b.txt", "\\\\server\\share\\"},
      {"/tmp/dir/x.yal", "x.yal", "/tmp/dir/"},
      {"C:\\one/two\\three", "three", "C:\\one/two\\"},
      {"plain.txt", "plain.txt", ""},
      {"dir\\", "", "dir\\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resicrypt::FileNamePart(c.path), c.name) << c.path;
    EXPECT_EQ(resicrypt::FolderPart(c.path), c.folder) << c.path;
  }
}

TEST(ContainerPaths, StoredNamesThatStayInTheFolder) {
  const std::string accepted[] = {"a.txt",
                                  "report 2024.doc",
                                  "CONSOLE.txt",
                                  "COM10",
                                  "LPT0",
                                  "con2",
                                  "NULL",
                                  "...a",
                                  "a..b",
                                  ".profile",
                                  "x.",
                                  "\xE7\xF6\xFC.txt",
                                  std::string(255, 'n')};
  for (const std::string& name : accepted) {
    EXPECT_EQ(resicrypt::StoredNameProblem(name), "") << name;
  }
  const std::pair<std::string, std::string> refused[] = {
      {"", "empty name"},
      {std::string(256, 'n'), "name longer than 255 bytes"},
      {"../evil", "path separator in name"},
      {"..\\evil", "path separator in name"},
      {"sub/file", "path separator in name"},
      {"\\root", "path separator in name"},
      {"C:evil.txt", "drive colon in name"},
      {"file.txt:stream", "drive colon in name"},
      {".", "name is only dots and blanks"},
      {"..", "name is only dots and blanks"},
      {"...", "name is only dots and blanks"},
      {" . ", "name is only dots and blanks"},
      {"a\x01z", "control character in name"},
      {"tab\there", "control character in name"},
      {"del\x7F", "control character in name"},
      {"what?.txt", "character not allowed in file names"},
      {"a*b", "character not allowed in file names"},
      {"<x>", "character not allowed in file names"},
      {"pipe|name", "character not allowed in file names"},
      {"say\"hi\"", "character not allowed in file names"},
      {"CON", "device name"},
      {"con", "device name"},
      {"Prn.txt", "device name"},
      {"aux.tar.gz", "device name"},
      {"NUL .txt", "device name"},
      {"COM1", "device name"},
      {"com9.log", "device name"},
      {"LPT1", "device name"},
      {"lpt9", "device name"},
      {"COM\xB9", "device name"},
      {"CONIN$", "device name"},
      {"conout$.x", "device name"},
  };
  for (const auto& [name, problem] : refused) {
    EXPECT_EQ(resicrypt::StoredNameProblem(name), problem) << resicrypt::PrintableName(name);
  }
  EXPECT_EQ(resicrypt::PrintableName("a\nb\037c\177"), "a?b?c?");  // octal: 0x1F, 0x7F
}

#ifndef _WIN32
// Two sources Windows takes for one file: names that differ in the case of a
// code page's letters (here in UTF-8) or in trailing dots and blanks; other signs
// keep names apart.
TEST(ContainerPaths, NamesThatWindowsTakesForOneFile) {
  const struct {
    const char *a, *b;
    bool one;
  } cases[] = {
      {"\xC5\x88.txt", "\xC5\x87.TXT", true},  // ň Ň, code page 1250
      {"\xC3\xBF", "\xC5\xB8", true},          // ÿ Ÿ, 1252
      {"a.txt", "A.TXT. .", true},
      {"\xC3\xB7", "\xC3\x97", false},  // ÷ ×
      {"a", "b", false},
  };
  for (const auto& c : cases) {
    const auto problems =
        resicrypt::SourceProblems({std::string("d1/") + c.a, std::string("d2/") + c.b}, "");
    EXPECT_EQ(problems.size(), c.one ? 1u : 0u) << c.a << " " << c.b;
  }
}
#endif

}  // namespace
}  // namespace containertest
