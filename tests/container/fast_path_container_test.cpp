// Packing and unpacking through the block codec, chunk by chunk and on two
// threads, against containers and files built here block by block with the
// step-by-step operations (EncodeBlock, DecodeBlock) and the padding generator.
#include <gtest/gtest.h>

#include "container/pack.h"
#include "container/unpack.h"
#include "container_test_support.h"
#include "engine/random.h"

namespace containertest {
namespace {

using resicrypt::FileWorkOptions;

// The ways the blocks can be cut up: as the commands run, one chunk at a time on
// one thread, and tiny chunks with the helper thread on for every chunk of two
// blocks or more (so that a small file crosses every boundary on two threads) or
// off.
std::vector<std::pair<std::string, FileWorkOptions>> AllOptions() {
  FileWorkOptions oneThread;
  oneThread.helperFromBytes = FileWorkOptions::kNoHelper;
  FileWorkOptions tiny;
  tiny.chunkBytes = 100;
  tiny.helperFromBytes = 0;
  FileWorkOptions tinyOneThread = tiny;
  tinyOneThread.helperFromBytes = FileWorkOptions::kNoHelper;
  return {{"commands", FileWorkOptions()},
          {"one thread", oneThread},
          {"tiny, two threads", tiny},
          {"tiny, one thread", tinyOneThread}};
}

using Files = std::vector<std::pair<std::string, std::string>>;

// The container block by block: every block through EncodeBlock, the final one
// filled after SeedRandomAt(start + k) with RandomBelow(213) + 41 per position.
std::string ReferenceContainer(const std::string& password, const Files& files,
                               std::uint32_t start) {
  ReferenceCipher reference(password);
  const auto L = static_cast<std::size_t>(reference.L());
  std::string bytes = Le32(reference.N()) + reference.Encode(password) +
                      Le32(static_cast<std::int32_t>(files.size()));
  for (std::size_t k = 0; k < files.size(); ++k) {
    const std::string& content = files[k].second;
    bytes += Le32(static_cast<std::int32_t>(files[k].first.size())) + files[k].first +
             Le32(static_cast<std::int32_t>(content.size()));
    std::size_t at = 0;
    for (; at + L <= content.size(); at += L) bytes += reference.Encode(content.substr(at, L));
    std::string last = content.substr(at);
    resicrypt::SeedRandomAt(start + static_cast<std::uint32_t>(k));
    while (last.size() < L) last += static_cast<char>(resicrypt::RandomBelow(213) + 41);
    bytes += reference.Encode(last);
  }
  return bytes;
}

// What a block-by-block reader writes for one record whose blocks start at
// offset: DecodeBlock per block, positions 1..L of a full block, 1..r of the last.
std::string ReferenceUnpacked(ReferenceCipher& reference, const std::string& container,
                              std::size_t offset, std::int32_t size) {
  const auto L = static_cast<std::size_t>(reference.L());
  const auto blockBytes = static_cast<std::size_t>(reference.N() - 1);
  const std::size_t full = static_cast<std::size_t>(size) / L;
  std::string plain;
  for (std::size_t m = 0; m <= full; ++m) {
    const std::string block =
        reference.Decode(container.substr(offset + m * blockBytes, blockBytes));
    plain += m < full ? block : block.substr(0, static_cast<std::size_t>(size) % L);
  }
  return plain;
}

class RecordingPack : public resicrypt::PackEvents {
 public:
  void BlockDue(std::int32_t block) override { due.push_back(block); }
  std::vector<std::int32_t> due;
};

// Goes on past every differing check-block position, as Cancel does in the window.
class RecordingUnpack : public resicrypt::UnpackEvents {
 public:
  bool WrongPassword() override {
    ++wrongPasswordQuestions;
    return false;
  }
  void BlockDue(std::int32_t block) override { due.push_back(block); }
  int wrongPasswordQuestions = 0;
  std::vector<std::int32_t> due;
};

// The blocks at which the window gets its turn: every (total div 100) + 1-th.
std::vector<std::int32_t> DueBlocks(std::int32_t total) {
  std::vector<std::int32_t> due;
  for (std::int32_t m = total / 100 + 1; m <= total; m += total / 100 + 1) due.push_back(m);
  return due;
}

std::string RandomPassword(std::mt19937& rng) {
  const int length = std::uniform_int_distribution<int>(3, 23)(rng);
  std::uniform_int_distribution<int> byte(1, 255);
  std::string password;
  for (int k = 0; k < length; ++k) password += static_cast<char>(byte(rng));
  return password;
}

Files RandomFiles(std::mt19937& rng, std::size_t L) {
  const std::size_t sizes[] = {0,
                               1,
                               L - 1,
                               L,
                               99 * L,
                               100 * L + 1,
                               std::uniform_int_distribution<std::size_t>(0, 5000)(rng),
                               std::uniform_int_distribution<std::size_t>(20000, 90000)(rng)};
  Files files;
  for (std::size_t size : sizes) {
    files.emplace_back("f" + std::to_string(files.size()) + ".bin",
                       RandomBytes(size, static_cast<unsigned>(rng())));
  }
  return files;
}

// Packs under every way of cutting up the blocks; each container must be the one
// built block by block, and the window's turns come at the same blocks.
TEST(FastPathContainer, PackGivesTheBlockByBlockContainer) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 6; ++round) {
    const std::string password = RandomPassword(rng);
    const Files files = RandomFiles(rng, password.size());
    const std::uint32_t start = static_cast<std::uint32_t>(rng());
    const std::string expected = ReferenceContainer(password, files, start);

    TempFolder folder;
    std::vector<std::string> sources;
    std::vector<std::int32_t> expectedDue;
    for (const auto& [name, content] : files) {
      sources.push_back(folder.Path(name));
      WriteBytes(sources.back(), content);
      const auto due = DueBlocks(static_cast<std::int32_t>(content.size() / password.size()));
      expectedDue.insert(expectedDue.end(), due.begin(), due.end());
    }
    for (const auto& [label, options] : AllOptions()) {
      SCOPED_TRACE(label + ", password of " + std::to_string(password.size()) + " bytes");
      auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
      RecordingPack events;
      const auto outcome = resicrypt::PackContainer(*workspace, password, folder.Path("box.yal"),
                                                    sources, events, TickingClockFrom(start, options));
      ASSERT_EQ(outcome.result, resicrypt::PackResult::Packed);
      EXPECT_TRUE(ReadBytes(folder.Path("box.yal")) == expected);
      EXPECT_EQ(events.due, expectedDue);
    }
  }
}

