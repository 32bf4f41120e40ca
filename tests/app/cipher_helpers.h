// Expected cipher text for the text command tests, from the engine's own tested
// text cipher done the step-by-step way (EncodeBlock and DecodeBlock per block,
// the workspace prepared anew for every unit), so that the commands, which prepare
// the key once per command, are held against it.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "engine/cipher_workspace.h"
#include "engine/text_cipher.h"
#include "engine/reference/reference.h"

namespace textcmdtest {

class UnitCipher {
 public:
  UnitCipher() : ws_(std::make_unique<resicrypt::ReferenceWorkspace>()) {
    resicrypt::BuildTextAlphabet(alphabet_);
  }
  std::string E(const std::string& key, const std::string& text) {
    return resicrypt::EncryptTextReference(*ws_, alphabet_, key, text);
  }
  std::string D(const std::string& key, const std::string& text) {
    return resicrypt::DecryptTextReference(*ws_, alphabet_, key, text);
  }
  // Whether an encrypting command leaves the unit as it is: a byte 255 among the
  // bytes of its last block (length mod L of them, or L), which padding fills up.
  static bool Kept(const std::string& key, const std::string& unit) {
    const std::size_t tail = unit.size() % key.size() == 0 ? key.size() : unit.size() % key.size();
    return unit.find('\xFF', unit.size() - std::min(tail, unit.size())) != std::string::npos;
  }

 private:
  std::unique_ptr<resicrypt::ReferenceWorkspace> ws_;
  resicrypt::TextAlphabet alphabet_{};
};

}  // namespace textcmdtest
