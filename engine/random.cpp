#include "engine/random.h"

#include <ctime>

namespace resicrypt {

namespace {

RandomState generatorState = {0, 0};

constexpr std::uint32_t kSeedMultiplier = 22695477u;  // 0x015A4E35
constexpr std::uint64_t kStepMultiplier = (std::uint64_t{346} << 32) | 20021u;

}  // namespace

void SeedRandomAt(std::uint32_t t) {
  generatorState.low = t * kSeedMultiplier + 1u;
  generatorState.high = 0;
}

void SeedRandom() {
  // time() counts UTC seconds since 1970; the seed keeps its low 32 bits.
  const std::time_t now = std::time(nullptr);
  SeedRandomAt(static_cast<std::uint32_t>(static_cast<std::uint64_t>(now)));
}

int RandomBelow(int n) {
  if (n == 0) {
    return 0;
  }
  std::uint64_t state = (std::uint64_t{generatorState.high} << 32) | generatorState.low;
  state = state * kStepMultiplier + 1u;
  generatorState.low = static_cast<std::uint32_t>(state);
  generatorState.high = static_cast<std::uint32_t>(state >> 32);
  const int r = static_cast<int>(generatorState.high & 0x7FFFFFFFu);
  return r % n;
}

void SetRandomState(std::uint32_t low, std::uint32_t high) {
  generatorState.low = low;
  generatorState.high = high;
}

RandomState GetRandomState() { return generatorState; }

}  // namespace resicrypt
