// Form1 right after start-up: the window, every control's place, look and state.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "tests/ui/ui_test_support.h"

namespace resicrypt::testing {
namespace {

using C = ControlId;

// What the table's font names stand for: character height at 96 DPI, and bold.
struct FontFact {
  int height;
  bool bold;
};
constexpr std::array<FontFact, kFontCount> kFontFacts{
    {{11, false}, {13, false}, {13, true}, {16, true}}};

// The checks read the window back and compare it with the layout table (the one
// place of every number); only the scaling is worked out here on its own.
class LayoutTest : public FormTest {
 protected:
  // Pixels at 96 DPI on a screen of dpi, halves rounded away from zero.
  static int Scaled(int pixels96, int dpi) { return (2 * pixels96 * dpi + 96) / 192; }

  void ExpectFrameAt(int dpi) {
    RECT outer{};
    GetWindowRect(Window(), &outer);
    EXPECT_EQ(outer.left, Scaled(kFormLeft, dpi));
    EXPECT_EQ(outer.top, Scaled(kFormTop, dpi));
    EXPECT_EQ(outer.right - outer.left, Scaled(kFormWidth, dpi));
    EXPECT_EQ(outer.bottom - outer.top, Scaled(kFormHeight, dpi));
  }

  void ExpectControlsAt(int dpi) {
    for (const ControlSpec& row : kControlTable) {
      SCOPED_TRACE(row.name);
      const HWND item = Item(row.id);
      char className[32] = {};
      GetClassNameA(item, className, static_cast<int>(sizeof className));
      EXPECT_EQ(lstrcmpiA(className, row.className), 0) << className;
      EXPECT_EQ(GetDlgCtrlID(item), CommandIdOf(row.id));
      const auto style = static_cast<DWORD>(GetWindowLongPtrA(item, GWL_STYLE));
      // Scroll bars come and go with the content.
      const DWORD fixedStyle = row.style & ~static_cast<DWORD>(WS_VSCROLL | WS_HSCROLL);
      EXPECT_EQ(style & fixedStyle, fixedStyle);
      const auto exStyle = static_cast<DWORD>(GetWindowLongPtrA(item, GWL_EXSTYLE));
      EXPECT_EQ(exStyle & row.exStyle, row.exStyle);

      const LOGFONTA font = FontOf(row.id);
      const FontFact& fact = kFontFacts[static_cast<std::size_t>(row.font)];
      EXPECT_STREQ(font.lfFaceName, kFontFace);
      EXPECT_EQ(font.lfHeight, -Scaled(fact.height, dpi));
      EXPECT_EQ(font.lfWeight >= FW_BOLD, fact.bold);

      // A label is as wide as its caption in its own font; other controls as the row says.
      const bool label = lstrcmpiA(row.className, "STATIC") == 0;
      const RECT at = Place(row.id);
      EXPECT_EQ(at.left, Scaled(row.left, dpi));
      EXPECT_EQ(at.top, Scaled(row.top, dpi));
      EXPECT_EQ(at.right - at.left, label ? CaptionWidth(row.id) : Scaled(row.width, dpi));
      if (!label) {
        EXPECT_EQ(at.bottom - at.top, Scaled(row.height, dpi));
      }
      // Label3 and Label4 show the start's date and time; the memo its first line.
      if (row.id != C::Label3 && row.id != C::Label4 && row.id != C::Memo1) {
        EXPECT_EQ(TextOf(item), row.caption);
      }
      ExpectColours(row);
    }
    EXPECT_EQ(SendMessageA(Item(C::ListBox1), LB_GETITEMHEIGHT, 0, 0),
              Scaled(kListItemHeight, dpi));
  }

  LOGFONTA FontOf(ControlId id) {
    LOGFONTA font{};
    const auto handle = reinterpret_cast<HFONT>(SendMessageA(Item(id), WM_GETFONT, 0, 0));
    GetObjectA(handle, sizeof font, &font);
    return font;
  }

  int CaptionWidth(ControlId id) {
    HDC dc = GetDC(Item(id));
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(Item(id), WM_GETFONT, 0, 0)));
    const std::string caption = TextOf(Item(id));
    SIZE size{};
    GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(Item(id), dc);
    return size.cx;
  }

