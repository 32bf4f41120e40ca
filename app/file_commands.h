// The file commands of the main window, written against the form port.
//
// Each runs in two halves: the checks and dialogs, which need the window, and the
// packing or unpacking (the job), which only reports to it. The window runs the
// job on a thread of its own (CommandThread).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/form_port.h"
#include "container/pack.h"
#include "container/unpack.h"
#include "engine/keys.h"

namespace resicrypt {

// A file command after its dialogs.
struct FileJob {
  CipherDirection direction;
  FilePassword password;
  std::vector<std::string> sources;  // Encrypt File: the chosen files, in the dialog's order
  std::string container;             // the container to write or to read
};

// "Encrypt  File" (Button2): the password checks, the open dialog for the files to
// pack and the save dialog for the container. Nothing when a check fails or a
// dialog is cancelled. Files dropped on the window take the open dialog's place;
// the save dialog then opens in the folder of the first of them.
std::optional<FileJob> PrepareEncryptFile(FormPort& form,
                                          const std::vector<std::string>* dropped = nullptr);
// "Decrypt  File" (Button1): the password checks and the open dialog for the
// container, which is unpacked into its own folder; or the dropped container.
std::optional<FileJob> PrepareDecryptFile(FormPort& form, const std::string* dropped = nullptr);

// What files dropped on the window run: Decrypt File for exactly one file whose
// name ends in ".yal" (in any letter case), Encrypt File for any other drop.
CipherDirection DropDirection(const std::vector<std::string>& files);

// Packs or unpacks under the prepared workspace, reporting to view: the bars, the
// report lines and, for a container whose check block differs from the password,
// the question whether to stop.
void RunFileJob(const FileJob& job, CipherWorkspace& workspace, FileCommandView& view);

// Decrypt File's report line of a refused record, or of one that stopped the
// unpacking.
std::string RecordLine(const FileProblem& problem);
// The report line of a record whose blocks failed their check.
std::string DamagedLine(const DamagedRecord& record);

}  // namespace resicrypt
