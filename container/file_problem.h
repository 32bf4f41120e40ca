// What stopped or skipped part of a pack or unpack, as data: the window and the
// command line each put it in their own words.
#pragma once

#include <cstdint>
#include <string>

namespace resicrypt {

enum class FileProblemKind {
  kPathTooLong,        // path: a container, source or output path of more than 255 bytes
  kTooManyFiles,       // more sources than a file count can hold
  kContainerNotMade,   // path: the container could not be created
  kNotOpened,          // path: the container or source could not be opened
  kTooLarge,           // path: a source of more than 2147483647 bytes
  kNotReadToEnd,       // path: a source that could not be read to its end
  kNotKept,            // path: the incomplete container could not be kept
  kNotWritten,         // path: a write, close or rename of the container failed
  kContainerDamaged,   // detail: why its header cannot be used; nothing unpacked
  kRecordDamaged,      // record, path (stored name), detail: unpacking stops there
  kRecordRefused,      // record, path (stored name), detail: the record is skipped
  kContainerNotRead,   // record, path (stored name): a read of its blocks failed
  kOutputNotMade,      // record, path (stored name): its output file could not be created
  kOutputNotWritten,   // record, path (stored name): a write, close or rename failed
};

struct FileProblem {
  FileProblemKind kind;
  std::int32_t record = 0;  // the record, counted from 1; 0 when the problem has none
  std::string path;         // the file concerned, or the record's stored name
  std::string detail;       // the reason, where the kind has several
};

}  // namespace resicrypt
