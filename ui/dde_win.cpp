#include "ui/dde_win.h"

#include <cassert>
#include <exception>
#include <utility>

#include "container/platform_file.h"

namespace resicrypt {

namespace {

// DdeServer's callback has no user data: the one server of the process.
DdeServer* theServer = nullptr;
// The back link's instance callback, likewise.
DdemlClientConversation* theBackLink = nullptr;

constexpr char kEventWindowClass[] = "ResicryptDdeEvents";
constexpr UINT kRunEventsMessage = WM_APP + 0x4DE;
// Waits of the back link, in milliseconds.
constexpr DWORD kConnectRetryPause = 100;
constexpr DWORD kExecuteWaitTimeout = 10000;

// Waits while answering only the messages other threads send (a DDE connect's
// WM_DDE_INITIATE, a started program's broadcasts), so that nobody waiting on
// this thread stalls; posted messages, DDE events among them, keep their order
// and wait for the message loop.
void HandleSentMessagesFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_SENDMESSAGE);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

// The value of a DDEML flag as a callback returns it.
HDDEDATA DdeFlag(ULONG_PTR flag) { return reinterpret_cast<HDDEDATA>(flag); }

// Whether a name asked for is the one offered, or was left open.
bool Fits(HSZ asked, const DdeStringHandle& offered) {
  return asked == nullptr || DdeCmpStringHandles(asked, offered.Get()) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// DdeClientConv1

DdemlClientConversation::~DdemlClientConversation() {
  CloseLink();
  if (theBackLink == this) theBackLink = nullptr;
}

HDDEDATA CALLBACK DdemlClientConversation::Callback(UINT type, UINT, HCONV conversation, HSZ, HSZ,
                                                    HDDEDATA, ULONG_PTR, ULONG_PTR) {
  // The caller ended the link itself: later results are dropped, and the next
  // open connects anew.
  if (type == XTYP_DISCONNECT && theBackLink != nullptr &&
      theBackLink->conversation_ == conversation) {
    theBackLink->conversation_ = nullptr;
  }
  return nullptr;
}

bool DdemlClientConversation::EnsureInstance() {
  if (instance_) return true;
  DWORD instance = 0;
  if (DdeInitializeA(&instance, &Callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) return false;
  instance_ = DdeInstance(instance);
  theBackLink = this;
  return true;
}

bool DdemlClientConversation::SetLink(const std::string& service, const std::string& topic) {
  CloseLink();
  service_ = service;
  topic_ = topic;
  return manualConnect_ || OpenLink();
}

bool DdemlClientConversation::Connect() {
  const DdeStringHandle service(instance_.Get(), service_);
  const DdeStringHandle topic(instance_.Get(), topic_);
  if (!service || !topic) return false;
  conversation_ = DdeConnect(instance_.Get(), service.Get(), topic.Get(), nullptr);
  return conversation_ != nullptr;
}

bool DdemlClientConversation::OpenLink() {
  if (conversation_ != nullptr) return true;
  if (service_.empty() || topic_.empty() || lstrcmpiA(service_.c_str(), ownService_.c_str()) == 0 ||
      !EnsureInstance()) {
    return false;
  }
  if (Connect()) return true;
  const win::KernelHandle process = StartServiceApplication();
  if (!process) return false;
  // The started program needs a moment before it offers its service.
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kStartTimeout) {
    HandleSentMessagesFor(kConnectRetryPause);
    if (Connect()) return true;
    if (WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0) return Connect();  // it ended
  }
  return false;
}

win::KernelHandle DdemlClientConversation::StartServiceApplication() {
  // The service application is the caller's own program, never a command line:
  // only a full path to an existing .exe is started, by that path alone, quoted,
  // with no arguments and no search. Anything else starts nothing, so that no
  // DDE partner can make this program run a command of its choosing.
  if (!IsCallerProgramPath(serviceApplication_) ||
      FileTypeAt(serviceApplication_) != FileType::kRegular) {
    return {};
  }
  std::string commandLine = CallerProgramCommandLine(serviceApplication_);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMINNOACTIVE;  // minimised, not activated
  PROCESS_INFORMATION information{};
  if (!CreateProcessA(serviceApplication_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &information)) {
    return {};
  }
  CloseHandle(information.hThread);
  return win::KernelHandle(information.hProcess);
}

bool DdemlClientConversation::ExecuteMacro(const std::string& text, bool waitForReply) {
  if (conversation_ == nullptr) return false;
  // Plain text with its terminating zero.
  std::string data = text;
  return DdeClientTransaction(reinterpret_cast<LPBYTE>(data.data()),
                              static_cast<DWORD>(data.size() + 1), conversation_, nullptr, CF_TEXT,
                              XTYP_EXECUTE, waitForReply ? kExecuteWaitTimeout : TIMEOUT_ASYNC,
                              nullptr) != nullptr;
}

void DdemlClientConversation::CloseLink() {
  if (conversation_ != nullptr) DdeDisconnect(std::exchange(conversation_, nullptr));
  service_.clear();
  topic_.clear();
}

// ---------------------------------------------------------------------------
// DdeServerConv1

DdeServer::DdeServer()
    : handOff_([this] {
        if (eventWindow_ != nullptr) PostMessageA(eventWindow_, kRunEventsMessage, 0, 0);
      }) {}

DdeServer::~DdeServer() { Stop(); }

UINT DdeServer::Start(const std::string& serviceName) {
  assert(theServer == nullptr && "one DDE server per process");
  DWORD instance = 0;
  const UINT error =
      DdeInitializeA(&instance, &Callback,
                     APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_REQUESTS | CBF_FAIL_POKES |
                         CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                     0);
  if (error != DMLERR_NO_ERROR) return error;
  instance_ = DdeInstance(instance);
  theServer = this;
  serviceName_ = serviceName;

  const HINSTANCE module = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = &EventWindowProcedure;
  windowClass.hInstance = module;
  windowClass.lpszClassName = kEventWindowClass;
  RegisterClassA(&windowClass);  // fails harmlessly when already registered
  eventWindow_ = CreateWindowExA(0, kEventWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 module, nullptr);

  serviceHandle_ = DdeStringHandle(instance, serviceName_);
  topicHandle_ = DdeStringHandle(instance, kDdeTopic);
  if (eventWindow_ == nullptr || !serviceHandle_ || !topicHandle_ ||
      DdeNameService(instance, serviceHandle_.Get(), nullptr, DNS_REGISTER) == nullptr) {
    const UINT nameError = DdeGetLastError(instance);
    Stop();
    return nameError != DMLERR_NO_ERROR ? nameError : DMLERR_SYS_ERROR;
  }
  return DMLERR_NO_ERROR;
}

void DdeServer::Attach(FormPort& form, CipherGate* gate,
                       std::function<void(const std::string&)> showError) {
  showError_ = std::move(showError);
  service_ = std::make_unique<DdeService>(form, backLink_);
  queue_ = std::make_unique<DdeEventQueue>(*service_, gate);
  for (DdeEvent& event : early_) queue_->Post(std::move(event));
  early_.clear();
  if (queue_->PendingCount() > 0) handOff_.Post([this] { queue_->Pump(); });
}

void DdeServer::Detach() {
  queue_.reset();
  service_.reset();
}

void DdeServer::Stop() {
  Detach();
  backLink_.CloseLink();
  // The names go before the instance they belong to.
  if (serviceHandle_) {
    DdeNameService(instance_.Get(), serviceHandle_.Get(), nullptr, DNS_UNREGISTER);
  }
  serviceHandle_.Reset();
  topicHandle_.Reset();
  instance_.Reset();
  conversations_.clear();
  early_.clear();
  if (eventWindow_ != nullptr) {
    DestroyWindow(eventWindow_);
    eventWindow_ = nullptr;
  }
  if (theServer == this) theServer = nullptr;
}

HDDEDATA CALLBACK DdeServer::Callback(UINT type, UINT, HCONV conversation, HSZ hsz1, HSZ hsz2,
                                      HDDEDATA data, ULONG_PTR, ULONG_PTR) {
  if (theServer == nullptr) return nullptr;
  // Nothing may unwind through DDEML; a failure to record an event drops it.
  try {
    return theServer->OnCallback(type, conversation, hsz1, hsz2, data);
  } catch (...) {
    return type == XTYP_EXECUTE ? DdeFlag(DDE_FNOTPROCESSED) : nullptr;
  }
}

// A connection that leaves service or topic open gets the one pair this server
// offers, when it fits.
HDDEDATA DdeServer::WildConnect(HSZ topic, HSZ service) const {
  if (!Fits(topic, topicHandle_) || !Fits(service, serviceHandle_)) return nullptr;
  HSZPAIR pairs[2] = {{serviceHandle_.Get(), topicHandle_.Get()}, {nullptr, nullptr}};
  return DdeCreateDataHandle(instance_.Get(), reinterpret_cast<LPBYTE>(pairs), sizeof pairs, 0,
                             nullptr, 0, 0);
}

HDDEDATA DdeServer::OnCallback(UINT type, HCONV conversation, HSZ hsz1, HSZ hsz2, HDDEDATA data) {
  switch (type) {
    case XTYP_CONNECT:  // hsz1 topic, hsz2 service
      // The topic "DdeServerConv1" in any letter case, on this service or on no
      // service named.
      return DdeFlag(hsz1 != nullptr && Fits(hsz1, topicHandle_) && Fits(hsz2, serviceHandle_));
    case XTYP_WILDCONNECT:
      return WildConnect(hsz1, hsz2);
    case XTYP_CONNECT_CONFIRM:
      conversations_.insert(conversation);
      Post({DdeEvent::Kind::Open, {}});
      return nullptr;
    case XTYP_EXECUTE: {
      // A macro: plain text up to its zero. Acknowledged here, run later.
      const DWORD size = data != nullptr ? DdeGetData(data, nullptr, 0, 0) : 0;
      std::string text(size, '\0');
      if (size == 0 || DdeGetData(data, reinterpret_cast<LPBYTE>(text.data()), size, 0) != size) {
        return DdeFlag(DDE_FNOTPROCESSED);
      }
      text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
      Post({DdeEvent::Kind::Macro, SplitMacroLines(text)});
      return DdeFlag(DDE_FACK);
    }
    case XTYP_DISCONNECT:
      if (conversations_.erase(conversation) > 0) Post({DdeEvent::Kind::Close, {}});
      return nullptr;
    default:
      return nullptr;
  }
}

void DdeServer::Post(DdeEvent event) {
  handOff_.Post([this, event] { Deliver(event); });
}

void DdeServer::Deliver(DdeEvent event) {
  if (queue_ == nullptr) {
    early_.push_back(std::move(event));
    return;
  }
  queue_->Post(std::move(event));
  queue_->Pump();
}

void DdeServer::Pump() {
  try {
    handOff_.Drain();
  } catch (const std::exception& error) {
    if (showError_) showError_(error.what());
  } catch (...) {
    if (showError_) showError_("An unknown error occurred");
  }
}

LRESULT CALLBACK DdeServer::EventWindowProcedure(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  if (message == kRunEventsMessage) {
    if (theServer != nullptr) theServer->Pump();
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace resicrypt
