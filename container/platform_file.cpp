#include "container/platform_file.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>

#include "container/container_path.h"

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>

#include <vector>
#else
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#endif

namespace resicrypt {

namespace {

std::atomic<bool> unnamedAllowed{true};

// "~rcXXXXXX.tmp" in the folder of path, a new draw each call.
std::string TemporaryNameBeside(const std::string& path) {
  static int anchor = 0;
  static std::atomic<std::uint32_t> state{
      static_cast<std::uint32_t>(std::time(nullptr)) ^
      static_cast<std::uint32_t>(std::clock()) * 2654435761u ^
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&anchor) >> 4)};
  const std::uint32_t draw = state.fetch_add(0x9E3779B9u) * 1664525u + 1013904223u;
  char name[20];
  std::snprintf(name, sizeof name, "~rc%06x.tmp", static_cast<unsigned>(draw >> 8));
  return FolderPart(FullPath(path)) + name;  // "Y:box.yal": in Y:'s folder, not ours
}

constexpr int kNameAttempts = 16;

}  // namespace

const char* FileTypeWords(FileType type) {
  switch (type) {
    case FileType::kMissing:
      return "no file";
    case FileType::kRegular:
      return "a file";
    case FileType::kFolder:
      return "a folder";
    case FileType::kDevice:
      return "a device";
    case FileType::kPipe:
      return "a named pipe";
    case FileType::kSocket:
      return "a socket";
    case FileType::kOther:
      break;
  }
  return "a special file";
}

void AllowUnnamedFiles(bool allowed) { unnamedAllowed.store(allowed); }

bool FileHandle::ReadAt(std::int64_t offset, void* data, std::size_t count) const {
  auto* bytes = static_cast<unsigned char*>(data);
  while (count > 0) {
    const std::size_t got = ReadSome(offset, bytes, count);
    if (got == 0) return false;
    bytes += got;
    count -= got;
    offset += static_cast<std::int64_t>(got);
  }
  return true;
}

bool FileHandle::WriteAt(std::int64_t offset, const void* data, std::size_t count) const {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (count > 0) {
    const std::size_t put = WriteSome(offset, bytes, count);
    if (put == 0) return false;
    bytes += put;
    count -= put;
    offset += static_cast<std::int64_t>(put);
  }
  return true;
}

bool FileHandle::HasByteAt(std::int64_t offset) const {
  unsigned char byte = 0;
  return ReadSome(offset, &byte, 1) == 1;
}

#ifdef _WIN32

