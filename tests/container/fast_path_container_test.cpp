// Packing and unpacking through the block codec, chunk by chunk and on two
// threads, against containers and files built here block by block with the
// step-by-step operations (EncodeBlock, DecodeBlock) and the padding generator;
// and the block loop's promises to the window.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "container/block_run.h"
#include "container/pack.h"
#include "container/unpack.h"
#include "container_test_support.h"
#include "engine/random.h"
#include "engine/reference/reference.h"

namespace containertest {
namespace {

using resicrypt::BlockRunLimits;

// Puts block-run limits in place for one scope.
class LimitsScope {
 public:
  explicit LimitsScope(const BlockRunLimits& limits)
      : previous_(resicrypt::SetBlockRunLimits(limits)) {}
  LimitsScope(const LimitsScope&) = delete;
  LimitsScope& operator=(const LimitsScope&) = delete;
  ~LimitsScope() { resicrypt::SetBlockRunLimits(previous_); }

 private:
  BlockRunLimits previous_;
};

// The ways the blocks can be cut up: as the commands run, one chunk at a time on
// one thread, and tiny chunks and slices with the worker forced on for every
// piece (so that a small file crosses every boundary on two threads), off, or
// tried against one thread on the first pieces as the commands do.
std::vector<std::pair<std::string, BlockRunLimits>> AllLimits() {
  const BlockRunLimits commands = resicrypt::DefaultBlockRunLimits();
  BlockRunLimits oneThread = commands;
  oneThread.threads = false;
  BlockRunLimits tiny{};
  tiny.chunkBytes = 100;
  tiny.sliceBytes = 50;
  tiny.threadedPieceBytes = 0;
  tiny.threads = true;
  BlockRunLimits tinyOneThread = tiny;
  tinyOneThread.threads = false;
  BlockRunLimits tinyTried = tiny;
  tinyTried.tryBothWays = true;
  return {{"commands", commands},
          {"one thread", oneThread},
          {"tiny, two threads", tiny},
          {"tiny, one thread", tinyOneThread},
          {"tiny, both ways tried", tinyTried}};
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
    for (const auto& [label, limits] : AllLimits()) {
      SCOPED_TRACE(label + ", password of " + std::to_string(password.size()) + " bytes");
      LimitsScope limitsScope(limits);
      PaddingClockScope clock(start);
      auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
      RecordingPack events;
      const auto outcome =
          resicrypt::PackContainer(*workspace, Password(password), folder.Path("box.yal"), sources, events);
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
    ASSERT_EQ(resicrypt::PackContainer(*workspace, Password(password), container, sources, quiet).result,
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
      for (const auto& [label, limits] : AllLimits()) {
        SCOPED_TRACE(label + (key == password ? ", right key of " : ", wrong key of ") +
                     std::to_string(L) + " bytes");
        LimitsScope limitsScope(limits);
        RecordingUnpack events;
        const std::string out = (folder.Root() / "out" / "").string();
        const auto outcome = resicrypt::UnpackContainer(*workspace, Password(key), container, out, events);
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

// A stand-in cipher that adds 1 to both bytes of a block (which hold its number),
// watching the threads: at each of the window's turns every earlier block has
// been read, ciphered and written once, no cipher work is under way, and only the
// calling thread takes turns and reads and writes in block order; channels may
// be used on the worker, and all are closed when the run ends. With channels
// off, no channel can be opened and the record must run in block order.
class WatchedSteps : public resicrypt::BlockSteps {
 public:
  explicit WatchedSteps(bool channels = true)
      : channels_(channels), caller_(std::this_thread::get_id()) {}

  bool Read(unsigned char* in, std::size_t count) override {
    Expect(std::this_thread::get_id() == caller_, "Read off the calling thread");
    NumberBlocks(in, next_, count);
    next_ += static_cast<std::int32_t>(count);
    return true;
  }
  void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const override {
    Expect(++inFlight_ <= 2, "more than two threads ciphering");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      threads_.insert(std::this_thread::get_id());
    }
    for (std::size_t k = 0; k < 2 * count; ++k) out[k] = static_cast<unsigned char>(in[k] + 1);
    ciphered_ += static_cast<std::int32_t>(count);
    --inFlight_;
  }
  bool Write(const unsigned char* out, std::int32_t first, std::size_t count) override {
    Expect(std::this_thread::get_id() == caller_, "Write off the calling thread");
    Expect(first == nextWrite_, "blocks written out of order");
    nextWrite_ += static_cast<std::int32_t>(count);
    Written(out, first, count);
    return true;
  }
  void Due(std::int32_t block) override {
    Expect(std::this_thread::get_id() == caller_, "the window's turn off the calling thread");
    Expect(inFlight_ == 0, "ciphering during the window's turn");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Expect(ciphered_ == block - 1 && written_ == block - 1 && read_ == block - 1,
             "the window's turn before the earlier blocks were done");
    }
    EndPiece();
    due.push_back(block);
  }
  std::unique_ptr<resicrypt::BlockChannel> OpenChannel() override {
    Expect(std::this_thread::get_id() == caller_, "channel opened off the calling thread");
    if (!channels_) return nullptr;
    return std::make_unique<Channel>(*this);
  }
  resicrypt::BlockRunResult Align(std::int32_t block) override {
    Expect(std::this_thread::get_id() == caller_, "Align off the calling thread");
    next_ = nextWrite_ = block;
    return resicrypt::BlockRunResult::Done;
  }
  // Between two turns of the window, at most the caller and one worker cipher.
  void EndPiece() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (threads_.size() > 2) faults_.insert("more than two threads in one piece");
    if (threads_.size() == 2) ++twoThreadPieces_;
    threads_.clear();
  }

  std::vector<std::int32_t> due;
  int TwoThreadPieces() const { return twoThreadPieces_; }
  int OpenChannels() const { return openChannels_; }
  std::int32_t WrittenBlocks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }
  std::set<std::string> Faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
  }

