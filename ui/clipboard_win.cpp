#include "ui/clipboard_win.h"

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

// Puts a DWORD 0 on the open clipboard in the given format.
void SetZeroWord(UINT format) {
  GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD)));
  if (!memory) return;
  {
    GlobalLockScope lock(memory.Get());
    if (!lock) return;
    const DWORD zero = 0;
    std::memcpy(lock.Data(), &zero, sizeof zero);
  }
  if (SetClipboardData(format, memory.Get()) != nullptr) memory.Release();
}

}  // namespace

bool ReadClipboardText(HWND owner, std::string& text) {
  ClipboardSession clipboard(owner);
  if (!clipboard) return false;
  text.clear();
  if (!IsClipboardFormatAvailable(CF_TEXT)) return true;
  const HANDLE data = GetClipboardData(CF_TEXT);
  if (data == nullptr) return true;
  GlobalLockScope lock(data);
  if (!lock) return true;
  const auto* bytes = static_cast<const char*>(lock.Data());
  const SIZE_T size = GlobalSize(data);
  std::size_t length = 0;
  while (length < size && bytes[length] != '\0') ++length;
  text.assign(bytes, length);
  return true;
}

bool WriteClipboardText(HWND owner, const std::string& text, bool privateText) {
  // The memory is filled before the clipboard is opened and emptied, so a failed
  // allocation leaves the old content in place.
  GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, text.size() + 1));
  if (!memory) return false;
  {
    GlobalLockScope lock(memory.Get());
    if (!lock) return false;
    std::memcpy(lock.Data(), text.c_str(), text.size() + 1);
  }
  ClipboardSession clipboard(owner);
  if (!clipboard) return false;
  if (!EmptyClipboard()) return false;
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
