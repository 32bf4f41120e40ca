#include "ui/form_commands_win.h"

#include "container/file_commands.h"
#include "textcmd/text_commands.h"

namespace resicrypt {

FormCommands DefaultFormCommands() {
  FormCommands commands;
  commands.button1Click = &resicrypt::Button1Click;
  commands.button2Click = &resicrypt::Button2Click;
  commands.button3Click = &resicrypt::Button3Click;
  commands.button4Click = &resicrypt::Button4Click;
  commands.button5Click = &resicrypt::Button5Click;
  commands.button6Click = &resicrypt::Button6Click;
  commands.label1Click = &resicrypt::Label1Click;
  commands.label2Click = &resicrypt::Label2Click;
  return commands;
}

}  // namespace resicrypt
