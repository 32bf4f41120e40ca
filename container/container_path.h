// Paths and stored names. Windows paths separate folders with a backslash; '/' is
// taken as a separator too, so that paths from the command line and from other
// systems split the same way (no Windows file name can hold either).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "container/file_problem.h"
#include "container/platform_file.h"

namespace resicrypt {

// Every path the file commands handle (source, container, output) and every stored
// name holds at most 255 bytes.
constexpr std::size_t kMaxPathBytes = 255;
constexpr std::size_t kMaxNameBytes = 255;

constexpr std::string_view kPathSeparators = "\\/";
inline bool IsPathSeparator(char c) { return kPathSeparators.find(c) != std::string_view::npos; }

// The file's own name: the part of the path after its last separator.
std::string FileNamePart(std::string_view path);

// The folder of a path, up to and including its last separator; empty when the
// path has no separator (the current folder).
std::string FolderPart(std::string_view path);

// Why a name read from a container may not be used as an output file name in the
// container's folder; empty when it is a plain file name. Refused: empty names,
// more than 255 bytes, separators, a colon (drive or stream), "." and ".." and any
// name made of dots and blanks only, control characters, the characters < > " | ? *
// that Windows refuses in file names, and the device names
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$), with or without extension.
std::string StoredNameProblem(std::string_view name);

// An existing file, its identities taken once. IsAt is true when a path names
// the same file: the same directory entry, a link to the other, or links to one
// file; false when either is missing or cannot be told. Told by the files'
// identities, through the system's own calls (on Windows in its ANSI code page,
// as the files are opened).
class ExistingFile {
 public:
  explicit ExistingFile(const std::string& path);
  bool IsAt(const std::string& path) const;

 private:
  PathIdentities identities_;
};

// What SourceProblems looks at: the names alone (the window, which stops at a
// source it cannot read, as it always has), or the files as well.
enum class SourceCheck { kNames, kNamesAndFiles };

// Why sources may not be packed together into the container, before anything is
// written; empty when they may. Each record must unpack again, on Windows too,
// under its own name beside the others, and the container must replace none of
// them. names gives each source's name in the file system's form where it is not
// the path's file name (empty: every name from its path), or, with nameKey, the
// bytes it is stored as, and nameKey their key (FileNameKey of the name as it comes
// back). A source with an empty path has no file yet (standard input): only its
// name is checked. In source order, at most one per source:
// - with kNamesAndFiles: kPathTooLong, kNotOpened (missing or unreadable, with
//   the system's code), kNotRegularFile (detail what it is), kTooLarge;
// - kNameNotStorable: a name that StoredNameProblem refuses, or (outside Windows)
//   one that holds a backslash, which Windows would take as a separator;
// - kNameTaken: a name that is one Windows file name with an earlier source's
//   (FileNameKey, trailing dots and blanks dropped), detail that source;
// - kContainerIsSource: a source that is the container's own file.
std::vector<FileProblem> SourceProblems(
    const std::vector<std::string>& sources, const std::string& containerPath,
    const std::vector<std::string>& names = {}, SourceCheck check = SourceCheck::kNames,
    const std::function<std::string(std::string_view)>& nameKey = {});

// Why a file was not opened for reading (FileHandle::OpenForReading): kNotRegularFile
// with what stands there instead, or kNotOpened with the system's code.
FileProblem NotOpenedProblem(const std::string& path, FileType refused, int error);

// The name as a report line can show it: control characters become '?', and
// names longer than 255 bytes are cut.
std::string PrintableName(std::string_view name);

}  // namespace resicrypt
