// Encrypt Memo and Decrypt Memo (Button5Click, Button6Click), the label commands
// (Label1Click, Label2Click), and the password checks of all eight commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "fake_form.h"
#include "tests/app/cipher_helpers.h"
#include "app/file_commands.h"
#include "app/text_commands.h"
#include "app/text_loss.h"

namespace {

using resicrypt::testing::FakeForm;
using Command = void (*)(resicrypt::FormPort&);

const std::string kDiffer0 = "Password 1 and Password 2 must equal";
const std::string kDiffer1 = "Password 1 and Password 2 must equal ";
const std::string kDiffer2 = "Password 1 and Password 2 must equal  ";
const std::string kShort = "Password 1 and Password 2 must equal or small than three ";
const std::string kCipherShort = " Give cipher length equel  3 or big ";
const std::string kFileDiffer = "Password 1 and Password 2 must equal. ";
const std::string kFileShort = "Password 1 and Password 2 must equal or small than three ";
const std::string kUnpackDiffer = "Password 1 and Password 2 must equal ";
const std::string kUnpackShort = "Password 1 and Password 2 must equal or small than three  ";
const std::string kUnpackLong = "Password 1 and Password 2 must equal or small than three ";

// The file commands up to their dialogs; the checks come first.
void EncryptFile(resicrypt::FormPort& form) { resicrypt::PrepareEncryptFile(form); }
void DecryptFile(resicrypt::FormPort& form) { resicrypt::PrepareDecryptFile(form); }

// A line of the given length without bytes 255 (which the cipher drops at the
// end of a unit).
std::string LineOf(std::size_t length) {
  std::string line;
  for (std::size_t k = 0; k < length; ++k) line.push_back(static_cast<char>(32 + (k * 7) % 200));
  return line;
}

// What a command changes when it runs: Edit1, the clipboard, the memo and the list.
auto Outcome(const FakeForm& form) {
  return std::make_tuple(form.edit1, form.clipboard, form.clipboardWrites, form.memo, form.report);
}

// Every message of the five tables, and that a refused command changes nothing
// but WorkingPassword (which keeps a short key, as the window always has): no
// dialog, no report line, neither password buffer written.
TEST(PasswordChecks, EveryMessageAndNothingChanged) {
  struct Case {
    const char* name;
    Command command;
    std::string password1, password2;  // Edit2, Edit1
    std::string message;
    std::string workingPassword;  // afterwards
  };
  const std::string twenty = "abcdefghijklmnopqrst";
  const std::string twentyOther = "abcdefghijklmnopqXst";  // differs after the 17th
  const std::string long300(300, 'y');
  const std::string x24(24, 'x');
  const std::vector<Case> cases = {
      // Compared before the length is tested, byte for byte and to the last byte.
      {"Encrypt File differ short", EncryptFile, "ab", "cd", kFileDiffer, "old"},
      {"Encrypt File differ", EncryptFile, "abc", "abd", kFileDiffer, "old"},
      {"Encrypt File differ in case", EncryptFile, "Secret", "secret", kFileDiffer, "old"},
      {"Encrypt File differ by a blank", EncryptFile, "abc ", "abc", kFileDiffer, "old"},
      {"Encrypt File differ long", EncryptFile, long300 + "z", long300, kFileDiffer, "old"},
      {"Encrypt File short", EncryptFile, "ab", "ab", kFileShort, "old"},
      {"Encrypt File empty", EncryptFile, "", "", kFileShort, "old"},
      {"Encrypt File 24 bytes", EncryptFile, x24, x24, kFileShort, "old"},
      {"Encrypt File beyond the buffers", EncryptFile, long300, long300, kFileShort, "old"},
      {"Decrypt File differ short", DecryptFile, "ab", "cd", kUnpackDiffer, "old"},
      {"Decrypt File differ", DecryptFile, "abC", "abc", kUnpackDiffer, "old"},
      {"Decrypt File differ long", DecryptFile, long300 + "z", long300, kUnpackDiffer, "old"},
      {"Decrypt File short", DecryptFile, "ab", "ab", kUnpackShort, "old"},  // two blanks
      {"Decrypt File empty", DecryptFile, "", "", kUnpackShort, "old"},
      {"Decrypt File 24 bytes", DecryptFile, x24, x24, kUnpackLong, "old"},  // one blank
      {"Decrypt File beyond the buffers", DecryptFile, long300, long300, kUnpackLong, "old"},
      {"Encrypt Clipboard differ", resicrypt::Button4Click, "abc", "abd", kDiffer0, "old"},
      {"Encrypt Clipboard differ late", resicrypt::Button4Click, twenty, twentyOther, kDiffer0,
       "old"},
      {"Encrypt Clipboard short", resicrypt::Button4Click, "ab", "ab", kShort, "ab"},
      {"Decrypt Clipboard differ", resicrypt::Button3Click, "abc", "abd", kDiffer1, "old"},
      {"Decrypt Clipboard differ late", resicrypt::Button3Click, twentyOther, twenty, kDiffer1,
       "old"},
      {"Decrypt Clipboard short", resicrypt::Button3Click, "ab", "ab", kShort, "ab"},
      {"Encrypt Memo differ", resicrypt::Button5Click, "abc", "abd", kDiffer0, "old"},
      {"Encrypt Memo differ late", resicrypt::Button5Click, twenty, twentyOther, kDiffer0, "old"},
      {"Encrypt Memo short", resicrypt::Button5Click, "ab", "ab", kShort, "ab"},
      {"Decrypt Memo differ", resicrypt::Button6Click, "abc", "ABC", kDiffer2, "old"},
      {"Decrypt Memo differ late", resicrypt::Button6Click, twenty, twentyOther, kDiffer2, "old"},
      {"Decrypt Memo short", resicrypt::Button6Click, "", "", kShort, ""},
      {"Label1 short", resicrypt::Label1Click, "ab", "whatever", kShort, "ab"},
      {"Label2 short", resicrypt::Label2Click, "ab", "whatever", kCipherShort, "ab"},
      {"Label2 empty key", resicrypt::Label2Click, "", "whatever", kCipherShort, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto form = std::make_unique<FakeForm>();
    form->edit2 = c.password1;
    form->edit1 = c.password2;
    form->hidePassword = false;
    form->workingPassword = "old";
    form->clipboard = "clip\tboard text";
    form->memo = {"memo line one", "memo line two"};
    form->report = {"earlier line"};
    std::fill(std::begin(form->workspace.passwordText), std::end(form->workspace.passwordText),
              0x5A);
    std::fill(std::begin(form->workspace.passwordText2), std::end(form->workspace.passwordText2),
              0x5A);
    const auto before = Outcome(*form);
    c.command(*form);
    EXPECT_EQ(form->messages, std::vector<std::string>{c.message});
    EXPECT_EQ(form->workingPassword, c.workingPassword);
    EXPECT_EQ(Outcome(*form), before);
    EXPECT_TRUE(form->openDialogFilters.empty());
    for (unsigned char byte : form->workspace.passwordText) ASSERT_EQ(byte, 0x5A);
    for (unsigned char byte : form->workspace.passwordText2) ASSERT_EQ(byte, 0x5A);
  }
}

class MemoCommands : public ::testing::Test {
 protected:
  void SetUp() override { form.edit1 = form.edit2 = key; }
  std::string key = "memo key";
  std::unique_ptr<FakeForm> owned = std::make_unique<FakeForm>();
  FakeForm& form = *owned;
  textcmdtest::UnitCipher cipher;
};

TEST_F(MemoCommands, LinesInPlaceAndBack) {
  const std::string line255 = LineOf(255);
  const std::string line256 = LineOf(256);
  form.memo = {"abc", "", "x", "   ", line255, line256, "two words"};
  form.hidePassword = false;  // the memo commands write no echo either way
  const std::vector<std::string> reportBefore = form.report;

  resicrypt::Button5Click(form);
  const std::vector<std::string> enciphered = {
      cipher.E(key, "abc"),      "",  // the empty line stays empty
      cipher.E(key, "x"),        cipher.E(key, "   "),
      cipher.E(key, line255),    cipher.E(key, line256.substr(0, 255)),
      cipher.E(key, "two words")};
  EXPECT_EQ(form.memo, enciphered);
  EXPECT_EQ(form.workingPassword, key);

  // Decrypt Memo cuts nothing: the cipher line of 255 characters is far longer.
  ASSERT_GT(form.memo[4].size(), 255u);
  resicrypt::Button6Click(form);
  EXPECT_EQ(form.memo, (std::vector<std::string>{"abc", "", "x", "   ", line255,
                                                 line256.substr(0, 255), "two words"}));

  // A line that is not cipher text under the key comes back as it was.
  form.memo = {"not cipher text at all, just words"};
  resicrypt::Button6Click(form);
  EXPECT_EQ(form.memo, std::vector<std::string>{"not cipher text at all, just words"});

  EXPECT_TRUE(form.messages.empty());
  EXPECT_EQ(form.report, reportBefore);
  EXPECT_EQ(form.clipboardWrites, 0);
}

TEST_F(MemoCommands, EmptyMemo) {
  form.memo.clear();
  resicrypt::Button5Click(form);
  resicrypt::Button6Click(form);
  EXPECT_TRUE(form.memo.empty());
  EXPECT_TRUE(form.messages.empty());
}

class LabelCommands : public ::testing::Test {
 protected:
  std::unique_ptr<FakeForm> owned = std::make_unique<FakeForm>();
  FakeForm& form = *owned;
  textcmdtest::UnitCipher cipher;
};

TEST_F(LabelCommands, RoundTripWithEchoAndFieldsNotCompared) {
  form.edit2 = "label key";
  form.edit1 = "Meet me at noon, by the old mill";
  form.hidePassword = false;
  std::vector<std::string> report = form.report;

  resicrypt::Label1Click(form);
  const std::string enciphered = cipher.E("label key", "Meet me at noon, by the old mill");
  EXPECT_EQ(form.edit1, enciphered);
  report.push_back(enciphered);
  EXPECT_EQ(form.report, report);
  EXPECT_EQ(form.workingPassword, "label key");

  resicrypt::Label2Click(form);
  EXPECT_EQ(form.edit1, "Meet me at noon, by the old mill");
  report.push_back("Meet me at noon, by the old mill");
  EXPECT_EQ(form.report, report);

  // An empty Edit1 gives the empty text and, with the echo on, an empty line.
  form.edit1.clear();
  resicrypt::Label1Click(form);
  EXPECT_EQ(form.edit1, "");
  report.push_back("");
  EXPECT_EQ(form.report, report);
  EXPECT_TRUE(form.messages.empty());
  EXPECT_EQ(form.edit2, "label key");
}

TEST_F(LabelCommands, StartUpFieldsAndHiddenEcho) {
  // Start-up: "742" in both fields. Decrypting a text no longer than the key gives
  // it back unchanged; Hide Password is ticked, so the report gets nothing.
  const std::vector<std::string> report = form.report;
  resicrypt::Label2Click(form);
  EXPECT_EQ(form.edit1, "742");
  resicrypt::Label1Click(form);
  EXPECT_EQ(form.edit1, cipher.E("742", "742"));
  resicrypt::Label2Click(form);
  EXPECT_EQ(form.edit1, "742");
  EXPECT_EQ(form.report, report);
  EXPECT_TRUE(form.messages.empty());
}

// Every text command keeps the first 17 bytes of a longer key (what the
// cipher makes of a key is the engine's rule; here that each command keeps it).
TEST(TextKeys, EveryTextCommandKeepsTheFirstSeventeenBytesAsItsKey) {
  for (const Command command :
       {resicrypt::Button4Click, resicrypt::Button3Click, resicrypt::Button5Click,
        resicrypt::Button6Click, resicrypt::Label1Click, resicrypt::Label2Click}) {
    auto form = std::make_unique<FakeForm>();
    form->edit1 = form->edit2 = "abcdefghijklmnopqrst";
    form->clipboard = "some clipboard text";
    form->memo = {"some memo line"};
    command(*form);
    EXPECT_TRUE(form->messages.empty());
    EXPECT_EQ(form->workingPassword, "abcdefghijklmnopq");
  }
}

// A unit with a byte 255 in its last block (the key "secret1" makes blocks of 7
// bytes) stays as it was, and one message says how many and which came first.
TEST(TextCommands, UnitsThatWouldNotComeBackStayAsTheyWereWithOneMessage) {
  const std::string kTail = " left unencrypted: a byte 255 near ";
  const std::string kEnd = " end would not come back from decryption";
  const std::string kept = "abc\xFF", early =
                                          "\xFF"
                                          "1234567";  // 255 in the first block only
  textcmdtest::UnitCipher cipher;
  FakeForm form;
  form.edit1 = form.edit2 = "secret1";
  form.memo = {early, kept, "x\\y\xFFz"};
  resicrypt::Button5Click(form);
  EXPECT_EQ(form.memo, (std::vector<std::string>{cipher.E("secret1", early), kept, "x\\y\xFFz"}));
  form.clipboard = kept + "\tfine\n";
  resicrypt::Button4Click(form);
  EXPECT_EQ(form.clipboard, kept + "\t" + cipher.E("secret1", "fine") + "\n");
  form.edit1 = kept;
  form.edit2 = "secret1";
  resicrypt::Label1Click(form);
  EXPECT_EQ(form.edit1, kept);
  EXPECT_EQ(form.messages,
            (std::vector<std::string>{
                "2 lines" + kTail + "their" + kEnd + " (first: line 2, \"abc\\xFF\")",
                "1 segment" + kTail + "its" + kEnd + " (\"abc\\xFF\")",
                "1 field" + kTail + "its" + kEnd}));
}

// The message shows the first unit kept in printable bytes: a byte outside 32..126
// and the backslash as \xHH, at most 24 bytes of it, and "..." when it is longer.
TEST(TextCommands, TheFirstUnitKeptIsShownInPrintableBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\\b ~\x7F\xFF", "a\\x5Cb ~\\x7F\\xFF"},
      {std::string(24, 'x'), std::string(24, 'x')},
      {std::string(25, 'x'), std::string(24, 'x') + "..."},
  };
  for (const auto& [text, shown] : cases) {
    resicrypt::KeptTexts kept("segment");
    kept.Add(3, text);
    kept.Add(5, "later");
    EXPECT_EQ(kept.Message(), "2 segments left unencrypted: a byte 255 near their end would not "
                              "come back from decryption (first: segment 3, \"" + shown + "\")");
  }
}

}  // namespace
