// The residue cipher engine: modulus table, password permutation, block codec.
//
// A command prepares the workspace in this order: SetPasswordText,
// BuildModulusTable(n), DerivePermutation(n), N = ResidueCount(L) + margin, then
// EncodeBlock per block, or BuildProductTable(N) once and DecodeBlock per block.
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

// Residues of the block in blockDigits 1..N-1 modulo m(2)..m(N), into residues
// 2..N. base is the digit base of the block, always 256. Domain: 2 <= N <= kMaxResidueCount.
void EncodeBlock(CipherWorkspace& workspace, int base, int N);

// Fills productTable entries [j][i], i, j = 2..N, with (m(2)...m(j-1)) mod m(i).
void BuildProductTable(CipherWorkspace& workspace, int N);

// Rebuilds a block from residues 2..N (any value 0..255, reduced first) with
// Garner's mixed-radix form of the Chinese remainder theorem. Writes the digits
// into radixDigits, counts zero digits into zeroDigitCount, and writes the
// rebuilt number in base 256 into outputDigits 2..N (block byte p at index p + 1).
// Needs BuildProductTable(N) for the current table.
void DecodeBlock(CipherWorkspace& workspace, int base, int N);

// The x with a * x = b (mod m(i)), 0 <= x < m(i), for 0 <= a, b < m(i) and a
// prime m(i). -1 if the walk gives up (only for a modulus that is not prime).
int SolveCongruence(CipherWorkspace& workspace, int i, int a, int b);

// The walk behind SolveCongruence for an explicit modulus, with the number of
// the pass in which it ended (0 when it ended before the first pass).
struct CongruenceWalk {
  int x;
  int passes;
};
CongruenceWalk WalkCongruence(int m, int a, int b);

}  // namespace resicrypt

#endif
