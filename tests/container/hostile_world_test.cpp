// The world around the file commands at its worst: a pack that stops over an
// existing container, special files as sources, containers and targets, runs that
// are interrupted or killed, permissions, and a container that names a file twice.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "container/pack.h"
#include "container/platform_file.h"
#include "tests/cli/cli_run.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#endif

namespace containertest {
namespace {

using Lines = std::vector<std::string>;

TEST(HostileWorld, AFailedPackKeepsTheContainerThatStoodThere) {
  TempFolder folder;
  WriteBytes(folder.Path("a.txt"), "twelve bytes");
  WriteBytes(folder.Path("huge.bin"), "");
  fs::resize_file(folder.Root() / "huge.bin", std::uintmax_t{1} << 31);  // sparse
  const std::string box = folder.Path("box.yal");
  WriteBytes(box, "earlier container");
  const Lines names = folder.Names();
  for (const bool unnamed : {true, false}) {  // the new container in a named temporary
    resicrypt::AllowUnnamedFiles(unnamed);
    for (const std::string& second : {folder.Path("gone.txt"), folder.Path("huge.bin")}) {
      auto form = NewForm("secret");
      Encrypt(*form, {folder.Path("a.txt"), second}, box);
      EXPECT_EQ(form->report.back(), "Container kept as it was: " + box);
      EXPECT_EQ(ReadBytes(box), "earlier container");
      EXPECT_EQ(folder.Names(), names);
    }
  }
  resicrypt::AllowUnnamedFiles(true);
  WriteBytes(folder.Path("pw"), "secret\n");
  const CliRun run = RunCli(folder, {"pack", "--password-file", folder.Path("pw"), "-o", box,
                                     folder.Path("a.txt"), folder.Path("gone.txt")});
  EXPECT_EQ(run.status, 2);  // told before anything is written
#ifndef _WIN32
  EXPECT_EQ(run.err, "resicrypt-cli: cannot pack '" + folder.Path("gone.txt") +
                         "': No such file or directory\n");
#endif
  EXPECT_EQ(ReadBytes(box), "earlier container");
}

// Records 3 and 4 renamed to names of records 1 and 2: the first an exact copy,
// the second in other letters, which are one file on Windows only.
TEST(HostileWorld, ANameUnpackedBeforeFromTheSameContainerIsRefused) {
  Scene scene("secret", {{"a.txt", "first"}, {"b.txt", "second"}, {"c.txt", "3"}, {"d.txt", "4"}});
  std::string bytes = scene.Bytes();
  const auto records = WalkRecords(bytes, 6);
  bytes.replace(records[2].offset + 4, 5, "a.txt");
  bytes.replace(records[3].offset + 4, 5, "B.TXT");
  scene.SetBytes(bytes);
  auto form = NewForm("secret");
  Decrypt(*form, scene.container);
  const std::string refused = " Record 3 not unpacked (a file of this name was unpacked before): ";
  EXPECT_EQ(form->report[15], refused + "a.txt");
  EXPECT_EQ(ReadBytes(scene.In("a.txt")), "first");
#ifdef _WIN32
  EXPECT_EQ(form->report.back(), " Record 4" + refused.substr(9) + "B.TXT");
  EXPECT_EQ(ReadBytes(scene.In("b.txt")), "second");
  const std::string count = "2 files";
#else
  EXPECT_EQ(ReadBytes(scene.In("B.TXT")), "4");  // names differ in their bytes: two files
  const std::string count = "1 file";
#endif
  WriteBytes(scene.root.Path("pw"), "secret\n");
  const CliRun run =
      RunCli(scene.root, {"unpack", "--password-file", scene.root.Path("pw"), scene.container});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("resicrypt-cli:" + refused + "a.txt\n"), std::string::npos);
  EXPECT_NE(run.err.find("resicrypt-cli: " + count + " not unpacked\n"), std::string::npos)
      << run.err;
}

#ifndef _WIN32
// Type and permission bits of what is at path, itself; 0 when nothing is.
unsigned ModeOf(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}
#endif

// Folders; on Windows a pipe and a device by their names, elsewhere a device, a
// link to a device and a device node of our own (in place of /dev/null, which a
// failure here must never touch). FIFOs are the tool's, below, in every role.
TEST(HostileWorld, OnlyRegularFilesAreReadOrReplaced) {
  TempFolder folder;
  WriteBytes(folder.Path("a.txt"), "alpha");
  fs::create_directory(folder.Root() / "sub");
  const std::string box = folder.Path("box.yal"), sub = folder.Path("sub");
  const auto lastTwo = [](const FakeForm& form) {
    return Lines(form.report.end() - 2, form.report.end());
  };
  const auto encrypt = [&](const std::string& source, const std::string& container) {
    auto form = NewForm("secret");
    Encrypt(*form, {source}, container);
    fs::remove(box);  // an incomplete container would be kept at the next stop
    return lastTwo(*form);
  };
  const auto decrypt = [&](const std::string& container) {
    auto form = NewForm("secret");
    Decrypt(*form, container);
    return lastTwo(*form);
  };
  EXPECT_EQ(encrypt(sub, box),
            (Lines{"Read File not Open ", "Not a regular file (a folder): " + sub}));
  EXPECT_EQ(decrypt(sub),
            (Lines{" Read File not Open ", " Not a regular file (a folder): " + sub}));
#ifdef _WIN32
  const std::string pipeName = "\\\\.\\pipe\\resicrypt-hostile-world";
  const HANDLE pipe =
      CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_DUPLEX, 0, 4, 0, 0, 0, nullptr);
  EXPECT_EQ(encrypt(pipeName, box).back(), "Not a regular file (a named pipe): " + pipeName);
  CloseHandle(pipe);
  EXPECT_EQ(encrypt(folder.Path("a.txt"), "NUL"),
            (Lines{"Write File not Open ", "Not a regular file (a device): NUL"}));
#else
  const std::string link = folder.Path("link"), node = folder.Path("node");
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  const bool mayMakeNodes = mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  EXPECT_EQ(encrypt("/dev/zero", box).back(), "Not a regular file (a device): /dev/zero");
  EXPECT_EQ(encrypt(folder.Path("a.txt"), link).back(), "Not a regular file (a device): " + link);
  EXPECT_TRUE(S_ISLNK(ModeOf(link)));
  if (mayMakeNodes) {
    EXPECT_EQ(encrypt(folder.Path("a.txt"), node).back(), "Not a regular file (a device): " + node);
    EXPECT_TRUE(S_ISCHR(ModeOf(node)));
  }
#endif
}

