// The container commands of resicrypt-cli: pack, unpack and list .yal files on the
// same container code as Encrypt File and Decrypt File of the window.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "cli/cli_args.h"
#include "engine/keys.h"

namespace resicrypt::cli {

// The file password from the first line of a password file, its line ending
// excluded: 3 to 23 bytes, used whole. None, with a message, otherwise.
std::optional<FilePassword> FilePasswordFromLine(const std::string& line, std::string& message);

// Each returns the exit code: 0 only when every file was packed or unpacked
// (listed); messages go to err, the listing to out. in is read for the source
// '-', out takes the container of '-o -' and the file of --to-stdout.
int RunPack(const ParsedArgs& parsed, std::FILE* in, std::FILE* out, std::FILE* err);
int RunUnpack(const ParsedArgs& parsed, std::FILE* out, std::FILE* err);
// Checks the password and every block of every file, and writes nothing.
int RunTest(const ParsedArgs& parsed, std::FILE* out, std::FILE* err);
int RunList(const ParsedArgs& parsed, std::FILE* out, std::FILE* err);

}  // namespace resicrypt::cli
