// Whether a file can be a ContainerFile at all. The format has no signature: a
// reader knows a container by its first field, a residue count N that some
// password gives, and by its length, which holds at least the header (N, the
// N - 1 bytes of the check block and the file count). A file that fails this
// was never a container; one that passes and whose records do not read is a
// damaged one.
#pragma once

#include <string>

#include "container/binary_file.h"

namespace resicrypt {

enum class ContainerHeader {
  kFits,             // a residue count some password gives, and room for the header
  kTooShort,         // shorter than the header it would need
  kNoResidueCount,   // its first field is no residue count of any file password
};

// The smallest and largest residue count a file password gives: N for L = 3 with
// the largest moduli first, and for L = 23 with the smallest first.
int SmallestContainerResidueCount();
int LargestContainerResidueCount();

// Reads the first field of an open container (from its start) and judges it.
ContainerHeader CheckContainerHeader(InputFile& container);

}  // namespace resicrypt
