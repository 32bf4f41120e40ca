// Hostile and large inputs for the text cipher and the text commands: DecryptText
// on every byte value at lengths around the block multiples, clipboard texts of
// several megabytes, memo lines of a megabyte.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/text_cipher.h"
#include "fake_form.h"
#include "app/text_commands.h"

namespace {

using resicrypt::testing::FakeForm;

class TextCipherUnderAttack : public ::testing::Test {
 protected:
  TextCipherUnderAttack() : ws_(std::make_unique<resicrypt::CipherWorkspace>()) {
    resicrypt::BuildTextAlphabet(alphabet_);
  }
  std::string E(const std::string& key, const std::string& text) {
    return resicrypt::EncryptText(*ws_, alphabet_, key, text);
  }
  std::string D(const std::string& key, const std::string& text) {
    return resicrypt::DecryptText(*ws_, alphabet_, key, text);
  }
  // N - 1, the characters of one cipher block under key: the residue count of the
  // key's size-44 table plus three spare moduli, less one.
  int BlockChars(const std::string& key) {
    resicrypt::SetPasswordText(*ws_, key);
    resicrypt::BuildModulusTable(*ws_, 44);
    resicrypt::DerivePermutation(*ws_, 44);
    return resicrypt::ResidueCount(*ws_, static_cast<int>(key.size())) + 3 - 1;
  }

