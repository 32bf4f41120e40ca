// Resicrypt.exe: creates Form1 and runs its event loop until the window closes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <exception>

#include "ui/alUnit23_win.h"
#include "ui/form_dialogs_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
  // The layout is scaled to the screen's DPI by the window itself.
  SetProcessDPIAware();

  try {
    resicrypt::TForm1 Form1;
    Form1.Show(showCommand);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (!Form1.PreTranslateMessage(message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
    return static_cast<int>(message.wParam);
  } catch (const std::exception& error) {
    resicrypt::SystemDialogs().ShowError(nullptr, resicrypt::ExecutableTitle(),
                                         resicrypt::ErrorBoxText(error.what()));
    return 1;
  }
}
