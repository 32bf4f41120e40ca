// Hostile and faulty containers: a cut at every byte, damaged and extreme values
// in every integer field, a record that names the container itself, and write
// failures at several points of a file, while packing and while unpacking. The
// one table of each for the file commands.
#include <gtest/gtest.h>

#include <climits>

#include "container/unpack.h"
#include "container_test_support.h"

namespace containertest {
namespace {

const Files kFiles = {
    {"a.txt", "first file, 26 bytes long."}, {"e", ""}, {"c.bin", RandomBytes(40, 3)}};

// Decrypt File on the scene's container after the files of an earlier run are
// removed.
std::unique_ptr<FakeForm> DecryptAfresh(const Scene& scene) {
  for (const auto& file : kFiles) fs::remove(scene.In(file.first));
  auto form = NewForm("secret");
  Decrypt(*form, scene.container);
  return form;
}

// Only the first count files of kFiles were unpacked, whole, and nothing was
// written outside the container's folder.
void ExpectUnpackedFirst(const Scene& scene, std::size_t count) {
  std::vector<std::string> expectedNames = {"box.yal"};
  for (std::size_t k = 0; k < count; ++k) {
    expectedNames.push_back(kFiles[k].first);
    EXPECT_EQ(ReadBytes(scene.In(kFiles[k].first)), kFiles[k].second);
  }
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(scene.InNames(), expectedNames);
  EXPECT_EQ(scene.root.Names(), (std::vector<std::string>{"in", "src"}));
}

// Every prefix of a container: the records that lie whole inside it are unpacked,
// nothing else is created (no partial file, nothing outside the folder), and the
// last report line says where it stopped.
TEST(ContainerTruncated, EveryPrefixUnpacksTheWholeRecordsAndNamesTheFirstMissingOne) {
  Scene scene("secret", kFiles);
  const std::string whole = scene.Bytes();
  const auto records = WalkRecords(whole, 6);
  ASSERT_EQ(records.size(), kFiles.size());
  ASSERT_EQ(records.back().end, whole.size());
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    scene.SetBytes(whole.substr(0, cut));
    const auto form = DecryptAfresh(scene);
    std::size_t complete = 0;
    while (complete < records.size() && records[complete].end <= cut) ++complete;
    ExpectUnpackedFirst(scene, complete);
    EXPECT_FALSE(form->progress1.visible);
    EXPECT_FALSE(form->progress2.visible);
    EXPECT_TRUE(form->messages.empty());

    if (cut == whole.size()) {
      EXPECT_EQ(form->report.size(), 1 + 7 * records.size());
    } else if (cut < records[0].offset) {
      EXPECT_EQ(form->report, (std::vector<std::string>{
                                  scene.container,
                                  " Container damaged (it ends in its header), nothing unpacked"}));
    } else {
      ASSERT_EQ(form->report.size(), 1 + 7 * complete + 1);
      const std::string& line = form->report.back();
      const std::string start = " Record " + std::to_string(complete + 1) + " not unpacked (";
      EXPECT_EQ(line.compare(0, start.size(), start), 0) << line;
      EXPECT_NE(line.find("), unpacking stopped"), std::string::npos) << line;
    }
  }
}

// The largest and smallest values of every 32-bit field that a reader trusts, and
// cuts inside a record's head.
TEST(ContainerFieldExtremes, EachIsRefusedWithALineOrUnpacksWhatIsThere) {
  Scene scene("secret", kFiles);
  const std::string good = scene.Bytes();
  const auto records = WalkRecords(good, 6);
  const std::size_t countOffset = records[0].offset - 4;
  const RecordAt& second = records[1];
  const std::string stop2 = " Record 2 not unpacked (";
  const auto bytesAfter = [&good](std::size_t end, const std::string& what) {
    return " Container damaged (its records do not fill it): " + std::to_string(good.size() - end) +
           " bytes after " + what + " not unpacked";
  };
  const struct {
    std::string bytes;
    std::size_t unpacked;  // whole records before the stop
    std::string lastLine;  // empty: no line after the unpacked records' lines
  } cases[] = {
      {Splice(good, countOffset, 4, Le32(INT_MIN)), 0,
       " Container damaged (negative file count), nothing unpacked"},
      {Splice(good, countOffset, 4, Le32(INT_MAX)), 3,
       " Record 4 not unpacked (container ends early), unpacking stopped"},
      {Splice(good, countOffset, 4, Le32(0)), 0, bytesAfter(records[0].offset, "its header")},
      {Splice(good, countOffset, 4, Le32(1)), 1, bytesAfter(records[0].end, "record 1")},  // 3 -> 1
      {Splice(good, second.offset, 4, Le32(INT_MIN)), 1,
       stop2 + "negative name length), unpacking stopped"},
      {Splice(good, second.offset, 4, Le32(INT_MAX)), 1,
       stop2 + "container ends in its name), unpacking stopped"},
      {Splice(good, second.blocksOffset - 4, 4, Le32(INT_MAX)), 1,
       stop2 + "size larger than the container), unpacking stopped: e"},
      {Splice(good, second.blocksOffset - 4, 4, Le32(1000000)), 1,
       stop2 + "size larger than the container), unpacking stopped: e"},
      {Splice(good, second.blocksOffset - 4, 4, Le32(INT_MIN)), 1,
       stop2 + "negative size), unpacking stopped: e"},
      // Cut inside record 2's head: in its name length, in its size.
      {good.substr(0, second.offset + 2), 1, stop2 + "container ends early), unpacking stopped"},
      {good.substr(0, second.blocksOffset - 2), 1,
       stop2 + "container ends early), unpacking stopped: e"},
      // Record 2 made the last one and cut short: C stays below T, its blocks do not fit.
      {Splice(good.substr(0, second.end - 3), countOffset, 4, Le32(2)), 1,
       stop2 + "blocks run past the end of the container), unpacking stopped: e"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lastLine);
    scene.SetBytes(c.bytes);
    const auto form = DecryptAfresh(scene);
    const std::size_t lines = 1 + 7 * c.unpacked + (c.lastLine.empty() ? 0 : 1);
    ASSERT_EQ(form->report.size(), lines);
    EXPECT_FALSE(form->progress2.visible);
    if (!c.lastLine.empty()) {
      EXPECT_EQ(form->report.back(), c.lastLine);
    }
    ExpectUnpackedFirst(scene, c.unpacked);
  }

  // A residue count of any other value is a password of another length.
  for (const std::int32_t stored : {INT_MIN, -1, 0, 1, INT_MAX}) {
    scene.SetBytes(Splice(good, 0, 4, Le32(stored)));
    const auto form = DecryptAfresh(scene);
    EXPECT_EQ(form->messages, std::vector<std::string>{" Password's length is wrong."});
    EXPECT_EQ(scene.InNames(), std::vector<std::string>{"box.yal"});
  }
}

// A container that holds a file of its own name (an older box.yal packed into the
// new box.yal) would replace itself while it is read: its later records would be
// lost if anything stopped the unpacking after that. The record is refused.
TEST(ContainerOwnName, RecordNamedLikeTheContainerIsRefusedAndTheContainerKept) {
  Scene scene("secret",
              {{"a.txt", "alpha"}, {"box.yal", "an older container"}, {"c.txt", "gamma"}});
  const std::string bytes = scene.Bytes();
  auto form = NewForm("secret");
  Decrypt(*form, scene.container);
  ASSERT_EQ(form->report.size(), 1u + 7 + 1 + 7);
  EXPECT_EQ(form->report[8], " Record 2 not unpacked (name of the container itself): box.yal");
  EXPECT_EQ(scene.Bytes(), bytes);
  EXPECT_EQ(ReadBytes(scene.In("a.txt")), "alpha");
  EXPECT_EQ(ReadBytes(scene.In("c.txt")), "gamma");

  // The same container file reached through another spelling of its folder.
  struct Refusals : resicrypt::UnpackEvents {
    bool WrongPassword() override { return false; }
    void RecordRefused(const resicrypt::FileProblem& problem) override {
      lines.push_back(resicrypt::RecordLine(problem));
    }
    std::vector<std::string> lines;
  } events;
  auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
  const std::string folder = (scene.root.Root() / "src" / ".." / "in" / "").string();
  const auto outcome =
      resicrypt::UnpackContainer(*workspace, Password("secret"), scene.container, folder, events);
  EXPECT_EQ(outcome.result, resicrypt::UnpackResult::Unpacked);
  EXPECT_EQ(outcome.unpacked, 2);
  EXPECT_EQ(events.lines, std::vector<std::string>{
                              " Record 2 not unpacked (name of the container itself): box.yal"});
  EXPECT_EQ(scene.Bytes(), bytes);

  // Unpacked elsewhere, the record is an ordinary file.
  TempFolder elsewhere;
  const auto moved = resicrypt::UnpackContainer(*workspace, Password("secret"), scene.container,
                                                elsewhere.Folder(), events);
  EXPECT_EQ(moved.unpacked, 3);
  EXPECT_EQ(ReadBytes(elsewhere.Path("box.yal")), "an older container");
}

#ifdef __linux__
// A disk that fills up at different points of a 3 MiB container: while the first
// buffer is written, between buffers, and at the last byte of the final flush; and
// a small container whose blocks all fit the buffer, so that only the close fails
// and the file's lines come before the failure.
TEST(ContainerWriteFailures, PackingReportsEveryFullDiskAndTouchesNoSource) {
  TempFolder folder;
  const std::string big = RandomBytes((std::size_t{3} << 20) + 11, 31);
  const std::string mid = RandomBytes(5000, 9);
  WriteBytes(folder.Path("big.bin"), big);
  WriteBytes(folder.Path("mid.bin"), mid);
  WriteBytes(folder.Path("small.txt"), "small source");
  const std::vector<std::string> both = {folder.Path("small.txt"), folder.Path("big.bin")};
  auto first = NewForm("secret");
  Encrypt(*first, both, folder.Path("full.yal"));
  const auto fullSize = static_cast<rlim_t>(ReadBytes(folder.Path("full.yal")).size());
  fs::remove(folder.Path("full.yal"));

  const struct {
    std::vector<std::string> sources;
    rlim_t limit;
    std::size_t reportSize;  // 0: as far as the disk lets it come
  } cases[] = {
      {both, 0, 0},
      {both, (rlim_t{1} << 20) - 1, 0},
      {both, (rlim_t{2} << 20) + 7, 0},
      {both, fullSize - 1, 0},
      {{folder.Path("mid.bin")}, 1024, 1 + 4 + 2},  // path, four lines, failure
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    WriteBytes(folder.Path("box.yal"), "earlier container");
    auto form = NewForm("secret");
    {
      FileSizeLimit fileLimit(c.limit);
      Encrypt(*form, c.sources, folder.Path("box.yal"));
    }
    ASSERT_GE(form->report.size(), 2u);
    if (c.reportSize != 0) {
      EXPECT_EQ(form->report.size(), c.reportSize);
    }
    EXPECT_EQ(form->report[form->report.size() - 2], "Write File not Open ");
    EXPECT_EQ(form->report.back(), "Container not written: " + folder.Path("box.yal"));
    EXPECT_FALSE(form->progress1.visible);
    EXPECT_FALSE(form->progress2.visible);
    EXPECT_EQ(ReadBytes(folder.Path("box.yal")), "earlier container");
    EXPECT_EQ(ReadBytes(folder.Path("big.bin")), big);
    EXPECT_EQ(ReadBytes(folder.Path("mid.bin")), mid);
    EXPECT_EQ(ReadBytes(folder.Path("small.txt")), "small source");
    EXPECT_EQ(folder.Names(),
              (std::vector<std::string>{"big.bin", "box.yal", "mid.bin", "small.txt"}));
  }
}

TEST(ContainerWriteFailures, UnpackingReportsEveryFullDiskAndKeepsTheContainer) {
  const std::string big = RandomBytes((std::size_t{2} << 20) + 11, 32);
  Scene scene("secret", {{"a.txt", "small"}, {"big.bin", big}, {"z.txt", "never reached"}});
  const std::string container = scene.Bytes();
  for (const rlim_t limit :
       {(rlim_t{1} << 20) - 1, (rlim_t{1} << 20) + 7, rlim_t{big.size() - 1}}) {
    SCOPED_TRACE(limit);
    for (const char* name : {"a.txt", "z.txt"}) fs::remove(scene.In(name));
    WriteBytes(scene.In("big.bin"), "earlier big.bin");
    auto form = NewForm("secret");
    {
      FileSizeLimit fileLimit(limit);
      Decrypt(*form, scene.container);
    }
    ASSERT_EQ(form->report.size(), 1u + 7 + 2);
    EXPECT_EQ(form->report[8], " Write File not Open ");
    EXPECT_EQ(form->report[9],
              " Record 2 not unpacked (output file not written), unpacking stopped: big.bin");
    EXPECT_FALSE(form->progress1.visible);
    EXPECT_FALSE(form->progress2.visible);
    EXPECT_EQ(ReadBytes(scene.In("big.bin")), "earlier big.bin");
    EXPECT_EQ(ReadBytes(scene.In("a.txt")), "small");
    EXPECT_EQ(scene.InNames(), (std::vector<std::string>{"a.txt", "big.bin", "box.yal"}));
    EXPECT_EQ(scene.Bytes(), container);
  }
}
#endif

}  // namespace
}  // namespace containertest