#ifndef _WIN32
TEST(HostileWorld, AnUnpackedFileIsReadableByNoMoreUsersThanItsContainerOrTheFileItReplaces) {
  const mode_t saved = umask(022);
  Scene scene("secret", {{"a.txt", "alpha"}, {"b.txt", "beta"}});
  fs::permissions(scene.container, fs::perms(0640));
  WriteBytes(scene.In("a.txt"), "kept private");
  fs::permissions(scene.In("a.txt"), fs::perms(0600));
  auto form = NewForm("secret");
  Decrypt(*form, scene.container);
  EXPECT_EQ(ModeOf(scene.In("a.txt")) & 0777, 0600u);
  EXPECT_EQ(ModeOf(scene.In("b.txt")) & 0777, 0640u);
  // A new file within the umask as well.
  umask(077);
  fs::remove(scene.In("b.txt"));
  Decrypt(*form, scene.container);
  EXPECT_EQ(ModeOf(scene.In("b.txt")) & 0777, 0600u);
  umask(022);
  fs::permissions(scene.container, fs::perms(0600));
  Encrypt(*form, {scene.In("b.txt")}, scene.container);
  EXPECT_EQ(ModeOf(scene.container) & 0777, 0600u);
  // A umask of 077 keeps a new file from everybody else, whatever the container allows.
  umask(077);
  fs::permissions(scene.container, fs::perms(0644));
  fs::remove(scene.In("b.txt"));
  Decrypt(*form, scene.container);
  EXPECT_EQ(ModeOf(scene.In("b.txt")) & 0777, 0600u);
  umask(saved);
}

// Without unnamed files the new file is "~rc*.tmp", owner-only; a signal whose
// default ends the process, while it is written, removes it and ends the process
// by the signal (those that dump core too, here with no core file).
TEST(HostileWorld, ASignalRemovesANamedTemporary) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE,
                           SIGXFSZ, SIGXCPU, SIGVTALRM, SIGPROF}) {
    TempFolder folder;
    WriteBytes(folder.Path("a.bin"), RandomBytes(1000, 4));
    const pid_t child = fork();
    if (child == 0) {
      std::signal(signal, SIG_DFL);
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      resicrypt::AllowUnnamedFiles(false);
      struct Raise : resicrypt::PackEvents {
        const TempFolder* folder = nullptr;
        int signal = 0;
        void BlockDue(std::int32_t) override {
          for (const std::string& name : folder->Names()) {
            if (name.rfind("~rc", 0) == 0 && (ModeOf(folder->Path(name)) & 0777) == 0600)
              raise(signal);
          }
        }
      } events;
      events.folder = &folder;
      events.signal = signal;
      auto workspace = std::make_unique<resicrypt::CipherWorkspace>();
      resicrypt::PackContainer(*workspace, Password("secret"), folder.Path("box.yal"),
                               {folder.Path("a.bin")}, events);
      _exit(0);  // no owner-only temporary seen
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
    EXPECT_EQ(folder.Names(), Lines{"a.bin"});
  }
}

