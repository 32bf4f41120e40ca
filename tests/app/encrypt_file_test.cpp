// Encrypt File through the fake window: passwords it takes, dialogs, report lines,
// progress bars and pending events, and every failure with what it leaves behind.
// Refused passwords: tests/app/memo_label_commands_test.cpp; full disks and damaged
// containers: container_hostile_test.cpp.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/container/container_test_support.h"

namespace containertest {
namespace {

const char kFilter[] =
    "All(*.*)|*.*|Text(*.TXT)|*.TXT|Word(*.DOC)|*.DOC|Excel(*.XLS)|*.XLS|Pic(*.JPG)|*.JPG|"
    "CPP(*.CPP)|*.CPP|HTML(*.HTM)|*.HTM|";

std::vector<std::string> FourLines(std::int32_t size, int L, int N) {
  return {"File Byte Amount = " + std::to_string(size),
          "File Byte Part   = " + std::to_string(size / L),
          "Open Long Byte   = " + std::to_string(L), "Close Long Byte  = " + std::to_string(N)};
}

TEST(EncryptFilePasswords, ThreeToTwentyThreeBytesGoOnToTheDialogs) {
  for (const char* password : {"abc", "\347\366\374\307\200\377abcdefghijklmnopq"}) {
    auto form = NewForm(password);
    resicrypt::testing::Button2Click(*form);
    EXPECT_TRUE(form->messages.empty());
    EXPECT_EQ(form->openDialogFilters.size(), 1u);
  }
}

TEST(EncryptFileDialogs, ProductLineFilterMultiSelectAndDefaultExtension) {
  TempFolder folder;
  WriteBytes(folder.Path("a.txt"), "alpha");
  WriteBytes(folder.Path("b.txt"), "beta");
  auto form = NewForm("secret");
  form->report = {"View  Encrypt File the Report  or Decrypt  File the Report"};

  resicrypt::testing::Button2Click(*form);  // open dialog cancelled
  EXPECT_EQ(form->report, std::vector<std::string>{kProduct});
  EXPECT_TRUE(form->openDialogMultiSelect);
  EXPECT_EQ(form->openDialogFilters, std::vector<std::string>{kFilter});
  EXPECT_TRUE(form->saveDialogExtensions.empty());

  const std::vector<std::string> chosen = {folder.Path("a.txt"), folder.Path("b.txt")};
  form->openDialogAnswers.push_back(chosen);
  resicrypt::testing::Button2Click(*form);  // save dialog cancelled
  EXPECT_EQ(form->report, chosen);
  EXPECT_EQ(form->saveDialogExtensions, std::vector<std::string>{"yal"});
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_TRUE(form->messages.empty());
}

TEST(EncryptFileReport, PathsThenFourLinesPerFileAndBothBarsHidden) {
  const std::string password = "pad42";
  const int N = ReferenceCipher(password).N();
  TempFolder folder;
  const Files files = {{"empty.bin", RandomBytes(0, 7)},
                       {"twelve.txt", RandomBytes(12, 7)},
                       {"longer.dat", RandomBytes(1250, 7)}};
  const std::vector<std::string> paths = WriteFiles(folder.Folder(), files);
  auto form = NewForm(password);
  Encrypt(*form, paths, folder.Path("three.yal"));

  std::vector<std::string> expected = paths;
  for (const auto& [name, content] : files) {
    Append(expected, FourLines(static_cast<int>(content.size()), 5, N));
  }
  EXPECT_EQ(form->report, expected);
  EXPECT_TRUE(form->messages.empty());
  EXPECT_FALSE(form->progress1.visible);
  EXPECT_FALSE(form->progress2.visible);
  EXPECT_EQ(form->progress2.minimum, 1);
  EXPECT_EQ(form->progress2.maximum, 1000);
  EXPECT_EQ(form->progress2.updates, 3);
  EXPECT_EQ(form->progress2.position, 666);  // 2 x 1000 div 3, before the last file
  EXPECT_EQ(form->progress1.minimum, 1);
  EXPECT_EQ(form->progress1.maximum, 251);  // full blocks + 1 of the last file
  EXPECT_EQ(form->progress1.position, 249);
  EXPECT_EQ(ReadBytes(folder.Path("twelve.txt")), RandomBytes(12, 7));  // sources untouched
}

TEST(EncryptFileProgress, PendingEventsEveryFullDiv100PlusOneBlocksThenTheBarMoves) {
  struct Seen {
    int position, maximum;
    bool blocksVisible, filesVisible;
  };
  const struct {
    std::size_t size;  // under a 5-byte password
    int events;
    int step;
  } cases[] = {{4, 0, 1}, {12, 2, 1}, {495, 99, 1}, {500, 50, 2}, {1250, 83, 3}, {5000, 90, 11}};
  for (const auto& c : cases) {
    TempFolder folder;
    WriteBytes(folder.Path("f"), RandomBytes(c.size, 3));
    auto form = NewForm("pad42");
    std::vector<Seen> seen;
    form->onPendingEvents = [&seen, &form] {
      seen.push_back({form->progress1.position, form->progress1.maximum, form->progress1.visible,
                      form->progress2.visible});
    };
    Encrypt(*form, {folder.Path("f")}, folder.Path("f.yal"));
    const int full = static_cast<int>(c.size / 5);
    ASSERT_EQ(form->pendingEventCalls, c.events) << c.size;
    ASSERT_EQ(static_cast<int>(seen.size()), c.events);
    for (int k = 0; k < c.events; ++k) {
      // The events come first; the bar shows the block of the previous turn.
      EXPECT_EQ(seen[static_cast<std::size_t>(k)].position, k * c.step) << c.size << " " << k;
      EXPECT_EQ(seen[static_cast<std::size_t>(k)].maximum, full + 1);
      EXPECT_TRUE(seen[static_cast<std::size_t>(k)].blocksVisible);
      EXPECT_TRUE(seen[static_cast<std::size_t>(k)].filesVisible);
    }
    EXPECT_EQ(form->progress1.position, c.events * c.step);
    EXPECT_EQ(form->progress1.updates, c.events);
  }
}

TEST(EncryptFileContainer, ExistingContainerIsReplacedWithoutAQuestion) {
  TempFolder folder;
  WriteBytes(folder.Path("a.txt"), "alpha beta gamma");
  WriteBytes(folder.Path("box.yal"), std::string(10000, 'j'));
  auto form = NewForm("secret");
  Encrypt(*form, {folder.Path("a.txt")}, folder.Path("box.yal"));
  const std::string bytes = ReadBytes(folder.Path("box.yal"));
  const int N = ReferenceCipher("secret").N();
  EXPECT_EQ(Le32At(bytes, 0), N);
  EXPECT_EQ(bytes.size(), 4u + 2u * static_cast<std::size_t>(N - 1) + 4 + 4 + 5 + 4 +
                              static_cast<std::size_t>(16 / 6) * static_cast<std::size_t>(N - 1));
  EXPECT_TRUE(form->questions.empty());
  EXPECT_TRUE(form->messages.empty());
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.txt", "box.yal"}));
}

TEST(EncryptFileFailures, ContainerThatCannotBeCreated) {
  TempFolder folder;
  WriteBytes(folder.Path("a.txt"), "alpha");
  auto form = NewForm("secret");
  Encrypt(*form, {folder.Path("a.txt")}, folder.Path("missing") + "/box.yal");
  EXPECT_EQ(form->report, (std::vector<std::string>{folder.Path("a.txt"), "Write File not Open "}));
  EXPECT_EQ(form->progress2.updates, 0);
  EXPECT_FALSE(form->progress2.visible);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.txt"});

  // A path longer than the 255-byte buffers is refused the same way, with a reason.
  const std::string longPath = folder.Folder() + std::string(300 - folder.Folder().size(), 'c');
  Encrypt(*form, {folder.Path("a.txt")}, longPath);
  EXPECT_EQ(form->report, (std::vector<std::string>{folder.Path("a.txt"), "Write File not Open ",
                                                    "Path longer than 255 bytes: " + longPath}));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"a.txt"});
}

