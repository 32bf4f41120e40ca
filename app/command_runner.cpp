#include "app/command_runner.h"

#include <utility>

#include "app/file_commands.h"
#include "app/flag_scope.h"
#include "container/platform_file.h"

namespace resicrypt {

namespace {

// A folder is never packed: true, and the user told, when one of the files is one.
bool RefuseFolder(FileCommandView& view, const std::vector<std::string>& files) {
  for (const std::string& file : files) {
    if (FileTypeAt(file) == FileType::kFolder) {
      view.ShowMessage(file + " is a folder; drop files");
      return true;
    }
  }
  return false;
}

}  // namespace

CommandRunner::CommandRunner(FormPort& form, const FormCommands& commands,
                             std::function<void()> wake, ProgressPace::Clock::duration frame)
    : form_(form),
      commands_(commands),
      commandView_(*this, frame),
      commandThread_(commandView_, std::move(wake)) {}

// A container held for Decrypt File stays held for the next try with another
// password.
void CommandRunner::CommandView::ShowEdit1() {
  if (!runner_.heldInUse_.empty()) runner_.heldFiles_ = runner_.heldInUse_;
  PacedBars::ShowEdit1();
}

void CommandRunner::RunCipherCommand(const FormCommand& command) {
  if (!command) return;
  gate_.RunOrDefer([this, command] { command(form_); });
}

void CommandRunner::RunFileCommand(const FileFormCommand& command) {
  if (!command) return;
  if (gate_.Busy()) {
    gate_.RunOrDefer([this, command] { RunFileCommand(command); });
    return;
  }
  gate_.Hold();
  CommandThread::Body body;
  try {
    body = command(form_);
  } catch (...) {
    EndFileCommand();
    throw;
  }
  if (!body) {
    EndFileCommand();
    return;
  }
  commandThread_.Start(std::move(body), [this] { EndFileCommand(); });
}

// Held files take the place of the open dialog's choice, as a drop's do, for the
// command of their direction; they are let go once a command has started on them,
// and held again when it refuses the password (CommandView::ShowEdit1).
void CommandRunner::RunFileButton(CipherDirection direction, const FileFormCommand& command) {
  if (heldFiles_.empty() || DropDirection(heldFiles_) != direction || !commands_.filesDropped) {
    RunFileCommand(command);
    return;
  }
  RunFileCommand([this](FormPort& form) -> CommandThread::Body {
    if (heldFiles_.empty()) return {};  // a command held back behind another took them
    CommandThread::Body body = commands_.filesDropped(form, heldFiles_);
    if (body) heldInUse_ = std::exchange(heldFiles_, {});
    return body;
  });
}

// A drop is one more event that starts a file command, held back like a click
// while another one runs.
void CommandRunner::DropFiles(std::vector<std::string> files) {
  if (files.empty() || !commands_.filesDropped) return;
  heldFiles_.clear();  // the newest choice of files wins
  heldInUse_.clear();
  RunFileCommand([this, files = std::move(files)](FormPort& form) -> CommandThread::Body {
    if (RefuseFolder(form, files)) return {};
    return commands_.filesDropped(form, files);
  });
}

void CommandRunner::HoldFiles(std::vector<std::string> files) {
  if (files.empty() || RefuseFolder(form_, files)) return;
  heldFiles_ = std::move(files);
  heldInUse_.clear();
  form_.ReportReplaceAll(heldFiles_);
}

void CommandRunner::AskToStopFileCommand() {
  if (!commandThread_.Running() || askingToStop_) return;
  FlagScope asking(askingToStop_);
  if (form_.AskYesNo("A file command is running. Stop it?")) commandThread_.RequestStop();
}

bool CommandRunner::MayClose(std::function<void()> closeAgain) {
  AskToStopFileCommand();
  if (!gate_.Busy()) return true;
  gate_.RunOrDefer(std::move(closeAgain));
  return false;
}

void CommandRunner::EndFileCommand() {
  heldInUse_.clear();
  // Positions held back reach the bars when the command ends, also by an error.
  commandView_.GiveHeldBack();
  gate_.Release();
}

}  // namespace resicrypt
