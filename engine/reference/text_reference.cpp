#include "engine/reference/reference.h"

#include "engine/engine.h"

namespace resicrypt {

namespace {

constexpr int kPaddingByte = 255;
constexpr int kAcceptZeroDigits = 3;

void AppendCipherBlock(CipherWorkspace& ws, const TextAlphabet& alphabet, int N, std::string& out) {
  EncodeBlock(ws, kBlockBase, N);
  for (int i = 2; i <= N; ++i) {
    // Every residue is below its modulus, at most 179 here, so inside the alphabet.
    out.push_back(static_cast<char>(alphabet.indexToByte[ws.residues[i]]));
  }
}

}  // namespace

std::string EncryptTextReference(CipherWorkspace& ws, const TextAlphabet& alphabet,
                                 std::string_view password, std::string_view text) {
  const int L = PrepareTextKey(ws, password);
  if (L == 0) {
    return std::string();
  }
  const int N = ResidueCount(ws, L) + kTextSpareModuli;
  const std::size_t blockLength = static_cast<std::size_t>(L);
  const std::size_t fullBlocks = text.size() / blockLength;
  const std::size_t rest = text.size() % blockLength;

  std::string out;
  out.reserve((fullBlocks + (rest > 0 ? 1 : 0)) * static_cast<std::size_t>(N - 1));
  std::size_t pos = 0;
  for (std::size_t b = 0; b < fullBlocks; ++b) {
    for (int p = 1; p <= L; ++p) {
      ws.blockDigits[p] = static_cast<unsigned char>(text[pos++]);
    }
    AppendCipherBlock(ws, alphabet, N, out);
  }
  if (rest > 0) {
    const int restLength = static_cast<int>(rest);
    for (int p = 1; p <= L; ++p) {
      ws.blockDigits[p] = p <= restLength ? static_cast<unsigned char>(text[pos++]) : kPaddingByte;
    }
    AppendCipherBlock(ws, alphabet, N, out);
  }
  return out;
}

std::string DecryptTextReference(ReferenceWorkspace& ws, const TextAlphabet& alphabet,
                                 std::string_view password, std::string_view text) {
  const int L = PrepareTextKey(ws, password);
  if (L == 0) {
    return std::string();
  }
  const int N = ResidueCount(ws, L) + kTextSpareModuli;
  BuildProductTable(ws, N);
  const std::size_t cipherBlockLength = static_cast<std::size_t>(N - 1);
  const std::size_t blocks = text.size() / cipherBlockLength;

  std::string out;
  out.reserve(blocks * static_cast<std::size_t>(L));
  bool lastAccepted = false;
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::string_view block = text.substr(b * cipherBlockLength, cipherBlockLength);
    for (int i = 2; i <= N; ++i) {
      ws.residues[i] =
          alphabet.byteToIndex[static_cast<unsigned char>(block[static_cast<std::size_t>(i - 2)])];
    }
    ws.zeroDigitCount = 0;
    DecodeBlock(ws, kBlockBase, N);
    lastAccepted = ws.zeroDigitCount >= kAcceptZeroDigits;
    if (!lastAccepted) {
      continue;  // a rejected block adds nothing
    }
    const bool isLast = b + 1 == blocks;
    for (int p = 1; p <= L; ++p) {
      const int byte = ws.outputDigits[p + 1] & 0xFF;
      if (isLast && byte == kPaddingByte) {
        continue;
      }
      out.push_back(static_cast<char>(byte));
    }
  }
  if (!lastAccepted) {
    return std::string(text);
  }
  const std::size_t end = out.find('\0');
  if (end != std::string::npos) {
    out.resize(end);
  }
  return out;
}

}  // namespace resicrypt
