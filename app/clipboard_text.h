// The segment walk of the clipboard commands, apart from the clipboard itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/cipher_workspace.h"
#include "engine/text_cipher.h"
#include "app/text_loss.h"

namespace resicrypt {

struct ClipboardRebuild {
  std::string text;                    // the new clipboard text
  std::vector<std::string> echoLines;  // one per enciphered or deciphered segment
  KeptTexts kept{"segment"};           // segments left unencrypted (ComesBack)
};

// Rebuilds a clipboard text under key (already cut to 17 characters, at least 3).
//
// The text is cut at TAB, LF and CR; the character at the last position always
// closes the segment before it and is copied unchanged, never enciphered. A
// segment of two or more characters is replaced by EncryptText's or DecryptText's
// result (through one TextCipher for the whole text, which gives the same); a
// one-character segment is copied unchanged (cipher text is never that short, so
// the decrypting walk sees it again as one character and keeps it);
// separators are copied. A segment that would not come back from its cipher text
// (ComesBack) is not enciphered either: it is copied and counted in kept. So
// decrypting the encrypted text under the same key gives back the text (unless a
// copied segment happens to read as cipher text under the key).
//
// With collectEcho, echoLines receives each cipher result in order; when
// decrypting, the line of the segment closed by the last position also ends with
// that last character.
ClipboardRebuild RebuildClipboardText(CipherWorkspace& workspace, const TextAlphabet& alphabet,
                                      std::string_view key, std::string_view text,
                                      CipherDirection direction, bool collectEcho);

}  // namespace resicrypt
