#include "ui/wide_names_win.h"

#include "ui/win_handles_win.h"

namespace resicrypt {

bool AnsiPaths(const std::vector<std::wstring>& paths, std::vector<std::string>& ansi,
               std::wstring& refused) {
  ansi.clear();
  for (const std::wstring& path : paths) {
    const int wideLength = static_cast<int>(path.size());
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), wideLength,
                                           nullptr, 0, nullptr, &lossy);
    std::string& converted = ansi.emplace_back(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), wideLength, converted.data(),
                        length, nullptr, &lossy);
    // A code page without best fit may still map a character to one that reads back
    // as another: the name must come back as it went (a failed conversion comes back
    // empty, and only an empty path is empty).
    if (lossy || WidePath(converted) != path) {
      refused = path;
      ansi.clear();
      return false;
    }
  }
  return true;
}

std::wstring UnusableNameText(std::wstring_view path) {
  return std::wstring(path) +
         L" cannot be used: its name has characters outside the system's code page";
}

std::wstring WidePath(std::string_view ansiPath) {
  // An empty path converts to nothing: both calls then fail and give 0.
  const int ansiLength = static_cast<int>(ansiPath.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, ansiPath.data(), ansiLength, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansiPath.data(), ansiLength, wide.data(), length);
  return wide;
}

std::vector<std::wstring> TakeDroppedFiles(HDROP drop) {
  const win::UniqueHandle<HDROP, DragFinish> finish(drop);
  std::vector<std::wstring> files;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT k = 0; k < count; ++k) {
    const UINT length = DragQueryFileW(drop, k, nullptr, 0);
    files.emplace_back(length, L'\0');
    DragQueryFileW(drop, k, files.back().data(), length + 1);
  }
  return files;
}

}  // namespace resicrypt
