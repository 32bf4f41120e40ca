#include "cli/text_command.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "cli/cli_args.h"
#include "cli/held_line.h"
#include "cli/line_splitter.h"
#include "cli/password_prompt.h"
#include "engine/text_cipher.h"
#include "engine/text_stream.h"

namespace resicrypt::cli {

bool KeyFromPasswordFile(const std::string& fileText, std::string& key, std::string& message) {
  std::string line = fileText.substr(0, fileText.find('\n'));
  if (line.size() < fileText.size() && !line.empty() && line.back() == '\r') line.pop_back();
  key = TextKey::UsedPart(line);
  // The window would take a NUL as the key's end; a script more likely has the
  // wrong file.
  if (key.find('\0') != std::string::npos) {
    message = "the password contains a NUL byte";
    return false;
  }
  if (!TextKey::From(key)) {
    message =
        "the password is too short: it needs at least 3 bytes, the first line of the "
        "password file has " +
        std::to_string(line.size());
    return false;
  }
  return true;
}

namespace {

// One command's pass over its lines. A line is held while a first look runs over
// it (will it come back? is it cipher text?), which costs next to nothing; then
// it is written, ciphered in pieces, or refused, or written back unchanged.
// Encryption could instead run at once into a held result, but the line itself
// is the smaller of the two, and decryption must hold it in any case to write it
// back when its last block rejects it.
class LineCommand {
 public:
  LineCommand(CipherDirection direction, const TextCipher& cipher, std::FILE* out, std::FILE* err,
              const TextStreaming& streaming)
      : direction_(direction),
        cipher_(cipher),
        out_(out),
        err_(err),
        pieceBytes_(streaming.pieceBytes),
        held_(streaming.heldInMemory),
        buffer_(streaming.pieceBytes) {
    StartLine();
  }

  void Piece(std::string_view piece) {
    if (failed_) return;
    if (!held_.Add(piece)) {
      Fail("line " + std::to_string(line_ + 1) +
           " is too long to hold in memory, and the temporary file for it could not be "
           "written");
      return;
    }
    if (encryptLook_) encryptLook_->Add(piece);
    if (decryptLook_) decryptLook_->Add(piece);
  }

  void End(std::string_view ending) {
    if (failed_) return;
    ++line_;
    if (direction_ == CipherDirection::kEncrypt) {
      EndEncryptedLine();
    } else {
      EndDecryptedLine();
    }
    output_ += ending;
    if (output_.size() >= pieceBytes_) Flush();
    StartLine();
  }

  bool Failed() const { return failed_; }

  // The last words and the exit code, once the input has ended.
  int Finish(bool readFailed) {
    if (!failed_) Flush();
    if (!failed_ && std::fflush(out_) != 0) Fail("error writing standard output");
    if (readFailed) Fail("error reading standard input");
    if (failed_ || refused_ > 0) return kExitFailure;
    if (notCipherText_ > 0) {
      const bool one = notCipherText_ == 1;
      std::fprintf(err_,
                   "resicrypt-cli: %zu %s not cipher text under this password and %s written "
                   "back unchanged (%s line %zu)\n",
                   notCipherText_, one ? "line was" : "lines were", one ? "was" : "were",
                   one ? "it is" : "the first is", firstNotCipherText_);
      return kExitNotCipherText;
    }
    return kExitOk;
  }

 private:
  void StartLine() {
    held_.Clear();
    encryptLook_.reset();
    decryptLook_.reset();
    if (direction_ == CipherDirection::kEncrypt) {
      encryptLook_.emplace(cipher_, nullptr);
    } else {
      decryptLook_.emplace(cipher_, nullptr);
    }
  }

  void EndEncryptedLine() {
    switch (encryptLook_->Finish()) {
      case TextLoss::kNone: {
        TextEncryptStream stream(cipher_, &output_);
        Replay([&](std::string_view piece) { stream.Add(piece); });
        stream.Finish();
        return;
      }
      case TextLoss::kNulByte:
        Refuse("it holds a NUL byte (byte " + std::to_string(encryptLook_->FirstNul() + 1) +
               "), where decryption would end it");
        return;
      case TextLoss::kPaddingByte: {
        const std::size_t last = encryptLook_->LastBlockLength();
        Refuse("its last block (" +
               (last == 1 ? std::string("the last byte")
                          : "the last " + std::to_string(last) + " bytes") +
               ") holds a byte 255, which decryption would drop as padding");
        return;
      }
    }
  }