 private:
  class Channel : public resicrypt::BlockChannel {
   public:
    explicit Channel(WatchedSteps& steps) : steps_(steps) { ++steps_.openChannels_; }
    ~Channel() override { --steps_.openChannels_; }
    bool ReadAt(unsigned char* in, std::int32_t first, std::size_t count) override {
      steps_.NumberBlocks(in, first, count);
      return true;
    }
    bool WriteAt(const unsigned char* out, std::int32_t first, std::size_t count) override {
      steps_.Written(out, first, count);
      return true;
    }

   private:
    WatchedSteps& steps_;
  };

  void NumberBlocks(unsigned char* in, std::int32_t first, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
      const std::int32_t block = first + static_cast<std::int32_t>(k);
      in[2 * k] = static_cast<unsigned char>(block & 0xFF);
      in[2 * k + 1] = static_cast<unsigned char>((block >> 8) & 0xFF);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    read_ += static_cast<std::int32_t>(count);
  }
  void Written(const unsigned char* out, std::int32_t first, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
      const std::int32_t block = first + static_cast<std::int32_t>(k);
      Expect(out[2 * k] == static_cast<unsigned char>((block & 0xFF) + 1) &&
                 out[2 * k + 1] == static_cast<unsigned char>(((block >> 8) & 0xFF) + 1),
             "a block came out wrong");
    }
    bool once = true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (std::size_t k = 0; k < count; ++k) {
        once = writtenBlocks_.insert(first + static_cast<std::int32_t>(k)).second && once;
      }
      written_ += static_cast<std::int32_t>(count);
    }
    Expect(once, "a block written twice");
  }
  void Expect(bool ok, const char* fault) const {
    if (!ok) {
      std::lock_guard<std::mutex> lock(faultMutex_);
      faults_.insert(fault);
    }
  }

  bool channels_;
  std::thread::id caller_;
  std::int32_t next_ = 1;       // the block Read gives next
  std::int32_t nextWrite_ = 1;  // the block Write must be given next
  std::int32_t read_ = 0;
  std::int32_t written_ = 0;
  std::set<std::int32_t> writtenBlocks_;
  std::atomic<int> openChannels_{0};
  mutable std::atomic<int> inFlight_{0};
  mutable std::atomic<std::int32_t> ciphered_{0};
  mutable std::mutex mutex_;
  mutable std::mutex faultMutex_;
  mutable std::set<std::thread::id> threads_;
  mutable std::set<std::string> faults_;
  int twoThreadPieces_ = 0;
};

TEST(BlockRun, WindowTurnsComeAtTheSameBlocksWithEverythingBeforeThemDoneOnOneThread) {
  for (const auto& [label, limits] : AllLimits()) {
    for (const bool channels : {true, false}) {
      for (std::int32_t total : {0, 1, 99, 100, 101, 250, 5000, 70001}) {
        SCOPED_TRACE(label + (channels ? "" : ", no channels") + ", " + std::to_string(total) +
                     " blocks");
        LimitsScope limitsScope(limits);
        resicrypt::BlockRunner runner(2, 2);
        WatchedSteps steps(channels);
        EXPECT_EQ(runner.Run(total, steps), resicrypt::BlockRunResult::Done);
        EXPECT_EQ(steps.WrittenBlocks(), total);
        EXPECT_EQ(steps.due, DueBlocks(total));
        EXPECT_EQ(steps.OpenChannels(), 0);
        steps.EndPiece();
        EXPECT_TRUE(steps.Faults().empty()) << *steps.Faults().begin();
        if (!limits.threads || !channels) {
          EXPECT_EQ(steps.TwoThreadPieces(), 0);
        }
      }
    }
  }
}

