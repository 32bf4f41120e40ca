// The form port: everything a command may read from or write to the main window.
// The commands of app/ (and the DDE conversation) see the window only through this
// interface; TForm1 implements it with real controls, and the tests use an
// in-memory fake. Nothing here includes <windows.h>.
#pragma once

#include <string>
#include <vector>

#include "engine/cipher_workspace.h"
#include "engine/text_cipher.h"

namespace resicrypt {

// ProgressBar1 follows the blocks of the current file, ProgressBar2 the files.
enum class ProgressBar { Blocks = 1, Files = 2 };

// The part of the window a running file command uses: the report, the bars and
// the two boxes. The form port is one; a command on a thread of its own gets one
// that hands each call to the window's thread, in order (CommandThread).
class FileCommandView {
 public:
  virtual ~FileCommandView() = default;

  virtual void ShowEdit1() = 0;
  // ReportList: the lines of ListBox1, unsorted, appended in arrival order.
  virtual void ReportAppend(const std::string& line) = 0;

  virtual void ShowProgress(ProgressBar bar, bool visible) = 0;
  virtual void SetProgressRange(ProgressBar bar, int minimum, int maximum) = 0;
  virtual void SetProgressPosition(ProgressBar bar, int position) = 0;

  // The modal one-line message box (OK only), and the OK/Cancel question box:
  // true when OK was pressed.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;

  // The command's turn before every (total div 100) + 1-th block of a file: the
  // blocks before it are written and the bar is about to move (or has moved).
  // Throws CommandStopped when the user has stopped the command.
  virtual void BlockTurn() {}
};

// Thrown at a block turn of a command the user stopped. The container code lets
// it through as any failure: the new files are given up, the files that stood
// there kept.
struct CommandStopped {};

class FormPort : public FileCommandView {
 public:
  // The Yes/No question box, titled as the message box: true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;

  // The two password fields. Edit2 is the field on the row labelled "Password1",
  // Edit1 the one on the row labelled "Password2".
  virtual std::string Edit1Text() const = 0;
  virtual std::string Edit2Text() const = 0;
  virtual void SetEdit1Text(const std::string& text) = 0;
  virtual void SetEdit2Text(const std::string& text) = 0;
  virtual bool HidePassword() const = 0;  // CheckBox1 ticked

  virtual void ReportReplaceAll(const std::vector<std::string>& lines) = 0;
  virtual void ReportClear() = 0;

  // The memo's lines. MemoLines/SetMemoLines move the whole memo at once, which
  // the memo commands use so that a long memo is not rewritten line by line.
  virtual void MemoAppend(const std::string& line) = 0;
  virtual std::vector<std::string> MemoLines() const = 0;
  virtual void SetMemoLines(const std::vector<std::string>& lines) = 0;

  // The date and time labels, which the DDE service reuses for its state.
  virtual void SetLabel3Caption(const std::string& caption) = 0;
  virtual void SetLabel4Caption(const std::string& caption) = 0;

  // OpenDialog1. The filter is written as label|pattern|label|pattern|...; the
  // multi-select option, once set, stays on for every later run of the dialog.
  // Returns false when the user cancels; otherwise the chosen full paths, in the
  // dialog's order.
  virtual void SetOpenDialogMultiSelect() = 0;
  virtual bool RunOpenDialog(const std::string& filter, std::vector<std::string>& files) = 0;
  // SaveDialog1 with a default extension (without the dot); it opens in the folder
  // path names on entry (empty: the system's choice). False on cancel.
  virtual bool RunSaveDialog(const std::string& defaultExtension, std::string& path) = 0;

  // The clipboard in its plain 8-bit text format. ReadClipboardText gives the whole
  // text up to its first NUL (empty when the clipboard holds no text); both return
  // false when the clipboard cannot be opened, and then change nothing. A private
  // text is kept out of clipboard history, cloud clipboard and monitors.
  virtual bool ReadClipboardText(std::string& text) = 0;
  virtual bool WriteClipboardText(const std::string& text, bool privateText) = 0;

  // The window's shared text-cipher password, the one cipher workspace and the
  // text alphabet built at start-up.
  virtual std::string& WorkingPassword() = 0;
  virtual CipherWorkspace& Workspace() = 0;
  virtual const TextAlphabet& Alphabet() const = 0;

  // Closes the main window, which ends the program (used when a DDE client ends
  // its conversation).
  virtual void CloseWindow() = 0;
};

}  // namespace resicrypt