  void EndDecryptedLine() {
    if (held_.Size() == 0) return;  // an empty line is the cipher text of an empty line
    if (decryptLook_->Finish()) {
      TextDecryptStream stream(cipher_, &output_);
      Replay([&](std::string_view piece) { stream.Add(piece); });
      stream.Finish();
      return;
    }
    if (notCipherText_++ == 0) firstNotCipherText_ = line_;
    Replay([&](std::string_view piece) { output_ += piece; });
  }

  // The line's nothing but its ending: a script finds every later line at its number.
  void Refuse(const std::string& reason) {
    ++refused_;
    std::fprintf(err_,
                 "resicrypt-cli: line %zu cannot be encrypted and given back: %s; it is "
                 "written as an empty line\n",
                 line_, reason.c_str());
  }

  void Replay(const std::function<void(std::string_view)>& take) {
    const bool read = held_.Replay(buffer_, [&](std::string_view piece) {
      take(piece);
      if (output_.size() >= pieceBytes_) Flush();
    });
    if (!read) Fail("error reading back the temporary file of line " + std::to_string(line_));
  }

  void Flush() {
    if (failed_ || output_.empty()) return;
    if (std::fwrite(output_.data(), 1, output_.size(), out_) != output_.size()) {
      Fail("error writing standard output");
    }
    output_.clear();
  }

  void Fail(const std::string& message) {
    if (failed_) return;
    failed_ = true;
    std::fprintf(err_, "resicrypt-cli: %s\n", message.c_str());
  }

  const CipherDirection direction_;
  const TextCipher& cipher_;
  std::FILE* out_;
  std::FILE* err_;
  std::size_t pieceBytes_;
  HeldLine held_;
  std::vector<char> buffer_;  // pieces read back from the temporary file
  std::string output_;        // written out whenever it reaches pieceBytes_
  std::optional<TextEncryptStream> encryptLook_;
  std::optional<TextDecryptStream> decryptLook_;
  std::size_t line_ = 0;  // lines ended so far
  std::size_t refused_ = 0;
  std::size_t notCipherText_ = 0;
  std::size_t firstNotCipherText_ = 0;
  bool failed_ = false;
};

}  // namespace

int RunTextCommand(CipherDirection direction, const std::string& passwordFile, std::FILE* in,
                   std::FILE* out, std::FILE* err, const TextStreaming& streaming) {
  // Only the first line's first 17 bytes can be the key: nothing further is read.
  std::string line;
  if (ReadPasswordLine(passwordFile, TextKey::kMaxBytes, line) == PasswordLine::kNotRead) {
    std::fprintf(err, "resicrypt-cli: cannot read password file '%s'\n", passwordFile.c_str());
    return kExitFailure;
  }
  std::string key;
  std::string message;
  if (!KeyFromPasswordFile(line, key, message)) {
    std::fprintf(err, "resicrypt-cli: %s\n", message.c_str());
    return kExitUsage;
  }

  auto workspace = std::make_unique<CipherWorkspace>();
  TextAlphabet alphabet;
  BuildTextAlphabet(alphabet);
  // The key is prepared once for every line.
  const TextCipher cipher(*workspace, alphabet, key);

  LineCommand command(direction, cipher, out, err, streaming);
  LineSplitter lines([&](std::string_view piece) { command.Piece(piece); },
                     [&](std::string_view ending) { command.End(ending); });
  std::vector<char> chunk(streaming.pieceBytes);
  while (!command.Failed()) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
    if (got > 0) lines.Feed(std::string_view(chunk.data(), got));
    if (got < chunk.size()) break;
  }
  const bool readFailed = std::ferror(in) != 0;
  if (!command.Failed()) lines.Finish();
  return command.Finish(readFailed);
}

}  // namespace resicrypt::cli
