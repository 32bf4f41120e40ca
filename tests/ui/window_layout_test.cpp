// Form1 right after start-up: the window, every control's place, look and state.
#include <algorithm>
#include <array>
#include <string>

#include "tests/ui/ui_test_support.h"

namespace resicrypt::testing {
namespace {

using C = ControlId;

class StartUpTest : public FormTest {
 protected:
  void SetUp() override { CreateWithScriptedDialogs(); }

  LOGFONTA FontOf(ControlId id) {
    LOGFONTA font{};
    const auto handle = reinterpret_cast<HFONT>(SendMessageA(Item(id), WM_GETFONT, 0, 0));
    GetObjectA(handle, sizeof font, &font);
    return font;
  }

  // The colours the window hands a control when it paints.
  std::pair<COLORREF, COLORREF> ColoursOf(ControlId id, UINT message) {
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageA(Window(), message, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(Item(id)));
    const std::pair<COLORREF, COLORREF> colours{GetTextColor(dc), GetBkColor(dc)};
    DeleteDC(dc);
    return colours;
  }
};

TEST_F(StartUpTest, ScreenIs96DpiUnderTheTestDisplay) {
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(Form().Dpi(), 96);
}

TEST_F(StartUpTest, WindowFrameCaptionAndBackground) {
  RECT outer{};
  GetWindowRect(Window(), &outer);
  EXPECT_EQ(outer.left, 3);
  EXPECT_EQ(outer.top, 115);
  EXPECT_EQ(outer.right - outer.left, 444);
  EXPECT_EQ(outer.bottom - outer.top, 505);

  const std::string caption = TextOf(Window());
  EXPECT_NE(caption.find("Resicrypt"), std::string::npos);
  ASSERT_GE(caption.size(), 6u);
  EXPECT_EQ(caption.substr(caption.size() - 6), " V3.01");

  const LONG_PTR style = GetWindowLongPtrA(Window(), GWL_STYLE);
  EXPECT_NE(style & WS_THICKFRAME, 0) << "resizable border";
  EXPECT_NE(style & WS_SYSMENU, 0);
  EXPECT_NE(style & WS_MINIMIZEBOX, 0);
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
  EXPECT_NE(GetClassLongPtrA(Window(), GCL_STYLE) & CS_DBLCLKS, 0u);

  char className[32] = {};
  GetClassNameA(Window(), className, static_cast<int>(sizeof className));
  EXPECT_STREQ(className, "TForm1");
  EXPECT_EQ(GetClassLongPtrA(Window(), GCLP_HBRBACKGROUND),
            static_cast<ULONG_PTR>(COLOR_INFOBK + 1));
}

TEST_F(StartUpTest, ControlsSitWhereTheLayoutPutsThem) {
  struct Place96 {
    ControlId id;
    int left, top, width, height;
  };
  // Labels take the width of their caption, so only their corner is fixed.
  const std::array<Place96, 16> boxes{{
      {C::CheckBox1, 8, 0, 97, 17},
      {C::RadioButton1, 8, 24, 129, 17},
      {C::Button2, 120, 24, 145, 17},
      {C::Button1, 272, 24, 145, 17},
      {C::RadioButton2, 8, 48, 113, 17},
      {C::Button4, 120, 48, 145, 17},
      {C::Button3, 272, 48, 145, 17},
      {C::RadioButton3, 8, 72, 105, 17},
      {C::Button5, 120, 72, 145, 17},
      {C::Button6, 272, 72, 145, 17},
      {C::Edit2, 120, 96, 297, 21},
      {C::Edit1, 120, 128, 297, 21},
      {C::ListBox1, 8, 160, 409, 241},
      {C::Memo1, 8, 160, 409, 241},
      {C::ProgressBar1, 8, 408, 401, 17},
      {C::ProgressBar2, 8, 432, 401, 17},
  }};
  for (const Place96& box : boxes) {
    const RECT at = Place(box.id);
    EXPECT_EQ(at.left, box.left) << SpecOf(box.id).name;
    EXPECT_EQ(at.top, box.top) << SpecOf(box.id).name;
    EXPECT_EQ(at.right - at.left, box.width) << SpecOf(box.id).name;
    EXPECT_EQ(at.bottom - at.top, box.height) << SpecOf(box.id).name;
  }
  const std::array<Place96, 4> labels{{
      {C::Label3, 120, 8, 0, 0},
      {C::Label4, 272, 8, 0, 0},
      {C::Label1, 16, 96, 0, 0},
      {C::Label2, 16, 128, 0, 0},
  }};
  for (const Place96& label : labels) {
    const RECT at = Place(label.id);
    EXPECT_EQ(at.left, label.left) << SpecOf(label.id).name;
    EXPECT_EQ(at.top, label.top) << SpecOf(label.id).name;
    // The label is as wide as its caption in its own font.
    HDC dc = GetDC(Item(label.id));
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(Item(label.id), WM_GETFONT, 0, 0)));
    const std::string caption = TextOf(Item(label.id));
    SIZE size{};
    GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(Item(label.id), dc);
    EXPECT_EQ(at.right - at.left, size.cx) << SpecOf(label.id).name;
  }
}

