#include <windows.h>

#include "container/file_name_key.h"

namespace resicrypt {

std::string FileNameKey(std::string_view name) {
  const int size = static_cast<int>(name.size());
  std::wstring wide(name.size(), L'\0');
  const int length =
      name.empty() ? 0 : MultiByteToWideChar(CP_ACP, 0, name.data(), size, &wide[0], size);
  wide.resize(static_cast<std::size_t>(length));
  // Upper case without a language's rules, as file names are compared.
  std::wstring upper(wide.size(), L'\0');
  if (length > 0 && LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), length, &upper[0],
                                 length) == 0) {
    upper = wide;
  }
  // The UTF-16 units' bytes: keys are only compared.
  return std::string(reinterpret_cast<const char*>(upper.data()), upper.size() * sizeof(wchar_t));
}

}  // namespace resicrypt
