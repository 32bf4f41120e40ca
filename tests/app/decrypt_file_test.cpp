// Decrypt File through the fake window: the residue-count and check-block tests,
// report lines, bars and pending events, failures, and hostile names. Refused
// passwords: tests/app/memo_label_commands_test.cpp; full disks and damaged
// containers: container_hostile_test.cpp.
#include <gtest/gtest.h>

#include <cstring>

#include "container/container_path.h"
#include "tests/container/container_test_support.h"

namespace containertest {
namespace {

std::vector<std::string> SevenLines(const std::string& name, std::int32_t size, int L, int N,
                                    std::int32_t index, std::int64_t T) {
  const std::int32_t B = size / L + 1;
  return {name,
          "Open File Byte Amount = " + std::to_string(size),
          "Open File Byte Part   = " + std::to_string(B),
          "Open Long Byte        = " + std::to_string(L),
          "Close Long Byte       = " + std::to_string(N),
          "Close File Byte no    = " + std::to_string(static_cast<std::int64_t>(N - 1) * B + index),
          "Close File Byte yes   = " + std::to_string(T)};
}

const Files kThreeFiles = {
    {"a.txt", "first file, 26 bytes long."}, {"b.txt", "second"}, {"c.txt", "third file"}};

TEST(DecryptFileDialogs, ProductLineAppendedAndYalFilter) {
  auto form = NewForm("secret");
  form->report = {"kept line"};
  resicrypt::testing::Button1Click(*form);  // dialog cancelled
  EXPECT_EQ(form->report, (std::vector<std::string>{"kept line", kProduct}));
  EXPECT_EQ(form->openDialogFilters, std::vector<std::string>{"*.*|*.yal"});
  EXPECT_FALSE(form->openDialogMultiSelect);  // the options are not touched here
  EXPECT_TRUE(form->messages.empty());
}

TEST(DecryptFileReport, ChosenPathsThenSevenLinesPerFileIntoTheContainersFolder) {
  const std::string password = PasswordWithResidueCount(5, 8);
  ASSERT_EQ(password.size(), 5u);
  const Files files = {{"notes", "Hello, world"}, {"e", ""}, {"ten", "0123456789"}};
  Scene scene(password, files);
  // 8 + 7 header bytes, then 8 + 5 + 3 x 7, 8 + 1 + 1 x 7 and 8 + 3 + 3 x 7.
  const std::int64_t T = 15 + 34 + 16 + 32;
  ASSERT_EQ(static_cast<std::int64_t>(scene.Bytes().size()), T);

  auto form = NewForm(password);
  // Several containers chosen: all are listed, the first is unpacked.
  form->openDialogAnswers.push_back(
      std::vector<std::string>{scene.container, scene.In("other.yal")});
  resicrypt::testing::Button1Click(*form);
  std::vector<std::string> expected = {scene.container, scene.In("other.yal")};
  Append(expected, SevenLines("notes", 12, 5, 8, 1, T));  // C = 7 x 3 + 1 = 22
  Append(expected, SevenLines("e", 0, 5, 8, 2, T));       // C = 7 x 1 + 2 = 9
  Append(expected, SevenLines("ten", 10, 5, 8, 3, T));    // C = 7 x 3 + 3 = 24
  EXPECT_EQ(form->report, expected);
  EXPECT_EQ(expected[7], "Close File Byte no    = 22");
  for (const auto& [name, content] : files) EXPECT_EQ(ReadBytes(scene.In(name)), content) << name;
  EXPECT_EQ(scene.InNames(), (std::vector<std::string>{"box.yal", "e", "notes", "ten"}));
  EXPECT_FALSE(form->progress1.visible);
  EXPECT_FALSE(form->progress2.visible);
  EXPECT_EQ(form->progress2.maximum, 1000);
  EXPECT_EQ(form->progress2.position, 666);
  EXPECT_EQ(form->progress1.maximum, 3);
  EXPECT_TRUE(form->messages.empty());
  EXPECT_TRUE(form->questions.empty());
}

TEST(DecryptFileProgress, BarMovesThenPendingEventsEveryBDiv100PlusOneBlocks) {
  const struct {
    std::size_t size;  // under a 5-byte password: B = size div 5 + 1
    int events;
    int step;
  } cases[] = {{0, 1, 1}, {12, 3, 1}, {490, 99, 1}, {495, 50, 2}, {1250, 83, 3}};
  for (const auto& c : cases) {
    Scene scene("pad42", {{"f", RandomBytes(c.size, 4)}});
    auto form = NewForm("pad42");
    std::vector<std::pair<int, int>> seen;  // position, maximum
    form->onPendingEvents = [&seen, &form] {
      EXPECT_TRUE(form->progress1.visible);
      EXPECT_TRUE(form->progress2.visible);
      seen.emplace_back(form->progress1.position, form->progress1.maximum);
    };
    Decrypt(*form, scene.container);
    const int B = static_cast<int>(c.size / 5) + 1;
    ASSERT_EQ(static_cast<int>(seen.size()), c.events) << c.size;
    for (int k = 0; k < c.events; ++k) {
      // Here the bar moves first, then the events run.
      EXPECT_EQ(seen[static_cast<std::size_t>(k)], std::make_pair((k + 1) * c.step, B)) << c.size;
    }
    EXPECT_EQ(form->progress1.updates, c.events);
    EXPECT_EQ(ReadBytes(scene.In("f")), RandomBytes(c.size, 4));
  }
}

TEST(DecryptFilePassword, StoredResidueCountOfAnotherLengthIsRefused) {
  Scene scene("pad42", kThreeFiles);
  const std::string other = "a much longer key";
  ASSERT_NE(ReferenceCipher(other).N(), ReferenceCipher("pad42").N());
  auto form = NewForm(other);
  form->edit1Visible = false;
  Decrypt(*form, scene.container);
  EXPECT_EQ(form->messages, std::vector<std::string>{" Password's length is wrong."});
  EXPECT_TRUE(form->edit1Visible);
  EXPECT_EQ(form->report, std::vector<std::string>{scene.container});
  EXPECT_TRUE(form->questions.empty());
  EXPECT_EQ(form->progress2.updates, 0);
  EXPECT_EQ(scene.InNames(), std::vector<std::string>{"box.yal"});
}

// A second password with the same length and residue count, and the number of
// check-block positions that it decodes differently from itself.
struct WrongKey {
  std::string right, wrong;
  std::size_t differing = 0;
};
WrongKey FindWrongKey() {
  WrongKey key{PasswordWithResidueCount(6, 9), PasswordWithResidueCount(6, 9, 1)};
  ReferenceCipher right(key.right);
  ReferenceCipher wrong(key.wrong);
  const std::string decoded = wrong.Decode(right.Encode(key.right));
  for (std::size_t p = 0; p < decoded.size(); ++p) key.differing += decoded[p] != key.wrong[p];
  return key;
}

TEST(DecryptFilePassword, CheckBlockAsksPerDifferingPositionAndOkStops) {
  const WrongKey key = FindWrongKey();
  ASSERT_EQ(key.wrong.size(), 6u);
  ASSERT_GE(key.differing, 2u);
  Scene scene(key.right, kThreeFiles);
  const std::pair<std::string, std::string> question = {"Password is wrong", "Change Password"};

  auto form = NewForm(key.wrong);
  form->edit1Visible = false;
  form->questionAnswers = {false, true};  // Cancel, then OK
  Decrypt(*form, scene.container);
  EXPECT_EQ(form->questions,
            (std::vector<std::pair<std::string, std::string>>{question, question}));
  EXPECT_TRUE(form->edit1Visible);
  EXPECT_EQ(form->report, std::vector<std::string>{scene.container});
  EXPECT_EQ(scene.InNames(), std::vector<std::string>{"box.yal"});

  // Cancel to every question unpacks under the wrong password: a file that
  // stands there is kept and named; the other records' blocks fail their check
  // under the wrong key (a.txt: 26 bytes, 5 blocks of 6; c.txt: 10 bytes, 2), so
  // they are reported damaged, and their bytes, of the stored sizes, kept apart.
  WriteBytes(scene.In("b.txt"), "kept as it is");
  auto cancelling = NewForm(key.wrong);
  cancelling->questionAnswers.assign(key.differing, false);
  Decrypt(*cancelling, scene.container);
  EXPECT_EQ(cancelling->questions.size(), key.differing);
  EXPECT_TRUE(cancelling->questionAnswers.empty());
  EXPECT_EQ(cancelling->report,
            (std::vector<std::string>{
                scene.container,
                " Record 1 damaged: 5 blocks failed their check, the first at byte 0, written as "
                "a.txt.damaged: a.txt",
                " Record 2 not unpacked (password is wrong, existing file kept): b.txt",
                " Record 3 damaged: 2 blocks failed their check, the first at byte 0, written as "
                "c.txt.damaged: c.txt"}));
  EXPECT_EQ(ReadBytes(scene.In("b.txt")), "kept as it is");
  EXPECT_EQ(scene.InNames(),
            (std::vector<std::string>{"a.txt.damaged", "b.txt", "box.yal", "c.txt.damaged"}));
  for (const auto& [name, content] : kThreeFiles) {
    if (name == "b.txt") continue;
    const std::string unpacked = ReadBytes(scene.In(name + ".damaged"));
    EXPECT_EQ(unpacked.size(), content.size());
    EXPECT_NE(unpacked, content);
    fs::remove(scene.In(name + ".damaged"));
  }

  // And the right password asks nothing.
  auto right = NewForm(key.right);
  Decrypt(*right, scene.container);
  EXPECT_TRUE(right->questions.empty());
  for (const auto& [name, content] : kThreeFiles) EXPECT_EQ(ReadBytes(scene.In(name)), content);
}

// A changed byte in a record's blocks: the record is named with how many blocks
// failed and where the first starts, it never replaces a file of its name, and
// the records before and after it unpack as usual. Under "secret" (L = 6) a.txt
// has 5 blocks; its third starts at byte 12.
TEST(DecryptFileDamage, ADamagedRecordIsReportedAndKeptApart) {
  Scene scene("secret", kThreeFiles);
  const auto blockBytes = static_cast<std::size_t>(ReferenceCipher("secret").N() - 1);
  std::string bytes = scene.Bytes();
  const auto records = WalkRecords(bytes, 6);
  bytes[records[0].blocksOffset + 2 * blockBytes] = '\xFF';  // above every modulus
  bytes[records[0].blocksOffset + 4 * blockBytes + 1] = '\xFF';
  scene.SetBytes(bytes);
  const std::string line =
      " Record 1 damaged: 2 blocks failed their check, the first at byte 12, written as "
      "a.txt.damaged: a.txt";
  auto form = NewForm("secret");
  Decrypt(*form, scene.container);
  const auto T = static_cast<std::int64_t>(bytes.size());
  const int N = ReferenceCipher("secret").N();
  std::vector<std::string> expected = {scene.container, line};
  Append(expected, SevenLines("b.txt", 6, 6, N, 2, T));
  Append(expected, SevenLines("c.txt", 10, 6, N, 3, T));
  EXPECT_EQ(form->report, expected);
  EXPECT_EQ(scene.InNames(),
            (std::vector<std::string>{"a.txt.damaged", "b.txt", "box.yal", "c.txt"}));
  const std::string kept = ReadBytes(scene.In("a.txt.damaged"));
  EXPECT_EQ(kept.size(), 26u);
  EXPECT_EQ(kept.substr(0, 12) + kept.substr(18, 6), "first file, es lon");  // blocks 1, 2, 4
  EXPECT_EQ(ReadBytes(scene.In("c.txt")), "third file");

  // Where a.txt stands, it stays as it was, and nothing is written for the record.
  fs::remove(scene.In("a.txt.damaged"));
  WriteBytes(scene.In("a.txt"), "an older a.txt");
  auto again = NewForm("secret");
  Decrypt(*again, scene.container);
  EXPECT_EQ(again->report[1],
            " Record 1 damaged: 2 blocks failed their check, the first at byte 12, nothing "
            "written: a.txt");
  EXPECT_EQ(ReadBytes(scene.In("a.txt")), "an older a.txt");
  EXPECT_EQ(scene.InNames(), (std::vector<std::string>{"a.txt", "b.txt", "box.yal", "c.txt"}));
}

TEST(DecryptFileFailures, ContainerThatCannotBeOpened) {
  TempFolder folder;
  auto form = NewForm("secret");
  Decrypt(*form, folder.Path("none.yal"));
  EXPECT_EQ(form->report,
            (std::vector<std::string>{folder.Path("none.yal"), " Read File not Open "}));
  EXPECT_EQ(form->progress2.updates, 0);

  const std::string longPath = folder.Folder() + std::string(300 - folder.Folder().size(), 'c');
  auto longForm = NewForm("secret");
  Decrypt(*longForm, longPath);
  EXPECT_EQ(longForm->report,
            (std::vector<std::string>{longPath, " Read File not Open ",
                                      " Path longer than 255 bytes: " + longPath}));
  EXPECT_TRUE(folder.Names().empty());
}

TEST(DecryptFileFailures, OutputFileThatCannotBeCreated) {
  Scene scene("secret", kThreeFiles);
  fs::create_directory(scene.root.Root() / "in" / "b.txt");  // a folder in the way
  auto form = NewForm("secret");
  Decrypt(*form, scene.container);
  const int N = ReferenceCipher("secret").N();
  std::vector<std::string> expected = {scene.container};
  Append(expected,
         SevenLines("a.txt", 26, 6, N, 1, static_cast<std::int64_t>(scene.Bytes().size())));
  Append(expected, {" Write File not Open ",
                    " Record 2 not unpacked (output file not created), unpacking stopped: b.txt"});
  EXPECT_EQ(form->report, expected);
  EXPECT_FALSE(form->progress1.visible);
  EXPECT_FALSE(form->progress2.visible);
  EXPECT_EQ(scene.InNames(), (std::vector<std::string>{"a.txt", "b.txt", "box.yal"}));
  EXPECT_TRUE(fs::is_directory(scene.root.Root() / "in" / "b.txt"));
}

TEST(DecryptFileMended, ReadOnlyContainerAndReplacedOutputs) {
  Scene scene("secret", kThreeFiles);
  WriteBytes(scene.In("a.txt"), "an older a.txt that is replaced without a question");
  fs::permissions(scene.container, fs::perms::owner_read | fs::perms::group_read);
  auto form = NewForm("secret");
  Decrypt(*form, scene.container);
  EXPECT_EQ(form->report.size(), 1u + 3 * 7);
  EXPECT_TRUE(form->questions.empty());
  for (const auto& [name, content] : kThreeFiles) EXPECT_EQ(ReadBytes(scene.In(name)), content);
}

TEST(DecryptFileHostile, NamesThatLeaveTheFolderOrNameADeviceAreRefusedAndSkipped) {
  const std::pair<std::string, std::string> cases[] = {
      {"../evil", "path separator in name"},
      {"..\\evil", "path separator in name"},
      {"sub/evil", "path separator in name"},
      {"/tmp/evil", "path separator in name"},
      {"C:evil", "drive colon in name"},
      {"..", "name is only dots and blanks"},
      {".", "name is only dots and blanks"},
      {"", "empty name"},
      {std::string("\0tail", 5), "empty name"},
      {"CON", "device name"},
      {"nul.txt", "device name"},
      {"COM1", "device name"},
      {"LPT9.log", "device name"},
      {"a\x01z", "control character in name"},
      {std::string(256, 'n'), "name longer than 255 bytes"},
  };
  for (const auto& [name, reason] : cases) {
    Scene scene("secret", kThreeFiles);
    const auto records = WalkRecords(scene.Bytes(), 6);
    ASSERT_EQ(records.size(), 3u);
    scene.SetBytes(Splice(scene.Bytes(), records[1].offset, 4 + 5,
                          Le32(static_cast<std::int32_t>(name.size())) + name));
    auto form = NewForm("secret");
    Decrypt(*form, scene.container);
    const std::string shown = resicrypt::PrintableName(name.substr(0, name.find('\0')));
    const std::string line =
        " Record 2 not unpacked (" + reason + ")" + (shown.empty() ? std::string() : ": " + shown);
    ASSERT_EQ(form->report.size(), 1u + 7 + 1 + 7) << line;
    EXPECT_EQ(form->report[8], line);
    EXPECT_EQ(form->report[9], "c.txt");
    EXPECT_EQ(scene.InNames(), (std::vector<std::string>{"a.txt", "box.yal", "c.txt"})) << line;
    EXPECT_EQ(scene.root.Names(), (std::vector<std::string>{"in", "src"})) << line;
    EXPECT_EQ(ReadBytes(scene.In("c.txt")), "third file");
  }
}

TEST(DecryptFileHostile, NameEndsAtItsFirstNulAndOutputPathsStayWithin255Bytes) {
  Scene scene("secret", kThreeFiles);
  auto records = WalkRecords(scene.Bytes(), 6);
  const std::string nulName("ok\0../evil", 10);
  scene.SetBytes(Splice(scene.Bytes(), records[1].offset, 9, Le32(10) + nulName));
  auto form = NewForm("secret");
  Decrypt(*form, scene.container);
  EXPECT_EQ(scene.InNames(), (std::vector<std::string>{"a.txt", "box.yal", "c.txt", "ok"}));
  EXPECT_EQ(ReadBytes(scene.In("ok")), "second");

  // A plain name that fits 255 bytes but not behind this folder.
  const std::string longName(250, 'L');
  records = WalkRecords(scene.Bytes(), 6);
  scene.SetBytes(Splice(scene.Bytes(), records[1].offset, 4 + 10, Le32(250) + longName));
  auto longForm = NewForm("secret");
  Decrypt(*longForm, scene.container);
  ASSERT_EQ(longForm->report.size(), 1u + 7 + 1 + 7);
  EXPECT_EQ(longForm->report[8],
            " Record 2 not unpacked (output path longer than 255 bytes): " + longName);
}

}  // namespace
}  // namespace containertest