// The container keeps its header (file count F) and the complete records before
// the source that failed; the bars are hidden.
void ExpectStoppedAtSecondSource(const TempFolder& folder, const FakeForm& form,
                                 const std::vector<std::string>& sources,
                                 const std::vector<std::string>& tail) {
  const int N = ReferenceCipher("secret").N();
  std::vector<std::string> expected = sources;
  Append(expected, FourLines(12, 6, N));
  Append(expected, tail);
  EXPECT_EQ(form.report, expected);
  EXPECT_FALSE(form.progress1.visible);
  EXPECT_FALSE(form.progress2.visible);
  const std::string bytes = ReadBytes(folder.Path("box.yal"));
  const auto blockBytes = static_cast<std::size_t>(N - 1);
  EXPECT_EQ(Le32At(bytes, 4 + blockBytes), static_cast<std::int32_t>(sources.size()));
  EXPECT_EQ(bytes.size(), 8 + blockBytes + (4 + 5 + 4 + 3 * blockBytes));
  const auto records = WalkRecords(bytes, 6);
  ASSERT_GE(records.size(), 1u);
  EXPECT_EQ(records[0].name, "a.txt");
  EXPECT_EQ(records[0].end, bytes.size());
}

// A second source that is not there, whose path does not fit the 255-byte
// buffers, or that holds more than 2147483647 bytes (sparse): every source is
// checked first, the line "Read File not Open " and the reason are given, and no
// container is written, whose file count would promise records it lacks.
TEST(EncryptFileFailures, SourceThatCannotBeOpenedStopsBeforeAnythingIsWritten) {
  const std::string longPath = "C:\\" + std::string(260, 'p');
  for (const std::string second : {"gone.txt", "long", "huge.bin"}) {
    SCOPED_TRACE(second);
    TempFolder folder;
    WriteBytes(folder.Path("a.txt"), "twelve bytes");
    WriteBytes(folder.Path("huge.bin"), "");
    fs::resize_file(folder.Root() / "huge.bin", std::uintmax_t{1} << 31);
    const std::string path = second == "long" ? longPath : folder.Path(second);
    const std::vector<std::string> sources = {folder.Path("a.txt"), path};
    auto form = NewForm("secret");
    Encrypt(*form, sources, folder.Path("box.yal"));
    ASSERT_EQ(form->report.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(form->report.begin(), form->report.begin() + 3),
              (std::vector<std::string>{sources[0], path, "Read File not Open "}));
    const std::string& reason = form->report.back();
    if (second == "gone.txt") {
      EXPECT_EQ(reason.rfind("File cannot be opened (", 0), 0u) << reason;
      EXPECT_EQ(reason.substr(reason.size() - path.size() - 3), "): " + path);
    } else {
      EXPECT_EQ(reason, (second == "long" ? "Path longer than 255 bytes: "
                                          : "File larger than 2147483647 bytes: ") +
                            path);
    }
    EXPECT_FALSE(form->progress1.visible || form->progress2.visible);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.txt", "huge.bin"}));
  }
}

