// The clipboard through the form port: plain 8-bit text in and out, and the marks
// that keep a private text out of clipboard history and monitors.
#include <cstring>
#include <string>
#include <thread>

#include "tests/ui/ui_test_support.h"

namespace resicrypt::testing {
namespace {

class ClipboardTest : public FormTest {
 protected:
  void SetUp() override { CreateWithScriptedDialogs(); }

  static DWORD WordOf(const char* name) {
    DWORD value = 0xFFFFFFFF;
    if (OpenClipboard(nullptr)) {
      HANDLE data = GetClipboardData(RegisterClipboardFormatA(name));
      if (data != nullptr) {
        if (const void* bytes = GlobalLock(data)) {
          std::memcpy(&value, bytes, sizeof value);
          GlobalUnlock(data);
        }
      }
      CloseClipboard();
    }
    return value;
  }
};

TEST_F(ClipboardTest, EveryByteFrom1To255RoundTrips) {
  std::string text;
  for (int byte = 1; byte <= 255; ++byte) text.push_back(static_cast<char>(byte));
  ASSERT_TRUE(Form().WriteClipboardText(text, false));
  std::string back;
  ASSERT_TRUE(Form().ReadClipboardText(back));
  EXPECT_EQ(back, text);
}

TEST_F(ClipboardTest, ClipboardWithoutTextReadsAsEmpty) {
  ASSERT_TRUE(OpenClipboard(Window()));
  EmptyClipboard();
  CloseClipboard();
  std::string back = "old";
  ASSERT_TRUE(Form().ReadClipboardText(back));
  EXPECT_EQ(back, "");
  ASSERT_TRUE(Form().WriteClipboardText("", false));
  ASSERT_TRUE(Form().ReadClipboardText(back));
  EXPECT_EQ(back, "");
}

TEST_F(ClipboardTest, PrivateTextIsMarkedAndAPublicOneIsNot) {
  ASSERT_TRUE(Form().WriteClipboardText("plain text", true));
  EXPECT_TRUE(HasClipboardFormat("ExcludeClipboardContentFromMonitorProcessing"));
  EXPECT_TRUE(HasClipboardFormat("CanIncludeInClipboardHistory"));
  EXPECT_TRUE(HasClipboardFormat("CanUploadToCloudClipboard"));
  EXPECT_EQ(WordOf("CanIncludeInClipboardHistory"), 0u);
  EXPECT_EQ(WordOf("CanUploadToCloudClipboard"), 0u);
  std::string back;
  ASSERT_TRUE(Form().ReadClipboardText(back));
  EXPECT_EQ(back, "plain text");

  ASSERT_TRUE(Form().WriteClipboardText("cipher text", false));
  EXPECT_FALSE(HasClipboardFormat("CanIncludeInClipboardHistory"));
  EXPECT_FALSE(HasClipboardFormat("ExcludeClipboardContentFromMonitorProcessing"));
}

TEST_F(ClipboardTest, ClipboardHeldElsewhereIsReportedAndLeftAlone) {
  ASSERT_TRUE(Form().WriteClipboardText("kept", false));
  HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread holder([&] {
    HWND owner =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    const BOOL opened = OpenClipboard(owner);
    SetEvent(held);
    WaitForSingleObject(release, 10000);
    if (opened) CloseClipboard();
    DestroyWindow(owner);
  });
  WaitForSingleObject(held, 10000);
  std::string back = "unchanged";
  EXPECT_FALSE(Form().ReadClipboardText(back));
  EXPECT_EQ(back, "unchanged");
  EXPECT_FALSE(Form().WriteClipboardText("lost", false));
  SetEvent(release);
  holder.join();
  CloseHandle(held);
  CloseHandle(release);
  ASSERT_TRUE(Form().ReadClipboardText(back));
  EXPECT_EQ(back, "kept");
}

}  // namespace
}  // namespace resicrypt::testing
