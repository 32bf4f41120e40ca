// Containers written by Encrypt File unpack by Decrypt File into the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <set>

#include "container/file_cipher.h"
#include "container/pack.h"
#include "container/unpack.h"
#include "container_test_support.h"

namespace containertest {
namespace {

// 8 + (N - 1) header bytes plus 8 + n + (S div L + 1) x (N - 1) per record.
std::size_t ExpectedLength(const Files& files, int L, int N) {
  std::size_t length = 8 + static_cast<std::size_t>(N - 1);
  for (const auto& [name, content] : files) {
    length += 8 + name.size() +
              (content.size() / static_cast<std::size_t>(L) + 1) * static_cast<std::size_t>(N - 1);
  }
  return length;
}

void ExpectRoundTrip(const std::string& password, const Files& files) {
  Scene scene(password, files);
  ReferenceCipher reference(password);
  EXPECT_EQ(scene.Bytes().size(), ExpectedLength(files, reference.L(), reference.N()));
  auto form = NewForm(password);
  Decrypt(*form, scene.container);
  EXPECT_EQ(form->report.size(), 1 + 7 * files.size());
  EXPECT_TRUE(form->questions.empty());
  for (const auto& [name, content] : files) {
    EXPECT_EQ(ReadBytes(scene.In(name)), content)
        << name << " under a password of " << password.size() << " bytes";
  }
  EXPECT_EQ(scene.InNames().size(), files.size() + 1);  // no temporary files left
}

TEST(ContainerRoundTrip, SizesAroundTheBlockLengthUnderShortLongAndHighBytePasswords) {
  const std::string passwords[] = {
      "abc",
      "\xFF\xFE\x80",
      "pad42",
      "\347\366\374\307\200\377\2400123456789abcdef",  // 23 bytes, high ones first (octal)
      std::string(23, '\xFF'),
  };
  for (const std::string& password : passwords) {
    const std::size_t L = password.size();
    const std::set<std::size_t> sizes = {0, 1, L - 1, L, L + 1, 2 * L, 7 * L - 1, 100 * L, 1000};
    Files files;
    for (std::size_t size : sizes) {
      files.emplace_back("s" + std::to_string(size) + ".bin",
                         RandomBytes(size, static_cast<unsigned>(size + L)));
    }
    ExpectRoundTrip(password, files);
  }
}

TEST(ContainerRoundTrip, OneMebibyteFileAndNamesWithHighBytes) {
  ExpectRoundTrip("\x80\x81\x82 a long key of 23 b",
                  {{"big.bin", RandomBytes(1 << 20, 11)}, {"\xE7\xF6z \xFC.txt", "tiny"}});
}

TEST(ContainerRoundTrip, RepackingTheSameFilesChangesOnlyTheFinalBlocks) {
  const Files files = {{"a.bin", RandomBytes(100, 1)}, {"b.bin", RandomBytes(37, 2)}};
  Scene first("secret", files);
  Scene second("secret", files);
  std::string one = first.Bytes();
  std::string two = second.Bytes();
  ASSERT_EQ(one.size(), two.size());
  const auto blockBytes = static_cast<std::size_t>(Le32At(one, 0) - 1);
  for (const RecordAt& record : WalkRecords(one, 6)) {
    one.replace(record.end - blockBytes, blockBytes, blockBytes, '\0');
    two.replace(record.end - blockBytes, blockBytes, blockBytes, '\0');
  }
  EXPECT_EQ(one, two);
}

// Parse, then write: Decrypt File reads a container with the right password, and
// the packer packs the files it recreated, in record order, with the same seed
// times; the new container is the old one byte for byte. (The seed times are
// given to PackContainer: the window's command pads from the calendar.)
TEST(ContainerRoundTrip, UnpackedFilesRepackedWithTheSameSeedTimesGiveTheSameBytes) {
  const std::string passwords[] = {"abc", "pad42", "\347\366\374\307\200\377\2400123456789abcdef"};
  for (const std::string& password : passwords) {
    SCOPED_TRACE(password.size());
    const std::size_t L = password.size();
    const Files files = {{"a.bin", RandomBytes(100, 21)},
                         {"empty", ""},
                         {"exact.bin", RandomBytes(4 * L, 22)},
                         {"\xE7 high name.txt", "x"},
                         {"big.bin", RandomBytes(70000, 23)}};
    const std::uint32_t start = 1700000000u;
    TempFolder folder;
    fs::create_directory(folder.Root() / "in");
    const std::vector<std::string> sources = WriteFiles(folder.Folder(), files);
    const std::string container = (folder.Root() / "in" / "box.yal").string();
    const auto pack = [&](const std::vector<std::string>& from, const std::string& to,
                          std::uint32_t seconds) {
      auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
      resicrypt::PackEvents quiet;
      ASSERT_EQ(resicrypt::PackContainer(*workspace, Password(password), to, from, quiet,
                                         TickingClockFrom(seconds))
                    .result,
                resicrypt::PackResult::Packed);
    };
    pack(sources, container, start);
    const std::string original = ReadBytes(container);
    auto reader = NewForm(password);
    Decrypt(*reader, container);
    ASSERT_EQ(reader->report.size(), 1 + 7 * files.size());
    ASSERT_TRUE(reader->questions.empty());

    std::vector<std::string> unpacked;
    for (const RecordAt& record : WalkRecords(original, static_cast<int>(L))) {
      unpacked.push_back((folder.Root() / "in" / "").string() + record.name);
    }
    ASSERT_EQ(unpacked.size(), files.size());
    const std::string again = folder.Path("again.yal");
    pack(unpacked, again, start);
    EXPECT_EQ(ReadBytes(again), original);

    // Other seed times change the final blocks, so the match above is no accident.
    pack(unpacked, again, start + 1000);
    const std::string other = ReadBytes(again);
    EXPECT_EQ(other.size(), original.size());
    EXPECT_NE(other, original);
  }
}

// Random containers (passwords of 3 to 23 random bytes, files of random sizes,
// of random bytes, zeros or 255s, so numbers near 0 and near 256^L): every
// block of every record passes its check.
TEST(ContainerRoundTrip, NothingWholeIsEverCalledDamaged) {
  std::mt19937 rng(2032);
  for (int round = 0; round < 24; ++round) {
    const std::size_t L = 3 + rng() % 21;
    std::string password(L, '\0');
    for (char& c : password) c = static_cast<char>(1 + rng() % 255);
    Files files;
    for (int k = 0; k < 3; ++k) {
      std::string content = RandomBytes(rng() % (40 * L), static_cast<unsigned>(rng()));
      if (k == 1) std::fill(content.begin(), content.end(), '\0');
      if (k == 2) std::fill(content.begin(), content.end(), '\xFF');
      files.emplace_back("f" + std::to_string(k), content);
    }
    Scene scene(password, files);
    struct Counted : resicrypt::UnpackEvents {
      bool WrongPassword() override { return true; }
      void RecordWhole(const resicrypt::UnpackedRecord&) override { ++whole; }
      int whole = 0;
    } events;
    auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
    const resicrypt::UnpackOutcome outcome =
        resicrypt::TestContainer(*workspace, Password(password), scene.container, events);
    EXPECT_EQ(outcome.result, resicrypt::UnpackResult::Unpacked) << "round " << round;
    EXPECT_EQ(outcome.damaged, 0) << "round " << round << ", L = " << L;
    EXPECT_EQ(events.whole, 3) << "round " << round;
  }
}

}  // namespace
}  // namespace containertest
