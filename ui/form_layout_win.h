// The layout of Form1: the window's own frame, every control as one row of a
// table (from which TForm1 creates them), the fonts and colours, the modes and
// the orders in which show all and hide all walk the controls.
// Positions and sizes are pixels at 96 DPI; TForm1 scales them to the screen.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

#include "resicrypt_version.h"
#include "ui/win_handles_win.h"

namespace resicrypt {

// The window: outer rectangle and caption.
constexpr int kFormLeft = 3;
constexpr int kFormTop = 115;
constexpr int kFormWidth = 444;
constexpr int kFormHeight = 505;
constexpr const char* kFormClassName = "TForm1";
constexpr const char* kFormCaption = "Resicrypt V" RESICRYPT_VERSION;
// The window's class: the icon, the arrow cursor, the tooltip-background colour,
// and double clicks on the background.
void RegisterFormClass(HINSTANCE instance, WNDPROC procedure);

// The controls of Form1, in the order they are created. Earlier controls lie in
// front of later ones, which is why Memo1 comes before ListBox1 (the memo covers
// the list when both are shown). Keyboard order is the table's tab order column.
enum class ControlId : int {
  CheckBox1,
  Label3,
  Label4,
  RadioButton1,
  Button2,
  Button1,
  RadioButton2,
  Button4,
  Button3,
  RadioButton3,
  Button5,
  Button6,
  Label1,
  Edit2,
  Label2,
  Edit1,
  Memo1,
  ListBox1,
  ProgressBar1,
  ProgressBar2,
};
constexpr std::size_t kControlCount = 20;

// Character heights in pixels (a font's lfHeight is their negative): the window
// font is 11 px; MS Sans Serif 8, 10 and 12 pt at 96 DPI.
enum class FormFont { Window11, Regular13, Bold13, Bold16 };
constexpr std::size_t kFontCount = 4;
constexpr const char* kFontFace = "MS Sans Serif";
// The layout's fonts at a DPI, by FormFont.
std::array<win::GdiObject, kFontCount> CreateFormFonts(int dpi);

// Text colours. Gray is the window's default font colour; WindowText is the
// system's window-text colour (the password fields).
enum class TextColour { Gray, Blue, Teal, Black, Red, WindowText };

struct ControlSpec {
  ControlId id;
  const char* name;
  const char* className;
  const char* caption;  // caption or initial text
  int left, top, width, height;
  DWORD style;  // besides WS_CHILD | WS_CLIPSIBLINGS and WS_VISIBLE
  DWORD exStyle;
  FormFont font;
  TextColour colour;
  int tabOrder;  // -1: no place in the tab order
  bool visible;  // as created, before FormCreate
};

extern const std::array<ControlSpec, kControlCount> kControlTable;

const ControlSpec& SpecOf(ControlId id);

// The control of a row, in the parent's client area at a DPI, with the row's
// command identifier. Throws std::runtime_error when it cannot be created.
HWND CreateControl(const ControlSpec& row, HWND parent, int dpi);
// Labels take the size of their caption in their font.
void FitLabelToCaption(HWND label, HFONT font, const std::string& caption);
// A device capability of the screen (its DPI, its refresh rate); 0 when it
// cannot be read.
int ScreenCapability(int index);

// The window's controls by id, once created.
using ControlWindows = std::array<HWND, kControlCount>;
// The row of a control window; null for any other window.
const ControlSpec* SpecOfWindow(const ControlWindows& controls, HWND control);

// The radio group, in its order.
constexpr std::array<ControlId, 3> kRadioButtons{ControlId::RadioButton1, ControlId::RadioButton2,
                                                 ControlId::RadioButton3};
inline bool IsRadioButton(ControlId id) {
  for (ControlId radio : kRadioButtons) {
    if (radio == id) return true;
  }
  return false;
}

// The WM_COMMAND identifier of a control. They start well above IDOK and IDCANCEL.
constexpr int kFirstControlCommandId = 1001;
inline int CommandIdOf(ControlId id) { return kFirstControlCommandId + static_cast<int>(id); }

// Text colour of a control as an RGB value.
COLORREF TextColourValue(TextColour colour);

// Modes: what each radio button shows and hides.
enum class Visibility { Keep, Show, Hide };
enum class FormMode { UseFile = 0, UseBoard = 1, UseMemo = 2 };

struct ModeRow {
  ControlId id;
  std::array<Visibility, 3> byMode;  // Use File, Use Board, Use Memo
};

extern const std::array<ModeRow, 10> kModeTable;

// Show all (a click on the background) and hide all (a double click) walk the
// same eighteen controls in these orders; the progress bars are not touched.
extern const std::array<ControlId, 18> kShowAllOrder;
extern const std::array<ControlId, 18> kHideAllOrder;

// The list's one item and the memo's one line at start-up.
constexpr const char* kReportListFirstItem =
    "View  Encrypt File the Report  or Decrypt  File the Report";
constexpr const char* kMemoFirstLine = " Write here data for Encrypt or Decrypt";
constexpr int kListItemHeight = 16;

}  // namespace resicrypt
