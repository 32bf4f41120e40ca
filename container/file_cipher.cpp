#include "container/file_cipher.h"

#include <algorithm>
#include <cassert>

namespace resicrypt {

namespace {

PaddingClock paddingClock = nullptr;  // nullptr: the calendar time

}  // namespace

PaddingClock SetPaddingClock(PaddingClock clock) {
  const PaddingClock previous = paddingClock;
  paddingClock = clock;
  return previous;
}

FileCipher::FileCipher(CipherWorkspace& workspace, std::string_view password)
    : workspace_(workspace) {
  SetPasswordText(workspace_, password);
  BuildModulusTable(workspace_, kFileTableSize);
  DerivePermutation(workspace_, kFileTableSize);
  blockLength_ = static_cast<int>(PasswordLength(workspace_));
  residues_ = ResidueCount(workspace_, blockLength_) + 1;
  assert(blockLength_ >= kMinFilePasswordLength && blockLength_ <= kMaxFilePasswordLength);
  assert(residues_ <= kMaxResidueCount);
}

void FileCipher::EncodeFromBlockDigits(unsigned char* out) {
  EncodeBlock(workspace_, kBlockBase, residues_);
  // The bound repeats the constructor's limit where the compiler can see it.
  const int N = std::min(residues_, kMaxResidueCount);
  for (int i = 2; i <= N; ++i) {
    out[i - 2] = static_cast<unsigned char>(workspace_.residues[i]);
  }
}

void FileCipher::EncryptBlock(const unsigned char* plain, unsigned char* out) {
  for (int p = 1; p <= blockLength_; ++p) workspace_.blockDigits[p] = plain[p - 1];
  EncodeFromBlockDigits(out);
}

void FileCipher::EncryptFinalBlock(const unsigned char* tail, int r, unsigned char* out) {
  for (int p = 1; p <= r; ++p) workspace_.blockDigits[p] = tail[p - 1];
  if (paddingClock != nullptr) {
    SeedRandomAt(paddingClock());
  } else {
    SeedRandom();
  }
  for (int p = r + 1; p <= blockLength_; ++p) workspace_.blockDigits[p] = RandomBelow(213) + 41;
  EncodeFromBlockDigits(out);
}

CheckBlock FileCipher::MakeCheckBlock() {
  CheckBlock block;
  block.length = residues_ - 1;
  EncryptBlock(workspace_.passwordText, block.residues.data());
  return block;
}

void FileCipher::PrepareDecoding() { BuildProductTable(workspace_, residues_); }

void FileCipher::DecryptBlock(const unsigned char* in, unsigned char* plain) {
  const int N = std::min(residues_, kMaxResidueCount);
  for (int i = 2; i <= N; ++i) workspace_.residues[i] = in[i - 2];
  // The file commands never read the zero-digit count; keep it from growing
  // without bound over a large file.
  workspace_.zeroDigitCount = 0;
  DecodeBlock(workspace_, kBlockBase, residues_);
  const int L = std::min(blockLength_, kMaxFilePasswordLength);
  for (int p = 1; p <= L; ++p) {
    plain[p - 1] = static_cast<unsigned char>(workspace_.outputDigits[p + 1]);
  }
}

std::vector<int> FileCipher::CheckBlockDifferences(const CheckBlock& stored) {
  unsigned char decoded[kMaxFilePasswordLength];
  DecryptBlock(stored.residues.data(), decoded);
  std::vector<int> positions;
  for (int p = 1; p <= std::min(blockLength_, kMaxFilePasswordLength); ++p) {
    if (decoded[p - 1] != workspace_.passwordText[p - 1]) positions.push_back(p);
  }
  return positions;
}

}  // namespace resicrypt