namespace {

// Others may read and write the file meanwhile, as the C library's fopen lets them.
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Raw(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags = FILE_ATTRIBUTE_NORMAL, SECURITY_ATTRIBUTES* security = nullptr) {
  return CreateFileA(path.c_str(), access, share, security, disposition, flags, nullptr);
}

// A HANDLE's type as the file commands see it: only disk files are files.
FileType TypeOfHandle(HANDLE handle) {
  switch (GetFileType(handle)) {
    case FILE_TYPE_DISK: {
      // A volume or a disk opened by a \\.\ name is a disk too, but no file.
      BY_HANDLE_FILE_INFORMATION info{};
      if (!GetFileInformationByHandle(handle, &info)) return FileType::kDevice;
      if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileType::kFolder;
      if ((info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) return FileType::kDevice;
      return FileType::kRegular;
    }
    case FILE_TYPE_CHAR:
      return FileType::kDevice;
    case FILE_TYPE_PIPE:
      return FileType::kPipe;
    default:
      return FileType::kOther;
  }
}

bool NothingThere(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A handle opened without FILE_FLAG_OVERLAPPED still takes its offset from the
// OVERLAPPED, and returns when the transfer is done.
OVERLAPPED At(std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return at;
}

DWORD Most(std::size_t count) { return static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30)); }

bool MarkForDeletion(HANDLE handle, bool marked) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = marked ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// The SID of the user this process runs as; empty when it cannot be told.
const std::vector<BYTE>& TokenUserSid() {
  static const std::vector<BYTE> sid = [] {
    std::vector<BYTE> copy;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return copy;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> info(size);
    if (size > 0 && GetTokenInformation(token, TokenUser, info.data(), size, &size)) {
      const PSID user = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
      copy.assign(static_cast<BYTE*>(user), static_cast<BYTE*>(user) + GetLengthSid(user));
    }
    CloseHandle(token);
    return copy;
  }();
  return sid;
}

// True when nobody but the file's owner (or this process's user) may read the
// open file, the system and the administrators aside, who can reach every file.
// A file whose access list cannot be read counts as owner-only: its copies are
// then never wider. Inherit-only entries do not apply to the file itself, and
// deny entries are left out (a deny can only narrow it).
//
// Under Wine a file's access list is made from its Unix mode (measured, Wine 8,
// in SDDL): 0600 and 0640 read as D:(A;;FA;;;SY)(A;;FA;;;<user>), 0644 adds
// (A;;0x1200a9;;;WD) and 0666 (A;;0x1301ff;;;WD). The group bits do not show, so
// a 0640 container counts as owner-only there.
bool OnlyOwnerReads(HANDLE handle) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return true;
  }
  const std::vector<BYTE>& user = TokenUserSid();
  bool only = dacl != nullptr;  // a NULL access list lets everyone in
  for (DWORD k = 0; only && k < dacl->AceCount; ++k) {
    void* entry = nullptr;
    if (!GetAce(dacl, k, &entry)) {
      only = false;
      break;
    }
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      continue;
    }
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      only = false;  // a conditional or object entry: not told apart here
      break;
    }
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) == 0) continue;
    const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    only = (owner != nullptr && EqualSid(sid, owner)) ||
           (!user.empty() && EqualSid(sid, const_cast<BYTE*>(user.data()))) ||
           IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
  }
  LocalFree(descriptor);
  return only;
}

// The access list of an owner-only new file: protected (nothing inherited from
// the folder) and one entry, for this process's user. Given at creation, so the
// file is never readable by more users, not even for an instant. Under Wine
// such a file is -rw-r----- (Wine lets the group's read follow the owner's; an
// entry for Owner Rights instead of the user's SID would give ----------).
class OwnerOnlySecurity {
 public:
  OwnerOnlySecurity() {
    const std::vector<BYTE>& user = TokenUserSid();
    const auto sid = const_cast<BYTE*>(user.data());
    ready_ = !user.empty() &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             InitializeAcl(reinterpret_cast<PACL>(acl_), sizeof acl_, ACL_REVISION) &&
             AddAccessAllowedAce(reinterpret_cast<PACL>(acl_), ACL_REVISION,
                                 FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE, sid) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(acl_), FALSE) &&
             SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;
  // Null when the descriptor could not be built.
  SECURITY_ATTRIBUTES* Attributes() { return ready_ ? &attributes_ : nullptr; }

 private:
  SECURITY_DESCRIPTOR descriptor_{};
  alignas(DWORD) BYTE acl_[sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE] = {};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

// Held shared while a replacement file is made and marked, or put in place;
// EndProcessLeavingNoFile takes it for good, so the process never ends between
// those steps.
SRWLOCK placing = SRWLOCK_INIT;

class PlacingScope {
 public:
  PlacingScope() { AcquireSRWLockShared(&placing); }
  ~PlacingScope() { ReleaseSRWLockShared(&placing); }
  PlacingScope(const PlacingScope&) = delete;
  PlacingScope& operator=(const PlacingScope&) = delete;
};

}  // namespace

// INVALID_HANDLE_VALUE is -1, kClosed. A folder is told by its attributes (it
// cannot be opened as a file); devices and pipes by the handle, which opening
// them does not wait for.
FileHandle FileHandle::OpenForReading(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES && NothingThere(GetLastError())) {
    return Failed(static_cast<int>(GetLastError()));
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Failed(0, FileType::kFolder);
  }
  const HANDLE handle = Open(path, GENERIC_READ, kShare, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) return Failed(static_cast<int>(GetLastError()));
  const FileType type = TypeOfHandle(handle);
  if (type != FileType::kRegular) {
    CloseHandle(handle);
    return Failed(0, type);
  }
  return FileHandle(reinterpret_cast<std::intptr_t>(handle));
}

