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
  size_ = file_.OpenedSize() >= 0 ? file_.OpenedSize() : file_.Size();
  if (size_ < 0) {
    Close();
    return false;
  }
  return true;
}

void InputFile::Close() {
  file_.Close();
  next_ = filled_ = 0;
  size_ = -1;
  position_ = 0;
  failed_ = false;
  end_ = EndSeen::kNotYet;
}

bool InputFile::Read(void* data, std::size_t count) {
  auto* out = static_cast<unsigned char*>(data);
  while (count > 0) {
    if (next_ == filled_) {
      if (failed_ || !file_.IsOpen()) return false;
      if (count >= DirectBytes(kFileBufferBytes)) {
        // Large reads go straight into the caller's memory.
        failed_ = !file_.ReadAt(position_, out, count);
        if (!failed_) position_ += static_cast<std::int64_t>(count);
        return !failed_;
      }
      // The buffer is filled up to the length the file had when opened. The fill
      // that reaches it asks for one byte more, which tells whether the file ends
      // there.
      const std::int64_t left = std::max<std::int64_t>(size_ - position_, 0);
      const std::size_t wanted = static_cast<std::size_t>(
          std::min<std::int64_t>(left + 1, static_cast<std::int64_t>(kFileBufferBytes)));
      if (capacity_ < wanted) {
        buffer_.reset(new unsigned char[wanted]);  // the bytes it held are handed out
        capacity_ = wanted;
      }
      const auto fill = static_cast<std::size_t>(
          std::min<std::int64_t>(left, static_cast<std::int64_t>(kFileBufferBytes)));
      next_ = filled_ = 0;
      if (fill == 0) {
        failed_ = true;
        return false;
      }
      if (wanted > fill) {
        const std::int64_t got = file_.ReadUpTo(position_, buffer_.get(), wanted, fill);
        failed_ = got < static_cast<std::int64_t>(fill);
        if (failed_) return false;
        end_ = got > static_cast<std::int64_t>(fill) ? EndSeen::kBeyond : EndSeen::kAtSize;
      } else {
        failed_ = !file_.ReadAt(position_, buffer_.get(), fill);
        if (failed_) return false;
      }
      filled_ = fill;
    }
    const std::size_t take = std::min(count, filled_ - next_);
    std::memcpy(out, buffer_.get() + next_, take);
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
  const auto buffered = static_cast<std::int64_t>(filled_ - next_);
  if (count <= buffered) {
    next_ += static_cast<std::size_t>(count);
  } else {
    next_ = filled_ = 0;
  }
  position_ += count;
  return true;
}

bool OutputFile::Create(const std::string& path, FileMode widestMode) {
  Discard();
  if (!file_.Begin(path, widestMode)) return false;
  used_ = 0;
  position_ = 0;
  failed_ = false;
  return true;
}

bool OutputFile::CreateUnnamed(const std::string& folder) {
  Discard();
  if (!file_.BeginUnnamed(folder)) return false;
  used_ = 0;
  position_ = 0;
  failed_ = false;
  return true;
}

void OutputFile::MakeRoom(std::size_t bytes) {
  if (bytes <= capacity_) return;
  const std::size_t room = std::min(kFileBufferBytes, std::max({bytes, 2 * capacity_,
                                                                std::size_t{4} << 10}));
  std::unique_ptr<unsigned char[]> larger(new unsigned char[room]);
  if (used_ > 0) std::memcpy(larger.get(), buffer_.get(), used_);
  buffer_ = std::move(larger);
  capacity_ = room;
}

bool OutputFile::Flush() {
  if (failed_ || !file_.File().IsOpen()) return false;
  const std::int64_t at = position_ - static_cast<std::int64_t>(used_);
  if (used_ > 0 && !file_.File().WriteAt(at, buffer_.get(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

bool OutputFile::Write(const void* data, std::size_t count) {
  if (failed_ || !file_.File().IsOpen()) return false;
  const auto* in = static_cast<const unsigned char*>(data);
  const bool direct = count >= DirectBytes(kFileBufferBytes);
  if (used_ + count > kFileBufferBytes || direct) {
    if (!Flush()) return false;
    if (direct) {
      // Large writes go straight from the caller's memory.
      if (!file_.File().WriteAt(position_, in, count)) failed_ = true;
      position_ += static_cast<std::int64_t>(count);
      return !failed_;
    }
  }
  MakeRoom(used_ + count);
  std::memcpy(buffer_.get() + used_, in, count);
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
