#include "ui/form_dialogs_win.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
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

}  // namespace

std::wstring SystemDialogs::StartFolder() const {
  if (!lastFolder_.empty()) return lastFolder_;
  wchar_t documents[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents) != S_OK) {
    return std::wstring();
  }
  return documents;
}

bool SystemDialogs::RunFileDialog(HWND owner, OPENFILENAMEW dialog, bool save,
                                  const std::wstring& folder, std::vector<std::string>& files) {
  std::vector<wchar_t> buffer(dialog.nMaxFile, L'\0');
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFile = buffer.data();
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.Flags |= OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (!(save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog))) {
    // Cancelled, or failed: a failure is thrown, so the error box tells the user
    // instead of a silent nothing.
    const DWORD error = CommDlgExtendedError();
    if (error == 0) return false;
    char text[128];
    std::snprintf(text, sizeof text, "The %s dialog failed (error 0x%lx)", save ? "save" : "open",
                  static_cast<unsigned long>(error));
    throw std::runtime_error(error == FNERR_BUFFERTOOSMALL ? "Too many files were chosen at once"
                                                           : text);
  }
  const std::vector<std::wstring> wide = ChosenFiles(buffer.data(), buffer.size());
  if (wide.empty()) return false;
  // The folder with its separator; empty (npos + 1 is 0) for a name without one.
  lastFolder_ = wide.front().substr(0, wide.front().find_last_of(L"\\/") + 1);
  std::wstring refused;
  if (!AnsiPaths(wide, files, refused)) {
    ShowWideMessage(owner, ExecutableTitle(), UnusableNameText(refused));
    return false;
  }
  return true;
}

bool SystemDialogs::RunOpenDialog(HWND owner, const std::string& filter, bool multiSelect,
                                  std::vector<std::string>& files) {
  const std::wstring filterList = WidePath(DialogFilter(filter));
  OPENFILENAMEW dialog{};
  dialog.lpstrFilter = filterList.empty() ? nullptr : filterList.c_str();
  dialog.nFilterIndex = 1;
  dialog.nMaxFile = kOpenBufferSize;
  if (multiSelect) dialog.Flags = OFN_ALLOWMULTISELECT;
  return RunFileDialog(owner, dialog, false, StartFolder(), files);
}

bool SystemDialogs::RunSaveDialog(HWND owner, const std::string& defaultExtension,
                                  std::string& path) {
  const std::wstring extension = WidePath(defaultExtension);
  OPENFILENAMEW dialog{};
  dialog.nMaxFile = kSaveBufferSize;
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // No overwrite prompt: an existing container of that name is replaced.
  std::vector<std::string> chosen;
  if (!RunFileDialog(owner, dialog, true, path.empty() ? StartFolder() : WidePath(path), chosen)) {
    return false;
  }
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
  std::replace(list.begin(), list.end(), '|', '\0');
  if (list.back() != '\0') list.push_back('\0');
  list.push_back('\0');
  return list;
}

std::string FileTitleOf(const std::string& path) {
  const std::string name = path.substr(path.find_last_of("\\/:") + 1);  // npos + 1 is 0
  return name.substr(0, name.rfind('.'));  // the whole name when it has no dot
}

std::vector<std::wstring> ChosenFiles(const wchar_t* buffer, std::size_t size) {
  std::vector<std::wstring> parts;
  for (std::size_t at = 0; at < size && buffer[at] != 0; at += parts.back().size() + 1) {
    parts.emplace_back(buffer + at, wcsnlen(buffer + at, size - at));
  }
  if (parts.size() <= 1) return parts;
  std::wstring folder = parts.front();
  if (folder.back() != L'\\' && folder.back() != L'/') folder.push_back(L'\\');
  parts.erase(parts.begin());
  for (std::wstring& name : parts) {
    const bool absolute =
        name.size() > 1 && (name[1] == L':' || (name[0] == L'\\' && name[1] == L'\\'));
    if (!absolute) name = folder + name;
  }
  return parts;
}

std::string ExecutableTitle() { return FileTitleOf(ExecutablePath()); }

std::string ErrorBoxText(std::string text) {
  if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
    text.push_back('.');
  }
  return text;
}

}  // namespace resicrypt
