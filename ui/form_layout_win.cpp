#include "ui/form_layout_win.h"

#include <commctrl.h>

#include <stdexcept>
#include <string>

#include "ui/resources/resource_ids.h"

namespace resicrypt {

namespace {

constexpr DWORD kLabelStyle = SS_LEFT | SS_NOTIFY | SS_NOPREFIX;
constexpr DWORD kRadioStyle = BS_RADIOBUTTON | WS_TABSTOP;
constexpr DWORD kButtonStyle = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kFieldStyle = ES_AUTOHSCROLL | WS_TABSTOP;
constexpr DWORD kMemoStyle = ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN |
                             WS_VSCROLL | WS_HSCROLL | WS_TABSTOP;
constexpr DWORD kListStyle = LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP;

using C = ControlId;
using F = FormFont;
using T = TextColour;

}  // namespace

// Labels are created with their design captions and take the width of their
// caption; Label3 and Label4 get the date and time in FormCreate. The clipboard
// and memo buttons and ProgressBar1 are hidden by FormCreate, not here.
const std::array<ControlSpec, kControlCount> kControlTable{{
    {C::CheckBox1, "CheckBox1", "BUTTON", "Hide Password", 8, 0, 97, 17,
     BS_CHECKBOX | BS_FLAT | WS_TABSTOP, 0, F::Window11, T::Blue, 3, true},
    {C::Label3, "Label3", "STATIC", "Label3", 120, 8, 32, 13, kLabelStyle, 0, F::Window11, T::Teal,
     -1, true},
    {C::Label4, "Label4", "STATIC", "Label4", 272, 8, 32, 13, kLabelStyle, 0, F::Window11, T::Teal,
     -1, true},
    {C::RadioButton1, "RadioButton1", "BUTTON", "Use File", 8, 24, 129, 17, kRadioStyle, 0,
     F::Bold13, T::Black, 7, true},
    {C::Button2, "Button2", "BUTTON", "Encrypt  File", 120, 24, 145, 17, kButtonStyle, 0,
     F::Window11, T::Gray, 15, true},
    {C::Button1, "Button1", "BUTTON", "Decrypt  File", 272, 24, 145, 17, kButtonStyle, 0,
     F::Window11, T::Gray, 1, true},
    {C::RadioButton2, "RadioButton2", "BUTTON", "Use Board", 8, 48, 113, 17, kRadioStyle, 0,
     F::Bold13, T::Black, 8, true},
    {C::Button4, "Button4", "BUTTON", "Encrypt  Clipboard", 120, 48, 145, 17, kButtonStyle, 0,
     F::Window11, T::Gray, 10, true},
    {C::Button3, "Button3", "BUTTON", "Decrypt  Clipboard", 272, 48, 145, 17, kButtonStyle, 0,
     F::Window11, T::Gray, 9, true},
    {C::RadioButton3, "RadioButton3", "BUTTON", "Use Memo", 8, 72, 105, 17, kRadioStyle, 0,
     F::Bold13, T::Black, 11, true},
    {C::Button5, "Button5", "BUTTON", "Encrypt  Memo", 120, 72, 145, 17, kButtonStyle, 0,
     F::Window11, T::Gray, 12, true},
    {C::Button6, "Button6", "BUTTON", "Decrypt  Memo", 272, 72, 145, 17, kButtonStyle, 0,
     F::Window11, T::Gray, 13, true},
    {C::Label1, "Label1", "STATIC", "Password1", 16, 96, 88, 20, kLabelStyle, 0, F::Bold16, T::Red,
     -1, true},
    {C::Edit2, "Edit2", "EDIT", "742", 120, 96, 297, 21, kFieldStyle, WS_EX_CLIENTEDGE, F::Window11,
     T::WindowText, 2, true},
    {C::Label2, "Label2", "STATIC", "Password2", 16, 128, 88, 20, kLabelStyle, 0, F::Bold16, T::Red,
     -1, true},
    {C::Edit1, "Edit1", "EDIT", "742", 120, 128, 297, 21, kFieldStyle, WS_EX_CLIENTEDGE,
     F::Window11, T::WindowText, 0, true},
    {C::Memo1, "Memo1", "EDIT", "", 8, 160, 409, 241, kMemoStyle, WS_EX_CLIENTEDGE, F::Regular13,
     T::Blue, 14, false},
    {C::ListBox1, "ListBox1", "LISTBOX", "", 8, 160, 409, 241, kListStyle, WS_EX_CLIENTEDGE,
     F::Regular13, T::Red, 4, true},
    // Progress bars hold a place in the tab order but never take the focus.
    {C::ProgressBar1, "ProgressBar1", PROGRESS_CLASSA, "", 8, 408, 401, 17, 0, 0, F::Window11,
     T::Gray, 5, true},
    {C::ProgressBar2, "ProgressBar2", PROGRESS_CLASSA, "", 8, 432, 401, 17, 0, 0, F::Window11,
     T::Gray, 6, false},
}};

namespace {

struct FontRow {
  FormFont font;
  int height;  // character height at 96 DPI
  int weight;
};

constexpr std::array<FontRow, kFontCount> kFonts{{
    {FormFont::Window11, 11, FW_NORMAL},
    {FormFont::Regular13, 13, FW_NORMAL},
    {FormFont::Bold13, 13, FW_BOLD},
    {FormFont::Bold16, 16, FW_BOLD},
}};

}  // namespace

void RegisterFormClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  // Double clicks on the background run FormDblClick.
  windowClass.style = CS_DBLCLKS;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(RESICRYPT_ICON));
  windowClass.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(RESICRYPT_ICON),
                                                      IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  if (windowClass.hIcon == nullptr) windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  // The system's tooltip-background colour.
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_INFOBK + 1));
  windowClass.lpszClassName = kFormClassName;
  if (RegisterClassExA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("The main window's class could not be registered");
  }
}

