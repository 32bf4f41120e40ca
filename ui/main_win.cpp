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

namespace {

// What "Resicrypt.exe /?" shows: a window program has no console to print to.
constexpr char kUsageText[] =
    "Usage: Resicrypt.exe [FILE...]\n\n"
    "Opens the Resicrypt window. A .yal container named here is held for Decrypt File,\n"
    "other files for Encrypt File: type the password in both fields, then click the\n"
    "button. Files dropped on the window or on Resicrypt.exe do the same.\n\n"
    "The window starts with the password \"742\" in both fields: select it (Tab into\n"
    "a field selects its text) and type your own.\n\n"
    "For scripts: resicrypt-cli --help.";

// The command line's arguments as Explorer gives them, the program's name left out;
// the wide form keeps every name whole.
std::vector<std::wstring> Arguments() {
  int count = 0;
  std::vector<std::wstring> arguments;
  if (LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count)) {
    arguments.assign(words + (count > 0 ? 1 : 0), words + count);
    LocalFree(words);
  }
  return arguments;
}

bool AsksForHelp(const std::vector<std::wstring>& arguments) {
  if (arguments.size() != 1) return false;
  const std::wstring& word = arguments[0];
  return word == L"--help" || word == L"-h" || word == L"/?" || word == L"-?";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
  using namespace resicrypt;
  // The error box, with the program's name for its title.
  const auto showError = [](HWND owner, const std::string& text) {
    SystemDialogs().ShowError(owner, ExecutableTitle(), ErrorBoxText(text));
  };
  // The layout is scaled to the screen's DPI by the window itself.
  SetProcessDPIAware();

  // A request for help starts nothing: no service, no window.
  const std::vector<std::wstring> arguments = Arguments();
  if (AsksForHelp(arguments)) {
    SystemDialogs().ShowMessage(nullptr, ExecutableTitle(), kUsageText);
    return 0;
  }

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
    // drop would give them.
    Form1.HoldFiles(arguments);
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
