// UpdateHandoff: what the desktop leaves on the handheld for the flasher.
// The desktop builds the record in memory (4488 bytes with the fields that
// never leave the desktop) and writes the 4480-byte file "\temp\updinfo.ini";
// the flasher reads that file back with ParseHandoffFile.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace nuva {

inline constexpr uint32_t kHandoffRecordSize = 4488;
inline constexpr uint32_t kHandoffFileSize = 4480;
inline constexpr size_t kImagePartEntrySize = 92;
inline constexpr size_t kMaxImageParts = 48;
inline constexpr size_t kPartNameUnits = 32;
inline constexpr uint32_t kFrameBufferAddress = 0xBE042000;
inline constexpr uint32_t kPsmStart = 0xA1A00000;
inline constexpr uint32_t kImageFlashOffset = 0x40000;
inline constexpr uint32_t kImageFlashAddress = 0xA0040000;
inline constexpr uint32_t kFirstPartBytes = 0x300000;
inline constexpr uint32_t kPartBytes = 0x200000;

namespace handoff_offset {
inline constexpr size_t kLength = 0x000;
inline constexpr size_t kUI = 0x004;
inline constexpr size_t kAbsoluate = 0x008;
inline constexpr size_t kFRsvd = 0x00C;
inline constexpr size_t kPSMStart = 0x010;
inline constexpr size_t kPSMLength = 0x014;
inline constexpr size_t kStatusMode = 0x018;
inline constexpr size_t kStatusSpare = 0x01A;
inline constexpr size_t kItems = 0x01C;
inline constexpr size_t kROMNAME = 0x020;
inline constexpr size_t kSlots = 0x040;
}  // namespace handoff_offset

namespace part_offset {
inline constexpr size_t kPartName = 0;
inline constexpr size_t kFlashAddress = 64;
inline constexpr size_t kPartLength = 68;
inline constexpr size_t kLateFlag = 72;
inline constexpr size_t kFirstFlag = 76;
inline constexpr size_t kImageOffset = 80;
inline constexpr size_t kSlot = 84;
inline constexpr size_t kPartSum = 88;
}  // namespace part_offset

struct ImagePart {
    std::array<char16_t, kPartNameUnits> PartName{};
    uint32_t FlashAddress = 0;
    uint32_t PartLength = 0;
    uint32_t LateFlag = 0;
    uint32_t FirstFlag = 0;
    uint32_t ImageOffset = 0;
    uint32_t Slot = 0;
    uint32_t PartSum = 0;

    bool operator==(const ImagePart&) const = default;
};

// The record as the desktop builds it; parts[] are in index order.
struct UpdateHandoff {
    uint32_t RecordSize = 0;
    uint32_t TotalBytes = 0;
    uint32_t UI = 0;
    uint32_t absoluate = 0;
    uint32_t FRsvd = 0;
    uint32_t PSMStart = 0;
    uint32_t PSMLength = 0;
    uint32_t FlashOffset = 0;
    std::array<uint16_t, 2> Status{};  // 0 update / 1 restore; spare-buffer request (always 1)
    uint32_t Items = 0;
    std::array<char, 32> ROMNAME{};
    std::array<ImagePart, kMaxImageParts> parts{};

    bool operator==(const UpdateHandoff&) const = default;
};

// The 4480 bytes of "\temp\updinfo.ini": the fixed fields, then every one of
// the first Items parts in the slot its Slot field names (the last part
// first, part 0 last). Parts whose Slot is out of range are a bug in the
// caller and are not written.
std::array<uint8_t, kHandoffFileSize> WriteHandoffFile(const UpdateHandoff& record);

// The file as the flasher reads it; records[] are in file order, which is
// programming order.
struct HandoffFile {
    uint32_t UI = 0;
    uint32_t absoluate = 0;
    uint32_t FRsvd = 0;
    uint32_t PSMStart = 0;
    uint32_t PSMLength = 0;
    uint16_t RestoreFlag = 0;
    uint16_t SpareBufferFlag = 0;
    uint32_t Items = 0;
    std::array<char, 32> ROMNAME{};  // always terminated after parsing
    std::array<ImagePart, kMaxImageParts> records{};
};

enum class HandoffError {
    kNone,
    kWrongLength,       // the file is not exactly 4480 bytes
    kWrongLengthField,  // its first word does not say 4480
    kTooManyItems,      // Items above the 48 slots the file holds
    kNameUnterminated,  // a record's PartName has no terminator in its 32 units
    kNameNotInTemp,     // a record's PartName is not a file under "\TEMP\"
};

// Checks and reads the file. Only the first Items records are checked and
// kept; the others are left zero. On an error `out` holds nothing usable and
// `badRecord` (when given) names the record at fault.
HandoffError ParseHandoffFile(const uint8_t* data, size_t size, HandoffFile& out,
                              size_t* badRecord = nullptr);
std::string_view DescribeHandoffError(HandoffError error);

// Writes "\TEMP\<index>" into a part name field.
void SetPartName(std::array<char16_t, kPartNameUnits>& name, uint32_t index);

}  // namespace nuva
