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

// How a text command moves bytes; tests make both small to cross every boundary.
struct TextStreaming {
  std::size_t pieceBytes = std::size_t{1} << 16;    // read, and handed to the cipher, at a time
  std::size_t heldInMemory = std::size_t{1} << 20;  // of one line; beyond, a temporary file
};

// Runs one text command from in to out, messages to err. Returns the exit code:
// kExitOk; kExitFailure when a line could not be encrypted so that decryption
// gives it back (an empty line stands in its place), or on a read, write or
// temporary file error; kExitUsage for an unusable password; kExitNotCipherText
// when decryption wrote lines back unchanged.
int RunTextCommand(CipherDirection direction, const std::string& passwordFile, std::FILE* in,
                   std::FILE* out, std::FILE* err, const TextStreaming& streaming = {});

}  // namespace resicrypt::cli
