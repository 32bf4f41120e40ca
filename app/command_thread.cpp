#include "app/command_thread.h"

#include <optional>
#include <utility>

namespace resicrypt {

// What the command's thread sees of the window: each call goes into the queue.
class CommandThread::Mailbox final : public FileCommandView {
 public:
  explicit Mailbox(CommandThread& owner) : owner_(owner) {}

  void ShowEdit1() override {
    owner_.handOff_.Post([this] { owner_.window_.ShowEdit1(); });
  }
  void ReportAppend(const std::string& line) override {
    owner_.handOff_.Post([this, line] { owner_.window_.ReportAppend(line); });
  }
  void ShowProgress(ProgressBar bar, bool visible) override {
    owner_.handOff_.Post([this, bar, visible] { owner_.window_.ShowProgress(bar, visible); });
  }
  void SetProgressRange(ProgressBar bar, int minimum, int maximum) override {
    owner_.handOff_.Post(
        [this, bar, minimum, maximum] { owner_.window_.SetProgressRange(bar, minimum, maximum); });
  }
  void SetProgressPosition(ProgressBar bar, int position) override {
    owner_.handOff_.Post(
        [this, bar, position] { owner_.window_.SetProgressPosition(bar, position); });
  }
  void ShowMessage(const std::string& text) override {
    owner_.handOff_.Post([this, text] { owner_.window_.ShowMessage(text); });
  }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    return owner_.Ask([this, text, caption] { return owner_.window_.AskOkCancel(text, caption); });
  }
  void BlockTurn() override {
    if (owner_.stopRequested_) throw CommandStopped();
  }

 private:
  CommandThread& owner_;
};

// A command sends the window several calls per file (report lines, bars): one
// wake-up each would cost a message round trip per call (under Wine a trip
// through its server), and 10,000 small files made the window crawl. The calls
// that wait run together for up to this long, then the window's own messages
// get their turn.
constexpr auto kCallBatch = std::chrono::milliseconds(8);

CommandThread::CommandThread(FileCommandView& window, std::function<void()> wake)
    : window_(window),
      handOff_(std::move(wake), kCallBatch),
      mailbox_(std::make_unique<Mailbox>(*this)) {}

CommandThread::~CommandThread() { Abandon(); }

void CommandThread::Start(Body body, std::function<void()> finished) {
  if (thread_.joinable()) thread_.join();  // a body that ended, its finish already run
  stopRequested_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = false;
  }
  handOff_.Open();
  thread_ = std::thread([this, body = std::move(body), finished = std::move(finished)]() mutable {
    std::exception_ptr failure;
    try {
      body(*mailbox_);
    } catch (...) {
      failure = std::current_exception();
    }
    handOff_.Post([this, failure, finished = std::move(finished)] {
      // The body has returned; only the end of its thread is left to wait for.
      thread_.join();
      // The finish runs also after a failure, and its own failure (a held-back
      // event that the finish lets run) comes out of Drain as well, unless the
      // body's came first.
      std::exception_ptr error = failure;
      try {
        if (finished) finished();
      } catch (...) {
        if (!error) error = std::current_exception();
      }
      if (error) std::rethrow_exception(error);
    });
  });
}

bool CommandThread::Ask(std::function<bool()> question) {
  auto answer = std::make_shared<std::optional<bool>>();
  handOff_.Post([this, question = std::move(question), answer] {
    const bool ok = question();
    std::lock_guard<std::mutex> lock(mutex_);
    *answer = ok;
    answered_.notify_all();
  });
  std::unique_lock<std::mutex> lock(mutex_);
  answered_.wait(lock, [&] { return answer->has_value() || abandoned_; });
  return answer->has_value() ? **answer : true;
}

void CommandThread::Drain() { handOff_.Drain(); }

void CommandThread::Abandon() {
  handOff_.Close();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    abandoned_ = true;
    answered_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

}  // namespace resicrypt
