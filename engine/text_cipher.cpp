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
BlockCodec MakeTextCodec(CipherWorkspace& ws, std::string_view password) {
  const int L = PrepareTextKey(ws, password);
  if (L == 0) {
    return BlockCodec(ws, 0, 0);
  }
  return BlockCodec(ws, L, ResidueCount(ws, L) + kTextSpareModuli);
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
                       std::string_view password)
    : alphabet_(alphabet), codec_(MakeTextCodec(workspace, password)) {
  // Keys of 3 to 17 bytes always order distinct primes, which the codec takes.
  assert(codec_.IsUsable() || PasswordLength(workspace) < kMinTextPasswordLength);
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

std::size_t TextCipher::DecryptBlocks(const unsigned char* cipher, std::size_t count,
                                      unsigned char* plain) const {
  const auto L = static_cast<std::size_t>(codec_.BlockLength());
  const auto cipherLength = static_cast<std::size_t>(codec_.CipherBlockLength());
  std::size_t length = 0;
  unsigned char residues[kMaxCodecCipherBlock];
  for (std::size_t b = 0; b < count; ++b, cipher += cipherLength) {
    for (std::size_t k = 0; k < cipherLength; ++k) residues[k] = alphabet_.byteToIndex[cipher[k]];
    // Under the key the three spare digits are the zero ones: that needs only
    // the rebuilt number. Other blocks get their zero digits counted.
    if (codec_.DecodeAndTestTopDigits(residues, kAcceptZeroDigits, plain + length) ||
        codec_.MixedRadixDigits(residues, nullptr) >= kAcceptZeroDigits) {
      length += L;  // a rejected block's bytes are written over by the next
    }
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