#ifdef RESICRYPT_CLI_EXE
// Where a run's standard input comes from and its output goes, and its TMPDIR;
// empty: as the test's.
struct ToolStreams {
  std::string in, out, tmpdir;
};

// Runs resicrypt-cli, standard error to errPath, files limited to sizeLimit bytes;
// a run not over in 20 s is ended by SIGALRM, which outlives the exec.
pid_t StartTool(Lines args, const std::string& errPath, rlim_t sizeLimit = RLIM_INFINITY,
                const ToolStreams& streams = {}) {
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);
    const rlimit size{sizeLimit, sizeLimit};
    setrlimit(RLIMIT_FSIZE, &size);
    dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    if (!streams.in.empty()) dup2(open(streams.in.c_str(), O_RDONLY), 0);
    if (!streams.out.empty()) dup2(open(streams.out.c_str(), O_WRONLY), 1);
    if (!streams.tmpdir.empty()) setenv("TMPDIR", streams.tmpdir.c_str(), 1);
    std::vector<char*> argv = {const_cast<char*>(RESICRYPT_CLI_EXE)};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

// The exit status, or 128 + the signal that ended it.
int Finish(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// With nobody at a FIFO's other end, each role of it is refused at once.
TEST(HostileWorld, AFifoWithNoOtherEndStopsNothing) {
  TempFolder folder;
  const std::string pw = folder.Path("pw"), box = folder.Path("box.yal"),
                    lone = folder.Path("lone");
  const std::string err = folder.Path("err"), a = folder.Path("a.txt");
  WriteBytes(pw, "secret\n");
  WriteBytes(a, "alpha");
  fs::create_directory(folder.Root() / "d");
  ASSERT_EQ(Finish(StartTool({"pack", "--password-file", pw, "-o", box, a}, err)), 0);
  ASSERT_EQ(mkfifo(lone.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(folder.Path("d/a.txt").c_str(), 0600), 0);
  const std::string fifo = "': not a regular file (a named pipe)\n";
  const std::pair<Lines, std::string> runs[] = {
      {{"pack", "--password-file", pw, "-o", lone, a}, "1 cannot create container '" + lone + fifo},
      {{"pack", "--password-file", pw, "-o", box, lone}, "2 cannot pack '" + lone + fifo},
      {{"unpack", "--password-file", pw, lone}, "1 cannot open container '" + lone + fifo},
      {{"unpack", "--password-file", pw, "-C", folder.Path("d"), box},
       "1 Record 1 not unpacked (output file not created: a named pipe is in the way), "
       "unpacking stopped: a.txt\n"},
  };
  for (const auto& [args, expected] : runs) {
    const int status = Finish(StartTool(args, err));
    EXPECT_EQ(std::to_string(status) + " " + ReadBytes(err).substr(15), expected);
  }
  EXPECT_TRUE(S_ISFIFO(ModeOf(lone)) && S_ISFIFO(ModeOf(folder.Path("d/a.txt"))));
}

// The bytes a process has written so far, as Linux counts them; -1 once it ended.
long WrittenBy(pid_t child) {
  std::ifstream io("/proc/" + std::to_string(child) + "/io");
  std::string field;
  long value = 0;
  while (io >> field >> value) {
    if (field == "wchar:") return value;
  }
  return -1;
}

// A pack over an existing container and an unpack of 128 MiB, each ended by
// SIGTERM and by SIGKILL once 4 MiB are written, or stopped by a size limit of
// 4 MiB (ulimit -f: a failed write, told, status 1): nothing new in either
// folder, the container as it was.
TEST(HostileWorld, AnInterruptedOrKilledRunLeavesNoFileBehind) {
  TempFolder folder;
  const std::string pw = folder.Path("pw"), big = folder.Path("big.bin"),
                    box = folder.Path("box.yal");
  const std::string old = folder.Path("old.yal"), out = folder.Path("out");
  WriteBytes(pw, "secret\n");
  WriteBytes(big, "");
  fs::resize_file(big, std::uintmax_t{128} << 20);
  fs::create_directory(out);
  const std::string err = out + "/err";
  ASSERT_EQ(Finish(StartTool({"pack", "--password-file", pw, "-o", box, big}, err)), 0);
  WriteBytes(old, "earlier container");
  const Lines names = folder.Names();
  for (const int signal : {SIGTERM, SIGKILL, SIGXFSZ}) {
    for (const Lines& args : {Lines{"pack", "--password-file", pw, "-o", old, big},
                              Lines{"unpack", "--password-file", pw, "-C", out, box}}) {
      SCOPED_TRACE(std::to_string(signal) + " " + args[0]);
      const bool limited = signal == SIGXFSZ;
      const pid_t child = StartTool(args, err, limited ? 4 << 20 : RLIM_INFINITY);
      while (!limited && WrittenBy(child) >= 0 && WrittenBy(child) < (4 << 20)) {
        std::this_thread::yield();
      }
      if (!limited) kill(child, signal);
      EXPECT_EQ(Finish(child), limited ? 1 : 128 + signal);  // not ended before the signal came
      EXPECT_TRUE(!limited || ReadBytes(err).find(": File too large") != std::string::npos);
      EXPECT_EQ(folder.Names(), names);
      EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 1);  // err
      EXPECT_EQ(ReadBytes(old), "earlier container");
    }
  }
}

// What standard input and --to-stdout pass through in TMPDIR: the file unpacked
// to standard output never has a name there, and a SIGTERM (once 4 MiB are
// written) or a size limit of 4 MiB (ulimit -f: told as such) leaves nothing.
TEST(HostileWorld, StandardStreamsLeaveNothingInTheTemporaryFolder) {
  TempFolder folder;
  const std::string pw = folder.Path("pw"), big = folder.Path("big.bin"),
                    box = folder.Path("box.yal"), err = folder.Path("err");
  WriteBytes(pw, "secret\n");
  WriteBytes(big, "");
  fs::resize_file(big, std::uintmax_t{128} << 20);
  ASSERT_EQ(Finish(StartTool({"pack", "--password-file", pw, "-o", box, big}, err)), 0);
  fs::create_directory(folder.Root() / "tmp");
  const ToolStreams fromBig{big, "/dev/null", folder.Path("tmp")};
  const Lines packStdin = {"pack",         "--password-file", pw, "-o", folder.Path("s.yal"),
                           "--stdin-name", "big.bin",         "-"};
  const struct {
    Lines args;
    bool limited;
    int status;
  } runs[] = {
      {{"unpack", "--password-file", pw, "--to-stdout", box}, false, 128 + SIGTERM},
      {packStdin, false, 128 + SIGTERM},
      {packStdin, true, 1},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.args[0] + (run.limited ? " limited" : ""));
    const pid_t child = StartTool(run.args, err, run.limited ? 4 << 20 : RLIM_INFINITY, fromBig);
    bool named = false;
    while (!run.limited && WrittenBy(child) >= 0 && WrittenBy(child) < (4 << 20)) {
      named = named || !fs::is_empty(folder.Root() / "tmp");
    }
    if (!run.limited) kill(child, SIGTERM);
    EXPECT_EQ(Finish(child), run.status);
    EXPECT_FALSE(named && run.args[0] == "unpack");
    EXPECT_TRUE(!run.limited || ReadBytes(err).find(": File too large\n") != std::string::npos)
        << ReadBytes(err);
    EXPECT_TRUE(fs::is_empty(folder.Root() / "tmp"));
    EXPECT_FALSE(fs::exists(folder.Path("s.yal")));
  }
}
#endif
#endif

