#include "ui/form_dialogs_win.h"

#include <commdlg.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "ui/executable_path_win.h"
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
  ScreenCentring() : previous_(active_), hook_(WH_CBT, &HookProcedure) { active_ = this; }
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
  win::ThreadHook hook_;
};

ScreenCentring* ScreenCentring::active_ = nullptr;

int CentredMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type) {
  ScreenCentring centring;
  return MessageBoxA(owner, text.c_str(), title.c_str(), type);
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

bool SystemDialogs::RunOpenDialog(HWND owner, const std::string& filter, bool multiSelect,
                                  std::vector<std::string>& files) {
  const std::string filterList = DialogFilter(filter);
  std::vector<char> buffer(kOpenBufferSize, '\0');
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filterList.empty() ? nullptr : filterList.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = kOpenBufferSize;
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (multiSelect) dialog.Flags |= OFN_ALLOWMULTISELECT;
  if (!GetOpenFileNameA(&dialog)) {
    ThrowIfDialogFailed("open");
    return false;
  }
  files = ChosenFiles(buffer.data(), buffer.size());
  return !files.empty();
}

bool SystemDialogs::RunSaveDialog(HWND owner, const std::string& defaultExtension,
                                  std::string& path) {
  std::vector<char> buffer(kSaveBufferSize, '\0');
  const std::string folder = path;  // where the dialog opens, if given
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFile = buffer.data();
  dialog.nMaxFile = kSaveBufferSize;
  dialog.lpstrDefExt = defaultExtension.empty() ? nullptr : defaultExtension.c_str();
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  // No overwrite prompt: an existing container of that name is replaced.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameA(&dialog)) {
    ThrowIfDialogFailed("save");
    return false;
  }
  path = buffer.data();
  return true;
}

void SystemDialogs::ShowMessage(HWND owner, const std::string& title, const std::string& text) {
  CentredMessageBox(owner, text, title, MB_OK);
}

bool SystemDialogs::AskOkCancel(HWND owner, const std::string& text, const std::string& caption) {
  return CentredMessageBox(owner, text, caption, MB_OKCANCEL) == IDOK;
}

void SystemDialogs::ShowError(HWND owner, const std::string& title, const std::string& text) {
  CentredMessageBox(owner, text, title, MB_OK | MB_ICONERROR);
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

std::vector<std::string> ChosenFiles(const char* buffer, std::size_t size) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at < size && buffer[at] != '\0') {
    std::size_t end = at;
    while (end < size && buffer[end] != '\0') ++end;
    parts.emplace_back(buffer + at, end - at);
    at = end + 1;
  }
  if (parts.size() <= 1) return parts;
  std::string folder = parts.front();
  if (folder.back() != '\\' && folder.back() != '/') folder.push_back('\\');
  std::vector<std::string> files;
  files.reserve(parts.size() - 1);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string& name = parts[i];
    const bool absolute = (name.size() > 1 && name[1] == ':') || name.rfind("\\\\", 0) == 0;
    files.push_back(absolute ? name : folder + name);
  }
  return files;
}

std::string FileTitleOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string ExecutableTitle() {
  return FileTitleOf(ExecutablePath());
}

std::string ErrorBoxText(std::string text) {
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
    text.push_back('.');
  }
  return text;
}

}  // namespace resicrypt
