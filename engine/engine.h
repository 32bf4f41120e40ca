// The residue cipher engine: modulus table, password permutation, block codec.
//
// A command prepares the workspace in this order: SetPasswordText,
// BuildModulusTable(n), DerivePermutation(n), N = ResidueCount(L) + margin; then
// the block codec (fast_codec.h) takes the key. The step-by-step block operations
// it is held against live in engine/reference/.
// The operations report no errors; out-of-range sizes leave the workspace alone
// (or give -1 where a result is expected) so that no table can be overrun.
#ifndef RESICRYPT_ENGINE_ENGINE_H
#define RESICRYPT_ENGINE_ENGINE_H

#include "engine/cipher_workspace.h"
#include "engine/random.h"

namespace resicrypt {

// Fills ModulusTable positions 1..n with the first n - 1 primes in descending
// order followed by 1 (position 1 = largest prime, n - 1 = 2, n = 1).
// blockDigits 1..n serve as scratch. Domain: 1 <= n <= kMaxTableSize.
void BuildModulusTable(CipherWorkspace& workspace, int n);

// Position of the last modulus a block of L bytes needs: moduli are taken from
// position 2 upward until the sum of their natural logarithms, kept as a 32-bit
// float, reaches L * ln 256 (also rounded to float). The callers add their spare
// moduli (+1 files, +3 text). Never reads past the end of the table.
int ResidueCount(CipherWorkspace& workspace, int L);

// Reorders ModulusTable positions 2..n-3 under the password in passwordText: the
// password is read as a base-256 number (first byte least significant), written
// in the factorial number system, and its digits decoded as a permutation
// (Lehmer code). Clears blockDigits 0..n and leaves the password bytes in
// positions 1..length. Only the first n password bytes count. Domain: 3 <= n <= kMaxTableSize.
void DerivePermutation(CipherWorkspace& workspace, int n);

}  // namespace resicrypt

#endif
