#include <cstdint>

#include "container/file_name_key.h"

namespace resicrypt {

namespace {

// The upper case that Windows gives (LCMapStringW, LOCALE_INVARIANT,
// LCMAP_UPPERCASE) to each character of the code pages 874 and 1250 to 1258 that
// has one, as runs: first, last, step between letters, upper case minus letter.
// Not folded there, so not here: micro sign, final sigma, dotless i.
struct CaseRun {
  char32_t first, last;
  int step, shift;
};
constexpr CaseRun kCaseRuns[] = {
    {0x0061, 0x007A, 1, -32}, {0x00E0, 0x00F6, 1, -32}, {0x00F8, 0x00FE, 1, -32},
    {0x00FF, 0x00FF, 1, 121}, {0x0101, 0x0107, 2, -1},  {0x010D, 0x0113, 2, -1},
    {0x0117, 0x011B, 2, -1},  {0x011F, 0x011F, 1, -1},  {0x0123, 0x0123, 1, -1},
    {0x012B, 0x012B, 1, -1},  {0x012F, 0x012F, 1, -1},  {0x0137, 0x0137, 1, -1},
    {0x013A, 0x013E, 2, -1},  {0x0142, 0x0148, 2, -1},  {0x014D, 0x014D, 1, -1},
    {0x0151, 0x015B, 2, -1},  {0x015F, 0x0165, 2, -1},  {0x016B, 0x016B, 1, -1},
    {0x016F, 0x0173, 2, -1},  {0x017A, 0x017E, 2, -1},  {0x0192, 0x0192, 1, -1},
    {0x01A1, 0x01A1, 1, -1},  {0x01B0, 0x01B0, 1, -1},  {0x03AC, 0x03AC, 1, -38},
    {0x03AD, 0x03AF, 1, -37}, {0x03B1, 0x03C1, 1, -32}, {0x03C3, 0x03CB, 1, -32},
    {0x03CC, 0x03CC, 1, -64}, {0x03CD, 0x03CE, 1, -63}, {0x0430, 0x044F, 1, -32},
    {0x0451, 0x045C, 1, -80}, {0x045E, 0x045F, 1, -80}, {0x0491, 0x0491, 1, -1},
};

char32_t UpperLetter(char32_t c) {
  for (const CaseRun& run : kCaseRuns) {
    if (c >= run.first && c <= run.last && (c - run.first) % static_cast<char32_t>(run.step) == 0) {
      return static_cast<char32_t>(static_cast<int>(c) + run.shift);
    }
  }
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
