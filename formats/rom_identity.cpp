#include "formats/rom_identity.h"

#include <cstring>

#include "formats/byte_sum.h"
#include "formats/le.h"

namespace nuva {
namespace {

constexpr char kMagic[8] = {'N', 'U', 'V', 'A', 'R', 'O', 'M', '1'};
constexpr size_t kDateOffset = 0x0C;
constexpr size_t kVersionOffset = 0x14;
constexpr size_t kVersionWidth = 16;
constexpr size_t kOsOffset = 0x24;
constexpr size_t kLanguageOffset = 0x28;
constexpr size_t kCoveredOffset = 0x2C;
constexpr size_t kContentCrcOffset = 0x30;
constexpr size_t kBlockSumOffset = 0x3C;

bool IsDateCode(const std::string& text) {
    if (text.size() != 8) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// Eight tables of 256 entries: the CRC of a byte followed by 0 to 7 zero
// bytes, so that eight bytes are folded in per step (the check runs over the
// whole ROM at every start of the handheld).
struct CrcTables {
    uint32_t t[8][256];
    constexpr CrcTables() : t{} {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i) {
            for (int k = 1; k < 8; ++k) {
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
            }
        }
    }
};
constexpr CrcTables kCrc;

// The CRC of the covered contents with the block itself counted as zero.
uint32_t ContentCrc(const uint8_t* contents, uint32_t covered) {
    static constexpr uint8_t kZeroBlock[kRomIdentitySize] = {};
    uint32_t crc = Crc32(contents, kRomIdentityContentOffset);
    crc = Crc32(kZeroBlock, kRomIdentitySize, crc);
    size_t after = kRomIdentityContentOffset + kRomIdentitySize;
    return Crc32(contents + after, covered - after, crc);
}

}  // namespace

bool StampRomIdentity(uint8_t* contents, size_t size, const RomIdentity& identity) {
    size_t end = kRomIdentityContentOffset + kRomIdentitySize;
    if (identity.CoveredLength < end || identity.CoveredLength > size || !IsDateCode(identity.DateCode) ||
        identity.Version.size() >= kVersionWidth) {
        return false;
    }
    uint8_t* block = contents + kRomIdentityContentOffset;
    std::memset(block, 0, kRomIdentitySize);
    std::memcpy(block, kMagic, sizeof kMagic);
    StoreLe32(block + 0x08, kRomIdentitySize);
    std::memcpy(block + kDateOffset, identity.DateCode.data(), 8);
    std::memcpy(block + kVersionOffset, identity.Version.data(), identity.Version.size());
    StoreLe32(block + kOsOffset, identity.OsMajor);
    StoreLe32(block + kLanguageOffset, identity.LanguageId);
    StoreLe32(block + kCoveredOffset, identity.CoveredLength);
    StoreLe32(block + kContentCrcOffset, ContentCrc(contents, identity.CoveredLength));
    StoreLe32(block + kBlockSumOffset, ByteSum(block, kBlockSumOffset));
    return true;
}

RomIdentityError ReadRomIdentity(const uint8_t* contents, size_t size, RomIdentity& out) {
    out = RomIdentity{};
    if (contents == nullptr || size < kRomIdentityContentOffset + kRomIdentitySize) {
        return RomIdentityError::kTooShort;
    }
    const uint8_t* block = contents + kRomIdentityContentOffset;
    if (std::memcmp(block, kMagic, sizeof kMagic) != 0 || LoadLe32(block + 0x08) != kRomIdentitySize ||
        LoadLe32(block + kBlockSumOffset) != ByteSum(block, kBlockSumOffset)) {
        return RomIdentityError::kNoBlock;
    }
    RomIdentity identity;
    identity.DateCode.assign(reinterpret_cast<const char*>(block + kDateOffset), 8);
    const char* version = reinterpret_cast<const char*>(block + kVersionOffset);
    identity.Version.assign(version, strnlen(version, kVersionWidth - 1));
    identity.OsMajor = LoadLe32(block + kOsOffset);
    identity.LanguageId = LoadLe32(block + kLanguageOffset);
    identity.CoveredLength = LoadLe32(block + kCoveredOffset);
    identity.ContentCrc = LoadLe32(block + kContentCrcOffset);
    if (!IsDateCode(identity.DateCode) || (identity.OsMajor != 3 && identity.OsMajor != 4)) {
        return RomIdentityError::kBadFields;
    }
    if (identity.CoveredLength < kRomIdentityContentOffset + kRomIdentitySize ||
        identity.CoveredLength > size) {
        return RomIdentityError::kTooShort;
    }
    if (ContentCrc(contents, identity.CoveredLength) != identity.ContentCrc) {
        return RomIdentityError::kContentSum;
    }
    out = identity;
    return RomIdentityError::kNone;
}

const char* DescribeRomIdentityError(RomIdentityError error) {
    switch (error) {
        case RomIdentityError::kNone:
            return "valid ROM identity";
        case RomIdentityError::kTooShort:
            return "the ROM contents are shorter than the identity block says";
        case RomIdentityError::kNoBlock:
            return "no ROM identity block";
        case RomIdentityError::kBadFields:
            return "the ROM identity block holds an invalid date code or OS version";
        case RomIdentityError::kContentSum:
            return "the ROM contents do not match the CRC-32 in the identity block";
    }
    return "unknown ROM identity error";
}

uint32_t Crc32(const uint8_t* data, size_t count, uint32_t crc) {
    crc = ~crc;
    while (count >= 8) {
        uint32_t low = LoadLe32(data) ^ crc;
        uint32_t high = LoadLe32(data + 4);
        crc = kCrc.t[7][low & 0xFF] ^ kCrc.t[6][(low >> 8) & 0xFF] ^ kCrc.t[5][(low >> 16) & 0xFF] ^
              kCrc.t[4][low >> 24] ^ kCrc.t[3][high & 0xFF] ^ kCrc.t[2][(high >> 8) & 0xFF] ^
              kCrc.t[1][(high >> 16) & 0xFF] ^ kCrc.t[0][high >> 24];
        data += 8;
        count -= 8;
    }
    while (count-- > 0) {
        crc = kCrc.t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

}  // namespace nuva
