// The encrypt-text and decrypt-text commands: every line of the input through the
// text cipher, under the key from the first line of a password file.
#pragma once

#include <cstdio>
#include <string>

#include "engine/keys.h"

namespace resicrypt::cli {


// The key from the text of a password file: its first line without the line
// ending, cut to 17 bytes. Returns false with a message when no usable key remains
// (fewer than 3 bytes, or a NUL byte inside the key).
bool KeyFromPasswordFile(const std::string& fileText, std::string& key, std::string& message);

// Runs one text command from in to out, messages to err. Returns the exit code.
int RunTextCommand(CipherDirection direction, const std::string& passwordFile, std::FILE* in,
                   std::FILE* out, std::FILE* err);

}  // namespace resicrypt::cli
