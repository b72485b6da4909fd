// The built-in storage (PSM): user files kept in the flash from offset
// 0x1A00000 (kernel address 0xA1A00000) to the end of the flash. The
// handheld's storage driver reads it from the flash cells at every access,
// so whatever erases the region (the flasher) empties the storage.
//
// Format: a list of records from the start of the region, each at a 4-byte
// aligned offset, little-endian:
//
//   0x00  4  magic "PSMF"
//   0x04  4  state: 0xFFFFFFFF live, 0x00000000 deleted (cleared in place)
//   0x08  4  name length in UTF-16 units, 1 to 255
//   0x0C  4  data length in bytes
//   0x10  4  ByteSum of bytes 0x08-0x0F, the name and the data
//   0x14     the name (UTF-16LE, no terminator), then the data, then erased
//            bytes up to the next multiple of 4
//
// An erased word (0xFFFFFFFF) where a record would start ends the list. The
// flash is only programmed (bits cleared), never rewritten: replacing a file
// appends the new record and then clears the old record's state word. When
// both copies are live (the replacement was cut short) the later one counts.
// The driver does not compact the region; a full region refuses new files.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "handheld-sim/machine/handheld.h"

namespace nuva::sim {

inline constexpr uint32_t kPsmFlashOffset = 0x1A00000;

// The live files of the region, in the order they were written. On
// kDamaged the files before the damaged record are listed.
PsmError ReadPsm(std::span<const uint8_t> region, std::vector<PsmFile>& files);

// Adds or replaces a file by programming the region's cells.
PsmError WritePsm(std::span<uint8_t> region, std::u16string_view name, std::span<const uint8_t> data);

}  // namespace nuva::sim
