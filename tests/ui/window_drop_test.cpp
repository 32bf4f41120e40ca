// Files dragged from a file manager onto Form1: a drop runs Encrypt File or
// Decrypt File as the dialogs' choice would, in Use File mode only.
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/wide_names_win.h"

#include <shlobj.h>

namespace resicrypt::testing {
namespace {

using C = ControlId;

class DropTest : public WiredFormTest {
 protected:
  // The block a file manager hands over: DROPFILES, then the ANSI paths, each
  // ended by a NUL, and one more NUL. The window releases it (DragFinish).
  void SendDrop(const std::vector<std::string>& paths) { SendBlock(paths, false); }
  // A drop as Explorer gives it: the paths in UTF-16.
  void SendWideDrop(const std::vector<std::wstring>& paths) {
    std::string names;
    for (const std::wstring& path : paths) {
      names.append(reinterpret_cast<const char*>(path.c_str()), (path.size() + 1) * 2);
    }
    SendBlock({names}, true);
  }
  void SendBlock(const std::vector<std::string>& paths, bool wide) {
    std::string names;
    for (const std::string& path : paths) names += wide ? path : path + '\0';
    names.append(wide ? 2 : 1, '\0');
    const HGLOBAL block = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size());
    auto* files = static_cast<DROPFILES*>(GlobalLock(block));
    files->pFiles = sizeof(DROPFILES);
    files->fWide = wide;
    memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), names.data(), names.size());
    GlobalUnlock(block);
    SendMessageA(Window(), WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
  }
  void Drop(const std::vector<std::string>& paths) {
    SendDrop(paths);
    PumpUntil([this] { return !Form().Gate().Busy(); });
  }
  bool AcceptsFiles() {
    return (GetWindowLongPtrA(Window(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
  }
};

TEST_F(DropTest, TwoFilesArePackedAndADroppedContainerUnpacked) {
  ASSERT_TRUE(AcceptsFiles());
  TempFolder folder;
  const std::string a = folder.Add("a.txt", "Seven bytes and then some more.");
  const std::string b = folder.Add("b.txt", "twelve bytes");
  const std::string container = folder.Add("BOX.YAL");
  dialogs_.saveAnswers.push_back(container);
  Drop({b, a});
  ASSERT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.openRuns.empty()) << "the drop takes the open dialog's place";
  EXPECT_EQ(dialogs_.saveFolders, std::vector<std::string>{folder.Path() + "\\"});
  ASSERT_EQ(ReportCount(Form()), 2 + 4 + 4);
  EXPECT_EQ(ReportLine(Form(), 0), b);  // the drop's order
  EXPECT_EQ(ReportLine(Form(), 1), a);
  EXPECT_EQ(ReportLine(Form(), 2), "File Byte Amount = 12");
  EXPECT_EQ(ReportLine(Form(), 6), "File Byte Amount = 31");

  DeleteFileA(a.c_str());
  DeleteFileA(b.c_str());
  Drop({container});  // one container, its extension in capitals
  ASSERT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(TempFolder::Read(a), "Seven bytes and then some more.");
  EXPECT_EQ(TempFolder::Read(b), "twelve bytes");
  EXPECT_EQ(dialogs_.saveFolders.size(), 1u);
}

TEST_F(DropTest, RefusedDropsRunNothing) {
  TempFolder folder;
  const std::string a = folder.Add("a.txt", "alpha");
  const std::vector<std::string> report = {ReportLine(Form(), 0)};
  // In Use Memo mode the window takes no files; a drop that comes anyway is let go.
  Click(C::RadioButton3);
  EXPECT_FALSE(AcceptsFiles());
  Drop({a});
  Click(C::RadioButton1);
  EXPECT_TRUE(AcceptsFiles());
  // A folder among the files.
  Drop({a, folder.Path()});
  // A password of two characters gets Encrypt File's own message.
  Form().SetEdit1Text("ab");
  Form().SetEdit2Text("ab");
  Drop({a});
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_EQ(dialogs_.messages[0].second, folder.Path() + " is a folder; drop files");
  EXPECT_EQ(dialogs_.messages[1].second,
            "Password 1 and Password 2 must equal or small than three ");
  EXPECT_TRUE(dialogs_.saveExtensions.empty());
  EXPECT_EQ(ReportCount(Form()), 1);
  EXPECT_EQ(ReportLine(Form(), 0), report[0]);
}

// Files whose records could not all be unpacked again beside each other, or a
// container saved onto a dropped file: one message naming the files, nothing written.
TEST_F(DropTest, FilesThatCouldNotComeBackAreRefusedBeforeAnythingIsWritten) {
  TempFolder folder;
  const std::string a = folder.Add("a.txt", "alpha");
  const std::string other = folder.Path() + "\\d2\\A.TXT";
  dialogs_.saveAnswers.push_back(folder.Path() + "\\box.yal");
  Drop({a, other});
  dialogs_.saveAnswers.push_back(a);
  Drop({a});
  EXPECT_EQ(dialogs_.messages.at(0).second,
            other + " has the same name as " + a + "; pack them into two containers");
  EXPECT_EQ(dialogs_.messages.at(1).second,
            a + " is the container itself; save the container under another name");
  EXPECT_EQ(TempFolder::Read(folder.Path() + "\\box.yal") + TempFolder::Read(a), "<missing>alpha");
}

// Encrypt File opens every source before it writes: one over 2147483647 bytes
// (sparse) stops it with "Read File not Open " and why, and the container that
// stood at the chosen name stays as it was.
TEST_F(DropTest, ASourceTooLargeStopsEncryptFileBeforeAnythingIsWritten) {
  TempFolder folder;
  const std::string a = folder.Add("a.txt", "alpha");
  const std::string huge = folder.Add("huge.bin");
  std::filesystem::resize_file(huge, std::uintmax_t{1} << 31);
  const std::string container = folder.Add("box.yal", "earlier container");
  dialogs_.saveAnswers.push_back(container);
  Drop({a, huge});
  ASSERT_EQ(ReportCount(Form()), 5);
  EXPECT_EQ(ReportLine(Form(), 2), "Read File not Open ");
  EXPECT_EQ(ReportLine(Form(), 3), "File larger than 2147483647 bytes: " + huge);
  EXPECT_EQ(ReportLine(Form(), 4), "Container kept as it was: " + container);
  EXPECT_EQ(TempFolder::Read(container), "earlier container");
}

TEST_F(DropTest, ADropDuringAFileCommandWaitsForIt) {
  FormTest::TearDown();
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  TForm1::Options options;
  options.dialogs = &dialogs_;
  options.commands.button2Click = [released](FormPort& form) -> CommandThread::Body {
    form.ReportAppend("running");
    return [released](FileCommandView&) { released.wait(); };
  };
  Create(std::move(options));
  TempFolder folder;
  const std::string a = folder.Add("a.txt", "alpha");
  dialogs_.saveAnswers.push_back(folder.Add("a.yal"));
  StartCommand(C::Button2);
  SendDrop({a});
  Pump();
  EXPECT_TRUE(dialogs_.saveExtensions.empty()) << "the drop waits";
  release.set_value();
  PumpUntil([this] { return dialogs_.saveExtensions.size() == 1 && !Form().Gate().Busy(); });
  EXPECT_EQ(ReportLine(Form(), 0), a);
  EXPECT_EQ(ReportLine(Form(), 1), "File Byte Amount = 5");
}

// Names outside the ANSI code page cannot be stored in a container: refused by
// name before anything is written. Names inside it work as any other.
TEST_F(DropTest, WideNamesOutsideTheCodePageAreRefusedByName) {
  TempFolder folder;
  const std::wstring wideFolder = WidePath(folder.Path());
  const std::wstring japanese = wideFolder + L"\\\u65E5\u672C\u8A9E.txt";
  const std::string latin = folder.Add(
      "\xDCn\xEF"
      "c\xF6"
      "d\xE9.txt",
      "umlauts");  // in code page 1252
  CloseHandle(CreateFileW(japanese.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  SendWideDrop({WidePath(latin), japanese});
  PumpUntil([this] { return !Form().Gate().Busy(); });
  ASSERT_EQ(dialogs_.wideMessages.size(), 1u);
  EXPECT_EQ(dialogs_.wideMessages[0],
            japanese + L" cannot be used: its name has characters outside the system's code page");
  EXPECT_TRUE(dialogs_.saveExtensions.empty()) << "nothing is asked, nothing written";
  Form().HoldFiles({japanese});
  EXPECT_EQ(dialogs_.wideMessages.size(), 2u);
  DeleteFileW(japanese.c_str());

  const std::string container = folder.Add("u.yal");
  dialogs_.saveAnswers.push_back(container);
  SendWideDrop({WidePath(latin)});
  PumpUntil([this] { return !Form().Gate().Busy(); });
  DeleteFileA(latin.c_str());
  Drop({container});
  EXPECT_EQ(TempFolder::Read(latin), "umlauts");
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(DropTest, EnterPressesTheFocusedButton) {
  for (C button : {C::Button1, C::Button2}) {
    SetFocus(Item(button));
    MSG enter{Item(button), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
    const std::size_t before = dialogs_.openRuns.size();
    EXPECT_TRUE(Form().PreTranslateMessage(enter));
    PumpUntil([this] { return !Form().Gate().Busy(); });
    EXPECT_EQ(dialogs_.openRuns.size(), before + 1) << "the button's open dialog";
  }
  SetFocus(Item(C::Edit1));
  MSG enter{Item(C::Edit1), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
  EXPECT_FALSE(Form().PreTranslateMessage(enter)) << "a field keeps its Enter";
}

// The system's message box runs its own message loop inside the command; once it
// is answered, the window takes a click and a close again.
TEST_F(DropTest, AfterTheBoxOfAContainerOfAnotherPasswordLengthTheWindowTakesClicksAndAClose) {
  TempFolder folder;
  const std::string a = folder.Add("a.txt", "alpha");
  const std::string container = folder.Add("a.yal");
  Form().SetEdit1Text("secret");
  Form().SetEdit2Text("secret");
  dialogs_.saveAnswers.push_back(container);
  Drop({a});
  FormTest::TearDown();
  Create(TForm1::Options{});  // both fields hold "742" again
  ModalDriver driver;
  driver.Answer(IDOK);
  Drop({container});
  ASSERT_EQ(driver.seen.size(), 1u);
  EXPECT_EQ(driver.seen[0].text, " Password's length is wrong.");
  Command(C::Label1, STN_CLICKED);
  EXPECT_NE(Form().Edit1Text(), "742") << "Password1 encrypted the field";
  const HWND window = Window();
  PostMessageA(window, WM_CLOSE, 0, 0);
  PumpUntil([&] { return !IsWindow(window); });
}

}  // namespace
}  // namespace resicrypt::testing
