// The cipher workspace: every table the residue cipher works in.
#ifndef RESICRYPT_ENGINE_CIPHER_WORKSPACE_H
#define RESICRYPT_ENGINE_CIPHER_WORKSPACE_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace resicrypt {

// Capacity of the fixed tables. The table size n of BuildModulusTable must keep
// n + 2 below 256 (the prime list runs two entries past n), and a residue count N
// must keep N + 2 within the 100 x 100 product table of the step-by-step decoder
// (ReferenceWorkspace, engine/reference).
constexpr int kDigitTableSize = 256;
constexpr int kProductTableSize = 100;
constexpr int kMaxTableSize = kDigitTableSize - 3;       // largest n: 253
constexpr int kMaxResidueCount = kProductTableSize - 3;  // largest N: 97
constexpr int kPasswordTextSize = 200;
constexpr int kPasswordText2Size = 100;

// Table sizes and block margins used by the commands.
constexpr int kFileTableSize = 55;  // primes 3..239 in key order
constexpr int kTextTableSize = 44;  // primes 3..179 in key order
constexpr int kBlockBase = 256;

// One record of fixed tables, shared by every cipher operation of a command.
// Positions are used from 1 or 2 upward as each operation documents; index 0 is
// mostly unused. All integers are 32-bit signed. A command prepares the record
// anew (password, BuildModulusTable, DerivePermutation) before it uses it.
struct CipherWorkspace {
  // Working big number: the password number during DerivePermutation,
  // 256 mod m(i) during EncodeBlock, the running modulus product during DecodeBlock.
  std::int32_t numberDigits[kDigitTableSize];
  // Quotient digits during DerivePermutation, powers of 256 mod m(i) in EncodeBlock.
  std::int32_t auxDigits[kDigitTableSize];
  // Mixed-radix digits equal to 0 seen by DecodeBlock since the caller reset it.
  std::int32_t zeroDigitCount;
  // The password, zero-terminated (at most 199 bytes). Read by DerivePermutation
  // and by the file commands for the check block.
  unsigned char passwordText[kPasswordTextSize];
  // Second password buffer, zero-terminated (at most 99 bytes); file commands only.
  unsigned char passwordText2[kPasswordText2Size];
  // Factorial-base digits (DerivePermutation), mixed-radix digits (DecodeBlock).
  std::int32_t radixDigits[kDigitTableSize];
  // The moduli: position i holds m(i). Reordered under the password.
  std::int32_t ModulusTable[kDigitTableSize];
  // One plaintext block, position 1 = first byte = least significant digit.
  // Positions above the block length must be 0 when EncodeBlock runs.
  std::int32_t blockDigits[kDigitTableSize];
  // Permutation slots (DerivePermutation); the rebuilt block (DecodeBlock),
  // block byte p at index p + 1.
  std::int32_t outputDigits[kDigitTableSize];
  // Residues of one block, position i modulo m(i), positions 2..N.
  std::int32_t residues[kDigitTableSize];
};

// Copies a password into passwordText as a zero-terminated string. The copy stops
// at the first NUL byte of the input and never takes more than 199 bytes, so the
// buffer cannot be overrun; the rest of the buffer is cleared. Callers limit the
// password themselves (23 bytes for files, 17 for text) before they copy.
void SetPasswordText(CipherWorkspace& workspace, std::string_view password);

// The same for passwordText2: at most 99 bytes, stops at the first NUL byte.
void SetPasswordText2(CipherWorkspace& workspace, std::string_view password);

// Number of bytes of passwordText before its terminating zero (at most 200 if a
// caller wrote the buffer directly without a terminator).
std::size_t PasswordLength(const CipherWorkspace& workspace);

// The password bytes as a string view (without the terminator).
std::string_view PasswordView(const CipherWorkspace& workspace);

}  // namespace resicrypt

#endif
