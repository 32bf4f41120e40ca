#include "app/text_loss.h"

#include <cstdio>

#include "engine/text_stream.h"

namespace resicrypt {

namespace {

// At most this many bytes of the first text are shown.
constexpr std::size_t kShownBytes = 24;

// The text as one printable line: bytes outside 32..126, and the backslash, are
// written as \xHH; a longer text is cut and ends in "...".
std::string Printable(std::string_view text) {
  std::string shown;
  for (std::size_t k = 0; k < text.size() && k < kShownBytes; ++k) {
    const auto byte = static_cast<unsigned char>(text[k]);
    if (byte >= 32 && byte <= 126 && byte != '\\') {
      shown.push_back(static_cast<char>(byte));
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  if (text.size() > kShownBytes) shown += "...";
  return shown;
}

}  // namespace

bool ComesBack(const TextCipher& cipher, std::string_view text) {
  if (!cipher.IsUsable()) return true;
  // The same look that resicrypt-cli takes at a line before it encrypts it.
  TextEncryptStream look(cipher, nullptr);
  look.Add(text);
  return look.Finish() == TextLoss::kNone;
}

void KeptTexts::Add(std::size_t number, std::string_view text) {
  if (count_++ > 0) return;
  firstNumber_ = number;
  first_ = Printable(text);
}

std::string KeptTexts::Message(bool showFirst) const {
  const bool one = count_ == 1;
  std::string text = std::to_string(count_) + " " + unit_ + (one ? "" : "s") +
                     " left unencrypted: a byte 255 near " + (one ? "its" : "their") +
                     " end would not come back from decryption";
  std::string where;
  if (firstNumber_ > 0) where = std::string(unit_) + " " + std::to_string(firstNumber_);
  if (showFirst) where += (where.empty() ? "\"" : ", \"") + first_ + "\"";
  if (!where.empty()) text += (one ? " (" : " (first: ") + where + ")";
  return text;
}

}  // namespace resicrypt
