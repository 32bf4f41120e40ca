#include "ui/form_dialogs_win.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "ui/executable_path_win.h"
#include "ui/wide_names_win.h"
#include "ui/win_handles_win.h"

namespace resicrypt {

namespace {

// Room for the names of many files chosen at once (folder plus bare names).
constexpr DWORD kOpenBufferSize = 1u << 20;
constexpr DWORD kSaveBufferSize = 32768;

// Moves the next message box of this thread to the middle of its screen. Boxes
// can nest (a DDE message while a question is open), so each box keeps its own
// request and the innermost one is served first.
class ScreenCentring {
 public:
  ScreenCentring() : previous_(active_) { active_ = this; }
  ~ScreenCentring() { active_ = previous_; }
  ScreenCentring(const ScreenCentring&) = delete;
  ScreenCentring& operator=(const ScreenCentring&) = delete;

 private:
  static LRESULT CALLBACK HookProcedure(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && active_ != nullptr && !active_->done_) {
      const auto box = reinterpret_cast<HWND>(wParam);
      char className[16] = {};
      GetClassNameA(box, className, static_cast<int>(sizeof className));
      if (std::strcmp(className, "#32770") == 0) {
        active_->done_ = true;
        CentreOnScreen(box);
      }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static void CentreOnScreen(HWND box) {
    RECT box_rect{};
    GetWindowRect(box, &box_rect);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoA(MonitorFromWindow(box, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
    const RECT& screen = monitor.rcMonitor;
    const int width = box_rect.right - box_rect.left;
    const int height = box_rect.bottom - box_rect.top;
    const int left = screen.left + (screen.right - screen.left - width) / 2;
    const int top = screen.top + (screen.bottom - screen.top - height) / 2;
    SetWindowPos(box, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  static ScreenCentring* active_;  // the window's one thread only
  ScreenCentring* previous_;
  bool done_ = false;
  win::ThreadHook hook_{SetWindowsHookExA(WH_CBT, &HookProcedure, nullptr, GetCurrentThreadId())};
};

ScreenCentring* ScreenCentring::active_ = nullptr;

int CentredMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type) {
  ScreenCentring centring;
  return MessageBoxA(owner, text.c_str(), title.c_str(), type);
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

// A dialog that ended without a choice was cancelled, or failed: a failure is
// thrown, so the error box tells the user instead of a silent nothing.
void ThrowIfDialogFailed(const char* what) {
  const DWORD error = CommDlgExtendedError();
  if (error == 0) return;
  if (error == FNERR_BUFFERTOOSMALL) {
    throw std::runtime_error("Too many files were chosen at once");
  }
  char text[128];
  std::snprintf(text, sizeof text, "The %s dialog failed (error 0x%lx)", what,
                static_cast<unsigned long>(error));
  throw std::runtime_error(text);
}

}  // namespace

std::wstring SystemDialogs::StartFolder() const {
  if (!lastFolder_.empty()) return lastFolder_;
  wchar_t documents[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents) != S_OK) {
    return std::wstring();
  }
  return documents;
}

bool SystemDialogs::Chosen(HWND owner, const std::vector<std::wstring>& wide,
                           std::vector<std::string>& files) {
  if (wide.empty()) return false;
  lastFolder_ = FolderOf(wide.front());
  std::wstring refused;
  if (!AnsiPaths(wide, files, refused)) {
    ShowWideMessage(owner, ExecutableTitle(), UnusableNameText(refused));
    files.clear();
    return false;
  }
  return true;
}

bool SystemDialogs::RunOpenDialog(HWND owner, const std::string& filter, bool multiSelect,
                                  std::vector<std::string>& files) {
  const std::wstring filterList = WidePath(DialogFilter(filter));
  const std::wstring folder = StartFolder();
  std::vector<wchar_t> buffer(kOpenBufferSize, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filterList.empty() ? nullptr : filterList.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = kOpenBufferSize;
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (multiSelect) dialog.Flags |= OFN_ALLOWMULTISELECT;
  if (!GetOpenFileNameW(&dialog)) {
    ThrowIfDialogFailed("open");
    return false;
  }
  return Chosen(owner, ChosenFiles(buffer.data(), buffer.size()), files);
}

bool SystemDialogs::RunSaveDialog(HWND owner, const std::string& defaultExtension,
                                  std::string& path) {
  std::vector<wchar_t> buffer(kSaveBufferSize, L'\0');
  const std::wstring folder = path.empty() ? StartFolder() : WidePath(path);
  const std::wstring extension = WidePath(defaultExtension);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = kSaveBufferSize;
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  // No overwrite prompt: an existing container of that name is replaced.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) {
    ThrowIfDialogFailed("save");
    return false;
  }
  std::vector<std::string> chosen;
  if (!Chosen(owner, {std::wstring(buffer.data())}, chosen)) return false;
  path = chosen.front();
  return true;
}

void SystemDialogs::ShowMessage(HWND owner, const std::string& title, const std::string& text) {
  CentredMessageBox(owner, text, title, MB_OK);
}

bool SystemDialogs::AskYesNo(HWND owner, const std::string& text, const std::string& caption) {
  return CentredMessageBox(owner, text, caption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

bool SystemDialogs::AskOkCancel(HWND owner, const std::string& text, const std::string& caption) {
  return CentredMessageBox(owner, text, caption, MB_OKCANCEL) == IDOK;
}

void SystemDialogs::ShowError(HWND owner, const std::string& title, const std::string& text) {
  CentredMessageBox(owner, text, title, MB_OK | MB_ICONERROR);
}

void SystemDialogs::ShowWideMessage(HWND owner, const std::string& title,
                                    const std::wstring& text) {
  ScreenCentring centring;
  MessageBoxW(owner, text.c_str(), WidePath(title).c_str(), MB_OK);
}

std::string DialogFilter(const std::string& filter) {
  if (filter.empty()) return {};
  std::string list = filter;
  for (char& c : list) {
    if (c == '|') c = '\0';
  }
  if (list.back() != '\0') list.push_back('\0');
  list.push_back('\0');
  return list;
}

std::string FileTitleOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string ExecutableTitle() { return FileTitleOf(ExecutablePath()); }

std::string ErrorBoxText(std::string text) {
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
    text.push_back('.');
  }
  return text;
}

}  // namespace resicrypt
