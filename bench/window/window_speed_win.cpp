// Times Encrypt File and Decrypt File through the real window: Form1 with its
// controls, progress bars and pending-event processing, only the two file dialogs
// answered by the program. bench/speed.sh compares the times with resicrypt-cli.
//   window_speed.exe SOURCE CONTAINER PASSWORD
// The container is unpacked into its own folder, as Decrypt File always does.
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
  std::string openPath, savePath;
  int boxes = 0;

  bool RunOpenDialog(HWND, const std::string&, bool, std::vector<std::string>& files) override {
    files = {openPath};
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

double Click(resicrypt::TForm1& form, ControlId button) {
  HandlePendingMessages();
  auto start = std::chrono::steady_clock::now();
  SendMessageA(form.Control(button), BM_CLICK, 0, 0);
  // The command runs on its own thread; the window's loop runs until it has ended.
  while (form.Gate().Busy()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
    HandlePendingMessages();
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

  dialogs.openPath = argv[1];
  dialogs.savePath = argv[2];
  double encrypt = Click(form, ControlId::Button2);
  // The command line's runs each start after a sync; so does Decrypt File here,
  // instead of paying for the writeback of the container just written.
  WriteBack(argv[2]);
  dialogs.openPath = argv[2];
  double decrypt = Click(form, ControlId::Button1);

  std::printf("encrypt %.3f\ndecrypt %.3f\n", encrypt, decrypt);
  // The report list, read through its messages.
  const HWND list = form.Control(ControlId::ListBox1);
  for (WPARAM i = 0; i < static_cast<WPARAM>(SendMessageA(list, LB_GETCOUNT, 0, 0)); ++i) {
    std::string line(static_cast<std::size_t>(SendMessageA(list, LB_GETTEXTLEN, i, 0)) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  return dialogs.boxes == 0 ? 0 : 1;
}
