// Helpers for driving Form1 in-process: a fixture with the real window, scripted
// dialogs, and a driver that answers the thread's modal boxes from a timer.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scripted_answer.h"
#include "ui/alUnit23_win.h"

namespace resicrypt::testing {

// Dialogs that answer from scripts and record what they were asked.
class ScriptedDialogs final : public FormDialogs {
 public:
  std::deque<std::optional<std::vector<std::string>>> openAnswers;
  std::deque<std::optional<std::string>> saveAnswers;
  std::deque<bool> questionAnswers;

  struct OpenRun {
    std::string filter;
    bool multiSelect;
  };
  std::vector<OpenRun> openRuns;
  std::vector<std::string> saveExtensions;
  std::vector<std::string> saveFolders;                        // where each save dialog opened
  std::vector<std::pair<std::string, std::string>> messages;   // title, text
  std::vector<std::pair<std::string, std::string>> questions;  // text, caption
  std::vector<std::pair<std::string, std::string>> errors;     // title, text
  std::vector<std::wstring> wideMessages;

  bool RunOpenDialog(HWND, const std::string& filter, bool multiSelect,
                     std::vector<std::string>& files) override {
    openRuns.push_back({filter, multiSelect});
    return TakeAnswer(openAnswers, files);
  }
  bool RunSaveDialog(HWND, const std::string& extension, std::string& path) override {
    saveExtensions.push_back(extension);
    saveFolders.push_back(path);
    return TakeAnswer(saveAnswers, path);
  }
  void ShowMessage(HWND, const std::string& title, const std::string& text) override {
    messages.emplace_back(title, text);
  }
  bool AskYesNo(HWND owner, const std::string& text, const std::string& caption) override {
    return AskOkCancel(owner, text, caption);
  }
  bool AskOkCancel(HWND, const std::string& text, const std::string& caption) override {
    questions.emplace_back(text, caption);
    if (questionAnswers.empty()) return true;
    const bool ok = questionAnswers.front();
    questionAnswers.pop_front();
    return ok;
  }
  void ShowError(HWND, const std::string& title, const std::string& text) override {
    errors.emplace_back(title, text);
  }
  void ShowWideMessage(HWND, const std::string&, const std::wstring& text) override {
    wideMessages.push_back(text);
  }
};

inline std::string TextOf(HWND window) {
  char text[4096] = {};
  GetWindowTextA(window, text, static_cast<int>(sizeof text));
  return text;
}

// A top-level window of a process and class, also of another process; a shown
// one only unless told otherwise. Null when there is none.
inline HWND FindTopWindow(DWORD process, const char* className, bool shownOnly = true) {
  struct Search {
    DWORD process;
    const char* className;
    bool shownOnly;
    HWND found;
  } search{process, className, shownOnly, nullptr};
  const WNDENUMPROC match = [](HWND window, LPARAM param) -> BOOL {
    auto* wanted = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64] = {};
    GetClassNameA(window, name, static_cast<int>(sizeof name));
    if (owner != wanted->process || lstrcmpA(name, wanted->className) != 0 ||
        (wanted->shownOnly && !IsWindowVisible(window))) {
      return TRUE;
    }
    wanted->found = window;
    return FALSE;
  };
  EnumWindows(match, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline bool HasClipboardFormat(const char* name) {
  return IsClipboardFormatAvailable(RegisterClipboardFormatA(name)) != FALSE;
}

// The report list's lines, read from ListBox1 through its messages.
inline int ReportCount(const TForm1& form) {
  return static_cast<int>(SendMessageA(form.Control(ControlId::ListBox1), LB_GETCOUNT, 0, 0));
}
inline std::string ReportLine(const TForm1& form, int index) {
  const HWND list = form.Control(ControlId::ListBox1);
  const auto item = static_cast<WPARAM>(index);
  const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, item, 0);
  if (length < 0) {
    ADD_FAILURE() << "the report list has no line " << index;
    return {};
  }
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendMessageA(list, LB_GETTEXT, item, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

// A folder of its own under the temporary folder, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "resicrypt-ui-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    for (const std::string& file : files_) DeleteFileA(file.c_str());
    RemoveDirectoryA(path_.c_str());
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string Add(const std::string& name, const std::string& content = {}) {
    const std::string file = path_ + "\\" + name;
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
      CloseHandle(handle);
    }
    files_.push_back(file);
    return file;
  }
  static std::string Read(const std::string& file) {
    std::string content;
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      content.append(buffer, got);
    }
    CloseHandle(handle);
    return content;
  }
  void Expect(const std::string& name) { files_.push_back(path_ + "\\" + name); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

// What a modal box showed when the driver answered it.
struct SeenBox {
  std::string title;
  std::string text;
  RECT rect{};
  HICON icon = nullptr;
  int visibleButtons = 0;
};

// Answers the modal dialogs of this thread. A thread timer fires inside the modal
// loop; each tick looks for a shown dialog window (#32770) and runs the next step
// on it. A step returns true when it is done with its dialog.
class ModalDriver {
 public:
  using Step = std::function<bool(HWND dialog)>;

  ModalDriver() : previous_(active_), timer_(SetTimer(nullptr, 0, 30, &Tick)) { active_ = this; }
  ~ModalDriver() {
    KillTimer(nullptr, timer_);
    active_ = previous_;
  }
  ModalDriver(const ModalDriver&) = delete;
  ModalDriver& operator=(const ModalDriver&) = delete;

  // Records the box's title and text, then presses a button.
  void Answer(int button) {
    steps_.push_back([this, button](HWND dialog) {
      seen.push_back(Inspect(dialog));
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
      return true;
    });
  }
  void Then(Step step) { steps_.push_back(std::move(step)); }

  std::vector<SeenBox> seen;
  bool Finished() const { return steps_.empty(); }

  static SeenBox Inspect(HWND dialog) {
    SeenBox box;
    box.title = TextOf(dialog);
    char text[4096] = {};
    GetDlgItemTextA(dialog, 0xFFFF, text, static_cast<int>(sizeof text));
    box.text = text;
    GetWindowRect(dialog, &box.rect);
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      char className[32] = {};
      GetClassNameA(child, className, static_cast<int>(sizeof className));
      const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
      if (lstrcmpiA(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        const auto icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        if (icon != nullptr && (style & WS_VISIBLE) != 0) box.icon = icon;
      }
      if (lstrcmpiA(className, "Button") == 0 && (style & WS_VISIBLE) != 0) ++box.visibleButtons;
    }
    return box;
  }

 private:
  static BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
    char className[16] = {};
    GetClassNameA(window, className, static_cast<int>(sizeof className));
    if (lstrcmpA(className, "#32770") == 0 && IsWindowVisible(window)) {
      *reinterpret_cast<HWND*>(found) = window;
      return FALSE;
    }
    return TRUE;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    ModalDriver* driver = active_;
    if (driver == nullptr || driver->steps_.empty() || driver->busy_) return;
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr) return;
    driver->busy_ = true;
    const bool done = driver->steps_.front()(dialog);
    driver->busy_ = false;
    if (done) driver->steps_.pop_front();
  }

