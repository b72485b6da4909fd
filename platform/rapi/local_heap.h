// The desktop's local heap behind LocalAlloc and friends, for the RAPI
// functions that take or give local blocks.
#pragma once

#include <cstddef>

namespace nuva::rapi {

// The size of a live block. False for a pointer that is not the start of one.
bool LocalBlockSize(const void* block, size_t& size);

}  // namespace nuva::rapi
