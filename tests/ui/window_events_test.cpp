// Form1's handlers: modes, show all and hide all, the double clicks, Hide
// Password, the command routing through the cipher gate, and the form port.
#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/ui/ui_test_support.h"

namespace resicrypt::testing {
namespace {

using C = ControlId;

constexpr std::array<ControlId, 18> kEighteen{
    C::Memo1,   C::Button6,   C::Button5,  C::Button4,      C::Button3,      C::Button2,
    C::Button1, C::Edit1,     C::Edit2,    C::Label1,       C::Label2,       C::Label3,
    C::Label4,  C::CheckBox1, C::ListBox1, C::RadioButton1, C::RadioButton2, C::RadioButton3};

class EventsTest : public FormTest {
 protected:
  void SetUp() override { CreateWithScriptedDialogs(); }

  // Which of the mode-dependent controls are shown, in the order of the modes table.
  std::vector<bool> ModeControls() {
    std::vector<bool> shown;
    for (ControlId id : {C::Edit1, C::Edit2, C::Button2, C::Button1, C::Button4, C::Button3,
                         C::Button5, C::Button6, C::Memo1, C::ListBox1}) {
      shown.push_back(Shown(id));
    }
    return shown;
  }
};

TEST_F(EventsTest, EachModeShowsItsButtonsAndArea) {
  Click(C::RadioButton2);  // Use Board: the lower area is empty
  EXPECT_TRUE(Checked(C::RadioButton2));
  EXPECT_FALSE(Checked(C::RadioButton1));
  EXPECT_EQ(ModeControls(),
            (std::vector<bool>{true, true, false, false, true, true, false, false, false, false}));
  Click(C::RadioButton3);  // Use Memo
  EXPECT_EQ(ModeControls(),
            (std::vector<bool>{true, true, false, false, false, false, true, true, true, false}));
  Click(C::RadioButton1);  // Use File
  EXPECT_EQ(ModeControls(),
            (std::vector<bool>{true, true, true, true, false, false, false, false, false, true}));
  EXPECT_TRUE(Checked(C::RadioButton1));
  EXPECT_FALSE(Checked(C::RadioButton3));
}

TEST_F(EventsTest, ModesShowHiddenPasswordFieldsOnlyInFileMode) {
  ShowWindow(Item(C::Edit1), SW_HIDE);  // as after a refused container password
  Click(C::RadioButton2);
  EXPECT_FALSE(Shown(C::Edit1));
  Click(C::RadioButton1);
  EXPECT_TRUE(Shown(C::Edit1));
}

TEST_F(EventsTest, DoubleClickOnBackgroundShowsAllThenHidesAllAndEmpties) {
  Form().ShowProgress(ProgressBar::Files, true);
  Form().MemoAppend("second line");
  BackgroundClick();  // the first half of a double click is a click: show all
  for (ControlId id : kEighteen) EXPECT_TRUE(Shown(id)) << SpecOf(id).name;
  Press(Window(), kBackgroundX, kBackgroundY, WM_LBUTTONDBLCLK);
  for (ControlId id : kEighteen) EXPECT_FALSE(Shown(id)) << SpecOf(id).name;
  EXPECT_TRUE(Form().MemoLines().empty());
  EXPECT_EQ(TextOf(Item(C::Memo1)), "");
  EXPECT_EQ(ReportCount(Form()), 0);
  // The progress bars are not touched either way.
  EXPECT_TRUE(Shown(C::ProgressBar2));
  EXPECT_FALSE(Shown(C::ProgressBar1));
  // Keys no longer go into a hidden field.
  EXPECT_NE(GetFocus(), Item(C::Edit1));
}

TEST_F(EventsTest, ClickAfterHideAllShowsMemoInFrontOfListUntilAModeIsChosen) {
  BackgroundDoubleClick();
  BackgroundClick();
  for (ControlId id : kEighteen) EXPECT_TRUE(Shown(id)) << SpecOf(id).name;
  EXPECT_TRUE(Checked(C::RadioButton1)) << "the selection survives show all and hide all";
  const POINT middle{8 + 409 / 2, 160 + 241 / 2};
  EXPECT_EQ(ChildWindowFromPointEx(Window(), middle, CWP_SKIPINVISIBLE), Item(C::Memo1));
  // Choosing the mode that is already selected changes nothing.
  Click(C::RadioButton1);
  EXPECT_TRUE(Shown(C::Memo1));
  Click(C::RadioButton2);
  Click(C::RadioButton1);
  EXPECT_FALSE(Shown(C::Memo1));
  EXPECT_TRUE(Shown(C::ListBox1));
}

TEST_F(EventsTest, ClickWhoseReleaseIsOutsideTheWindowIsNoClick) {
  BackgroundDoubleClick();
  SendMessageA(Window(), WM_LBUTTONDOWN, MK_LBUTTON, At(kBackgroundX, kBackgroundY));
  SendMessageA(Window(), WM_LBUTTONUP, 0, At(-50, -50));
  EXPECT_FALSE(Shown(C::Edit1));
}

TEST_F(EventsTest, DoubleClicksEmptyTheListAndTheMemo) {
  Form().ReportAppend("another line");
  Press(Item(C::ListBox1), 20, 5);
  EXPECT_EQ(ReportCount(Form()), 2) << "a click on an item changes nothing";
  Press(Item(C::ListBox1), 20, 5, WM_LBUTTONDBLCLK);
  EXPECT_EQ(ReportCount(Form()), 0) << "the initial item goes too";

  Click(C::RadioButton3);
  Form().MemoAppend("typed");
  Press(Item(C::Memo1), 20, 5, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(Form().MemoLines().empty());
  EXPECT_TRUE(Shown(C::Memo1));
}

TEST_F(EventsTest, HidePasswordMasksAndUnmasksBothFields) {
  Click(C::CheckBox1);
  EXPECT_FALSE(Form().HidePassword());
  EXPECT_EQ(SendMessageA(Item(C::Edit1), EM_GETPASSWORDCHAR, 0, 0), 0);
  EXPECT_EQ(SendMessageA(Item(C::Edit2), EM_GETPASSWORDCHAR, 0, 0), 0);
  EXPECT_EQ(Form().Edit1Text(), "742");
  EXPECT_EQ(Form().Edit2Text(), "742");
  Click(C::CheckBox1);
  EXPECT_TRUE(Form().HidePassword());
  EXPECT_EQ(SendMessageA(Item(C::Edit1), EM_GETPASSWORDCHAR, 0, 0), '*');
  EXPECT_EQ(SendMessageA(Item(C::Edit2), EM_GETPASSWORDCHAR, 0, 0), '*');
  EXPECT_EQ(Form().Edit1Text(), "742") << "masking does not change the text";
}

TEST_F(EventsTest, DateLabelClickAndListSelectionChangeNothing) {
  const std::string date = TextOf(Item(C::Label3));
  Command(C::Label3, STN_CLICKED);
  Command(C::ListBox1, LBN_SELCHANGE);
  EXPECT_EQ(TextOf(Item(C::Label3)), date);
  EXPECT_EQ(ReportCount(Form()), 1);
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(EventsTest, LabelsTakeTheWidthOfANewCaption) {
  const RECT before = Place(C::Label3);
  Form().SetLabel3Caption("Connected and much longer than a date");
  Form().SetLabel4Caption("Call Connect");
  EXPECT_EQ(TextOf(Item(C::Label3)), "Connected and much longer than a date");
  EXPECT_EQ(TextOf(Item(C::Label4)), "Call Connect");
  const RECT after = Place(C::Label3);
  EXPECT_EQ(after.left, before.left);
  EXPECT_GT(after.right - after.left, before.right - before.left);
}

TEST_F(EventsTest, ReportListAppendsInArrivalOrderUnsorted) {
  Form().ReportAppend("zebra");
  Form().ReportAppend("apple");
  Form().ReportAppend("");
  ASSERT_EQ(ReportCount(Form()), 4);
  EXPECT_EQ(ReportLine(Form(), 1), "zebra");
  EXPECT_EQ(ReportLine(Form(), 2), "apple");
  EXPECT_EQ(ReportLine(Form(), 3), "");
  Form().ReportReplaceAll({"C:\\a.txt", "C:\\b.txt"});
  ASSERT_EQ(ReportCount(Form()), 2);
  EXPECT_EQ(ReportLine(Form(), 0), "C:\\a.txt");
  Form().ReportClear();
  EXPECT_EQ(ReportCount(Form()), 0);
}

TEST_F(EventsTest, MemoLinesFollowTheListOfLinesConvention) {
  SetWindowTextA(Item(C::Memo1), "");
  EXPECT_TRUE(Form().MemoLines().empty());
  Form().MemoAppend("one");
  Form().MemoAppend("");
  Form().MemoAppend("three");
  EXPECT_EQ(Form().MemoLines(), (std::vector<std::string>{"one", "", "three"}));
  EXPECT_EQ(TextOf(Item(C::Memo1)), "one\r\n\r\nthree\r\n");
  // Typed text without a final line break: the next line starts on a new line.
  SetWindowTextA(Item(C::Memo1), "a\r\nb");
  EXPECT_EQ(Form().MemoLines().size(), 2u);
  Form().MemoAppend("c");
  EXPECT_EQ(TextOf(Item(C::Memo1)), "a\r\nb\r\nc");
  Form().SetMemoLines({"x", "y"});
  EXPECT_EQ(Form().MemoLines(), (std::vector<std::string>{"x", "y"}));
}

TEST_F(EventsTest, ProgressBarsShowRangeAndPosition) {
  Form().ShowProgress(ProgressBar::Blocks, true);
  Form().SetProgressRange(ProgressBar::Blocks, 1, 1000);
  Form().SetProgressPosition(ProgressBar::Blocks, 250);
  EXPECT_TRUE(Shown(C::ProgressBar1));
  EXPECT_FALSE(Shown(C::ProgressBar2));
  PBRANGE range{};
  SendMessageA(Item(C::ProgressBar1), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 1);
  EXPECT_EQ(range.iHigh, 1000);
  EXPECT_EQ(SendMessageA(Item(C::ProgressBar1), PBM_GETPOS, 0, 0), 250);
  Form().SetProgressRange(ProgressBar::Files, 1, 1);  // one block: range 1 to 1
  Form().SetProgressPosition(ProgressBar::Files, 1);
  EXPECT_EQ(SendMessageA(Item(C::ProgressBar2), PBM_GETPOS, 0, 0), 1);
  Form().ShowProgress(ProgressBar::Blocks, false);
  EXPECT_FALSE(Shown(C::ProgressBar1));
}

// The positions a progress bar is given, as PBM_SETPOS reaches it.
class GivenPositions {
 public:
  explicit GivenPositions(HWND bar) : bar_(bar) {
    SetWindowSubclass(bar_, &Record, kId, reinterpret_cast<DWORD_PTR>(this));
  }
  ~GivenPositions() { RemoveWindowSubclass(bar_, &Record, kId); }
  GivenPositions(const GivenPositions&) = delete;
  GivenPositions& operator=(const GivenPositions&) = delete;

  std::vector<int> positions;

 private:
  static constexpr UINT_PTR kId = 77;
  static LRESULT CALLBACK Record(HWND bar, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR self) {
    if (message == PBM_SETPOS) {
      reinterpret_cast<GivenPositions*>(self)->positions.push_back(static_cast<int>(wParam));
    }
    return DefSubclassProc(bar, message, wParam, lParam);
  }
  HWND bar_;
};

// A frame longer than any test: every move after the first waits.
class PacedProgressTest : public FormTest {
 protected:
  void SetUp() override { CreatePaced(DefaultFormCommands()); }
  void CreatePaced(FormCommands commands) {
    TForm1::Options options;
    options.dialogs = &dialogs_;
    options.commands = std::move(commands);
    options.progressFrame = std::chrono::hours(1);
    Create(std::move(options));
  }
  int Position(ControlId bar) {
    return static_cast<int>(SendMessageA(Item(bar), PBM_GETPOS, 0, 0));
  }
};

// Encrypt File on 10 full blocks (password "742", L = 3) takes the window's turn
// before every block, Decrypt File before each of its 11 blocks. Encrypt File's
// first position is the bar's first and is given at once; Decrypt File's comes
// within the frame of Encrypt File's last. The last position of a file reaches the
// bar when the bar is hidden at the file's end.
TEST_F(PacedProgressTest, FileCommandsEndWithTheLastPositionOfTheFile) {
  TempFolder folder;
  const std::string source = folder.Add("note.txt", "Seven bytes and then some more.");
  const std::string container = folder.Add("box.yal");
  GivenPositions given(Item(C::ProgressBar1));
  dialogs_.openAnswers.push_back(std::vector<std::string>{source});
  dialogs_.saveAnswers.push_back(container);
  Command(C::Button2);
  ASSERT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(given.positions, (std::vector<int>{1, 10}));

  given.positions.clear();
  dialogs_.openAnswers.push_back(std::vector<std::string>{container});
  Command(C::Button1);
  ASSERT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(given.positions, (std::vector<int>{11}));
  EXPECT_EQ(TempFolder::Read(source), "Seven bytes and then some more.");
}

TEST_F(EventsTest, DialogsGoThroughTheProvider) {
  std::vector<std::string> files;
  dialogs_.openAnswers.push_back(std::vector<std::string>{"C:\\x\\a.txt", "C:\\x\\b.txt"});
  EXPECT_TRUE(Form().RunOpenDialog("*.*|*.yal", files));
  EXPECT_EQ(files.size(), 2u);
  Form().SetOpenDialogMultiSelect();
  EXPECT_FALSE(Form().RunOpenDialog("*.*|*.yal", files));  // nothing scripted: cancel
  ASSERT_EQ(dialogs_.openRuns.size(), 2u);
  EXPECT_FALSE(dialogs_.openRuns[0].multiSelect);
  EXPECT_TRUE(dialogs_.openRuns[1].multiSelect) << "the option stays on once set";
  std::string path;
  dialogs_.saveAnswers.push_back(std::string("C:\\x\\box.yal"));
  EXPECT_TRUE(Form().RunSaveDialog("yal", path));
  EXPECT_EQ(path, "C:\\x\\box.yal");
  EXPECT_EQ(dialogs_.saveExtensions, std::vector<std::string>{"yal"});
  Form().ShowMessage("hello");
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].first, "ui_window_tests") << "the executable's name";
}

// Commands that record when they run, and one file command whose body, on its own
// thread, posts events to the window and waits until the test lets it end.
class GateTest : public FormTest {
 protected:
  std::vector<std::string> log_;
  std::function<void()> fileBody_;
  std::promise<void> release_;
  std::atomic<bool> posted_{false};

