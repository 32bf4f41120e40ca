#include "container/container_header.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "container/file_cipher.h"
#include "engine/engine.h"

namespace resicrypt {

namespace {

// N = ResidueCount(L) + 1 over the moduli that the password orders (positions 2
// to n - 3 of the table), taken in descending or ascending order.
int ResidueCountWith(bool smallestFirst, int blockLength) {
  auto workspace = std::make_unique<CipherWorkspace>();
  BuildModulusTable(*workspace, kFileTableSize);
  if (smallestFirst) {
    std::reverse(workspace->ModulusTable + 2, workspace->ModulusTable + kFileTableSize - 2);
  }
  return ResidueCount(*workspace, blockLength) + 1;
}

}  // namespace

int SmallestContainerResidueCount() {
  static const int smallest = ResidueCountWith(false, kMinFilePasswordLength);
  return smallest;
}

int LargestContainerResidueCount() {
  static const int largest = ResidueCountWith(true, kMaxFilePasswordLength);
  return largest;
}

ContainerHeader CheckContainerHeader(InputFile& container) {
  std::int32_t residueCount = 0;
  if (!container.ReadInt32(residueCount)) return ContainerHeader::kTooShort;
  if (residueCount < SmallestContainerResidueCount() ||
      residueCount > LargestContainerResidueCount()) {
    return ContainerHeader::kNoResidueCount;
  }
  // Residue count, check block of N - 1 bytes, file count.
  if (container.Size() < 4 + (residueCount - 1) + 4) return ContainerHeader::kTooShort;
  return ContainerHeader::kFits;
}

}  // namespace resicrypt
