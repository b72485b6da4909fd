// ByteSum: the only checksum of the system. Image files, image parts, flash
// reads, backups and the agent's file sum all use it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nuva {

// The 32-bit wrapping sum of every byte of the buffer, each taken as unsigned
// (0 to 255), added to `start`. An empty range gives `start`.
uint32_t ByteSum(const void* data, size_t count, uint32_t start = 0);

}  // namespace nuva
