#include <cstdint>

#include "container/file_name_key.h"

namespace resicrypt {

namespace {

// The upper case of a letter that some Windows code page holds; others unchanged.
char32_t UpperLetter(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 0x20;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;  // à..þ, not ÷
  if (c == 0xFF) return 0x178;                               // ÿ
  if (c == 0xB5) return 0x39C;                               // µ
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A: pairs, the capital first, except where the order flips
    // (Ĺ..ň, Ź..ž) and the letters without a pair (ı ĸ ŉ Ÿ ſ).
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x178) return c;
    if (c == 0x17F) return U'S';
    const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return oddCapitals ? ((c & 1) == 0 ? c - 1 : c) : (c & ~char32_t{1});
  }
  if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? 0x3A3 : c - 0x20;  // α..ϋ, final ς
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;  // έ ή ί
  if (c == 0x3CC) return 0x38C;
  if (c >= 0x3CD && c <= 0x3CE) return c - 0x3F;  // ύ ώ
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;  // а..я
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;  // ѐ..џ
  return c;
}

// The UTF-8 sequence at text[at], or -1 when none starts there.
int DecodeAt(std::string_view text, std::size_t at, char32_t& c) {
  const auto lead = static_cast<unsigned char>(text[at]);
  int length = lead < 0x80                    ? 1
               : lead >= 0xC2 && lead <= 0xDF ? 2
               : lead >= 0xE0 && lead <= 0xEF ? 3
               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                              : -1;
  if (length < 0 || at + static_cast<std::size_t>(length) > text.size()) return -1;
  c = length == 1 ? lead : lead & (0xFF >> (length + 1));
  for (int k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + static_cast<std::size_t>(k)]);
    if ((next & 0xC0) != 0x80) return -1;
    c = (c << 6) | (next & 0x3F);
  }
  const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (length > 1 && (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) return -1;
  return length;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  // A lead byte of 110, 1110 or 11110 and the bits above the six per byte that follow.
  const int following = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out += static_cast<char>(((0xFF00 >> (following + 1)) & 0xFF) | (c >> (6 * following)));
  for (int k = following - 1; k >= 0; --k) {
    out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
  }
}

}  // namespace

std::string FileNameKey(std::string_view name) {
  // Bytes that are no UTF-8 stay as they are: no letter decoded elsewhere can
  // become them.
  std::string letters;
  for (std::size_t at = 0; at < name.size();) {
    char32_t c = 0;
    const int length = DecodeAt(name, at, c);
    if (length < 0) {
      letters += name[at++];
      continue;
    }
    AppendUtf8(letters, UpperLetter(c));
    at += static_cast<std::size_t>(length);
  }
  return letters;
}

}  // namespace resicrypt
