// Names between the file system and a container. A record stores its name as
// bytes of a Windows code page, as the window writes it with the ANSI calls. On
// Windows the command line's names are in the system's ANSI code page already;
// on Linux they are UTF-8 and are converted both ways.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "container/file_name_key.h"

namespace resicrypt::cli {

// The code pages names can be packed in: Thai, the four East Asian double-byte
// ones (Japanese Shift JIS, Simplified Chinese GBK, Korean, Traditional Chinese
// Big5) and the Windows 125x pages, in this order.
inline constexpr int kNameCodePages[] = {874,  932,  936,  949,  950,  1250, 1251, 1252,
                                         1253, 1254, 1255, 1256, 1257, 1258};
inline constexpr int kUtf8CodePage = 65001;  // read only: 3.01's Linux containers

class NameCodePage {
 public:
  // The code page stored names are in unless told otherwise: the system's ANSI
  // code page on Windows (the window's), 1252 (Western) elsewhere.
  NameCodePage() = default;
  // One of kNameCodePages, or 65001 (UTF-8), in which 3.01's Linux command line
  // stored names as they were; none otherwise.
  static std::optional<NameCodePage> Numbered(int number);
  // Those of kNameCodePages that hold a name of the file system, for a message
  // about one that the chosen code page lacks.
  static std::vector<int> Holding(std::string_view name);

  // The number shown in messages ("1252"; on Windows by default the ANSI one).
  int Number() const;
  // The stored bytes for a name of the file system; false when a character of it
  // has no byte in this code page.
  bool ToStored(std::string_view name, std::string& stored) const;
  // The file system's name for stored bytes; false when one of them is no
  // character of this code page, or has none in the file system's code page.
  bool FromStored(std::string_view stored, std::string& name) const;
  // The key of stored bytes among others of this code page (FileNameKey): the
  // name they come back as, so that two spellings of one name (a composed
  // letter, or a letter and a combining accent) have one key.
  std::string NameKey(std::string_view stored) const {
    std::string name;
    return FromStored(stored, name) ? FileNameKey(name) : std::string(stored);
  }

 private:
  explicit NameCodePage(int number) : number_(number) {}
  int number_ = 0;  // 0: the default
};

}  // namespace resicrypt::cli
