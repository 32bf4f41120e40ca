// The calling program's side of a conversation with Resicrypt's DDE service.
//
// A caller offers a DDE service of its own, named after its executable the way
// Resicrypt derives it (the file name up to its extension: Caller.exe offers
// "Caller"), with the topic "DdeServerConv1"; Resicrypt links back to it and sends
// every result there as one execute transaction. The caller connects to the
// service "Resicrypt" on the topic "DdeServerConv1" and sends its macros in this
// order: its own path, "Open" (encrypt) or "Close" (decrypt), the password, then
// one text line per macro. Disconnecting ends Resicrypt.
//
// Timing that matters: after the first macro Resicrypt connects back, and a
// program that sits in a synchronous DDE transaction cannot answer a connection
// request (under Wine's DDEML it does not even see it), so Resicrypt's connect
// would stall until that transaction times out. The caller therefore posts its
// macros without waiting (Post) and keeps its messages flowing (WaitUntil) while
// it waits for the link back and for the results.
#pragma once

#include <windows.h>

#include <ddeml.h>

#include <functional>
#include <string>
#include <vector>

namespace resicrypt::examples {

inline constexpr const char kResicryptService[] = "Resicrypt";
inline constexpr const char kConversationTopic[] = "DdeServerConv1";

// One macro that arrived on the caller's own service.
struct ReceivedMacro {
  std::string text;        // up to the first zero
  std::size_t size = 0;    // bytes as sent
  bool zeroEnded = false;  // the last byte sent was the terminating zero
};

class DdeCaller {
 public:
  DdeCaller() = default;
  ~DdeCaller();
  DdeCaller(const DdeCaller&) = delete;
  DdeCaller& operator=(const DdeCaller&) = delete;

  // Starts DDE on this thread and registers this program's own service (named
  // after ownPath, normally this executable). False with a message on failure.
  bool Start(const std::string& ownPath, std::string& error);
  const std::string& OwnServiceName() const { return ownService_; }

  // Connects to the service on the topic (normally "DdeServerConv1"). An empty
  // service name asks any server that offers the topic.
  bool Connect(const std::string& service, std::string& error,
               const std::string& topic = kConversationTopic);
  bool Connected() const { return conversation_ != nullptr; }

  // Sends one macro (its text and the terminating zero) and waits for the answer.
  // True when the service acknowledged it as processed. Only while no connection
  // is being made (see above), and not after Post on the same conversation:
  // Wine's DDEML then no longer matches the answer.
  bool Send(const std::string& macro, DWORD timeoutMs);
  // Sends one macro (text and terminating zero) without waiting for the answer.
  bool Post(const std::string& macro);

  // Lets this thread's messages through until done() holds or the time is up.
  // True when done() held.
  bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);
  bool WaitForLinkBack(DWORD timeoutMs) {
    return WaitUntil([this] { return linkedBack_; }, timeoutMs);
  }
  bool WaitForResults(std::size_t count, DWORD timeoutMs) {
    return WaitUntil([this, count] { return results_.size() >= count; }, timeoutMs);
  }

  bool LinkedBack() const { return linkedBack_; }
  bool LinkBackClosed() const { return linkBackClosed_; }
  const std::vector<ReceivedMacro>& Results() const { return results_; }

  // Ends the conversation, which ends Resicrypt, and waits until Resicrypt has
  // closed its link back too (at most timeoutMs).
  void Disconnect(DWORD timeoutMs);

 private:
  static HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conversation, HSZ hsz1, HSZ hsz2,
                                    HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2);
  HDDEDATA OnCallback(UINT type, HCONV conversation, HSZ topic, HDDEDATA data);
  void Stop();

  DWORD instance_ = 0;
  HSZ ownServiceHandle_ = nullptr;
  HSZ topicHandle_ = nullptr;
  std::string ownService_;
  HCONV conversation_ = nullptr;      // ours, to Resicrypt
  HCONV linkConversation_ = nullptr;  // Resicrypt's, back to us
  bool linkedBack_ = false;
  bool linkBackClosed_ = false;
  std::vector<ReceivedMacro> results_;
};

// The service name Resicrypt derives from a caller's path: the file name up to
// the first place where its extension occurs (C:\Tools\Caller.exe gives Caller).
std::string ServiceNameOf(const std::string& path);

// This executable's full path.
std::string OwnExecutablePath();

}  // namespace resicrypt::examples
