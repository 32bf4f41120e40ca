// Where a password comes from: the terminal without echo, or the first line of
// a password file.
#pragma once

#include <cstddef>
#include <string>

namespace resicrypt::cli {

// True when standard input is a terminal (or the Windows console).
bool StdinIsTerminal();

// Shows prompt on standard error and reads one line from the terminal with echo
// off. False when nothing could be read (end of input, interrupted).
bool ReadPasswordNoEcho(const char* prompt, std::string& password);

enum class PasswordLine { kRead, kLonger, kNotRead };

// The first line of a password file, without its line ending (LF, or CR LF; a
// CR without LF is a byte of the line). Reads no further than usedBytes bytes
// and a line ending, whatever the file holds (a device, a file without line
// ends): kLonger when the line goes on beyond usedBytes, with its first
// usedBytes bytes in line. kNotRead when the file cannot be opened or read.
PasswordLine ReadPasswordLine(const std::string& path, std::size_t usedBytes, std::string& line);

}  // namespace resicrypt::cli
