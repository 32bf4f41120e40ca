// Resicrypt.exe: creates Form1 and runs its event loop until the window closes.
#include <windows.h>
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "engine/fast_codec.h"
#include "ui/alUnit23_win.h"
#include "ui/dde_win.h"
#include "ui/executable_path_win.h"
#include "ui/form_dialogs_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
  using namespace resicrypt;
  // The error box, with the program's name for its title.
  const auto showError = [](HWND owner, const std::string& text) {
    SystemDialogs().ShowError(owner, ExecutableTitle(), ErrorBoxText(text));
  };
  // The layout is scaled to the screen's DPI by the window itself.
  SetProcessDPIAware();

  // A RESICRYPT_CODEC level this processor lacks, or an unknown word, is refused
  // before anything runs, in a box: a window program has no console to print to.
  if (const char* error = CodecSettingError()) {
    showError(nullptr, error);
    return 2;
  }

  // The DDE service name is registered before the window is created. Without
  // DDE the window still comes up, only without the service. A second instance
  // (a second double-click) leaves the service to the first and works on its own:
  // the first to hold the service's mutex in this session serves it.
  DdeServer dde;
  const std::string serviceName = DdeServiceName(ExecutablePath());
  // The mutex is held until the process ends.
  const HANDLE serviceOwner =
      CreateMutexA(nullptr, FALSE, ("Local\\Resicrypt DDE service " + serviceName).c_str());
  const bool serves = serviceOwner != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  const UINT ddeError = serves ? dde.Start(serviceName) : 0;
  if (ddeError != 0) {
    showError(nullptr, DdeStartErrorText(ddeError, ddeError == DMLERR_MEMORY_ERROR));
  }

  try {
    TForm1 Form1;
    // DDE events run on this thread, behind the window's cipher gate; FormClose
    // closes the back link.
    dde.Attach(Form1, &Form1.Gate(),
               [&](const std::string& text) { showError(Form1.Handle(), text); });
    Form1.SetFormCloseAction([&dde] { dde.BackLink().CloseLink(); });
    Form1.Show(showCommand);
    // Files on the command line ("Send to", a double-clicked .yal) are held as a
    // drop would give them; the wide command line keeps every name whole.
    int count = 0;
    if (LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count)) {
      const std::vector<std::wstring> files(arguments + (count > 0 ? 1 : 0), arguments + count);
      LocalFree(arguments);
      Form1.HoldFiles(files);
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (!Form1.PreTranslateMessage(message)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
    dde.Detach();  // before Form1 goes
    return static_cast<int>(message.wParam);
  } catch (const std::exception& error) {
    dde.Detach();
    showError(nullptr, error.what());
    return 1;
  }
}
