// Texts that would not come back whole from their cipher text: a byte 255 in the
// last block (padding fills that block up with bytes 255, and decryption drops
// them all) or a NUL byte (decryption ends the text there). The encrypting text
// commands leave such a text as it was and say so once per command; the DDE
// service answers such a line with an empty reply.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/text_cipher.h"

namespace resicrypt {

// True when decrypting cipher.Encrypt(text) gives text back. An unusable key
// encrypts nothing, and nothing is lost then.
bool ComesBack(const TextCipher& cipher, std::string_view text);

// The texts a command left as they were: how many, and the first of them.
class KeptTexts {
 public:
  // unit names one text in the message ("line", "segment"); number is the text's
  // 1-based place among its kind, 0 when it has none worth showing.
  explicit KeptTexts(const char* unit) : unit_(unit) {}

  void Add(std::size_t number, std::string_view text);
  std::size_t Count() const { return count_; }

  // The message box's one line, e.g. 2 lines left unencrypted: a byte 255 near
  // their end would not come back from decryption (first: line 3, "abc\xFF").
  // showFirst false leaves the first text's bytes out (a masked field's text).
  std::string Message(bool showFirst = true) const;

 private:
  const char* unit_;
  std::size_t count_ = 0;
  std::size_t firstNumber_ = 0;
  std::string first_;
};

}  // namespace resicrypt
