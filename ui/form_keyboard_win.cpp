#include "ui/form_keyboard_win.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace resicrypt {

namespace {

bool IsPushButton(const ControlSpec& row) {
  return std::string_view(row.className) == "BUTTON" && (row.style & BS_TYPEMASK) == BS_PUSHBUTTON;
}

// The place before or after at in a ring of count places.
std::size_t RingStep(std::size_t at, std::size_t count, bool back) {
  return (at + (back ? count - 1 : 1)) % count;
}

}  // namespace

FormKeyboard::FormKeyboard(const ControlWindows& controls,
                           std::function<void(ControlId)> selectRadio)
    : controls_(controls), selectRadio_(std::move(selectRadio)) {
  for (const ControlSpec& row : kControlTable) {
    if (row.tabOrder >= 0) tabSequence_.push_back(row.id);
  }
  std::sort(tabSequence_.begin(), tabSequence_.end(),
            [](ControlId a, ControlId b) { return SpecOf(a).tabOrder < SpecOf(b).tabOrder; });
}

void FormKeyboard::PutFirst(ControlId first) {
  tabSequence_.erase(std::remove(tabSequence_.begin(), tabSequence_.end(), first),
                     tabSequence_.end());
  tabSequence_.insert(tabSequence_.begin(), first);
}

void FormKeyboard::FocusField(ControlId field) {
  const HWND edit = Control(field);
  if (!IsShown(edit)) return;
  SetFocus(edit);
  SendMessageA(edit, EM_SETSEL, 0, -1);
  savedFocus_ = edit;
}

void FormKeyboard::OnActivate(HWND window, WPARAM wParam) {
  // The window remembers which control had the focus when it lost activation.
  if (LOWORD(wParam) == WA_INACTIVE) {
    const HWND focus = GetFocus();
    if (IsChild(window, focus)) savedFocus_ = focus;
    return;
  }
  if (HIWORD(wParam) != 0) return;  // minimised
  // IsChild is false for a control that is gone, too.
  SetFocus(IsChild(window, savedFocus_) && IsShown(savedFocus_) ? savedFocus_ : window);
}

void FormKeyboard::KeepFocusVisible(HWND window) {
  const HWND focus = GetFocus();
  if (IsChild(window, focus) && !IsShown(focus)) SetFocus(window);
}

bool FormKeyboard::OnKeyDown(const MSG& message) {
  if (message.wParam == VK_TAB) {
    if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
    FocusNextControl(GetKeyState(VK_SHIFT) < 0);
    return true;
  }
  const ControlSpec* focused = SpecOfWindow(controls_, message.hwnd);
  if (focused == nullptr) return false;
  const WPARAM key = message.wParam;
  if (key == VK_RETURN && IsPushButton(*focused)) {
    // Enter presses the focused button, as Space does.
    SendMessageA(message.hwnd, BM_CLICK, 0, 0);
    return true;
  }
  const bool back = key == VK_UP || key == VK_LEFT;
  const auto* radio = std::find(kRadioButtons.begin(), kRadioButtons.end(), focused->id);
  if ((!back && key != VK_DOWN && key != VK_RIGHT) || radio == kRadioButtons.end()) return false;
  // The arrows move the selection within the radio group, as in a dialog, to the
  // next button shown.
  const auto at = static_cast<std::size_t>(radio - kRadioButtons.begin());
  std::size_t next = RingStep(at, kRadioButtons.size(), back);
  while (next != at && !IsShown(Control(kRadioButtons[next]))) {
    next = RingStep(next, kRadioButtons.size(), back);
  }
  if (next != at) {
    SetFocus(Control(kRadioButtons[next]));
    selectRadio_(kRadioButtons[next]);
  }
  return true;
}

void FormKeyboard::FocusNextControl(bool backwards) {
  // Tab stops: shown, enabled controls with a tab stop; of the radio group only
  // the selected button.
  std::vector<ControlId> stops;
  for (ControlId id : tabSequence_) {
    const HWND control = Control(id);
    if ((GetWindowLongPtrA(control, GWL_STYLE) & WS_TABSTOP) == 0) continue;
    if (!IsShown(control) || !IsWindowEnabled(control)) continue;
    if (IsRadioButton(id) && SendMessageA(control, BM_GETCHECK, 0, 0) != BST_CHECKED) continue;
    stops.push_back(id);
  }
  if (stops.empty()) return;
  const auto focused =
      std::find_if(stops.begin(), stops.end(),
                   [this, focus = GetFocus()](ControlId id) { return Control(id) == focus; });
  // Without the focus on a stop, Tab goes to the first and Shift+Tab to the last.
  std::size_t at = backwards ? 0 : stops.size() - 1;
  if (focused != stops.end()) at = static_cast<std::size_t>(focused - stops.begin());
  const ControlId next = stops[RingStep(at, stops.size(), backwards)];
  SetFocus(Control(next));
  if (next == ControlId::Edit1 || next == ControlId::Edit2) {
    SendMessageA(Control(next), EM_SETSEL, 0, -1);
  }
}

}  // namespace resicrypt
