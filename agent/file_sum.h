// The byte sum of a whole file on the handheld, read in 16 KB pieces.
#pragma once

#include <cstdint>

namespace nuva::agent {

// Opens the file with open-always (a missing file is created empty), and sums
// every byte. False when the file does not open, is empty, or a read fails
// or ends early.
bool FileByteSum(const char16_t* path, uint32_t& sum);

}  // namespace nuva::agent
