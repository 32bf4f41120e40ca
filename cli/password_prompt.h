// Asking for a password on the terminal without echo.
#pragma once

#include <string>

namespace resicrypt::cli {

// True when standard input is a terminal (or the Windows console).
bool StdinIsTerminal();

// Shows prompt on standard error and reads one line from the terminal with echo
// off. False when nothing could be read (end of input, interrupted).
bool ReadPasswordNoEcho(const char* prompt, std::string& password);

}  // namespace resicrypt::cli
