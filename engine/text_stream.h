// The text cipher on a text handed on in pieces of any size, in constant memory:
// what is appended to out is exactly what TextCipher::Encrypt or Decrypt gives for
// the whole text. Without an out string a stream only works out what its Finish
// tells (whether the text would come back, whether it is cipher text), which for
// decryption costs one block.
#ifndef RESICRYPT_ENGINE_TEXT_STREAM_H
#define RESICRYPT_ENGINE_TEXT_STREAM_H

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/text_cipher.h"

namespace resicrypt {

// What decryption would not give back of a text: everything from its first byte 0
// (decryption cuts there), or bytes 255 of its last block (the block that padding
// fills: the last length mod L bytes, or the last L when L divides the length),
// which decryption drops as padding.
enum class TextLoss { kNone, kNulByte, kPaddingByte };

class TextEncryptStream {
 public:
  // cipher must have a usable key and outlive the stream; out may be null.
  TextEncryptStream(const TextCipher& cipher, std::string* out);

  void Add(std::string_view piece);
  // Ends the text: encrypts its last partial block, and tells what decryption of
  // the whole would lose.
  TextLoss Finish();

  std::size_t Length() const { return length_; }
  // Where the first byte 0 is, when there is one.
  std::size_t FirstNul() const { return firstNul_; }
  // The bytes of the last block, those that padding would take for its own.
  std::size_t LastBlockLength() const;

 private:
  void AddToTail(const unsigned char* bytes, std::size_t count);

  const TextCipher& cipher_;
  std::string* out_;
  std::size_t blockLength_;
  std::size_t cipherBlockLength_;
  unsigned char block_[kMaxCodecBlockLength];  // a block begun, not yet whole
  std::size_t blockFilled_ = 0;
  unsigned char tail_[kMaxCodecBlockLength];  // the last L bytes so far
  std::size_t tailFilled_ = 0;
  std::size_t length_ = 0;
  std::size_t firstNul_ = std::string::npos;
};

class TextDecryptStream {
 public:
  // cipher must have a usable key and outlive the stream; out may be null.
  TextDecryptStream(const TextCipher& cipher, std::string* out);

  void Add(std::string_view piece);
  // Ends the text. True when it is cipher text under the key (its last whole block
  // is accepted); out then ends as Decrypt's result. False otherwise, and Decrypt
  // would give the text back as it is, which the caller must still hold: out then
  // holds no result, so a caller that writes out as it goes asks first without.
  bool Finish();

 private:
  // count >= 1 whole blocks: all but the last of them are known not to be the last.
  void AddWholeBlocks(const unsigned char* cipher, std::size_t count);
  void DecryptEarlierBlocks(const unsigned char* cipher, std::size_t count);
  void CutAtNul(std::size_t from);

  const TextCipher& cipher_;
  std::string* out_;
  std::size_t blockLength_;
  std::size_t cipherBlockLength_;
  unsigned char block_[kMaxCodecCipherBlock];  // a block begun, not yet whole
  std::size_t blockFilled_ = 0;
  // The last whole block so far: only the end tells whether it is the one that
  // decides and whose bytes 255 are padding.
  unsigned char last_[kMaxCodecCipherBlock];
  bool hasLast_ = false;
  bool cut_ = false;  // a byte 0 came out: nothing after it counts
};

}  // namespace resicrypt

#endif
