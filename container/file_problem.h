// What stopped or skipped part of a pack or unpack, as data: the window and the
// command line each put it in their own words.
#pragma once

#include <cstdint>
#include <string>

namespace resicrypt {

enum class FileProblemKind {
  kPathTooLong,        // path: a container, source or output path of more than 255 bytes
  kTooManyFiles,       // more sources than a file count can hold
  kContainerNotMade,   // path, detail ("a folder" when one is in the way): the container
                       // could not be created
  kNotOpened,          // path: the container or source could not be opened
  kNotRegularFile,     // path, detail (what it is): a source, container or target that is
                       // a folder, device, pipe or socket; never opened for reading or writing
  kTooLarge,           // path: a source of more than 2147483647 bytes
  kNotReadToEnd,       // path: a source that could not be read to its end
  kGrewWhileRead,      // path: a source that held more bytes than its size said
  kNotKept,            // path: the incomplete container could not be kept
  kNotWritten,         // path: a write, close or rename of the container failed
  kContainerKept,      // path: packing stopped, and the file that stood there is kept as it was
  kContainerDamaged,   // detail: why its header cannot be used; nothing unpacked
  kBytesAfterRecords,  // path, record (the file count), detail (how many bytes, in decimal):
                       // the counted records were unpacked, and bytes follow them
  kRecordDamaged,      // record, path (stored name), detail: unpacking stops there
  kRecordRefused,      // record, path (stored name), detail: the record is skipped
  kExistingFileKept,   // record, path (stored name): skipped, as the check block differed
                       // from the password and a file of its name stands in the folder
  kContainerNotRead,   // record, path (stored name): a read of its blocks failed
  kOutputNotMade,      // record, path (stored name), detail (what is in the way, if that is
                       // why): its output file could not be created
  kOutputNotWritten,   // record, path (stored name): a write, close or rename failed
  kNameNotStorable,    // path, detail (why): a source whose name no record could carry
  kNameTaken,          // path, detail (the other source): two sources that would unpack
                       // to one file name on Windows
  kContainerIsSource,  // path: a source that is the container itself
};

struct FileProblem {
  FileProblemKind kind;
  std::int32_t record = 0;  // the record, counted from 1; 0 when the problem has none
  std::string path;         // the file concerned, or the record's stored name
  std::string detail;       // the reason, where the kind has several
  int systemError = 0;      // the system's code (errno, GetLastError) when it gave one
};

}  // namespace resicrypt
