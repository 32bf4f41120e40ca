// Form1's keyboard, as a dialog's: where the focus is, and how keys walk it. Tab
// and Shift+Tab go over the shown controls in tab order, Enter presses the
// focused push button, and the arrows move the selection within the radio group.
// The window gives the focus back to the control that had it when it is
// activated again, and never leaves it in a control that was hidden.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "ui/form_layout_win.h"

namespace resicrypt {

// Shown by its own style, whether the window around it is shown or not.
inline bool IsShown(HWND control) {
  return (GetWindowLongPtrA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

class FormKeyboard {
 public:
  // controls: the window's controls by id, filled in when they are created.
  // selectRadio: selects a radio button as a click on it does.
  FormKeyboard(const ControlWindows& controls, std::function<void(ControlId)> selectRadio);

  // Puts a control before all others in tab order.
  void PutFirst(ControlId first);
  // The focus in a field, its text selected, when the window is first shown.
  void FocusField(ControlId field);

  // A key pressed in the window or one of its controls (WM_KEYDOWN); true when
  // the walk used it up.
  bool OnKeyDown(const MSG& message);
  // WM_ACTIVATE of the window.
  void OnActivate(HWND window, WPARAM wParam);
  // After controls were hidden: keys must not go on into a hidden control.
  void KeepFocusVisible(HWND window);

 private:
  HWND Control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }
  void FocusNextControl(bool backwards);

  const ControlWindows& controls_;
  std::function<void(ControlId)> selectRadio_;
  std::vector<ControlId> tabSequence_;  // the controls with a place in tab order
  HWND savedFocus_ = nullptr;           // the focus when the window was last deactivated
};

}  // namespace resicrypt
