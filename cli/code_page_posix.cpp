#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string>

#include "cli/code_page.h"

namespace resicrypt::cli {

namespace {

constexpr int kDefaultNumber = 1252;
constexpr int kUtf8 = kUtf8CodePage;

// The whole text converted by glibc's iconv, which knows the Windows code pages
// as CP1250..CP1258 and CP874, and the double-byte ones as CP932 (Microsoft's
// Shift JIS), CP936 (GBK), CP949 (UHC) and CP950 (Big5), all in Debian's libc6;
// false at a character the target lacks or bytes the source does not define (no
// transliteration is asked for).
bool Convert(const std::string& to, const std::string& from, std::string_view text,
             std::string& out) {
  out.clear();
  iconv_t converter = iconv_open(to.c_str(), from.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in(text);
  char* inAt = in.data();
  std::size_t inLeft = in.size();
  std::string buffer(in.size() * 4 + 4, '\0');  // a byte becomes at most 3 UTF-8 bytes
  char* outAt = buffer.data();
  std::size_t outLeft = buffer.size();
  const bool done = iconv(converter, &inAt, &inLeft, &outAt, &outLeft) != static_cast<size_t>(-1) &&
                    iconv(converter, nullptr, nullptr, &outAt, &outLeft) != static_cast<size_t>(-1);
  iconv_close(converter);
  if (!done || inLeft != 0) return false;
  out.assign(buffer.data(), static_cast<std::size_t>(outAt - buffer.data()));
  return true;
}

std::string IconvName(int number) { return "CP" + std::to_string(number); }

}  // namespace

std::optional<NameCodePage> NameCodePage::Numbered(int number) {
  if (number == kUtf8 || std::find(std::begin(kNameCodePages), std::end(kNameCodePages),
                                   number) != std::end(kNameCodePages)) {
    return NameCodePage(number);
  }
  return std::nullopt;
}

int NameCodePage::Number() const { return number_ != 0 ? number_ : kDefaultNumber; }

bool NameCodePage::ToStored(std::string_view name, std::string& stored) const {
  if (Number() == kUtf8) return Convert("UTF-8", "UTF-8", name, stored);
  return Convert(IconvName(Number()), "UTF-8", name, stored);
}

bool NameCodePage::FromStored(std::string_view stored, std::string& name) const {
  if (Number() == kUtf8) return Convert("UTF-8", "UTF-8", stored, name);
  return Convert("UTF-8", IconvName(Number()), stored, name);
}

}  // namespace resicrypt::cli
