// A file command on its own thread: what it tells the window arrives in order on
// the window's thread only, questions wait for their answer, and a window that
// goes away never leaves the command waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/cipher_gate.h"
#include "app/command_thread.h"
#include "app/window_hand_off.h"
#include "app/file_commands.h"
#include "tests/container/container_test_support.h"

namespace resicrypt {
namespace {

using resicrypt::testing::FakeForm;
using namespace containertest;

// The fake window, which fails every call that comes from another thread than
// the one that made it (the window's thread).
class OneThreadForm : public FakeForm {
 public:
  void ShowEdit1() override { Check(), FakeForm::ShowEdit1(); }
  void ReportAppend(const std::string& line) override { Check(), FakeForm::ReportAppend(line); }
  void ShowProgress(ProgressBar bar, bool visible) override {
    Check(), FakeForm::ShowProgress(bar, visible);
  }
  void SetProgressRange(ProgressBar bar, int minimum, int maximum) override {
    Check(), FakeForm::SetProgressRange(bar, minimum, maximum);
  }
  void SetProgressPosition(ProgressBar bar, int position) override {
    Check(), FakeForm::SetProgressPosition(bar, position);
  }
  void ShowMessage(const std::string& text) override { Check(), FakeForm::ShowMessage(text); }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    Check();
    return FakeForm::AskOkCancel(text, caption);
  }
  std::atomic<int> foreignCalls{0};

 private:
  void Check() {
    if (std::this_thread::get_id() != owner_) ++foreignCalls;
  }
  std::thread::id owner_ = std::this_thread::get_id();
};

// The window's message loop: drains whenever woken, until the command has ended.
void RunUntilFinished(CommandThread& thread, std::atomic<int>& wakes, const bool& finished) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!finished && std::chrono::steady_clock::now() < deadline) {
    if (wakes.exchange(0) > 0) thread.Drain();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_TRUE(finished) << "the command did not end";
}

// Runs the prepared file command on the command thread until it has ended.
void RunJob(CommandThread& thread, std::atomic<int>& wakes, const std::optional<FileJob>& job,
            CipherWorkspace& workspace) {
  ASSERT_TRUE(job);
  bool finished = false;
  thread.Start([&](FileCommandView& view) { RunFileJob(*job, workspace, view); },
               [&finished] { finished = true; });
  RunUntilFinished(thread, wakes, finished);
}

TEST(CommandThread, FileCommandsReportAsInPlaceWithEveryCallOnTheWindowsThread) {
  TempFolder folder;
  WriteBytes(folder.Path("a.bin"), RandomBytes(300000, 1));
  WriteBytes(folder.Path("b.txt"), "twelve bytes");
  const std::vector<std::string> sources = {folder.Path("a.bin"), folder.Path("b.txt")};

  // In place, as the tests of the commands run them.
  auto inPlace = NewForm("secret");
  Encrypt(*inPlace, sources, folder.Path("one.yal"));

  auto form = std::make_unique<OneThreadForm>();
  form->edit1 = form->edit2 = "secret";
  form->report.clear();
  form->openDialogAnswers.push_back(sources);
  form->saveDialogAnswers.push_back(folder.Path("two.yal"));
  std::atomic<int> wakes{0};
  CommandThread thread(*form, [&wakes] { ++wakes; });
  RunJob(thread, wakes, PrepareEncryptFile(*form), form->workspace);

  EXPECT_EQ(form->foreignCalls.load(), 0);
  EXPECT_EQ(form->report, inPlace->report);
  EXPECT_EQ(form->progress1.updates, inPlace->progress1.updates);
  EXPECT_EQ(form->progress2.position, inPlace->progress2.position);
  EXPECT_FALSE(form->progress2.visible);
  EXPECT_EQ(ReadBytes(folder.Path("two.yal")).size(), ReadBytes(folder.Path("one.yal")).size());

  // Decrypt File under a password of the same length but other bytes: the
  // question comes to the window's thread, and its answer (stop) reaches the
  // command, which then unpacks nothing.
  form->edit1 = form->edit2 = "secreT";
  form->questionAnswers = {true};
  form->openDialogAnswers.push_back(std::vector<std::string>{folder.Path("two.yal")});
  RunJob(thread, wakes, PrepareDecryptFile(*form), form->workspace);
  EXPECT_EQ(form->foreignCalls.load(), 0);
  EXPECT_EQ(form->questions.size(), 1u);
  EXPECT_TRUE(form->edit1Visible);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.bin", "b.txt", "one.yal", "two.yal"}));
}