std::size_t FileHandle::ReadSome(std::int64_t offset, void* data, std::size_t count) const {
  OVERLAPPED at = At(offset);
  DWORD got = 0;
  if (!IsOpen()) return 0;
  if (!ReadFile(Raw(native_), data, Most(count), &got, &at)) {
    if (GetLastError() != ERROR_HANDLE_EOF) Note(static_cast<int>(GetLastError()));
    return 0;
  }
  return got;
}

std::size_t FileHandle::WriteSome(std::int64_t offset, const void* data, std::size_t count) const {
  OVERLAPPED at = At(offset);
  DWORD put = 0;
  if (!IsOpen()) return 0;
  if (!WriteFile(Raw(native_), data, Most(count), &put, &at)) {
    Note(static_cast<int>(GetLastError()));
    return 0;
  }
  return put;
}

std::int64_t FileHandle::Size() const {
  LARGE_INTEGER size{};
  if (IsOpen() && GetFileSizeEx(Raw(native_), &size)) return size.QuadPart;
  Note(static_cast<int>(GetLastError()));
  return -1;
}

// Owner-only files read as 0600, all others as the default: the one distinction
// the new files' access lists keep.
FileMode FileHandle::Mode() const {
  return IsOpen() && OnlyOwnerReads(Raw(native_)) ? kOwnerOnlyFileMode : kDefaultFileMode;
}

// The handle's own file pointer serves nothing else: reads and writes give offsets.
bool FileHandle::Cut(std::int64_t length) const {
  LARGE_INTEGER end{};
  end.QuadPart = length;
  if (IsOpen() && SetFilePointerEx(Raw(native_), end, nullptr, FILE_BEGIN) &&
      SetEndOfFile(Raw(native_))) {
    return true;
  }
  Note(static_cast<int>(GetLastError()));
  return false;
}

bool FileHandle::Close() {
  if (!IsOpen()) return true;
  if (CloseHandle(Raw(std::exchange(native_, kClosed)))) return true;
  Note(static_cast<int>(GetLastError()));
  return false;
}

// The new file is owner-only when the file it replaces is, or for a new file
// when widestMode gives nothing to group or others (an owner-only container);
// otherwise it takes the access its folder passes on.
bool ReplacementFile::Begin(const std::string& path, FileMode widestMode) {
  Abandon();
  error_ = 0;
  refused_ = FileType::kRegular;
  mode_ = widestMode;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  replaces_ = !(attributes == INVALID_FILE_ATTRIBUTES && NothingThere(GetLastError()));
  if (replaces_) {
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      refused_ = FileType::kFolder;
      return false;
    }
    // A file that is there must be one we may write, as opening it for writing
    // would demand, and a disk file, not a device or a pipe that has a file's name.
    const HANDLE probe = Open(path, GENERIC_WRITE | READ_CONTROL, kShare, OPEN_EXISTING);
    if (probe == INVALID_HANDLE_VALUE) {
      error_ = static_cast<int>(GetLastError());
      return false;
    }
    refused_ = TypeOfHandle(probe);
    if (refused_ == FileType::kRegular) {
      mode_ = OnlyOwnerReads(probe) ? kOwnerOnlyFileMode : kDefaultFileMode;
    }
    CloseHandle(probe);
    if (refused_ != FileType::kRegular) return false;
  }
  OwnerOnlySecurity ownerOnly;
  SECURITY_ATTRIBUTES* security = nullptr;
  if ((mode_ & 0066) == 0) {
    security = ownerOnly.Attributes();
    if (security == nullptr) {
      error_ = static_cast<int>(GetLastError());
      return false;
    }
  }
  const PlacingScope scope;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string candidate = TemporaryNameBeside(path);
    // Opened for nobody else, and deleted by the system when the handle closes
    // (also when the process is killed) until Place takes the mark off. A file
    // that cannot be marked is given up: it would outlive a killed run.
    const HANDLE handle = Open(candidate, GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, security);
    if (handle == INVALID_HANDLE_VALUE) {
      error_ = static_cast<int>(GetLastError());
      if (error_ == ERROR_FILE_EXISTS || error_ == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    if (!MarkForDeletion(handle, true)) {
      error_ = static_cast<int>(GetLastError());
      CloseHandle(handle);
      DeleteFileA(candidate.c_str());
      return false;
    }
    error_ = 0;
    file_ = FileHandle(reinterpret_cast<std::intptr_t>(handle));
    temporaryPath_ = candidate;
    path_ = path;
    return true;
  }
  return false;
}

