// Helpers shared by the engine tests: a workspace per test, tables in the orders
// the worked examples use, and the TSV vectors.
#ifndef RESICRYPT_TESTS_ENGINE_TEST_SUPPORT_H
#define RESICRYPT_TESTS_ENGINE_TEST_SUPPORT_H

#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/cipher_workspace.h"
#include "engine/engine.h"
#include "engine/fast_codec.h"
#include "engine/reference/reference.h"

namespace testsupport {

// The workspace with the step-by-step decoder's tables, which are large: tests keep
// it on the heap, zeroed like the program's one.
inline std::unique_ptr<resicrypt::ReferenceWorkspace> NewWorkspace() {
  return std::make_unique<resicrypt::ReferenceWorkspace>();
}

// The primes 3..179 (size 44) or 3..239 (size 55) in descending order.
inline std::vector<int> UsedPrimesDescending(int tableSize) {
  const int top = tableSize == 44 ? 179 : 239;
  std::vector<int> primes;
  for (int x = top; x >= 3; --x) {
    bool prime = true;
    for (int d = 2; d * d <= x; ++d) {
      if (x % d == 0) prime = false;
    }
    if (prime) primes.push_back(x);
  }
  return primes;
}

// Key orders as the file commands (size 55, one spare modulus, up to 23 bytes)
// and the text cipher (size 44, three spare moduli, up to 17 bytes) use them.
struct KeyCase {
  int tableSize;
  int spare;
  int maxLength;
};
inline constexpr KeyCase kKeyCases[] = {{55, 1, 23}, {44, 3, 17}};

// The workspace prepared for the password in a table of the given size.
inline void PrepareKey(resicrypt::CipherWorkspace& ws, const std::string& password, int tableSize) {
  resicrypt::SetPasswordText(ws, password);
  resicrypt::BuildModulusTable(ws, tableSize);
  resicrypt::DerivePermutation(ws, tableSize);
}

// Writes moduli into ModulusTable from position 2 upward.
inline void PutModuli(resicrypt::CipherWorkspace& ws, const std::vector<int>& moduli) {
  for (std::size_t k = 0; k < moduli.size(); ++k) {
    ws.ModulusTable[k + 2] = moduli[k];
  }
}

// Rows of a tab-separated vector file from the test data folder; lines starting
// with '#' are comments.
inline std::vector<std::vector<std::string>> ReadTsv(const std::string& name) {
  std::ifstream in(std::string(RESICRYPT_TEST_DATA_DIR) + "/" + name);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t')) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

// A random byte string of the given length with bytes in [low, high].
inline std::string RandomBytes(std::mt19937& rng, std::size_t length, int low = 1, int high = 255) {
  std::uniform_int_distribution<int> byte(low, high);
  std::string text(length, '\0');
  for (auto& c : text) c = static_cast<char>(static_cast<unsigned char>(byte(rng)));
  return text;
}

// The codec kernels this processor can run (the portable one always).
inline std::vector<resicrypt::CodecKernel> SupportedKernels() {
  using resicrypt::CodecKernel;
  std::vector<CodecKernel> kernels;
  for (const CodecKernel kernel :
       {CodecKernel::kPortable, CodecKernel::kAvx2, CodecKernel::kAvx512}) {
    if (resicrypt::IsCodecKernelSupported(kernel)) kernels.push_back(kernel);
  }
  return kernels;
}

}  // namespace testsupport

#endif
