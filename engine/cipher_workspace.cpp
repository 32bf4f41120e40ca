#include "engine/cipher_workspace.h"

#include <cstring>

namespace resicrypt {

namespace {

// Copies up to capacity - 1 bytes, stopping at a NUL, and zero-fills the rest so
// that the buffer always ends in a terminator.
void CopyZeroTerminated(unsigned char* buffer, std::size_t capacity, std::string_view text) {
  std::size_t length = 0;
  while (length < text.size() && length + 1 < capacity && text[length] != '\0') {
    buffer[length] = static_cast<unsigned char>(text[length]);
    ++length;
  }
  std::memset(buffer + length, 0, capacity - length);
}

}  // namespace

void SetPasswordText(CipherWorkspace& workspace, std::string_view password) {
  CopyZeroTerminated(workspace.passwordText, sizeof workspace.passwordText, password);
}

void SetPasswordText2(CipherWorkspace& workspace, std::string_view password) {
  CopyZeroTerminated(workspace.passwordText2, sizeof workspace.passwordText2, password);
}

std::size_t PasswordLength(const CipherWorkspace& workspace) {
  std::size_t length = 0;
  while (length < sizeof workspace.passwordText && workspace.passwordText[length] != 0) {
    ++length;
  }
  return length;
}

std::string_view PasswordView(const CipherWorkspace& workspace) {
  return std::string_view(reinterpret_cast<const char*>(workspace.passwordText),
                          PasswordLength(workspace));
}

}  // namespace resicrypt