  static inline ModalDriver* active_ = nullptr;
  ModalDriver* previous_;
  UINT_PTR timer_;
  bool busy_ = false;
  std::deque<Step> steps_;
};

// Form1, shown, with scripted dialogs unless a test asks for the system's.
class FormTest : public ::testing::Test {
 protected:
  void Create(TForm1::Options options) {
    options.endsMessageLoop = false;
    form_.emplace(std::move(options));
    form_->Show(SW_SHOWNORMAL);
    Pump();
  }
  void CreateWithScriptedDialogs(FormCommands commands = {}) {
    TForm1::Options options;
    options.dialogs = &dialogs_;
    options.commands = std::move(commands);
    Create(std::move(options));
  }
  void TearDown() override { form_.reset(); }

  TForm1& Form() { return *form_; }
  HWND Window() { return form_->Handle(); }
  HWND Item(ControlId id) { return form_->Control(id); }

  bool Shown(ControlId id) { return (GetWindowLongPtrA(Item(id), GWL_STYLE) & WS_VISIBLE) != 0; }
  bool Checked(ControlId id) { return SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

  // A control's rectangle in the window's client coordinates.
  RECT Place(ControlId id) {
    RECT rect{};
    GetWindowRect(Item(id), &rect);
    MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }

  // Clicks as the mouse would, by messages: on the window background or a control.
  void Click(ControlId id) { SendMessageA(Item(id), BM_CLICK, 0, 0); }
  // A command as a click gives it, and, for a file command, its end: the window
  // handles its messages meanwhile, as its message loop would.
  void Command(ControlId id, int notification = BN_CLICKED) {
    StartCommand(id, notification);
    PumpUntil([this] { return !Form().Gate().Busy(); });
  }
  void StartCommand(ControlId id, int notification = BN_CLICKED) {
    SendMessageA(Window(), WM_COMMAND, MAKEWPARAM(CommandIdOf(id), notification),
                 reinterpret_cast<LPARAM>(Item(id)));
  }
  // Handles the window's messages until done() holds (at most a minute).
  template <typename Done>
  static void PumpUntil(Done done) {
    const DWORD start = GetTickCount();
    while (!done()) {
      ASSERT_LT(GetTickCount() - start, 60000u) << "the window waited in vain";
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
      Pump();
    }
  }
  static LPARAM At(int x, int y) { return MAKELPARAM(x, y); }
  // A point of the background, right of every control.
  static constexpr int kBackgroundX = 425;
  static constexpr int kBackgroundY = 100;
  void BackgroundClick() { Press(Window(), kBackgroundX, kBackgroundY); }
  // The messages of a double click: press, release, double-click press, release.
  void BackgroundDoubleClick() {
    BackgroundClick();
    Press(Window(), kBackgroundX, kBackgroundY, WM_LBUTTONDBLCLK);
  }
  // The left button pressed (down: WM_LBUTTONDOWN or WM_LBUTTONDBLCLK) and
  // released at a point of a window.
  static void Press(HWND window, int x, int y, UINT down = WM_LBUTTONDOWN) {
    SendMessageA(window, down, MK_LBUTTON, At(x, y));
    SendMessageA(window, WM_LBUTTONUP, 0, At(x, y));
  }

  static void Pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }

  ScriptedDialogs dialogs_;
  std::optional<TForm1> form_;
};

// Form1 with the program's own commands behind its buttons, labels and drops.
class WiredFormTest : public FormTest {
 protected:
  void SetUp() override { CreateWithScriptedDialogs(DefaultFormCommands()); }
};

}  // namespace resicrypt::testing
