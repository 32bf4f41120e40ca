// The clipboard in its plain 8-bit text format (CF_TEXT).
#pragma once

#include <windows.h>

#include <string>

namespace resicrypt::win {

// The whole text up to its first NUL; empty when the clipboard holds no text.
// False when the clipboard cannot be opened.
bool ReadClipboardText(HWND owner, std::string& text);

// Replaces everything on the clipboard by the text. A private text is also marked
// so that clipboard monitors, the clipboard history and the cloud clipboard leave
// it alone. False, with the clipboard unchanged, when it cannot be opened.
bool WriteClipboardText(HWND owner, const std::string& text, bool privateText);

}  // namespace resicrypt::win
