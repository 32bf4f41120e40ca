#include "container/unpack.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "container/binary_file.h"
#include "container/block_loop.h"
#include "container/container_path.h"

namespace resicrypt {

namespace {

constexpr std::size_t kNameBufferBytes = kMaxNameBytes + 1;

// Reads a stored name of nameBytes bytes: at most 256 of them are kept (a longer
// name is refused anyway), and the name ends at its first NUL.
bool ReadName(InputFile& container, std::int32_t nameBytes, std::string& name) {
  const auto length = static_cast<std::size_t>(nameBytes);
  const std::size_t kept = std::min(length, kNameBufferBytes);
  std::string bytes(kept, '\0');
  if (!container.Read(&bytes[0], kept)) return false;
  if (!container.Skip(static_cast<std::int64_t>(length - kept))) return false;
  name = bytes.substr(0, bytes.find('\0'));
  return true;
}

// Record head: name length, name, file size. Nullptr when it is whole and
// plausible as far as it goes, else why not.
const char* ReadRecordHead(InputFile& container, std::int64_t containerBytes, FileRecord& record,
                           std::int32_t& nameBytes) {
  if (!container.ReadInt32(nameBytes)) return "container ends early";
  if (nameBytes < 0) return "negative name length";
  if (nameBytes > containerBytes - container.Position()) return "container ends in its name";
  if (!ReadName(container, nameBytes, record.name)) return "container could not be read";
  if (!container.ReadInt32(record.size)) return "container ends early";
  if (record.size < 0) return "negative size";
  return nullptr;
}

// A record's blocks decrypted and checked: the failed blocks are counted, and the
// first of them kept, from either thread of the block loop.
class CheckedDecryptWork final : public BlockWork {
 public:
  CheckedDecryptWork(const FileCipher& cipher, UnpackEvents& events)
      : cipher_(cipher), events_(events) {}
  void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const override {
    TransformAt(in, count, out, 1);
  }
  void TransformAt(const unsigned char* in, std::size_t count, unsigned char* out,
                   std::int32_t first) const override {
    const codec_kernels::BlockFailures failures = cipher_.DecryptCheckedBlocks(in, count, out);
    if (failures.count == 0) return;
    failed_ += static_cast<std::int64_t>(failures.count);
    const std::int64_t at = first + static_cast<std::int64_t>(failures.first);
    std::int64_t seen = firstFailed_.load();
    while (at < seen && !firstFailed_.compare_exchange_weak(seen, at)) {
    }
  }
  void Due(std::int32_t block) override { events_.BlockDue(block); }
  std::int64_t Failed() const { return failed_.load(); }
  std::int64_t FirstFailed() const { return firstFailed_.load(); }  // block number, from 1

