// The clipboard commands' segment walk under random keys and texts. Encrypting
// must keep every separator where it was (cipher text holds no TAB, LF or CR) and
// echo one line per enciphered segment, and leave as it was each segment with a
// byte 255 in its last block (which would not come back); decrypting the result
// must give the text back. Decrypting the raw text (mostly not cipher text) must
// not fault either.
//
// Input: one byte for the key length (3 + b % 20; keys longer than 17 are cut as
// the commands cut them), one flag byte (bit 0: collect the echo), the key, then
// the clipboard text up to its first NUL.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "engine/cipher_workspace.h"
#include "engine/text_cipher.h"
#include "app/clipboard_text.h"

namespace {

using resicrypt::CipherDirection;

std::unique_ptr<resicrypt::CipherWorkspace> workspace;
resicrypt::TextAlphabet alphabet{};

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "clipboard transform: %s\n", why);
  std::abort();
}

bool IsSeparator(char c) { return c == '\t' || c == '\n' || c == '\r'; }

std::string Separators(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (IsSeparator(c)) out.push_back(c);
  }
  return out;
}

// Whether the walk leaves the segment as it was: a byte 255 among the bytes of its
// last block (its last L bytes, or the last c mod L), which padding fills up.
bool Kept(std::string_view segment, std::size_t L) {
  const std::size_t tail = segment.size() % L == 0 ? L : segment.size() % L;
  return segment.substr(segment.size() - tail).find('\xFF') != std::string_view::npos;
}

// The whole text after Encrypt then Decrypt, worked out segment by segment as the
// commands cut it: the last character and segments shorter than two characters
// are copied both ways; a kept segment comes back as decrypting it gives it (the
// segment itself, unless it happens to read as cipher text under the key).
std::string ExpectedRoundTrip(std::string_view text, std::string_view key, std::size_t& ciphered,
                              std::size_t& kept) {
  std::string out;
  ciphered = kept = 0;
  std::size_t start = 0;
  for (std::size_t j = 0; j < text.size(); ++j) {
    const bool last = j + 1 == text.size();
    if (!IsSeparator(text[j]) && !last) continue;
    const std::string_view segment = text.substr(start, j - start);
    if (segment.size() >= 2 && Kept(segment, key.size())) {
      out += resicrypt::DecryptText(*workspace, alphabet, key, segment);
      ++kept;
    } else {
      out += segment;
      if (segment.size() >= 2) ++ciphered;
    }
    out.push_back(text[j]);
    start = j + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  workspace = std::make_unique<resicrypt::CipherWorkspace>();
  resicrypt::BuildTextAlphabet(alphabet);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t keyLength = 3 + data[0] % 20;
  const bool echo = (data[1] & 1) != 0;
  if (size < 2 + keyLength) return 0;
  const std::string_view field(reinterpret_cast<const char*>(data + 2), keyLength);
  if (field.find('\0') != std::string_view::npos) return 0;  // fields hold no NUL
  const std::string key(field.substr(0, 17));
  std::string_view text(reinterpret_cast<const char*>(data + 2 + keyLength), size - 2 - keyLength);
  text = text.substr(0, text.find('\0'));  // the clipboard text ends at its first NUL

  const resicrypt::ClipboardRebuild encrypted = resicrypt::RebuildClipboardText(
      *workspace, alphabet, key, text, CipherDirection::kEncrypt, echo);
  if (Separators(encrypted.text) != Separators(text)) Fail("separators moved");
  std::size_t ciphered = 0;
  std::size_t kept = 0;
  const std::string expected = ExpectedRoundTrip(text, key, ciphered, kept);
  if (encrypted.kept.Count() != kept) Fail("one kept segment per segment that would not come back");
  if (echo && encrypted.echoLines.size() != ciphered) Fail("one echo line per enciphered segment");
  if (!echo && !encrypted.echoLines.empty()) Fail("echo lines without the echo");
  for (const std::string& line : encrypted.echoLines) {
    if (line.find_first_of("\t\n\r") != std::string::npos) Fail("separator in an echo line");
  }

  const resicrypt::ClipboardRebuild decrypted = resicrypt::RebuildClipboardText(
      *workspace, alphabet, key, encrypted.text, CipherDirection::kDecrypt, echo);
  if (decrypted.text != expected) Fail("decrypting the encrypted text did not give it back");
  if (echo && decrypted.echoLines.size() != ciphered + kept) {
    Fail("one echo line per deciphered segment");
  }

  // Text that is not cipher text: whatever comes back, the walk must hold.
  resicrypt::RebuildClipboardText(*workspace, alphabet, key, text, CipherDirection::kDecrypt, echo);
  return 0;
}
