// The window's modal dialogs: OpenDialog1, SaveDialog1, the one-line message
// box, the OK/Cancel question box and the error box. TForm1 reaches them through
// FormDialogs so that tests can put scripted dialogs in their place.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace resicrypt {

class FormDialogs {
 public:
  virtual ~FormDialogs() = default;

  // OpenDialog1. filter: label|pattern|label|pattern|... The chosen files come back
  // as full paths in the dialog's order. False when the user cancels, and when a
  // chosen name has no spelling in the ANSI code page (the user is told).
  virtual bool RunOpenDialog(HWND owner, const std::string& filter, bool multiSelect,
                             std::vector<std::string>& files) = 0;
  // SaveDialog1; defaultExtension without the dot is added to a name without one.
  // It opens in the folder path names on entry, if any, else where the open
  // dialog opens.
  virtual bool RunSaveDialog(HWND owner, const std::string& defaultExtension,
                             std::string& path) = 0;

  // Modal boxes, centred on the screen; the owner takes no input meanwhile.
  virtual void ShowMessage(HWND owner, const std::string& title, const std::string& text) = 0;
  virtual bool AskOkCancel(HWND owner, const std::string& text, const std::string& caption) = 0;
  // The Yes/No question box: true for Yes.
  virtual bool AskYesNo(HWND owner, const std::string& text, const std::string& caption) = 0;
  virtual void ShowError(HWND owner, const std::string& title, const std::string& text) = 0;
  // The message box for a text that the ANSI code page cannot hold (a file name).
  virtual void ShowWideMessage(HWND owner, const std::string& title, const std::wstring& text) = 0;
};

// The system's own dialogs (comdlg32 and MessageBox), through the wide API. The
// file dialogs open in the folder of the files last chosen in either of them,
// at first in the user's Documents folder: never in the program's own folder,
// where a program started from the Start menu runs.
class SystemDialogs final : public FormDialogs {
 public:
  bool RunOpenDialog(HWND owner, const std::string& filter, bool multiSelect,
                     std::vector<std::string>& files) override;
  bool RunSaveDialog(HWND owner, const std::string& defaultExtension, std::string& path) override;
  void ShowMessage(HWND owner, const std::string& title, const std::string& text) override;
  bool AskOkCancel(HWND owner, const std::string& text, const std::string& caption) override;
  bool AskYesNo(HWND owner, const std::string& text, const std::string& caption) override;
  void ShowError(HWND owner, const std::string& title, const std::string& text) override;
  void ShowWideMessage(HWND owner, const std::string& title, const std::wstring& text) override;

 private:
  std::wstring StartFolder() const;
  // The set-up both file dialogs share, then the save or the open dialog; what it
  // chose is converted, or the user is told which name cannot be used.
  bool RunFileDialog(HWND owner, OPENFILENAMEW dialog, bool save, const std::wstring& folder,
                     std::vector<std::string>& files);

  std::wstring lastFolder_;
};

// label|pattern|... as the dialogs want it: each part ends in a NUL and the list
// in a second NUL. An empty filter gives an empty string (no filter).
std::string DialogFilter(const std::string& filter);

// The names an open dialog returns in its buffer as full paths: one full path, or
// (several files chosen) the folder followed by the bare names, each NUL-ended,
// with a second NUL at the end.
std::vector<std::wstring> ChosenFiles(const wchar_t* buffer, std::size_t size);

// The file name of a path without folder and extension: the boxes' title.
std::string FileTitleOf(const std::string& path);

// The title of every box: the running executable's file name without extension.
std::string ExecutableTitle();

// An error's text as the error box shows it: a full stop is added when the last
// character sorts after ".".
std::string ErrorBoxText(std::string text);

}  // namespace resicrypt
