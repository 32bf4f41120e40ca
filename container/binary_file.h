// Buffered binary files for the container commands, on std::FILE only.
//
// InputFile opens a file for reading only (a read-only source or container works)
// and hands out its bytes from a large buffer. OutputFile writes a new file under a
// temporary name in the target's folder and puts it in place of the target only
// when every byte has been written and the file has been closed without error;
// until then the target keeps its earlier content, and an output that is given up
// leaves nothing behind.
//
// FileAtOffsets is a stream of its own on a file one of the others has open, for
// a second thread that reads or writes blocks at given offsets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace resicrypt {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Bytes moved per read or write call of the underlying stream. The fuzz build sets
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
  // when it cannot be opened or its length cannot be told.
  bool Open(const std::string& path);
  void Close();

  // Length of the file when it was opened.
  std::int64_t Size() const { return size_; }
  const std::string& Path() const { return path_; }
  // Bytes read (or skipped) so far.
  std::int64_t Position() const { return position_; }

  // Reads exactly count bytes; false on a read error or an early end, and after
  // that every later read fails too. Bytes that were not read are never handed out.
  bool Read(void* data, std::size_t count);
  bool ReadInt32(std::int32_t& value);
  // Moves count bytes on without handing them out.
  bool Skip(std::int64_t count);
  // Moves to the byte at offset (from the start of the file), dropping what the
  // buffer holds: for going on after other streams have read the bytes before it.
  bool SeekTo(std::int64_t offset);

 private:
  bool Fill();

  std::string path_;
  FileHandle file_;
  std::vector<unsigned char> buffer_;
  std::size_t next_ = 0;
  std::size_t end_ = 0;
  std::int64_t size_ = -1;
  std::int64_t position_ = 0;
  bool failed_ = false;
};

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() { Discard(); }

  // Starts a file that will replace (or create) path. False when path names a file
  // that cannot be written (a read-only file, a folder) or when no temporary file
  // can be made in its folder.
  bool Create(const std::string& path);

  // False once any write has failed; nothing is written after that.
  bool Write(const void* data, std::size_t count);
  bool WriteInt32(std::int32_t value);
  std::int64_t Position() const { return position_; }

  // Writes out what the buffer holds, so that other streams on the temporary file
  // find every byte written so far in the file.
  bool Flush();
  // The file being written until Commit, for other streams to write blocks into.
  const std::string& TemporaryPath() const { return temporaryPath_; }
  // Goes on writing at offset, up to which other streams have written the file;
  // Position becomes offset. The buffer must be empty (Flush).
  bool SeekTo(std::int64_t offset);

  // Keeps only the first length bytes written so far (rebuilding the temporary
  // file, since standard streams cannot shorten a file).
  bool CutBack(std::int64_t length);

  // Flushes, closes and puts the file in place of the target. False on any write,
  // close or rename failure; the temporary file is then removed and the target
  // keeps its earlier content.
  bool Commit();

  // Gives the file up: closes and removes the temporary file.
  void Discard();

 private:
  std::string path_;
  std::string temporaryPath_;
  FileHandle file_;
  std::vector<unsigned char> buffer_;
  std::size_t used_ = 0;
  std::int64_t position_ = 0;
  bool failed_ = false;
};

class FileAtOffsets {
 public:
  // The file at path: for reading only, or for writing into a file that is there
  // already (nothing of it is cut).
  bool OpenForReading(const std::string& path);
  bool OpenForWriting(const std::string& path);

  // Exactly count bytes at offset; false on an error or an early end.
  bool ReadAt(std::int64_t offset, void* data, std::size_t count);
  bool WriteAt(std::int64_t offset, const void* data, std::size_t count);

 private:
  bool MoveTo(std::int64_t offset);

  FileHandle file_;
  std::int64_t position_ = -1;  // where the stream stands; -1 when not known
};

}  // namespace resicrypt
