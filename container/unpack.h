// Unpacking a ContainerFile: the reader behind Decrypt File and
// `resicrypt-cli unpack` / `list`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "container/container_header.h"
#include "container/file_cipher.h"
#include "container/file_problem.h"
#include "container/platform_file.h"
#include "engine/cipher_workspace.h"
#include "engine/keys.h"

namespace resicrypt {

class OutputFile;

// The numbers Decrypt File reports for one unpacked record.
struct UnpackedRecord {
  FileRecord record;
  std::int32_t blockCount = 0;     // B = S div L + 1, the final block counted
  int blockLength = 0;             // L
  int residueCount = 0;            // N
  std::int64_t plausibility = 0;   // C = (N - 1) x B + i
  std::int64_t containerSize = 0;  // T
  std::string outputPath;
};

// A record some of whose blocks failed their check (a residue at or above its
// modulus, or a rebuilt value at or above 256^L): changed bytes, or a password
// whose check block differed. It never takes the place of a file that stands
// under its name; where none stands, its decrypted bytes go to the name with
// kDamagedSuffix added (unless a file stands there too), so that no one takes
// them for the whole file.
constexpr char kDamagedSuffix[] = ".damaged";
struct DamagedRecord {
  std::int32_t index = 0;         // i
  std::string name;               // as stored
  std::int64_t failedBlocks = 0;  // how many of its B blocks failed
  std::int64_t firstByte = 0;     // where the first of them starts in the file: (m - 1) x L
  std::string keptPath;           // the file its bytes went to; empty when none was written
};

// What the unpacker tells its caller as it goes. WrongPassword is asked once per
// check-block position that differs from the password, in ascending order; true
// stops the unpacking there. Then RecordsStarting once; per record RecordStarting,
// and for a record that is written BlocksStarting, BlockDue every (B div 100) + 1
// blocks, BlocksDone and RecordUnpacked. A record whose name may not be used is
// passed to RecordRefused (a kRecordRefused problem) and skipped; so is one that
// would replace a file while the password is in doubt (kExistingFileKept).
class UnpackEvents {
 public:
  virtual ~UnpackEvents() = default;
  virtual bool WrongPassword() = 0;
  virtual void RecordsStarting() {}
  virtual void RecordStarting(std::int32_t /*index*/, std::int32_t /*fileCount*/) {}
  virtual void BlocksStarting(std::int32_t /*blockCount*/) {}
  virtual void BlockDue(std::int32_t /*block*/) {}
  virtual void BlocksDone() {}
  virtual void RecordUnpacked(const UnpackedRecord& /*report*/) {}
  virtual void RecordRefused(const FileProblem& /*problem*/) {}
  // In place of RecordUnpacked for a record whose blocks failed their check.
  virtual void RecordDamaged(const DamagedRecord& /*record*/) {}
  // TestContainer: a record whose blocks all passed.
  virtual void RecordWhole(const UnpackedRecord& /*report*/) {}
  // The name a record's file takes in the target folder, for its stored name:
  // the stored name unless the caller converts it; StoredNameProblem then
  // judges the name given. A problem set refuses the record; an empty name for
  // a stored name that is not empty skips it unsaid.
  virtual std::string OutputName(const std::string& storedName, std::string& /*problem*/) {
    return storedName;
  }
  // Where the record whose name just passed is written instead of a file of the
  // target folder: a file the caller made and reads back itself (unpack
  // --to-stdout), which no folder's file is checked against; nullptr for the folder.
  virtual OutputFile* OutputInstead() { return nullptr; }
};

enum class UnpackResult {
  Unpacked,             // every record read; refused records are counted apart
  ContainerNotOpened,   // nothing read
  PasswordLengthWrong,  // the stored residue count is not this password's N
  PasswordWrong,        // a differing check-block position was answered with a stop
  ContainerDamaged,     // the header cannot be read or makes no sense; nothing written
  RecordStopped,        // a damaged record stopped the unpacking before its file was begun
  OutputStopped,        // an output file could not be created, read for or written; removed
  BytesAfterRecords,    // every counted record read, and bytes follow them: the file count
                        // is damaged (a kBytesAfterRecords problem)
};

struct UnpackOutcome {
  UnpackResult result = UnpackResult::Unpacked;
  std::vector<FileProblem> problems;  // what stopped the unpacking
  std::int32_t unpacked = 0;
  std::int32_t refused = 0;
  std::int32_t damaged = 0;  // records with blocks that failed their check
};

// Reads the container in one pass and recreates each record's file as
// targetFolder + name (targetFolder empty or ending in a separator). An output
// file is in place only when all its blocks were read and written; files of
// earlier records stay. A record whose name leads to a file unpacked before in this
// run is refused. After a differing check block that WrongPassword let through, no
// file that stands in the folder is replaced: its record is skipped. A new file's
// permissions are those of the file it replaces, or at most the container's
// (ReplacementFile). The events are called on the calling thread.
UnpackOutcome UnpackContainer(CipherWorkspace& workspace, const FilePassword& password,
                              const std::string& containerPath, const std::string& targetFolder,
                              UnpackEvents& events, const FileWorkOptions& options = {});

// The same reading, and every block checked, with nothing written anywhere:
// names are not judged, and no file is made. Whole records are passed to
// RecordWhole, the others to RecordDamaged (keptPath empty).
UnpackOutcome TestContainer(CipherWorkspace& workspace, const FilePassword& password,
                            const std::string& containerPath, UnpackEvents& events,
                            const FileWorkOptions& options = {});

// Names and sizes of a container's records, read without the password. The block
// length is not stored: with blockLength 0 it is taken as the length from 3 to 23
// for which the records fill the container exactly; when lengths that fit give
// different listings, or none fits, the container cannot be listed.
enum class ListResult {
  Listed,
  NotOpened,           // systemError, or fileType when it is no regular file
  NotContainer,        // header says why: too short, or no residue count first
  Damaged,             // a header that reads, but no block length lets the records fill it
  BlockLengthUnknown,  // lengths that fit give different listings: give the password
};
struct ContainerListing {
  ListResult result = ListResult::NotOpened;
  FileType fileType = FileType::kRegular;  // NotOpened: what stands there instead
  int systemError = 0;                     // NotOpened: the system's code, if it gave one
  ContainerHeader header = ContainerHeader::kFits;  // NotContainer: why not
  int residueCount = 0;
  std::vector<FileRecord> records;
};
ContainerListing ListContainer(const std::string& containerPath, int blockLength = 0);

}  // namespace resicrypt
