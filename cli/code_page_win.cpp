#include <windows.h>

#include <algorithm>
#include <iterator>

#include "cli/code_page.h"

namespace resicrypt::cli {

namespace {

// Text of one code page in another, through UTF-16; false at a byte the source
// does not define or a character the target lacks (no best-fit letters: "Ğ" must
// not come out as "G").
bool Convert(UINT to, UINT from, std::string_view text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  std::wstring wide(text.size(), L'\0');
  const int length =
      MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], size);
  if (length <= 0) return false;
  const bool toUtf8 = (to == CP_ACP ? GetACP() : to) == CP_UTF8;
  BOOL usedDefault = FALSE;
  out.assign(static_cast<std::size_t>(length) * 3, '\0');
  const int written =
      WideCharToMultiByte(to, toUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), length, &out[0],
                          static_cast<int>(out.size()), nullptr, toUtf8 ? nullptr : &usedDefault);
  if (written <= 0 || usedDefault) return false;
  out.resize(static_cast<std::size_t>(written));
  return true;
}

}  // namespace

std::optional<NameCodePage> NameCodePage::Numbered(int number) {
  if (number == CP_UTF8 || std::find(std::begin(kNameCodePages), std::end(kNameCodePages),
                                     number) != std::end(kNameCodePages)) {
    return NameCodePage(number);
  }
  return std::nullopt;
}

int NameCodePage::Number() const { return number_ != 0 ? number_ : static_cast<int>(GetACP()); }

// The default keeps names as the window does: the ANSI code page's bytes as they are.
bool NameCodePage::ToStored(std::string_view name, std::string& stored) const {
  if (number_ == 0) return stored.assign(name), true;
  return Convert(static_cast<UINT>(number_), CP_ACP, name, stored);
}

bool NameCodePage::FromStored(std::string_view stored, std::string& name) const {
  if (number_ == 0) return name.assign(stored), true;
  return Convert(CP_ACP, static_cast<UINT>(number_), stored, name);
}

}  // namespace resicrypt::cli
