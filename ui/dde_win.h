// The DDE automation service on the system's DDEML (ANSI, plain text): the server
// conversation DdeServerConv1 under this program's service name, and the back
// link DdeClientConv1 towards the caller.
//
// DDEML calls back on the thread that initialised it, from inside that thread's
// message loop (also inside a modal box's loop). The callback only acknowledges
// and records each event; the handlers run afterwards, one at a time, from a
// message posted to a hidden window of the same thread (see DdeEventQueue). That
// keeps the back link's connect out of the callback: connecting from inside it
// stalls while the caller still waits for its answer.
#pragma once

#include <windows.h>

#include <ddeml.h>

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "app/cipher_gate.h"
#include "app/dde_service.h"
#include "app/window_hand_off.h"
#include "app/form_port.h"
#include "ui/win_handles_win.h"

namespace resicrypt {

// A DDEML string handle of an instance, freed with its owner.
struct DdeStringHandle : win::UniqueHandle<HSZ, DdeFreeStringHandle, DWORD> {
  DdeStringHandle() = default;
  DdeStringHandle(DWORD instance, const std::string& text)
      : UniqueHandle(DdeCreateStringHandleA(instance, text.c_str(), CP_WINANSI), instance) {}
};

// A DDEML instance of this thread, ended with its owner.
using DdeInstance = win::UniqueHandle<DWORD, DdeUninitialize>;

// DdeClientConv1: a DDEML client conversation with its own client-only instance.
class DdemlClientConversation final : public DdeClientConversation {
 public:
  // ownService: the service this program offers, which the link never connects to;
  // it is held by reference, so it must outlive the link (the server's own name).
  explicit DdemlClientConversation(const std::string& ownService) : ownService_(ownService) {}
  ~DdemlClientConversation() override;

  void SetConnectModeManual() override { manualConnect_ = true; }
  // Only a full path to an existing .exe is ever started from it, without
  // arguments; any other text starts nothing.
  void SetServiceApplication(const std::string& commandLine) override {
    serviceApplication_ = commandLine;
  }
  bool SetLink(const std::string& service, const std::string& topic) override;
  // An empty service name never connects: DDEML would take it as "any service"
  // and could link to any program on the topic, this one included. Nor does this
  // program's own service: its results would come back to it as macros.
  bool OpenLink() override;
  bool ExecuteMacro(const std::string& text, bool waitForReply) override;
  void CloseLink() override;

 private:
  // How long a started service application may take to offer its service.
  static constexpr DWORD kStartTimeout = 10000;

  static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conversation, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
  bool EnsureInstance();
  bool Connect();
  win::KernelHandle StartServiceApplication();

  bool manualConnect_ = false;
  std::string serviceApplication_;
  std::string service_;
  std::string topic_;
  const std::string& ownService_;
  DdeInstance instance_;
  HCONV conversation_ = nullptr;
};

// DdeServerConv1 on DDEML, with the event queue that runs its handlers.
class DdeServer {
 public:
  DdeServer();
  ~DdeServer();

  // Initialises DDEML on this thread and registers the service name. Returns 0,
  // or the DDEML error code when DDEML could not be initialised (then there is
  // no service). One server per process.
  UINT Start(const std::string& serviceName);
  const std::string& ServiceName() const { return serviceName_; }

  // Hands the events to the window. Events that arrived earlier run then.
  // showError shows the text of an error that escaped a handler.
  void Attach(FormPort& form, CipherGate* gate, std::function<void(const std::string&)> showError);
  // Stops running handlers (the window is going away); events are dropped.
  void Detach();

  // Events received and not yet run (held back behind a file command, say).
  std::size_t PendingEventCount() const {
    return early_.size() + (queue_ != nullptr ? queue_->PendingCount() : 0);
  }

  // The back link, which the window's FormClose closes.
  DdemlClientConversation& BackLink() { return backLink_; }

  // Closes the back link, withdraws the service name and ends DDEML.
  void Stop();

 private:
  static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conversation, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
  static LRESULT CALLBACK EventWindowProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam);
  HDDEDATA OnCallback(UINT type, HCONV conversation, HSZ hsz1, HSZ hsz2, HDDEDATA data);
  HDDEDATA WildConnect(HSZ topic, HSZ service) const;
  void Post(DdeEvent event);
  // Runs on the window's thread through the hand-off: the event waits for Attach,
  // or goes to the queue, which runs what it can.
  void Deliver(DdeEvent event);
  void Pump();

  std::string serviceName_;
  DdeInstance instance_;
  DdeStringHandle serviceHandle_;
  DdeStringHandle topicHandle_;
  HWND eventWindow_ = nullptr;
  std::set<HCONV> conversations_;  // the server conversations that are open
  std::deque<DdeEvent> early_;     // events before Attach
  WindowHandOff handOff_;          // from DDEML's callback to the window's turn
  DdemlClientConversation backLink_{serviceName_};
  std::unique_ptr<DdeService> service_;
  std::unique_ptr<DdeEventQueue> queue_;
  std::function<void(const std::string&)> showError_;
};

}  // namespace resicrypt