// The worker serves one run at a time: a run started during another one's turn
// (as no command does, but nothing in the runner forbids) goes on without it,
// and both come out whole.
TEST(BlockRun, ARunInsideAnotherRunsWithoutTheWorker) {
  BlockRunLimits limits = AllLimits()[2].second;  // tiny, two threads
  LimitsScope limitsScope(limits);
  class Nesting : public WatchedSteps {
   public:
    void Due(std::int32_t block) override {
      WatchedSteps::Due(block);
      if (block != 51) return;
      resicrypt::BlockRunner runner(2, 2);
      WatchedSteps steps;
      innerResult = runner.Run(3000, steps);
      innerWritten = steps.WrittenBlocks();
      innerTwoThreadPieces = steps.TwoThreadPieces();
      steps.EndPiece();
      innerFaults = steps.Faults();
    }
    resicrypt::BlockRunResult innerResult = resicrypt::BlockRunResult::ReadFailed;
    std::int32_t innerWritten = 0;
    int innerTwoThreadPieces = -1;
    std::set<std::string> innerFaults;
  };
  resicrypt::BlockRunner runner(2, 2);
  Nesting steps;
  EXPECT_EQ(runner.Run(5000, steps), resicrypt::BlockRunResult::Done);
  EXPECT_EQ(steps.WrittenBlocks(), 5000);
  steps.EndPiece();
  EXPECT_TRUE(steps.Faults().empty()) << *steps.Faults().begin();
  EXPECT_EQ(steps.innerResult, resicrypt::BlockRunResult::Done);
  EXPECT_EQ(steps.innerWritten, 3000);
  EXPECT_EQ(steps.innerTwoThreadPieces, 0);
  EXPECT_TRUE(steps.innerFaults.empty()) << *steps.innerFaults.begin();
}

// A read or write that fails ends the run with that result, also in the middle
// of a piece on two threads, and no block after the failed one is written.
class FailingSteps : public resicrypt::BlockSteps {
 public:
  FailingSteps(std::int32_t failRead, std::int32_t failWrite)
      : failRead_(failRead), failWrite_(failWrite) {}
  bool Read(unsigned char* /*in*/, std::size_t count) override {
    next_ += static_cast<std::int32_t>(count);
    return next_ - 1 < failRead_;
  }
  void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const override {
    std::copy(in, in + count, out);
  }
  bool Write(const unsigned char* /*out*/, std::int32_t first, std::size_t count) override {
    return Wrote(first, count);
  }
  void Due(std::int32_t /*block*/) override {}
  std::unique_ptr<resicrypt::BlockChannel> OpenChannel() override {
    return std::make_unique<Channel>(*this);
  }
  resicrypt::BlockRunResult Align(std::int32_t block) override {
    next_ = block;
    return resicrypt::BlockRunResult::Done;
  }
  std::int32_t LastWritten() const { return written_; }

 private:
  class Channel : public resicrypt::BlockChannel {
   public:
    explicit Channel(FailingSteps& steps) : steps_(steps) {}
    bool ReadAt(unsigned char* /*in*/, std::int32_t first, std::size_t count) override {
      return first + static_cast<std::int32_t>(count) - 1 < steps_.failRead_;
    }
    bool WriteAt(const unsigned char* /*out*/, std::int32_t first, std::size_t count) override {
      return steps_.Wrote(first, count);
    }

   private:
    FailingSteps& steps_;
  };

  bool Wrote(std::int32_t first, std::size_t count) {
    const std::int32_t last = first + static_cast<std::int32_t>(count) - 1;
    if (last >= failWrite_) return false;
    std::int32_t seen = written_.load();
    while (seen < last && !written_.compare_exchange_weak(seen, last)) {
    }
    return true;
  }

  std::int32_t failRead_;
  std::int32_t failWrite_;
  std::int32_t next_ = 1;
  std::atomic<std::int32_t> written_{0};
};

TEST(BlockRun, AFailedReadOrWriteEndsTheRun) {
  for (const auto& [label, limits] : AllLimits()) {
    SCOPED_TRACE(label);
    LimitsScope limitsScope(limits);
    resicrypt::BlockRunner runner(1, 1);
    FailingSteps readFails(3000, 1 << 30);
    EXPECT_EQ(runner.Run(5000, readFails), resicrypt::BlockRunResult::ReadFailed);
    EXPECT_LT(readFails.LastWritten(), 3000);
    FailingSteps writeFails(1 << 30, 4000);
    EXPECT_EQ(runner.Run(5000, writeFails), resicrypt::BlockRunResult::WriteFailed);
    EXPECT_LT(writeFails.LastWritten(), 4000);
    // Both fail: the read comes first in block order.
    FailingSteps bothFail(3000, 3500);
    EXPECT_EQ(runner.Run(5000, bothFail), resicrypt::BlockRunResult::ReadFailed);
  }
}

}  // namespace
}  // namespace containertest
