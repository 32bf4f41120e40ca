// Names that reach the window through the wide API (files dropped on it, chosen in
// its dialogs, given on its command line) and the system's ANSI code page in which
// the window, the container code and the container's stored names work.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <string_view>
#include <vector>

namespace resicrypt {

// The paths in the system's ANSI code page, in order; false, with ansi empty, at the
// first that has a character without a byte of its own there, which is then in
// refused. No best-fit letters: "a" for "ǎ" would name another file.
bool AnsiPaths(const std::vector<std::wstring>& paths, std::vector<std::string>& ansi,
               std::wstring& refused);

// The one-line message for such a path, which only a wide message box shows readably.
std::wstring UnusableNameText(std::wstring_view path);

std::wstring WidePath(std::string_view ansiPath);

// The names a drop hands over, in order; the drop is released (DragFinish).
std::vector<std::wstring> TakeDroppedFiles(HDROP drop);

}  // namespace resicrypt