#ifdef _WIN32
// Under Wine a Windows program may start a Unix program by its Unix path: this
// runs script with /bin/sh in the Unix folder of folder and gives back what it
// wrote. That program cannot be waited for, so its output is awaited as a file
// that appears whole. "" where no Unix program starts (Windows itself).
std::string UnixShell(const TempFolder& folder, const std::string& script) {
  std::string command = "/bin/sh -c \"(" + script + ") >.sh~ 2>&1; mv .sh~ .sh\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.Folder().c_str(), &startup, &process)) {
    return {};
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  const std::string done = folder.Path(".sh");
  for (int wait = 0; wait < 20000 && !fs::exists(done); ++wait) Sleep(1);
  const std::string said = ReadBytes(done);
  fs::remove(done);
  return said;
}

// Under Wine a file's Unix mode follows its access list: what others may read of a
// file the window's Decrypt File unpacks, and of its temporary while the record is
// written. The group's read is Wine's choice: it follows the owner's.
TEST(HostileWorld, UnderWineAnUnpackedFileGivesOthersNoMoreThanItsContainer) {
  if (UnixShell(TempFolder(), "echo on") != "on\n") GTEST_SKIP() << "Unix modes: Wine only";
  // The container's mode and what stands at the target's name before, then the
  // modes of the temporary and of the file unpacked.
  const std::array<std::string, 3> cases[] = {
      {"600", "", "640"},                                           // an owner-only container
      {"644", "; echo kept >in/a.txt; chmod 600 in/a.txt", "640"},  // an owner-only file stays so
      {"644", "", "644"},  // from a container all may read: as the folder passes on
  };
  for (const auto& [container, before, mode] : cases) {
    SCOPED_TRACE(container + before);
    Scene scene("secret", {{"a.txt", RandomBytes(4 << 20, 6)}});
    UnixShell(scene.root, "chmod " + container + " in/box.yal" + before);
    std::string temporary;
    auto form = NewForm("secret");
    form->onPendingEvents = [&] {
      for (const auto& entry : fs::directory_iterator(scene.root.Root() / "in")) {
        if (temporary.empty() && entry.path().filename().string().rfind("~rc", 0) == 0)
          temporary = UnixShell(scene.root, "stat -c %a in/./~rc*.tmp");
      }
    };
    Decrypt(*form, scene.container);
    const std::string modes = temporary + UnixShell(scene.root, "stat -c %a in/a.txt");
    EXPECT_EQ(modes, mode + "\n" + mode + "\n");
  }
}
#endif

