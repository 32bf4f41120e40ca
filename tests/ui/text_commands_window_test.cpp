// The six text commands once each through the real window and the real clipboard
// (Windows only; the clipboard is shared, so these tests hold its lock).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/app/cipher_helpers.h"
#include "ui/alUnit23_win.h"

namespace {

using resicrypt::ControlId;
using resicrypt::TForm1;

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

bool ClipboardHasFormat(const char* name) {
  return IsClipboardFormatAvailable(RegisterClipboardFormatA(name)) != FALSE;
}

class TextCommandsWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    TForm1::Options options;
    options.endsMessageLoop = false;
    form = std::make_unique<TForm1>(options);
  }
  void Click(ControlId id) { SendMessageA(form->Control(id), BM_CLICK, 0, 0); }
  // The password labels are notifying statics: the window sees STN_CLICKED.
  void ClickLabel(ControlId id) {
    const HWND label = form->Control(id);
    SendMessageA(form->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(label), STN_CLICKED),
                 reinterpret_cast<LPARAM>(label));
  }

  std::unique_ptr<TForm1> form;
  textcmdtest::UnitCipher cipher;
};

TEST_F(TextCommandsWindow, ClipboardButtons) {
  const std::string key = "window key";
  form->SetEdit1Text(key);
  form->SetEdit2Text(key);
  Click(ControlId::CheckBox1);  // Hide Password off: the memo gets the echo
  ASSERT_FALSE(form->HidePassword());
  Click(ControlId::RadioButton2);  // "Use Board"
  const std::vector<std::string> memoBefore = form->MemoLines();

  const std::string plain = "ab\tcd\r\nxyz";
  PutClipboardText(form->Handle(), plain);
  Click(ControlId::Button4);
  EXPECT_EQ(ClipboardText(form->Handle()),
            cipher.E(key, "ab") + "\t" + cipher.E(key, "cd") + "\r\n" + cipher.E(key, "xy") + "z");
  EXPECT_FALSE(ClipboardHasFormat("CanIncludeInClipboardHistory"));

  Click(ControlId::Button3);
  EXPECT_EQ(ClipboardText(form->Handle()), plain);
  EXPECT_TRUE(ClipboardHasFormat("CanIncludeInClipboardHistory"));
  EXPECT_TRUE(ClipboardHasFormat("ExcludeClipboardContentFromMonitorProcessing"));

  std::vector<std::string> memo = memoBefore;
  for (const char* line : {"ab", "cd", "xy"}) memo.push_back(cipher.E(key, line));
  for (const char* line : {"ab", "cd", "xyz"}) memo.push_back(line);
  EXPECT_EQ(form->MemoLines(), memo);
}

TEST_F(TextCommandsWindow, MemoButtonsAndPasswordLabels) {
  const std::string key = "memo key";
  form->SetEdit1Text(key);
  form->SetEdit2Text(key);
  Click(ControlId::RadioButton3);  // "Use Memo"
  form->SetMemoLines({"first line", "", "x"});
  Click(ControlId::Button5);
  EXPECT_EQ(form->MemoLines(),
            (std::vector<std::string>{cipher.E(key, "first line"), "", cipher.E(key, "x")}));
  Click(ControlId::Button6);
  EXPECT_EQ(form->MemoLines(), (std::vector<std::string>{"first line", "", "x"}));

  // The labels: key from Edit2, text in Edit1.
  form->SetEdit1Text("label text");
  ClickLabel(ControlId::Label1);
  EXPECT_EQ(form->Edit1Text(), cipher.E(key, "label text"));
  ClickLabel(ControlId::Label2);
  EXPECT_EQ(form->Edit1Text(), "label text");
  EXPECT_EQ(form->WorkingPassword(), key);
}

}  // namespace
