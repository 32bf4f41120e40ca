#include "ui/wide_names_win.h"

namespace resicrypt {

std::optional<std::string> AnsiPath(std::wstring_view path) {
  if (path.empty()) return std::string();
  const int wideLength = static_cast<int>(path.size());
  BOOL lossy = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), wideLength,
                                         nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return std::nullopt;
  std::string ansi(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), wideLength, ansi.data(), length,
                      nullptr, &lossy);
  // A code page without best fit may still map a character to one that reads back
  // as another: the name must come back as it went.
  if (lossy || WidePath(ansi) != path) return std::nullopt;
  return ansi;
}

bool AnsiPaths(const std::vector<std::wstring>& paths, std::vector<std::string>& ansi,
               std::wstring& refused) {
  ansi.clear();
  for (const std::wstring& path : paths) {
    std::optional<std::string> converted = AnsiPath(path);
    if (!converted) {
      refused = path;
      return false;
    }
    ansi.push_back(std::move(*converted));
  }
  return true;
}

std::wstring UnusableNameText(std::wstring_view path) {
  return std::wstring(path) +
         L" cannot be used: its name has characters outside the system's code page";
}

std::wstring WidePath(std::string_view ansiPath) {
  if (ansiPath.empty()) return std::wstring();
  const int ansiLength = static_cast<int>(ansiPath.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, ansiPath.data(), ansiLength, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, ansiPath.data(), ansiLength, wide.data(), length);
  return wide;
}

}  // namespace resicrypt
