#include "container/file_cipher.h"

#include <algorithm>
#include <cassert>

namespace resicrypt {

namespace {

// Prepares the workspace for the file tables and gives L.
int PrepareFileWorkspace(CipherWorkspace& workspace, std::string_view password) {
  SetPasswordText(workspace, password);
  BuildModulusTable(workspace, kFileTableSize);
  DerivePermutation(workspace, kFileTableSize);
  return static_cast<int>(PasswordLength(workspace));
}

}  // namespace

FileCipher::FileCipher(CipherWorkspace& workspace, const FilePassword& password)
    : blockLength_(PrepareFileWorkspace(workspace, password.Bytes())),
      residues_(ResidueCount(workspace, blockLength_) + 1),
      codec_(workspace, blockLength_, residues_) {
  assert(blockLength_ >= kMinFilePasswordLength && blockLength_ <= kMaxFilePasswordLength);
  assert(residues_ <= kMaxCodecResidueCount);
  // Every key order of the file table gives distinct primes, which the codec takes.
  assert(codec_.IsUsable());
  std::copy_n(workspace.passwordText, std::min(blockLength_, kMaxFilePasswordLength), password_);
}

void FileCipher::EncryptFinalBlock(const unsigned char* tail, int tailBytes, unsigned char* out,
                                   PaddingClock clock) const {
  unsigned char block[kMaxFilePasswordLength];
  const int blockLength = std::min(blockLength_, kMaxFilePasswordLength);
  std::copy_n(tail, std::min(tailBytes, blockLength), block);
  if (clock != nullptr) {
    SeedRandomAt(clock());
  } else {
    SeedRandom();
  }
  for (int p = tailBytes + 1; p <= blockLength; ++p) {
    block[p - 1] = static_cast<unsigned char>(RandomBelow(213) + 41);
  }
  codec_.Encode(block, out);
}

CheckBlock FileCipher::MakeCheckBlock() const {
  CheckBlock block;
  block.length = residues_ - 1;
  codec_.Encode(password_, block.residues.data());
  return block;
}

std::vector<int> FileCipher::CheckBlockDifferences(const CheckBlock& stored) const {
  unsigned char decoded[kMaxFilePasswordLength];
  codec_.Decode(stored.residues.data(), decoded);
  std::vector<int> positions;
  for (int p = 1; p <= std::min(blockLength_, kMaxFilePasswordLength); ++p) {
    if (decoded[p - 1] != password_[p - 1]) positions.push_back(p);
  }
  return positions;
}

}  // namespace resicrypt
