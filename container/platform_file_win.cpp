// The file calls on Win32, through the ANSI calls in the system code page.
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <vector>

#include "container/container_path.h"
#include "container/platform_file.h"
#include "container/platform_file_system.h"

namespace resicrypt {

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

int os::LastError() { return static_cast<int>(GetLastError()); }

std::int64_t os::Read(std::intptr_t file, std::int64_t offset, void* data, std::size_t count) {
  OVERLAPPED at = At(offset);
  DWORD got = 0;
  if (ReadFile(Raw(file), data, Most(count), &got, &at)) return got;
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

std::int64_t os::Write(std::intptr_t file, std::int64_t offset, const void* data,
                       std::size_t count) {
  OVERLAPPED at = At(offset);
  DWORD put = 0;
  return WriteFile(Raw(file), data, Most(count), &put, &at) ? static_cast<std::int64_t>(put) : -1;
}

std::int64_t os::Size(std::intptr_t file) {
  LARGE_INTEGER size{};
  return GetFileSizeEx(Raw(file), &size) ? size.QuadPart : -1;
}

// Owner-only files read as 0600, all others as the default: the one distinction
// the new files' access lists keep.
FileMode os::Mode(std::intptr_t file) {
  return OnlyOwnerReads(Raw(file)) ? kOwnerOnlyFileMode : kDefaultFileMode;
}

// The handle's own file pointer serves nothing else: reads and writes give offsets.
bool os::Cut(std::intptr_t file, std::int64_t length) {
  LARGE_INTEGER end{};
  end.QuadPart = length;
  return SetFilePointerEx(Raw(file), end, nullptr, FILE_BEGIN) && SetEndOfFile(Raw(file));
}

bool os::Close(std::intptr_t file) { return CloseHandle(Raw(file)) != 0; }

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
  // A file that goes when its last handle closes (a held standard input) can be
  // opened only by those who let it go.
  const HANDLE handle = Open(path, GENERIC_READ, kShare | FILE_SHARE_DELETE, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) return Failed(static_cast<int>(GetLastError()));
  FileHandle file(reinterpret_cast<std::intptr_t>(handle));
  const FileType type = TypeOfHandle(handle);
  return type == FileType::kRegular ? std::move(file) : Failed(0, type);
}

ReadProbe ProbeForReading(const std::string& path) {
  const FileHandle file = FileHandle::OpenForReading(path);
  ReadProbe probe;
  probe.readable = file.IsOpen();
  probe.refused = file.Refused();
  probe.error = file.Error();
  probe.size = file.IsOpen() ? file.Size() : -1;
  return probe;
}

// The new file is owner-only when the file it replaces is, or for a new file
// when widestMode gives nothing to group or others (an owner-only container);
// otherwise it takes the access its folder passes on.
bool ReplacementFile::CheckTarget() {
  const DWORD attributes = GetFileAttributesA(path_.c_str());
  replaces_ = !(attributes == INVALID_FILE_ATTRIBUTES && NothingThere(GetLastError()));
  if (!replaces_) return true;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    refused_ = FileType::kFolder;
    return false;
  }
  // A file that is there must be one we may write, as opening it for writing
  // would demand, and a disk file, not a device or a pipe that has a file's name.
  const HANDLE probe = Open(path_, GENERIC_WRITE | READ_CONTROL, kShare, OPEN_EXISTING);
  if (probe == INVALID_HANDLE_VALUE) {
    error_ = static_cast<int>(GetLastError());
    return false;
  }
  const FileHandle closesProbe(reinterpret_cast<std::intptr_t>(probe));
  refused_ = TypeOfHandle(probe);
  if (refused_ != FileType::kRegular) return false;
  mode_ = OnlyOwnerReads(probe) ? kOwnerOnlyFileMode : kDefaultFileMode;
  return true;
}

bool ReplacementFile::MakeFile() {
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
  for (int attempt = 0; attempt < os::kNameAttempts; ++attempt) {
    const std::string candidate = os::TemporaryNameBeside(path_);
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
    return true;
  }
  return false;
}

// Deleted on close from the start, opened for nobody else, owner-only.
bool ReplacementFile::MakeUnnamedFile(const std::string& folder) {
  OwnerOnlySecurity ownerOnly;
  SECURITY_ATTRIBUTES* security = ownerOnly.Attributes();
  if (security == nullptr) {
    error_ = static_cast<int>(GetLastError());
    return false;
  }
  for (int attempt = 0; attempt < os::kNameAttempts; ++attempt) {
    const std::string candidate = os::TemporaryNameBeside(folder + "x");
    const HANDLE handle = Open(candidate, GENERIC_READ | GENERIC_WRITE | DELETE, 0, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, security);
    if (handle != INVALID_HANDLE_VALUE) {
      error_ = 0;
      file_ = FileHandle(reinterpret_cast<std::intptr_t>(handle));
      return true;
    }
    error_ = static_cast<int>(GetLastError());
    if (error_ != ERROR_FILE_EXISTS && error_ != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool ReplacementFile::Place() {
  if (!file_.IsOpen()) return false;
  if (scratch_) return true;
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

// Every file has a name here; it is marked for deletion instead.
void AllowUnnamedFiles(bool) {}

RemovedOnSignal::RemovedOnSignal(const std::string&) {}
RemovedOnSignal::~RemovedOnSignal() = default;

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  return IdentifyOpened(OpenAttributes(path, FILE_FLAG_OPEN_REPARSE_POINT), identity);
}

bool IdentifyLinkedFile(const std::string& path, FileIdentity& identity) {
  return IdentifyOpened(OpenAttributes(path, 0), identity);
}

// A name that is no reparse point (a link or a junction) leads to itself.
PathIdentities IdentifyPath(const std::string& path) {
  PathIdentities found;
  const HANDLE handle = OpenAttributes(path, FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) return found;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return found;
  found.known[0] = true;
  found.ids[0] = {info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    found.known[1] = IdentifyLinkedFile(path, found.ids[1]);
  } else {
    found.known[1] = true;
    found.ids[1] = found.ids[0];
  }
  return found;
}

// Through the ANSI calls, in the system's code page, as the files are opened.
FileType FileTypeAt(const std::string& path) {
  if (const FileType type = NamespaceType(path); type != FileType::kRegular) return type;
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
  // The first call tells the room the full path needs, its NUL included.
  const DWORD room = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (room == 0) return path;
  std::string full(room, '\0');
  const DWORD length = GetFullPathNameA(path.c_str(), room, full.data(), nullptr);
  if (length == 0 || length >= room) return path;
  full.resize(length);
  return full;
}

bool IsNameLeadByte(char c) { return IsDBCSLeadByte(static_cast<BYTE>(c)) != 0; }

std::string SystemErrorText(int error) {
  char text[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
  std::string words(text, length);
  words.erase(words.find_last_not_of("\r\n. ") + 1);
  return words.empty() ? "system error " + std::to_string(error) : words;
}

}  // namespace resicrypt
