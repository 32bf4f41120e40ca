#include "container/binary_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "container/byte_order.h"
#include "container/container_path.h"

namespace resicrypt {

namespace {

// 64-bit positions: containers can pass 2 GiB, and long is 32 bits on Windows.
bool SeekFile(std::FILE* file, std::int64_t offset, int origin) {
#ifdef _WIN32
  return _fseeki64(file, offset, origin) == 0;
#else
  if (offset > LONG_MAX || offset < LONG_MIN) return false;
  return std::fseek(file, static_cast<long>(offset), origin) == 0;
#endif
}

std::int64_t TellFile(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return std::ftell(file);
#endif
}

// Reads and writes of at least this many bytes skip the buffer: the blocks of a
// record move in chunks of about a hundred kilobytes and more, which need no
// second copy.
constexpr std::size_t DirectBytes(std::size_t bufferBytes) {
  return std::min<std::size_t>(bufferBytes, std::size_t{64} << 10);
}

// Our own buffers do the batching; the stream moves them in whole.
void Unbuffer(std::FILE* file) { std::setvbuf(file, nullptr, _IONBF, 0); }

// A new, empty file "~rcXXXXXX.tmp" in the folder of path.
FileHandle CreateTemporaryBeside(const std::string& path, std::string& temporaryPath) {
  static int anchor = 0;
  static std::uint32_t state =
      static_cast<std::uint32_t>(std::time(nullptr)) ^
      static_cast<std::uint32_t>(std::clock()) * 2654435761u ^
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&anchor) >> 4);
  const std::string folder = FolderPart(path);
  for (int attempt = 0; attempt < 16; ++attempt) {
    state = state * 1664525u + 1013904223u;
    char name[20];
    std::snprintf(name, sizeof name, "~rc%06x.tmp", static_cast<unsigned>(state >> 8));
    const std::string candidate = folder + name;
    if (FileHandle existing{std::fopen(candidate.c_str(), "rb")}) continue;
#ifdef _WIN32
    FileHandle file{std::fopen(candidate.c_str(), "wb")};
#else
    FileHandle file{std::fopen(candidate.c_str(), "wbx")};  // exclusive: never share a name
#endif
    if (file) {
      Unbuffer(file.get());
      temporaryPath = candidate;
      return file;
    }
  }
  return FileHandle();
}

