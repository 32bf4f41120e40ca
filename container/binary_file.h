// Buffered binary files for the container commands, each on one handle opened
// once (platform_file.h).
//
// InputFile opens a regular file for reading only (a read-only source or container
// works) and hands out its bytes from a large buffer. OutputFile writes a new file
// privately in the target's folder (ReplacementFile) and puts it in place of the
// target only when every byte has been written and the file has been closed
// without error; until then the target keeps its earlier content, and an output
// that is given up leaves nothing behind. When either fails, SystemError() and
// Refused() tell why. Both also read or write at offsets on the same handle
// (ReadAt, WriteAt), from any thread, for the blocks of a record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "container/platform_file.h"

namespace resicrypt {

// Bytes moved per read or write call of the underlying file. The fuzz build sets
// a small size, so that its short inputs cross buffer boundaries; it must hold at
// least one encrypted block (N - 1 bytes, below 64 for every file password).
#ifndef RESICRYPT_FILE_BUFFER_BYTES
#define RESICRYPT_FILE_BUFFER_BYTES (std::size_t{1} << 20)
#endif
constexpr std::size_t kFileBufferBytes = RESICRYPT_FILE_BUFFER_BYTES;
static_assert(kFileBufferBytes >= 64, "a buffer holds at least one block");

class InputFile {
 public:
  // Opens the file for reading and takes its length from the open handle. False
  // when it cannot be opened, is no regular file or its length cannot be told.
  bool Open(const std::string& path);
  void Close();

  // Length of the file when it was opened.
  std::int64_t Size() const { return size_; }
  // Bytes read (or skipped) so far.
  std::int64_t Position() const { return position_; }

  // Reads exactly count bytes; false on a read error or an early end, and after
  // that every later read fails too. Bytes that were not read are never handed out.
  bool Read(void* data, std::size_t count);
  bool ReadInt32(std::int32_t& value);
  // Moves count bytes on without handing them out.
  bool Skip(std::int64_t count);

  // Exactly count bytes at offset, past the buffer; Position stays.
  bool ReadAt(std::int64_t offset, void* data, std::size_t count) const {
    return file_.ReadAt(offset, data, count);
  }
  // False when the file holds more than the Size() it had when opened. Told by
  // the buffer's last fill where that reached the end (a small file costs no
  // further read), else by reading past the end.
  bool EndsAtSize() const {
    if (end_ == EndSeen::kAtSize) return true;
    if (end_ == EndSeen::kBeyond) return false;
    unsigned char byte = 0;
    return !file_.ReadAt(size_, &byte, 1);
  }
  FileMode Mode() const { return file_.Mode(); }
  int SystemError() const { return file_.Error(); }
  FileType Refused() const { return file_.Refused(); }

 private:
  // What the last fill saw at the length the file had when opened.
  enum class EndSeen { kNotYet, kAtSize, kBeyond };

  FileHandle file_;
  // Sized to what the file still holds, up to kFileBufferBytes, and never
  // cleared: a small file costs no large buffer.
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t next_ = 0;
  std::size_t filled_ = 0;
  std::int64_t size_ = -1;
  std::int64_t position_ = 0;
  bool failed_ = false;
  EndSeen end_ = EndSeen::kNotYet;
};

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Discard(); }

  // Starts a file that will replace (or create) path, with permissions as
  // ReplacementFile::Begin gives them. False when path names a file that cannot be
  // written (a read-only file) or is no regular file, or when no new file can be
  // made in its folder.
  bool Create(const std::string& path, FileMode widestMode = kDefaultFileMode);
  // A file in folder that never takes a name (ReplacementFile::BeginUnnamed):
  // Commit only writes it out; File() reads it back until Discard.
  bool CreateUnnamed(const std::string& folder);
  const FileHandle& File() const { return file_.File(); }
  // True when a file stood at the path when Create looked.
  bool ReplacesFile() const { return file_.ReplacesFile(); }

  // False once any write has failed; nothing is written after that.
  bool Write(const void* data, std::size_t count);
  bool WriteInt32(std::int32_t value);
  std::int64_t Position() const { return position_; }

  // Writes out what the buffer holds.
  bool Flush();
  // Exactly count bytes at offset, past the buffer; Position stays.
  bool WriteAt(std::int64_t offset, const void* data, std::size_t count) const {
    return file_.File().WriteAt(offset, data, count);
  }
  // Goes on count bytes further, past bytes written at their offsets (WriteAt).
  bool Skip(std::int64_t count);

  // Keeps only the first length bytes written so far.
  bool CutBack(std::int64_t length);

  // Flushes, closes and puts the file in place of the target. False on any write,
  // close or rename failure; the new file is then removed and the target keeps
  // its earlier content.
  bool Commit();

  // Gives the file up: closes and removes the new file.
  void Discard();

  int SystemError() const { return file_.Error(); }
  FileType Refused() const { return file_.Refused(); }

 private:
  // Grows with the bytes written, up to kFileBufferBytes.
  void MakeRoom(std::size_t bytes);

  ReplacementFile file_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;  // the bytes before position_ that the buffer holds
  std::int64_t position_ = 0;
  bool failed_ = false;
};

}  // namespace resicrypt
