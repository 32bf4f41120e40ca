// The window's modal dialogs: OpenDialog1, SaveDialog1, the one-line message
// box, the OK/Cancel question box and the error box. TForm1 reaches them through
// FormDialogs so that tests can put scripted dialogs in their place.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <vector>

namespace resicrypt {

class FormDialogs {
 public:
  virtual ~FormDialogs() = default;

  // OpenDialog1. filter: label|pattern|label|pattern|... The chosen files come back
  // as full paths in the dialog's order. False when the user cancels.
  virtual bool RunOpenDialog(HWND owner, const std::string& filter, bool multiSelect,
                             std::vector<std::string>& files) = 0;
  // SaveDialog1; defaultExtension without the dot is added to a name without one.
  // It opens in the folder path names on entry, if any.
  virtual bool RunSaveDialog(HWND owner, const std::string& defaultExtension,
                             std::string& path) = 0;

  // Modal boxes, centred on the screen; the owner takes no input meanwhile.
  virtual void ShowMessage(HWND owner, const std::string& title, const std::string& text) = 0;
  virtual bool AskOkCancel(HWND owner, const std::string& text, const std::string& caption) = 0;
  virtual void ShowError(HWND owner, const std::string& title, const std::string& text) = 0;
};

// The system's own dialogs (comdlg32 and MessageBox).
class SystemDialogs final : public FormDialogs {
 public:
  bool RunOpenDialog(HWND owner, const std::string& filter, bool multiSelect,
                     std::vector<std::string>& files) override;
  bool RunSaveDialog(HWND owner, const std::string& defaultExtension, std::string& path) override;
  void ShowMessage(HWND owner, const std::string& title, const std::string& text) override;
  bool AskOkCancel(HWND owner, const std::string& text, const std::string& caption) override;
  void ShowError(HWND owner, const std::string& title, const std::string& text) override;
};

// label|pattern|... as the dialogs want it: each part ends in a NUL and the list
// in a second NUL. An empty filter gives an empty string (no filter).
std::string DialogFilter(const std::string& filter);

// The names an open dialog returns in its buffer as full paths: one full path, or
// (several files chosen) the folder followed by the bare names, each NUL-ended,
// with a second NUL at the end.
std::vector<std::string> ChosenFiles(const char* buffer, std::size_t size);

// The file name of a path without folder and extension: the boxes' title.
std::string FileTitleOf(const std::string& path);

// The title of every box: the running executable's file name without extension.
std::string ExecutableTitle();

// An error's text as the error box shows it: a full stop is added when the last
// character sorts after ".".
std::string ErrorBoxText(std::string text);

}  // namespace resicrypt
