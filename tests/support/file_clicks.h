// Encrypt File (Button2) and Decrypt File (Button1) as a click runs them, with
// both halves on the calling thread: the checks and dialogs, then the job
// reporting to the form itself.
#pragma once

#include <optional>

#include "app/file_commands.h"

namespace resicrypt::testing {

inline void Button2Click(FormPort& form) {
  if (const std::optional<FileJob> job = PrepareEncryptFile(form)) {
    RunFileJob(*job, form.Workspace(), form);
  }
}

inline void Button1Click(FormPort& form) {
  if (const std::optional<FileJob> job = PrepareDecryptFile(form)) {
    RunFileJob(*job, form.Workspace(), form);
  }
}

}  // namespace resicrypt::testing
