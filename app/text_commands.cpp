#include "app/text_commands.h"

#include <iterator>
#include <string>
#include <vector>

#include "engine/text_cipher.h"
#include "app/clipboard_text.h"
#include "app/text_loss.h"

namespace resicrypt {

namespace {

// The window's messages, word for word; the trailing blanks differ per command
// and are part of the texts.
constexpr const char* kEncryptPasswordsDiffer = "Password 1 and Password 2 must equal";
constexpr const char* kDecryptClipboardPasswordsDiffer = "Password 1 and Password 2 must equal ";
constexpr const char* kDecryptMemoPasswordsDiffer = "Password 1 and Password 2 must equal  ";
constexpr const char* kKeyTooShort = "Password 1 and Password 2 must equal or small than three ";
constexpr const char* kCipherKeyTooShort = " Give cipher length equel  3 or big ";
constexpr const char* kClipboardNotOpened = "Clipboard could not be opened";

// Encrypt Memo enciphers at most this many characters of a line.
constexpr std::size_t kMemoLineLimit = 255;

// Stores the key in WorkingPassword, cut to 17 characters. A shorter key stays
// there too, as the window has always left it; it is refused with the message.
bool TakeKey(FormPort& form, const std::string& keyText, const char* tooShortMessage) {
  std::string& key = form.WorkingPassword();
  key = TextKey::UsedPart(keyText);
  if (!TextKey::From(key)) {
    form.ShowMessage(tooShortMessage);
    return false;
  }
  return true;
}

// The button commands' check: both fields must hold the same whole text (compared
// before the cut), and Edit1 gives the key.
bool TakeMatchingKey(FormPort& form, const char* differMessage) {
  const std::string password1 = form.Edit2Text();
  const std::string password2 = form.Edit1Text();
  if (password1 != password2) {
    form.ShowMessage(differMessage);
    return false;
  }
  return TakeKey(form, password2, kKeyTooShort);
}

// The clipboard is read once and written once, with the whole new text, so a
// failure leaves it as it was. Plain text from Decrypt Clipboard is marked
// private, which keeps it out of clipboard history and monitors.
void RunClipboardCommand(FormPort& form, CipherDirection direction, const char* differMessage) {
  if (!TakeMatchingKey(form, differMessage)) {
    return;
  }
  std::string text;
  if (!form.ReadClipboardText(text)) {
    form.ShowMessage(kClipboardNotOpened);
    return;
  }
  const bool echo = !form.HidePassword();
  ClipboardRebuild rebuilt = RebuildClipboardText(form.Workspace(), form.Alphabet(),
                                                  form.WorkingPassword(), text, direction, echo);
  const bool privateText = direction == CipherDirection::kDecrypt;
  if (!form.WriteClipboardText(rebuilt.text, privateText)) {
    form.ShowMessage(kClipboardNotOpened);
    return;
  }
  if (echo && !rebuilt.echoLines.empty()) {
    // Memo lines are added in one rewrite of the memo: appending a long run of
    // lines one by one to an edit control costs time quadratic in their number.
    std::vector<std::string> memo = form.MemoLines();
    memo.insert(memo.end(), std::make_move_iterator(rebuilt.echoLines.begin()),
                std::make_move_iterator(rebuilt.echoLines.end()));
    form.SetMemoLines(memo);
  }
  if (rebuilt.kept.Count() > 0) form.ShowMessage(rebuilt.kept.Message());
}

// Every line goes through the cipher in place, whatever it holds; the memo is
// read and rewritten once, so its number of lines is taken once and kept.
void RunMemoCommand(FormPort& form, CipherDirection direction, const char* differMessage) {
  if (!TakeMatchingKey(form, differMessage)) {
    return;
  }
  std::vector<std::string> lines = form.MemoLines();
  if (lines.empty()) {
    return;
  }
  const TextCipher cipher(form.Workspace(), form.Alphabet(), form.WorkingPassword());
  KeptTexts kept("line");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string& line = lines[i];
    if (direction == CipherDirection::kDecrypt) {
      line = cipher.Decrypt(line);
      continue;
    }
    const std::string_view text = std::string_view(line).substr(0, kMemoLineLimit);
    // A line that would not come back stays as it was, uncut.
    if (ComesBack(cipher, text)) {
      line = cipher.Encrypt(text);
    } else {
      kept.Add(i + 1, line);
    }
  }
  form.SetMemoLines(lines);
  if (kept.Count() > 0) form.ShowMessage(kept.Message());
}

// Edit2 holds the key and Edit1 the text; the fields are not compared.
void RunLabelCommand(FormPort& form, CipherDirection direction, const char* tooShortMessage) {
  const std::string text = form.Edit1Text();
  if (!TakeKey(form, form.Edit2Text(), tooShortMessage)) {
    return;
  }
  const TextCipher cipher(form.Workspace(), form.Alphabet(), form.WorkingPassword());
  if (direction == CipherDirection::kEncrypt && !ComesBack(cipher, text)) {
    // The field keeps its text, which a masked field does not show in the box either.
    KeptTexts kept("field");
    kept.Add(0, text);
    form.ShowMessage(kept.Message(false));
    return;
  }
  const std::string result =
      direction == CipherDirection::kEncrypt ? cipher.Encrypt(text) : cipher.Decrypt(text);
  if (!form.HidePassword()) {
    form.ReportAppend(result);
  }
  form.SetEdit1Text(result);
}

}  // namespace

void Button4Click(FormPort& form) {
  RunClipboardCommand(form, CipherDirection::kEncrypt, kEncryptPasswordsDiffer);
}

void Button3Click(FormPort& form) {
  RunClipboardCommand(form, CipherDirection::kDecrypt, kDecryptClipboardPasswordsDiffer);
}

void Button5Click(FormPort& form) {
  RunMemoCommand(form, CipherDirection::kEncrypt, kEncryptPasswordsDiffer);
}

void Button6Click(FormPort& form) {
  RunMemoCommand(form, CipherDirection::kDecrypt, kDecryptMemoPasswordsDiffer);
}

void Label1Click(FormPort& form) { RunLabelCommand(form, CipherDirection::kEncrypt, kKeyTooShort); }

void Label2Click(FormPort& form) {
  RunLabelCommand(form, CipherDirection::kDecrypt, kCipherKeyTooShort);
}

}  // namespace resicrypt
