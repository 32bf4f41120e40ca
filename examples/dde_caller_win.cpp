#include "examples/dde_caller_win.h"

#include <utility>

namespace resicrypt::examples {

namespace {

// DDEML callbacks carry no user data: the one caller of this program.
DdeCaller* theCaller = nullptr;

}  // namespace

std::string ServiceNameOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  const std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return std::string();
  return name.substr(0, name.find(name.substr(dot)));
}

std::string OwnExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

DdeCaller::~DdeCaller() { Stop(); }

bool DdeCaller::Start(const std::string& ownPath, std::string& error) {
  if (theCaller != nullptr) {
    error = "one DDE caller per program";
    return false;
  }
  DWORD instance = 0;
  const UINT code =
      DdeInitializeA(&instance, &Callback,
                     APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_REQUESTS | CBF_FAIL_POKES |
                         CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                     0);
  if (code != DMLERR_NO_ERROR) {
    char text[64];
    wsprintfA(text, "DDE could not be started (error 0x%x)", code);
    error = text;
    return false;
  }
  instance_ = instance;
  theCaller = this;
  ownService_ = ServiceNameOf(ownPath);
  if (ownService_.empty()) {
    error = "this program's file name has no extension, so it has no service name";
    Stop();
    return false;
  }
  ownServiceHandle_ = DdeCreateStringHandleA(instance_, ownService_.c_str(), CP_WINANSI);
  topicHandle_ = DdeCreateStringHandleA(instance_, kConversationTopic, CP_WINANSI);
  if (ownServiceHandle_ == nullptr || topicHandle_ == nullptr ||
      DdeNameService(instance_, ownServiceHandle_, nullptr, DNS_REGISTER) == nullptr) {
    error = "the DDE service " + ownService_ + " could not be registered";
    Stop();
    return false;
  }
  return true;
}

bool DdeCaller::Connect(const std::string& service, std::string& error, const std::string& topic) {
  HSZ serviceHandle = nullptr;
  if (!service.empty()) {
    serviceHandle = DdeCreateStringHandleA(instance_, service.c_str(), CP_WINANSI);
  }
  const HSZ topicHandle = DdeCreateStringHandleA(instance_, topic.c_str(), CP_WINANSI);
  conversation_ = DdeConnect(instance_, serviceHandle, topicHandle, nullptr);
  if (serviceHandle != nullptr) DdeFreeStringHandle(instance_, serviceHandle);
  if (topicHandle != nullptr) DdeFreeStringHandle(instance_, topicHandle);
  if (conversation_ == nullptr) {
    error = "no DDE service \"" + service + "\" answers on the topic " + topic +
            " (is Resicrypt running?)";
    return false;
  }
  return true;
}

bool DdeCaller::Send(const std::string& macro, DWORD timeoutMs) {
  if (conversation_ == nullptr) return false;
  std::string data = macro;
  data.push_back('\0');
  DWORD result = 0;
  return DdeClientTransaction(reinterpret_cast<LPBYTE>(data.data()),
                              static_cast<DWORD>(data.size()), conversation_, nullptr, CF_TEXT,
                              XTYP_EXECUTE, timeoutMs, &result) != nullptr;
}

bool DdeCaller::Post(const std::string& macro) {
  if (conversation_ == nullptr) return false;
  std::string data = macro;
  data.push_back('\0');
  DWORD transaction = 0;
  return DdeClientTransaction(reinterpret_cast<LPBYTE>(data.data()),
                              static_cast<DWORD>(data.size()), conversation_, nullptr, CF_TEXT,
                              XTYP_EXECUTE, TIMEOUT_ASYNC, &transaction) != nullptr;
}

bool DdeCaller::WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (done()) return true;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              timeoutMs - elapsed < 20 ? timeoutMs - elapsed : 20, QS_ALLINPUT);
  }
}

void DdeCaller::Disconnect(DWORD timeoutMs) {
  if (conversation_ == nullptr) return;
  DdeDisconnect(std::exchange(conversation_, nullptr));
  // Resicrypt closes its link back while it ends; answer that before leaving.
  if (linkedBack_) WaitUntil([this] { return linkBackClosed_; }, timeoutMs);
}

void DdeCaller::Stop() {
  if (instance_ != 0) {
    if (conversation_ != nullptr) DdeDisconnect(std::exchange(conversation_, nullptr));
    if (ownServiceHandle_ != nullptr) {
      DdeNameService(instance_, ownServiceHandle_, nullptr, DNS_UNREGISTER);
      DdeFreeStringHandle(instance_, ownServiceHandle_);
    }
    if (topicHandle_ != nullptr) DdeFreeStringHandle(instance_, topicHandle_);
    DdeUninitialize(instance_);
  }
  instance_ = 0;
  ownServiceHandle_ = nullptr;
  topicHandle_ = nullptr;
  if (theCaller == this) theCaller = nullptr;
}

HDDEDATA CALLBACK DdeCaller::Callback(UINT type, UINT, HCONV conversation, HSZ hsz1, HSZ,
                                      HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  if (theCaller == nullptr) return nullptr;
  return theCaller->OnCallback(type, conversation, hsz1, data);
}

HDDEDATA DdeCaller::OnCallback(UINT type, HCONV conversation, HSZ topic, HDDEDATA data) {
  switch (type) {
    case XTYP_CONNECT:  // Resicrypt links back on our service and topic
      return reinterpret_cast<HDDEDATA>(
          static_cast<ULONG_PTR>(DdeCmpStringHandles(topic, topicHandle_) == 0));
    case XTYP_CONNECT_CONFIRM:
      linkConversation_ = conversation;
      linkedBack_ = true;
      linkBackClosed_ = false;
      return nullptr;
    case XTYP_EXECUTE: {  // one result: plain text and its terminating zero
      const DWORD size = data != nullptr ? DdeGetData(data, nullptr, 0, 0) : 0;
      std::string bytes(size, '\0');
      if (size == 0 || DdeGetData(data, reinterpret_cast<LPBYTE>(bytes.data()), size, 0) != size) {
        return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(DDE_FNOTPROCESSED));
      }
      ReceivedMacro macro;
      macro.size = bytes.size();
      macro.zeroEnded = bytes.back() == '\0';
      macro.text = bytes.substr(0, bytes.find('\0'));
      results_.push_back(std::move(macro));
      return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(DDE_FACK));
    }
    case XTYP_DISCONNECT:
      if (conversation == linkConversation_) {
        linkConversation_ = nullptr;
        linkBackClosed_ = true;
      } else if (conversation == conversation_) {
        conversation_ = nullptr;  // Resicrypt went away first
      }
      return nullptr;
    default:
      return nullptr;
  }
}

}  // namespace resicrypt::examples