std::array<win::GdiObject, kFontCount> CreateFormFonts(int dpi) {
  std::array<win::GdiObject, kFontCount> fonts;
  for (const FontRow& row : kFonts) {
    // A negative height is the height of the characters.
    fonts[static_cast<std::size_t>(row.font)] = win::GdiObject(
        CreateFontA(-MulDiv(row.height, dpi, 96), 0, 0, 0, row.weight, FALSE, FALSE, FALSE,
                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                    DEFAULT_PITCH | FF_SWISS, kFontFace));
  }
  return fonts;
}


HWND CreateControl(const ControlSpec& row, HWND parent, int dpi) {
  const auto scale = [dpi](int pixels96) { return MulDiv(pixels96, dpi, 96); };
  const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | row.style | (row.visible ? WS_VISIBLE : 0u);
  const HWND control = CreateWindowExA(
      row.exStyle, row.className, row.caption, style, scale(row.left), scale(row.top),
      scale(row.width), scale(row.height), parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(CommandIdOf(row.id))),
      GetModuleHandleA(nullptr), nullptr);
  if (control == nullptr) {
    throw std::runtime_error(std::string("The control ") + row.name + " could not be created");
  }
  return control;
}

void FitLabelToCaption(HWND label, HFONT font, const std::string& caption) {
  win::WindowDc dc(label);
  if (!dc) return;
  win::SelectedObject selected(dc.Get(), font);
  SIZE size{};
  GetTextExtentPoint32A(dc.Get(), caption.c_str(), static_cast<int>(caption.size()), &size);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc.Get(), &metrics);
  SetWindowPos(label, nullptr, 0, 0, size.cx, metrics.tmHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(label, nullptr, TRUE);
}

int ScreenCapability(int index) {
  const win::WindowDc screen(nullptr);
  return screen ? GetDeviceCaps(screen.Get(), index) : 0;
}

const ControlSpec* SpecOfWindow(const ControlWindows& controls, HWND control) {
  for (std::size_t i = 0; i < kControlCount; ++i) {
    if (controls[i] == control && control != nullptr) return &kControlTable[i];
  }
  return nullptr;
}

const ControlSpec& SpecOf(ControlId id) {
  const auto index = static_cast<std::size_t>(id);
  const ControlSpec& row = kControlTable.at(index);
  if (row.id != id) throw std::logic_error("control table out of order");
  return row;
}

COLORREF TextColourValue(TextColour colour) {
  // Gray, Blue, Teal, Black and Red; WindowText follows the system.
  constexpr std::array<COLORREF, 5> kFixed{RGB(128, 128, 128), RGB(0, 0, 255), RGB(0, 128, 128),
                                           RGB(0, 0, 0), RGB(255, 0, 0)};
  if (colour == TextColour::WindowText) return GetSysColor(COLOR_WINDOWTEXT);
  return kFixed.at(static_cast<std::size_t>(colour));
}

namespace {
constexpr Visibility K = Visibility::Keep;
constexpr Visibility S = Visibility::Show;
constexpr Visibility H = Visibility::Hide;
}  // namespace

//                                     Use File  Use Board  Use Memo
const std::array<ModeRow, 10> kModeTable{{
    {C::Edit1, {S, K, K}},
    {C::Edit2, {S, K, K}},
    {C::Button2, {S, H, H}},
    {C::Button1, {S, H, H}},
    {C::Button4, {H, S, H}},
    {C::Button3, {H, S, H}},
    {C::Button5, {H, H, S}},
    {C::Button6, {H, H, S}},
    {C::Memo1, {H, H, S}},
    {C::ListBox1, {S, H, H}},
}};

const std::array<ControlId, 18> kShowAllOrder{
    {C::Memo1, C::Button6, C::Button5, C::Button4, C::Button3, C::Button2, C::Button1, C::Edit1,
     C::Edit2, C::Label1, C::Label2, C::Label3, C::Label4, C::CheckBox1, C::ListBox1,
     C::RadioButton1, C::RadioButton2, C::RadioButton3}};

const std::array<ControlId, 18> kHideAllOrder{
    {C::Button6, C::Button5, C::Button4, C::Button3, C::Button2, C::Button1, C::Memo1, C::Edit1,
     C::Edit2, C::Label1, C::Label2, C::Label3, C::Label4, C::CheckBox1, C::ListBox1,
     C::RadioButton1, C::RadioButton2, C::RadioButton3}};

}  // namespace resicrypt
