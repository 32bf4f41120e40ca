// DecryptText under random keys and random cipher text: it must never fault, must
// give back its input unchanged when it rejects it, and every text must survive
// EncryptText then DecryptText (less the bytes 255 of its last block).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/cipher_workspace.h"
#include "engine/text_cipher.h"

namespace {

resicrypt::CipherWorkspace workspace{};
resicrypt::TextAlphabet alphabet{};

// The text with the bytes 255 of its last block (its last L bytes, or the last
// c mod L when c is not a multiple of L) removed, cut at its first byte 0.
std::string ExpectedRoundTrip(const std::string& text, std::size_t L) {
  std::size_t tail = text.size() % L == 0 ? L : text.size() % L;
  if (tail > text.size()) tail = text.size();
  std::string out = text.substr(0, text.size() - tail);
  for (std::size_t i = text.size() - tail; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) != 255) out.push_back(text[i]);
  }
  std::size_t zero = out.find('\0');
  return zero == std::string::npos ? out : out.substr(0, zero);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  resicrypt::BuildTextAlphabet(alphabet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // First byte: password length 3..17 (wider values test the engine's own cut).
  std::size_t keyLength = 3 + data[0] % 20;
  if (size < 1 + keyLength) return 0;
  std::string password(reinterpret_cast<const char*>(data + 1), keyLength);
  if (password.find('\0') != std::string::npos) return 0;  // fields never hold NUL
  std::string text(reinterpret_cast<const char*>(data + 1 + keyLength), size - 1 - keyLength);
  std::string key = password.substr(0, 17);

  std::string plain = resicrypt::DecryptText(workspace, alphabet, password, text);
  // A rejected input comes back whole; an accepted one never grows.
  if (plain != text && plain.size() > text.size()) std::abort();

  if (text.find('\0') == std::string::npos) {
    std::string cipher = resicrypt::EncryptText(workspace, alphabet, password, text);
    for (char c : cipher) {
      auto b = static_cast<unsigned char>(c);
      if (!((b >= 32 && b <= 126) || (b >= 161 && b <= 244))) std::abort();
    }
    std::string back = resicrypt::DecryptText(workspace, alphabet, password, cipher);
    if (!text.empty() && back != ExpectedRoundTrip(text, key.size())) std::abort();
  }
  return 0;
}
