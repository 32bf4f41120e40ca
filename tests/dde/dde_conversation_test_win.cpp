// Resicrypt.exe serving DDE callers in other processes: the example caller
// encrypting and decrypting, this test process as a caller that watches the
// window, the back link starting the caller's program, a caller that does not
// answer, and the program ending when the caller disconnects.
#include <windows.h>

#include <ddeml.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/text_cipher.h"
#include "examples/dde_caller_win.h"
#include "tests/ui/ui_test_support.h"
#include "ui/alUnit23_win.h"
#include "ui/dde_win.h"
#include "ui/form_layout_win.h"

namespace resicrypt {
namespace {

using examples::DdeCaller;
using testing::FindTopWindow;
using Lines = std::vector<std::string>;

constexpr DWORD kWait = 20000;  // milliseconds; generous, the machine is shared
const std::string kInitialReport = "View  Encrypt File the Report  or Decrypt  File the Report";
const std::string kInitialMemo = " Write here data for Encrypt or Decrypt";

std::string WindowsPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

const std::string kResicryptExe = WindowsPath(RESICRYPT_EXE_PATH);
const std::string kCallExe = WindowsPath(DDE_CALL_EXE_PATH);
const std::string kReceiverExe = WindowsPath(DDE_RECEIVER_EXE_PATH);

std::string Encrypted(const std::string& password, const std::string& line) {
  static CipherWorkspace workspace{};
  TextAlphabet alphabet{};
  BuildTextAlphabet(alphabet);
  return EncryptText(workspace, alphabet, password, line);
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex.push_back(digits[static_cast<unsigned char>(c) >> 4]);
    hex.push_back(digits[static_cast<unsigned char>(c) & 15]);
  }
  return hex;
}

// The lines of a text, each ended by end (the last one may lack it).
Lines Split(const std::string& text, const std::string& end = "\r\n") {
  Lines lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(end, start)) != std::string::npos; start = at + end.size()) {
    lines.push_back(text.substr(start, at - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string TempPath(const std::string& name) {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "resicrypt-dde-" + std::to_string(GetCurrentProcessId()) + "-" +
         name;
}

void WriteTextFile(const std::string& path, const std::string& content) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
}

std::string ReadTextFile(const std::string& path) {
  std::string content;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
      content.append(buffer, got);
    }
    std::fclose(file);
  }
  return content;
}

// A window's text, also of another process's window.
std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 5000, &length);
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                      SMTO_BLOCK, 5000, &copied);
  text.resize(copied);
  return text;
}

// The list's lines in the system's code page. Asked for in UTF-16: Wine copies an
// ANSI LB_GETTEXT from another process in UTF-16 all the same.
Lines ListLines(HWND list) {
  Lines lines;
  const auto count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    const auto length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0) break;
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i),
                                     reinterpret_cast<LPARAM>(wide.data()));
    wide.resize(copied > 0 ? std::min(static_cast<std::size_t>(copied), wide.size()) : 0);
    std::string line(wide.size() * 2 + 1, '\0');
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), line.data(),
                            static_cast<int>(line.size()), nullptr, nullptr);
    line.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    lines.push_back(line);
  }
  return lines;
}

// Waits for a process to end, handling this thread's messages meanwhile: a thread
// with windows that stops answering stalls every DDE connect on the desktop, and
// earlier tests leave windows behind. True when it ended.
bool WaitForProcess(HANDLE process, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    const DWORD woke =
        MsgWaitForMultipleObjects(1, &process, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) return true;
  }
}

void PumpFor(DWORD milliseconds) {
  const HANDLE none = GetCurrentProcess();  // never signalled while we run
  WaitForProcess(none, milliseconds);
}

// The receiver's log. Named before any Resicrypt starts: Resicrypt inherits it
// and hands it on to the receiver it starts.
const std::string& ReceiverLog() {
  static const std::string log = [] {
    const std::string path = TempPath("receiver.log");
    SetEnvironmentVariableA("RESICRYPT_DDE_RECEIVER_LOG", path.c_str());
    return path;
  }();
  return log;
}
const bool kReceiverLogNamed = !ReceiverLog().empty();

