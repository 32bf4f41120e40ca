#include "container/pack.h"

#include <algorithm>
#include <limits>

#include "container/binary_file.h"
#include "container/block_loop.h"
#include "container/container_path.h"

namespace resicrypt {

namespace {

// Ends the packing at a source that cannot be read: the container keeps its
// header and the complete records before this source (its file count still says
// all of them), as it does when a source cannot be opened at all.
PackOutcome StopAtSource(OutputFile& container, std::int64_t recordStart, PackOutcome outcome,
                         FileProblemKind kind, const std::string& source) {
  outcome.result = PackResult::SourceNotRead;
  outcome.problems.push_back({kind, 0, source, {}});
  const bool kept =
      (container.Position() == recordStart || container.CutBack(recordStart)) && container.Commit();
  if (!kept) outcome.problems.push_back({FileProblemKind::kNotKept, 0, {}, {}});
  return outcome;
}

// Full blocks: L source bytes in, N - 1 residue bytes out.
class PackWork : public BlockWork {
 public:
  PackWork(const FileCipher& cipher, PackEvents& events) : cipher_(cipher), events_(events) {}
  void Transform(const unsigned char* in, std::size_t count, unsigned char* out) const override {
    cipher_.EncryptBlocks(in, count, out);
  }
  void Due(std::int32_t block) override { events_.BlockDue(block); }

 private:
  const FileCipher& cipher_;
  PackEvents& events_;
};

PackOutcome NotWritten(OutputFile& container, const std::string& containerPath,
                       PackOutcome outcome) {
  container.Discard();
  outcome.result = PackResult::ContainerNotWritten;
  outcome.problems = {{FileProblemKind::kNotWritten, 0, containerPath, {}}};
  return outcome;
}

}  // namespace

PackOutcome PackContainer(CipherWorkspace& workspace, const FilePassword& password,
                          const std::string& containerPath, const std::vector<std::string>& sources,
                          PackEvents& events, const FileWorkOptions& options) {
  PackOutcome outcome;
  FileCipher cipher(workspace, password);
  const int L = cipher.BlockLength();
  const int N = cipher.Residues();
  const auto blockBytes = static_cast<std::size_t>(cipher.EncryptedBlockBytes());
  const auto plainBytes = static_cast<std::size_t>(L);

  OutputFile container;
  const auto notCreated = [&outcome, &containerPath](FileProblemKind kind) {
    outcome.result = PackResult::ContainerNotCreated;
    outcome.problems = {{kind, 0, containerPath, {}}};
    return outcome;
  };
  if (containerPath.size() > kMaxPathBytes) return notCreated(FileProblemKind::kPathTooLong);
  if (sources.size() > 0x7FFFFFFFu) return notCreated(FileProblemKind::kTooManyFiles);
  if (!container.Create(containerPath)) return notCreated(FileProblemKind::kContainerNotMade);
  events.ContainerCreated();

  // Header: residue count, check block, file count.
  const auto fileCount = static_cast<std::int32_t>(sources.size());
  const CheckBlock check = cipher.MakeCheckBlock();
  container.WriteInt32(N);
  container.Write(check.residues.data(), blockBytes);
  container.WriteInt32(fileCount);

  // Full blocks are read and encrypted a chunk at a time.
  BlockLoop loop(options);
  for (std::int32_t k = 0; k < fileCount; ++k) {
    events.SourceStarting(k, fileCount);
    const std::string& path = sources[static_cast<std::size_t>(k)];
    const std::int64_t recordStart = container.Position();
    InputFile source;
    if (path.size() > kMaxPathBytes) {
      return StopAtSource(container, recordStart, outcome, FileProblemKind::kPathTooLong, path);
    }
    if (!source.Open(path)) {
      return StopAtSource(container, recordStart, outcome, FileProblemKind::kNotOpened, path);
    }
    if (source.Size() > std::numeric_limits<std::int32_t>::max()) {
      return StopAtSource(container, recordStart, outcome, FileProblemKind::kTooLarge, path);
    }
    FileRecord record{FileNamePart(path), static_cast<std::int32_t>(source.Size())};
    const std::int32_t full = record.FullBlocks(L);
    const int r = record.Remainder(L);
    events.BlocksStarting(full);

    // Record head: name length, name, file size.
    container.WriteInt32(static_cast<std::int32_t>(record.name.size()));
    container.Write(record.name.data(), record.name.size());
    container.WriteInt32(record.size);

    PackWork work(cipher, events);
    switch (loop.Run(source, container, RecordBlocks{full, plainBytes, blockBytes, 0}, work)) {
      case BlockLoopResult::Done:
        break;
      case BlockLoopResult::ReadFailed:
        return StopAtSource(container, recordStart, outcome, FileProblemKind::kNotReadToEnd,
                            path);
      case BlockLoopResult::WriteFailed:
        return NotWritten(container, containerPath, outcome);
    }

    // Final block, always present: the last r bytes and padding.
    unsigned char tail[kMaxFilePasswordLength];
    unsigned char finalBlock[kMaxResidueCount];
    if (!source.Read(tail, static_cast<std::size_t>(r))) {
      return StopAtSource(container, recordStart, outcome, FileProblemKind::kNotReadToEnd, path);
    }
    cipher.EncryptFinalBlock(tail, r, finalBlock, options.paddingClock);
    source.Close();
    if (!container.Write(finalBlock, blockBytes)) {
      return NotWritten(container, containerPath, outcome);
    }
    ++outcome.packed;
    events.SourcePacked(record, full, L, N);
  }
  if (!container.Commit()) return NotWritten(container, containerPath, outcome);
  return outcome;
}

}  // namespace resicrypt
