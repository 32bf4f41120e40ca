// How the window runs its commands.
//
// Every event that starts a cipher operation (a button or label click, a drop,
// the files held from the command line) goes through the gate: while a file
// command runs, it waits. A file command does its checks and dialogs on the
// window's thread and its packing or unpacking on the command thread, whose calls
// reach the window through the bars' pace; the gate stays held until the command
// has ended. Files given on the command line are held for the next file command
// of their direction, and held again when that command refused the password.
// Closing the window or Escape while a file command runs asks whether to stop it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/cipher_gate.h"
#include "app/command_thread.h"
#include "app/form_commands.h"
#include "app/form_port.h"
#include "app/progress_pace.h"
#include "engine/keys.h"

namespace resicrypt {

class CommandRunner {
 public:
  // form: the window, used on its thread only. commands: the window's commands,
  // kept by the caller for as long as the runner lives. wake: makes the window's
  // thread call DrainCommandCalls soon; it may be called from any thread and must
  // not wait for the window. frame: the shortest time between two positions
  // painted on a bar (ProgressPace).
  CommandRunner(FormPort& form, const FormCommands& commands, std::function<void()> wake,
                ProgressPace::Clock::duration frame);
  CommandRunner(const CommandRunner&) = delete;
  CommandRunner& operator=(const CommandRunner&) = delete;

  // Cipher-starting events go through the gate: the DDE service uses it too.
  CipherGate& Gate() { return gate_; }
  bool FileCommandRunning() const { return commandThread_.Running(); }

  // A clipboard, memo or label command: now, or once the running file command ends.
  void RunCipherCommand(const FormCommand& command);
  // The checks and dialogs run here, the packing or unpacking on the command's own
  // thread; the gate stays held until it has ended.
  void RunFileCommand(const FileFormCommand& command);
  // Button1Click and Button2Click: the held files where they are for direction.
  void RunFileButton(CipherDirection direction, const FileFormCommand& command);
  // Files dropped on the window, their names usable: the newest choice of files
  // wins over any held ones.
  void DropFiles(std::vector<std::string> files);
  // Files given on the command line, held as a drop would give them until a
  // command takes them; they stand in the report list. A folder among them is
  // refused with a message and nothing is held.
  void HoldFiles(std::vector<std::string> files);

  // Close or Escape while a file command runs: Yes stops it, No lets it finish.
  void AskToStopFileCommand();
  // The window is asked to close: true when it may close now. While a file
  // command runs (after the stop question) it may not; closeAgain runs once the
  // command has ended.
  bool MayClose(std::function<void()> closeAgain);

  // The window's thread, when woken: runs the next call the command queued.
  void DrainCommandCalls() { commandThread_.Drain(); }
  // The window's thread, when the window goes away (CommandThread::Abandon).
  void Abandon() { commandThread_.Abandon(); }

 private:
  // The window as a running file command sees it: the bars through their pace, and
  // a refused password (ShowEdit1) holds the files the command took again.
  class CommandView final : public PacedBars {
   public:
    CommandView(CommandRunner& runner, ProgressPace::Clock::duration frame)
        : PacedBars(runner.form_, frame), runner_(runner) {}
    void ShowEdit1() override;

   private:
    CommandRunner& runner_;
  };

  // On the window's thread once the command's thread has ended.
  void EndFileCommand();

  FormPort& form_;
  const FormCommands& commands_;
  CipherGate gate_;
  CommandView commandView_;
  CommandThread commandThread_;
  std::vector<std::string> heldFiles_;  // from the command line, until a command takes them
  std::vector<std::string> heldInUse_;  // taken by the running file command
  bool askingToStop_ = false;
};

}  // namespace resicrypt
