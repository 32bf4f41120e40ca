#include "engine/text_cipher.h"

#include <cassert>
#include <cstring>

#include "engine/engine.h"

namespace resicrypt {

namespace {

constexpr int kPaddingByte = 255;
constexpr int kAcceptZeroDigits = 3;

}  // namespace

int PrepareTextKey(CipherWorkspace& ws, std::string_view password) {
  SetPasswordText(ws, TextKey::UsedPart(password));
  const std::size_t length = PasswordLength(ws);
  if (length < kMinTextPasswordLength) {
    return 0;
  }
  BuildModulusTable(ws, kTextTableSize);
  DerivePermutation(ws, kTextTableSize);
  return static_cast<int>(length);
}

namespace {

// The workspace prepared as above and the codec for N = ResidueCount(L) + 3; an
// unusable codec for a key that is too short.
BlockCodec MakeTextCodec(CipherWorkspace& ws, std::string_view password, CodecKernel kernel) {
  const int L = PrepareTextKey(ws, password);
  if (L == 0) {
    return BlockCodec(ws, 0, 0, kernel);
  }
  return BlockCodec(ws, L, ResidueCount(ws, L) + kTextSpareModuli, kernel);
}

// Blocks deciphered per batch: a few KiB of residues on the stack.
constexpr std::size_t kBatchBlocks = 128;

// BuildTextAlphabet's byteToIndex as arithmetic, which the compiler turns into
// vector code where a table lookup stays one byte at a time.
unsigned char AlphabetIndex(unsigned char byte) {
  auto index = static_cast<unsigned char>(byte + 222);                  // 1..31
  index = byte >= 32 ? static_cast<unsigned char>(byte - 32) : index;   // 32..126
  index = byte >= 127 ? static_cast<unsigned char>(byte + 62) : index;  // 127..160
  index = byte >= 161 ? static_cast<unsigned char>(byte - 66) : index;  // 161..254
  return byte == 0 || byte == 255 ? 0 : index;
}

// GCC vectorizes at -O2 only what it is asked to; clang and MSVC do unasked.
#if defined(__GNUC__) && !defined(__clang__)
#define RESICRYPT_VECTORIZE __attribute__((optimize("tree-vectorize")))
#else
#define RESICRYPT_VECTORIZE
#endif

RESICRYPT_VECTORIZE void ToAlphabetIndices(const unsigned char* bytes, std::size_t count,
                                           unsigned char* indices) {
  for (std::size_t k = 0; k < count; ++k) indices[k] = AlphabetIndex(bytes[k]);
}

bool IsBuiltAlphabet(const TextAlphabet& alphabet) {
  for (int byte = 0; byte < 256; ++byte) {
    if (alphabet.byteToIndex[byte] != AlphabetIndex(static_cast<unsigned char>(byte))) return false;
  }
  return true;
}

}  // namespace

void BuildTextAlphabet(TextAlphabet& alphabet) {
  int index = 0;
  const auto addRange = [&](int first, int last) {
    for (int byte = first; byte <= last; ++byte) {
      alphabet.indexToByte[index++] = static_cast<unsigned char>(byte);
    }
  };
  addRange(32, 126);
  addRange(161, 254);
  addRange(127, 160);
  addRange(1, 31);
  for (int byte = 0; byte < 256; ++byte) {
    alphabet.byteToIndex[byte] = 0;
  }
  for (int k = 0; k < kTextAlphabetSize; ++k) {
    alphabet.byteToIndex[alphabet.indexToByte[k]] = static_cast<unsigned char>(k);
  }
}

TextCipher::TextCipher(CipherWorkspace& workspace, const TextAlphabet& alphabet,
                       std::string_view password, CodecKernel kernel)
    : alphabet_(alphabet), codec_(MakeTextCodec(workspace, password, kernel)) {
  // Keys of 3 to 17 bytes always order distinct primes, which the codec takes.
  assert(codec_.IsUsable() || PasswordLength(workspace) < kMinTextPasswordLength);
  batchCheck_ = codec_.IsUsable() && codec_.BlocksHaveZeroTopDigits(kAcceptZeroDigits);
  builtAlphabet_ = IsBuiltAlphabet(alphabet_);
}

std::string TextCipher::Encrypt(std::string_view text) const {
  if (!codec_.IsUsable()) {
    return std::string();
  }
  const auto L = static_cast<std::size_t>(codec_.BlockLength());
  const auto cipherLength = static_cast<std::size_t>(codec_.CipherBlockLength());
  const std::size_t fullBlocks = text.size() / L;
  const std::size_t rest = text.size() % L;

  std::string out((fullBlocks + (rest > 0 ? 1 : 0)) * cipherLength, '\0');
  auto* cipher = reinterpret_cast<unsigned char*>(&out[0]);
  const auto* plain = reinterpret_cast<const unsigned char*>(text.data());
  EncryptBlocks(plain, fullBlocks, cipher);
  if (rest > 0) {
    EncryptLastBlock(plain + fullBlocks * L, rest, cipher + fullBlocks * cipherLength);
  }
  return out;
}

std::string TextCipher::Decrypt(std::string_view text) const {
  if (!codec_.IsUsable()) {
    return std::string();
  }
  const auto L = static_cast<std::size_t>(codec_.BlockLength());
  const auto cipherLength = static_cast<std::size_t>(codec_.CipherBlockLength());
  const std::size_t blocks = text.size() / cipherLength;
  if (blocks == 0) {
    return std::string(text);
  }
  const auto* cipher = reinterpret_cast<const unsigned char*>(text.data());
  // The last whole block decides, and only its bytes 255 are padding.
  unsigned char last[kMaxCodecBlockLength];
  if (DecryptBlocks(cipher + (blocks - 1) * cipherLength, 1, last) == 0) {
    return std::string(text);
  }
  std::string out(blocks * L, '\0');
  auto* plain = reinterpret_cast<unsigned char*>(&out[0]);
  std::size_t length = DecryptBlocks(cipher, blocks - 1, plain);
  for (std::size_t p = 0; p < L; ++p) {
    if (last[p] != kPaddingByte) plain[length++] = last[p];
  }
  out.resize(length);
  const std::size_t end = out.find('\0');
  if (end != std::string::npos) {
    out.resize(end);
  }
  return out;
}

void TextCipher::EncryptBlocks(const unsigned char* plain, std::size_t count,
                               unsigned char* cipher) const {
  codec_.EncodeBlocks(plain, count, cipher);
  // Every residue is below its modulus, at most 179 here, so inside the alphabet.
  const std::size_t length = count * static_cast<std::size_t>(codec_.CipherBlockLength());
  for (std::size_t k = 0; k < length; ++k) cipher[k] = alphabet_.indexToByte[cipher[k]];
}

void TextCipher::EncryptLastBlock(const unsigned char* plain, std::size_t length,
                                  unsigned char* cipher) const {
  const auto L = static_cast<std::size_t>(codec_.BlockLength());
  assert(length > 0 && length < L);
  unsigned char last[kMaxCodecBlockLength];
  std::memset(last, kPaddingByte, L);
  std::memcpy(last, plain, length);
  EncryptBlocks(last, 1, cipher);
}

// A block is accepted when at least three of its mixed-radix digits are 0. The
// batch check: the residues rebuild V' below M, and when the L bytes decoded from
// them encode back to the same residues, V' is those bytes, below 256^L and so
// below the product of all but the top three moduli: those three digits are 0.
// That holds for every block made by Encrypt. A block that does not encode back
// (other residues, or a residue at or above its modulus) goes the step-by-step
// way: its top digits tested, else its zero digits counted.
std::size_t TextCipher::DecryptBlocks(const unsigned char* cipher, std::size_t count,
                                      unsigned char* plain) const {
  const auto L = static_cast<std::size_t>(codec_.BlockLength());
  const auto cipherLength = static_cast<std::size_t>(codec_.CipherBlockLength());
  std::size_t length = 0;
  unsigned char residues[kBatchBlocks * kMaxCodecCipherBlock];
  unsigned char again[kBatchBlocks * kMaxCodecCipherBlock];
  while (count > 0) {
    const std::size_t batch = count < kBatchBlocks ? count : kBatchBlocks;
    const std::size_t batchBytes = batch * cipherLength;
    if (builtAlphabet_) {
      ToAlphabetIndices(cipher, batchBytes, residues);
    } else {
      for (std::size_t k = 0; k < batchBytes; ++k) residues[k] = alphabet_.byteToIndex[cipher[k]];
    }
    // Decoded where each block would go if all were accepted; the accepted ones
    // after a rejected one move down over it.
    unsigned char* decoded = plain + length;
    if (batchCheck_) {
      codec_.DecodeBlocks(residues, batch, decoded);
      codec_.EncodeBlocks(decoded, batch, again);
      if (std::memcmp(again, residues, batchBytes) == 0) {  // the usual case: all pass
        length += batch * L;
        cipher += batchBytes;
        count -= batch;
        continue;
      }
    }
    for (std::size_t b = 0; b < batch; ++b) {
      const unsigned char* blockResidues = residues + b * cipherLength;
      if (batchCheck_ && std::memcmp(again + b * cipherLength, blockResidues, cipherLength) == 0) {
        if (plain + length != decoded + b * L) std::memmove(plain + length, decoded + b * L, L);
        length += L;
      } else if (codec_.DecodeAndTestTopDigits(blockResidues, kAcceptZeroDigits, plain + length) ||
                 codec_.MixedRadixDigits(blockResidues, nullptr) >= kAcceptZeroDigits) {
        length += L;  // a rejected block's bytes are written over by the next
      }
    }
    cipher += batchBytes;
    count -= batch;
  }
  return length;
}

std::string EncryptText(CipherWorkspace& workspace, const TextAlphabet& alphabet,
                        std::string_view password, std::string_view text) {
  return TextCipher(workspace, alphabet, password).Encrypt(text);
}

std::string DecryptText(CipherWorkspace& workspace, const TextAlphabet& alphabet,
                        std::string_view password, std::string_view text) {
  return TextCipher(workspace, alphabet, password).Decrypt(text);
}

}  // namespace resicrypt