TEST_F(StartUpTest, CaptionsAndInitialContent) {
  EXPECT_EQ(TextOf(Item(C::CheckBox1)), "Hide Password");
  EXPECT_EQ(TextOf(Item(C::RadioButton1)), "Use File");
  EXPECT_EQ(TextOf(Item(C::RadioButton2)), "Use Board");
  EXPECT_EQ(TextOf(Item(C::RadioButton3)), "Use Memo");
  EXPECT_EQ(TextOf(Item(C::Button2)), "Encrypt  File");
  EXPECT_EQ(TextOf(Item(C::Button1)), "Decrypt  File");
  EXPECT_EQ(TextOf(Item(C::Button4)), "Encrypt  Clipboard");
  EXPECT_EQ(TextOf(Item(C::Button3)), "Decrypt  Clipboard");
  EXPECT_EQ(TextOf(Item(C::Button5)), "Encrypt  Memo");
  EXPECT_EQ(TextOf(Item(C::Button6)), "Decrypt  Memo");
  EXPECT_EQ(TextOf(Item(C::Label1)), "Password1");
  EXPECT_EQ(TextOf(Item(C::Label2)), "Password2");
  EXPECT_EQ(TextOf(Item(C::Edit1)), "742");
  EXPECT_EQ(TextOf(Item(C::Edit2)), "742");

  ASSERT_EQ(SendMessageA(Item(C::ListBox1), LB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(ReportLine(Form(), 0), "View  Encrypt File the Report  or Decrypt  File the Report");
  EXPECT_EQ(Form().MemoLines(),
            std::vector<std::string>{" Write here data for Encrypt or Decrypt"});
  char line[128] = {};
  *reinterpret_cast<WORD*>(line) = sizeof line - 1;
  const LRESULT length =
      SendMessageA(Item(C::Memo1), EM_GETLINE, 0, reinterpret_cast<LPARAM>(line));
  EXPECT_EQ(std::string(line, static_cast<std::size_t>(length)),
            " Write here data for Encrypt or Decrypt");
}

TEST_F(StartUpTest, DateAndTimeLabelsShowTheStart) {
  char date[128] = {};
  GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof date);
  EXPECT_EQ(TextOf(Item(C::Label3)), date);
  // The time was taken while the window was made, a moment ago.
  SYSTEMTIME now{};
  GetLocalTime(&now);
  FILETIME nowFile{};
  SystemTimeToFileTime(&now, &nowFile);
  bool matched = false;
  for (int secondsAgo = 0; secondsAgo <= 10 && !matched; ++secondsAgo) {
    ULARGE_INTEGER ticks{};
    ticks.LowPart = nowFile.dwLowDateTime;
    ticks.HighPart = nowFile.dwHighDateTime;
    ticks.QuadPart -= static_cast<ULONGLONG>(secondsAgo) * 10000000ull;
    FILETIME thenFile{ticks.LowPart, ticks.HighPart};
    SYSTEMTIME then{};
    FileTimeToSystemTime(&thenFile, &then);
    char time[128] = {};
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &then, nullptr, time, sizeof time);
    matched = TextOf(Item(C::Label4)) == time;
  }
  EXPECT_TRUE(matched) << TextOf(Item(C::Label4));
}