// Resicrypt.exe in a process of its own, ended by force if a test leaves it.
class ResicryptProcess {
 public:
  ResicryptProcess() {
    std::string commandLine = "\"" + kResicryptExe + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
      return;
    }
    // The service is registered before the window is created.
    for (int i = 0; i < 400 && form_ == nullptr; ++i) {
      PumpFor(25);
      form_ = FindTopWindow(process_.dwProcessId, kFormClassName);
    }
  }
  ~ResicryptProcess() {
    if (process_.hProcess == nullptr) return;
    if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  ResicryptProcess(const ResicryptProcess&) = delete;
  ResicryptProcess& operator=(const ResicryptProcess&) = delete;

  HWND Form() const { return form_; }
  HWND Control(ControlId id) const { return GetDlgItem(form_, CommandIdOf(id)); }
  std::string Text(ControlId id) const { return TextOf(Control(id)); }
  DWORD Id() const { return process_.dwProcessId; }
  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

  // Waits for the program to end; its exit code, or -1 when it did not end.
  long ExitCode(DWORD timeoutMs) const {
    if (!WaitForProcess(process_.hProcess, timeoutMs)) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
  }

  // Unchecks Hide Password, so the conversation is copied into memo and list.
  void ShowPassword() const {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(Control(ControlId::CheckBox1), BM_CLICK, 0, 0, SMTO_BLOCK, 5000, &result);
  }

 private:
  PROCESS_INFORMATION process_{};
  HWND form_ = nullptr;
};

// A program running with its standard output in a file.
class ProgramRun {
 public:
  ProgramRun(std::string commandLine, const std::string& outputFile) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process_)) {
      process_ = PROCESS_INFORMATION{};
    }
    CloseHandle(output);
  }
  ~ProgramRun() {
    if (process_.hProcess == nullptr) return;
    if (Running()) TerminateProcess(process_.hProcess, 98);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  bool Started() const { return process_.hProcess != nullptr; }
  HANDLE Handle() const { return process_.hProcess; }
  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
  long ExitCode() const {
    DWORD code = 0;
    if (Running() || !GetExitCodeProcess(process_.hProcess, &code)) return -1;
    return static_cast<long>(code);
  }

 private:
  PROCESS_INFORMATION process_{};
};

// Runs a program to its end (at most a minute) with its standard output in a
// file; its exit code, or -1.
long RunProgram(std::string commandLine, const std::string& outputFile) {
  ProgramRun run(std::move(commandLine), outputFile);
  if (run.Started()) WaitForProcess(run.Handle(), 60000);
  return run.ExitCode();
}

// The receiver's log, one entry per LF-ended line.
Lines LogLines(const std::string& path) { return Split(ReadTextFile(path), "\n"); }

// Lines whose cipher text holds no line break byte, so that each one travels
// as one macro line.
Lines PlainLines(const std::string& password) {
  Lines lines;
  for (const char* candidate :
       {"Hello, world", "The quick brown fox jumps over the lazy dog", "x", "0123456789",
        "Grüße aus Köln", "line with\ttab", "last one", "one more line", "short", "tiny"}) {
    const std::string cipher = Encrypted(password, candidate);
    if (cipher.find_first_of("\r\n") == std::string::npos) lines.push_back(candidate);
  }
  return lines;
}

