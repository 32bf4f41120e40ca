// A file command runs on its own thread, so the window answers while it works.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/ui_test_support.h"

namespace resicrypt::testing {
namespace {

using C = ControlId;

using ResponsivenessTest = WiredFormTest;

// The file command runs off the window's thread: a message sent to the window is
// answered promptly while 256 MiB are packed and unpacked.
TEST_F(ResponsivenessTest, TheWindowAnswersThroughoutALargeEncryptAndDecryptFile) {
  TempFolder folder;
  std::string bytes(std::size_t{256} << 20, '\0');
  for (std::size_t k = 0; k < bytes.size(); k += 4096) bytes[k] = static_cast<char>(k >> 12);
  const std::string source = folder.Add("large.bin", bytes);
  bytes.clear();
  bytes.shrink_to_fit();
  // Neither output replaces a file: under Wine, renaming a large new file over an
  // old one, or deleting a large file, runs inside the Wine server (ext4 writes the
  // new file's blocks out at such a rename), and every window call waits for it.
  folder.Expect("large.yal");
  const std::string container = folder.Path() + "\\large.yal";
  std::atomic<DWORD> slowest{0};
  std::atomic<int> answered{0};
  const HWND window = Window();
  // Messages sent to the window from another thread for as long as the command runs.
  const auto whileAnswered = [&](ControlId button) {
    std::atomic<bool> stop{false};
    std::thread pinger([&] {
      while (!stop) {
        const DWORD start = GetTickCount();
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        const DWORD took = GetTickCount() - start;
        if (took > slowest) slowest = took;
        ++answered;
        Sleep(5);
      }
    });
    Command(button);
    stop = true;
    pinger.join();
  };
  dialogs_.openAnswers.push_back(std::vector<std::string>{source});
  dialogs_.saveAnswers.push_back(container);
  whileAnswered(C::Button2);
  DeleteFileA(source.c_str());  // untimed, see above
  dialogs_.openAnswers.push_back(std::vector<std::string>{container});
  whileAnswered(C::Button1);
  ASSERT_TRUE(dialogs_.messages.empty());
  const std::string unpacked = TempFolder::Read(source);
  ASSERT_EQ(unpacked.size(), std::size_t{256} << 20);
  for (std::size_t k = 0; k < unpacked.size(); k += 4096) {
    ASSERT_EQ(unpacked[k], static_cast<char>(k >> 12)) << k;
    ASSERT_EQ(unpacked[k + 1], '\0') << k;
  }
  EXPECT_GT(answered.load(), 10);
  EXPECT_LT(slowest.load(), 100u);
}

}  // namespace
}  // namespace resicrypt::testing
