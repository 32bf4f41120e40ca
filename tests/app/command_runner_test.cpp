// The window's way of running its commands, driven natively: the gate in front
// of every cipher-starting event, the file command's body on its own thread, the
// held files, the stop question and the bars' pace at the command's end.
#include "app/command_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/container/container_test_support.h"

namespace resicrypt {
namespace {

using namespace containertest;

// The fake window; whileAsking runs inside the stop question, as the box's own
// message loop lets the window's events through.
class AskingForm final : public FakeForm {
 public:
  std::function<void()> whileAsking;
  bool AskYesNo(const std::string& text) override {
    if (whileAsking) whileAsking();
    return FakeForm::AskYesNo(text);
  }
};

// The window's side: a fake form, and a loop that runs the command's calls when
// woken, as the window's message loop does. The bars' frame is longer than any
// test: every move of a bar after its first waits.
class CommandRunnerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!released_) release_.set_value();  // a body still waiting must not keep the runner
    runner_.reset();
  }
  void Start(FormCommands commands) {
    commands_ = std::move(commands);
    runner_.emplace(*form_, commands_, [this] { ++wakes_; }, std::chrono::hours(1));
  }
  // Runs the window's loop until the gate is free; what escapes a call is kept
  // as the error box would show it.
  void RunUntilIdle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (runner_->Gate().Busy() && std::chrono::steady_clock::now() < deadline) {
      try {
        if (wakes_.exchange(0) > 0) runner_->DrainCommandCalls();
      } catch (const std::exception& error) {
        errors_.push_back(error.what());
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_FALSE(runner_->Gate().Busy()) << "the file command did not end";
  }
  // A file command whose body waits until the test lets it end (Release),
  // taking its block turns meanwhile.
  FileFormCommand WaitingFileCommand(const std::string& name) {
    return [this, name](FormPort&) -> CommandThread::Body {
      log_.push_back(name + " begins");
      return [this, name](FileCommandView& view) {
        try {
          while (released_future_.wait_for(std::chrono::milliseconds(1)) !=
                 std::future_status::ready) {
            view.BlockTurn();
          }
          log_.push_back(name + " ends");
        } catch (const CommandStopped&) {
          log_.push_back(name + " stopped");
        }
      };
    };
  }
  void Release() {
    released_ = true;
    release_.set_value();
  }

  std::unique_ptr<AskingForm> form_ = std::make_unique<AskingForm>();
  std::vector<std::string> log_, errors_;
  std::promise<void> release_;
  std::shared_future<void> released_future_ = release_.get_future().share();
  bool released_ = false;
  FormCommands commands_;
  std::atomic<int> wakes_{0};
  std::optional<CommandRunner> runner_;
};

// Clicks, labels and a second file command that come while a file command runs
// wait for it and then run in arrival order; a close comes again after them.
TEST_F(CommandRunnerTest, CipherEventsWaitForTheRunningFileCommandInArrivalOrder) {
  FormCommands commands;
  commands.button2Click = WaitingFileCommand("encrypt file");
  commands.button1Click = [this](FormPort&) -> CommandThread::Body {
    log_.push_back("decrypt file");
    return {};
  };
  commands.label1Click = [this](FormPort&) { log_.push_back("label1"); };
  commands.button4Click = [this](FormPort&) { log_.push_back("encrypt clipboard"); };
  Start(std::move(commands));
  runner_->RunCipherCommand(commands_.label1Click);  // nothing runs: at once
  runner_->RunFileButton(CipherDirection::kEncrypt, commands_.button2Click);
  runner_->RunCipherCommand(commands_.label1Click);
  runner_->RunFileButton(CipherDirection::kDecrypt, commands_.button1Click);
  form_->questionAnswers = {false};  // the stop question: No
  EXPECT_FALSE(runner_->MayClose([this] { log_.push_back("close"); }));
  runner_->RunCipherCommand(commands_.button4Click);
  EXPECT_EQ(log_, (std::vector<std::string>{"label1", "encrypt file begins"}));
  Release();
  RunUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"label1", "encrypt file begins", "encrypt file ends",
                                            "label1", "decrypt file", "close",
                                            "encrypt clipboard"}));
  EXPECT_TRUE(runner_->MayClose([this] { log_.push_back("close again"); }));
  EXPECT_EQ(log_.back(), "encrypt clipboard");
}

