// The DDE conversation logic fed with random event sequences through its event
// queue, with an in-memory window, a recording back link and the cipher gate.
//
// Events can arrive in the middle of a file command (they wait behind the gate)
// and while the "Disconnect" message box runs its nested loop (they wait for the
// running handler). Whatever the order, the service must take the events one at a
// time in arrival order; a small model of the conversation, run over the events
// that were dispatched, must agree with the service's state after every step:
// the step never negative, replies only for text lines in encrypt or decrypt
// mode (each reply the text cipher's result for its line under the password in
// force), no copies of the conversation in the memo or the list while Hide
// Password is checked, nothing after the closing event.
//
// Input: a flag byte (bit 0 Hide Password, bit 1 the caller answers on the back
// link), then operations: 0 open, 1 close, 2-4 a macro (a length byte and that
// many bytes, split into lines as the DDE layer splits them), 5 the caller
// disappears (the back link drops), 6 a file command during which the next k
// operations arrive, 7 the next "Disconnect" message runs the next k operations.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/text_cipher.h"
#include "fake_form.h"
#include "app/cipher_gate.h"
#include "app/dde_service.h"

namespace {

using resicrypt::ConversationMode;
using resicrypt::DdeEvent;

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "dde conversation: %s\n", why);
  std::abort();
}

class Harness;

// The window; its message box can run operations as a nested event loop would.
class NestingForm final : public resicrypt::testing::FakeForm {
 public:
  explicit NestingForm(Harness& harness) : harness_(harness) {}
  void ShowMessage(const std::string& text) override;
  std::size_t nestedOperations = 0;

 private:
  Harness& harness_;
};

// DdeClientConv1: records every execute, checks the service's state at that moment.
class BackLink final : public resicrypt::DdeClientConversation {
 public:
  explicit BackLink(Harness& harness) : harness_(harness) {}
  void SetConnectModeManual() override {}
  void SetServiceApplication(const std::string&) override {}
  bool SetLink(const std::string&, const std::string& topic) override {
    if (topic != resicrypt::kDdeTopic) Fail("back link on another topic");
    open = false;
    return true;
  }
  bool OpenLink() override {
    open = answers;
    return open;
  }
  bool ExecuteMacro(const std::string& text, bool waitForReply) override;
  void CloseLink() override { open = false; }

  bool answers = true;
  bool open = false;
  std::vector<std::string> executed;  // every reply attempted, open link or not

 private:
  Harness& harness_;
};

// The conversation as the description has it, run over the dispatched events.
struct Model {
  std::int32_t step = 0;
  ConversationMode mode = ConversationMode::None;
  std::string password;
  bool ended = false;
  std::vector<std::string> replies;
  std::size_t memoLines = 0;    // echoed first lines
  std::size_t reportLines = 0;  // echoed list lines since the last clearing
};

class Harness {
 public:
  Harness(const std::uint8_t* data, std::size_t size)
      : form(*this), link(*this), data_(data), size_(size) {
    if (size_ > 0) {
      form.hidePassword = (data_[0] & 1) != 0;
      link.answers = (data_[0] & 2) != 0;
      next_ = 1;
    }
    initialMemo_ = form.memo.size();
    initialReport_ = form.report.size();
  }

  void Run() {
    while (next_ < size_) {
      Step();
      queue.Pump();
      Check();
    }
  }

  // One operation; inside a file command or a message box the events only queue.
  void Step() {
    const std::uint8_t op = Byte() % 8;
    switch (op) {
      case 0:
        Post({DdeEvent::Kind::Open, {}});
        break;
      case 1:
        Post({DdeEvent::Kind::Close, {}});
        break;
      case 2:
      case 3:
      case 4: {
        const std::size_t length = Byte();
        std::string text;
        while (text.size() < length && next_ < size_) text.push_back(static_cast<char>(Byte()));
        Post({DdeEvent::Kind::Macro, resicrypt::SplitMacroLines(text)});
        break;
      }
      case 5:
        link.open = false;
        break;
      case 6: {
        const std::size_t count = Byte() % 8;
        gate.Hold();
        for (std::size_t k = 0; k < count && next_ < size_; ++k) Step();
        gate.Release();
        break;
      }
      case 7:
        form.nestedOperations = Byte() % 8;
        break;
    }
  }

  void Nested(std::size_t count) {
    for (std::size_t k = 0; k < count && next_ < size_; ++k) Step();
  }

  // Checked inside ExecuteMacro: a reply only for a text line in a mode.
  void CheckReplyMoment() const {
    const auto& state = service.State();
    if (state.MacroMode == ConversationMode::None) Fail("reply without a mode");
    if (state.MacroStep < 3) Fail("reply before the password was taken");
  }

  resicrypt::CipherGate gate;
  NestingForm form;
  BackLink link;
  resicrypt::DdeService service{form, link};
  resicrypt::DdeEventQueue queue{service, &gate};

