// A file command runs on its own thread, so the window answers while it works.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/ui_test_support.h"

namespace resicrypt::testing {
namespace {

using C = ControlId;

using ResponsivenessTest = WiredFormTest;

// A large file's bytes: a count at every 4096th byte, zeros between.
std::string LargeContent(std::size_t mebibytes) {
  std::string bytes(mebibytes << 20, '\0');
  for (std::size_t k = 0; k < bytes.size(); k += 4096) bytes[k] = static_cast<char>(k >> 12);
  return bytes;
}

// The file command runs off the window's thread: a message sent to the window is
// answered throughout while 256 MiB are packed and unpacked. A window that waited
// for the command would answer once at most, after it; a busy machine makes every
// answer slower, and the command too. So no gap between answers may be half as
// long as the command, whatever the machine's pace.
TEST_F(ResponsivenessTest, TheWindowAnswersThroughoutALargeEncryptAndDecryptFile) {
  TempFolder folder;
  const std::string source = folder.Add("large.bin", LargeContent(256));
  // Neither output replaces a file: under Wine, renaming a large new file over an
  // old one, or deleting a large file, runs inside the Wine server (ext4 writes the
  // new file's blocks out at such a rename), and every window call waits for it.
  folder.Expect("large.yal");
  const std::string container = folder.Path() + "\\large.yal";
  const HWND window = Window();
  // Messages sent to the window from another thread for as long as the command runs.
  const auto expectAnsweredThroughout = [&](ControlId button) {
    std::atomic<bool> stop{false};
    std::vector<DWORD> answers;  // when each answer came
    std::thread pinger([&] {
      while (!stop) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result) != 0) {
          answers.push_back(GetTickCount());
        }
        Sleep(5);
      }
    });
    const DWORD begin = GetTickCount();
    Command(button);
    const DWORD end = GetTickCount();
    stop = true;
    pinger.join();
    DWORD last = begin, widestGap = 0;
    int during = 0;
    for (const DWORD at : answers) {
      if (at < begin || at > end) continue;
      widestGap = std::max(widestGap, at - last);
      last = at;
      ++during;
    }
    widestGap = std::max(widestGap, end - last);
    EXPECT_GT(during, 10) << "answers while the command ran";
    EXPECT_LT(widestGap, (end - begin) / 2) << "the command took " << end - begin << " ms";
  };
  dialogs_.openAnswers.push_back(std::vector<std::string>{source});
  dialogs_.saveAnswers.push_back(container);
  expectAnsweredThroughout(C::Button2);
  DeleteFileA(source.c_str());  // untimed, see above
  dialogs_.openAnswers.push_back(std::vector<std::string>{container});
  expectAnsweredThroughout(C::Button1);
  ASSERT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(TempFolder::Read(source) == LargeContent(256)) << "unpacked byte for byte";
}

// Closing the window or pressing Escape while a file command runs asks whether to
// stop it. Yes stops it as a failed run stops: an old container is kept byte for
// byte, a file being unpacked is not left behind, no temporary stays; a close then
// goes on to close. No lets it finish.
TEST_F(ResponsivenessTest, AFileCommandStopsWhenTheUserSaysSo) {
  TempFolder folder;
  const std::string bytes = LargeContent(300);
  const std::string source = folder.Add("large.bin", bytes);
  const std::string container = folder.Add("large.yal", "an older container");
  const auto stopWith = [&](C button, UINT stopMessage, bool yes) {
    dialogs_.openAnswers.push_back(
        std::vector<std::string>{button == C::Button2 ? source : container});
    dialogs_.saveAnswers.push_back(container);
    dialogs_.questionAnswers.push_back(yes);
    const HWND window = Window();
    StartCommand(button);
    if (stopMessage == WM_CLOSE) {
      SendMessageA(window, WM_CLOSE, 0, 0);
      PumpUntil([&] { return !IsWindow(window); });
      FormTest::TearDown();
      SetUp();
    } else {
      Form().PreTranslateMessage(MSG{Item(button), WM_KEYDOWN, VK_ESCAPE, 0, 0, {}});
      PumpUntil([this] { return !Form().Gate().Busy(); });
    }
  };
  stopWith(C::Button2, WM_KEYDOWN, true);
  EXPECT_EQ(TempFolder::Read(container), "an older container");
  EXPECT_EQ(ReportLine(Form(), ReportCount(Form()) - 1),
            "Stopped: " + container + " left as it was");
  stopWith(C::Button2, WM_CLOSE, false);
  DeleteFileA(source.c_str());
  stopWith(C::Button1, WM_KEYDOWN, true);
  EXPECT_EQ(TempFolder::Read(source), "<missing>");
  EXPECT_EQ(ReportLine(Form(), ReportCount(Form()) - 1),
            " Stopped: the file being unpacked was not kept");
  stopWith(C::Button1, WM_CLOSE, true);
  EXPECT_EQ(TempFolder::Read(source), "<missing>");
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((folder.Path() + "\\*").c_str(), &found);
  std::vector<std::string> names;
  do {
    names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "large.yal"})) << "no temporary left";
  ASSERT_EQ(dialogs_.questions.size(), 4u);
  EXPECT_EQ(dialogs_.questions[0].first, "A file command is running. Stop it?");
  stopWith(C::Button1, WM_CLOSE, false);  // No: the container made under No unpacks whole
  EXPECT_EQ(TempFolder::Read(source), bytes);
}

}  // namespace
}  // namespace resicrypt::testing
