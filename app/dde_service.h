// The DDE automation service: another program sends a fixed sequence of macros on
// a conversation with topic "DdeServerConv1" and gets each text line's cipher text
// or plain text back on a conversation that the service opens towards it.
//
//   macro 1: the full path of the caller's executable  ("File Name ")
//   macro 2: "Open" (encrypt) or "Close" (decrypt), exact case
//   macro 3: the password ("Cipher"), at least 3 characters, cut to 17
//   macro 4 and on: one text line each ("Strings"); each result goes back as one
//            macro to the caller's own service, topic "DdeServerConv1"
//
// This file is the portable half: the conversation state, the three handlers and
// the queue that runs the events on the window's thread one at a time. The DDEML
// half (ui/dde_win.*) delivers the events and implements the back link.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "app/cipher_gate.h"
#include "app/form_port.h"

namespace resicrypt {

// The topic of the server conversation, also used on the link back to the caller.
inline constexpr const char kDdeTopic[] = "DdeServerConv1";

enum class ConversationMode { None, Encrypt, Decrypt };

// The state of the DDE conversation. One for the whole program, not one per
// conversation: a second conversation resets it. The field names are the ones
// the callers' side of the conversation has always used for these values.
struct ConversationState {
  // Macros taken in the current conversation: 0 waits for the file name, 1 for
  // the operation, 2 for the password, 3 and more for text lines.
  std::int32_t MacroStep = 0;
  ConversationMode MacroMode = ConversationMode::None;
  std::string CallerPath;     // first macro: the caller's executable
  std::string OperationWord;  // second macro, as sent
};

// The link back to the caller (the window's DdeClientConv1).
class DdeClientConversation {
 public:
  virtual ~DdeClientConversation() = default;

  // Later service and topic changes do not connect by themselves.
  virtual void SetConnectModeManual() = 0;
  // The command line to start when the service does not answer.
  virtual void SetServiceApplication(const std::string& commandLine) = 0;
  // Closes any open link and stores the names; in manual mode it does not
  // connect and always succeeds.
  virtual bool SetLink(const std::string& service, const std::string& topic) = 0;
  // Connects if not connected; when that fails and a service application is set,
  // starts it (minimised, not activated) and connects once more. True when open.
  virtual bool OpenLink() = 0;
  // Sends the text with its terminating zero as an execute transaction in plain
  // text. With waitForReply false it does not wait for the answer. False when the
  // link is not open or the transaction could not be sent.
  virtual bool ExecuteMacro(const std::string& text, bool waitForReply) = 0;
  // Disconnects if connected and forgets service and topic.
  virtual void CloseLink() = 0;
};

// The lines of a macro's text. A line ends at CR, at LF, or at CR LF; a line
// break at the very end does not start another line, so "" has no lines and
// "a\r\n" has one.
std::vector<std::string> SplitMacroLines(std::string_view text);

// This program's DDE service name: the executable's file name cut before its
// first "." (C:\Apps\Resicrypt.exe gives Resicrypt).
std::string DdeServiceName(std::string_view executablePath);

// The service name the caller offers for the results: its file name up to the
// first place where the file name's extension text occurs (C:\Tools\Caller.exe
// gives Caller, C:\A\x.exe.exe gives x). A file name without an extension gives
// the empty name.
std::string CallerServiceName(std::string_view callerPath);

// Whether a caller path is one the back link may start when the caller does not
// answer: a full path (C:\... or \\server\share\...) of a file named *.exe in
// any letter case, holding no character a Windows path cannot (quotes, wildcards,
// a second colon, control bytes). Whether the file is there is the platform's
// question. A caller path is never taken as a command line.
bool IsCallerProgramPath(std::string_view path);

// The command line that starts such a path and nothing else: the path quoted,
// without arguments.
std::string CallerProgramCommandLine(std::string_view path);

// The error shown when the DDE layer cannot be initialised at start: the layer's
// error code in hexadecimal, with a text of its own when it ran out of memory.
std::string DdeStartErrorText(unsigned code, bool outOfMemory);

// The three handlers of the server conversation DdeServerConv1, working on the
// window through the form port and on the back link.
class DdeService {
 public:
  DdeService(FormPort& form, DdeClientConversation& backLink) : form_(form), backLink_(backLink) {}

  // A client's connection was accepted and confirmed.
  void DdeServerConv1Open();
  // The client sent a macro, split into lines; only the first line is used. A
  // macro without any line is ignored: nothing is echoed and no step is taken.
  void DdeServerConv1ExecuteMacro(const std::vector<std::string>& lines);
  // The client disconnected: state reset, back link closed, and the window closed,
  // which ends the program.
  void DdeServerConv1Close();

  const ConversationState& State() const { return state_; }

 private:
  void TakeFileName(const std::string& line, bool echo);
  void TakeOperation(const std::string& line, bool echo);
  bool TakePassword(const std::string& line, bool echo);
  void TakeTextLine(const std::string& line, bool echo);

  FormPort& form_;
  DdeClientConversation& backLink_;
  ConversationState state_;
};

// One event of the server conversation, as the DDE layer delivers it.
struct DdeEvent {
  enum class Kind { Open, Macro, Close };
  Kind kind = Kind::Macro;
  std::vector<std::string> lines;  // Macro only
};

// Runs the service's events on the window's thread, strictly one after another
// and in arrival order.
//
// The DDE layer acknowledges every readable macro at once and posts the event
// here; the work runs later, outside the DDE layer's callback, where connecting
// the back link cannot stall. A handler that opens a nested event loop (the
// "Disconnect" message box) does not let the next event start: it waits until
// that handler has returned. While a file command runs, the events wait behind
// the cipher gate and run, in order, when it ends: the text lines use the one
// cipher workspace, and keeping every event in line keeps the conversation's
// order. After the closing event nothing more runs; the window is going away.
class DdeEventQueue {
 public:
  // gate may be null (no file commands to wait for).
  DdeEventQueue(DdeService& service, CipherGate* gate) : service_(service), gate_(gate) {}

  void Post(DdeEvent event) { events_.push_back(std::move(event)); }
  // Runs the waiting events, unless a handler is already running further up the
  // stack (it goes on with them when it returns) or a file command holds the gate
  // (the gate runs them when the command ends).
  void Pump();

  std::size_t PendingCount() const { return events_.size(); }
  bool Ended() const { return ended_; }

 private:
  void Dispatch(const DdeEvent& event);

  DdeService& service_;
  CipherGate* gate_;
  std::deque<DdeEvent> events_;
  bool running_ = false;
  bool waitingForGate_ = false;
  bool ended_ = false;
};

}  // namespace resicrypt