// Puts the finished file in place of the target. Windows refuses to rename onto an
// existing file, so the target is removed first there; the new file stays whole.
bool ReplaceFile(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  std::remove(to.c_str());
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

bool InputFile::Open(const std::string& path) {
  Close();
  file_.reset(std::fopen(path.c_str(), "rb"));
  if (!file_) return false;
  path_ = path;
  Unbuffer(file_.get());
  size_ = SeekFile(file_.get(), 0, SEEK_END) ? TellFile(file_.get()) : -1;
  if (size_ < 0 || !SeekFile(file_.get(), 0, SEEK_SET)) {
    Close();
    return false;
  }
  buffer_.resize(kFileBufferBytes);
  return true;
}

void InputFile::Close() {
  file_.reset();
  next_ = end_ = 0;
  size_ = -1;
  position_ = 0;
  failed_ = false;
}

bool InputFile::Fill() {
  next_ = end_ = 0;
  if (failed_ || !file_) return false;
  end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
  if (end_ == 0) failed_ = true;
  return end_ > 0;
}

bool InputFile::Read(void* data, std::size_t count) {
  auto* out = static_cast<unsigned char*>(data);
  while (count > 0) {
    if (next_ == end_) {
      if (failed_ || !file_) return false;
      if (count >= DirectBytes(buffer_.size())) {
        // Large reads go straight into the caller's memory.
        const std::size_t got = std::fread(out, 1, count, file_.get());
        position_ += static_cast<std::int64_t>(got);
        if (got < count) failed_ = true;
        return got == count;
      }
      if (!Fill()) return false;
    }
    const std::size_t take = std::min(count, end_ - next_);
    std::memcpy(out, buffer_.data() + next_, take);
    next_ += take;
    out += take;
    count -= take;
    position_ += static_cast<std::int64_t>(take);
  }
  return true;
}

bool InputFile::ReadInt32(std::int32_t& value) {
  unsigned char field[4];
  if (!Read(field, sizeof field)) return false;
  value = LoadLe32(field);
  return true;
}

bool InputFile::Skip(std::int64_t count) {
  if (count < 0 || failed_ || !file_) return false;
  const auto buffered = static_cast<std::int64_t>(end_ - next_);
  if (count <= buffered) {
    next_ += static_cast<std::size_t>(count);
    position_ += count;
    return true;
  }
  const std::int64_t rest = count - buffered;
  next_ = end_ = 0;
  if (!SeekFile(file_.get(), rest, SEEK_CUR)) {
    failed_ = true;
    return false;
  }
  position_ += count;
  return true;
}

bool InputFile::SeekTo(std::int64_t offset) {
  if (failed_ || !file_ || offset < 0) return false;
  next_ = end_ = 0;
  if (!SeekFile(file_.get(), offset, SEEK_SET)) {
    failed_ = true;
    return false;
  }
  position_ = offset;
  return true;
}

bool OutputFile::Create(const std::string& path) {
  Discard();
  // A file that is there already must be one we may write, as opening it for
  // writing would demand; it is replaced only at Commit.
  errno = 0;
  if (FileHandle existing{std::fopen(path.c_str(), "rb")}) {
    existing.reset();
    if (!FileHandle{std::fopen(path.c_str(), "r+b")}) return false;
  } else if (errno != ENOENT) {
    return false;  // there, but not a file we may open (a folder on Windows, no access)
  }
  file_ = CreateTemporaryBeside(path, temporaryPath_);
  if (!file_) return false;
  path_ = path;
  buffer_.resize(kFileBufferBytes);
  used_ = 0;
  position_ = 0;
  failed_ = false;
  return true;
}

bool OutputFile::Flush() {
  if (failed_ || !file_) return false;
  if (used_ > 0 && std::fwrite(buffer_.data(), 1, used_, file_.get()) != used_) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool OutputFile::Write(const void* data, std::size_t count) {
  if (failed_ || !file_) return false;
  const auto* in = static_cast<const unsigned char*>(data);
  if (used_ + count > buffer_.size() || count >= DirectBytes(buffer_.size())) {
    if (!Flush()) return false;
    if (count >= DirectBytes(buffer_.size())) {
      // Large writes go straight from the caller's memory.
      if (std::fwrite(in, 1, count, file_.get()) != count) failed_ = true;
      position_ += static_cast<std::int64_t>(count);
      return !failed_;
    }
  }
  std::memcpy(buffer_.data() + used_, in, count);
  used_ += count;
  position_ += static_cast<std::int64_t>(count);
  return true;
}

bool OutputFile::WriteInt32(std::int32_t value) {
  unsigned char field[4];
  StoreLe32(field, value);
  return Write(field, sizeof field);
}

bool OutputFile::SeekTo(std::int64_t offset) {
  if (failed_ || !file_ || used_ > 0 || offset < 0) return false;
  if (!SeekFile(file_.get(), offset, SEEK_SET)) {
    failed_ = true;
    return false;
  }
  position_ = offset;
  return true;
}

bool OutputFile::CutBack(std::int64_t length) {
  if (failed_ || !file_ || length < 0 || length > position_) return false;
  bool ok = Flush();
  if (std::fclose(file_.release()) != 0) ok = false;
  std::string freshPath;
  FileHandle fresh;
  if (ok) {
    fresh = CreateTemporaryBeside(path_, freshPath);
    FileHandle from{std::fopen(temporaryPath_.c_str(), "rb")};
    ok = fresh && from;
    for (std::int64_t left = length; ok && left > 0;) {
      const auto chunk = static_cast<std::size_t>(
          std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer_.size())));
      ok = std::fread(buffer_.data(), 1, chunk, from.get()) == chunk &&
           std::fwrite(buffer_.data(), 1, chunk, fresh.get()) == chunk;
      left -= static_cast<std::int64_t>(chunk);
    }
  }
  if (!ok) {
    if (fresh) {
      fresh.reset();
      std::remove(freshPath.c_str());
    }
    failed_ = true;  // the temporary file goes at Discard
    return false;
  }
  std::remove(temporaryPath_.c_str());
  temporaryPath_ = freshPath;
  file_ = std::move(fresh);
  position_ = length;
  return true;
}

bool OutputFile::Commit() {
  if (temporaryPath_.empty()) return false;
  bool ok = Flush();
  if (file_) {
    if (std::fflush(file_.get()) != 0) ok = false;
    if (std::fclose(file_.release()) != 0) ok = false;
  }
  if (ok) ok = ReplaceFile(temporaryPath_, path_);
  if (!ok) std::remove(temporaryPath_.c_str());
  temporaryPath_.clear();
  failed_ = !ok;
  return ok;
}

void OutputFile::Discard() {
  file_.reset();
  if (!temporaryPath_.empty()) std::remove(temporaryPath_.c_str());
  temporaryPath_.clear();
  used_ = 0;
}

bool FileAtOffsets::OpenForReading(const std::string& path) {
  file_.reset(std::fopen(path.c_str(), "rb"));
  if (file_) Unbuffer(file_.get());
  position_ = file_ ? 0 : -1;
  return file_ != nullptr;
}

bool FileAtOffsets::OpenForWriting(const std::string& path) {
  file_.reset(std::fopen(path.c_str(), "r+b"));
  if (file_) Unbuffer(file_.get());
  position_ = file_ ? 0 : -1;
  return file_ != nullptr;
}

// A stream that takes consecutive slices stands where the next one starts already.
bool FileAtOffsets::MoveTo(std::int64_t offset) {
  if (!file_ || offset < 0) return false;
  if (offset == position_) return true;
  position_ = -1;
  if (!SeekFile(file_.get(), offset, SEEK_SET)) return false;
  position_ = offset;
  return true;
}

bool FileAtOffsets::ReadAt(std::int64_t offset, void* data, std::size_t count) {
  if (!MoveTo(offset)) return false;
  const std::size_t got = std::fread(data, 1, count, file_.get());
  position_ = got == count ? offset + static_cast<std::int64_t>(count) : -1;
  std::clearerr(file_.get());
  return got == count;
}

bool FileAtOffsets::WriteAt(std::int64_t offset, const void* data, std::size_t count) {
  if (!MoveTo(offset)) return false;
  const bool ok = std::fwrite(data, 1, count, file_.get()) == count;
  position_ = ok ? offset + static_cast<std::int64_t>(count) : -1;
  std::clearerr(file_.get());
  return ok;
}

}  // namespace resicrypt