  std::unique_ptr<resicrypt::CipherWorkspace> ws_;
  resicrypt::TextAlphabet alphabet_{};
};

const std::string kKeys[] = {"abc", "ten bytes!", "seventeen bytes!!"};

// Any text is input to DecryptText: runs of each byte value (0 included, which no
// caller passes) at the lengths around one, two and three cipher blocks.
TEST_F(TextCipherUnderAttack, EveryByteValueAtLengthsAroundBlockMultiples) {
  for (const std::string& key : kKeys) {
    const auto block = static_cast<std::size_t>(BlockChars(key));
    for (int value = 0; value < 256; ++value) {
      for (std::size_t blocks = 0; blocks <= 3; ++blocks) {
        for (std::size_t length :
             {blocks * block - (blocks > 0 ? 1 : 0), blocks * block, blocks * block + 1}) {
          SCOPED_TRACE(testing::Message() << key << " byte " << value << " length " << length);
          const std::string text(length, static_cast<char>(value));
          const std::string result = D(key, text);
          if (length < block) {
            EXPECT_EQ(result, text);  // no whole block
            continue;
          }
          if (result != text) {
            // Accepted: at most L bytes per whole block, never a byte 0.
            EXPECT_LE(result.size(), length / block * key.size());
            EXPECT_EQ(result.find('\0'), std::string::npos);
          }
          // Characters after the last whole block are ignored.
          const std::string longer = text + std::string(block - 1 - length % block, '~');
          const std::string longerResult = D(key, longer);
          EXPECT_EQ(longerResult, result == text ? longer : result);
          // Byte 255 reads as index 0, as the blank does.
          if (value == 255) {
            const std::string blanks(length, ' ');
            const std::string blankResult = D(key, blanks);
            EXPECT_EQ(result == text, blankResult == blanks);
            if (result != text) {
              EXPECT_EQ(result, blankResult);
            }
          }
        }
      }
    }
  }
}

// Encrypting runs of each byte value 1..255 at lengths around the block length:
// the cipher text is printable, as long as the block count says, and decrypts to
// the text, less the bytes 255 of its last block.
TEST_F(TextCipherUnderAttack, EveryByteValueRoundTripsAroundTheBlockLength) {
  for (const std::string& key : kKeys) {
    const std::size_t L = key.size();
    const auto block = static_cast<std::size_t>(BlockChars(key));
    for (int value = 1; value < 256; ++value) {
      for (std::size_t length : {L - 1, L, L + 1, 2 * L - 1, 2 * L, 2 * L + 1, 5 * L + 3}) {
        SCOPED_TRACE(testing::Message() << key << " byte " << value << " length " << length);
        const std::string text(length, static_cast<char>(value));
        const std::string cipher = E(key, text);
        EXPECT_EQ(cipher.size(), (length + L - 1) / L * block);
        for (char c : cipher) {
          const auto b = static_cast<unsigned char>(c);
          ASSERT_TRUE((b >= 32 && b <= 126) || (b >= 161 && b <= 244)) << int{b};
        }
        const std::size_t tail = length % L == 0 ? L : length % L;
        const std::string expected = value == 255 ? text.substr(0, length - tail) : text;
        EXPECT_EQ(D(key, cipher), expected);
      }
    }
  }
}

// Random cipher text of random length: never a fault, and the rules hold.
TEST_F(TextCipherUnderAttack, RandomBytesOfEveryLengthUpToTenBlocks) {
  std::mt19937 random(7u);
  for (const std::string& key : kKeys) {
    const auto block = static_cast<std::size_t>(BlockChars(key));
    for (std::size_t length = 0; length <= 10 * block; ++length) {
      for (int round = 0; round < 4; ++round) {
        std::string text(length, '\0');
        for (char& c : text) c = static_cast<char>(random() % 255u + 1u);
        const std::string result = D(key, text);
        if (length < block) {
          EXPECT_EQ(result, text);
        } else if (result != text) {
          EXPECT_LE(result.size(), length / block * key.size());
        }
      }
    }
  }
}

class TextCommandsUnderLoad : public ::testing::Test {
 protected:
  std::unique_ptr<FakeForm> owned = std::make_unique<FakeForm>();
  FakeForm& form = *owned;
};

// A printable text of about the given size: lines of 1 to 120 characters, cells
// apart by TAB, lines ended by CR LF, LF or CR. No byte 255 (the cipher drops
// those at the end of a segment by design).
std::string LargeText(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  static const char* const kEnds[] = {"\r\n", "\n", "\r", "\t"};
  std::string text;
  text.reserve(size + 200);
  while (text.size() < size) {
    const std::size_t length = random() % 120u + 1u;
    for (std::size_t k = 0; k < length; ++k) {
      const auto b = static_cast<unsigned>(random() % 222u);  // 32..126 and 128..254
      text.push_back(static_cast<char>(b < 95 ? b + 32 : b - 95 + 128));
    }
    text += kEnds[random() % 4u];
  }
  return text;
}

TEST_F(TextCommandsUnderLoad, ClipboardOfSeveralMegabytesRoundTrips) {
  for (const std::string& key : {std::string("abc"), std::string("seventeen bytes!!")}) {
    form.edit1 = form.edit2 = key;
    const std::string plain = LargeText(std::size_t{3} << 20, 5);
    form.clipboard = plain;
    resicrypt::Button4Click(form);
    EXPECT_GT(form.clipboard.size(), plain.size());
    resicrypt::Button3Click(form);
    EXPECT_TRUE(form.clipboard == plain) << "the decrypted clipboard differs";
    EXPECT_TRUE(form.messages.empty());
  }
}

TEST_F(TextCommandsUnderLoad, MemoLinesOfAMegabyte) {
  form.edit1 = form.edit2 = "secret";
  std::string megabyte = LargeText(std::size_t{1} << 20, 6);
  for (char& c : megabyte) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';  // one line
  }
  form.memo = {megabyte, "short", ""};
  resicrypt::Button5Click(form);
  // Encrypt Memo enciphers the first 255 characters of a line.
  resicrypt::Button6Click(form);
  EXPECT_EQ(form.memo, (std::vector<std::string>{megabyte.substr(0, 255), "short", ""}));

  // Decrypt Memo takes a cipher line of any length whole.
  auto ws = std::make_unique<resicrypt::CipherWorkspace>();
  const std::string cipherLine = resicrypt::EncryptText(*ws, form.alphabet, "secret", megabyte);
  ASSERT_GT(cipherLine.size(), megabyte.size());
  form.memo = {cipherLine, megabyte};
  resicrypt::Button6Click(form);
  ASSERT_EQ(form.memo.size(), 2u);
  EXPECT_TRUE(form.memo[0] == megabyte) << "the megabyte line did not come back";
  // A megabyte of plain text is no cipher text: it comes back as it was.
  EXPECT_TRUE(form.memo[1] == megabyte) << "plain text was changed";
  EXPECT_TRUE(form.messages.empty());
}

}  // namespace
