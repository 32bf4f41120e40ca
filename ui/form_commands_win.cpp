#include "ui/form_commands_win.h"

#include "app/file_commands.h"
#include "app/text_commands.h"

namespace resicrypt {

namespace {

// The file command's body: the job prepared by its checks and dialogs.
FileFormCommand FileCommand(std::optional<FileJob> (*prepare)(FormPort&)) {
  return [prepare](FormPort& form) -> CommandThread::Body {
    std::optional<FileJob> job = prepare(form);
    if (!job) return {};
    CipherWorkspace& workspace = form.Workspace();
    return [job = std::move(*job), &workspace](FileCommandView& view) {
      RunFileJob(job, workspace, view);
    };
  };
}

}  // namespace

FormCommands DefaultFormCommands() {
  FormCommands commands;
  commands.button1Click = FileCommand(&PrepareDecryptFile);
  commands.button2Click = FileCommand(&PrepareEncryptFile);
  commands.button3Click = &resicrypt::Button3Click;
  commands.button4Click = &resicrypt::Button4Click;
  commands.button5Click = &resicrypt::Button5Click;
  commands.button6Click = &resicrypt::Button6Click;
  commands.label1Click = &resicrypt::Label1Click;
  commands.label2Click = &resicrypt::Label2Click;
  return commands;
}

}  // namespace resicrypt
