// The few file calls the container needs, on POSIX and on Win32 (ANSI paths, in
// the system code page). A file is opened once and then read and written at
// offsets only: two threads may use one handle at once at different offsets,
// and renaming or replacing the file by its name leaves an open handle on the
// file it opened.
//
// Only regular files are read or replaced: a folder, a device, a pipe or a socket
// is refused by its type, told without opening it for blocking reads or writes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace resicrypt {

// What stands at a path, as far as the file commands care.
enum class FileType { kMissing, kRegular, kFolder, kDevice, kPipe, kSocket, kOther };

// The words for a type that is refused: "a folder", "a device", "a named pipe", ...
const char* FileTypeWords(FileType type);

// Permission bits of a POSIX file (0666 unless told otherwise). On Windows only
// one distinction is kept: an owner-only file (read as 0600: nobody but its owner
// may read it, the system and the administrators aside) or any other (0666).
using FileMode = std::uint32_t;
constexpr FileMode kDefaultFileMode = 0666;
constexpr FileMode kOwnerOnlyFileMode = 0600;

class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(FileHandle&& other) noexcept
      : native_(std::exchange(other.native_, kClosed)),
        openedSize_(other.openedSize_),
        error_(other.error_.load()),
        refused_(other.refused_) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    std::swap(native_, other.native_);
    openedSize_ = other.openedSize_;
    error_.store(other.error_.load());
    refused_ = other.refused_;
    return *this;
  }
  ~FileHandle() { Close(); }

  // An existing regular file, for reading only. When it is not opened, Error()
  // or Refused() tells why.
  static FileHandle OpenForReading(const std::string& path);
  // The length the file had when OpenForReading opened it, as the call that told
  // its type saw it; -1 for a handle opened otherwise.
  std::int64_t OpenedSize() const { return openedSize_; }

  bool IsOpen() const { return native_ != kClosed; }
  // Exactly count bytes at offset; false on an error or an early end.
  bool ReadAt(std::int64_t offset, void* data, std::size_t count) const;
  bool WriteAt(std::int64_t offset, const void* data, std::size_t count) const;
  // Up to count bytes at offset, fewer only where the file ends: the count read,
  // -1 on an error. Once it holds at least minimum bytes, a read that brings
  // fewer than asked is taken as the end, without a further read to confirm it.
  std::int64_t ReadUpTo(std::int64_t offset, void* data, std::size_t count,
                        std::size_t minimum) const;
  // The length of the file now; -1 when it cannot be told.
  std::int64_t Size() const;
  // The permission bits of the open file (on Windows 0600 or 0666, see FileMode).
  FileMode Mode() const;
  // Keeps the first length bytes.
  bool Cut(std::int64_t length) const;
  // False when closing reports an error (a write that failed late).
  bool Close();

  // The system's code (errno, GetLastError) of the last call on this handle that
  // failed with one; 0 when none did.
  int Error() const { return error_.load(); }
  // The type of a file that was not opened because of it; kRegular otherwise.
  FileType Refused() const { return refused_; }

 private:
  friend class ReplacementFile;
  // A HANDLE on Windows, a descriptor elsewhere.
  static constexpr std::intptr_t kClosed = -1;
  explicit FileHandle(std::intptr_t native) : native_(native) {}
  static FileHandle Failed(int error, FileType refused = FileType::kRegular) {
    FileHandle handle;
    handle.error_.store(error);
    handle.refused_ = refused;
    return handle;
  }
  // Exactly count bytes at offset through move (os::Read or os::Write), a part
  // at a time as the system takes them.
  template <typename Byte, typename Move>
  bool MoveAll(std::int64_t offset, Byte* bytes, std::size_t count, Move move) const;
  void Note(int error) const {
    if (error != 0) error_.store(error);
  }

  std::intptr_t native_ = kClosed;
  std::int64_t openedSize_ = -1;
  mutable std::atomic<int> error_{0};  // both threads of a record's blocks may fail
  FileType refused_ = FileType::kRegular;
};

