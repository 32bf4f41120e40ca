#include "app/dde_service.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "engine/text_cipher.h"
#include "app/flag_scope.h"
#include "app/text_loss.h"

namespace resicrypt {

std::vector<std::string> SplitMacroLines(std::string_view text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    lines.emplace_back(text.substr(start, end - start));
    start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
  }
  return lines;
}

namespace {

// The file name of a path: the text after the last "\", "/" or drive colon.
std::string_view PathFileName(std::string_view path) {
  std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string DdeServiceName(std::string_view executablePath) {
  std::string_view name = PathFileName(executablePath);
  return std::string(name.substr(0, name.find('.')));
}

std::string CallerServiceName(std::string_view callerPath) {
  std::string_view name = PathFileName(callerPath);
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::string();  // no extension
  std::string_view extension = name.substr(dot);            // dot included
  return std::string(name.substr(0, name.find(extension)));
}

bool IsCallerProgramPath(std::string_view path) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  std::size_t names = 0;  // where the names after the root begin
  if (path.size() > 3 && lower(path[0]) >= 'a' && lower(path[0]) <= 'z' && path[1] == ':' &&
      path[2] == '\\') {
    names = 3;  // C:\...
  } else if (path.substr(0, 2) == "\\\\") {
    // \\server\share\..., neither name empty; not the device space \\.\ (nor \\?\,
    // refused below).
    const std::size_t server = path.find('\\', 2);
    const std::size_t share =
        server == std::string_view::npos ? server : path.find('\\', server + 1);
    if (share == std::string_view::npos || server == 2 || share == server + 1 ||
        path.substr(2, server - 2) == ".") {
      return false;
    }
    names = share + 1;
  } else {
    return false;
  }
  for (std::size_t k = 2; k < path.size(); ++k) {
    if (static_cast<unsigned char>(path[k]) < 32 ||
        std::string_view("\"*:<>?|").find(path[k]) != std::string_view::npos) {
      return false;
    }
  }
  constexpr std::string_view kExtension = ".exe";
  return path.size() >= names + kExtension.size() &&
         std::equal(kExtension.begin(), kExtension.end(), path.end() - kExtension.size(),
                    [&](char wanted, char c) { return lower(c) == wanted; });
}

std::string CallerProgramCommandLine(std::string_view path) {
  return "\"" + std::string(path) + "\"";
}

std::string DdeStartErrorText(unsigned code, bool outOfMemory) {
  char text[96];
  std::snprintf(text, sizeof text,
                outOfMemory ? "Error occurred when DDE ran out of memory ($0%x)"
                            : "An error returned from DDE  ($0%x)",
                code);
  return text;
}

void DdeService::DdeServerConv1Open() {
  state_.MacroMode = ConversationMode::None;
  form_.SetLabel3Caption("Connected");
  state_.MacroStep = 0;
}

void DdeService::DdeServerConv1ExecuteMacro(const std::vector<std::string>& lines) {
  if (lines.empty()) return;  // an empty macro has no first line
  const std::string& line = lines.front();
  // Echo steps write copies of the conversation only while Hide Password is off.
  const bool echo = !form_.HidePassword();
  if (echo) form_.MemoAppend(line);

  switch (state_.MacroStep) {
    case 0:
      TakeFileName(line, echo);
      break;
    case 1:
      TakeOperation(line, echo);
      break;
    case 2:
      if (!TakePassword(line, echo)) return;  // too short: the step is not taken
      break;
    default:
      TakeTextLine(line, echo);
      break;
  }
  // The count only tells the steps apart; past the text-line step it stops at its
  // largest value instead of overflowing into a file-name step again.
  if (state_.MacroStep < std::numeric_limits<std::int32_t>::max()) ++state_.MacroStep;
}

// Macro 1: the caller's executable. Its service receives the results.
void DdeService::TakeFileName(const std::string& line, bool echo) {
  state_.CallerPath = line;
  if (echo) form_.ReportAppend(line);
  backLink_.SetConnectModeManual();
  backLink_.SetServiceApplication(state_.CallerPath);
  backLink_.SetLink(CallerServiceName(state_.CallerPath), kDdeTopic);
  if (backLink_.OpenLink()) {
    form_.SetLabel4Caption("Call Connect");
  } else {
    // The conversation goes on; results are then dropped by the closed link.
    form_.ShowMessage("Disconnect");
  }
}

// Macro 2: "Open" encrypts, "Close" decrypts (letter case counts); any other word
// leaves the mode.
void DdeService::TakeOperation(const std::string& line, bool echo) {
  state_.OperationWord = line;
  if (state_.OperationWord == "Open") {
    state_.MacroMode = ConversationMode::Encrypt;
  } else if (state_.OperationWord == "Close") {
    state_.MacroMode = ConversationMode::Decrypt;
  }
  if (echo) form_.ReportAppend(line);
}

// Macro 3: the password, cut to the text cipher's 17 characters. Fewer than 3
// characters leave it in WorkingPassword but do not take the step.
bool DdeService::TakePassword(const std::string& line, bool echo) {
  std::string& password = form_.WorkingPassword();
  password = TextKey::UsedPart(line);
  if (!TextKey::From(password)) return false;
  if (echo) form_.ReportAppend(line);
  form_.SetEdit1Text(password);
  form_.SetEdit2Text(password);
  return true;
}

// Macro 4 and on: one text line; its result goes back to the caller. A line that
// would not come back from its cipher text is answered with the empty text,
// which no other non-empty line gets: neither the plain line nor a cipher text
// that decrypts to less goes back as if it were the line's cipher text.
void DdeService::TakeTextLine(const std::string& line, bool echo) {
  if (state_.MacroMode == ConversationMode::None) return;
  if (echo) form_.ReportAppend(line);
  const TextCipher cipher(form_.Workspace(), form_.Alphabet(), form_.WorkingPassword());
  std::string result;
  if (state_.MacroMode == ConversationMode::Decrypt) {
    result = cipher.Decrypt(line);
  } else if (ComesBack(cipher, line)) {
    result = cipher.Encrypt(line);
  }
  if (echo) form_.ReportAppend(result);
  backLink_.ExecuteMacro(result, false);  // a closed link drops it
}

void DdeService::DdeServerConv1Close() {
  state_.MacroStep = 0;
  state_.MacroMode = ConversationMode::None;
  form_.SetLabel3Caption("Disconnect");
  form_.SetLabel4Caption("Call Disconnect");
  backLink_.CloseLink();
  if (form_.HidePassword()) form_.ReportClear();
  form_.CloseWindow();
}

void DdeEventQueue::Pump() {
  if (running_ || ended_) return;
  while (!events_.empty() && !ended_) {
    if (gate_ != nullptr && gate_->Busy()) {
      if (!waitingForGate_) {
        waitingForGate_ = true;
        gate_->RunOrDefer([this] {
          waitingForGate_ = false;
          Pump();
        });
      }
      return;
    }
    DdeEvent event = std::move(events_.front());
    events_.pop_front();
    FlagScope scope(running_);
    Dispatch(event);
  }
}

void DdeEventQueue::Dispatch(const DdeEvent& event) {
  switch (event.kind) {
    case DdeEvent::Kind::Open:
      service_.DdeServerConv1Open();
      break;
    case DdeEvent::Kind::Macro:
      service_.DdeServerConv1ExecuteMacro(event.lines);
      break;
    case DdeEvent::Kind::Close:
      ended_ = true;
      events_.clear();
      service_.DdeServerConv1Close();
      break;
  }
}

}  // namespace resicrypt
