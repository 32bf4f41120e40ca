// Form1, the one window of Resicrypt (class TForm1, unit alUnit23): its controls,
// start-up, modes, show all and hide all, Hide Password, the small click handlers,
// and the form port through which the commands read and write the window.
#pragma once

#include <windows.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/text_cipher.h"
#include "app/command_runner.h"
#include "app/form_commands.h"
#include "ui/form_dialogs_win.h"
#include "ui/form_keyboard_win.h"
#include "ui/form_layout_win.h"
#include "ui/report_list_win.h"
#include "app/form_port.h"
#include "ui/win_handles_win.h"

namespace resicrypt {

class TForm1 final : public FormPort {
 public:
  struct Options {
    FormDialogs* dialogs = nullptr;  // null: the system's dialogs
    FormCommands commands = DefaultFormCommands();
    bool endsMessageLoop = true;  // destroying the window posts WM_QUIT
    int dpi = 0;                  // 0: the screen's
    // The shortest time between two positions painted on a progress bar;
    // negative: one refresh of the screen (ProgressPace).
    std::chrono::microseconds progressFrame{-1};
  };

  // Creates the window and its controls and runs FormCreate; the window is not
  // shown yet. Throws std::runtime_error when the window cannot be created.
  explicit TForm1(Options options);
  TForm1() : TForm1(Options{}) {}
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Shows the window with the keyboard focus in Edit1.
  void Show(int showCommand);

  // Escape while a file command runs, and keyboard navigation in the window's tab
  // order (FormKeyboard). Call for every message before it is translated; true
  // when the message was used up.
  bool PreTranslateMessage(const MSG& message);

  // Files given on the command line, held as a drop would give them: one .yal for
  // Decrypt File, anything else for Encrypt File, which then need no open dialog.
  // They stand in the report list until a command takes them. A folder, or a name
  // the ANSI code page cannot hold, is refused with a message and nothing is held.
  void HoldFiles(const std::vector<std::wstring>& files);

  HWND Handle() const { return window_; }
  HWND Control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }

  // Cipher-starting events go through the gate: the DDE service uses it too.
  CipherGate& Gate() { return runner_.Gate(); }
  // Runs in FormClose, before the window goes: closes the DDE back link.
  void SetFormCloseAction(std::function<void()> action) { formCloseAction_ = std::move(action); }

  // The form port.
  std::string Edit1Text() const override { return ControlText(ControlId::Edit1); }
  std::string Edit2Text() const override { return ControlText(ControlId::Edit2); }
  void SetEdit1Text(const std::string& text) override {
    SetWindowTextA(Control(ControlId::Edit1), text.c_str());
  }
  void SetEdit2Text(const std::string& text) override {
    SetWindowTextA(Control(ControlId::Edit2), text.c_str());
  }
  void ShowEdit1() override { SetVisible(ControlId::Edit1, true); }
  bool HidePassword() const override {
    return SendMessageA(Control(ControlId::CheckBox1), BM_GETCHECK, 0, 0) == BST_CHECKED;
  }

  void ReportAppend(const std::string& line) override { report_.Append(line, inCallBatch_); }
  void ReportReplaceAll(const std::vector<std::string>& lines) override {
    report_.ReplaceAll(lines, inCallBatch_);
  }
  void ReportClear() override { report_.Clear(); }

  void MemoAppend(const std::string& line) override;
  std::vector<std::string> MemoLines() const override;
  void SetMemoLines(const std::vector<std::string>& lines) override;

  void SetLabel3Caption(const std::string& caption) override {
    SetLabelCaption(ControlId::Label3, caption);
  }
  void SetLabel4Caption(const std::string& caption) override {
    SetLabelCaption(ControlId::Label4, caption);
  }

  void ShowProgress(ProgressBar bar, bool visible) override;
  void SetProgressRange(ProgressBar bar, int minimum, int maximum) override;
  void SetProgressPosition(ProgressBar bar, int position) override;

  void SetOpenDialogMultiSelect() override { openDialogMultiSelect_ = true; }
  bool RunOpenDialog(const std::string& filter, std::vector<std::string>& files) override {
    return dialogs_->RunOpenDialog(window_, filter, openDialogMultiSelect_, files);
  }
  bool RunSaveDialog(const std::string& defaultExtension, std::string& path) override {
    return dialogs_->RunSaveDialog(window_, defaultExtension, path);
  }

  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override {
    return dialogs_->AskYesNo(window_, text, title_);
  }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    ShowCallBatch();
    return dialogs_->AskOkCancel(window_, text, caption);
  }

  bool ReadClipboardText(std::string& text) override;
  bool WriteClipboardText(const std::string& text, bool privateText) override;

  std::string& WorkingPassword() override { return workingPassword_; }
  CipherWorkspace& Workspace() override { return *workspace_; }
  const TextAlphabet& Alphabet() const override { return alphabet_; }

  void CloseWindow() override;

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ShowError(const std::string& text);

  // A length at 96 DPI in the window's pixels.
  int Scale(int pixels96) const;
  void CreateControls();
  void OnCommand(int id, int notification);
  // The click handler of a button, radio button or label, if it has one.
  void RunClickHandler(ControlId control);
  LRESULT OnControlColour(UINT message, WPARAM wParam, LPARAM lParam, int background);
  void OnLeftButtonUp(LPARAM lParam);
  void OnDropFiles(HDROP drop);

  // Event handlers, named after control and event.
  void FormCreate();
  void FormClick();
  void FormDblClick();
  void FormClose();
  void CheckBox1Click();
  void RadioButton1Click();
  void RadioButton2Click();
  void RadioButton3Click();
  void ListBox1Click();
  void ListBox1DblClick();
  void Memo1DblClick();
  void Label3Click();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void Button6Click();
  void Label1Click();
  void Label2Click();

  // The files in the ANSI code page, or the user told which name cannot be used.
  bool UsableFiles(const std::vector<std::wstring>& wide, std::vector<std::string>& files);

  void SetHidePasswordChecked(bool checked);
  void SelectRadioButton(ControlId radio);
  void ApplyMode(FormMode mode);
  void SetVisible(ControlId id, bool visible);
  std::string ControlText(ControlId id) const;
  void SetLabelCaption(ControlId label, const std::string& caption);
  // The command's calls, a batch per wake-up (kCommandCallsMessage): the report
  // list is drawn and the bars shown or hidden once a batch, as the batch left
  // them, not once a line or a file. ShowCallBatch shows what the batch did so
  // far (before a box opens over it).
  void RunCallBatch();
  void ShowCallBatch();

  Options options_;
  SystemDialogs systemDialogs_;
  FormDialogs* dialogs_;
  HWND window_ = nullptr;
  ControlWindows controls_{};
  std::array<win::GdiObject, kFontCount> fonts_;
  int dpi_ = 96;
  std::string title_;     // of every message box
  bool clicked_ = false;  // a left button went down on the background
  bool openDialogMultiSelect_ = false;
  // The one cipher workspace of the run, shared by every command and the DDE
  // service; the gate keeps it to one cipher operation at a time.
  std::unique_ptr<CipherWorkspace> workspace_ = std::make_unique<CipherWorkspace>();
  FormKeyboard keyboard_;
  CommandRunner runner_;  // the gate, the command thread, held files, the bars' pace
  ReportListBox report_{controls_};  // ListBox1
  bool inCallBatch_ = false;
  std::array<int, 2> heldVisibility_{-1, -1};  // per bar: -1 none, else shown or not
  std::function<void()> formCloseAction_;
  std::string workingPassword_;
  TextAlphabet alphabet_{};
};

}  // namespace resicrypt