  // A body still waiting must not keep the window from going.
  void TearDown() override {
    try {
      release_.set_value();
    } catch (const std::future_error&) {
    }
    FormTest::TearDown();
  }

  void SetUp() override {
    FormCommands commands;
    commands.button2Click = [this](FormPort&) -> CommandThread::Body {
      log_.push_back("encrypt file begins");
      return [this](FileCommandView&) {
        if (fileBody_) fileBody_();
        posted_ = true;
        release_.get_future().wait();
        log_.push_back("encrypt file ends");
      };
    };
    commands.button1Click = [this](FormPort&) -> CommandThread::Body {
      log_.push_back("decrypt file");
      return {};
    };
    commands.button4Click = [this](FormPort&) { log_.push_back("encrypt clipboard"); };
    commands.label1Click = [this](FormPort&) { log_.push_back("label1"); };
    commands.label2Click = [this](FormPort&) { log_.push_back("label2"); };
    CreateWithScriptedDialogs(std::move(commands));
  }
  void Post(ControlId id, int notification = BN_CLICKED) {
    PostMessageA(Window(), WM_COMMAND, MAKEWPARAM(CommandIdOf(id), notification),
                 reinterpret_cast<LPARAM>(Item(id)));
  }
};

TEST_F(GateTest, CommandsRunWhenNothingElseRuns) {
  Command(C::Label1, STN_CLICKED);
  Command(C::Label2, STN_CLICKED);
  Command(C::Button1);
  EXPECT_EQ(log_, (std::vector<std::string>{"label1", "label2", "decrypt file"}));
}

TEST_F(GateTest, CipherEventsWaitForTheRunningFileCommand) {
  fileBody_ = [&] {
    Post(C::Label1, STN_CLICKED);
    Post(C::Button1);
    Post(C::RadioButton2);
  };
  StartCommand(C::Button2);
  PumpUntil([&] { return Checked(C::RadioButton2); });  // a mode change does not wait
  Pump();
  EXPECT_TRUE(Form().Gate().Busy());
  EXPECT_EQ(log_, (std::vector<std::string>{"encrypt file begins"}));
  release_.set_value();
  PumpUntil([&] { return !Form().Gate().Busy(); });
  EXPECT_EQ(log_, (std::vector<std::string>{"encrypt file begins", "encrypt file ends", "label1",
                                            "decrypt file"}));
}

TEST_F(GateTest, ClosingWaitsForTheRunningFileCommand) {
  bool closedLink = false;
  Form().SetFormCloseAction([&] { closedLink = true; });
  fileBody_ = [&] { PostMessageA(Window(), WM_CLOSE, 0, 0); };
  const HWND window = Window();
  StartCommand(C::Button2);
  PumpUntil([&] { return posted_.load(); });
  Pump();
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(closedLink);
  release_.set_value();
  PumpUntil([&] { return !IsWindow(window); });
  EXPECT_TRUE(closedLink);
}

TEST_F(GateTest, ErrorOfAHandlerIsShownAndTheWindowStaysOpen) {
  FormTest::TearDown();
  FormCommands commands;
  commands.button4Click = [](FormPort&) { throw std::runtime_error("Clipboard is busy"); };
  commands.label1Click = [](FormPort& port) {
    port.ReportAppend("before the error");
    throw std::runtime_error("Stopped.");
  };
  CreateWithScriptedDialogs(std::move(commands));
  Command(C::Button4);
  Command(C::Label1, STN_CLICKED);
  ASSERT_EQ(dialogs_.errors.size(), 2u);
  EXPECT_EQ(dialogs_.errors[0].first, "ui_window_tests");
  EXPECT_EQ(dialogs_.errors[0].second, "Clipboard is busy.");
  EXPECT_EQ(dialogs_.errors[1].second, "Stopped.");
  EXPECT_TRUE(IsWindow(Window()));
  EXPECT_EQ(ReportLine(Form(), 1), "before the error") << "the state the handler left stays";
}

TEST_F(GateTest, CloseRunsFormCloseAndDestroysTheWindow) {
  int closes = 0;
  Form().SetFormCloseAction([&] { ++closes; });
  const HWND window = Window();
  Form().CloseWindow();
  Pump();
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(IsWindow(window));
}

using WiredCommandsTest = WiredFormTest;

TEST_F(WiredCommandsTest, PasswordLabelsEncryptAndDecryptEdit1) {
  Click(C::CheckBox1);  // echo into the report
  Form().SetEdit1Text("hello world");
  Command(C::Label1, STN_CLICKED);
  const std::string cipher = Form().Edit1Text();
  EXPECT_NE(cipher, "hello world");
  EXPECT_EQ(ReportLine(Form(), ReportCount(Form()) - 1), cipher);
  Command(C::Label2, STN_CLICKED);
  EXPECT_EQ(Form().Edit1Text(), "hello world");
  EXPECT_EQ(Form().WorkingPassword(), "742");
}

TEST_F(WiredCommandsTest, EncryptFileThenDecryptFileThroughTheWindow) {
  TempFolder folder;
  const std::string source = folder.Add("note.txt", "Seven bytes and then some more.");
  const std::string container = folder.Add("box.yal");
  dialogs_.openAnswers.push_back(std::vector<std::string>{source});
  dialogs_.saveAnswers.push_back(container);
  Command(C::Button2);
  ASSERT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(ReportLine(Form(), 0), source);
  EXPECT_FALSE(Shown(C::ProgressBar1));
  EXPECT_FALSE(Shown(C::ProgressBar2));

  DeleteFileA(source.c_str());
  dialogs_.openAnswers.push_back(std::vector<std::string>{container});
  Command(C::Button1);
  ASSERT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(TempFolder::Read(source), "Seven bytes and then some more.");
  ASSERT_EQ(dialogs_.openRuns.size(), 2u);
  EXPECT_TRUE(dialogs_.openRuns[1].multiSelect) << "Encrypt File left multi-select on";

  // A changed byte in the final block (31 bytes under "742": blocks of 3, the
  // 11th from byte 30): the report names the damaged record, note.txt is not
  // written, its bytes go to note.txt.damaged.
  DeleteFileA(source.c_str());
  std::string bytes = TempFolder::Read(container);
  bytes.back() = '\xFF';  // above every modulus
  folder.Add("box.yal", bytes);
  const std::string kept = folder.Add("note.txt.damaged");
  DeleteFileA(kept.c_str());
  dialogs_.openAnswers.push_back(std::vector<std::string>{container});
  Command(C::Button1);
  ASSERT_TRUE(dialogs_.messages.empty());
  ASSERT_EQ(ReportCount(Form()), 2);  // the container's path, then the record's line
  EXPECT_EQ(ReportLine(Form(), 1),
            " Record 1 damaged: 1 block failed its check, the first at byte 30, written as "
            "note.txt.damaged: note.txt");
  EXPECT_EQ(GetFileAttributesA(source.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(TempFolder::Read(kept).substr(0, 30), "Seven bytes and then some more");
}

}  // namespace
}  // namespace resicrypt::testing