TEST_F(StartUpTest, VisibleCheckedAndMasked) {
  for (ControlId id :
       {C::CheckBox1, C::Label3, C::Label4, C::RadioButton1, C::Button2, C::Button1,
        C::RadioButton2, C::RadioButton3, C::Label1, C::Edit2, C::Label2, C::Edit1, C::ListBox1}) {
    EXPECT_TRUE(Shown(id)) << SpecOf(id).name;
  }
  for (ControlId id : {C::Button4, C::Button3, C::Button5, C::Button6, C::Memo1, C::ProgressBar1,
                       C::ProgressBar2}) {
    EXPECT_FALSE(Shown(id)) << SpecOf(id).name;
  }
  EXPECT_TRUE(Checked(C::CheckBox1));
  EXPECT_TRUE(Form().HidePassword());
  EXPECT_TRUE(Checked(C::RadioButton1));
  EXPECT_FALSE(Checked(C::RadioButton2));
  EXPECT_FALSE(Checked(C::RadioButton3));
  EXPECT_EQ(SendMessageA(Item(C::Edit1), EM_GETPASSWORDCHAR, 0, 0), '*');
  EXPECT_EQ(SendMessageA(Item(C::Edit2), EM_GETPASSWORDCHAR, 0, 0), '*');
  EXPECT_EQ(GetFocus(), Item(C::Edit1));
}

TEST_F(StartUpTest, TextAlphabetIsBuilt) {
  // The alphabet runs 32..126, then 161..254, 127..160 and 1..31.
  const TextAlphabet& alphabet = Form().Alphabet();
  EXPECT_EQ(alphabet.indexToByte[0], 32);
  EXPECT_EQ(alphabet.indexToByte[95], 161);
  EXPECT_EQ(alphabet.indexToByte[189], 127);
  EXPECT_EQ(alphabet.indexToByte[253], 31);
  EXPECT_EQ(alphabet.byteToIndex[161], 95);
}

TEST_F(StartUpTest, FontsAreMsSansSerifAtTheirCharacterHeights) {
  struct Expected {
    ControlId id;
    LONG height;
    bool bold;
  };
  for (const Expected& e : {Expected{C::CheckBox1, -11, false}, Expected{C::Label3, -11, false},
                            Expected{C::RadioButton2, -13, true}, Expected{C::Button5, -11, false},
                            Expected{C::Label1, -16, true}, Expected{C::Edit1, -11, false},
                            Expected{C::ListBox1, -13, false}, Expected{C::Memo1, -13, false}}) {
    const LOGFONTA font = FontOf(e.id);
    EXPECT_STREQ(font.lfFaceName, "MS Sans Serif") << SpecOf(e.id).name;
    EXPECT_EQ(font.lfHeight, e.height) << SpecOf(e.id).name;
    EXPECT_EQ(font.lfWeight >= FW_BOLD, e.bold) << SpecOf(e.id).name;
  }
  EXPECT_EQ(SendMessageA(Item(C::ListBox1), LB_GETITEMHEIGHT, 0, 0), 16);
}

TEST_F(StartUpTest, ColoursOfTextAndBackground) {
  const COLORREF tooltip = GetSysColor(COLOR_INFOBK);
  const COLORREF window = GetSysColor(COLOR_WINDOW);
  EXPECT_EQ(ColoursOf(C::CheckBox1, WM_CTLCOLORSTATIC), std::make_pair(RGB(0, 0, 255), tooltip));
  EXPECT_EQ(ColoursOf(C::Label3, WM_CTLCOLORSTATIC), std::make_pair(RGB(0, 128, 128), tooltip));
  EXPECT_EQ(ColoursOf(C::Label4, WM_CTLCOLORSTATIC), std::make_pair(RGB(0, 128, 128), tooltip));
  EXPECT_EQ(ColoursOf(C::RadioButton3, WM_CTLCOLORSTATIC), std::make_pair(RGB(0, 0, 0), tooltip));
  EXPECT_EQ(ColoursOf(C::Label2, WM_CTLCOLORSTATIC), std::make_pair(RGB(255, 0, 0), tooltip));
  EXPECT_EQ(ColoursOf(C::Edit2, WM_CTLCOLOREDIT),
            std::make_pair(GetSysColor(COLOR_WINDOWTEXT), window));
  EXPECT_EQ(ColoursOf(C::Memo1, WM_CTLCOLOREDIT), std::make_pair(RGB(0, 0, 255), window));
  EXPECT_EQ(ColoursOf(C::ListBox1, WM_CTLCOLORLISTBOX), std::make_pair(RGB(255, 0, 0), window));
}