// A new file that takes the place of the file at a path only when it is complete.
// Until then it lives in the target's folder where nobody else can read it, and a
// process that ends on the way leaves nothing of it behind:
// - on Linux it has no name at all (O_TMPFILE) where the file system allows; else
//   it is "~rcXXXXXX.tmp", owner-only, removed by a handler of every signal whose
//   default ends the process (SIGKILL cannot be caught: only the unnamed file
//   survives that), while that name still leads to it;
// - on Windows it is "~rcXXXXXX.tmp", opened for no one else and marked for
//   deletion until it is put in place, so the system removes it however the
//   process ends; a file that cannot be marked is given up at once. It is made
//   owner-only (a protected access list for this process's user alone) when the
//   finished file will be.
// What is left is an instant: a kill from outside between creating the Windows
// file and marking it (or a signal between creating a named Linux file and
// arming its removal) leaves it empty, and one between naming the complete file
// and renaming it over the target leaves it under its "~rc" name (on Linux only
// when a file was there to be replaced).
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  ~ReplacementFile() { Abandon(); }

  // Starts the file for path. False when a file is there that may not be replaced
  // (Refused() says its type when that is why; Error() the system's code) or when
  // no new file can be made in the folder. The new file keeps the permissions of
  // the file it replaces; widestMode bounds those of a new file (on Windows:
  // owner-only when widestMode gives nothing to group and others).
  bool Begin(const std::string& path, FileMode widestMode = kDefaultFileMode);
  // Starts a file in folder that never takes a name: on Linux an unnamed file
  // (O_TMPFILE; where the file system has none, a file removed as soon as it is
  // made), on Windows an owner-only file deleted when it is closed, which the
  // system does however the process ends. Place() keeps it open for reading back
  // (File()); it goes with Abandon().
  bool BeginUnnamed(const std::string& folder);
  const FileHandle& File() const { return file_; }
  // True when a file stood at the path when Begin looked.
  bool ReplacesFile() const { return replaces_; }

  // Puts the file in place of the target (closing it), or gives it up. False
  // when that failed; the file is then gone and the target as it was.
  bool Place();
  void Abandon();

  int Error() const { return error_ != 0 ? error_ : file_.Error(); }
  FileType Refused() const { return refused_; }

 private:
  // Each system's halves of Begin. CheckTarget sets replaces_ and mode_ (or
  // refused_ or error_ when the target may not be replaced); MakeFile opens file_.
  bool CheckTarget();
  bool MakeFile();
  bool MakeUnnamedFile(const std::string& folder);

  FileHandle file_;
  std::string path_;
  std::string temporaryPath_;  // empty while the file has no name
  int pendingSlot_ = -1;       // where the signal handler finds temporaryPath_
  FileMode mode_ = kDefaultFileMode;
  bool modeGiven_ = false;  // made with mode_ already (POSIX)
  bool replaces_ = false;
  bool scratch_ = false;  // BeginUnnamed: never placed
  int error_ = 0;
  FileType refused_ = FileType::kRegular;
};

#ifdef _WIN32
// Ends the process at once with status, as a failed run: a replacement file being
// made or put in place is finished with first, and every one not yet in place
// goes with the process.
[[noreturn]] void EndProcessLeavingNoFile(int status);
#endif

// Whether FileHandle::OpenForReading would open a file, where only the answer
// counts (the sources checked before a pack): the file is opened and closed
// again, fewer calls than a handle to read takes. refused and error say why not,
// as Refused() and Error() of a handle do; size is its length when opened.
struct ReadProbe {
  bool readable = false;
  FileType refused = FileType::kRegular;
  int error = 0;
  std::int64_t size = -1;
};
ReadProbe ProbeForReading(const std::string& path);

// Identifies the file at a path, without following a final symbolic link: two
// names are one file when their identities are equal. False when nothing is there.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator<(const FileIdentity& other) const {
    return volume != other.volume ? volume < other.volume : index < other.index;
  }
};
bool IdentifyFile(const std::string& path, FileIdentity& identity);
// The same for the file that opening the path reaches: a final link followed.
bool IdentifyLinkedFile(const std::string& path, FileIdentity& identity);
// Both at once, with one look at a path that is no link: known[0] and ids[0] as
// IdentifyFile gives them, known[1] and ids[1] as IdentifyLinkedFile does.
struct PathIdentities {
  FileIdentity ids[2];
  bool known[2] = {false, false};
};
PathIdentities IdentifyPath(const std::string& path);

// What stands at a path, told without opening it for reading or writing (a link
// followed): kMissing when nothing is there, kRegular too when the type cannot
// be told (opening the file then says why).
FileType FileTypeAt(const std::string& path);

// The path made full where a drive's own current folder would decide it: on
// Windows "Y:box.yal" lies in Y:'s current folder, not in the process's, so its
// folder cannot be taken from its spelling. Unchanged elsewhere, and when the
// system cannot make it full.
std::string FullPath(const std::string& path);

// The system's words for an error code from Error().
std::string SystemErrorText(int error);

// A file or folder this process made under a name, that no signal may leave
// behind: while this lives, the handler of every signal whose default ends the
// process removes it (a folder once the files armed in it are gone), as long as
// the name leads to what it led to when armed. SIGKILL aside. On Windows nothing:
// files there go by delete-on-close.
class RemovedOnSignal {
 public:
  explicit RemovedOnSignal(const std::string& path);
  RemovedOnSignal(const RemovedOnSignal&) = delete;
  RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;
  ~RemovedOnSignal();

 private:
  int slot_ = -1;
};

// True when the byte begins a two-byte character of the names the narrow calls
// take: a lead byte of the ANSI code page on Windows (932, 936, 949 and 950 have
// them, and their trail byte may be a backslash or a letter); never elsewhere,
// where names are UTF-8 and no ASCII byte lies inside a character.
bool IsNameLeadByte(char c);

// Tests only: with false, every replacement file is made under a name, as on a
// file system without unnamed files.
void AllowUnnamedFiles(bool allowed);

}  // namespace resicrypt