bool ReplacementFile::Place() {
  if (!file_.IsOpen()) return false;
  const PlacingScope scope;
  // Still marked, the file goes at the close, and its name may be another's then.
  const bool unmarked = MarkForDeletion(Raw(file_.native_), false);
  bool ok = unmarked;
  if (!ok) error_ = static_cast<int>(GetLastError());
  if (!file_.Close()) ok = false;
  if (ok && MoveFileExA(temporaryPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
    error_ = static_cast<int>(GetLastError());
    ok = false;
  }
  if (!ok && unmarked) DeleteFileA(temporaryPath_.c_str());
  temporaryPath_.clear();
  return ok;
}

void ReplacementFile::Abandon() {
  // The mark removes it at the close.
  file_.Close();
  temporaryPath_.clear();
}

void EndProcessLeavingNoFile(int status) {
  AcquireSRWLockExclusive(&placing);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  ExitProcess(static_cast<UINT>(status));  // not reached
}

namespace {

// What a path outside the file systems' names is: \\.\pipe\x or \\server\pipe\x
// a named pipe, \\.\COM1 or \\?\GLOBALROOT\... a device (\\?\C:\... is a disk
// path); kRegular for any other path. Opening one, even for its attributes,
// would connect to the pipe or wake the device.
FileType NamespaceType(const std::string& path) {
  if (path.size() < 3 || !IsPathSeparator(path[0]) || !IsPathSeparator(path[1])) {
    return FileType::kRegular;
  }
  const auto part = [&path](std::size_t from) {
    std::string text;
    for (std::size_t k = from; k < path.size() && !IsPathSeparator(path[k]); ++k) {
      text += static_cast<char>(path[k] >= 'a' && path[k] <= 'z' ? path[k] - 'a' + 'A' : path[k]);
    }
    return text;
  };
  const std::string first = part(2);
  const std::string second = part(2 + first.size() + 1);
  if (second == "PIPE") return FileType::kPipe;
  const bool drive = second.size() == 2 && second[1] == ':';
  if ((first == "." || first == "?") && !drive && second != "UNC") return FileType::kDevice;
  return FileType::kRegular;
}

// A handle that reads attributes only, on a file or a folder; with the flag, on a
// link itself.
HANDLE OpenAttributes(const std::string& path, DWORD linkFlag) {
  if (NamespaceType(path) != FileType::kRegular) return INVALID_HANDLE_VALUE;
  return Open(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | linkFlag);
}

bool IdentifyOpened(HANDLE handle, FileIdentity& identity) {
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return false;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  return IdentifyOpened(OpenAttributes(path, FILE_FLAG_OPEN_REPARSE_POINT), identity);
}

bool IdentifyLinkedFile(const std::string& path, FileIdentity& identity) {
  return IdentifyOpened(OpenAttributes(path, 0), identity);
}

// Through the ANSI calls, in the system's code page, as the files are opened.
FileType FileTypeAt(const std::string& path) {
  if (NamespaceType(path) != FileType::kRegular) return NamespaceType(path);
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return NothingThere(GetLastError()) ? FileType::kMissing : FileType::kRegular;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileType::kFolder;
  const HANDLE handle = OpenAttributes(path, 0);
  if (handle == INVALID_HANDLE_VALUE) return FileType::kRegular;
  const FileType type = TypeOfHandle(handle);
  CloseHandle(handle);
  return type;
}

std::string FullPath(const std::string& path) {
  char full[1024];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return path;
  return std::string(full, length);
}

std::string SystemErrorText(int error) {
  char text[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string words(text, length);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.' ||
                            words.back() == ' ')) {
    words.pop_back();
  }
  return words.empty() ? "system error " + std::to_string(error) : words;
}

#else  // POSIX

namespace {

int OpenRaw(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

FileType TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileType::kRegular;
  if (S_ISDIR(mode)) return FileType::kFolder;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileType::kDevice;
  if (S_ISFIFO(mode)) return FileType::kPipe;
  if (S_ISSOCK(mode)) return FileType::kSocket;
  return FileType::kOther;
}

// The named temporaries the signal handler removes: a fixed table, as the handler
// may neither allocate nor lock. A slot is 0 free, 1 being filled, 2 armed. A slot
// holds the identity of our open file beside its name, and the handler removes
// the name only while it leads to that file: a slot armed before the name is
// given (linkat, which may find the name taken) or left armed after a rename
// never removes another file of that name.
constexpr int kPendingSlots = 16;
struct PendingSlot {
  std::atomic<int> state{0};
  dev_t device = 0;
  ino_t inode = 0;
  char path[512];
};
PendingSlot pending[kPendingSlots];

// Every signal whose default action ends the process: the terminating ones, the
// ones that also dump core, and the real-time ones. SIGKILL and SIGSTOP cannot be
// caught.
template <typename Each>
void ForEachEndingSignal(Each each) {
  for (const int signal : {SIGHUP,
                           SIGINT,
                           SIGQUIT,
                           SIGILL,
                           SIGTRAP,
                           SIGABRT,
                           SIGBUS,
                           SIGFPE,
                           SIGUSR1,
                           SIGSEGV,
                           SIGUSR2,
                           SIGPIPE,
                           SIGALRM,
                           SIGTERM,
                           SIGXCPU,
                           SIGXFSZ,
                           SIGVTALRM,
                           SIGPROF,
                           SIGSYS
#ifdef SIGSTKFLT
                           ,
                           SIGSTKFLT
#endif
#ifdef SIGIO
                           ,
                           SIGIO
#endif
#ifdef SIGPWR
                           ,
                           SIGPWR
#endif
       }) {
    each(signal);
  }
#ifdef SIGRTMIN
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) each(signal);
#endif
}

// Removes the armed temporaries that are still ours, then ends the process as
// the signal would have.
void RemovePendingAndEnd(int signal) {
  for (PendingSlot& slot : pending) {
    if (slot.state.load(std::memory_order_acquire) != 2) continue;
    struct stat status {};
    if (lstat(slot.path, &status) == 0 && status.st_dev == slot.device &&
        status.st_ino == slot.inode) {
      unlink(slot.path);
    }
  }
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  sigaction(signal, &standard, nullptr);
  sigset_t just;
  sigemptyset(&just);
  sigaddset(&just, signal);
  pthread_sigmask(SIG_UNBLOCK, &just, nullptr);
  raise(signal);
}

// For the signals whose default ends the process, at each arming (a program may
// have set a signal back meanwhile): a program's own handler, or an ignored
// signal, stays as it is.
void InstallRemovalHandlers() {
  ForEachEndingSignal([](int signal) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0) return;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
    struct sigaction removal {};
    removal.sa_handler = RemovePendingAndEnd;
    sigemptyset(&removal.sa_mask);
    sigaction(signal, &removal, nullptr);
  });
}

