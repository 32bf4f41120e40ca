// The six text commands once each through the real window and the real clipboard
// (Windows only; the clipboard is shared, so these tests hold its lock).
#include <cstring>
#include <string>
#include <vector>

#include "tests/app/cipher_helpers.h"
#include "tests/ui/ui_test_support.h"

namespace resicrypt::testing {
namespace {

using C = ControlId;

// Puts CF_TEXT on the clipboard, or reads it back, independently of the window's
// own clipboard code.
void PutClipboardText(HWND owner, const std::string& text) {
  ASSERT_TRUE(OpenClipboard(owner));
  EmptyClipboard();
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
  GlobalUnlock(memory);
  SetClipboardData(CF_TEXT, memory);
  CloseClipboard();
}

std::string ClipboardText(HWND owner) {
  std::string text;
  if (!OpenClipboard(owner)) return "<clipboard not opened>";
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    text = static_cast<const char*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

// The window with the program's own commands and the system's dialogs.
class TextCommandsWindow : public FormTest {
 protected:
  void SetUp() override { Create(TForm1::Options{}); }

  textcmdtest::UnitCipher cipher;
};

TEST_F(TextCommandsWindow, ClipboardButtons) {
  const std::string key = "window key";
  Form().SetEdit1Text(key);
  Form().SetEdit2Text(key);
  Click(C::CheckBox1);  // Hide Password off: the memo gets the echo
  ASSERT_FALSE(Form().HidePassword());
  Click(C::RadioButton2);  // "Use Board"
  const std::vector<std::string> memoBefore = Form().MemoLines();

  const std::string plain = "ab\tcd\r\nxyz";
  PutClipboardText(Window(), plain);
  Click(C::Button4);
  EXPECT_EQ(ClipboardText(Window()),
            cipher.E(key, "ab") + "\t" + cipher.E(key, "cd") + "\r\n" + cipher.E(key, "xy") + "z");
  EXPECT_FALSE(HasClipboardFormat("CanIncludeInClipboardHistory"));

  Click(C::Button3);
  EXPECT_EQ(ClipboardText(Window()), plain);
  EXPECT_TRUE(HasClipboardFormat("CanIncludeInClipboardHistory"));
  EXPECT_TRUE(HasClipboardFormat("ExcludeClipboardContentFromMonitorProcessing"));

  std::vector<std::string> memo = memoBefore;
  for (const char* line : {"ab", "cd", "xy"}) memo.push_back(cipher.E(key, line));
  for (const char* line : {"ab", "cd", "xyz"}) memo.push_back(line);
  EXPECT_EQ(Form().MemoLines(), memo);
}

TEST_F(TextCommandsWindow, MemoButtonsAndPasswordLabels) {
  const std::string key = "memo key";
  Form().SetEdit1Text(key);
  Form().SetEdit2Text(key);
  Click(C::RadioButton3);  // "Use Memo"
  Form().SetMemoLines({"first line", "", "x"});
  Click(C::Button5);
  EXPECT_EQ(Form().MemoLines(),
            (std::vector<std::string>{cipher.E(key, "first line"), "", cipher.E(key, "x")}));
  Click(C::Button6);
  EXPECT_EQ(Form().MemoLines(), (std::vector<std::string>{"first line", "", "x"}));

  // The labels: key from Edit2, text in Edit1.
  Form().SetEdit1Text("label text");
  Command(C::Label1, STN_CLICKED);
  EXPECT_EQ(Form().Edit1Text(), cipher.E(key, "label text"));
  Command(C::Label2, STN_CLICKED);
  EXPECT_EQ(Form().Edit1Text(), "label text");
  EXPECT_EQ(Form().WorkingPassword(), key);
}

}  // namespace
}  // namespace resicrypt::testing
