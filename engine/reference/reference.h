// The step-by-step block operations and text cipher, as the format describes
// them: one block at a time through the workspace's tables. The product runs the
// block codec (engine/fast_codec.h) and TextCipher instead; tests, fuzz targets
// and benchmarks hold those against these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/cipher_workspace.h"
#include "engine/text_cipher.h"

namespace resicrypt {

// The workspace of the step-by-step operations: the product's workspace and the
// tables that only DecodeBlock works in (the block codec keeps smaller ones of
// its own).
struct ReferenceWorkspace : CipherWorkspace {
  // DecodeBlock: input residue of position i reduced modulo m(i).
  std::int32_t reducedResidues[kDigitTableSize];
  // DecodeBlock: value rebuilt so far, modulo m(j).
  std::int32_t partialValues[kDigitTableSize];
  // Entry [j][i] = (m(2) * ... * m(j-1)) mod m(i); entry [2][i] = 1.
  std::int32_t productTable[kProductTableSize][kProductTableSize];
};

// Residues of the block in blockDigits 1..N-1 modulo m(2)..m(N), into residues
// 2..N. base is the digit base of the block, always 256. Domain: 2 <= N <= kMaxResidueCount.
void EncodeBlock(CipherWorkspace& workspace, int base, int N);

// Fills productTable entries [j][i], i, j = 2..N, with (m(2)...m(j-1)) mod m(i).
void BuildProductTable(ReferenceWorkspace& workspace, int N);

// Rebuilds a block from residues 2..N (any value 0..255, reduced first) with
// Garner's mixed-radix form of the Chinese remainder theorem. Writes the digits
// into radixDigits, counts zero digits into zeroDigitCount, and writes the
// rebuilt number in base 256 into outputDigits 2..N (block byte p at index p + 1).
// Needs BuildProductTable(N) for the current table.
void DecodeBlock(ReferenceWorkspace& workspace, int base, int N);

// The check of a block just rebuilt by DecodeBlock(N) from the residues 2..N in
// the workspace, for block length L: true when it fails any of its tests, that
// is when a residue is at or above its modulus, when the spare modulus's digit
// g(N) is not 0 (tested only when spareDigitTested), or when the rebuilt value
// is at or above 256^L (a base-256 digit above block position L is not 0).
bool DecodedBlockFails(const CipherWorkspace& workspace, int N, int L, bool spareDigitTested);

// Whether every block of L bytes has a spare digit g(N) of 0 under the key: the
// largest one, L bytes 255, is decoded to see. ResidueCount sums its logarithms
// in single precision, and where that rounds the product of m(2)..m(N-1) below
// 256^L, a block may have a spare digit that is not 0. Uses the block buffer,
// the residues and the digit tables; needs BuildProductTable(N).
bool SpareDigitIsZeroForBlocks(ReferenceWorkspace& workspace, int N, int L);

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

// EncryptText and DecryptText done the step-by-step way, block by block through
// EncodeBlock and DecodeBlock on the workspace: the reference that TextCipher is
// tested against. Same contract as EncryptText and DecryptText.
std::string EncryptTextReference(CipherWorkspace& workspace, const TextAlphabet& alphabet,
                                 std::string_view password, std::string_view text);
std::string DecryptTextReference(ReferenceWorkspace& workspace, const TextAlphabet& alphabet,
                                 std::string_view password, std::string_view text);

}  // namespace resicrypt