// Arms a slot for path, to be removed while it names the file open at fd.
int Arm(const std::string& path, int fd) {
  InstallRemovalHandlers();
  struct stat status {};
  if (path.size() >= sizeof pending[0].path || fstat(fd, &status) != 0) return -1;
  for (int k = 0; k < kPendingSlots; ++k) {
    int expected = 0;
    if (pending[k].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(pending[k].path, path.c_str(), path.size() + 1);
      pending[k].device = status.st_dev;
      pending[k].inode = status.st_ino;
      pending[k].state.store(2, std::memory_order_release);
      return k;
    }
  }
  return -1;
}

void Disarm(int& slot) {
  if (slot >= 0) pending[slot].state.store(0, std::memory_order_release);
  slot = -1;
}

// Read where Linux shows it: setting the mask to learn it would race with files
// other threads create meanwhile.
mode_t CurrentUmask() {
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    long mask = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::strncmp(line, "Umask:", 6) == 0) mask = std::strtol(line + 6, nullptr, 8);
    }
    std::fclose(status);
    if (mask >= 0) return static_cast<mode_t>(mask);
  }
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// An unnamed file gets its name through /proc/self/fd (AT_EMPTY_PATH needs a
// privilege); without /proc the files are named from the start.
bool CanNameUnnamedFiles() {
  static const bool can = access("/proc/self/fd", X_OK) == 0;
  return can;
}

