#include "container/container_path.h"

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>

#include "container/file_name_key.h"

namespace resicrypt {

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Where the last separator of a path stands (npos: none): a trail byte of a
// two-byte character is no separator, though it may be the byte of '\\'.
std::size_t LastSeparator(std::string_view path) {
  std::size_t last = std::string_view::npos;
  for (std::size_t at = 0; at < path.size(); ++at) {
    if (IsNameLeadByte(path[at])) {
      ++at;
    } else if (IsPathSeparator(path[at])) {
      last = at;
    }
  }
  return last;
}

// Windows opens a device for these names whatever extension follows, and also
// when blanks stand before the dot ("NUL .txt"). COM and LPT take the digits 1-9
// and the superscripts 1, 2, 3 of the Windows code pages (0xB9, 0xB2, 0xB3). A
// name with a two-byte character before its dot is none of them.
bool IsDeviceName(std::string_view name) {
  std::string base;
  for (char c : name) {
    if (c == '.') break;
    if (IsNameLeadByte(c)) return false;
    base += UpperAscii(c);
  }
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const std::array<const char*, 6> kPlainDevices = {"CON", "PRN",    "AUX",
                                                           "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kPlainDevices) {
    if (base == device) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    const auto digit = static_cast<unsigned char>(base[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

}  // namespace

// Both end at the last separator; npos + 1 is 0 where there is none.
std::string FileNamePart(std::string_view path) {
  return std::string(path.substr(LastSeparator(path) + 1));
}

std::string FolderPart(std::string_view path) {
  return std::string(path.substr(0, LastSeparator(path) + 1));
}

std::string StoredNameProblem(std::string_view name) {
  if (name.empty()) return "empty name";
  if (name.size() > kMaxNameBytes) return "name longer than 255 bytes";
  bool dotsAndBlanksOnly = true;
  for (std::size_t at = 0; at < name.size(); ++at) {
    const char c = name[at];
    const auto byte = static_cast<unsigned char>(c);
    // A two-byte character: its trail byte may look like '\\' or '|', and is neither.
    if (IsNameLeadByte(c) && at + 1 < name.size()) {
      dotsAndBlanksOnly = false;
      ++at;
      continue;
    }
    if (IsPathSeparator(c)) return "path separator in name";
    if (c == ':') return "drive colon in name";
    if (byte < 32 || byte == 127) return "control character in name";
    // Windows allows none of these in a file name: creating one would fail.
    if (std::string_view("<>\"|?*").find(c) != std::string_view::npos) {
      return "character not allowed in file names";
    }
    if (c != '.' && c != ' ') dotsAndBlanksOnly = false;
  }
  if (dotsAndBlanksOnly) return "name is only dots and blanks";
  if (IsDeviceName(name)) return "device name";
  return std::string();
}

namespace {

// A file as itself and as what it leads to: a link to the container read through
// it, or a container path that is a link to a source.
struct Identities : PathIdentities {
  explicit Identities(const std::string& path) : PathIdentities(IdentifyPath(path)) {}
  bool Shares(const PathIdentities& other) const {
    for (int j = 0; j < 2; ++j) {
      for (int k = 0; k < 2; ++k) {
        const FileIdentity& x = ids[j];
        const FileIdentity& y = other.ids[k];
        if (known[j] && other.known[k] && !(x < y) && !(y < x)) return true;
      }
    }
    return false;
  }
};

}  // namespace

ExistingFile::ExistingFile(const std::string& path) : identities_(IdentifyPath(path)) {}

bool ExistingFile::IsAt(const std::string& path) const {
  return Identities(path).Shares(identities_);
}

namespace {

// Why a source cannot be read whole into a record; nullopt when it can.
std::optional<FileProblem> FileProblemOf(const std::string& source) {
  const ReadProbe file = ProbeForReading(source);
  if (!file.readable) return NotOpenedProblem(source, file.refused, file.error);
  if (file.size > std::numeric_limits<std::int32_t>::max()) {
    return FileProblem{FileProblemKind::kTooLarge, 0, source, {}};
  }
  return std::nullopt;
}

}  // namespace

std::vector<FileProblem> SourceProblems(
    const std::vector<std::string>& sources, const std::string& containerPath,
    const std::vector<std::string>& names, SourceCheck check,
    const std::function<std::string(std::string_view)>& nameKey) {
  std::vector<FileProblem> problems;
  // The key of each name, and the source that took it first.
  std::map<std::string, std::size_t> taken;
  const Identities container(containerPath);
  for (std::size_t k = 0; k < sources.size(); ++k) {
    const std::string& source = sources[k];
    if (source.size() > kMaxPathBytes) {
      // Without the files' check the packer stops at it, as at a missing file.
      if (check == SourceCheck::kNamesAndFiles) {
        problems.push_back({FileProblemKind::kPathTooLong, 0, source, {}});
      }
      continue;
    }
    if (check == SourceCheck::kNamesAndFiles && !source.empty()) {
      if (std::optional<FileProblem> problem = FileProblemOf(source)) {
        problems.push_back(std::move(*problem));
        continue;
      }
    }
    const bool fromPath = names.empty();
    std::string name = fromPath ? FileNamePart(source) : names[k];
    std::string why = StoredNameProblem(name);
#ifndef _WIN32
    // A backslash is a character of a name here; FileNamePart stopped at it.
    if (fromPath ? source.find('\\', source.rfind('/') + 1) != std::string::npos
                 : name.find('\\') != std::string::npos) {
      why = "backslash in name (a separator on Windows)";
    }
#endif
    if (!why.empty()) {
      problems.push_back({FileProblemKind::kNameNotStorable, 0, source, why});
      continue;
    }
    if (!source.empty() && Identities(source).Shares(container)) {
      problems.push_back({FileProblemKind::kContainerIsSource, 0, source, {}});
    }
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    const auto [first, inserted] = taken.emplace(nameKey ? nameKey(name) : FileNameKey(name), k);
    if (!inserted) {
      problems.push_back({FileProblemKind::kNameTaken, 0, source, sources[first->second]});
    }
  }
  return problems;
}

FileProblem NotOpenedProblem(const std::string& path, FileType refused, int error) {
  if (refused != FileType::kRegular) {
    return {FileProblemKind::kNotRegularFile, 0, path, FileTypeWords(refused)};
  }
  return {FileProblemKind::kNotOpened, 0, path, {}, error};
}

std::string PrintableName(std::string_view name) {
  std::string shown(name.substr(0, kMaxNameBytes));
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 32 || byte == 127) c = '?';
  }
  return shown;
}

}  // namespace resicrypt