// The example caller on a file of lines, each time with a Resicrypt of its own
// that ends after the conversation.
TEST(DdeExampleCaller, EncryptsAndDecryptsEachLineAndResicryptEndsAfterTheConversation) {
  const Lines plain = PlainLines("secret");
  ASSERT_GE(plain.size(), 4u);
  const Lines tiger = PlainLines("Tiger-7");
  std::string cipherFile;
  Lines cipherLines;
  for (const std::string& line : tiger) {
    cipherLines.push_back(Encrypted("Tiger-7", line));
    cipherFile += cipherLines.back() + "\r\n";
  }
  struct Row {
    const char* name;
    const char* arguments;
    std::string input;
    long exitCode;
    Lines output;
  };
  const Row rows[] = {
      {"each line, CR LF or LF ended, an empty one kept", "encrypt secret",
       plain[0] + "\r\n" + plain[1] + "\n\n" + plain[2] + "\n" + plain[3], 0,
       Lines{Encrypted("secret", plain[0]), Encrypted("secret", plain[1]), "",
             Encrypted("secret", plain[2]), Encrypted("secret", plain[3])}},
      // A line with a byte 255 in its last block (of 7) is not encrypted: an empty
      // reply, an empty output line, and exit code 4; the next line as ever.
      {"a line that would not come back", "encrypt secret1", "abc\xFF\nabc\n", 4,
       Lines{"", Encrypted("secret1", "abc")}},
      {"cipher lines back to the plain text", "decrypt Tiger-7", cipherFile, 0, tiger},
      // The service sends a line that is not cipher text under the password back
      // as it came; the caller tells so with exit code 3, as resicrypt-cli does.
      {"a wrong password: every line back unchanged", "decrypt Lion-8", cipherFile, 3,
       cipherLines},
  };
  const std::string input = TempPath("caller-in.txt");
  const std::string output = TempPath("caller-out.txt");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ResicryptProcess resicrypt;
    ASSERT_NE(resicrypt.Form(), nullptr);
    WriteTextFile(input, row.input);
    EXPECT_EQ(RunProgram("\"" + kCallExe + "\" " + row.arguments + " \"" + input + "\"", output),
              row.exitCode);
    EXPECT_EQ(Split(ReadTextFile(output)), row.output);
    EXPECT_EQ(resicrypt.ExitCode(kWait), 0);
  }
  DeleteFileA(input.c_str());
  DeleteFileA(output.c_str());
}

TEST(DdeExampleCaller, PrintsHelpRefusesShortPasswordAndReportsMissingService) {
  const std::string output = TempPath("none.txt");
  EXPECT_EQ(RunProgram("\"" + kCallExe + "\" --help", output), 0);
  EXPECT_EQ(ReadTextFile(output).rfind("usage: resicrypt-dde-call [--server NAME]", 0), 0u);
  EXPECT_EQ(RunProgram("\"" + kCallExe + "\" encrypt ab", output), 1);
  // No Resicrypt is running.
  EXPECT_EQ(
      RunProgram("\"" + kCallExe + "\" --server NoSuchService encrypt secret \"" + output + "\"",
                 output),
      2);
  DeleteFileA(output.c_str());
}

// This test process as the caller, watching Resicrypt's window meanwhile.
class DdeCallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(resicrypt.Form(), nullptr) << "Resicrypt did not start";
    std::string error;
    ASSERT_TRUE(caller.Start(examples::OwnExecutablePath(), error)) << error;
  }
  void Connect(const std::string& topic = examples::kConversationTopic) {
    std::string error;
    ASSERT_TRUE(caller.Connect("Resicrypt", error, topic)) << error;
  }
  // Waits, letting this thread's messages through, until the condition holds.
  bool WaitFor(const std::function<bool()>& condition) {
    return caller.WaitUntil(condition, kWait);
  }
  bool WaitForText(ControlId id, const std::string& text) {
    return WaitFor([&] { return resicrypt.Text(id) == text; });
  }
  void DisconnectAndExpectEnd() {
    caller.Disconnect(kWait);
    EXPECT_EQ(resicrypt.ExitCode(kWait), 0);
  }

  ResicryptProcess resicrypt;
  DdeCaller caller;
};

