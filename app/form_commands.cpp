#include "app/form_commands.h"

#include "app/file_commands.h"
#include "app/text_commands.h"

namespace resicrypt {

namespace {

// The body of a file command whose checks and dialogs prepared job.
CommandThread::Body JobBody(FormPort& form, std::optional<FileJob> job) {
  if (!job) return {};
  CipherWorkspace& workspace = form.Workspace();
  return [job = std::move(*job), &workspace](FileCommandView& view) {
    RunFileJob(job, workspace, view);
  };
}

// A button's file command: what its preparation gives, chosen in its dialogs.
template <class Files>
FileFormCommand FileCommand(std::optional<FileJob> (*prepare)(FormPort&, const Files*)) {
  return [prepare](FormPort& form) { return JobBody(form, prepare(form, nullptr)); };
}

// A dropped container is decrypted, any other drop encrypted.
CommandThread::Body FilesDropped(FormPort& form, const std::vector<std::string>& files) {
  if (DropDirection(files) == CipherDirection::kDecrypt) {
    return JobBody(form, PrepareDecryptFile(form, &files.front()));
  }
  return JobBody(form, PrepareEncryptFile(form, &files));
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
  commands.filesDropped = &FilesDropped;
  return commands;
}

}  // namespace resicrypt