 private:
  std::uint8_t Byte() { return next_ < size_ ? data_[next_++] : 0; }

  void Post(DdeEvent event) {
    posted_.push_back(event);
    queue.Post(std::move(event));
    queue.Pump();  // a no-op while a handler or a file command runs
  }

  // Runs the model over the events dispatched since the last check and compares.
  void Check() {
    const std::size_t dispatched =
        model_.ended ? posted_.size() : posted_.size() - queue.PendingCount();
    for (; modelled_ < dispatched && modelled_ < posted_.size(); ++modelled_) {
      if (model_.ended) continue;  // dropped with the queue
      Apply(posted_[modelled_]);
    }
    if (model_.ended) modelled_ = posted_.size();
    const auto& state = service.State();
    if (state.MacroStep < 0) Fail("negative step");
    if (state.MacroStep != model_.step) Fail("step differs from the model");
    if (state.MacroMode != model_.mode) Fail("mode differs from the model");
    if (queue.Ended() != model_.ended || form.closed != model_.ended) Fail("end differs");
    if (form.workingPassword.size() > resicrypt::kMaxTextPasswordLength) Fail("password over 17");
    if (link.executed != model_.replies) {
      for (std::size_t k = 0; k < std::max(link.executed.size(), model_.replies.size()); ++k) {
        const auto shown = [k](const std::vector<std::string>& replies) {
          return k < replies.size() ? "\"" + replies[k] + "\"" : std::string("none");
        };
        std::fprintf(stderr, "reply %zu: %s, model %s\n", k, shown(link.executed).c_str(),
                     shown(model_.replies).c_str());
      }
      Fail("replies differ from the model");
    }
    if (form.memo.size() != initialMemo_ + model_.memoLines) Fail("memo echo differs");
    if (!model_.ended && form.report.size() != initialReport_ + model_.reportLines) {
      Fail("list echo differs");
    }
    if (model_.ended && form.hidePassword && !form.report.empty()) Fail("hidden list not emptied");
  }

  void Apply(const DdeEvent& event) {
    switch (event.kind) {
      case DdeEvent::Kind::Open:
        model_.mode = ConversationMode::None;
        model_.step = 0;
        return;
      case DdeEvent::Kind::Close:
        model_.step = 0;
        model_.mode = ConversationMode::None;
        model_.ended = true;
        return;
      case DdeEvent::Kind::Macro:
        break;
    }
    if (event.lines.empty()) return;
    const std::string& line = event.lines.front();
    const bool echo = !form.hidePassword;
    if (echo) ++model_.memoLines;
    if (model_.step == 0) {
      if (echo) ++model_.reportLines;
    } else if (model_.step == 1) {
      if (line == "Open") model_.mode = ConversationMode::Encrypt;
      if (line == "Close") model_.mode = ConversationMode::Decrypt;
      if (echo) ++model_.reportLines;
    } else if (model_.step == 2) {
      model_.password = line.substr(0, 17);
      if (model_.password.size() < 3) return;  // the step is not taken
      if (echo) ++model_.reportLines;
    } else if (model_.mode != ConversationMode::None) {
      if (echo) model_.reportLines += 2;
      // A line with a byte 255 among the bytes of its last block (length mod L of
      // them, or L), or with a NUL anywhere, would not come back: it gets the
      // empty reply. The key ends at a NUL, as the workspace copies it.
      const std::size_t L = std::min(model_.password.size(), model_.password.find('\0'));
      // A key of fewer than 3 bytes encrypts nothing, and loses nothing.
      const std::size_t tail = L == 0 || line.size() % L == 0 ? L : line.size() % L;
      const bool kept =
          L >= 3 &&
          (line.find('\xFF', line.size() - std::min(tail, line.size())) != std::string::npos ||
           line.find('\0') != std::string::npos);
      model_.replies.push_back(
          model_.mode == ConversationMode::Decrypt
              ? resicrypt::DecryptText(*workspace_, form.alphabet, model_.password, line)
          : kept ? std::string()
                 : resicrypt::EncryptText(*workspace_, form.alphabet, model_.password, line));
    }
    ++model_.step;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t next_ = 0;
  std::vector<DdeEvent> posted_;
  std::size_t modelled_ = 0;
  Model model_;
  std::size_t initialMemo_ = 0;
  std::size_t initialReport_ = 0;
  std::unique_ptr<resicrypt::CipherWorkspace> workspace_ =
      std::make_unique<resicrypt::CipherWorkspace>();
};

void NestingForm::ShowMessage(const std::string& text) {
  FakeForm::ShowMessage(text);
  const std::size_t count = nestedOperations;
  nestedOperations = 0;
  harness_.Nested(count);
}

bool BackLink::ExecuteMacro(const std::string& text, bool waitForReply) {
  if (waitForReply) Fail("the service waits for the caller");
  harness_.CheckReplyMoment();
  executed.push_back(text);
  return open;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto harness = std::make_unique<Harness>(data, size);
  harness->Run();
  return 0;
}
