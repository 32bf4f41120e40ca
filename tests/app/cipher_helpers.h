// Expected cipher text for the text command tests, from the engine's own tested
// text cipher done the step-by-step way (EncodeBlock and DecodeBlock per block,
// the workspace prepared anew for every unit), so that the commands, which prepare
// the key once per command, are held against it.
#pragma once

#include <memory>
#include <string>

#include "engine/cipher_workspace.h"
#include "engine/text_cipher.h"
#include "engine/reference/reference.h"

namespace textcmdtest {

class UnitCipher {
 public:
  UnitCipher() : ws_(std::make_unique<resicrypt::CipherWorkspace>()) {
    resicrypt::BuildTextAlphabet(alphabet_);
  }
  std::string E(const std::string& key, const std::string& text) {
    return resicrypt::EncryptTextReference(*ws_, alphabet_, key, text);
  }
  std::string D(const std::string& key, const std::string& text) {
    return resicrypt::DecryptTextReference(*ws_, alphabet_, key, text);
  }

 private:
  std::unique_ptr<resicrypt::CipherWorkspace> ws_;
  resicrypt::TextAlphabet alphabet_{};
};

}  // namespace textcmdtest
