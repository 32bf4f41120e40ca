// The file calls on POSIX (Linux first: unnamed files, /proc).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include <atomic>

#include "container/container_path.h"
#include "container/platform_file.h"
#include "container/platform_file_system.h"

namespace resicrypt {

namespace {

std::atomic<bool> unnamedAllowed{true};

// Calls again while a signal interrupts the call.
template <typename Call>
auto Uninterrupted(Call call) {
  auto result = call();
  while (result < 0 && errno == EINTR) result = call();
  return result;
}

int OpenRaw(const char* path, int flags, mode_t mode = 0) {
  return Uninterrupted([&] { return open(path, flags | O_CLOEXEC, mode); });
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
  char path[PATH_MAX];  // any path the system takes
};
PendingSlot pending[kPendingSlots];

// Removes the armed temporaries that are still ours, then ends the process as
// the signal would have.
void RemovePendingAndEnd(int signal) {
  // Files first, then the folders they emptied.
  for (const bool folders : {false, true}) {
    for (PendingSlot& slot : pending) {
      if (slot.state.load(std::memory_order_acquire) != 2) continue;
      struct stat status {};
      if (lstat(slot.path, &status) == 0 && status.st_dev == slot.device &&
          status.st_ino == slot.inode && S_ISDIR(status.st_mode) == folders) {
        folders ? rmdir(slot.path) : unlink(slot.path);
      }
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

// For every signal whose default action ends the process (the terminating ones,
// the ones that also dump core, and the real-time ones; SIGKILL and SIGSTOP cannot
// be caught), at each arming (a program may have set a signal back meanwhile): a
// program's own handler, or an ignored signal, stays as it is.
void InstallRemovalHandlers() {
  const auto install = [](int signal) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0) return;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
    struct sigaction removal {};
    removal.sa_handler = RemovePendingAndEnd;
    sigemptyset(&removal.sa_mask);
    sigaction(signal, &removal, nullptr);
  };
  for (const int signal :
       {SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV,
        SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS}) {
    install(signal);
  }
#ifdef SIGSTKFLT
  install(SIGSTKFLT);
#endif
#ifdef SIGIO
  install(SIGIO);
#endif
#ifdef SIGPWR
  install(SIGPWR);
#endif
#ifdef SIGRTMIN
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) install(signal);
#endif
}

// Arms a slot for path, to be removed while it names the file open at fd (or,
// for fd -1, what it names now).
int Arm(const std::string& path, int fd) {
  InstallRemovalHandlers();
  struct stat status {};
  if (path.size() >= sizeof pending[0].path ||
      (fd >= 0 ? fstat(fd, &status) : lstat(path.c_str(), &status)) != 0) {
    return -1;
  }
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

// Gives the open unnamed file a name; never replaces one (EEXIST). Linking the
// descriptor itself needs a privilege most users lack: once refused, it is not
// asked again.
bool LinkAs(int fd, const std::string& name) {
  static std::atomic<bool> byDescriptor{true};
  if (byDescriptor.load(std::memory_order_relaxed)) {
    if (linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno == EEXIST) return false;
    if (errno == ENOENT) byDescriptor.store(false, std::memory_order_relaxed);
  }
  char self[40];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// The identity lstat (the link itself) or stat (what it leads to) gives.
bool IdentifyBy(int (*look)(const char*, struct stat*), const std::string& path,
                FileIdentity& identity) {
  struct stat status {};
  if (look(path.c_str(), &status) != 0) return false;
  identity.volume = static_cast<std::uint64_t>(status.st_dev);
  identity.index = static_cast<std::uint64_t>(status.st_ino);
  return true;
}

}  // namespace

int os::LastError() { return errno; }

std::int64_t os::Read(std::intptr_t file, std::int64_t offset, void* data, std::size_t count) {
  return Uninterrupted(
      [&] { return pread(static_cast<int>(file), data, count, static_cast<off_t>(offset)); });
}

std::int64_t os::Write(std::intptr_t file, std::int64_t offset, const void* data,
                       std::size_t count) {
  return Uninterrupted(
      [&] { return pwrite(static_cast<int>(file), data, count, static_cast<off_t>(offset)); });
}

std::int64_t os::Size(std::intptr_t file) { return lseek(static_cast<int>(file), 0, SEEK_END); }

FileMode os::Mode(std::intptr_t file) {
  struct stat status {};
  if (fstat(static_cast<int>(file), &status) != 0) return kDefaultFileMode;
  return static_cast<FileMode>(status.st_mode & 0777);
}

bool os::Cut(std::intptr_t file, std::int64_t length) {
  return ftruncate(static_cast<int>(file), static_cast<off_t>(length)) == 0;
}

bool os::Close(std::intptr_t file) { return close(static_cast<int>(file)) == 0; }

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
  // Back to blocking reads; opened read-only, it had no other status flag.
  fcntl(fd, F_SETFL, 0);
  FileHandle file(fd);
  file.openedSize_ = static_cast<std::int64_t>(status.st_size);
  return file;
}

// As OpenForReading, but the type and size come from the look before opening.
ReadProbe ProbeForReading(const std::string& path) {
  ReadProbe probe;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    probe.error = errno;
    return probe;
  }
  probe.refused = TypeOf(status.st_mode);
  if (probe.refused != FileType::kRegular) return probe;
  const int fd = OpenRaw(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    probe.error = errno;
    return probe;
  }
  close(fd);
  probe.readable = true;
  probe.size = static_cast<std::int64_t>(status.st_size);
  return probe;
}

// The new file's permissions: those of the file it replaces, so that a file the
// owner kept private stays so; for a new file, at most widestMode (for an
// unpacked file the container's) within the umask's default. A named file gets
// them only when it is complete: until then it is the owner's alone. An unnamed
// file is made with them, as the system gives them to any new file (the umask
// applied, or a folder's default access list): nobody else can reach it until
// it has a name, and it gets one only when it is complete.
bool ReplacementFile::CheckTarget() {
  struct stat status {};
  if (lstat(path_.c_str(), &status) != 0) {
    if (errno != ENOENT) {
      error_ = errno;
      return false;
    }
    mode_ = static_cast<FileMode>(mode_ & 0666);
    return true;
  }
  replaces_ = true;
  // A link is replaced itself, never written through; it stands for what it
  // leads to only in the checks.
  if (S_ISLNK(status.st_mode) && stat(path_.c_str(), &status) != 0) {
    status.st_mode = S_IFREG | (mode_ & 0666 & ~CurrentUmask());
  }
  refused_ = TypeOf(status.st_mode);
  if (refused_ != FileType::kRegular) return false;
  // A file that is there must be one we may write, as opening it for writing
  // would demand (asked without opening it).
  if (faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) {
    error_ = errno;
    return false;
  }
  mode_ = static_cast<FileMode>(status.st_mode & 0777);
  return true;
}

bool ReplacementFile::MakeFile() {
  if (unnamedAllowed.load() && CanNameUnnamedFiles()) {
    const std::string folder = FolderPart(path_);
    const mode_t mode = replaces_ ? 0600 : static_cast<mode_t>(mode_);
    const int fd = OpenRaw(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR, mode);
    if (fd >= 0) {
      file_ = FileHandle(fd);
      modeGiven_ = !replaces_;
      return true;
    }
    // Not on this file system: a named file instead.
  }
  if (!replaces_) mode_ = static_cast<FileMode>(mode_ & ~CurrentUmask());
  for (int attempt = 0; attempt < os::kNameAttempts; ++attempt) {
    const std::string candidate = os::TemporaryNameBeside(path_);
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
  return false;
}

// The folder's own unnamed file; where the file system has none, a named one
// that loses its name at once (an instant a SIGKILL could leave it, empty and
// owner-only).
bool ReplacementFile::MakeUnnamedFile(const std::string& folder) {
  const std::string where = folder.empty() ? "." : folder;
  if (unnamedAllowed.load()) {
    const int fd = OpenRaw(where.c_str(), O_TMPFILE | O_RDWR, 0600);
    if (fd >= 0) {
      file_ = FileHandle(fd);
      return true;
    }
  }
  for (int attempt = 0; attempt < os::kNameAttempts; ++attempt) {
    const std::string candidate = os::TemporaryNameBeside(where + "/x");
    const int fd = OpenRaw(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      unlink(candidate.c_str());
      file_ = FileHandle(fd);
      return true;
    }
    error_ = errno;
    if (errno != EEXIST) break;
  }
  return false;
}

// An unnamed file is linked under the target's name when none is there; linkat
// never replaces a file, so otherwise it is linked under a fresh name that is
// then renamed over the target, the one moment a name of it could be left (the
// signal handler covers that name too).
bool ReplacementFile::Place() {
  if (!file_.IsOpen()) return false;
  if (scratch_) return true;
  const int fd = static_cast<int>(file_.native_);
  bool ok = modeGiven_ || fchmod(fd, static_cast<mode_t>(mode_)) == 0;
  if (!ok) error_ = errno;
  bool linkedAsTarget = false;
  if (ok && temporaryPath_.empty()) {
    linkedAsTarget = LinkAs(fd, path_);
    if (!linkedAsTarget && errno != EEXIST) {
      error_ = errno;
      ok = false;
    }
    for (int attempt = 0; ok && !linkedAsTarget && attempt < os::kNameAttempts; ++attempt) {
      const std::string candidate = os::TemporaryNameBeside(path_);
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

RemovedOnSignal::RemovedOnSignal(const std::string& path) : slot_(Arm(path, -1)) {}
RemovedOnSignal::~RemovedOnSignal() { Disarm(slot_); }

void AllowUnnamedFiles(bool allowed) { unnamedAllowed.store(allowed); }

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  return IdentifyBy(&::lstat, path, identity);
}

bool IdentifyLinkedFile(const std::string& path, FileIdentity& identity) {
  return IdentifyBy(&::stat, path, identity);
}

PathIdentities IdentifyPath(const std::string& path) {
  PathIdentities found;
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return found;
  found.known[0] = true;
  found.ids[0] = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
  if (S_ISLNK(status.st_mode)) {
    found.known[1] = IdentifyLinkedFile(path, found.ids[1]);
  } else {
    found.known[1] = true;
    found.ids[1] = found.ids[0];
  }
  return found;
}

FileType FileTypeAt(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0) return TypeOf(status.st_mode);
  return errno == ENOENT || errno == ENOTDIR ? FileType::kMissing : FileType::kRegular;
}

// No drive has a folder of its own here: a relative path is the process's.
std::string FullPath(const std::string& path) { return path; }

bool IsNameLeadByte(char /*c*/) { return false; }

std::string SystemErrorText(int error) { return std::generic_category().message(error); }

}  // namespace resicrypt
