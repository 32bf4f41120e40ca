// Encrypt Clipboard (Button4Click) and Decrypt Clipboard (Button3Click) through
// the in-memory window.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fake_form.h"
#include "tests/app/cipher_helpers.h"
#include "app/text_commands.h"

namespace {

using resicrypt::testing::FakeForm;

const std::string kMemoStart = " Write here data for Encrypt or Decrypt";

class ClipboardCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    form.edit1 = form.edit2 = key;
    form.hidePassword = false;
  }
  std::string E(const std::string& text) { return cipher.E(key, text); }

  std::string key = "secret";
  std::unique_ptr<FakeForm> owned = std::make_unique<FakeForm>();
  FakeForm& form = *owned;
  textcmdtest::UnitCipher cipher;
};

TEST_F(ClipboardCommands, WorkedExampleBothWaysWithEcho) {
  const std::string plain = "ab\tcd\r\nxyz";
  form.clipboard = plain;

  resicrypt::Button4Click(form);
  // The last character z is copied behind the cipher text of xy, never enciphered.
  const std::string cipherText = E("ab") + "\t" + E("cd") + "\r\n" + E("xy") + "z";
  EXPECT_EQ(form.clipboard, cipherText);
  EXPECT_FALSE(form.clipboardPrivate);
  EXPECT_EQ(form.clipboardWrites, 1);
  EXPECT_EQ(form.memo, (std::vector<std::string>{kMemoStart, E("ab"), E("cd"), E("xy")}));
  EXPECT_EQ(form.workingPassword, key);
  EXPECT_TRUE(form.messages.empty());

  resicrypt::Button3Click(form);
  EXPECT_EQ(form.clipboard, plain);
  EXPECT_TRUE(form.clipboardPrivate);  // plain text stays out of clipboard history
  EXPECT_EQ(form.clipboardWrites, 2);
  EXPECT_EQ(form.memo,
            (std::vector<std::string>{kMemoStart, E("ab"), E("cd"), E("xy"), "ab", "cd", "xyz"}));
  EXPECT_TRUE(form.messages.empty());
}

TEST_F(ClipboardCommands, SegmentsSeparatorsAndLastPosition) {
  struct Case {
    std::string plain;
    std::string expected;  // Encrypt Clipboard's result
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"hello world", E("hello worl") + "d"},  // the blank belongs to the segment
      {"line one\r\nline two\r\n", E("line one") + "\r\n" + E("line two") + "\r\n"},
      {"abc\n", E("abc") + "\n"},
      {"\t\t\r\n\n\r", "\t\t\r\n\n\r"},
      {"ab\t\t\tcd\n\n\nef", E("ab") + "\t\t\t" + E("cd") + "\n\n\nef"},
      // One-character segments are copied unchanged, never dropped.
      {"a", "a"},
      {"ab", "ab"},
      {"abc", E("ab") + "c"},
      {"a\tb", "a\tb"},
      {"x\ty\tlong one\tz\n", "x\ty\t" + E("long one") + "\tz\n"},
      {"\r\nq\r\n", "\r\nq\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.plain));
    form.clipboard = c.plain;
    form.messages.clear();
    resicrypt::Button4Click(form);
    EXPECT_EQ(form.clipboard, c.expected);
    resicrypt::Button3Click(form);
    EXPECT_EQ(form.clipboard, c.plain);
    EXPECT_TRUE(form.messages.empty());
  }
}

TEST_F(ClipboardCommands, EchoLinesOnlyForCipheredSegments) {
  form.clipboard = "a\tbc\r\nd\n\ndef\n";
  resicrypt::Button4Click(form);
  EXPECT_EQ(form.memo, (std::vector<std::string>{kMemoStart, E("bc"), E("def")}));

  // Decrypting: the segment closed by the last position ends its line with the
  // last character, here the final LF.
  form.memo = {kMemoStart};
  resicrypt::Button3Click(form);
  EXPECT_EQ(form.memo, (std::vector<std::string>{kMemoStart, "bc", "def\n"}));

  // Hide Password ticked: the clipboard changes, the memo does not.
  form.hidePassword = true;
  form.memo = {kMemoStart};
  resicrypt::Button4Click(form);
  resicrypt::Button3Click(form);
  EXPECT_EQ(form.clipboard, "a\tbc\r\nd\n\ndef\n");
  EXPECT_EQ(form.memo, std::vector<std::string>{kMemoStart});
}

