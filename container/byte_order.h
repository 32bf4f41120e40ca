// Little-endian 32-bit fields, the only integers a container holds.
#pragma once

#include <cstdint>

namespace resicrypt {

inline void StoreLe32(unsigned char* out, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  out[0] = static_cast<unsigned char>(bits & 0xFFu);
  out[1] = static_cast<unsigned char>((bits >> 8) & 0xFFu);
  out[2] = static_cast<unsigned char>((bits >> 16) & 0xFFu);
  out[3] = static_cast<unsigned char>((bits >> 24) & 0xFFu);
}

inline std::int32_t LoadLe32(const unsigned char* in) {
  const std::uint32_t bits = std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) |
                             (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[3]} << 24);
  // Two's complement, spelled out so that no conversion is implementation-defined.
  if (bits <= 0x7FFFFFFFu) return static_cast<std::int32_t>(bits);
  return -static_cast<std::int32_t>(~bits) - 1;
}

}  // namespace resicrypt