  // The colours the window hands a control when it paints: labels, the check box
  // and the radio buttons on the window's tooltip colour, fields and the list on
  // the window colour. Push buttons and bars paint themselves.
  void ExpectColours(const ControlSpec& row) {
    const std::string kind = row.className;
    const DWORD buttonType = row.style & BS_TYPEMASK;
    UINT message = 0;
    int background = COLOR_INFOBK;
    if (kind == "STATIC" || (kind == "BUTTON" && buttonType != BS_PUSHBUTTON)) {
      message = WM_CTLCOLORSTATIC;
    } else if (kind == "EDIT" || kind == "LISTBOX") {
      message = kind == "EDIT" ? WM_CTLCOLOREDIT : WM_CTLCOLORLISTBOX;
      background = COLOR_WINDOW;
    } else {
      return;
    }
    HDC dc = CreateCompatibleDC(nullptr);
    SendMessageA(Window(), message, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(Item(row.id)));
    EXPECT_EQ(GetTextColor(dc), TextColourValue(row.colour));
    EXPECT_EQ(GetBkColor(dc), GetSysColor(background));
    DeleteDC(dc);
  }
};

class StartUpTest : public LayoutTest {
 protected:
  void SetUp() override { CreateWithScriptedDialogs(); }
};

TEST_F(StartUpTest, ScreenIs96DpiUnderTheTestDisplay) {
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  ReleaseDC(nullptr, screen);
}

TEST_F(StartUpTest, WindowFrameCaptionAndBackground) {
  ExpectFrameAt(96);
  const std::string caption = TextOf(Window());
  EXPECT_EQ(caption, kFormCaption);
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
  EXPECT_STREQ(className, kFormClassName);
  EXPECT_EQ(GetClassLongPtrA(Window(), GCLP_HBRBACKGROUND),
            static_cast<ULONG_PTR>(COLOR_INFOBK + 1));
}

TEST_F(StartUpTest, EveryControlRealisesItsRowOfTheLayoutTable) {
  ExpectControlsAt(96);
  ASSERT_EQ(SendMessageA(Item(C::ListBox1), LB_GETCOUNT, 0, 0), 1);
  char item[128] = {};
  SendMessageA(Item(C::ListBox1), LB_GETTEXT, 0, reinterpret_cast<LPARAM>(item));
  EXPECT_STREQ(item, kReportListFirstItem);
  EXPECT_EQ(Form().MemoLines(), std::vector<std::string>{kMemoFirstLine});
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
  // The table's tab order over the shown controls that take the focus; of the
  // radio group only the selected button, and the walk wraps round.
  std::vector<const ControlSpec*> rows;
  for (const ControlSpec& row : kControlTable) {
    const bool radio = (row.style & BS_TYPEMASK) == BS_RADIOBUTTON && row.className[0] == 'B';
    if (row.tabOrder >= 0 && (row.style & WS_TABSTOP) != 0 && Shown(row.id) &&
        (!radio || Checked(row.id))) {
      rows.push_back(&row);
    }
  }
  std::sort(rows.begin(), rows.end(),
            [](const ControlSpec* a, const ControlSpec* b) { return a->tabOrder < b->tabOrder; });
  ASSERT_EQ(rows.size(), 7u);  // Edit1, Button1, Edit2, CheckBox1, ListBox1, RadioButton1, Button2
  ASSERT_EQ(GetFocus(), Item(rows[0]->id));
  for (std::size_t k = 1; k <= rows.size() + 1; ++k) {
    const ControlSpec& expected = *rows[k % rows.size()];
    MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    ASSERT_TRUE(Form().PreTranslateMessage(tab));
    EXPECT_EQ(GetFocus(), Item(expected.id)) << expected.name;
  }
  // A control that is disabled (as a file command may leave the buttons) takes no
  // stop: from Edit1, Tab passes over Button1 to Edit2.
  EnableWindow(Item(rows[1]->id), FALSE);
  SetFocus(Item(rows[0]->id));
  MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
  ASSERT_TRUE(Form().PreTranslateMessage(tab));
  EXPECT_EQ(GetFocus(), Item(rows[2]->id)) << rows[2]->name;
  EnableWindow(Item(rows[1]->id), TRUE);
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

TEST_F(LayoutTest, EveryRowScalesWithTheDpi) {
  TForm1::Options options;
  options.dialogs = &dialogs_;
  options.dpi = 144;  // one and a half times 96
  Create(std::move(options));
  ExpectFrameAt(144);
  ExpectControlsAt(144);
}

}  // namespace
}  // namespace resicrypt::testing