TEST_F(DdeCallerTest, ConversationStepsShowInTheWindowAndTheReplyCarriesItsZero) {
  resicrypt.ShowPassword();
  Connect("ddeserverconv1");  // the topic in any letter case
  ASSERT_TRUE(WaitForText(ControlId::Label3, "Connected"));
  // An empty macro is acknowledged and ignored.
  EXPECT_TRUE(caller.Send("", kWait));
  const std::string path = examples::OwnExecutablePath();
  ASSERT_TRUE(caller.Post(path));
  ASSERT_TRUE(caller.WaitForLinkBack(kWait));
  EXPECT_TRUE(WaitForText(ControlId::Label4, "Call Connect"));
  for (const char* macro : {"Open", "ab", "abcd", "one line"}) ASSERT_TRUE(caller.Post(macro));
  ASSERT_TRUE(caller.WaitForResults(1, kWait));
  const std::string result = Encrypted("abcd", "one line");
  EXPECT_EQ(caller.Results()[0].text, result);
  EXPECT_EQ(caller.Results()[0].size, result.size() + 1);
  EXPECT_TRUE(caller.Results()[0].zeroEnded);
  EXPECT_EQ(resicrypt.Text(ControlId::Edit1), "abcd");
  EXPECT_EQ(resicrypt.Text(ControlId::Edit2), "abcd");
  EXPECT_EQ(ListLines(resicrypt.Control(ControlId::ListBox1)),
            (Lines{kInitialReport, path, "Open", "abcd", "one line", result}));
  // The memo has every first line, the short password too.
  EXPECT_EQ(Split(resicrypt.Text(ControlId::Memo1)),
            (Lines{kInitialMemo, path, "Open", "ab", "abcd", "one line"}));
  DisconnectAndExpectEnd();
  EXPECT_TRUE(caller.LinkBackClosed());
}

// Macro 1 names a program, never a command line: a missing path with a blank (as
// a command line it would start "...My.exe", which is there) and a command start
// nothing, as a caller that is not there starts nothing.
class NoCaller : public DdeCallerTest, public ::testing::WithParamInterface<int> {};
INSTANTIATE_TEST_SUITE_P(Paths, NoCaller, ::testing::Range(0, 3));

TEST_P(NoCaller, GetsDisconnectStartsNothingAndTheConversationGoesOn) {
  const std::string path = std::vector<std::string>{
      "C:\\nowhere\\Ghost.exe", TempPath("My Tools\\caller.exe"),
      "C:\\windows\\system32\\cmd.exe /c echo pwned> " + TempPath("pwned.txt")}[GetParam()];
  ASSERT_TRUE(CopyFileA(kReceiverExe.c_str(), TempPath("My.exe").c_str(), FALSE));
  resicrypt.ShowPassword();
  Connect();
  const std::string label4 = resicrypt.Text(ControlId::Label4);  // the start time
  ASSERT_TRUE(caller.Post(path));
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = FindTopWindow(resicrypt.Id(), "#32770")) != nullptr; }));
  EXPECT_EQ(TextOf(box), "Resicrypt");
  EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), "Disconnect");
  // The caller goes on while the box is open; its macros wait their turn.
  for (const char* macro : {"Open", "secret", "dropped line"}) ASSERT_TRUE(caller.Post(macro));
  caller.WaitUntil([] { return false; }, 300);
  EXPECT_EQ(ListLines(resicrypt.Control(ControlId::ListBox1)), (Lines{kInitialReport, path}));
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(
      WaitFor([&] { return ListLines(resicrypt.Control(ControlId::ListBox1)).size() == 6; }));
  EXPECT_EQ(ListLines(resicrypt.Control(ControlId::ListBox1)),
            (Lines{kInitialReport, path, "Open", "secret", "dropped line",
                   Encrypted("secret", "dropped line")}));
  EXPECT_EQ(resicrypt.Text(ControlId::Edit1), "secret");
  EXPECT_EQ(resicrypt.Text(ControlId::Label4), label4);
  EXPECT_TRUE(caller.Results().empty());  // the result had nowhere to go
  DisconnectAndExpectEnd();
  EXPECT_EQ(ReadTextFile(ReceiverLog()), "");
  EXPECT_EQ(GetFileAttributesA(TempPath("pwned.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileA(TempPath("My.exe").c_str());
}

TEST_F(DdeCallerTest, OwnPathIsNotLinkedBackAndHidePasswordKeepsNoCopies) {
  Connect();
  // Its own service would get the results as macros, and a new conversation.
  ASSERT_TRUE(caller.Post(kResicryptExe));
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (box = FindTopWindow(resicrypt.Id(), "#32770")) != nullptr; }));
  EXPECT_EQ(TextOf(GetDlgItem(box, 0xFFFF)), "Disconnect");
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(WaitForText(ControlId::Label3, "Connected"));
  // Hide Password is checked at start: no copies in the list or the memo.
  ASSERT_TRUE(caller.Post("Open"));
  ASSERT_TRUE(caller.Post("secret"));
  EXPECT_TRUE(WaitForText(ControlId::Edit1, "secret"));
  EXPECT_EQ(ListLines(resicrypt.Control(ControlId::ListBox1)), Lines{kInitialReport});
  EXPECT_EQ(Split(resicrypt.Text(ControlId::Memo1)), Lines{kInitialMemo});
  DisconnectAndExpectEnd();
}

