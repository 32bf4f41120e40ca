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
  const std::size_t blocks = fullBlocks + (rest > 0 ? 1 : 0);

  std::string out(blocks * cipherLength, '\0');
  auto* cipher = reinterpret_cast<unsigned char*>(&out[0]);
  const auto* plain = reinterpret_cast<const unsigned char*>(text.data());
  codec_.EncodeBlocks(plain, fullBlocks, cipher);
  if (rest > 0) {
    // The last partial block, filled up with bytes 255.
    unsigned char last[kMaxCodecBlockLength];
    std::memset(last, kPaddingByte, L);
    std::memcpy(last, plain + fullBlocks * L, rest);
    codec_.Encode(last, cipher + fullBlocks * cipherLength);
  }
  // Every residue is below its modulus, at most 179 here, so inside the alphabet.
  for (auto& c : out) c = static_cast<char>(alphabet_.indexToByte[static_cast<unsigned char>(c)]);
  return out;
}

std::string TextCipher::Decrypt(std::string_view text) const {
  if (!codec_.IsUsable()) {
    return std::string();
  }
  const auto L = static_cast<std::size_t>(codec_.BlockLength());
  const auto cipherLength = static_cast<std::size_t>(codec_.CipherBlockLength());
  const std::size_t blocks = text.size() / cipherLength;

  std::string out(blocks * L, '\0');
  auto* plain = reinterpret_cast<unsigned char*>(&out[0]);
  std::size_t length = 0;
  const auto* cipher = reinterpret_cast<const unsigned char*>(text.data());
  bool lastAccepted = false;
  unsigned char residues[kMaxCodecCipherBlock];
  unsigned char block[kMaxCodecCipherBlock];
  for (std::size_t b = 0; b < blocks; ++b) {
    for (std::size_t k = 0; k < cipherLength; ++k) {
      residues[k] = alphabet_.byteToIndex[cipher[b * cipherLength + k]];
    }
    // Under the key the three spare digits are the zero ones: that needs only
    // the rebuilt number. Other blocks get their zero digits counted.
    lastAccepted = codec_.DecodeAndTestTopDigits(residues, kAcceptZeroDigits, block) ||
                   codec_.MixedRadixDigits(residues, nullptr) >= kAcceptZeroDigits;
    if (!lastAccepted) {
      continue;  // a rejected block adds nothing
    }
    const bool isLast = b + 1 == blocks;
    for (std::size_t p = 0; p < L; ++p) {
      if (!isLast || block[p] != kPaddingByte) plain[length++] = block[p];
    }
  }
  if (!lastAccepted) {
    return std::string(text);
  }
  out.resize(length);
  const std::size_t end = out.find('\0');
  if (end != std::string::npos) {
    out.resize(end);
  }
  return out;
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
