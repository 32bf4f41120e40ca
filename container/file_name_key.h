// When two names are one file name on Windows. A container's records are unpacked
// on Windows too, where the file system takes names that differ only in letter
// case as one name; so packing must tell such names apart where it runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace resicrypt {

// Keys of a name as a stored name (trailing dots and blanks already gone, as
// Windows drops them). Two names are one file name when a key of one equals the
// key at the same place of the other.
// - On Windows the name is in the ANSI code page; its one key is its UTF-16 form
//   in the system's invariant upper case, as the file system compares names.
// - Elsewhere a name is stored with its bytes as they are (UTF-8 on Linux), and
//   where it will be unpacked is not known. Its first key folds the letters the
//   Windows code pages hold (Latin-1, Latin Extended-A, Greek, Cyrillic) of the
//   UTF-8 text, which is what a name converted to a code page keeps; its second
//   folds the stored bytes as letters of code page 1252, as Windows in the West
//   reads them ("\xC3\x8A" and "\xC3\x9A" are "ÃŠ" and "Ãš" there).
std::vector<std::string> FileNameKeys(std::string_view name);

}  // namespace resicrypt