// Escape or a close stopped a file command: it stops at its next block turn as a
// failed run stops, and the next file command runs to its end.
TEST(CommandThread, AStoppedFileCommandLeavesNothingAndTheNextRunsToItsEnd) {
  TempFolder folder;
  WriteBytes(folder.Path("a.txt"), "twelve bytes");
  OneThreadForm form;
  form.edit1 = form.edit2 = "secret";
  std::atomic<int> wakes{0};
  CommandThread thread(form, [&wakes] { ++wakes; });
  const std::string box = folder.Path("box.yal");
  for (const bool stop : {true, false}) {
    form.openDialogAnswers.push_back(std::vector<std::string>{folder.Path("a.txt")});
    form.saveDialogAnswers.push_back(box);
    const std::optional<FileJob> job = PrepareEncryptFile(form);
    ASSERT_TRUE(job);
    std::atomic<bool> asked{false};
    bool finished = false;
    thread.Start(
        [&](FileCommandView& view) {
          while (!asked) std::this_thread::yield();  // the question came first
          RunFileJob(*job, form.workspace, view);
        },
        [&finished] { finished = true; });
    if (stop) thread.RequestStop();
    asked = true;
    RunUntilFinished(thread, wakes, finished);
    EXPECT_EQ(form.report.back(), stop ? "Stopped: " + box + " left as it was"
                                       : "Close Long Byte  = " + std::to_string(
                                                                    ReferenceCipher("secret").N()));
    const std::vector<std::string> names = {"a.txt", "box.yal"};
    EXPECT_EQ(folder.Names(), std::vector<std::string>(names.begin(), names.end() - stop));
  }
}

// The hand-off runs one call per wake-up, in order: a call that throws still
// wakes the window for the calls that wait behind it, a box's loop (a Drain
// inside a call) runs none of them, and Close drops the waiting ones.
TEST(WindowHandOff, EveryWaitingCallRunsOnceInOrderUnlessClosed) {
  int wakes = 0;
  std::vector<std::string> ran;
  WindowHandOff handOff([&wakes] { ++wakes; });
  const auto windowLoop = [&] {
    while (wakes > 0) {
      --wakes;
      try {
        handOff.Drain();
      } catch (const std::runtime_error& error) {
        ran.push_back(error.what());
      }
    }
  };
  handOff.Post([] { throw std::runtime_error("failed"); });
  handOff.Post([&ran] { ran.push_back("second"); });
  handOff.Post([&ran] { ran.push_back("third"); });
  windowLoop();
  handOff.Post([&] { ran.push_back("box"), handOff.Drain(), ran.push_back("box closed"); });
  handOff.Post([&ran] { ran.push_back("after the box"); });
  windowLoop();
  handOff.Post([&ran] { ran.push_back("dropped"); });
  handOff.Close();
  handOff.Post([&ran] { ran.push_back("dropped too"); });
  handOff.Open();
  handOff.Post([&ran] { ran.push_back("after"); });
  windowLoop();
  EXPECT_EQ(ran, (std::vector<std::string>{"failed", "second", "third", "box", "box closed",
                                            "after the box", "after"}));
}

TEST(CommandThread, AnErrorComesOutOfDrainAfterTheCallsBeforeItAndTheCommandStillEnds) {
  OneThreadForm form;
  std::atomic<int> wakes{0};
  CommandThread thread(form, [&wakes] { ++wakes; });
  bool finished = false;
  thread.Start(
      [](FileCommandView& view) {
        view.ReportAppend("before");
        throw std::runtime_error("Disk full");
      },
      [&finished] { finished = true; });
  std::string error;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!finished && std::chrono::steady_clock::now() < deadline) {
    try {
      thread.Drain();
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  EXPECT_TRUE(finished);
  EXPECT_EQ(error, "Disk full");
  EXPECT_EQ(form.report.back(), "before");
  EXPECT_FALSE(thread.Running());
}

TEST(CommandThread, AWindowThatGoesAwayAnswersAWaitingQuestionWithStop) {
  OneThreadForm form;
  CommandThread thread(form, [] {});
  std::atomic<int> answer{-1};
  bool finished = false;
  thread.Start(
      [&answer](FileCommandView& view) {
        answer = view.AskOkCancel("Password is wrong", "Change Password");
      },
      [&finished] { finished = true; });
  while (!thread.Running()) std::this_thread::yield();
  thread.Abandon();  // never drained: the question was never shown
  EXPECT_EQ(answer.load(), 1);
  EXPECT_TRUE(form.questions.empty());
  EXPECT_FALSE(finished);
}

// The window's thread: its posted messages, run by its loop and by the loop of
// every box it shows until done() holds; an error that escapes a message is what
// the error box would show.
struct WindowLoop {
  std::mutex mutex;
  std::deque<std::function<void()>> posted;
  std::vector<std::string> errors;
  void Post(std::function<void()> message) {
    std::lock_guard<std::mutex> lock(mutex);
    posted.push_back(std::move(message));
  }
  bool RunUntil(const std::function<bool()>& done) {
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
      std::function<void()> next;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (!posted.empty()) next = std::move(posted.front()), posted.pop_front();
      }
      try {
        if (!next) {
          if (done()) return true;
          std::this_thread::yield();
        } else {
          next();
        }
      } catch (const std::exception& error) {
        errors.push_back(error.what());
      }
    }
    return false;
  }
};

