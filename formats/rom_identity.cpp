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
constexpr size_t kContentSumOffset = 0x30;
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

// The sum of the covered contents with the block itself counted as zero.
uint32_t ContentSum(const uint8_t* contents, uint32_t covered) {
    uint32_t sum = ByteSum(contents, kRomIdentityContentOffset);
    size_t after = kRomIdentityContentOffset + kRomIdentitySize;
    return ByteSum(contents + after, covered - after, sum);
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
    StoreLe32(block + kContentSumOffset, ContentSum(contents, identity.CoveredLength));
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
    identity.ContentSum = LoadLe32(block + kContentSumOffset);
    if (!IsDateCode(identity.DateCode) || (identity.OsMajor != 3 && identity.OsMajor != 4)) {
        return RomIdentityError::kBadFields;
    }
    if (identity.CoveredLength < kRomIdentityContentOffset + kRomIdentitySize ||
        identity.CoveredLength > size) {
        return RomIdentityError::kTooShort;
    }
    if (ContentSum(contents, identity.CoveredLength) != identity.ContentSum) {
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
            return "the ROM contents do not match the sum in the identity block";
    }
    return "unknown ROM identity error";
}

}  // namespace nuva
