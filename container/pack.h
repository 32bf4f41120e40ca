// Packing files into a ContainerFile: the writer behind Encrypt File and
// `resicrypt-cli pack`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "container/file_cipher.h"
#include "container/file_problem.h"
#include "engine/cipher_workspace.h"
#include "engine/keys.h"

namespace resicrypt {

// What the packer tells its caller as it goes, in this order: ContainerCreated
// once; per source SourceStarting, then (once it is open) BlocksStarting, BlockDue
// every (full div 100) + 1 full blocks, and SourcePacked.
class PackEvents {
 public:
  virtual ~PackEvents() = default;
  virtual void ContainerCreated() {}
  virtual void SourceStarting(std::int32_t /*index*/, std::int32_t /*fileCount*/) {}
  virtual void BlocksStarting(std::int32_t /*fullBlocks*/) {}
  virtual void BlockDue(std::int32_t /*block*/) {}
  // blockLength: file bytes per block (the password's length); residueCount: the
  // container's residue count.
  virtual void SourcePacked(const FileRecord& /*record*/, std::int32_t /*fullBlocks*/,
                            int /*blockLength*/, int /*residueCount*/) {}
};

enum class PackResult {
  Packed,               // every source packed, the container in place
  ContainerNotCreated,  // nothing written
  SourceNotRead,        // a new container holds the records before this source; a file
                        // that stood at the container's path is kept as it was instead
  ContainerNotWritten,  // a write or close failed; the target keeps its earlier content
};

struct PackOutcome {
  PackResult result = PackResult::Packed;
  std::vector<FileProblem> problems;  // what stopped the packing, in order
  std::int32_t packed = 0;            // records complete in the container
};

// Writes the container in one pass: header, then one record per source. Sources
// that SourceProblems refuses are refused before anything is written
// (ContainerNotCreated, with its problems). The file
// count says sources.size() from the start; a source that cannot be opened or read
// to its end stops the packing. Where no file stood, the container is then left
// with the complete records before that source; a file that stood there is never
// replaced by an incomplete container (kContainerKept). The events are called on
// the calling thread. storedNames, when given, holds the name each record stores
// (the caller has checked them with SourceProblems, in the file system's form,
// and they are not checked again); otherwise a record stores its path's file name.
PackOutcome PackContainer(CipherWorkspace& workspace, const FilePassword& password,
                          const std::string& containerPath, const std::vector<std::string>& sources,
                          PackEvents& events, const FileWorkOptions& options = {},
                          const std::vector<std::string>& storedNames = {});

}  // namespace resicrypt
