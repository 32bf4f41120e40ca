// The text cipher: printable cipher text for clipboard, memo, field and DDE lines.
#ifndef RESICRYPT_ENGINE_TEXT_CIPHER_H
#define RESICRYPT_ENGINE_TEXT_CIPHER_H

#include <string>
#include <string_view>

#include "engine/cipher_workspace.h"
#include "engine/fast_codec.h"
#include "engine/keys.h"

namespace resicrypt {

constexpr int kTextAlphabetSize = 254;
constexpr std::size_t kMinTextPasswordLength = TextKey::kMinBytes;
constexpr std::size_t kMaxTextPasswordLength = TextKey::kMaxBytes;
constexpr int kTextSpareModuli = 3;

// The 254 characters in which residues are written, and the way back.
// Index 0..94 -> bytes 32..126, 95..188 -> 161..254, 189..222 -> 127..160,
// 223..253 -> 1..31. Byte 255 (and byte 0) read back as index 0.
struct TextAlphabet {
  unsigned char indexToByte[kTextAlphabetSize];
  unsigned char byteToIndex[256];
};

void BuildTextAlphabet(TextAlphabet& alphabet);

// Copies the key (its first 17 bytes, up to a NUL) into the workspace and prepares
// the size-44 table. Returns the block length L, or 0 when the key is too short.
int PrepareTextKey(CipherWorkspace& workspace, std::string_view password);

// Encrypts text under the password, L = password length bytes per block, each
// block written as N - 1 alphabet characters (N = ResidueCount(L) + 3). A last
// partial block is filled up with bytes 255. Only the first 17 password bytes
// are used, and the password ends at its first NUL byte; a password shorter than
// 3 bytes gives the empty string (callers check the length first).
// Prepares the workspace on every call; a command that passes many lines or
// segments under one password uses TextCipher instead and prepares once.
std::string EncryptText(CipherWorkspace& workspace, const TextAlphabet& alphabet,
                        std::string_view password, std::string_view text);

// Deciphers cipher text made by EncryptText. A block is accepted when at least
// three of its mixed-radix digits are 0. Only the last whole block decides:
// if it is rejected (or there is no whole block) the input comes back unchanged;
// otherwise the result is the bytes of all accepted blocks, bytes 255 of the last
// block dropped, cut before the first byte 0. Rejected earlier blocks are left
// out; characters after the last whole block are ignored. Same password rules
// as EncryptText (a short password gives the empty string).
std::string DecryptText(CipherWorkspace& workspace, const TextAlphabet& alphabet,
                        std::string_view password, std::string_view text);

// The text cipher prepared once for one password: the workspace preparation
// (password copy, BuildModulusTable(44), DerivePermutation(44), ResidueCount)
// and the block codec's constants are done in the constructor, so that a
// command reuses them for every line, segment or DDE line it passes:
//
//   const TextCipher cipher(form.Workspace(), form.Alphabet(), form.WorkingPassword());
//   for (each line) line = encrypt ? cipher.Encrypt(line) : cipher.Decrypt(line);
//
// Encrypt and Decrypt give exactly what EncryptText and DecryptText give for the
// same password (those two are thin wrappers around this class). The object
// copies the alphabet and what it needs of the key, and keeps no reference to the
// workspace, which it leaves prepared for the password as the reference steps would.
class TextCipher {
 public:
  // kernel picks the codec's batch loops (tests run each level).
  TextCipher(CipherWorkspace& workspace, const TextAlphabet& alphabet, std::string_view password,
             CodecKernel kernel = BestCodecKernel());

  // False for a password shorter than 3 bytes (after the cut at 17 bytes and at a
  // NUL): Encrypt and Decrypt then return the empty string.
  bool IsUsable() const { return codec_.IsUsable(); }
  int BlockLength() const { return codec_.BlockLength(); }              // L
  int CipherBlockLength() const { return codec_.CipherBlockLength(); }  // N - 1

  std::string Encrypt(std::string_view text) const;
  std::string Decrypt(std::string_view text) const;

  // The block steps Encrypt and Decrypt are made of, for texts handed on in pieces
  // (engine/text_stream.h). Cipher text is in alphabet characters; a usable key only.
  // count blocks of L bytes -> count blocks of N - 1 characters.
  void EncryptBlocks(const unsigned char* plain, std::size_t count, unsigned char* cipher) const;
  // A last block of 1 to L - 1 bytes, filled up with bytes 255 -> N - 1 characters.
  void EncryptLastBlock(const unsigned char* plain, std::size_t length,
                        unsigned char* cipher) const;
  // count blocks of N - 1 characters -> the L bytes of each accepted block, back to
  // back; a rejected block adds nothing. Returns the bytes written; plain has room
  // for count * L bytes.
  std::size_t DecryptBlocks(const unsigned char* cipher, std::size_t count,
                            unsigned char* plain) const;

 private:
  TextAlphabet alphabet_;
  BlockCodec codec_;
  // Blocks that encode back to their residues pass without their digits counted.
  bool batchCheck_ = false;
  bool builtAlphabet_ = false;  // BuildTextAlphabet's, read back by arithmetic
};

}  // namespace resicrypt

#endif
