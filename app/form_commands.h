// The commands behind the window's buttons and password labels. Each is a
// function of the form port; the window runs them through its CommandRunner. A file
// command does its checks and dialogs on the window's thread and gives back the
// body that packs or unpacks, which runs on a thread of its own (empty: nothing
// to run). An empty entry is a command that does nothing yet.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/command_thread.h"
#include "app/form_port.h"

namespace resicrypt {

using FormCommand = std::function<void(FormPort&)>;
using FileFormCommand = std::function<CommandThread::Body(FormPort&)>;

struct FormCommands {
  FileFormCommand button1Click;  // "Decrypt  File"
  FileFormCommand button2Click;  // "Encrypt  File"
  FormCommand button3Click;  // "Decrypt  Clipboard"
  FormCommand button4Click;  // "Encrypt  Clipboard"
  FormCommand button5Click;  // "Encrypt  Memo"
  FormCommand button6Click;  // "Decrypt  Memo"
  FormCommand label1Click;   // "Password1": encrypt the text of Edit1
  FormCommand label2Click;   // "Password2": decrypt the text of Edit1
  // Files dropped on the window in Use File mode (none of them a folder).
  std::function<CommandThread::Body(FormPort&, const std::vector<std::string>&)> filesDropped;
};

// The program's own commands.
FormCommands DefaultFormCommands();

}  // namespace resicrypt
