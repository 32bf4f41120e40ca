#include "container/pack.h"

#include <algorithm>
#include <limits>

#include "container/binary_file.h"
#include "container/block_loop.h"
#include "container/container_path.h"

namespace resicrypt {

namespace {

// Ends the packing at a source that cannot be read. A new container keeps its
// header and the complete records before this source (its file count still says
// all of them), as it does when a source cannot be opened at all; a file that
// stood at its path is kept as it was, as a container that says more files than
// it holds is worth less than the one it would replace.
PackOutcome StopAtSource(OutputFile& container, std::int64_t recordStart, PackOutcome outcome,
                         FileProblem problem, const std::string& containerPath) {
  outcome.result = PackResult::SourceNotRead;
  outcome.problems.push_back(std::move(problem));
  if (container.ReplacesFile()) {
    container.Discard();
    outcome.problems.push_back({FileProblemKind::kContainerKept, 0, containerPath, {}});
    return outcome;
  }
  const bool kept =
      (container.Position() == recordStart || container.CutBack(recordStart)) && container.Commit();
  if (!kept) {
    outcome.problems.push_back(
        {FileProblemKind::kNotKept, 0, containerPath, {}, container.SystemError()});
  }
  return outcome;
}

PackOutcome NotWritten(OutputFile& container, const std::string& containerPath,
                       PackOutcome outcome) {
  const int error = container.SystemError();
  container.Discard();
  outcome.result = PackResult::ContainerNotWritten;
  outcome.problems = {{FileProblemKind::kNotWritten, 0, containerPath, {}, error}};
  return outcome;
}

}  // namespace

PackOutcome PackContainer(CipherWorkspace& workspace, const FilePassword& password,
                          const std::string& containerPath, const std::vector<std::string>& sources,
                          PackEvents& events, const FileWorkOptions& options,
                          const std::vector<std::string>& storedNames) {
  PackOutcome outcome;
  FileCipher cipher(workspace, password);
  const int L = cipher.BlockLength();
  const int N = cipher.Residues();
  const auto blockBytes = static_cast<std::size_t>(cipher.EncryptedBlockBytes());
  const auto plainBytes = static_cast<std::size_t>(L);

  OutputFile container;
  const auto notCreated = [&outcome, &containerPath](
                              FileProblemKind kind, const std::string& detail = {}, int error = 0) {
    outcome.result = PackResult::ContainerNotCreated;
    outcome.problems = {{kind, 0, containerPath, detail, error}};
    return outcome;
  };
  if (containerPath.size() > kMaxPathBytes) return notCreated(FileProblemKind::kPathTooLong);
  if (sources.size() > 0x7FFFFFFFu) return notCreated(FileProblemKind::kTooManyFiles);
  // A record that could not be unpacked, or a source the container would replace.
  // Names the caller gives it has checked in its own form (SourceProblems).
  if (std::vector<FileProblem> refused =
          storedNames.empty() ? SourceProblems(sources, containerPath) : std::vector<FileProblem>{};
      !refused.empty()) {
    outcome.result = PackResult::ContainerNotCreated;
    outcome.problems = std::move(refused);
    return outcome;
  }
  if (!container.Create(containerPath)) {
    // A folder in the way has always been a container that could not be made.
    const FileType refused = container.Refused();
    if (refused == FileType::kRegular || refused == FileType::kFolder) {
      return notCreated(FileProblemKind::kContainerNotMade,
                        refused == FileType::kFolder ? FileTypeWords(refused) : "",
                        container.SystemError());
    }
    return notCreated(FileProblemKind::kNotRegularFile, FileTypeWords(refused));
  }
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
    const auto stop = [&](FileProblem problem) {
      return StopAtSource(container, recordStart, outcome, std::move(problem), containerPath);
    };
    const auto notReadToEnd = [&] {
      return stop({FileProblemKind::kNotReadToEnd, 0, path, {}, source.SystemError()});
    };
    if (path.size() > kMaxPathBytes) return stop({FileProblemKind::kPathTooLong, 0, path, {}});
    if (!source.Open(path)) {
      return stop(NotOpenedProblem(path, source.Refused(), source.SystemError()));
    }
    if (source.Size() > std::numeric_limits<std::int32_t>::max()) {
      return stop({FileProblemKind::kTooLarge, 0, path, {}});
    }
    FileRecord record{
        storedNames.empty() ? FileNamePart(path) : storedNames[static_cast<std::size_t>(k)],
        static_cast<std::int32_t>(source.Size())};
    const std::int32_t full = record.FullBlocks(L);
    const int r = record.Remainder(L);
    events.BlocksStarting(full);

    // Record head: name length, name, file size.
    container.WriteInt32(static_cast<std::int32_t>(record.name.size()));
    container.Write(record.name.data(), record.name.size());
    container.WriteInt32(record.size);

    // Full blocks: L source bytes in, N - 1 residue bytes out.
    CipherBlockWork work(cipher, &FileCipher::EncryptBlocks, events);
    const BlockLoopResult blocks =
        loop.Run(source, container, RecordBlocks{full, plainBytes, blockBytes, 0}, work);
    if (blocks == BlockLoopResult::ReadFailed) return notReadToEnd();
    if (blocks == BlockLoopResult::WriteFailed) {
      return NotWritten(container, containerPath, outcome);
    }

    // Final block, always present: the last r bytes and padding.
    unsigned char tail[kMaxFilePasswordLength];
    unsigned char finalBlock[kMaxResidueCount];
    if (!source.Read(tail, static_cast<std::size_t>(r))) return notReadToEnd();
    // A file that grew meanwhile, or one whose size says nothing of its content
    // (as files under /proc have), would be packed cut short without a word.
    if (!source.EndsAtSize()) return stop({FileProblemKind::kGrewWhileRead, 0, path, {}});
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