TEST_F(DdeCallerTest, BackLinkStartsTheCallersProgramMinimisedWhenItIsNotRunning) {
  const std::string& log = ReceiverLog();
  DeleteFileA(log.c_str());
  Connect();
  ASSERT_TRUE(caller.Post(kReceiverExe));
  EXPECT_TRUE(WaitForText(ControlId::Label4, "Call Connect"));
  for (const char* macro : {"Open", "secret", "first", "second"}) ASSERT_TRUE(caller.Post(macro));
  EXPECT_TRUE(WaitFor([&] { return LogLines(log).size() >= 4; }));
  DisconnectAndExpectEnd();
  EXPECT_TRUE(WaitFor([&] { return ReadTextFile(log).find("disconnected") != std::string::npos; }));
  const Lines lines = LogLines(log);
  const std::string first = Encrypted("secret", "first");
  const std::string second = Encrypted("secret", "second");
  // Started with a show state: minimised and not activated (SW_SHOWMINNOACTIVE).
  EXPECT_EQ(lines, (Lines{"started 1 7", "connected",
                          "macro " + std::to_string(first.size() + 1) + " " + Hex(first) + "00",
                          "macro " + std::to_string(second.size() + 1) + " " + Hex(second) + "00",
                          "disconnected"}));
  DeleteFileA(log.c_str());
}

