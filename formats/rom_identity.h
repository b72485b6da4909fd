// The ROM identity block: how a ROM image tells the handheld who it is.
//
// The handheld's boot code finds the block at a fixed place inside the image
// contents (content offset 0x100, flash address 0xA0040100) and reads it at
// every start. The handheld then reports that ROM's build date code, version
// text, OS generation and language. A handheld whose flash holds no valid
// block, or whose image bytes do not match the CRC-32 the block records,
// does not start: it is bricked. A CRC, unlike a byte sum, notices bytes in
// the wrong place: two pieces swapped, megabytes programmed out of order, the
// two chips' halves of every word exchanged. A backup of the flash carries the block
// along, so a restored backup starts as the ROM it was taken from.
//
// Layout (64 bytes, little-endian):
//
//   0x00  8  magic "NUVAROM1"
//   0x08  4  block length, 64
//   0x0C  8  RomDateCode, eight ASCII characters MMDDYYxx
//   0x14 16  version text, ASCII, zero-padded, at most 15 characters ("A03")
//   0x24  4  OS major version: 3 = Pocket PC 2002, 4 = Pocket PC 2003
//   0x28  4  language identifier (LANGID) of the ROM
//   0x2C  4  covered length: the number of image content bytes, from content
//            offset 0, that the sum covers (0x1980000 or 0x19C0000)
//   0x30  4  CRC-32 (IEEE 802.3: polynomial 0x04C11DB7 reflected, initial
//            value and final XOR 0xFFFFFFFF) of the covered bytes, with the
//            64 bytes of this block counted as zero
//   0x34  8  zero
//   0x3C  4  ByteSum of bytes 0x00 to 0x3B of this block
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nuva {

inline constexpr uint32_t kRomIdentityContentOffset = 0x100;
inline constexpr uint32_t kRomIdentitySize = 64;

struct RomIdentity {
    std::string DateCode;  // eight characters
    std::string Version;   // at most 15 characters
    uint32_t OsMajor = 0;
    uint32_t LanguageId = 0;
    uint32_t CoveredLength = 0;
    uint32_t ContentCrc = 0;
};

enum class RomIdentityError {
    kNone,
    kTooShort,    // the contents do not reach past the block or the covered length
    kNoBlock,     // no magic, a wrong length or a wrong block sum
    kBadFields,   // a date code that is not eight digits, an unknown OS major
    kContentSum,  // the contents do not match the recorded CRC-32
};

// Writes the block into image contents (content offset 0 at contents[0]),
// computing the content CRC over `identity.CoveredLength` bytes;
// `identity.ContentCrc` is ignored. Returns false when the contents are
// shorter than the covered length or the block, or the fields do not fit.
bool StampRomIdentity(uint8_t* contents, size_t size, const RomIdentity& identity);

// Reads and checks the block of image contents of `size` bytes.
RomIdentityError ReadRomIdentity(const uint8_t* contents, size_t size, RomIdentity& out);

const char* DescribeRomIdentityError(RomIdentityError error);

// CRC-32 (IEEE 802.3) of `count` bytes, continuing from `crc` (0 to start).
uint32_t Crc32(const uint8_t* data, size_t count, uint32_t crc = 0);

}  // namespace nuva