TEST_F(ClipboardCommands, EmptyClipboardIsWrittenEmptyWithoutMessage) {
  for (auto command : {resicrypt::Button4Click, resicrypt::Button3Click}) {
    form.clipboard.clear();
    form.clipboardWrites = 0;
    command(form);
    EXPECT_EQ(form.clipboard, "");
    EXPECT_EQ(form.clipboardWrites, 1);
    EXPECT_TRUE(form.messages.empty());
    EXPECT_EQ(form.memo, std::vector<std::string>{kMemoStart});
  }
}

// A clipboard that cannot be opened, or refuses the write, is reported and keeps
// its text; the memo gets no echo of a result that never reached the clipboard.
class WriteRefusingForm : public FakeForm {
 public:
  bool WriteClipboardText(const std::string&, bool) override { return false; }
};

TEST_F(ClipboardCommands, ClipboardThatCannotBeOpenedIsReportedAndKept) {
  form.clipboard = "some text\tmore";
  form.clipboardOpens = false;
  for (auto command : {resicrypt::Button4Click, resicrypt::Button3Click}) {
    form.messages.clear();
    command(form);
    EXPECT_EQ(form.messages, std::vector<std::string>{"Clipboard could not be opened"});
    EXPECT_EQ(form.clipboard, "some text\tmore");
    EXPECT_EQ(form.clipboardWrites, 0);
    EXPECT_EQ(form.memo, std::vector<std::string>{kMemoStart});
  }

  auto refusing = std::make_unique<WriteRefusingForm>();
  refusing->edit1 = refusing->edit2 = key;
  refusing->hidePassword = false;
  refusing->clipboard = "some text\tmore";
  resicrypt::Button4Click(*refusing);
  EXPECT_EQ(refusing->messages, std::vector<std::string>{"Clipboard could not be opened"});
  EXPECT_EQ(refusing->clipboard, "some text\tmore");
  EXPECT_EQ(refusing->memo, std::vector<std::string>{kMemoStart});
}

// Random texts of separators and segments of every kind of length (none, one
// character, short, longer than a block, longer than many blocks), with a last
// character of any kind: Decrypt Clipboard gives back what Encrypt Clipboard was
// given. Bytes 255 are left out of segments: the cipher drops them at the end of
// a unit by design.
TEST_F(ClipboardCommands, RoundTripOfRandomTexts) {
  std::mt19937 random(20240611u);
  const char separators[] = {'\t', '\n', '\r'};
  auto segmentByte = [&]() {
    for (;;) {
      const int b = static_cast<int>(random() % 254u) + 1;  // 1..254
      if (b != '\t' && b != '\n' && b != '\r') return static_cast<char>(b);
    }
  };
  const std::vector<std::string> keys = {"abc", "pass word", "abcdefghijklmnopq",
                                         "twenty characters!!!"};
  for (int round = 0; round < 200; ++round) {
    std::string plain;
    const int pieces = static_cast<int>(random() % 8u);
    int cipheredSegments = 0;
    for (int p = 0; p < pieces; ++p) {
      const int run = static_cast<int>(random() % 3u);
      for (int s = 0; s < run; ++s) plain.push_back(separators[random() % 3u]);
      static const int lengths[] = {0, 1, 1, 2, 3, 5, 17, 18, 40, 300};
      const int length = lengths[random() % 10u];
      for (int k = 0; k < length; ++k) plain.push_back(segmentByte());
    }
    if (random() % 2u) plain.push_back(static_cast<char>(random() % 255u + 1u));  // any last
    // Segments of two or more characters before the last position.
    if (!plain.empty()) {
      std::size_t runLength = 0;
      for (std::size_t j = 0; j + 1 < plain.size(); ++j) {
        const char c = plain[j];
        if (c == '\t' || c == '\n' || c == '\r') {
          if (runLength >= 2) ++cipheredSegments;
          runLength = 0;
        } else {
          ++runLength;
        }
      }
      if (runLength >= 2) ++cipheredSegments;
    }

    const std::string& k = keys[static_cast<std::size_t>(round) % keys.size()];
    SCOPED_TRACE(testing::Message() << "round " << round << " key " << k);
    form.edit1 = form.edit2 = k;
    form.memo.clear();
    form.clipboard = plain;
    resicrypt::Button4Click(form);
    EXPECT_EQ(static_cast<int>(form.memo.size()), cipheredSegments);
    for (const std::string& line : form.memo) {
      EXPECT_EQ(line.find_first_of("\t\n\r"), std::string::npos);
    }
    resicrypt::Button3Click(form);
    EXPECT_EQ(form.clipboard, plain);
    EXPECT_EQ(static_cast<int>(form.memo.size()), 2 * cipheredSegments);
  }
}

}  // namespace
