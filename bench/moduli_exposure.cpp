// How much cipher text gives the moduli away.
//
// Each residue of a block is below its modulus, and the residues of varied
// plaintext cover 0..m-1 evenly, so the largest residue seen at a block position
// soon reaches m - 1. An onlooker who knows that the moduli are the primes 3..239
// (files) or 3..179 (text) takes the smallest prime above the largest residue
// seen at each position; once that guess is right at every position, the moduli
// and their order (which the password alone decides) are known.
//
// For random passwords this counts the encrypted blocks, of random file content
// and of random printable text, until (a) the guess is right at every position of
// the block and (b) the largest residue is m - 1 at every position, and prints the
// median and the 99th percentile over the passwords. It also counts how often
// DecryptText accepts cipher text under a wrong password (the check of three
// spare moduli passing by chance). Fixed seeds: the figures repeat exactly.
//
//   cmake --build build/native --target moduli_exposure && build/native/bench/moduli_exposure
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/text_cipher.h"
#include "engine/reference/reference.h"

namespace {

using resicrypt::CipherWorkspace;

constexpr int kPasswords = 100;
constexpr int kBlockLimit = 100000;

int NextPrimeAbove(int value) {
  for (int candidate = value + 1;; ++candidate) {
    bool prime = candidate >= 2;
    for (int d = 2; d * d <= candidate && prime; ++d) prime = candidate % d != 0;
    if (prime) return candidate;
  }
}

// A password typed from the printable ASCII characters.
std::string RandomPassword(std::mt19937& random, int length) {
  std::uniform_int_distribution<int> printable(33, 126);
  std::string password;
  for (int k = 0; k < length; ++k) password.push_back(static_cast<char>(printable(random)));
  return password;
}

struct Exposure {
  int guessed = 0;  // blocks until the smallest prime above each maximum is its modulus
  int exact = 0;    // blocks until each maximum is m - 1
};

// Feeds the residues of one block after another, positions 2..N, until both
// counts are known.
class MaximumTracker {
 public:
  explicit MaximumTracker(std::vector<int> moduli)
      : moduli_(std::move(moduli)), maximum_(moduli_.size(), -1) {}

  // True once both counts are known.
  bool Add(const std::vector<int>& residues) {
    ++blocks_;
    for (std::size_t i = 0; i < moduli_.size(); ++i) {
      maximum_[i] = std::max(maximum_[i], residues[i]);
    }
    if (result_.guessed == 0 &&
        AllPositions([this](std::size_t i) { return NextPrimeAbove(maximum_[i]) == moduli_[i]; })) {
      result_.guessed = blocks_;
    }
    if (result_.exact == 0 &&
        AllPositions([this](std::size_t i) { return maximum_[i] == moduli_[i] - 1; })) {
      result_.exact = blocks_;
    }
    return result_.guessed != 0 && result_.exact != 0;
  }
  Exposure Result() const { return result_; }

 private:
  template <typename Test>
  bool AllPositions(Test test) const {
    for (std::size_t i = 0; i < moduli_.size(); ++i) {
      if (!test(i)) return false;
    }
    return true;
  }

