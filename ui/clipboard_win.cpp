#include "ui/clipboard_win.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "ui/win_handles_win.h"

namespace resicrypt::win {

namespace {

// Formats that keep a text out of clipboard monitors, the clipboard history and
// the cloud clipboard. The first one counts by its presence, the other two by a
// DWORD 0.
constexpr std::array<const char*, 3> kPrivacyFormats{
    "ExcludeClipboardContentFromMonitorProcessing",
    "CanIncludeInClipboardHistory",
    "CanUploadToCloudClipboard",
};

// Movable global memory holding a copy of the bytes; empty when it cannot be had.
GlobalMemory CopyToGlobal(const void* bytes, std::size_t size) {
  GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, size));
  const GlobalLockScope lock(memory.Get());
  if (!lock) return {};
  std::memcpy(lock.Get(), bytes, size);
  return memory;
}

// Puts a DWORD 0 on the open clipboard in the given format.
void SetZeroWord(UINT format) {
  const DWORD zero = 0;
  GlobalMemory memory = CopyToGlobal(&zero, sizeof zero);
  if (memory && SetClipboardData(format, memory.Get()) != nullptr) memory.Release();
}

}  // namespace

bool ReadClipboardText(HWND owner, std::string& text) {
  ClipboardSession clipboard(owner);
  if (!clipboard) return false;
  text.clear();
  const HANDLE data = GetClipboardData(CF_TEXT);
  if (data == nullptr) return true;
  const GlobalLockScope lock(data);
  if (!lock) return true;
  const auto* bytes = static_cast<const char*>(lock.Get());
  text.assign(bytes, std::find(bytes, bytes + GlobalSize(data), '\0'));
  return true;
}

bool WriteClipboardText(HWND owner, const std::string& text, bool privateText) {
  // The memory is filled before the clipboard is opened and emptied, so a failed
  // allocation leaves the old content in place.
  GlobalMemory memory = CopyToGlobal(text.c_str(), text.size() + 1);
  if (!memory) return false;
  ClipboardSession clipboard(owner);
  if (!clipboard || !EmptyClipboard()) return false;
  if (SetClipboardData(CF_TEXT, memory.Get()) == nullptr) return false;
  memory.Release();  // the clipboard owns it now
  if (privateText) {
    for (const char* name : kPrivacyFormats) {
      const UINT format = RegisterClipboardFormatA(name);
      if (format != 0) SetZeroWord(format);
    }
  }
  return true;
}

}  // namespace resicrypt::win
