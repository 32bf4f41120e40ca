// When two names are one file name on Windows. A container's records are unpacked
// on Windows too, where the file system takes names that differ only in letter
// case as one name; so packing must tell such names apart where it runs.
#pragma once

#include <string>
#include <string_view>

namespace resicrypt {

// The key of a name in the file system's form (trailing dots and blanks already
// gone, as Windows drops them). Two names are one file name when their keys are
// equal.
// - On Windows the name is in the ANSI code page; its key is its UTF-16 form in
//   the system's invariant upper case, as the file system compares names.
// - On Linux the name is UTF-8, and it is stored converted to a Windows code page
//   that holds it exactly; its key folds the letters of the Windows code pages as
//   Windows folds them, which is what the converted name keeps. Bytes that are no
//   UTF-8 stay as they are. Two spellings of one letter (composed, or a letter and
//   a combining accent) are the caller's to make one before.
std::string FileNameKey(std::string_view name);

}  // namespace resicrypt