#if defined(_WIN32) && defined(RESICRYPT_CLI_EXE)
BOOL WINAPI IgnoreConsoleEvent(DWORD) { return TRUE; }

// resicrypt-cli.exe stopped while its new file is open, packing over an existing
// container and unpacking: by TerminateProcess (status 99), and by Ctrl-C, which
// makes it a failed run (130). The system removes the file.
// Ctrl-C reaches the processes of a console: under Wine 8 only as an event for
// the whole console (not for a process group), the test ignoring its own.
TEST(HostileWorld, AStoppedToolLeavesNoFileBehind) {
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  SetConsoleCtrlHandler(IgnoreConsoleEvent, TRUE);
  TempFolder folder;
  WriteBytes(folder.Path("pw"), "secret\n");
  WriteBytes(folder.Path("big.bin"), "");
  fs::resize_file(folder.Root() / "big.bin", std::uintmax_t{128} << 20);
  fs::create_directory(folder.Root() / "out");
  const auto quoted = [&](const std::string& name) { return " \"" + folder.Path(name) + "\""; };
  std::error_code error;
  // Ended once its new file holds bytes (by TerminateProcess, or Ctrl-C when
  // ctrlC), or run to its end.
  const auto run = [&](std::string args, bool stop, bool ctrlC = false) {
    std::string command = "\"" RESICRYPT_CLI_EXE "\" " + args + " --password-file" + quoted("pw");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
      return DWORD{1000};
    }
    const auto busy = [&] {
      for (const auto& entry : fs::recursive_directory_iterator(folder.Root())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("~rc", 0) == 0 && fs::file_size(entry.path(), error) > 0) return true;
      }
      return false;
    };
    while (stop && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT && !busy()) Sleep(0);
    if (stop && ctrlC) GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    if (stop && !ctrlC) TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
  };
  ASSERT_EQ(run("pack -o" + quoted("box.yal") + quoted("big.bin"), false), 0u);
  WriteBytes(folder.Path("old.yal"), "earlier container");
  const Lines names = folder.Names();
  for (const bool ctrlC : {false, true}) {
    SCOPED_TRACE(ctrlC ? "Ctrl-C" : "TerminateProcess");
    const DWORD stopped = ctrlC ? 130 : 99;
    EXPECT_EQ(run("pack -o" + quoted("old.yal") + quoted("big.bin"), true, ctrlC), stopped);
    EXPECT_EQ(run("unpack -C" + quoted("out") + quoted("box.yal"), true, ctrlC), stopped);
    EXPECT_EQ(folder.Names(), names);
    EXPECT_TRUE(fs::is_empty(folder.Root() / "out"));
    EXPECT_EQ(ReadBytes(folder.Path("old.yal")), "earlier container");
  }
  SetConsoleCtrlHandler(IgnoreConsoleEvent, FALSE);
}

