// The full path of the running executable, however long it is.
#pragma once

#include <windows.h>

#include <string>

namespace resicrypt {

// Empty when the system cannot tell.
inline std::string ExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // cut off: try a larger buffer
  }
}

}  // namespace resicrypt