// Resicrypt's window and DDE service in this process, a caller in another one.
TEST(DdeInTheWindow, MacrosDuringAFileCommandWaitForItAndAreAnsweredInOrder) {
  testing::ScriptedDialogs dialogs;
  TForm1::Options options;
  options.dialogs = &dialogs;
  options.endsMessageLoop = false;
  std::vector<int> reportDuringCommand;
  std::size_t heldBack = 0;
  DdeServer dde;
  // A long file command, on its own thread as Encrypt File is, while the window
  // goes on handling its messages. It lasts until the caller's opening and first
  // macro have arrived; the caller then waits for the link back, which comes after
  // the command.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  bool releasedYet = false;
  options.commands.button2Click = [&](FormPort& port) -> CommandThread::Body {
    port.ReportAppend("file command starts");
    return [released](FileCommandView& view) {
      released.wait();
      view.ReportAppend("file command ends");
    };
  };
  TForm1 form(options);
  ASSERT_EQ(dde.Start(DdeServiceName(examples::OwnExecutablePath())), 0u);
  dde.Attach(form, &form.Gate(), [](const std::string& error) { ADD_FAILURE() << error; });
  Lines reportAtClose;
  form.SetFormCloseAction([&] {
    reportAtClose = ListLines(form.Control(ControlId::ListBox1));
    dde.BackLink().CloseLink();
  });
  form.Show(SW_SHOWNOACTIVATE);
  SendMessageA(form.Control(ControlId::CheckBox1), BM_CLICK, 0, 0);  // copies on

  const Lines plain = PlainLines("secret");
  const std::string input = TempPath("held-back.txt");
  const std::string output = TempPath("held-back.out");
  WriteTextFile(input, plain[0] + "\n" + plain[1] + "\n");
  ProgramRun caller(
      "\"" + kCallExe + "\" --server " + dde.ServiceName() + " encrypt secret \"" + input + "\"",
      output);
  ASSERT_TRUE(caller.Started());
  // The whole conversation arrives while the command runs.
  SendMessageA(form.Control(ControlId::Button2), BM_CLICK, 0, 0);
  const DWORD start = GetTickCount();
  while ((caller.Running() || form.Handle() != nullptr) && GetTickCount() - start < kWait) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    if (!releasedYet && form.Handle() != nullptr) {
      reportDuringCommand.push_back(testing::ReportCount(form));
      if (dde.PendingEventCount() >= 2 || GetTickCount() - start > kWait / 2) {
        heldBack = dde.PendingEventCount();
        release.set_value();
        releasedYet = true;
      }
    }
  }
  if (!releasedYet) release.set_value();
  EXPECT_EQ(caller.ExitCode(), 0);
  EXPECT_EQ(form.Handle(), nullptr) << "the end of the conversation closes the window";
  ASSERT_FALSE(reportDuringCommand.empty());
  EXPECT_EQ(reportDuringCommand.back(), 2) << "nothing of the conversation ran meanwhile";
  EXPECT_EQ(heldBack, 2u) << "the opening and the first macro waited";
  const std::string first = Encrypted("secret", plain[0]);
  const std::string second = Encrypted("secret", plain[1]);
  EXPECT_EQ(reportAtClose, (Lines{kInitialReport, "file command starts", "file command ends",
                                  kCallExe, "Open", "secret", plain[0], first, plain[1], second}));
  EXPECT_EQ(Split(ReadTextFile(output)), (Lines{first, second}));
  DeleteFileA(input.c_str());
  DeleteFileA(output.c_str());
}

HDDEDATA CALLBACK IgnoreDdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

TEST(DdeService, AcceptsNoServiceNamedRefusesOtherTopicsAndEndsWhenTheCallerLeaves) {
  ResicryptProcess resicrypt;
  ASSERT_NE(resicrypt.Form(), nullptr);
  DWORD instance = 0;
  ASSERT_EQ(DdeInitializeA(&instance, &IgnoreDdeCallback, APPCMD_CLIENTONLY, 0),
            static_cast<UINT>(DMLERR_NO_ERROR));
  const HSZ service = DdeCreateStringHandleA(instance, "Resicrypt", CP_WINANSI);
  const HSZ otherTopic = DdeCreateStringHandleA(instance, "System", CP_WINANSI);
  const HSZ topic = DdeCreateStringHandleA(instance, "DDESERVERCONV1", CP_WINANSI);
  EXPECT_EQ(DdeConnect(instance, service, otherTopic, nullptr), nullptr);
  const HCONV conversation = DdeConnect(instance, nullptr, topic, nullptr);
  ASSERT_NE(conversation, nullptr);
  CONVINFO info{};
  info.cb = sizeof info;
  ASSERT_NE(DdeQueryConvInfo(conversation, QID_SYNC, &info), 0u);
  char partner[64] = {};
  DdeQueryStringA(instance, info.hszSvcPartner, partner, sizeof partner, CP_WINANSI);
  EXPECT_STREQ(partner, "Resicrypt");
  EXPECT_TRUE(resicrypt.Running());
  DdeDisconnect(conversation);
  EXPECT_EQ(resicrypt.ExitCode(kWait), 0);
  for (HSZ handle : {service, otherTopic, topic}) DdeFreeStringHandle(instance, handle);
  DdeUninitialize(instance);
}

}  // namespace
}  // namespace resicrypt