// Close or Escape while a file command runs asks whether to stop it: No lets it
// run on, Yes stops it at its next block turn. Nothing is asked while no file
// command runs, nor while the question is open already.
TEST_F(CommandRunnerTest, TheStopQuestionStopsTheCommandOnYesOnly) {
  Start({});
  runner_->AskToStopFileCommand();
  EXPECT_TRUE(form_->questions.empty()) << "nothing runs: nothing to ask";
  form_->questionAnswers = {false, true};
  runner_->RunFileCommand(WaitingFileCommand("encrypt file"));
  form_->whileAsking = [this] { runner_->AskToStopFileCommand(); };  // a second Escape
  runner_->AskToStopFileCommand();
  EXPECT_TRUE(runner_->FileCommandRunning()) << "No: it runs on";
  runner_->AskToStopFileCommand();
  RunUntilIdle();
  EXPECT_EQ(log_, (std::vector<std::string>{"encrypt file begins", "encrypt file stopped"}));
  ASSERT_EQ(form_->questions.size(), 2u);
  EXPECT_EQ(form_->questions[0].first, "A file command is running. Stop it?");
}

// A file command that fails, in its checks or on its thread, lets go of the gate,
// and the positions its bars held back reach them.
TEST_F(CommandRunnerTest, AFileCommandEndedByAnErrorLetsGoAndLeavesNoPositionBehind) {
  FormCommands commands;
  commands.button1Click = [](FormPort&) -> CommandThread::Body {
    throw std::runtime_error("No dialog");
  };
  commands.button2Click = [](FormPort&) -> CommandThread::Body {
    return [](FileCommandView& view) {
      view.SetProgressRange(ProgressBar::Files, 1, 1000);
      view.SetProgressPosition(ProgressBar::Files, 100);
      view.SetProgressPosition(ProgressBar::Files, 600);
      throw std::runtime_error("Disk full");
    };
  };
  Start(std::move(commands));
  EXPECT_THROW(runner_->RunFileButton(CipherDirection::kDecrypt, commands_.button1Click),
               std::runtime_error);
  EXPECT_FALSE(runner_->Gate().Busy());
  runner_->RunFileButton(CipherDirection::kEncrypt, commands_.button2Click);
  RunUntilIdle();
  EXPECT_EQ(errors_, std::vector<std::string>{"Disk full"});
  EXPECT_EQ(form_->progress2.position, 600);
  EXPECT_EQ(form_->progress2.updates, 2);
}

// Files from the command line wait in the report list for the file command of
// their direction, which then needs no open dialog, until a command takes them; a
// container also after a try with a wrong password.
TEST_F(CommandRunnerTest, HeldFilesTakeTheOpenDialogsPlaceOnce) {
  TempFolder folder;
  const std::string a = folder.Path("a.txt");
  WriteBytes(a, "alpha beta");
  const std::string container = folder.Path("held.yal");
  Start(DefaultFormCommands());
  const auto click = [this](CipherDirection direction) {
    runner_->RunFileButton(direction, direction == CipherDirection::kEncrypt
                                          ? commands_.button2Click
                                          : commands_.button1Click);
    RunUntilIdle();
  };
  runner_->HoldFiles({a});
  EXPECT_EQ(form_->report, std::vector<std::string>{a});
  click(CipherDirection::kDecrypt);  // a held file is no container: Decrypt File asks
  EXPECT_EQ(form_->openDialogFilters.size(), 1u);
  form_->saveDialogAnswers.push_back(container);
  click(CipherDirection::kEncrypt);
  EXPECT_EQ(form_->openDialogFilters.size(), 1u) << "the held file is packed";
  EXPECT_EQ(form_->saveDialogFolders, std::vector<std::string>{folder.Folder()});
  EXPECT_EQ(form_->report.at(1), "File Byte Amount = 10");
  click(CipherDirection::kEncrypt);  // taken: the next Encrypt File asks
  EXPECT_EQ(form_->openDialogFilters.size(), 2u);

  fs::remove(a);
  runner_->HoldFiles({container});
  const std::string key = form_->edit1;  // a wrong password keeps it held
  for (const std::string& password : {std::string("wrong password"), key}) {
    form_->edit1 = form_->edit2 = password;
    click(CipherDirection::kDecrypt);
  }
  form_->messages.clear();
  EXPECT_EQ(form_->openDialogFilters.size(), 2u) << "the held container is unpacked";
  EXPECT_EQ(ReadBytes(a), "alpha beta");

  const std::vector<std::string> report = form_->report;
  const std::string subfolder = folder.Path("sub");
  fs::create_directory(subfolder);
  runner_->HoldFiles({a, subfolder});
  EXPECT_EQ(form_->messages, std::vector<std::string>{subfolder + " is a folder; drop files"});
  EXPECT_EQ(form_->report, report) << "nothing was held";
  click(CipherDirection::kEncrypt);
  EXPECT_EQ(form_->openDialogFilters.size(), 3u);
  EXPECT_TRUE(errors_.empty());
}

}  // namespace
}  // namespace resicrypt
