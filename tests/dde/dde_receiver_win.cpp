// A caller's result service for the DDE tests: the program that Resicrypt's back
// link starts when nothing answers on the caller's service. It offers its own
// service (named after this executable) on the topic "DdeServerConv1" and
// appends what happens to the file named by RESICRYPT_DDE_RECEIVER_LOG:
//
//   started <1 when the start asked for a show state, else 0> <the show state>
//   connected
//   macro <bytes received> <the bytes in hex>
//   disconnected
//
// It ends when the link is closed, or after 30 seconds.
#include <windows.h>

#include <ddeml.h>

#include <cstdio>
#include <string>

namespace {

DWORD theInstance = 0;
HSZ theTopic = nullptr;

void Log(const std::string& line) {
  char path[MAX_PATH] = {};
  if (GetEnvironmentVariableA("RESICRYPT_DDE_RECEIVER_LOG", path, MAX_PATH) == 0) return;
  if (FILE* file = std::fopen(path, "ab")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex.push_back(digits[byte >> 4]);
    hex.push_back(digits[byte & 15]);
  }
  return hex;
}

HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV, HSZ topic, HSZ, HDDEDATA data, ULONG_PTR,
                           ULONG_PTR) {
  switch (type) {
    case XTYP_CONNECT:
      return reinterpret_cast<HDDEDATA>(
          static_cast<ULONG_PTR>(DdeCmpStringHandles(topic, theTopic) == 0));
    case XTYP_CONNECT_CONFIRM:
      Log("connected");
      return nullptr;
    case XTYP_EXECUTE: {
      const DWORD size = DdeGetData(data, nullptr, 0, 0);
      std::string bytes(size, '\0');
      DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), size, 0);
      Log("macro " + std::to_string(size) + " " + Hex(bytes));
      return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(DDE_FACK));
    }
    case XTYP_DISCONNECT:
      Log("disconnected");
      PostQuitMessage(0);
      return nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  Log("started " + std::to_string((startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? 1 : 0) + " " +
      std::to_string(startup.wShowWindow));

  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name = path;
  name = name.substr(name.find_last_of("\\/:") + 1);
  name = name.substr(0, name.find(name.substr(name.rfind('.'))));

  if (DdeInitializeA(&theInstance, &Callback,
                     APPCLASS_STANDARD | CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                     0) != DMLERR_NO_ERROR) {
    Log("no dde");
    return 1;
  }
  const HSZ service = DdeCreateStringHandleA(theInstance, name.c_str(), CP_WINANSI);
  theTopic = DdeCreateStringHandleA(theInstance, "DdeServerConv1", CP_WINANSI);
  DdeNameService(theInstance, service, nullptr, DNS_REGISTER);

  SetTimer(nullptr, 0, 30000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr) break;
    DispatchMessageA(&message);
  }
  DdeNameService(theInstance, service, nullptr, DNS_UNREGISTER);
  DdeFreeStringHandle(theInstance, service);
  DdeFreeStringHandle(theInstance, theTopic);
  DdeUninitialize(theInstance);
  return 0;
}