// A message box stays open until the command has done all it does without the
// window; a question is answered at once, as the command waits for it.
class ModalBoxForm : public OneThreadForm {
 public:
  ModalBoxForm(WindowLoop& loop, const std::atomic<bool>& ended) : loop_(loop), ended_(ended) {}
  void ShowMessage(const std::string& text) override {
    OneThreadForm::ShowMessage(text);
    loop_.RunUntil([this] { return ended_.load(); });
    loop_.RunUntil([] { return true; });
  }
  bool AskOkCancel(const std::string& text, const std::string& caption) override {
    loop_.RunUntil([] { return true; });
    return OneThreadForm::AskOkCancel(text, caption);
  }

 private:
  WindowLoop& loop_;
  const std::atomic<bool>& ended_;
};

// Every way a file command ends lets go of the window: the events that came
// meanwhile (a click that fails, a click, a close) run, and a later click at once.
TEST(CommandThread, EveryEndingOfAFileCommandLetsGoOfTheWindow) {
  TempFolder folder;
  WriteBytes(folder.Path("a.txt"), "twelve bytes");
  Encrypt(*NewForm("secret"), {folder.Path("a.txt")}, folder.Path("box.yal"));
  const std::vector<std::string> kLength{" Password's length is wrong."};
  const struct {
    const char *ending, *password, *container;
    std::deque<bool> answers;
    bool fails;
    std::vector<std::string> messages;
    const char* error;
  } kCases[] = {
      {"wrong length", "secret1", "box.yal", {}, false, kLength, "Stopped"},
      {"wrong password, OK", "secreT", "box.yal", {true}, false, {}, "Stopped"},
      {"wrong password, Cancel", "secreT", "box.yal", {false}, false, {}, "Stopped"},
      {"failed read", "secret", "gone.yal", {}, false, {}, "Stopped"},
      {"failure after a box", "secret1", "box.yal", {}, true, kLength, "Disk full"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.ending);
    WindowLoop loop;
    std::atomic<bool> bodyEnded{false};
    ModalBoxForm form(loop, bodyEnded);
    form.edit1 = form.edit2 = c.password;
    form.questionAnswers = c.answers;
    form.openDialogAnswers.push_back(std::vector<std::string>{folder.Path(c.container)});
    CipherGate gate;
    std::vector<std::string> log;
    CommandThread* self = nullptr;
    CommandThread thread(form, [&] { loop.Post([&] { self->Drain(); }); });
    self = &thread;
    std::optional<FileJob> job = PrepareDecryptFile(form);
    ASSERT_TRUE(job);
    gate.Hold();
    thread.Start(
        [&](FileCommandView& view) {
          for (const char* event : {"fails", "click", "close"}) {
            loop.Post([&, event] {
              gate.RunOrDefer([&, event] {
                if (event == std::string("fails")) throw std::runtime_error("Stopped");
                log.push_back(event);
              });
            });
          }
          RunFileJob(*job, form.workspace, view);
          bodyEnded = true;
          if (c.fails) throw std::runtime_error("Disk full");
        },
        [&] { log.push_back("finished"), gate.Release(); });
    EXPECT_TRUE(loop.RunUntil([&] { return !gate.Busy(); })) << "the window froze";
    EXPECT_EQ(form.messages, c.messages);
    EXPECT_EQ(loop.errors, std::vector<std::string>{c.error});
    EXPECT_TRUE(gate.RunOrDefer([&] { log.push_back("later click"); }));
    EXPECT_EQ(log, (std::vector<std::string>{"finished", "click", "close", "later click"}));
  }
}

// The calls waiting when the window is woken: one per wake-up without a batch
// time, all of them within one; either way in order, with exactly one wake-up
// asked for while calls wait, also after a call that throws.
TEST(WindowHandOff, ABatchRunsTheWaitingCallsInOrderAndAsksForOneWakeUpWhileAnyWait) {
  const struct {
    const char* name;
    std::chrono::steady_clock::duration batch;
    std::vector<std::string> afterFirstDrain;
    int wakesAfterFirstDrain;
  } kCases[] = {
      {"one per wake-up", {}, {"a"}, 2},
      {"a batch", std::chrono::hours(1), {"a", "b", "c"}, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    int wakes = 0;
    WindowHandOff handOff([&wakes] { ++wakes; }, c.batch);
    std::vector<std::string> ran;
    for (const char* call : {"a", "b", "c"}) handOff.Post([&ran, call] { ran.push_back(call); });
    EXPECT_EQ(wakes, 1);
    handOff.Drain();
    EXPECT_EQ(ran, c.afterFirstDrain);
    EXPECT_EQ(wakes, c.wakesAfterFirstDrain);
    while (ran.size() < 3 && wakes < 10) handOff.Drain();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "b", "c"}));
    handOff.Drain();  // none left: no further wake-up
    const int settled = wakes;
    handOff.Post([] { throw std::runtime_error("Disk full"); });
    handOff.Post([&ran] { ran.push_back("d"); });
    EXPECT_EQ(wakes, settled + 1);
    EXPECT_THROW(handOff.Drain(), std::runtime_error);
    EXPECT_EQ(wakes, settled + 2);  // "d" waits, and the window is woken for it
    handOff.Drain();
    EXPECT_EQ(ran.back(), "d");
  }
}

}  // namespace
}  // namespace resicrypt
