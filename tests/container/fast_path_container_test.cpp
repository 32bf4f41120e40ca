// Packing and unpacking through the block codec, chunk by chunk and on two
// threads, against containers and files built here block by block with the
// step-by-step operations (EncodeBlock, DecodeBlock) and the padding generator;
// the block loop's promises to the window, its failures, and files renamed or
// replaced while they are read.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>

#include "container/block_loop.h"

#include "container/pack.h"
#include "container/unpack.h"
#include "container_test_support.h"
#include "engine/random.h"
#include "engine/reference/reference.h"

namespace containertest {
namespace {

using resicrypt::FileWorkOptions;

// The ways the blocks can be cut up: as the commands run, one chunk at a time on
// one thread, and tiny chunks with the helper thread on for every chunk of two
// blocks or more (so that a small file crosses every boundary on two threads) or
// off.
std::vector<std::pair<std::string, FileWorkOptions>> AllOptions() {
  const std::size_t chunk = FileWorkOptions().chunkBytes, none = FileWorkOptions::kNoHelper;
  return {{"commands", FileWorkOptions()},
          {"one thread", {nullptr, chunk, none}},
          {"tiny, two threads", {nullptr, 100, 0}},
          {"tiny, one thread", {nullptr, 100, none}}};
}

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

// Keeps the blocks at which the window got its turn, and runs onDue at each.
template <typename Events>
struct RecordingDue : Events {
  void BlockDue(std::int32_t block) override {
    due.push_back(block);
    if (onDue) onDue(block);
  }
  std::vector<std::int32_t> due;
  std::function<void(std::int32_t)> onDue;
};
using RecordingPack = RecordingDue<resicrypt::PackEvents>;

// Goes on past every differing check-block position, as Cancel does in the window.
struct RecordingUnpack : RecordingDue<resicrypt::UnpackEvents> {
  bool WrongPassword() override {
    ++wrongPasswordQuestions;
    return false;
  }
  void RecordUnpacked(const resicrypt::UnpackedRecord& report) override {
    unpacked.push_back(report.record.name);
  }
  int wrongPasswordQuestions = 0;
  std::vector<std::string> unpacked;
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
    const std::vector<std::string> sources = WriteFiles(folder.Folder(), files);
    std::vector<std::int32_t> expectedDue;
    for (const auto& [name, content] : files) {
      const auto due = DueBlocks(static_cast<std::int32_t>(content.size() / password.size()));
      expectedDue.insert(expectedDue.end(), due.begin(), due.end());
    }
    for (const auto& [label, options] : AllOptions()) {
      SCOPED_TRACE(label + ", password of " + std::to_string(password.size()) + " bytes");
      auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
      RecordingPack events;
      const auto outcome =
          resicrypt::PackContainer(*workspace, Password(password), folder.Path("box.yal"), sources,
                                   events, TickingClockFrom(start, options));
      ASSERT_EQ(outcome.result, resicrypt::PackResult::Packed);
      EXPECT_TRUE(ReadBytes(folder.Path("box.yal")) == expected);
      EXPECT_EQ(events.due, expectedDue);
    }
  }
}

// Unpacks containers whose residue bytes were overwritten with any values (also
// at or above their moduli), whole records of random residues, and a container
// read under a wrong password of the same residue count: every output file holds
// what DecodeBlock gives for the same bytes; the records whose blocks fail their
// check (all of these, but for a change that happens to pass) under NAME.damaged.
TEST(FastPathContainer, UnpackWritesWhatDecodeBlockGivesForDamagedBlocksAndWrongKeys) {
  std::mt19937 rng(777);
  for (int round = 0; round < 4; ++round) {
    const std::string password = RandomPassword(rng);
    const auto L = static_cast<int>(password.size());
    Files files = RandomFiles(rng, password.size());
    TempFolder folder;
    const std::string container = folder.Path("box.yal");
    auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
    resicrypt::PackEvents quiet;
    ASSERT_EQ(resicrypt::PackContainer(*workspace, Password(password), container,
                                       WriteFiles(folder.Folder(), files), quiet)
                  .result,
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
        fs::remove_all(folder.Root() / "out");  // a wrong key replaces no file
        fs::create_directory(folder.Root() / "out");
        const std::string out = (folder.Root() / "out" / "").string();
        const auto outcome =
            resicrypt::UnpackContainer(*workspace, Password(key), container, out, events, options);
        ASSERT_EQ(outcome.result, resicrypt::UnpackResult::Unpacked);
        ASSERT_EQ(outcome.unpacked + outcome.damaged, static_cast<std::int32_t>(files.size()));
        EXPECT_GE(outcome.damaged, static_cast<std::int32_t>(files.size()) - 1);
        EXPECT_EQ(events.wrongPasswordQuestions > 0, key != password);
        std::vector<std::int32_t> expectedDue;
        for (const RecordAt& record : records) {
          const std::string name =
              fs::exists(out + record.name) ? record.name : record.name + resicrypt::kDamagedSuffix;
          EXPECT_TRUE(ReadBytes(out + name) ==
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

// A stand-in cipher of 3 bytes in and 4 out (the block and its first byte + 1),
// watching the loop: at each of the window's turns it runs on the calling thread,
// no block is being ciphered, every earlier block has been ciphered, and both
// files stand right after the earlier blocks.
// A record run by the calling thread alone has every earlier block done at a
// turn; a shared one has its turns on the calling thread too, in order.
class WatchedWork : public resicrypt::BlockWork {
 public:
  WatchedWork(const resicrypt::InputFile& input, const resicrypt::OutputFile& output, bool shared)
      : input_(input), output_(output), caller_(std::this_thread::get_id()), shared_(shared) {}
  void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const override {
    if (++inFlight_ > 2) fault = true;
    for (std::size_t k = 0; k < count; ++k) {
      std::copy_n(in + 3 * k, 3, out + 4 * k);
      out[4 * k + 3] = static_cast<unsigned char>(in[3 * k] + 1);
    }
    ciphered_ += static_cast<std::int32_t>(count);
    --inFlight_;
  }
  void Due(std::int32_t block) override {
    if (std::this_thread::get_id() != caller_) fault = true;
    if (!shared_ &&
        (inFlight_ != 0 || ciphered_ != block - 1 || input_.Position() != kHead + 3 * (block - 1) ||
         output_.Position() != kHead + 4 * (block - 1))) {
      fault = true;
    }
    due.push_back(block);
  }
  static constexpr std::int64_t kHead = 5;  // bytes before the blocks in both files
  std::vector<std::int32_t> due;
  mutable std::atomic<bool> fault{false};

 private:
  const resicrypt::InputFile& input_;
  const resicrypt::OutputFile& output_;
  std::thread::id caller_;
  bool shared_;
  mutable std::atomic<int> inFlight_{0};
  mutable std::atomic<std::int32_t> ciphered_{0};
};

TEST(BlockLoop, TurnsComeAtTheSameBlocksOnTheCallingThreadAndTheBytesInPlace) {
  TempFolder folder;
  for (const auto& [label, options] : AllOptions()) {
    for (std::int32_t total : {0, 1, 99, 100, 101, 250, 5000, 70001}) {
      SCOPED_TRACE(label + ", " + std::to_string(total) + " blocks");
      const std::string in = RandomBytes(WatchedWork::kHead + 3 * static_cast<std::size_t>(total),
                                         static_cast<unsigned>(total));
      WriteBytes(folder.Path("in"), in);
      // The last block is written 2 bytes short, as the final block of an unpacked record.
      std::string expected = in.substr(0, WatchedWork::kHead);
      for (std::size_t at = WatchedWork::kHead; at < in.size(); at += 3) {
        expected += in.substr(at, 3) + static_cast<char>(static_cast<unsigned char>(in[at]) + 1);
      }
      if (total > 0) expected.resize(expected.size() - 2);

      resicrypt::InputFile input;
      resicrypt::OutputFile output;
      ASSERT_TRUE(input.Open(folder.Path("in")) && output.Create(folder.Path("out")));
      char head[WatchedWork::kHead];
      ASSERT_TRUE(input.Read(head, sizeof head) && output.Write(head, sizeof head));
      const bool shared = options.helperFromBytes != FileWorkOptions::kNoHelper && total >= 2 &&
                          3 * static_cast<std::size_t>(total) >= options.helperFromBytes;
      WatchedWork work(input, output, shared);
      resicrypt::BlockLoop loop(options);
      EXPECT_EQ(loop.Run(input, output, resicrypt::RecordBlocks{total, 3, 4, 2}, work),
                resicrypt::BlockLoopResult::Done);
      EXPECT_EQ(work.due, DueBlocks(total));
      EXPECT_FALSE(work.fault);
      EXPECT_EQ(input.Position(), static_cast<std::int64_t>(in.size()));
      EXPECT_EQ(output.Position(), static_cast<std::int64_t>(expected.size()));
      ASSERT_TRUE(output.Commit());
      EXPECT_TRUE(ReadBytes(folder.Path("out")) == expected);
    }
  }
}

#ifdef __linux__
// Blocks of 10 bytes in slices of 25, which either thread may take: slices from
// 1000, 1250, 1500, 1750 and 2000 in both files. With the input cut short and/or
// the output limited, the run ends with the failure of the earliest slice, and
// within a slice with its read. With the calling thread slowed, the helper meets
// a later failure first.
TEST(BlockLoop, AFailedSliceIsReportedAsTheEarliestFailureInBlockOrder) {
  using resicrypt::BlockLoopResult;
  struct Case {
    std::int64_t cutInputAt;     // 0: not cut
    std::int64_t limitOutputAt;  // 0: not limited
    BlockLoopResult expected;
  };
  const Case cases[] = {
      {1750, 0, BlockLoopResult::ReadFailed},      // the fourth slice's read
      {0, 1750, BlockLoopResult::WriteFailed},     // its write
      {1750, 1250, BlockLoopResult::WriteFailed},  // the second slice's write first
      {1250, 1750, BlockLoopResult::ReadFailed},   // the second slice's read first
      {1300, 1100, BlockLoopResult::WriteFailed},  // the first slice's write, the second's read
      {3000, 0, BlockLoopResult::ReadFailed},      // a later slice
  };
  class Identity : public resicrypt::BlockWork {
   public:
    void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const override {
      if (slowCaller && std::this_thread::get_id() == caller) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      std::copy_n(in, 10 * count, out);
    }
    bool slowCaller = false;
    std::thread::id caller = std::this_thread::get_id();
    void Due(std::int32_t) override {}
  };
  FileWorkOptions options;
  options.chunkBytes = 250;
  options.helperFromBytes = 0;
  TempFolder folder;
  for (const bool slowCaller : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.cutInputAt) + " / " + std::to_string(c.limitOutputAt) +
                   (slowCaller ? ", slow caller" : ""));
      WriteBytes(folder.Path("in"), RandomBytes(10 * 10000, 3));
      resicrypt::InputFile input;
      resicrypt::OutputFile output;
      ASSERT_TRUE(input.Open(folder.Path("in")) && output.Create(folder.Path("out")));
      std::unique_ptr<FileSizeLimit> limit;
      Identity work;
      work.slowCaller = slowCaller;
      if (c.cutInputAt > 0)
        fs::resize_file(folder.Root() / "in", static_cast<std::uintmax_t>(c.cutInputAt));
      if (c.limitOutputAt > 0)
        limit = std::make_unique<FileSizeLimit>(static_cast<rlim_t>(c.limitOutputAt));
      resicrypt::BlockLoop loop(options);
      EXPECT_EQ(loop.Run(input, output, resicrypt::RecordBlocks{10000, 10, 10, 0}, work),
                c.expected);
      limit.reset();
    }
  }
}
#endif

// 99 blocks of 10 bytes copied in slices of 25 on both threads, one turn per
// block, with hooks on the helper's slices and on the calling thread's first turn
// (after it has taken its first slice, before it reads it).
struct HookedWork : resicrypt::BlockWork {
  void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const override {
    if (std::this_thread::get_id() != caller) onHelper();
    std::copy_n(in, 10 * count, out);
  }
  void Due(std::int32_t block) override {
    if (block == 1) onFirstTurn();
  }
  resicrypt::BlockLoopResult Run(const TempFolder& folder) {
    WriteBytes(folder.Path("in"), RandomBytes(990, 4));
    EXPECT_TRUE(input.Open(folder.Path("in")) && output.Create(folder.Path("out")));
    return resicrypt::BlockLoop({nullptr, 250, 0}).Run(input, output, {99, 10, 10, 0}, *this);
  }
  std::thread::id caller = std::this_thread::get_id();
  std::function<void()> onHelper, onFirstTurn;
  resicrypt::InputFile input;
  resicrypt::OutputFile output;
};

// A throw on the calling thread while the helper is in a slice, or on the helper:
// Run throws it on the calling thread once the helper is through.
TEST(BlockLoop, AThrowOnEitherThreadComesOutOfRunAfterTheHelper) {
  TempFolder folder;
  for (const bool onHelper : {false, true}) {
    std::atomic<int> helper{0};  // 1 in its first slice, 2 let go, 3 through it
    HookedWork work;
    work.onHelper = [&] {
      if (helper != 0) return;
      helper = 1;
      if (onHelper) throw std::bad_alloc();
      while (helper != 2) std::this_thread::yield();
      helper = 3;
    };
    work.onFirstTurn = [&] {
      while (helper == 0) std::this_thread::yield();
      if (!onHelper) helper = 2, throw std::bad_alloc();
    };
    EXPECT_THROW(work.Run(folder), std::bad_alloc);
    EXPECT_EQ(helper, onHelper ? 1 : 3);
  }
}

#ifdef __linux__
// A later failure met first: the calling thread holds its first slice (the first
// or the second) until the helper's write of the third has failed; then its own
// read fails, and that earlier failure is the run's.
TEST(BlockLoop, TheEarliestFailureWinsWhenItComesLast) {
  TempFolder folder;
  std::atomic<bool> turned{false};
  std::optional<FileSizeLimit> limit;
  HookedWork work;
  work.onHelper = [&] {
    while (!turned) std::this_thread::yield();
  };
  work.onFirstTurn = [&] {
    limit.emplace(500);
    turned = true;
    while (work.output.SystemError() == 0) std::this_thread::yield();
    fs::resize_file(folder.Root() / "in", 0);
  };
  EXPECT_EQ(work.Run(folder), resicrypt::BlockLoopResult::ReadFailed);
}
#endif

#ifndef _WIN32
// Another file renamed over the path of the file being read, or that file renamed
// away, at the window's first turn: a run that reports success has read the file
// it opened, whichever thread read it. (Windows refuses to rename an open file.)
TEST(FileLayer, AFileRenamedOrReplacedWhileReadGivesItsOwnBytesOrAStop) {
  const std::string password = "secret";
  const Files files = {{"a.bin", RandomBytes(60000, 1)}, {"b.bin", RandomBytes(60000, 2)}};
  const Files others = {{"a.bin", RandomBytes(60000, 3)}, {"b.bin", RandomBytes(60000, 4)}};
  const std::string expected = ReferenceContainer(password, files, 7);
  for (const auto& [label, options] : AllOptions()) {
    for (const bool replaced : {false, true}) {
      SCOPED_TRACE(label + (replaced ? ", replaced" : ", renamed away"));
      TempFolder folder;
      const std::vector<std::string> sources = WriteFiles(folder.Folder(), files);
      WriteBytes(folder.Path("other.bin"), others[0].second);
      const auto moveOver = [&](const std::string& from, const std::string& to) {
        if (replaced) {
          ASSERT_EQ(std::rename(folder.Path(from).c_str(), to.c_str()), 0);
        } else {
          ASSERT_EQ(std::rename(to.c_str(), folder.Path("moved").c_str()), 0);
        }
      };

      // Packing: the first source, during its own record.
      auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
      RecordingPack packEvents;
      packEvents.onDue = [&, done = false](std::int32_t) mutable {
        if (!std::exchange(done, true)) moveOver("other.bin", sources[0]);
      };
      const std::string box = folder.Path("box.yal");
      const auto packed = resicrypt::PackContainer(*workspace, Password(password), box, sources,
                                                   packEvents, TickingClockFrom(7, options));
      EXPECT_TRUE(packed.result != resicrypt::PackResult::Packed || ReadBytes(box) == expected);

      // Unpacking: the container, during its first record; the second record
      // is read after it.
      WriteBytes(box, expected);
      WriteBytes(folder.Path("other.yal"), ReferenceContainer(password, others, 7));
      fs::create_directory(folder.Root() / "out");
      RecordingUnpack unpackEvents;
      unpackEvents.onDue = [&, done = false](std::int32_t) mutable {
        if (!std::exchange(done, true)) moveOver("other.yal", box);
      };
      const std::string out = (folder.Root() / "out" / "").string();
      resicrypt::UnpackContainer(*workspace, Password(password), box, out, unpackEvents, options);
      for (const std::string& name : unpackEvents.unpacked) {
        EXPECT_TRUE(ReadBytes(out + name) == (name == "a.bin" ? files[0] : files[1]).second)
            << name;
      }
    }
  }
}
#endif

}  // namespace
}  // namespace containertest
