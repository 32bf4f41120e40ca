#include "container/binary_file.h"

#include <algorithm>
#include <cstring>

#include "container/byte_order.h"

namespace resicrypt {

namespace {

// Reads and writes of at least this many bytes skip the buffer: the blocks of a
// record move in chunks of about a hundred kilobytes and more, which need no
// second copy.
constexpr std::size_t DirectBytes(std::size_t bufferBytes) {
  return std::min<std::size_t>(bufferBytes, std::size_t{64} << 10);
}

}  // namespace

bool InputFile::Open(const std::string& path) {
  Close();
  file_ = FileHandle::OpenForReading(path);
  if (!file_.IsOpen()) return false;
  size_ = file_.Size();
  if (size_ < 0) {
    Close();
    return false;
  }
  buffer_.resize(kFileBufferBytes);
  return true;
}

void InputFile::Close() {
  file_.Close();
  next_ = end_ = 0;
  size_ = -1;
  position_ = 0;
  failed_ = false;
}

bool InputFile::Read(void* data, std::size_t count) {
  auto* out = static_cast<unsigned char*>(data);
  while (count > 0) {
    if (next_ == end_) {
      if (failed_ || !file_.IsOpen()) return false;
      if (count >= DirectBytes(buffer_.size())) {
        // Large reads go straight into the caller's memory.
        failed_ = !file_.ReadAt(position_, out, count);
        if (!failed_) position_ += static_cast<std::int64_t>(count);
        return !failed_;
      }
      // The buffer is filled up to the length the file had when opened.
      const std::int64_t left = size_ - position_;
      const auto fill = static_cast<std::size_t>(
          std::clamp<std::int64_t>(left, 0, static_cast<std::int64_t>(buffer_.size())));
      next_ = end_ = 0;
      failed_ = fill == 0 || !file_.ReadAt(position_, buffer_.data(), fill);
      if (failed_) return false;
      end_ = fill;
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
  if (count < 0 || failed_ || !file_.IsOpen()) return false;
  const auto buffered = static_cast<std::int64_t>(end_ - next_);
  if (count <= buffered) {
    next_ += static_cast<std::size_t>(count);
  } else {
    next_ = end_ = 0;
  }
  position_ += count;
  return true;
}

bool OutputFile::Create(const std::string& path, FileMode widestMode) {
  Discard();
  if (!file_.Begin(path, widestMode)) return false;
  buffer_.resize(kFileBufferBytes);
  used_ = 0;
  position_ = 0;
  failed_ = false;
  return true;
}

bool OutputFile::CreateUnnamed(const std::string& folder) {
  Discard();
  if (!file_.BeginUnnamed(folder)) return false;
  buffer_.resize(kFileBufferBytes);
  used_ = 0;
  position_ = 0;
  failed_ = false;
  return true;
}

bool OutputFile::Flush() {
  if (failed_ || !file_.File().IsOpen()) return false;
  const std::int64_t at = position_ - static_cast<std::int64_t>(used_);
  if (used_ > 0 && !file_.File().WriteAt(at, buffer_.data(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool OutputFile::Write(const void* data, std::size_t count) {
  if (failed_ || !file_.File().IsOpen()) return false;
  const auto* in = static_cast<const unsigned char*>(data);
  if (used_ + count > buffer_.size() || count >= DirectBytes(buffer_.size())) {
    if (!Flush()) return false;
    if (count >= DirectBytes(buffer_.size())) {
      // Large writes go straight from the caller's memory.
      if (!file_.File().WriteAt(position_, in, count)) failed_ = true;
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

bool OutputFile::Skip(std::int64_t count) {
  // What the buffer holds must stay next to the bytes after it.
  if (count < 0 || !Flush()) return false;
  position_ += count;
  return true;
}

bool OutputFile::CutBack(std::int64_t length) {
  if (failed_ || !file_.File().IsOpen() || length < 0 || length > position_) return false;
  if (!Flush() || !file_.File().Cut(length)) {
    failed_ = true;  // the new file goes at Discard
    return false;
  }
  position_ = length;
  return true;
}

bool OutputFile::Commit() {
  if (!file_.File().IsOpen()) return false;
  const bool ok = Flush() && file_.Place();
  if (!ok) file_.Abandon();  // after a failed Flush; a failed Place has removed it
  failed_ = !ok;
  return ok;
}

void OutputFile::Discard() {
  file_.Abandon();
  used_ = 0;
}

}  // namespace resicrypt