// Unpacks containers whose residue bytes were overwritten with any values (also
// at or above their moduli), whole records of random residues, and a container
// read under a wrong password of the same residue count: every output file holds
// what DecodeBlock gives for the same bytes.
TEST(FastPathContainer, UnpackWritesWhatDecodeBlockGivesForDamagedBlocksAndWrongKeys) {
  std::mt19937 rng(777);
  for (int round = 0; round < 4; ++round) {
    const std::string password = RandomPassword(rng);
    const auto L = static_cast<int>(password.size());
    Files files = RandomFiles(rng, password.size());
    TempFolder folder;
    std::vector<std::string> sources;
    for (const auto& [name, content] : files) {
      sources.push_back(folder.Path(name));
      WriteBytes(sources.back(), content);
    }
    fs::create_directory(folder.Root() / "out");
    const std::string container = folder.Path("box.yal");
    auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
    resicrypt::PackEvents quiet;
    ASSERT_EQ(resicrypt::PackContainer(*workspace, password, container, sources, quiet).result,
              resicrypt::PackResult::Packed);

    // Damage: scattered bytes in every record, and the third record's blocks all random.
    std::string bytes = ReadBytes(container);
    const std::vector<RecordAt> records = WalkRecords(bytes, L);
    ASSERT_EQ(records.size(), files.size());
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (const RecordAt& record : records) {
      for (int k = 0; k < 20; ++k) {
        const std::size_t at =
            std::uniform_int_distribution<std::size_t>(record.blocksOffset, record.end - 1)(rng);
        bytes[at] = static_cast<char>(anyByte(rng));
      }
    }
    for (std::size_t at = records[2].blocksOffset; at < records[2].end; ++at) {
      bytes[at] = static_cast<char>(anyByte(rng));
    }
    WriteBytes(container, bytes);

    const std::string wrongKey = PasswordWithResidueCount(L, Le32At(bytes, 0));
    ASSERT_FALSE(wrongKey.empty());
    for (const std::string& key : {password, wrongKey}) {
      ReferenceCipher reference(key);
      for (const auto& [label, options] : AllOptions()) {
        SCOPED_TRACE(label + (key == password ? ", right key of " : ", wrong key of ") +
                     std::to_string(L) + " bytes");
        RecordingUnpack events;
        const std::string out = (folder.Root() / "out" / "").string();
        const auto outcome =
            resicrypt::UnpackContainer(*workspace, key, container, out, events, options);
        ASSERT_EQ(outcome.result, resicrypt::UnpackResult::Unpacked);
        ASSERT_EQ(outcome.unpacked, static_cast<std::int32_t>(files.size()));
        EXPECT_EQ(events.wrongPasswordQuestions > 0, key != password);
        std::vector<std::int32_t> expectedDue;
        for (const RecordAt& record : records) {
          EXPECT_TRUE(ReadBytes(out + record.name) ==
                      ReferenceUnpacked(reference, bytes, record.blocksOffset, record.size))
              << record.name;
          const auto due = DueBlocks(record.size / L + 1);
          expectedDue.insert(expectedDue.end(), due.begin(), due.end());
        }
        EXPECT_EQ(events.due, expectedDue);
      }
    }
  }
}

}  // namespace
}  // namespace containertest