// Starts resicrypt-cli.exe with a UTF-16 command line in folder, standard input
// from in (or none), with the temporary folder temp (TMP and TEMP; or the test's).
PROCESS_INFORMATION StartWideTool(const TempFolder& folder, const std::wstring& args,
                                  HANDLE in = nullptr, const std::wstring& temp = {}) {
  std::wstring command = L"\"" RESICRYPT_CLI_EXE "\" " + args;
  wchar_t saved[2][MAX_PATH] = {};
  const wchar_t* const variables[] = {L"TMP", L"TEMP"};
  for (int k = 0; k < 2; ++k) {
    GetEnvironmentVariableW(variables[k], saved[k], MAX_PATH);
    if (!temp.empty()) SetEnvironmentVariableW(variables[k], temp.c_str());
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = in != nullptr ? STARTF_USESTDHANDLES : 0;
  startup.hStdInput = in;
  startup.hStdOutput = startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  CreateProcessW(nullptr, &command[0], nullptr, nullptr, in != nullptr, 0, nullptr,
                 folder.Root().wstring().c_str(), &startup, &process);
  for (int k = 0; k < 2; ++k) SetEnvironmentVariableW(variables[k], saved[k]);
  return process;
}

DWORD FinishWide(PROCESS_INFORMATION& process) {
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1000;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code;
}

// Arguments in UTF-16: look-alikes of box.yal and G.txt outside the code page
// (fullwidth "ｂｏｘ", "Ğ") are refused, not taken for the files beside them;
// letters the code page holds ("Ü") are used.
TEST(HostileWorld, TheToolTakesItsArgumentsAsTyped) {
  TempFolder folder;
  WriteBytes(folder.Path("pw"), "secret\n");
  WriteBytes(folder.Path("box.yal"), "earlier container");
  WriteBytes(folder.Path("G.txt"), "plain G");
  fs::copy_file(folder.Root() / "G.txt", folder.Root() / L"\u00DC.txt");
  const Lines names = folder.Names();
  PROCESS_INFORMATION refused =
      StartWideTool(folder, L"pack --password-file pw -o \uFF42\uFF4F\uFF58.yal \u011E.txt");
  EXPECT_EQ(FinishWide(refused), 2u);
  EXPECT_EQ(folder.Names(), names);
  EXPECT_EQ(ReadBytes(folder.Path("box.yal")), "earlier container");
  PROCESS_INFORMATION taken =
      StartWideTool(folder, L"pack --password-file pw -o \u00FC.yal \u00DC.txt");
  EXPECT_EQ(FinishWide(taken), 0u);
  EXPECT_TRUE(fs::exists(folder.Root() / L"\u00FC.yal"));
}

// Standard input held while it is read, the run then ended from outside: the
// system removes the held copy, which is deleted when it is closed.
TEST(HostileWorld, HeldStandardInputGoesWithTheTool) {
  TempFolder folder;
  WriteBytes(folder.Path("pw"), "secret\n");
  fs::create_directory(folder.Root() / "temp");
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherited, 0));
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
  PROCESS_INFORMATION tool =
      StartWideTool(folder, L"pack --password-file pw --stdin-name s.txt -o s.yal -", readEnd,
                    (folder.Root() / "temp" / "").wstring());
  CloseHandle(readEnd);
  const std::string bytes(1 << 16, 'x');
  DWORD put = 0;
  ASSERT_TRUE(WriteFile(writeEnd, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr));
  const auto heldFiles = [&] {
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder.Root() / "temp")) {
      files += entry.is_regular_file() ? 1 : 0;
    }
    return files;
  };
  // Blocked on its input with the file held, or (after 20 s) lost.
  for (int wait = 0; wait < 20000 && heldFiles() == 0; ++wait) {
    if (WaitForSingleObject(tool.hProcess, 1) != WAIT_TIMEOUT) break;
  }
  EXPECT_EQ(heldFiles(), 1);
  TerminateProcess(tool.hProcess, 99);
  EXPECT_EQ(FinishWide(tool), 99u);
  CloseHandle(writeEnd);
  EXPECT_EQ(heldFiles(), 0);
  EXPECT_FALSE(fs::exists(folder.Path("s.yal")));
}
#endif

}  // namespace
}  // namespace containertest