TEST_F(StartUpTest, FieldsTakeTextsLongerThanTheSystemDefault) {
  const std::string longText(40000, 'k');
  Form().SetEdit1Text(longText);
  Form().SetEdit2Text(longText);
  EXPECT_EQ(Form().Edit1Text(), longText);
  EXPECT_EQ(Form().Edit2Text(), longText);
}

TEST_F(StartUpTest, ProgressBarsRangeFrom0To100) {
  for (ControlId id : {C::ProgressBar1, C::ProgressBar2}) {
    PBRANGE range{};
    SendMessageA(Item(id), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
  }
}

TEST_F(StartUpTest, TabWalksTheTabOrderOverShownControls) {
  // Edit1 0, Button1 1, Edit2 2, CheckBox1 3, ListBox1 4, the selected radio button 7,
  // Button2 15; hidden buttons, the memo and the progress bars are passed over.
  const std::array<ControlId, 8> order{C::Button1,      C::Edit2,   C::CheckBox1, C::ListBox1,
                                       C::RadioButton1, C::Button2, C::Edit1,     C::Button1};
  ASSERT_EQ(GetFocus(), Item(C::Edit1));
  for (ControlId expected : order) {
    MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    ASSERT_TRUE(Form().PreTranslateMessage(tab));
    EXPECT_EQ(GetFocus(), Item(expected)) << SpecOf(expected).name;
  }
  // Down in the radio group selects the next mode.
  Click(C::RadioButton1);
  SetFocus(Item(C::RadioButton1));
  MSG down{Item(C::RadioButton1), WM_KEYDOWN, VK_DOWN, 0, 0, {0, 0}};
  ASSERT_TRUE(Form().PreTranslateMessage(down));
  EXPECT_EQ(GetFocus(), Item(C::RadioButton2));
  EXPECT_TRUE(Checked(C::RadioButton2));
  EXPECT_FALSE(Shown(C::ListBox1));
}

TEST_F(StartUpTest, ResizingMovesNoControl) {
  std::array<RECT, kControlCount> before{};
  for (std::size_t i = 0; i < kControlCount; ++i) before[i] = Place(static_cast<ControlId>(i));
  for (const SIZE size : {SIZE{700, 800}, SIZE{200, 150}}) {
    SetWindowPos(Window(), nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    RECT outer{};
    GetWindowRect(Window(), &outer);
    EXPECT_EQ(outer.right - outer.left, size.cx);
    for (std::size_t i = 0; i < kControlCount; ++i) {
      const RECT after = Place(static_cast<ControlId>(i));
      EXPECT_TRUE(EqualRect(&after, &before[i])) << kControlTable[i].name;
    }
  }
}

TEST_F(FormTest, LayoutAndFontsScaleWithTheDpi) {
  TForm1::Options options;
  options.dialogs = &dialogs_;
  options.dpi = 144;  // one and a half times 96; halves round away from zero
  Create(std::move(options));
  RECT outer{};
  GetWindowRect(Window(), &outer);
  EXPECT_EQ(outer.left, 5);
  EXPECT_EQ(outer.top, 173);
  EXPECT_EQ(outer.right - outer.left, 666);
  EXPECT_EQ(outer.bottom - outer.top, 758);
  const RECT edit1 = Place(C::Edit1);
  EXPECT_EQ(edit1.left, 180);
  EXPECT_EQ(edit1.top, 192);
  EXPECT_EQ(edit1.right - edit1.left, 446);
  EXPECT_EQ(edit1.bottom - edit1.top, 32);
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Item(C::Label1), WM_GETFONT, 0, 0)), sizeof font,
             &font);
  EXPECT_EQ(font.lfHeight, -24);
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Item(C::Edit1), WM_GETFONT, 0, 0)), sizeof font,
             &font);
  EXPECT_EQ(font.lfHeight, -17);
  EXPECT_EQ(SendMessageA(Item(C::ListBox1), LB_GETITEMHEIGHT, 0, 0), 24);
}

}  // namespace
}  // namespace resicrypt::testing
