// The text cipher and the text form of cipher text.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/engine.h"
#include "engine/text_cipher.h"
#include "engine/reference/reference.h"
#include "reference_math.h"
#include "test_support.h"

namespace resicrypt {
namespace {

// Alphabet character of residue v, from the four ranges.
int AlphabetByte(int v) {
  if (v <= 94) return 32 + v;
  if (v <= 188) return 161 + (v - 95);
  if (v <= 222) return 127 + (v - 189);
  return 1 + (v - 223);
}

int AlphabetIndex(unsigned char byte) {
  for (int v = 0; v < 254; ++v) {
    if (AlphabetByte(v) == byte) return v;
  }
  return 0;
}

// The key as the text cipher takes it: first 17 bytes, up to a NUL.
std::string TextKey(const std::string& password) {
  std::string key = password.substr(0, 17);
  return key.substr(0, key.find('\0'));
}

struct ReferenceKey {
  std::vector<int> moduli;  // m(2), ..., m(N)
  int L;
  bool nearBoundary;
};

ReferenceKey MakeReferenceKey(const std::string& password) {
  const std::string key = TextKey(password);
  ReferenceKey result;
  result.L = static_cast<int>(key.size());
  std::vector<int> ordered = reference::KeyOrderedModuli(key, 44);
  const int N = reference::ExactResidueCount(ordered, result.L, &result.nearBoundary) + 3;
  result.moduli.assign(ordered.begin(), ordered.begin() + (N - 1));
  return result;
}

// Cipher text the slow way: each block as a big number, its remainders written
// through the alphabet; the last partial block filled with bytes 255.
std::string ReferenceEncrypt(const ReferenceKey& key, const std::string& text) {
  std::string out;
  for (std::size_t start = 0; start < text.size(); start += static_cast<std::size_t>(key.L)) {
    std::vector<int> block;
    for (std::size_t p = start; p < start + static_cast<std::size_t>(key.L); ++p) {
      block.push_back(p < text.size() ? static_cast<unsigned char>(text[p]) : 255);
    }
    const auto value = reference::BigNumber::FromBytes(block);
    for (const int m : key.moduli) {
      out.push_back(static_cast<char>(
          AlphabetByte(static_cast<int>(value.Mod(static_cast<std::uint32_t>(m))))));
    }
  }
  return out;
}

// Deciphering the slow way, with the acceptance and verdict rules.
std::string ReferenceDecrypt(const ReferenceKey& key, const std::string& text) {
  const std::size_t blockLength = key.moduli.size();
  const std::size_t blocks = text.size() / blockLength;
  std::string out;
  bool lastAccepted = false;
  for (std::size_t b = 0; b < blocks; ++b) {
    std::vector<int> residues;
    for (std::size_t k = 0; k < blockLength; ++k) {
      residues.push_back(AlphabetIndex(static_cast<unsigned char>(text[b * blockLength + k])));
    }
    const auto garner = reference::BruteForceGarner(key.moduli, residues);
    lastAccepted = std::count(garner.digits.begin(), garner.digits.end(), 0) >= 3;
    if (!lastAccepted) continue;
    for (const int byte : garner.value.ToBytes(static_cast<std::size_t>(key.L))) {
      if (b + 1 == blocks && byte == 255) continue;
      out.push_back(static_cast<char>(byte));
    }
  }
  if (!lastAccepted) return text;
  return out.substr(0, out.find('\0'));
}

// The text that survives a round trip: bytes 255 of the last block are lost.
std::string WithoutLastBlock255(const std::string& text, std::size_t L) {
  if (text.empty()) return text;
  const std::size_t rest = text.size() % L;
  const std::size_t lastStart = text.size() - (rest == 0 ? L : rest);
  std::string tail = text.substr(lastStart);
  tail.erase(std::remove(tail.begin(), tail.end(), '\xFF'), tail.end());
  return text.substr(0, lastStart) + tail;
}

class TextCipher : public ::testing::Test {
 protected:
  void SetUp() override { BuildTextAlphabet(alphabet); }
  std::string Encrypt(const std::string& password, const std::string& text) {
    return EncryptText(*ws, alphabet, password, text);
  }
  std::string Decrypt(const std::string& password, const std::string& text) {
    return DecryptText(*ws, alphabet, password, text);
  }
  std::unique_ptr<ReferenceWorkspace> ws = testsupport::NewWorkspace();
  TextAlphabet alphabet{};
  std::mt19937 rng{17};
};

TEST_F(TextCipher, AlphabetRangesAndInverse) {
  for (int v = 0; v < 254; ++v) {
    ASSERT_EQ(alphabet.indexToByte[v], AlphabetByte(v)) << v;
    ASSERT_EQ(alphabet.byteToIndex[alphabet.indexToByte[v]], v);
  }
  std::vector<int> bytes(alphabet.indexToByte, alphabet.indexToByte + 254);
  std::sort(bytes.begin(), bytes.end());
  for (int k = 0; k < 254; ++k) ASSERT_EQ(bytes[static_cast<std::size_t>(k)], k + 1);
  EXPECT_EQ(alphabet.byteToIndex[255], 0);
  EXPECT_EQ(alphabet.indexToByte[178], 244);  // largest residue in use
}

TEST_F(TextCipher, WorkedBlockInTextForm) {
  testsupport::PutModuli(*ws, testsupport::UsedPrimesDescending(44));
  ws->blockDigits[1] = 'a';
  ws->blockDigits[2] = 'b';
  ws->blockDigits[3] = 'c';
  EncodeBlock(*ws, 256, 8);
  std::vector<int> text;
  for (int i = 2; i <= 8; ++i) text.push_back(alphabet.indexToByte[ws->residues[i]]);
  EXPECT_EQ(text, (std::vector<int>{221, 211, 114, 161, 170, 47, 44}));
}

// Random keys (bytes 1..255, lengths 3..17) and texts: the cipher text equals the
// slow reference, uses only printable alphabet bytes, and deciphers back.
TEST_F(TextCipher, MatchesReferenceAndRoundTrips) {
  int compared = 0;
  for (int round = 0; round < 400; ++round) {
    const std::size_t length = 3 + static_cast<std::size_t>(round % 15);
    const std::string password =
        testsupport::RandomBytes(rng, length, round % 3 == 0 ? 128 : 1, 255);
    std::string text = testsupport::RandomBytes(rng, static_cast<std::size_t>(rng() % 90), 1, 255);
    if (round % 7 == 0) text += std::string(static_cast<std::size_t>(rng() % 20), '\xFF');

    const std::string cipher = Encrypt(password, text);
    const ReferenceKey key = MakeReferenceKey(password);
    if (!key.nearBoundary) {
      ASSERT_EQ(cipher, ReferenceEncrypt(key, text)) << "round " << round;
      ++compared;
    }
    for (const char c : cipher) {
      const auto byte = static_cast<unsigned char>(c);
      ASSERT_TRUE((byte >= 32 && byte <= 126) || (byte >= 161 && byte <= 244)) << int{byte};
    }
    ASSERT_EQ(Decrypt(password, cipher), WithoutLastBlock255(text, length)) << "round " << round;
  }
  EXPECT_GT(compared, 350);
}

TEST_F(TextCipher, LengthsOfCipherText) {
  const std::string password = "key";  // L = 3 and always N - 1 = 7
  EXPECT_EQ(Encrypt(password, ""), "");
  EXPECT_EQ(Decrypt(password, ""), "");
  EXPECT_EQ(Encrypt(password, "abc").size(), 7u);
  const std::string two = Encrypt(password, "abcd");
  ASSERT_EQ(two.size(), 14u);
  EXPECT_EQ(two.substr(7), Encrypt(password, "d\xFF\xFF"));  // one byte and padding
  EXPECT_EQ(Decrypt(password, two), "abcd");
}

// A three-byte key lengthens text by 7/3; long texts encrypt whole however long.
TEST_F(TextCipher, LongTextsUnderShortKeysEncryptWhole) {
  for (const std::size_t c : {804u, 805u, 816u, 817u, 818u, 5000u}) {
    const std::string text = testsupport::RandomBytes(rng, c, 1, 254);
    const std::string cipher = Encrypt("abc", text);
    EXPECT_EQ(cipher.size(), 7 * ((c + 2) / 3)) << c;
    EXPECT_EQ(Decrypt("abc", cipher), text) << c;
  }
}

TEST_F(TextCipher, PasswordRules) {
  const std::string text = "The quick brown fox jumps over the lazy dog";
  const std::string key17 = "0123456789abcdefg";
  EXPECT_EQ(Encrypt(key17 + "XYZ", text), Encrypt(key17, text));
  EXPECT_EQ(Decrypt(key17 + "XYZ", Encrypt(key17, text)), text);
  EXPECT_EQ(Encrypt(std::string(100000, 'k'), text), Encrypt(std::string(17, 'k'), text));
  EXPECT_NE(Encrypt(key17.substr(0, 16), text), Encrypt(key17, text));
  // The key ends at a NUL byte.
  EXPECT_EQ(Encrypt(std::string("abcd\0efg", 8), text), Encrypt("abcd", text));
  EXPECT_EQ(Encrypt(std::string("ab\0cdef", 7), text), "");
  // Under three bytes: no result at all.
  EXPECT_EQ(Encrypt("ab", text), "");
  EXPECT_EQ(Decrypt("ab", Encrypt("abc", text)), "");
  EXPECT_EQ(Encrypt("", text), "");
  // Same input, same output; an earlier file-size table does not show through.
  const std::string first = Encrypt("secret", text);
  BuildModulusTable(*ws, 55);
  EXPECT_EQ(Encrypt("secret", text), first);
}

// Text and what comes back of it under a key of 3 bytes.
TEST_F(TextCipher, PaddingBytesAreDroppedOnlyInTheLastBlock) {
  const std::pair<std::string, std::string> cases[] = {
      {"\377\377\377abc", "\377\377\377abc"},
      {"abc\377", "abc"},
      {"ab\377c", "ab\377c"},
      {"abc\377d", "abcd"},
  };
  for (const auto& [text, back] : cases) {
    EXPECT_EQ(Decrypt("abc", Encrypt("abc", text)), back) << testing::PrintToString(text);
  }
}

TEST_F(TextCipher, DecodedZeroByteEndsTheText) {
  const std::string text("abcd\0efghijk", 12);
  EXPECT_EQ(Decrypt("pass", Encrypt("pass", text)), "abcd");
}

TEST_F(TextCipher, VerdictOfTheLastWholeBlock) {
  const std::string password = "verdict";
  const std::string text = "first block|second block|third";  // 31 bytes: 5 blocks of 7
  const std::string cipher = Encrypt(password, text);
  const ReferenceKey key = MakeReferenceKey(password);
  ASSERT_FALSE(key.nearBoundary);
  const std::size_t blockLength = key.moduli.size();
  ASSERT_EQ(cipher.size(), 5 * blockLength);

  // Characters after the last whole block are ignored; shorter input stays as it is.
  EXPECT_EQ(Decrypt(password, cipher + cipher.substr(0, blockLength - 1)), text);
  EXPECT_EQ(Decrypt(password, cipher.substr(0, blockLength - 1)),
            cipher.substr(0, blockLength - 1));
  EXPECT_EQ(Decrypt(password, "short"), "short");

  // Damage one block so that the reference rejects it (fewer than 3 zero digits).
  const auto damage = [&](std::size_t block) {
    for (int shift = 1; shift < 100; ++shift) {
      std::string damaged = cipher;
      for (std::size_t k = 0; k < 2; ++k) {
        char& c = damaged[block * blockLength + k];
        c = static_cast<char>(
            AlphabetByte((AlphabetIndex(static_cast<unsigned char>(c)) + shift) % 179));
      }
      const std::string prefix = damaged.substr(0, (block + 1) * blockLength);
      if (ReferenceDecrypt(key, prefix) == prefix) return damaged;
    }
    ADD_FAILURE() << "no damage found";
    return cipher;
  };
  // A damaged middle block is left out; the others still decipher.
  const std::string middleDamaged = damage(1);
  EXPECT_EQ(Decrypt(password, middleDamaged), text.substr(0, 7) + text.substr(14));
  // A damaged last block turns the whole input away.
  const std::string lastDamaged = damage(4);
  EXPECT_EQ(Decrypt(password, lastDamaged), lastDamaged);
  // Characters the cipher never writes (byte 255, controls) are still read.
  std::string foreign = cipher;
  foreign[3] = '\xFF';
  foreign[blockLength + 2] = '\t';
  EXPECT_EQ(Decrypt(password, foreign), ReferenceDecrypt(key, foreign));
}

// Every kind of block the batch check must tell apart, past the end of a batch,
// on every codec level, against the step-by-step decryption: blocks of the key,
// the same with a residue raised by its modulus (the same number, not what
// encoding writes), numbers from nonzero mixed-radix digits with the top three
// made 0 or three at random places (redrawn while their bytes hold a 0, which
// would end the text), or two (rejected), and random characters.
TEST_F(TextCipher, EveryKernelDecidesEachBlockAsTheStepByStepCode) {
  for (int round = 0; round < 24; ++round) {
    const std::string password = testsupport::RandomBytes(rng, 3 + round % 15);
    const ReferenceKey key = MakeReferenceKey(password);
    if (key.nearBoundary) continue;
    const std::size_t R = key.moduli.size();
    std::string text;
    for (int b = 0; b < 300; ++b) {
      // Odd rounds: whole batches of the key's blocks after rejected ones.
      const bool ofKey = (round % 2 == 1 && b >= 128) || (b == 299 && round % 4 != 0);
      const auto kind = ofKey ? 0u : static_cast<unsigned>(rng() % 6);
      if (kind == 5) {
        text += testsupport::RandomBytes(rng, R, 0, 255);
        continue;
      }
      std::string block;
      do {
        std::vector<int> digits(R);
        for (std::size_t i = 0; i < R; ++i)
          digits[i] = 1 + static_cast<int>(rng() % (key.moduli[i] - 1));
        for (int zeros = kind == 4 ? 2 : 3; zeros > 0; --zeros)
          digits[kind == 2 ? R - zeros : rng() % R] = 0;
        reference::BigNumber value;
        for (std::size_t i = R; i-- > 0;)
          value.MultiplyAdd(static_cast<std::uint32_t>(key.moduli[i]),
                            static_cast<std::uint32_t>(digits[i]));
        if (kind < 2) {
          std::vector<int> plain(static_cast<std::size_t>(key.L));
          for (int& byte : plain) byte = 1 + static_cast<int>(rng() % 255);
          value = reference::BigNumber::FromBytes(plain);
        }
        const auto bytes = value.ToBytes(static_cast<std::size_t>(key.L));
        if (kind != 4 && std::count(bytes.begin(), bytes.end(), 0) > 0) continue;
        block.clear();
        for (std::size_t i = 0; i < R; ++i)
          block += static_cast<char>(
              AlphabetByte(static_cast<int>(value.Mod(static_cast<std::uint32_t>(key.moduli[i])))));
        if (kind == 1) {
          const std::size_t i = rng() % R;
          const int raised = AlphabetIndex(static_cast<unsigned char>(block[i])) + key.moduli[i];
          if (raised < 254) block[i] = static_cast<char>(AlphabetByte(raised));
        }
      } while (block.empty());
      text += block;
    }
    const std::string expected = DecryptTextReference(*ws, alphabet, password, text);
    for (const CodecKernel kernel : testsupport::SupportedKernels()) {
      ASSERT_EQ(resicrypt::TextCipher(*ws, alphabet, password, kernel).Decrypt(text), expected)
          << "round " << round << ", " << CodecKernelName(kernel);
    }
  }
}

// Under the wrong key the input comes back unchanged unless the last block passes
// the check by chance; either way the result is what the rules give.
TEST_F(TextCipher, WrongPasswordFollowsTheVerdictRules) {
  int unchanged = 0;
  const int rounds = 60;
  for (int round = 0; round < rounds; ++round) {
    const std::string text = testsupport::RandomBytes(rng, 10 + rng() % 40, 32, 126);
    const std::string cipher = Encrypt("right key", text);
    const std::string wrong = testsupport::RandomBytes(rng, 9, 33, 126);
    const ReferenceKey key = MakeReferenceKey(wrong);
    if (key.nearBoundary) continue;
    const std::string result = Decrypt(wrong, cipher);
    ASSERT_EQ(result, ReferenceDecrypt(key, cipher));
    unchanged += result == cipher;
  }
  EXPECT_GE(unchanged, rounds * 9 / 10);
}

}  // namespace
}  // namespace resicrypt