 private:
  const FileCipher& cipher_;
  UnpackEvents& events_;
  mutable std::atomic<std::int64_t> failed_{0};
  mutable std::atomic<std::int64_t> firstFailed_{std::numeric_limits<std::int64_t>::max()};
};

// The blocks of a record checked without writing them: read from the container
// a chunk at a time, with the window's turns as the block loop gives them.
bool CheckBlocks(InputFile& container, const RecordBlocks& record, CheckedDecryptWork& work,
                 const FileWorkOptions& options) {
  const std::int32_t step = ServiceStep(record.total);
  const std::size_t chunkBlocks = std::max<std::size_t>(1, options.chunkBytes / record.inBytes);
  std::vector<unsigned char> in;
  std::vector<unsigned char> out;
  for (std::int32_t m = 1; m <= record.total;) {
    const std::size_t count =
        std::min(chunkBlocks, static_cast<std::size_t>(record.total - m + 1));
    for (std::int32_t due = (m + step - 1) / step * step;
         due < m + static_cast<std::int32_t>(count); due += step) {
      work.Due(due);
    }
    in.resize(count * record.inBytes);
    out.resize(count * record.outBytes);
    if (!container.Read(in.data(), in.size())) return false;
    work.TransformAt(in.data(), count, out.data(), m);
    m += static_cast<std::int32_t>(count);
  }
  return true;
}

// The decrypted bytes of a damaged record, read again from where its blocks
// start, into a new file at path. False when it could not be made or written
// (nothing of it is left then).
bool WriteDamagedCopy(const InputFile& container, std::int64_t blocksAt,
                      const RecordBlocks& record, const FileCipher& cipher,
                      const std::string& path, FileMode mode) {
  OutputFile copy;
  if (!copy.Create(path, mode)) return false;
  std::vector<unsigned char> in(record.inBytes * 1024);
  std::vector<unsigned char> out(record.outBytes * 1024);
  for (std::int32_t m = 1; m <= record.total;) {
    const std::size_t count = std::min<std::size_t>(1024, static_cast<std::size_t>(record.total - m + 1));
    const bool last = m + static_cast<std::int32_t>(count) - 1 == record.total;
    if (!container.ReadAt(blocksAt + static_cast<std::int64_t>(m - 1) * static_cast<std::int64_t>(record.inBytes),
                          in.data(), count * record.inBytes)) {
      return false;
    }
    cipher.DecryptBlocks(in.data(), count, out.data());
    if (!copy.Write(out.data(), count * record.outBytes - (last ? record.lastShortBy : 0))) {
      return false;
    }
    m += static_cast<std::int32_t>(count);
  }
  return copy.Commit();
}

// What every record of one reading of a container works with.
struct Reading {
  const FileCipher& cipher;
  InputFile& container;
  const std::string& containerPath;
  const std::string& targetFolder;
  UnpackEvents& events;
  const FileWorkOptions& options;
  BlockLoop& loop;
  // The container's own file, which no record may replace.
  const ExistingFile& containerFile;
  // The files unpacked so far, as the file system tells them apart: a later
  // record whose name leads to one of them would replace it. On Windows that
  // includes names in other letter cases; on Linux names are the same file only
  // when their bytes are (unless a folder folds case, which this sees as well).
  std::set<FileIdentity>& unpackedFiles;
  UnpackOutcome& outcome;
  FileMode containerMode;      // an unpacked file may be read by no more users
  std::int64_t containerBytes;  // T
  // Gone on under a password whose check failed: its blocks decrypt to other
  // bytes, which must not take the place of a file that stands in the folder.
  bool passwordDoubted;
};

// One record whose head has been read.
struct RecordAt {
  std::int32_t recordNumber;  // i, from 1
  std::int32_t nameBytes;     // n, as stored
  FileRecord record;
  std::int32_t blockCount;       // B
  std::int64_t plausibility;     // C
  std::int64_t blockBytesTotal;  // B x (N - 1)
  RecordBlocks blocks;
};

UnpackOutcome Stopped(UnpackOutcome& outcome, const RecordAt& at, const std::string& reason) {
  outcome.result = UnpackResult::RecordStopped;
  outcome.problems = {{FileProblemKind::kRecordDamaged, at.recordNumber, at.record.name, reason}};
  return outcome;
}

void ReportDamaged(Reading& reading, const RecordAt& at, const CheckedDecryptWork& work,
                   std::string keptPath) {
  ++reading.outcome.damaged;
  reading.events.RecordDamaged(
      {at.recordNumber, at.record.name, work.Failed(),
       (work.FirstFailed() - 1) * static_cast<std::int64_t>(reading.cipher.BlockLength()),
       std::move(keptPath)});
}

UnpackedRecord Unpacked(const Reading& reading, const RecordAt& at, std::string outputPath) {
  return UnpackedRecord{at.record,          at.blockCount, reading.cipher.BlockLength(),
                        reading.cipher.Residues(), at.plausibility, reading.containerBytes,
                        std::move(outputPath)};
}

// The header: residue count, check block (with the wrong-password questions) and
// file count. The outcome that ends the reading, if any.
std::optional<UnpackOutcome> ReadHeader(const FileCipher& cipher, InputFile& container,
                                        const std::string& containerPath, UnpackEvents& events,
                                        bool& passwordDoubted, std::int32_t& fileCount) {
  UnpackOutcome outcome;
  const auto damaged = [&outcome, &containerPath](const std::string& reason) {
    outcome.result = UnpackResult::ContainerDamaged;
    outcome.problems = {{FileProblemKind::kContainerDamaged, 0, containerPath, reason}};
    return outcome;
  };
  // Residue count: a container made under a password of another length (or
  // another permutation class) stops here.
  std::int32_t storedResidues = 0;
  if (!container.ReadInt32(storedResidues)) return damaged("it ends in its header");
  if (storedResidues != cipher.Residues()) {
    outcome.result = UnpackResult::PasswordLengthWrong;
    return outcome;
  }
  // Check block: the password encrypted as one block.
  CheckBlock check;
  check.length = cipher.EncryptedBlockBytes();
  if (!container.Read(check.residues.data(), static_cast<std::size_t>(check.length))) {
    return damaged("it ends in its header");
  }
  const std::size_t differing = cipher.CheckBlockDifferences(check).size();
  for (std::size_t asked = 0; asked < differing; ++asked) {
    if (events.WrongPassword()) {
      outcome.result = UnpackResult::PasswordWrong;
      return outcome;
    }
  }
  passwordDoubted = differing > 0;
  if (!container.ReadInt32(fileCount)) return damaged("it ends in its header");
  if (fileCount < 0) return damaged("negative file count");
  return std::nullopt;
}

// Why a record's file may not be written (empty: it may), and where it goes:
// only plain names, and only inside the target folder; never the container, nor
// a file unpacked before. instead: the caller's own output for the record, if it
// gives one. skipped: the caller skips the record unsaid.
std::string RefusalOf(Reading& reading, const RecordAt& at, OutputFile*& instead,
                      std::string& outputPath, bool& standing, bool& skipped) {
  std::string problem;
  const std::string& name = at.record.name;
  const bool longName = static_cast<std::size_t>(at.nameBytes) > kMaxNameBytes;
  const std::string outputName = longName ? name : reading.events.OutputName(name, problem);
  if (longName) problem = "name longer than 255 bytes";
  skipped = problem.empty() && outputName.empty() && !name.empty();
  if (skipped) return problem;
  if (problem.empty()) problem = StoredNameProblem(outputName);
  instead = problem.empty() ? reading.events.OutputInstead() : nullptr;
  outputPath = reading.targetFolder + outputName;
  if (problem.empty() && outputPath.size() > kMaxPathBytes) {
    problem = "output path longer than 255 bytes";
  }
  FileIdentity existing;
  standing = problem.empty() && instead == nullptr && IdentifyFile(outputPath, existing);
  // Replacing the container while it is read would lose the records after this
  // one if anything stopped the unpacking later.
  if (standing && reading.containerFile.IsAt(outputPath)) {
    problem = "name of the container itself";
  } else if (standing && reading.unpackedFiles.count(existing) != 0) {
    problem = "a file of this name was unpacked before";
  }
  return problem;
}

// One record's file written: its blocks decrypted and checked into the output, a
// damaged record kept apart. The outcome that ends the reading, if any.
std::optional<UnpackOutcome> WriteRecord(Reading& reading, const RecordAt& at,
                                         OutputFile* instead, const std::string& outputPath) {
  OutputFile ownOutput;
  OutputFile& output = instead != nullptr ? *instead : ownOutput;
  const auto givenUp = [&](FileProblemKind kind, int error, const std::string& detail = {}) {
    output.Discard();
    reading.outcome.result = UnpackResult::OutputStopped;
    reading.outcome.problems = {{kind, at.recordNumber, at.record.name, detail, error}};
    return reading.outcome;
  };
  if (instead == nullptr && !output.Create(outputPath, reading.containerMode)) {
    const FileType inTheWay = output.Refused();
    return givenUp(FileProblemKind::kOutputNotMade, output.SystemError(),
                   inTheWay != FileType::kRegular ? FileTypeWords(inTheWay) : "");
  }
  reading.events.BlocksStarting(at.blockCount);
  // N - 1 residue bytes in, the L bytes of block positions 1..L out. All L of a
  // full block are written, the first r of the final block B; padding stays out.
  CheckedDecryptWork work(reading.cipher, reading.events);
  const std::int64_t blocksAt = reading.container.Position();
  const BlockLoopResult ran = reading.loop.Run(reading.container, output, at.blocks, work);
  reading.events.BlocksDone();
  if (ran == BlockLoopResult::ReadFailed) {
    return givenUp(FileProblemKind::kContainerNotRead, reading.container.SystemError());
  }
  if (ran == BlockLoopResult::WriteFailed) {
    return givenUp(FileProblemKind::kOutputNotWritten, output.SystemError());
  }
  FileIdentity existing;
  // A damaged record never replaces a file; where none stands, its bytes go
  // under a name that says what they are.
  if (work.Failed() > 0) {
    output.Discard();
    const std::string keptPath = outputPath + kDamagedSuffix;
    // A record for the caller's own output (OutputInstead) leaves nothing behind.
    const bool keep = instead == nullptr && !IdentifyFile(outputPath, existing) &&
                      keptPath.size() <= kMaxPathBytes && !IdentifyFile(keptPath, existing) &&
                      WriteDamagedCopy(reading.container, blocksAt, at.blocks, reading.cipher,
                                       keptPath, reading.containerMode);
    ReportDamaged(reading, at, work, keep ? keptPath : std::string());
    return std::nullopt;
  }
  // A file that came while the record was unpacked is kept as well.
  if (reading.passwordDoubted && IdentifyFile(outputPath, existing)) {
    output.Discard();
    ++reading.outcome.refused;
    reading.events.RecordRefused(
        {FileProblemKind::kExistingFileKept, at.recordNumber, at.record.name, {}});
    return std::nullopt;
  }
  if (!output.Commit()) return givenUp(FileProblemKind::kOutputNotWritten, output.SystemError());
  FileIdentity made;
  if (IdentifyFile(outputPath, made)) reading.unpackedFiles.insert(made);
  ++reading.outcome.unpacked;
  reading.events.RecordUnpacked(Unpacked(reading, at, outputPath));
  return std::nullopt;
}

// One record: its head read and checked, then its blocks checked only
// (writeFiles false) or its file written. The outcome that ends the reading, if
// any.
std::optional<UnpackOutcome> ReadRecord(Reading& reading, std::int32_t recordNumber,
                                        bool writeFiles) {
  const int blockLength = reading.cipher.BlockLength();
  const int residueCount = reading.cipher.Residues();
  RecordAt at{recordNumber, 0, {}, 0, 0, 0, {}};
  const char* headProblem =
      ReadRecordHead(reading.container, reading.containerBytes, at.record, at.nameBytes);
  if (headProblem != nullptr) return Stopped(reading.outcome, at, headProblem);
  at.blockCount = at.record.BlockCount(blockLength);
  const int tailBytes = at.record.Remainder(blockLength);
  at.plausibility = static_cast<std::int64_t>(residueCount - 1) * at.blockCount + recordNumber;
  at.blockBytesTotal = static_cast<std::int64_t>(at.blockCount) * (residueCount - 1);
  // The plausibility check of the format, then the exact one.
  if (at.plausibility > reading.containerBytes) {
    return Stopped(reading.outcome, at, "size larger than the container");
  }
  if (at.blockBytesTotal > reading.containerBytes - reading.container.Position()) {
    return Stopped(reading.outcome, at, "blocks run past the end of the container");
  }
  at.blocks = RecordBlocks{at.blockCount, static_cast<std::size_t>(residueCount - 1),
                           static_cast<std::size_t>(blockLength),
                           static_cast<std::size_t>(blockLength - tailBytes)};
  if (!writeFiles) {
    reading.events.BlocksStarting(at.blockCount);
    CheckedDecryptWork work(reading.cipher, reading.events);
    const bool read = CheckBlocks(reading.container, at.blocks, work, reading.options);
    reading.events.BlocksDone();
    if (!read) return Stopped(reading.outcome, at, "container could not be read");
    if (work.Failed() > 0) {
      ReportDamaged(reading, at, work, {});
    } else {
      reading.events.RecordWhole(Unpacked(reading, at, {}));
    }
    return std::nullopt;
  }
  std::string problem, outputPath;
  bool standing = false, skipped = false;
  OutputFile* instead = nullptr;
  problem = RefusalOf(reading, at, instead, outputPath, standing, skipped);
  if (skipped || !problem.empty() || (reading.passwordDoubted && standing)) {
    if (!skipped) {
      ++reading.outcome.refused;
      reading.events.RecordRefused(
          problem.empty()
              ? FileProblem{FileProblemKind::kExistingFileKept, recordNumber, at.record.name, {}}
              : FileProblem{FileProblemKind::kRecordRefused, recordNumber, at.record.name,
                            problem});
    }
    if (!reading.container.Skip(at.blockBytesTotal)) {
      return Stopped(reading.outcome, at, "container could not be read");
    }
    return std::nullopt;
  }
  return WriteRecord(reading, at, instead, outputPath);
}

UnpackOutcome ReadContainer(CipherWorkspace& workspace, const FilePassword& password,
                            const std::string& containerPath, const std::string& targetFolder,
                            UnpackEvents& events, const FileWorkOptions& options,
                            bool writeFiles) {
  UnpackOutcome outcome;
  FileCipher cipher(workspace, password);
  InputFile container;
  const auto notOpened = [&outcome](FileProblem problem) {
    outcome.result = UnpackResult::ContainerNotOpened;
    outcome.problems = {std::move(problem)};
    return outcome;
  };
  if (containerPath.size() > kMaxPathBytes) {
    return notOpened({FileProblemKind::kPathTooLong, 0, containerPath, {}});
  }
  if (!container.Open(containerPath)) {
    return notOpened(NotOpenedProblem(containerPath, container.Refused(), container.SystemError()));
  }
  bool passwordDoubted = false;
  std::int32_t fileCount = 0;
  if (std::optional<UnpackOutcome> stopped =
          ReadHeader(cipher, container, containerPath, events, passwordDoubted, fileCount)) {
    return std::move(*stopped);
  }
  events.RecordsStarting();

  // Blocks are read and decrypted a chunk at a time.
  BlockLoop loop(options);
  std::set<FileIdentity> unpackedFiles;
  const ExistingFile containerFile(containerPath);
  Reading reading{cipher,        container, containerPath,    targetFolder, events,
                  options,       loop,      containerFile,    unpackedFiles, outcome,
                  container.Mode(), container.Size(), passwordDoubted};
  for (std::int32_t recordIndex = 0; recordIndex < fileCount; ++recordIndex) {
    events.RecordStarting(recordIndex, fileCount);
    if (std::optional<UnpackOutcome> stopped = ReadRecord(reading, recordIndex + 1, writeFiles)) {
      return std::move(*stopped);
    }
  }
  // Bytes after the counted records: the file count is damaged (one bit of it
  // flipped, say), and those bytes hold records that were never counted.
  const std::int64_t containerBytes = reading.containerBytes;
  if (container.Position() < containerBytes) {
    outcome.result = UnpackResult::BytesAfterRecords;
    outcome.problems = {{FileProblemKind::kBytesAfterRecords, fileCount, containerPath,
                         std::to_string(containerBytes - container.Position())}};
  }
  return outcome;
}

}  // namespace

UnpackOutcome UnpackContainer(CipherWorkspace& workspace, const FilePassword& password,
                              const std::string& containerPath, const std::string& targetFolder,
                              UnpackEvents& events, const FileWorkOptions& options) {
  return ReadContainer(workspace, password, containerPath, targetFolder, events, options, true);
}

UnpackOutcome TestContainer(CipherWorkspace& workspace, const FilePassword& password,
                            const std::string& containerPath, UnpackEvents& events,
                            const FileWorkOptions& options) {
  return ReadContainer(workspace, password, containerPath, {}, events, options, false);
}

namespace {

// Walks the records under a block length; true when they end exactly at the
// container's end.
bool WalkRecords(const std::string& containerPath, int blockLength, ContainerListing& listing) {
  InputFile container;
  std::int32_t residueCount = 0;
  std::int32_t fileCount = 0;
  if (!container.Open(containerPath) || !container.ReadInt32(residueCount) || residueCount < 2 ||
      residueCount > kMaxResidueCount || !container.Skip(residueCount - 1) ||
      !container.ReadInt32(fileCount) || fileCount < 0) {
    return false;
  }
  const std::int64_t containerBytes = container.Size();
  listing.residueCount = residueCount;
  listing.records.clear();
  for (std::int32_t recordIndex = 0; recordIndex < fileCount; ++recordIndex) {
    FileRecord record;
    std::int32_t nameBytes = 0;
    if (ReadRecordHead(container, containerBytes, record, nameBytes) != nullptr) return false;
    const std::int64_t blocks =
        static_cast<std::int64_t>(record.BlockCount(blockLength)) * (residueCount - 1);
    if (blocks > containerBytes - container.Position() || !container.Skip(blocks)) return false;
    listing.records.push_back(std::move(record));
  }
  return container.Position() == containerBytes;
}

}  // namespace

ContainerListing ListContainer(const std::string& containerPath, int blockLength) {
  ContainerListing result;
  InputFile probe;
  if (containerPath.size() > kMaxPathBytes) return result;
  if (!probe.Open(containerPath)) {
    result.fileType = probe.Refused();
    result.systemError = probe.SystemError();
    return result;
  }
  result.header = CheckContainerHeader(probe);
  probe.Close();
  if (result.header != ContainerHeader::kFits) {
    result.result = ListResult::NotContainer;
    return result;
  }
  const int first = blockLength > 0 ? blockLength : kMinFilePasswordLength;
  const int last = blockLength > 0 ? blockLength : kMaxFilePasswordLength;
  bool found = false;
  for (int length = first; length <= last; ++length) {
    ContainerListing candidate;
    if (!WalkRecords(containerPath, length, candidate)) continue;
    if (found && candidate.records != result.records) {
      result.result = ListResult::BlockLengthUnknown;
      result.records.clear();
      return result;
    }
    if (!found) result = std::move(candidate);
    found = true;
  }
  result.result = found ? ListResult::Listed : ListResult::Damaged;
  return result;
}

}  // namespace resicrypt
