// The two kinds of password and the one direction, each ruled in one place.
//
// A file password orders the primes of a container: 3 to 23 bytes, all of them
// used, no NUL (the workspace would end the password there). A text key orders
// the primes of the text cipher: its first 17 bytes are used, at least 3 of them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace resicrypt {

enum class CipherDirection { kEncrypt, kDecrypt };

// Why a text cannot be a password or key; kNone when it can.
enum class KeyProblem { kNone, kTooShort, kTooLong, kHasNul };

class FilePassword {
 public:
  static constexpr std::size_t kMinBytes = 3;
  static constexpr std::size_t kMaxBytes = 23;

  // The password typed as text, or the reason it cannot be one.
  static std::optional<FilePassword> From(std::string_view text, KeyProblem* problem = nullptr) {
    KeyProblem found = KeyProblem::kNone;
    if (text.find('\0') != std::string_view::npos) {
      found = KeyProblem::kHasNul;
    } else if (text.size() < kMinBytes) {
      found = KeyProblem::kTooShort;
    } else if (text.size() > kMaxBytes) {
      found = KeyProblem::kTooLong;
    }
    if (problem != nullptr) *problem = found;
    if (found != KeyProblem::kNone) return std::nullopt;
    return FilePassword(text);
  }

  std::string_view Bytes() const { return bytes_; }
  int Length() const { return static_cast<int>(bytes_.size()); }  // L, the block length

 private:
  explicit FilePassword(std::string_view text) : bytes_(text) {}
  std::string bytes_;
};

class TextKey {
 public:
  static constexpr std::size_t kMinBytes = 3;
  static constexpr std::size_t kMaxBytes = 17;

  // The part of a typed text that the text cipher uses: its first 17 bytes.
  static std::string_view UsedPart(std::string_view text) { return text.substr(0, kMaxBytes); }

  // The key in text (its used part), or the reason there is none: fewer than 3
  // bytes. (A NUL among them ends the key where the workspace copies it; the
  // command line refuses such a password itself.)
  static std::optional<TextKey> From(std::string_view text, KeyProblem* problem = nullptr) {
    const std::string_view used = UsedPart(text);
    const KeyProblem found = used.size() < kMinBytes ? KeyProblem::kTooShort : KeyProblem::kNone;
    if (problem != nullptr) *problem = found;
    if (found != KeyProblem::kNone) return std::nullopt;
    return TextKey(used);
  }

  std::string_view Bytes() const { return bytes_; }

 private:
  explicit TextKey(std::string_view used) : bytes_(used) {}
  std::string bytes_;
};

}  // namespace resicrypt
