// The text cipher on texts handed on in pieces: any cut of a text gives what the
// whole-text cipher gives, and the first looks (will the text come back, is it
// cipher text) agree with what the step-by-step cipher does to the whole.
#include <gtest/gtest.h>

#include <random>

#include "engine/reference/reference.h"
#include "engine/text_stream.h"
#include "test_support.h"

namespace resicrypt {
namespace {

// The text in pieces of 0 to maxPiece bytes.
std::vector<std::string_view> Pieces(std::string_view text, std::size_t maxPiece,
                                     std::mt19937& rng) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    const std::size_t size = std::min<std::size_t>(rng() % (maxPiece + 1), text.size());
    pieces.push_back(text.substr(0, size));
    text.remove_prefix(size);
  }
  return pieces;
}

template <typename Stream>
auto RunStream(const TextCipher& cipher, std::string* out,
               const std::vector<std::string_view>& pieces) {
  Stream stream(cipher, out);
  for (const std::string_view piece : pieces) stream.Add(piece);
  return stream.Finish();
}

class TextStream : public ::testing::Test {
 protected:
  TextStream() { BuildTextAlphabet(alphabet); }
  std::unique_ptr<ReferenceWorkspace> ws = testsupport::NewWorkspace();
  TextAlphabet alphabet{};
};

// Decryption drops bytes 255 of the last block, which is the last length mod L
// bytes, or the last L when L divides the length; it ends a text at a byte 0.
TEST_F(TextStream, WhatDecryptionWouldLose) {
  const struct {
    const char* key;
    std::string text;
    TextLoss loss;
  } cases[] = {
      {"abc", "", TextLoss::kNone},
      {"abc", "\377abc", TextLoss::kNone},        // 255 in a whole earlier block
      {"abc", "ab\377", TextLoss::kPaddingByte},  // L divides the length: the last L
      {"abc", "abc\377", TextLoss::kPaddingByte},
      {"abc", "\377\377\377abc", TextLoss::kNone},
      {"abcd", "\377abc", TextLoss::kPaddingByte},
      {"abcd", "\377abcd", TextLoss::kNone},
      {"abcd", "a\377bcdef", TextLoss::kNone},  // the last block is "def"
      {"abcd", "abcde\377", TextLoss::kPaddingByte},
      {"abc", std::string("ab\0cd", 5), TextLoss::kNulByte},
      {"abc", std::string("abc\377\0", 5), TextLoss::kNulByte},
  };
  for (const auto& c : cases) {
    const TextCipher cipher(*ws, alphabet, c.key);
    EXPECT_EQ(RunStream<TextEncryptStream>(cipher, nullptr, {c.text}), c.loss)
        << c.key << " " << testing::PrintToString(c.text);
  }
}

TEST_F(TextStream, PiecesGiveTheWholeTextResults) {
  std::mt19937 rng(15);
  const auto kernels = testsupport::SupportedKernels();
  for (int round = 0; round < 400; ++round) {
    std::string key(3 + rng() % 15, '\0');
    for (char& c : key) c = static_cast<char>(1 + rng() % 255);
    // The stream on each codec level in turn, the whole-text results on the best.
    const CodecKernel kernel = kernels[static_cast<std::size_t>(round) % kernels.size()];
    const TextCipher cipher(*ws, alphabet, key, kernel);
    const std::size_t L = key.size();
    const auto C = static_cast<std::size_t>(cipher.CipherBlockLength());
    std::string text(rng() % (5 * L + 2), '\0');
    for (char& c : text) {
      const auto draw = rng() % 40;
      c = static_cast<char>(draw == 0 ? 0 : draw < 4 ? 255 : rng() % 256);
    }
    const std::size_t maxPiece = std::vector<std::size_t>{1, L - 1, L + 1, C + 1, 500}[rng() % 5];
    SCOPED_TRACE(testing::Message()
                 << "round " << round << " L " << L << " length " << text.size() << " pieces up to "
                 << maxPiece << " " << CodecKernelName(kernel));

    std::string cipherText;
    const TextLoss loss =
        RunStream<TextEncryptStream>(cipher, &cipherText, Pieces(text, maxPiece, rng));
    EXPECT_EQ(cipherText, EncryptText(*ws, alphabet, key, text));
    EXPECT_EQ(RunStream<TextEncryptStream>(cipher, nullptr, Pieces(text, maxPiece, rng)), loss);
    const bool comesBack =
        DecryptTextReference(*ws, alphabet, key, EncryptTextReference(*ws, alphabet, key, text)) ==
        text;
    EXPECT_EQ(loss == TextLoss::kNone, comesBack);
    if (!comesBack) {
      EXPECT_EQ(loss == TextLoss::kNulByte, text.find('\0') != std::string::npos);
    }

    // Cipher text whole, damaged, with characters after its last block, under
    // another key; and plain text.
    std::string damaged = cipherText;
    if (!damaged.empty()) damaged[rng() % damaged.size()] ^= 0x21;
    std::string wrongKey = key;
    wrongKey[0] = static_cast<char>(wrongKey[0] == 'x' ? 'y' : 'x');
    for (const std::string& input :
         {cipherText, damaged, cipherText + std::string(1 + rng() % (C - 1), '~'),
          EncryptText(*ws, alphabet, wrongKey, text), text}) {
      std::string plain;
      const bool isCipherText =
          RunStream<TextDecryptStream>(cipher, &plain, Pieces(input, maxPiece, rng));
      EXPECT_EQ(RunStream<TextDecryptStream>(cipher, nullptr, Pieces(input, maxPiece, rng)),
                isCipherText);
      const std::string whole = DecryptText(*ws, alphabet, key, input);
      if (isCipherText) {
        EXPECT_EQ(plain, whole);
      } else {
        EXPECT_EQ(whole, input);  // written back unchanged
      }
      if (input == cipherText) {
        EXPECT_EQ(isCipherText, !text.empty());
      }
    }
  }
}

}  // namespace
}  // namespace resicrypt
