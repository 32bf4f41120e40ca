#include "container/pack.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

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

PackOutcome NotCreated(std::vector<FileProblem> problems) {
  PackOutcome outcome;
  outcome.result = PackResult::ContainerNotCreated;
  outcome.problems = std::move(problems);
  return outcome;
}

// The checks before anything is written, then the new container under its private
// temporary; the outcome when it is not made.
std::optional<PackOutcome> CreateContainer(OutputFile& container, const std::string& containerPath,
                                           const std::vector<std::string>& sources,
                                           const std::vector<std::string>& storedNames) {
  if (containerPath.size() > kMaxPathBytes) {
    return NotCreated({{FileProblemKind::kPathTooLong, 0, containerPath, {}}});
  }
  if (sources.size() > 0x7FFFFFFFu) {
    return NotCreated({{FileProblemKind::kTooManyFiles, 0, containerPath, {}}});
  }
  // A record that could not be unpacked, or a source the container would replace.
  // Names the caller gives it has checked in its own form (SourceProblems).
  if (std::vector<FileProblem> refused =
          storedNames.empty() ? SourceProblems(sources, containerPath) : std::vector<FileProblem>{};
      !refused.empty()) {
    return NotCreated(std::move(refused));
  }
  if (container.Create(containerPath)) return std::nullopt;
  // A folder in the way has always been a container that could not be made.
  const FileType refused = container.Refused();
  if (refused == FileType::kRegular || refused == FileType::kFolder) {
    return NotCreated({{FileProblemKind::kContainerNotMade, 0, containerPath,
                        refused == FileType::kFolder ? FileTypeWords(refused) : "",
                        container.SystemError()}});
  }
  return NotCreated({{FileProblemKind::kNotRegularFile, 0, containerPath, FileTypeWords(refused)}});
}

// What every record of one packing works with.
struct Packing {
  const FileCipher& cipher;
  OutputFile& container;
  const std::string& containerPath;
  BlockLoop& loop;
  PackEvents& events;
  const FileWorkOptions& options;
  const PackOutcome& outcome;  // so far
};

// One source as one record: its head, its full blocks, its final block. Nothing
// when it is packed; otherwise the outcome that ends the packing.
std::optional<PackOutcome> PackRecord(Packing& packing, const std::string& path,
                                      const std::string* storedName) {
  const int blockLength = packing.cipher.BlockLength();  // file bytes per block
  const auto encryptedBlockBytes = static_cast<std::size_t>(packing.cipher.EncryptedBlockBytes());
  OutputFile& container = packing.container;
  const std::int64_t recordStart = container.Position();
  InputFile source;
  const auto stop = [&](FileProblem problem) {
    return StopAtSource(container, recordStart, packing.outcome, std::move(problem),
                        packing.containerPath);
  };
  const auto notReadToEnd = [&] {
    return stop({FileProblemKind::kNotReadToEnd, 0, path, {}, source.SystemError()});
  };
  const auto notWritten = [&] { return NotWritten(container, packing.containerPath, packing.outcome); };
  if (path.size() > kMaxPathBytes) return stop({FileProblemKind::kPathTooLong, 0, path, {}});
  if (!source.Open(path)) return stop(NotOpenedProblem(path, source.Refused(), source.SystemError()));
  if (source.Size() > std::numeric_limits<std::int32_t>::max()) {
    return stop({FileProblemKind::kTooLarge, 0, path, {}});
  }
  const FileRecord record{storedName != nullptr ? *storedName : FileNamePart(path),
                          static_cast<std::int32_t>(source.Size())};
  const std::int32_t fullBlocks = record.FullBlocks(blockLength);
  const int tailBytes = record.Remainder(blockLength);
  packing.events.BlocksStarting(fullBlocks);

  // Record head: name length, name, file size.
  container.WriteInt32(static_cast<std::int32_t>(record.name.size()));
  container.Write(record.name.data(), record.name.size());
  container.WriteInt32(record.size);

  // Full blocks: blockLength source bytes in, one encrypted block out.
  CipherBlockWork work(packing.cipher, &FileCipher::EncryptBlocks, packing.events);
  const BlockLoopResult blocks = packing.loop.Run(
      source, container,
      RecordBlocks{fullBlocks, static_cast<std::size_t>(blockLength), encryptedBlockBytes, 0}, work);
  if (blocks == BlockLoopResult::ReadFailed) return notReadToEnd();
  if (blocks == BlockLoopResult::WriteFailed) return notWritten();

  // Final block, always present: the last tailBytes bytes and padding.
  unsigned char tail[kMaxFilePasswordLength];
  unsigned char finalBlock[kMaxResidueCount];
  if (!source.Read(tail, static_cast<std::size_t>(tailBytes))) return notReadToEnd();
  // A file that grew meanwhile, or one whose size says nothing of its content
  // (as files under /proc have), would be packed cut short without a word.
  if (!source.EndsAtSize()) return stop({FileProblemKind::kGrewWhileRead, 0, path, {}});
  packing.cipher.EncryptFinalBlock(tail, tailBytes, finalBlock, packing.options.paddingClock);
  source.Close();
  if (!container.Write(finalBlock, encryptedBlockBytes)) return notWritten();
  packing.events.SourcePacked(record, fullBlocks, blockLength, packing.cipher.Residues());
  return std::nullopt;
}

}  // namespace

PackOutcome PackContainer(CipherWorkspace& workspace, const FilePassword& password,
                          const std::string& containerPath, const std::vector<std::string>& sources,
                          PackEvents& events, const FileWorkOptions& options,
                          const std::vector<std::string>& storedNames) {
  FileCipher cipher(workspace, password);
  OutputFile container;
  if (std::optional<PackOutcome> notCreated =
          CreateContainer(container, containerPath, sources, storedNames)) {
    return std::move(*notCreated);
  }
  events.ContainerCreated();

  // Header: residue count, check block, file count.
  const auto fileCount = static_cast<std::int32_t>(sources.size());
  const CheckBlock check = cipher.MakeCheckBlock();
  container.WriteInt32(cipher.Residues());
  container.Write(check.residues.data(), static_cast<std::size_t>(cipher.EncryptedBlockBytes()));
  container.WriteInt32(fileCount);

  // Full blocks are read and encrypted a chunk at a time.
  PackOutcome outcome;
  BlockLoop loop(options);
  Packing packing{cipher, container, containerPath, loop, events, options, outcome};
  for (std::int32_t recordIndex = 0; recordIndex < fileCount; ++recordIndex) {
    events.SourceStarting(recordIndex, fileCount);
    const auto at = static_cast<std::size_t>(recordIndex);
    if (std::optional<PackOutcome> stopped =
            PackRecord(packing, sources[at], storedNames.empty() ? nullptr : &storedNames[at])) {
      return std::move(*stopped);
    }
    ++outcome.packed;
  }
  if (!container.Commit()) return NotWritten(container, containerPath, outcome);
  return outcome;
}

}  // namespace resicrypt
