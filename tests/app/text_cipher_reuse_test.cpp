// The memo and clipboard commands prepare the key once and pass every line or
// segment through it; each unit must still come out as the step-by-step text
// cipher gives it alone: random keys, many units, and for decrypting a mix of
// cipher text under the key, under other keys, damaged cipher text and plain text.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fake_form.h"
#include "tests/app/cipher_helpers.h"
#include "app/text_commands.h"

namespace {

using resicrypt::testing::FakeForm;

// Bytes 1..255 except the separators TAB, LF and CR.
std::string RandomUnit(std::mt19937& rng, std::size_t length) {
  std::uniform_int_distribution<int> byte(1, 255);
  std::string unit;
  while (unit.size() < length) {
    const int c = byte(rng);
    if (c != '\t' && c != '\n' && c != '\r') unit += static_cast<char>(c);
  }
  return unit;
}

std::string RandomKey(std::mt19937& rng) {
  // Up to 20 bytes: keys above 17 are cut by the commands.
  return RandomUnit(rng, std::uniform_int_distribution<std::size_t>(3, 20)(rng));
}

// Units to decrypt under key: its own cipher text, cipher text under another key,
// its cipher text with one character changed, and plain text.
std::vector<std::string> UnitsToDecrypt(std::mt19937& rng, textcmdtest::UnitCipher& cipher,
                                        const std::string& key) {
  std::vector<std::string> units;
  for (int k = 0; k < 40; ++k) {
    const std::string plain =
        RandomUnit(rng, std::uniform_int_distribution<std::size_t>(2, 120)(rng));
    switch (k % 4) {
      case 0:
        units.push_back(cipher.E(key, plain));
        break;
      case 1:
        units.push_back(cipher.E(RandomKey(rng), plain));
        break;
      case 2: {
        std::string damaged = cipher.E(key, plain);
        const std::size_t at =
            std::uniform_int_distribution<std::size_t>(0, damaged.size() - 1)(rng);
        damaged[at] = RandomUnit(rng, 1)[0];
        units.push_back(damaged);
        break;
      }
      default:
        units.push_back(plain);
        break;
    }
  }
  return units;
}

TEST(TextCipherPerCommand, MemoLinesAsTheStepByStepCipherGivesEachLine) {
  std::mt19937 rng(5150);
  textcmdtest::UnitCipher cipher;
  for (int round = 0; round < 5; ++round) {
    const std::string password = RandomKey(rng);
    const std::string key = password.substr(0, 17);
    auto form = std::make_unique<FakeForm>();
    form->edit1 = form->edit2 = password;

    form->memo.clear();
    std::vector<std::string> expected;
    for (int k = 0; k < 40; ++k) {
      form->memo.push_back(
          RandomUnit(rng, std::uniform_int_distribution<std::size_t>(0, 300)(rng)));
      const std::string cut = form->memo.back().substr(0, 255);
      expected.push_back(cipher.Kept(key, cut) ? form->memo.back() : cipher.E(key, cut));
    }
    resicrypt::Button5Click(*form);
    EXPECT_EQ(form->memo, expected) << "key of " << password.size() << " bytes";

    form->memo = UnitsToDecrypt(rng, cipher, key);
    expected.clear();
    for (const std::string& line : form->memo) expected.push_back(cipher.D(key, line));
    resicrypt::Button6Click(*form);
    EXPECT_EQ(form->memo, expected) << "key of " << password.size() << " bytes";
  }
}

TEST(TextCipherPerCommand, ClipboardSegmentsAsTheStepByStepCipherGivesEachSegment) {
  std::mt19937 rng(8086);
  textcmdtest::UnitCipher cipher;
  const char separators[] = {'\t', '\n', '\r'};
  for (int round = 0; round < 5; ++round) {
    const std::string password = RandomKey(rng);
    const std::string key = password.substr(0, 17);
    auto form = std::make_unique<FakeForm>();
    form->edit1 = form->edit2 = password;

    // Every segment has two or more characters and ends in a separator, so each
    // goes through the cipher by itself and the last position is a separator.
    std::string plain;
    std::string expected;
    for (int k = 0; k < 40; ++k) {
      const std::string segment =
          RandomUnit(rng, std::uniform_int_distribution<std::size_t>(2, 150)(rng));
      const char separator = separators[k % 3];
      plain += segment + separator;
      expected += (cipher.Kept(key, segment) ? segment : cipher.E(key, segment)) + separator;
    }
    form->clipboard = plain;
    resicrypt::Button4Click(*form);
    EXPECT_EQ(form->clipboard, expected) << "key of " << password.size() << " bytes";

    std::string toDecrypt;
    expected.clear();
    for (const std::string& unit : UnitsToDecrypt(rng, cipher, key)) {
      toDecrypt += unit + "\n";
      expected += cipher.D(key, unit) + "\n";
    }
    form->clipboard = toDecrypt;
    resicrypt::Button3Click(*form);
    EXPECT_EQ(form->clipboard, expected) << "key of " << password.size() << " bytes";
  }
}

}  // namespace
