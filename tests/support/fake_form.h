// An in-memory main window for native tests of the commands: fields, report list,
// memo, progress bars, scripted dialog and question answers, a clipboard string,
// and a record of every message box shown.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/cipher_workspace.h"
#include "engine/text_cipher.h"
#include "app/form_port.h"
#include "tests/support/scripted_answer.h"

namespace resicrypt::testing {

struct ProgressState {
  bool visible = false;
  int minimum = 0;
  int maximum = 100;
  int position = 0;
  int updates = 0;  // SetProgressPosition calls
};

class FakeForm : public FormPort {
 public:
  FakeForm() { BuildTextAlphabet(alphabet); }

  // Window state, open to the test.
  std::string edit1 = "742";
  std::string edit2 = "742";
  bool edit1Visible = true;
  bool hidePassword = true;
  std::vector<std::string> report{"View  Encrypt File the Report  or Decrypt  File the Report"};
  std::vector<std::string> memo{" Write here data for Encrypt or Decrypt"};
  std::string label3, label4;
  ProgressState progress1, progress2;
  bool openDialogMultiSelect = false;
  std::string clipboard;
  bool clipboardOpens = true;
  bool clipboardPrivate = false;
  int clipboardWrites = 0;
  std::string workingPassword;
  CipherWorkspace workspace{};
  TextAlphabet alphabet{};
  bool closed = false;

  // Scripted answers: each dialog run takes the next one; none left means cancel.
  std::deque<std::optional<std::vector<std::string>>> openDialogAnswers;
  std::deque<std::optional<std::string>> saveDialogAnswers;
  std::deque<bool> questionAnswers;  // true = OK; none left means OK

  // What the command asked for.
  std::vector<std::string> openDialogFilters;
  std::vector<std::string> saveDialogExtensions;
  std::vector<std::string> saveDialogFolders;  // where each save dialog opened
  std::vector<std::string> messages;
  std::vector<std::pair<std::string, std::string>> questions;  // text, caption
  int pendingEventCalls = 0;
  std::function<void()> onPendingEvents;  // runs inside ProcessPendingEvents

  std::string Edit1Text() const override { return edit1; }
  std::string Edit2Text() const override { return edit2; }
  void SetEdit1Text(const std::string& text) override { edit1 = text; }
  void SetEdit2Text(const std::string& text) override { edit2 = text; }
  void ShowEdit1() override { edit1Visible = true; }
  bool HidePassword() const override { return hidePassword; }

  void ReportAppend(const std::string& line) override { report.push_back(line); }
  void ReportReplaceAll(const std::vector<std::string>& lines) override { report = lines; }
  void ReportClear() override { report.clear(); }

  void MemoAppend(const std::string& line) override { memo.push_back(line); }
  std::vector<std::string> MemoLines() const override { return memo; }
  void SetMemoLines(const std::vector<std::string>& lines) override { memo = lines; }

  void SetLabel3Caption(const std::string& caption) override { label3 = caption; }
  void SetLabel4Caption(const std::string& caption) override { label4 = caption; }

  void ShowProgress(ProgressBar bar, bool visible) override { Bar(bar).visible = visible; }
  void SetProgressRange(ProgressBar bar, int minimum, int maximum) override {
    Bar(bar).minimum = minimum;
    Bar(bar).maximum = maximum;
  }
  void SetProgressPosition(ProgressBar bar, int position) override {
    Bar(bar).position = position;
    ++Bar(bar).updates;
  }

  void SetOpenDialogMultiSelect() override { openDialogMultiSelect = true; }
  bool RunOpenDialog(const std::string& filter, std::vector<std::string>& files) override {
    openDialogFilters.push_back(filter);
    return TakeAnswer(openDialogAnswers, files);
  }
  bool RunSaveDialog(const std::string& defaultExtension, std::string& path) override {
    saveDialogExtensions.push_back(defaultExtension);
    saveDialogFolders.push_back(path);
    return TakeAnswer(saveDialogAnswers, path);
  }

  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  // A Yes/No question is recorded and answered as an OK/Cancel one, without caption.
  bool AskYesNo(const std::string& text) override { return AskOkCancel(text, ""); }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    questions.emplace_back(text, caption);
    if (questionAnswers.empty()) return true;
    bool ok = questionAnswers.front();
    questionAnswers.pop_front();
    return ok;
  }

  bool ReadClipboardText(std::string& text) override {
    if (!clipboardOpens) return false;
    text = clipboard;
    return true;
  }
  bool WriteClipboardText(const std::string& text, bool privateText) override {
    if (!clipboardOpens) return false;
    clipboard = text;
    clipboardPrivate = privateText;
    ++clipboardWrites;
    return true;
  }

  // A file command's turn stands where the window used to let its pending events
  // through; tests put what would arrive then into onPendingEvents.
  void BlockTurn() override { ProcessPendingEvents(); }
  void ProcessPendingEvents() {
    ++pendingEventCalls;
    if (onPendingEvents) onPendingEvents();
  }

  std::string& WorkingPassword() override { return workingPassword; }
  CipherWorkspace& Workspace() override { return workspace; }
  const TextAlphabet& Alphabet() const override { return alphabet; }
  void CloseWindow() override { closed = true; }

 private:
  ProgressState& Bar(ProgressBar bar) { return bar == ProgressBar::Blocks ? progress1 : progress2; }
};

}  // namespace resicrypt::testing
