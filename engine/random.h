// The program's pseudo-random generator, used for the padding of encrypted files.
#ifndef RESICRYPT_ENGINE_RANDOM_H
#define RESICRYPT_ENGINE_RANDOM_H

#include <cstdint>

namespace resicrypt {

// One 64-bit state for the whole program, as a low and a high 32-bit word.
struct RandomState {
  std::uint32_t low;
  std::uint32_t high;
};

// Seeds the generator from the current calendar time (whole seconds since
// 1970-01-01 UTC, as an unsigned 32-bit value).
void SeedRandom();

// Seeds the generator from a given time t: low word = t * 22695477 + 1 (mod 2^32),
// high word = 0. SeedRandom uses it with the current time.
void SeedRandomAt(std::uint32_t t);

// A value from 0 to n - 1 (n > 0). Advances the 64-bit state S to
// S * (346 * 2^32 + 20021) + 1 mod 2^64 and takes the new high word, top bit
// cleared, modulo n. Returns 0 without touching the state when n is 0.
int RandomBelow(int n);

void SetRandomState(std::uint32_t low, std::uint32_t high);
RandomState GetRandomState();

}  // namespace resicrypt

#endif
