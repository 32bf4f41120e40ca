#include "ui/alUnit23_win.h"

#include <commctrl.h>

#include <stdexcept>
#include <utility>

#include "app/memo_text.h"
#include "ui/clipboard_win.h"
#include "ui/wide_names_win.h"

namespace resicrypt {

namespace {

constexpr UINT_PTR kDoubleClickSubclassId = 1;
// Asks the window's thread to run the calls a file command has queued.
constexpr UINT kCommandCallsMessage = WM_APP + 1;
// A double click on the memo or the list (lParam), sent on to the window.
constexpr UINT kControlDoubleClickMessage = WM_APP + 2;

// Now, as the user's locale writes it: format is GetDateFormatA or GetTimeFormatA.
std::string NowText(decltype(&GetDateFormatA) format, DWORD flags) {
  char text[128] = {};
  format(LOCALE_USER_DEFAULT, flags, nullptr, nullptr, text, static_cast<int>(sizeof text));
  return text;
}

// The memo and the list see their own double clicks, and the window runs their
// handlers, where every handler's error is caught.
LRESULT CALLBACK ControlProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                  UINT_PTR id, DWORD_PTR) {
  if (message == WM_NCDESTROY) RemoveWindowSubclass(control, &ControlProcedure, id);
  const LRESULT result = DefSubclassProc(control, message, wParam, lParam);
  if (message == WM_LBUTTONDBLCLK) {
    SendMessageA(GetParent(control), kControlDoubleClickMessage, 0,
                 reinterpret_cast<LPARAM>(control));
  }
  return result;
}

// A negative frame is one refresh of the screen: no progress bar is painted more
// often than that. A rate of 0 or 1 stands for the display's default, 60 Hz.
std::chrono::microseconds ProgressFrame(std::chrono::microseconds frame) {
  if (frame.count() >= 0) return frame;
  const int hertz = ScreenCapability(VREFRESH);
  return std::chrono::microseconds(1000000 / (hertz <= 1 ? 60 : hertz));
}

// ProgressBar1 follows the blocks, ProgressBar2 the files.
ControlId BarControl(ProgressBar bar) {
  return bar == ProgressBar::Blocks ? ControlId::ProgressBar1 : ControlId::ProgressBar2;
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation

TForm1::TForm1(Options options)
    : options_(std::move(options)),
      dialogs_(options_.dialogs != nullptr ? options_.dialogs : &systemDialogs_),
      title_(ExecutableTitle()),
      keyboard_(controls_, [this](ControlId radio) { SelectRadioButton(radio); }),
      runner_(
          *this, options_.commands,
          [this] {
            // The window's handle is set before any command can start.
            PostMessageA(window_, kCommandCallsMessage, 0, 0);
          },
          ProgressFrame(options_.progressFrame)) {
  // The process is DPI aware, so the screen's is its real DPI.
  dpi_ = options_.dpi > 0 ? options_.dpi : ScreenCapability(LOGPIXELSY);
  if (dpi_ <= 0) dpi_ = 96;
  const INITCOMMONCONTROLSEX commonControls{sizeof commonControls,
                                            ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&commonControls);
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  RegisterFormClass(instance, &WindowProcedure);
  fonts_ = CreateFormFonts(dpi_);
  // FormCreate gives the window its resizable border.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  CreateWindowExA(0, kFormClassName, kFormCaption, style, Scale(kFormLeft), Scale(kFormTop),
                  Scale(kFormWidth), Scale(kFormHeight), nullptr, nullptr, instance, this);
  if (window_ == nullptr) throw std::runtime_error("The main window could not be created");
  try {
    CreateControls();
    FormCreate();
  } catch (...) {
    DestroyWindow(window_);
    throw;
  }
}

TForm1::~TForm1() {
  runner_.Abandon();
  if (window_ != nullptr) DestroyWindow(window_);
}

int TForm1::Scale(int pixels96) const { return MulDiv(pixels96, dpi_, 96); }

void TForm1::CreateControls() {
  for (const ControlSpec& row : kControlTable) {
    const HWND control = CreateControl(row, window_, dpi_);
    controls_[static_cast<std::size_t>(row.id)] = control;
    const win::GdiObject& font = fonts_[static_cast<std::size_t>(row.font)];
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
    if (std::string(row.className) == "STATIC") SetLabelCaption(row.id, row.caption);
  }

  // Commands check the lengths of what they read; the fields take any length.
  for (ControlId id : {ControlId::Edit1, ControlId::Edit2, ControlId::Memo1}) {
    SendMessageA(Control(id), EM_SETLIMITTEXT, 0, 0);
  }
  SetMemoLines({kMemoFirstLine});
  SendMessageA(Control(ControlId::ListBox1), LB_SETITEMHEIGHT, 0,
               static_cast<LPARAM>(Scale(kListItemHeight)));
  ReportAppend(kReportListFirstItem);
  for (ControlId id : {ControlId::ProgressBar1, ControlId::ProgressBar2}) {
    SendMessageA(Control(id), PBM_SETRANGE32, 0, 100);
  }
  SendMessageA(Control(ControlId::RadioButton1), BM_SETCHECK, BST_CHECKED, 0);
  for (ControlId id : {ControlId::Memo1, ControlId::ListBox1}) {
    SetWindowSubclass(Control(id), &ControlProcedure, kDoubleClickSubclassId, 0);
  }
}

void TForm1::Show(int showCommand) {
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  keyboard_.FocusField(ControlId::Edit1);
}

// ---------------------------------------------------------------------------
// Messages

LRESULT CALLBACK TForm1::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TForm1* form = nullptr;
  if (message == WM_NCCREATE) {
    form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    form->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  } else {
    form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  }
  if (form == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  // No exception may cross the system's code: an error of any handler ends in the
  // error box here, and the window stays open.
  try {
    return form->HandleMessage(message, wParam, lParam);
  } catch (const std::exception& error) {
    form->ShowError(error.what());
  } catch (...) {
    form->ShowError("An unknown error occurred");
  }
  return 0;
}

void TForm1::ShowError(const std::string& text) {
  try {
    dialogs_->ShowError(window_, title_, ErrorBoxText(text));
  } catch (...) {
    MessageBeep(MB_ICONERROR);  // not even the box could be shown
  }
}

LRESULT TForm1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = window_;
  switch (message) {
    case WM_COMMAND:
      if (lParam != 0) {
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:  // labels, check box, radio buttons
      return OnControlColour(message, wParam, lParam, COLOR_INFOBK);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
      return OnControlColour(message, wParam, lParam, COLOR_WINDOW);
    case WM_LBUTTONDOWN:
      clicked_ = true;
      SetCapture(window);
      return 0;
    case WM_LBUTTONUP:
      OnLeftButtonUp(lParam);
      return 0;
    case WM_LBUTTONDBLCLK:
      // The first click of the pair has already run FormClick.
      FormDblClick();
      return 0;
    case WM_ACTIVATE:
      keyboard_.OnActivate(window, wParam);
      return 0;
    case WM_CLOSE:
      // A running file command finishes first, or stops if the user says so; the
      // window closes after it.
      if (!runner_.MayClose([window] { PostMessageA(window, WM_CLOSE, 0, 0); })) return 0;
      FormClose();
      DestroyWindow(window);
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case kControlDoubleClickMessage:
      if (reinterpret_cast<HWND>(lParam) == Control(ControlId::Memo1)) {
        Memo1DblClick();
      } else {
        ListBox1DblClick();
      }
      return 0;
    case kCommandCallsMessage:
      RunCallBatch();
      return 0;
    case WM_DESTROY:
      if (options_.endsMessageLoop) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      window_ = nullptr;
      controls_.fill(nullptr);
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void TForm1::OnCommand(int id, int notification) {
  const int index = id - kFirstControlCommandId;
  if (index < 0 || index >= static_cast<int>(kControlCount)) return;
  const auto control = static_cast<ControlId>(index);
  if (control == ControlId::ListBox1) {
    if (notification == LBN_SELCHANGE) ListBox1Click();
  } else if (notification == BN_CLICKED) {  // BN_CLICKED and STN_CLICKED are both 0
    if (control == ControlId::CheckBox1) {
      SetHidePasswordChecked(!HidePassword());
    } else if (IsRadioButton(control)) {
      SelectRadioButton(control);
    } else {
      RunClickHandler(control);
    }
  }
}

void TForm1::RunClickHandler(ControlId control) {
  using Handler = void (TForm1::*)();
  static constexpr std::pair<ControlId, Handler> kClickHandlers[] = {
      {ControlId::RadioButton1, &TForm1::RadioButton1Click},
      {ControlId::RadioButton2, &TForm1::RadioButton2Click},
      {ControlId::RadioButton3, &TForm1::RadioButton3Click},
      {ControlId::Button1, &TForm1::Button1Click},
      {ControlId::Button2, &TForm1::Button2Click},
      {ControlId::Button3, &TForm1::Button3Click},
      {ControlId::Button4, &TForm1::Button4Click},
      {ControlId::Button5, &TForm1::Button5Click},
      {ControlId::Button6, &TForm1::Button6Click},
      {ControlId::Label1, &TForm1::Label1Click},
      {ControlId::Label2, &TForm1::Label2Click},
      {ControlId::Label3, &TForm1::Label3Click},
  };
  for (const auto& [id, handler] : kClickHandlers) {
    if (id == control) (this->*handler)();
  }
}

LRESULT TForm1::OnControlColour(UINT message, WPARAM wParam, LPARAM lParam, int background) {
  const auto dc = reinterpret_cast<HDC>(wParam);
  const ControlSpec* row = SpecOfWindow(controls_, reinterpret_cast<HWND>(lParam));
  if (row == nullptr) return DefWindowProcA(window_, message, wParam, lParam);
  SetTextColor(dc, TextColourValue(row->colour));
  SetBkColor(dc, GetSysColor(background));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(background));
}

void TForm1::OnLeftButtonUp(LPARAM lParam) {
  // A click is a press and a release on the background; the release that ends a
  // double click is not another click.
  const bool wasClicked = std::exchange(clicked_, false);
  if (GetCapture() == window_) ReleaseCapture();
  if (!wasClicked) return;
  RECT client{};
  GetClientRect(window_, &client);
  const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  if (PtInRect(&client, at)) FormClick();
}

bool TForm1::PreTranslateMessage(const MSG& message) {
  if (message.message != WM_KEYDOWN || window_ == nullptr) return false;
  if (message.hwnd != window_ && !IsChild(window_, message.hwnd)) return false;
  if (message.wParam == VK_ESCAPE && runner_.FileCommandRunning()) {
    runner_.AskToStopFileCommand();
    return true;
  }
  return keyboard_.OnKeyDown(message);
}

// ---------------------------------------------------------------------------
// Event handlers

void TForm1::FormCreate() {
  // A resizable border, keeping the outer size.
  const LONG_PTR style = GetWindowLongPtrA(window_, GWL_STYLE);
  SetWindowLongPtrA(window_, GWL_STYLE, style | WS_THICKFRAME);
  SetWindowPos(window_, nullptr, Scale(kFormLeft), Scale(kFormTop), Scale(kFormWidth),
               Scale(kFormHeight), SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  // The clipboard and memo buttons start hidden.
  for (ControlId id :
       {ControlId::Button4, ControlId::Button3, ControlId::Button5, ControlId::Button6}) {
    SetVisible(id, false);
  }
  // Edit1 first in tab order.
  keyboard_.PutFirst(ControlId::Edit1);
  // Start date and time; they are not updated afterwards.
  SetLabelCaption(ControlId::Label3, NowText(GetDateFormatA, DATE_SHORTDATE));
  SetLabelCaption(ControlId::Label4, NowText(GetTimeFormatA, 0));
  // Hide Password, which masks both fields through CheckBox1Click.
  SetHidePasswordChecked(true);
  // The block bar shows only while a file command runs.
  SetVisible(ControlId::ProgressBar1, false);
  // The 254 characters of text cipher text, built once.
  BuildTextAlphabet(alphabet_);
  // The window opens in Use File mode, which takes dropped files.
  DragAcceptFiles(window_, TRUE);
}

void TForm1::FormClick() {
  for (ControlId id : kShowAllOrder) SetVisible(id, true);
}

void TForm1::FormDblClick() {
  for (ControlId id : kHideAllOrder) SetVisible(id, false);
  SetMemoLines({});
  ReportClear();
  keyboard_.KeepFocusVisible(window_);
}

void TForm1::FormClose() {
  if (formCloseAction_) formCloseAction_();
}

void TForm1::CheckBox1Click() {
  const WPARAM mask = HidePassword() ? static_cast<WPARAM>('*') : 0;
  for (ControlId id : {ControlId::Edit1, ControlId::Edit2}) {
    SendMessageA(Control(id), EM_SETPASSWORDCHAR, mask, 0);
    InvalidateRect(Control(id), nullptr, TRUE);
  }
}

void TForm1::RadioButton1Click() { ApplyMode(FormMode::UseFile); }
void TForm1::RadioButton2Click() { ApplyMode(FormMode::UseBoard); }
void TForm1::RadioButton3Click() { ApplyMode(FormMode::UseMemo); }

// Files dropped from a file manager: a drop is one more event that starts a file
// command, held back like a click while another one runs. Outside Use File mode
// (a drop that arrives anyway) it is let go.
void TForm1::OnDropFiles(HDROP drop) {
  const std::vector<std::wstring> wide = TakeDroppedFiles(drop);
  if ((GetWindowLongPtrA(window_, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) == 0) return;
  std::vector<std::string> files;
  if (wide.empty() || !options_.commands.filesDropped || !UsableFiles(wide, files)) return;
  runner_.DropFiles(std::move(files));
}

bool TForm1::UsableFiles(const std::vector<std::wstring>& wide, std::vector<std::string>& files) {
  std::wstring refused;
  if (AnsiPaths(wide, files, refused)) return true;
  dialogs_->ShowWideMessage(window_, title_, UnusableNameText(refused));
  return false;
}

void TForm1::HoldFiles(const std::vector<std::wstring>& wide) {
  std::vector<std::string> files;
  if (wide.empty() || !UsableFiles(wide, files)) return;
  runner_.HoldFiles(std::move(files));
}

void TForm1::ListBox1Click() {}  // choosing a line does nothing
void TForm1::ListBox1DblClick() { ReportClear(); }
void TForm1::Memo1DblClick() { SetMemoLines({}); }
void TForm1::Label3Click() {}

// The commands. The file commands hold the gate while they run, so that the
// window's other cipher-starting events wait for them; every one passes it.
void TForm1::Button1Click() {
  runner_.RunFileButton(CipherDirection::kDecrypt, options_.commands.button1Click);
}
void TForm1::Button2Click() {
  runner_.RunFileButton(CipherDirection::kEncrypt, options_.commands.button2Click);
}
void TForm1::Button3Click() { runner_.RunCipherCommand(options_.commands.button3Click); }
void TForm1::Button4Click() { runner_.RunCipherCommand(options_.commands.button4Click); }
void TForm1::Button5Click() { runner_.RunCipherCommand(options_.commands.button5Click); }
void TForm1::Button6Click() { runner_.RunCipherCommand(options_.commands.button6Click); }
void TForm1::Label1Click() { runner_.RunCipherCommand(options_.commands.label1Click); }
void TForm1::Label2Click() { runner_.RunCipherCommand(options_.commands.label2Click); }

// ---------------------------------------------------------------------------
// Helpers of the handlers

void TForm1::SetHidePasswordChecked(bool checked) {
  if (HidePassword() == checked) return;
  SendMessageA(Control(ControlId::CheckBox1), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED,
               0);
  CheckBox1Click();
}

void TForm1::SelectRadioButton(ControlId radio) {
  // Selecting the button that is already selected changes nothing.
  if (SendMessageA(Control(radio), BM_GETCHECK, 0, 0) == BST_CHECKED) return;
  for (ControlId id : kRadioButtons) {
    SendMessageA(Control(id), BM_SETCHECK, id == radio ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  RunClickHandler(radio);
}

void TForm1::ApplyMode(FormMode mode) {
  for (const ModeRow& row : kModeTable) {
    const Visibility change = row.byMode[static_cast<std::size_t>(mode)];
    if (change != Visibility::Keep) SetVisible(row.id, change == Visibility::Show);
  }
  // Files dragged from a file manager are taken in Use File mode only.
  DragAcceptFiles(window_, mode == FormMode::UseFile ? TRUE : FALSE);
  keyboard_.KeepFocusVisible(window_);
}

void TForm1::SetVisible(ControlId id, bool visible) {
  ShowWindow(Control(id), visible ? SW_SHOWNA : SW_HIDE);
}

std::string TForm1::ControlText(ControlId id) const {
  const HWND control = Control(id);
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(control)) + 1, '\0');
  const int copied = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

void TForm1::SetLabelCaption(ControlId label, const std::string& caption) {
  const HWND control = Control(label);
  SetWindowTextA(control, caption.c_str());
  const win::GdiObject& font = fonts_[static_cast<std::size_t>(SpecOf(label).font)];
  FitLabelToCaption(control, static_cast<HFONT>(font.Get()), caption);
}

// ---------------------------------------------------------------------------
// The form port

void TForm1::RunCallBatch() {
  // A wake-up inside a box that a call of the batch opened finds the batch
  // running: Drain returns at once, and the batch goes on afterwards.
  if (inCallBatch_) {
    runner_.DrainCommandCalls();
    return;
  }
  inCallBatch_ = true;
  struct EndOfBatch {
    TForm1& form;
    ~EndOfBatch() {
      form.ShowCallBatch();
      form.inCallBatch_ = false;
    }
  } end{*this};
  runner_.DrainCommandCalls();
}

void TForm1::ShowCallBatch() {
  report_.ResumeDrawing();
  for (const ProgressBar bar : {ProgressBar::Blocks, ProgressBar::Files}) {
    int& held = heldVisibility_[bar == ProgressBar::Blocks ? 0 : 1];
    const HWND control = Control(BarControl(bar));
    if (held >= 0 && IsShown(control) != (held != 0)) SetVisible(BarControl(bar), held != 0);
    held = -1;
  }
}

// The memo's text as a list of lines sees it (MemoTextLines).
void TForm1::MemoAppend(const std::string& line) {
  const std::string text = ControlText(ControlId::Memo1);
  const std::string addition = MemoTextAddition(text, line);
  const HWND memo = Control(ControlId::Memo1);
  const auto end = static_cast<WPARAM>(text.size());
  SendMessageA(memo, EM_SETSEL, end, static_cast<LPARAM>(end));
  SendMessageA(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(addition.c_str()));
}

std::vector<std::string> TForm1::MemoLines() const {
  return MemoTextLines(ControlText(ControlId::Memo1));
}

void TForm1::SetMemoLines(const std::vector<std::string>& lines) {
  SetWindowTextA(Control(ControlId::Memo1), MemoText(lines).c_str());
}

void TForm1::ShowProgress(ProgressBar bar, bool visible) {
  if (inCallBatch_) {
    heldVisibility_[bar == ProgressBar::Blocks ? 0 : 1] = visible ? 1 : 0;
    return;
  }
  SetVisible(BarControl(bar), visible);
}

void TForm1::SetProgressRange(ProgressBar bar, int minimum, int maximum) {
  SendMessageA(Control(BarControl(bar)), PBM_SETRANGE32, static_cast<WPARAM>(minimum),
               static_cast<LPARAM>(maximum));
}

// A running file command's moves reach the bar through its pace (PacedBars).
void TForm1::SetProgressPosition(ProgressBar bar, int position) {
  SendMessageA(Control(BarControl(bar)), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void TForm1::ShowMessage(const std::string& text) {
  ShowCallBatch();
  dialogs_->ShowMessage(window_, title_, text);
}

bool TForm1::ReadClipboardText(std::string& text) { return win::ReadClipboardText(window_, text); }

bool TForm1::WriteClipboardText(const std::string& text, bool privateText) {
  return win::WriteClipboardText(window_, text, privateText);
}

void TForm1::CloseWindow() {
  if (window_ != nullptr) PostMessageA(window_, WM_CLOSE, 0, 0);
}

}  // namespace resicrypt
