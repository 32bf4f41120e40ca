// The commands behind the window's buttons and password labels. Each is a
// function of the form port; TForm1 runs the file commands and the others
// through its CipherGate. An empty entry is a command that does nothing yet.
#pragma once

#include <functional>

#include "ui/form_port.h"

namespace resicrypt {

using FormCommand = std::function<void(FormPort&)>;

struct FormCommands {
  FormCommand button1Click;  // "Decrypt  File"
  FormCommand button2Click;  // "Encrypt  File"
  FormCommand button3Click;  // "Decrypt  Clipboard"
  FormCommand button4Click;  // "Encrypt  Clipboard"
  FormCommand button5Click;  // "Encrypt  Memo"
  FormCommand button6Click;  // "Decrypt  Memo"
  FormCommand label1Click;   // "Password1": encrypt the text of Edit1
  FormCommand label2Click;   // "Password2": decrypt the text of Edit1
};

// The program's own commands.
FormCommands DefaultFormCommands();

}  // namespace resicrypt