  std::vector<int> moduli_;
  std::vector<int> maximum_;
  int blocks_ = 0;
  Exposure result_;
};

// The moduli m(2)..m(N) of a password under table size n, with N = ResidueCount + spare.
std::vector<int> Moduli(CipherWorkspace& ws, const std::string& password, int n, int spare) {
  resicrypt::SetPasswordText(ws, password);
  resicrypt::BuildModulusTable(ws, n);
  resicrypt::DerivePermutation(ws, n);
  const int N = resicrypt::ResidueCount(ws, static_cast<int>(password.size())) + spare;
  return std::vector<int>(ws.ModulusTable + 2, ws.ModulusTable + N + 1);
}

// Files: blocks of L random bytes through EncodeBlock, as Encrypt File writes them.
Exposure FileExposure(CipherWorkspace& ws, const std::string& password, std::mt19937& random) {
  const int L = static_cast<int>(password.size());
  const std::vector<int> moduli = Moduli(ws, password, resicrypt::kFileTableSize, 1);
  MaximumTracker tracker(moduli);
  const int N = static_cast<int>(moduli.size()) + 1;
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<int> residues(moduli.size());
  for (int block = 0; block < kBlockLimit; ++block) {
    for (int p = 1; p <= L; ++p) ws.blockDigits[p] = byte(random);
    resicrypt::EncodeBlock(ws, resicrypt::kBlockBase, N);
    for (std::size_t i = 0; i < moduli.size(); ++i) residues[i] = ws.residues[i + 2];
    if (tracker.Add(residues)) break;
  }
  return tracker.Result();
}

// Text: random printable text through EncryptText, the cipher characters read
// back to residues through the alphabet's inverse.
Exposure TextExposure(CipherWorkspace& ws, const resicrypt::TextAlphabet& alphabet,
                      const std::string& password, std::mt19937& random) {
  const std::vector<int> moduli = Moduli(ws, password, resicrypt::kTextTableSize, 3);
  MaximumTracker tracker(moduli);
  const std::size_t L = password.size();
  const std::size_t blockChars = moduli.size();
  std::uniform_int_distribution<int> printable(32, 126);
  std::vector<int> residues(blockChars);
  constexpr std::size_t kBlocksPerCall = 64;
  for (int calls = 0; calls * static_cast<int>(kBlocksPerCall) < kBlockLimit; ++calls) {
    std::string text;
    for (std::size_t k = 0; k < L * kBlocksPerCall; ++k) {
      text.push_back(static_cast<char>(printable(random)));
    }
    const std::string cipher = resicrypt::EncryptText(ws, alphabet, password, text);
    for (std::size_t b = 0; b + blockChars <= cipher.size(); b += blockChars) {
      for (std::size_t i = 0; i < blockChars; ++i) {
        residues[i] = alphabet.byteToIndex[static_cast<unsigned char>(cipher[b + i])];
      }
      if (tracker.Add(residues)) return tracker.Result();
    }
  }
  return tracker.Result();
}

int Percentile(std::vector<int> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index =
      static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[index];
}

void Report(const char* what, int L, const std::vector<Exposure>& runs) {
  std::vector<int> guessed;
  std::vector<int> exact;
  for (const Exposure& run : runs) {
    guessed.push_back(run.guessed);
    exact.push_back(run.exact);
  }
  std::printf("%s, %d-byte passwords, %d passwords:\n", what, L, kPasswords);
  std::printf(
      "  every modulus and its position known (smallest prime above the largest residue):\n"
      "    median %d blocks (%d plaintext bytes), 99th percentile %d blocks, worst %d\n",
      Percentile(guessed, 0.5), Percentile(guessed, 0.5) * L, Percentile(guessed, 0.99),
      Percentile(guessed, 1.0));
  std::printf(
      "  largest residue m - 1 at every position:\n"
      "    median %d blocks (%d plaintext bytes), 99th percentile %d blocks, worst %d\n",
      Percentile(exact, 0.5), Percentile(exact, 0.5) * L, Percentile(exact, 0.99),
      Percentile(exact, 1.0));
}

}  // namespace

int main() {
  auto ws = std::make_unique<CipherWorkspace>();
  resicrypt::TextAlphabet alphabet{};
  resicrypt::BuildTextAlphabet(alphabet);
  std::mt19937 random(20240611u);

  std::vector<Exposure> files;
  for (int k = 0; k < kPasswords; ++k) {
    files.push_back(FileExposure(*ws, RandomPassword(random, 23), random));
  }
  Report("Files (Encrypt File), random content", 23, files);

  std::vector<Exposure> texts;
  for (int k = 0; k < kPasswords; ++k) {
    texts.push_back(TextExposure(*ws, alphabet, RandomPassword(random, 17), random));
  }
  Report("Text (EncryptText), random printable text", 17, texts);

  // The text check under a wrong password: cipher text of one 17-byte block of
  // random printable text, decrypted under another random 17-byte password.
  constexpr int kTrials = 200000;
  int accepted = 0;
  std::uniform_int_distribution<int> printable(32, 126);
  for (int k = 0; k < kTrials; ++k) {
    const std::string right = RandomPassword(random, 17);
    const std::string wrong = RandomPassword(random, 17);
    std::string text;
    for (int c = 0; c < 17; ++c) text.push_back(static_cast<char>(printable(random)));
    const std::string cipher = resicrypt::EncryptText(*ws, alphabet, right, text);
    if (resicrypt::DecryptText(*ws, alphabet, wrong, cipher) != cipher) ++accepted;
  }
  std::printf("Wrong text password accepted: %d of %d one-block cipher texts (%.2f per thousand)\n",
              accepted, kTrials, 1000.0 * accepted / kTrials);
  return 0;
}