// A source that grows once open holds more than the size taken then: packed, it
// would be cut short without a word. A small one is read whole in one go, which
// must see the byte past its size; a large one goes past the buffer.
TEST(EncryptFileFailures, SourceThatGrowsOnceOpenStopsThePacking) {
  for (const std::size_t size : {std::size_t{100}, std::size_t{1} << 20}) {
    SCOPED_TRACE(size);
    TempFolder folder;
    WriteBytes(folder.Path("grows.bin"), RandomBytes(size, 5));
    struct Grow : resicrypt::PackEvents {
      fs::path file;
      std::uintmax_t size = 0;
      void BlocksStarting(std::int32_t) override { fs::resize_file(file, size + 1); }
    } events;
    events.file = folder.Root() / "grows.bin";
    events.size = size;
    auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
    const auto outcome =
        resicrypt::PackContainer(*workspace, Password("secret"), folder.Path("box.yal"),
                                 {folder.Path("grows.bin")}, events);
    ASSERT_EQ(outcome.problems.size(), 1u);
    EXPECT_EQ(outcome.problems[0].kind, resicrypt::FileProblemKind::kGrewWhileRead);
  }
}

TEST(EncryptFileFailures, SourceThatShrinksWhileReadStopsWithoutUnreadBytes) {
  TempFolder folder;
  WriteBytes(folder.Path("a.txt"), "twelve bytes");
  WriteBytes(folder.Path("big.bin"), RandomBytes(3 << 20, 5));
  const std::vector<std::string> sources = {folder.Path("a.txt"), folder.Path("big.bin")};
  // Cut once the second file is open and measured, before any of its blocks is
  // read: a turn inside its blocks may come after the helper thread read them all.
  struct CutWhenBlocksStart : FakeForm {
    std::function<void()> cut;
    void SetProgressRange(resicrypt::ProgressBar bar, int minimum, int maximum) override {
      FakeForm::SetProgressRange(bar, minimum, maximum);
      if (bar == resicrypt::ProgressBar::Blocks && report.size() > 2 && cut)
        std::exchange(cut, nullptr)();
    }
  };
  auto form = std::make_unique<CutWhenBlocksStart>();
  form->edit1 = form->edit2 = "secret";
  bool cut = false;
  form->cut = [&] {
    fs::resize_file(folder.Root() / "big.bin", 100);
    cut = true;
  };
  Encrypt(*form, sources, folder.Path("box.yal"));
  EXPECT_TRUE(cut);
  ExpectStoppedAtSecondSource(
      folder, *form, sources,
      {"Read File not Open ", "File could not be read to its end: " + folder.Path("big.bin")});
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.txt", "big.bin", "box.yal"}));
}

TEST(EncryptFileMended, ReadOnlySourcesArePacked) {
  TempFolder folder;
  WriteBytes(folder.Path("ro.txt"), "read only but readable");
  fs::permissions(folder.Root() / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
  auto form = NewForm("secret");
  Encrypt(*form, {folder.Path("ro.txt")}, folder.Path("box.yal"));
  const int N = ReferenceCipher("secret").N();
  std::vector<std::string> expected = {folder.Path("ro.txt")};
  Append(expected, FourLines(22, 6, N));
  EXPECT_EQ(form->report, expected);
  EXPECT_EQ(ReadBytes(folder.Path("ro.txt")), "read only but readable");
}

// A drop of one container alone is unpacked, in any letter case; any other drop packed.
TEST(FileDrop, OneContainerAloneIsUnpackedAnyOtherDropPacked) {
  using resicrypt::CipherDirection, resicrypt::DropDirection;
  EXPECT_EQ(DropDirection({"C:\\in\\BOX.YAL"}), CipherDirection::kDecrypt);
  EXPECT_EQ(DropDirection({"C:\\in\\box.yal", "C:\\in\\a.txt"}), CipherDirection::kEncrypt);
}

}  // namespace
}  // namespace containertest
