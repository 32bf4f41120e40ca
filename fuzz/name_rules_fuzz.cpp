// The rules for a record's name on random names. The first byte picks the code
// page (874, 1250 to 1258, or UTF-8); the rest, up to a NUL, is a name as the Linux
// command line takes it, and what follows the NUL a second name. A name that pack
// accepts (stored in the code page, no source problem) must be a name that unpack
// on Windows accepts as it is stored, and must come back from its stored bytes as
// itself. Two names that differ only in the letter case of A to Z are one file name.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "cli/code_page.h"
#include "container/container_path.h"
#include "container/file_name_key.h"

namespace {

using resicrypt::cli::NameCodePage;

[[noreturn]] void Fail(const char* why, std::string_view name) {
  std::fprintf(stderr, "name rules: %s: ", why);
  for (char c : name) std::fprintf(stderr, "%02x", static_cast<unsigned char>(c));
  std::fprintf(stderr, "\n");
  std::abort();
}

std::string AsciiUpper(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  constexpr int kPages[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 65001};
  const NameCodePage page = *NameCodePage::Numbered(kPages[std::size_t{data[0]} % std::size(kPages)]);
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view name = rest.substr(0, rest.find('\0'));
  const std::string_view other =
      name.size() < rest.size() ? rest.substr(name.size() + 1) : std::string_view();

  std::string stored;
  const bool accepted =
      page.ToStored(name, stored) &&
      resicrypt::SourceProblems({std::string()}, std::string(), {std::string(name)}).empty();
  if (accepted) {
    if (!resicrypt::StoredNameProblem(stored).empty()) Fail("refused on Windows", name);
    std::string back;
    if (!page.FromStored(stored, back) || back != name) Fail("does not come back", name);
  }

  const std::string key = resicrypt::FileNameKey(name);
  if (resicrypt::FileNameKey(key) != key) Fail("the key of a key is another", name);
  if (AsciiUpper(name) == AsciiUpper(other) &&
      resicrypt::FileNameKey(other) != key) {
    Fail("names differing in the case of A to Z are two names", name);
  }
  return 0;
}
