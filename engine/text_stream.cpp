#include "engine/text_stream.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace resicrypt {

namespace {

constexpr unsigned char kPaddingByte = 255;

// Room for count more bytes at the end of out, where the caller writes them.
unsigned char* Extend(std::string& out, std::size_t count) {
  const std::size_t at = out.size();
  out.resize(at + count);
  return reinterpret_cast<unsigned char*>(out.data()) + at;
}

}  // namespace

TextEncryptStream::TextEncryptStream(const TextCipher& cipher, std::string* out)
    : cipher_(cipher),
      out_(out),
      blockLength_(static_cast<std::size_t>(cipher.BlockLength())),
      cipherBlockLength_(static_cast<std::size_t>(cipher.CipherBlockLength())) {
  assert(cipher.IsUsable());
}

void TextEncryptStream::Add(std::string_view piece) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
  std::size_t count = piece.size();
  if (firstNul_ == std::string::npos && count > 0) {
    const void* nul = std::memchr(bytes, 0, count);
    if (nul != nullptr)
      firstNul_ =
          length_ + static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - bytes);
  }
  length_ += count;
  AddToTail(bytes, count);
  if (out_ == nullptr) return;

  if (blockFilled_ > 0) {
    const std::size_t take = std::min(blockLength_ - blockFilled_, count);
    std::memcpy(block_ + blockFilled_, bytes, take);
    blockFilled_ += take;
    bytes += take;
    count -= take;
    if (blockFilled_ < blockLength_) return;
    cipher_.EncryptBlocks(block_, 1, Extend(*out_, cipherBlockLength_));
    blockFilled_ = 0;
  }
  const std::size_t whole = count / blockLength_;
  if (whole > 0) cipher_.EncryptBlocks(bytes, whole, Extend(*out_, whole * cipherBlockLength_));
  blockFilled_ = count - whole * blockLength_;
  std::memcpy(block_, bytes + whole * blockLength_, blockFilled_);
}

TextLoss TextEncryptStream::Finish() {
  if (out_ != nullptr && blockFilled_ > 0) {
    cipher_.EncryptLastBlock(block_, blockFilled_, Extend(*out_, cipherBlockLength_));
    blockFilled_ = 0;
  }
  if (firstNul_ != std::string::npos) return TextLoss::kNulByte;
  const std::size_t last = LastBlockLength();
  if (std::memchr(tail_ + tailFilled_ - last, kPaddingByte, last) != nullptr) {
    return TextLoss::kPaddingByte;
  }
  return TextLoss::kNone;
}

std::size_t TextEncryptStream::LastBlockLength() const {
  return length_ == 0 ? 0 : (length_ - 1) % blockLength_ + 1;
}

void TextEncryptStream::AddToTail(const unsigned char* bytes, std::size_t count) {
  if (count >= blockLength_) {
    std::memcpy(tail_, bytes + count - blockLength_, blockLength_);
    tailFilled_ = blockLength_;
    return;
  }
  const std::size_t keep = std::min(tailFilled_, blockLength_ - count);
  std::memmove(tail_, tail_ + tailFilled_ - keep, keep);
  std::memcpy(tail_ + keep, bytes, count);
  tailFilled_ = keep + count;
}

TextDecryptStream::TextDecryptStream(const TextCipher& cipher, std::string* out)
    : cipher_(cipher),
      out_(out),
      blockLength_(static_cast<std::size_t>(cipher.BlockLength())),
      cipherBlockLength_(static_cast<std::size_t>(cipher.CipherBlockLength())) {
  assert(cipher.IsUsable());
}

void TextDecryptStream::Add(std::string_view piece) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
  std::size_t count = piece.size();
  if (blockFilled_ > 0) {
    const std::size_t take = std::min(cipherBlockLength_ - blockFilled_, count);
    std::memcpy(block_ + blockFilled_, bytes, take);
    blockFilled_ += take;
    bytes += take;
    count -= take;
    if (blockFilled_ < cipherBlockLength_) return;
    AddWholeBlocks(block_, 1);
    blockFilled_ = 0;
  }
  const std::size_t whole = count / cipherBlockLength_;
  if (whole > 0) AddWholeBlocks(bytes, whole);
  blockFilled_ = count - whole * cipherBlockLength_;
  std::memcpy(block_, bytes + whole * cipherBlockLength_, blockFilled_);
}

bool TextDecryptStream::Finish() {
  // Characters after the last whole block count for nothing.
  if (!hasLast_) return false;
  unsigned char plain[kMaxCodecBlockLength];
  if (cipher_.DecryptBlocks(last_, 1, plain) == 0) return false;
  if (out_ != nullptr && !cut_) {
    const std::size_t from = out_->size();
    for (std::size_t p = 0; p < blockLength_; ++p) {
      if (plain[p] != kPaddingByte) out_->push_back(static_cast<char>(plain[p]));
    }
    CutAtNul(from);
  }
  return true;
}

void TextDecryptStream::AddWholeBlocks(const unsigned char* cipher, std::size_t count) {
  if (hasLast_) DecryptEarlierBlocks(last_, 1);
  DecryptEarlierBlocks(cipher, count - 1);
  std::memcpy(last_, cipher + (count - 1) * cipherBlockLength_, cipherBlockLength_);
  hasLast_ = true;
}

void TextDecryptStream::DecryptEarlierBlocks(const unsigned char* cipher, std::size_t count) {
  // Without an out string, or after a byte 0, only the last block matters.
  if (out_ == nullptr || cut_ || count == 0) return;
  const std::size_t from = out_->size();
  const std::size_t written =
      cipher_.DecryptBlocks(cipher, count, Extend(*out_, count * blockLength_));
  out_->resize(from + written);
  CutAtNul(from);
}

void TextDecryptStream::CutAtNul(std::size_t from) {
  const std::size_t nul = out_->find('\0', from);
  if (nul != std::string::npos) {
    out_->resize(nul);
    cut_ = true;
  }
}

}  // namespace resicrypt