// Gives the open unnamed file a name; never replaces one (EEXIST).
bool LinkAs(int fd, const std::string& name) {
  if (linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
  if (errno == EEXIST) return false;
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

}  // namespace

// A FIFO is opened without waiting for its other end, a device without becoming
// the controlling terminal; whatever the name leads to, the open file decides.
FileHandle FileHandle::OpenForReading(const std::string& path) {
  struct stat status {};
  // Told before opening: opening some devices does something by itself.
  if (stat(path.c_str(), &status) != 0) return Failed(errno);
  if (!S_ISREG(status.st_mode)) return Failed(0, TypeOf(status.st_mode));
  const int fd = OpenRaw(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return Failed(errno);
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    const int error = errno;
    close(fd);
    return S_ISREG(status.st_mode) ? Failed(error) : Failed(0, TypeOf(status.st_mode));
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return FileHandle(fd);
}

std::size_t FileHandle::ReadSome(std::int64_t offset, void* data, std::size_t count) const {
  ssize_t got = -1;
  while (IsOpen() &&
         (got = pread(static_cast<int>(native_), data, count, static_cast<off_t>(offset))) < 0 &&
         errno == EINTR) {
  }
  if (got < 0 && IsOpen()) Note(errno);
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t FileHandle::WriteSome(std::int64_t offset, const void* data, std::size_t count) const {
  ssize_t put = -1;
  while (IsOpen() &&
         (put = pwrite(static_cast<int>(native_), data, count, static_cast<off_t>(offset))) < 0 &&
         errno == EINTR) {
  }
  if (put < 0 && IsOpen()) Note(errno);
  return put > 0 ? static_cast<std::size_t>(put) : 0;
}

std::int64_t FileHandle::Size() const {
  const off_t end = IsOpen() ? lseek(static_cast<int>(native_), 0, SEEK_END) : -1;
  if (end < 0 && IsOpen()) Note(errno);
  return static_cast<std::int64_t>(end);
}

FileMode FileHandle::Mode() const {
  struct stat status {};
  if (!IsOpen() || fstat(static_cast<int>(native_), &status) != 0) return kDefaultFileMode;
  return static_cast<FileMode>(status.st_mode & 0777);
}

bool FileHandle::Cut(std::int64_t length) const {
  if (IsOpen() && ftruncate(static_cast<int>(native_), static_cast<off_t>(length)) == 0) {
    return true;
  }
  Note(errno);
  return false;
}

bool FileHandle::Close() {
  if (!IsOpen()) return true;
  if (close(static_cast<int>(std::exchange(native_, kClosed))) == 0) return true;
  Note(errno);
  return false;
}

// The new file's permissions: those of the file it replaces, so that a file the
// owner kept private stays so; for a new file, at most widestMode (for an
// unpacked file the container's) within the umask's default. Set only when the
// file is complete: until then it is the owner's alone.
bool ReplacementFile::Begin(const std::string& path, FileMode widestMode) {
  Abandon();
  error_ = 0;
  refused_ = FileType::kRegular;
  replaces_ = false;
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0) {
    replaces_ = true;
    // A link is replaced itself, never written through; it stands for what it
    // leads to only in the checks.
    if (S_ISLNK(status.st_mode) && stat(path.c_str(), &status) != 0) {
      status.st_mode = S_IFREG | (widestMode & 0666 & ~CurrentUmask());
    }
    refused_ = TypeOf(status.st_mode);
    if (refused_ != FileType::kRegular) return false;
    // A file that is there must be one we may write, as opening it for writing
    // would demand (asked without opening it).
    if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
      error_ = errno;
      return false;
    }
    mode_ = static_cast<FileMode>(status.st_mode & 0777);
  } else if (errno != ENOENT) {
    error_ = errno;
    return false;
  } else {
    mode_ = static_cast<FileMode>(widestMode & 0666 & ~CurrentUmask());
  }
  path_ = path;

  if (unnamedAllowed.load() && CanNameUnnamedFiles()) {
    const std::string folder = FolderPart(path);
    const int fd = OpenRaw(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR, 0600);
    if (fd >= 0) {
      file_ = FileHandle(fd);
      return true;
    }
    // Not on this file system: a named file instead.
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string candidate = TemporaryNameBeside(path);
    const int fd = OpenRaw(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      file_ = FileHandle(fd);
      temporaryPath_ = candidate;
      pendingSlot_ = Arm(candidate, fd);
      return true;
    }
    error_ = errno;
    if (errno != EEXIST) break;
  }
  path_.clear();
  return false;
}

// An unnamed file is linked under the target's name when none is there; linkat
// never replaces a file, so otherwise it is linked under a fresh name that is
// then renamed over the target, the one moment a name of it could be left (the
// signal handler covers that name too).
bool ReplacementFile::Place() {
  if (!file_.IsOpen()) return false;
  const int fd = static_cast<int>(file_.native_);
  bool ok = fchmod(fd, static_cast<mode_t>(mode_)) == 0;
  if (!ok) error_ = errno;
  bool linkedAsTarget = false;
  if (ok && temporaryPath_.empty()) {
    linkedAsTarget = LinkAs(fd, path_);
    if (!linkedAsTarget && errno != EEXIST) {
      error_ = errno;
      ok = false;
    }
    for (int attempt = 0; ok && !linkedAsTarget && attempt < kNameAttempts; ++attempt) {
      const std::string candidate = TemporaryNameBeside(path_);
      pendingSlot_ = Arm(candidate, fd);
      if (LinkAs(fd, candidate)) {
        temporaryPath_ = candidate;
        break;
      }
      error_ = errno;
      Disarm(pendingSlot_);
      if (error_ != EEXIST) break;
    }
    if (!linkedAsTarget && temporaryPath_.empty()) ok = false;
  }
  // Closing reports a write that failed late.
  if (!file_.Close()) {
    ok = false;
    error_ = file_.Error();
  }
  if (ok && !temporaryPath_.empty() && std::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
    error_ = errno;
    ok = false;
  }
  if (!ok && linkedAsTarget) unlink(path_.c_str());
  if (!ok && !temporaryPath_.empty()) unlink(temporaryPath_.c_str());
  Disarm(pendingSlot_);
  temporaryPath_.clear();
  return ok;
}

void ReplacementFile::Abandon() {
  file_.Close();  // an unnamed file goes with its handle
  if (!temporaryPath_.empty()) unlink(temporaryPath_.c_str());
  Disarm(pendingSlot_);
  temporaryPath_.clear();
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return false;
  identity.volume = static_cast<std::uint64_t>(status.st_dev);
  identity.index = static_cast<std::uint64_t>(status.st_ino);
  return true;
}

bool IdentifyLinkedFile(const std::string& path, FileIdentity& identity) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return false;
  identity.volume = static_cast<std::uint64_t>(status.st_dev);
  identity.index = static_cast<std::uint64_t>(status.st_ino);
  return true;
}

FileType FileTypeAt(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0) return TypeOf(status.st_mode);
  return errno == ENOENT || errno == ENOTDIR ? FileType::kMissing : FileType::kRegular;
}

// No drive has a folder of its own here: a relative path is the process's.
std::string FullPath(const std::string& path) { return path; }

std::string SystemErrorText(int error) { return std::generic_category().message(error); }

#endif

}  // namespace resicrypt
