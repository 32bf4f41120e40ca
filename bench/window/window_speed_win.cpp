// Times Encrypt File and Decrypt File through the real window: Form1 with its
// controls, progress bars and pending-event processing, only the two file dialogs
// answered by the program. bench/speed.sh and bench/small_files.sh compare the
// times with resicrypt-cli.
//   window_speed.exe SOURCE CONTAINER PASSWORD
//   window_speed.exe @LIST CONTAINER PASSWORD     (LIST: one source path a line)
// The container is unpacked into its own folder, as Decrypt File always does.
// Also printed: the longest wait of a message sent to the window while each
// command ran ("encrypt-wait", "decrypt-wait"), how responsive it stayed.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/alUnit23_win.h"

namespace {

using resicrypt::ControlId;

// Dialogs that return the given paths and count every box shown.
class FixedDialogs final : public resicrypt::FormDialogs {
 public:
  std::vector<std::string> openPaths;
  std::string savePath;
  int boxes = 0;

  bool RunOpenDialog(HWND, const std::string&, bool, std::vector<std::string>& files) override {
    files = openPaths;
    return true;
  }
  bool RunSaveDialog(HWND, const std::string&, std::string& path) override {
    path = savePath;
    return true;
  }
  void ShowMessage(HWND, const std::string&, const std::string& text) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    ++boxes;
  }
  bool AskYesNo(HWND, const std::string& text, const std::string&) override {
    std::fprintf(stderr, "question: %s\n", text.c_str());
    ++boxes;
    return false;
  }
  bool AskOkCancel(HWND, const std::string& text, const std::string&) override {
    std::fprintf(stderr, "question: %s\n", text.c_str());
    ++boxes;
    return true;
  }
  void ShowError(HWND, const std::string&, const std::string& text) override {
    std::fprintf(stderr, "error: %s\n", text.c_str());
    ++boxes;
  }
  void ShowWideMessage(HWND, const std::string&, const std::wstring&) override {
    std::fprintf(stderr, "a file name outside the code page\n");
    ++boxes;
  }
};

// Lets the window handle what is waiting (its first paint after Show, the
// repaints after a command), as it would have done before a user's click.
void HandlePendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Writes the file's cached pages to the disk and waits for it.
void WriteBack(const char* path) {
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(file);
  CloseHandle(file);
}

using Clock = std::chrono::steady_clock;

// Sends the window a message that does nothing, every 20 ms from a thread of its
// own, and keeps the longest time one took to be answered.
class Prober {
 public:
  explicit Prober(HWND window) : window_(window) {
    thread_ = CreateThread(nullptr, 0, &Prober::Run, this, 0, nullptr);
  }
  ~Prober() { Stop(); }
  // The longest wait, once the thread has ended.
  double Stop() {
    if (thread_ != nullptr) {
      InterlockedExchange(&stop_, 1);
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
      thread_ = nullptr;
    }
    return longest_;
  }

 private:
  static DWORD WINAPI Run(void* self) {
    auto& prober = *static_cast<Prober*>(self);
    while (InterlockedCompareExchange(&prober.stop_, 0, 0) == 0) {
      const auto start = Clock::now();
      DWORD_PTR result = 0;
      SendMessageTimeoutA(prober.window_, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result);
      const double took = std::chrono::duration<double>(Clock::now() - start).count();
      if (took > prober.longest_) prober.longest_ = took;
      Sleep(20);
    }
    return 0;
  }
  HWND window_;
  HANDLE thread_ = nullptr;
  volatile LONG stop_ = 0;
  double longest_ = 0;
};

double Click(resicrypt::TForm1& form, ControlId button, double& longestWait) {
  HandlePendingMessages();
  Prober prober(form.Handle());
  const auto start = Clock::now();
  SendMessageA(form.Control(button), BM_CLICK, 0, 0);
  // The command runs on its own thread; the window's loop runs until it has ended.
  while (form.Gate().Busy()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
    HandlePendingMessages();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  longestWait = prober.Stop();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: window_speed SOURCE CONTAINER PASSWORD\n");
    return 2;
  }
  FixedDialogs dialogs;
  resicrypt::TForm1::Options options;
  options.dialogs = &dialogs;
  options.endsMessageLoop = false;
  resicrypt::TForm1 form(options);
  form.Show(SW_SHOWNORMAL);
  form.SetEdit1Text(argv[3]);
  form.SetEdit2Text(argv[3]);

  if (argv[1][0] == '@') {
    std::FILE* list = std::fopen(argv[1] + 1, "r");
    if (list == nullptr) {
      std::fprintf(stderr, "cannot read %s\n", argv[1] + 1);
      return 2;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, list) != nullptr) {
      std::string path(line);
      while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
      if (!path.empty()) dialogs.openPaths.push_back(path);
    }
    std::fclose(list);
  } else {
    dialogs.openPaths = {argv[1]};
  }
  dialogs.savePath = argv[2];
  double encryptWait = 0, decryptWait = 0;
  double encrypt = Click(form, ControlId::Button2, encryptWait);
  // The command line's runs each start after a sync; so does Decrypt File here,
  // instead of paying for the writeback of the container just written.
  WriteBack(argv[2]);
  dialogs.openPaths = {argv[2]};
  double decrypt = Click(form, ControlId::Button1, decryptWait);

  std::printf("encrypt %.3f\ndecrypt %.3f\nencrypt-wait %.3f\ndecrypt-wait %.3f\n", encrypt,
              decrypt, encryptWait, decryptWait);
  // The report list, read through its messages.
  const HWND list = form.Control(ControlId::ListBox1);
  for (WPARAM i = 0; i < static_cast<WPARAM>(SendMessageA(list, LB_GETCOUNT, 0, 0)); ++i) {
    std::string line(static_cast<std::size_t>(SendMessageA(list, LB_GETTEXTLEN, i, 0)) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  return dialogs.boxes == 0 ? 0 : 1;
}
