#include "formats/update_handoff.h"

#include <string>

#include "formats/le.h"

namespace nuva {
namespace {

void WritePart(uint8_t* out, const ImagePart& part) {
    for (size_t i = 0; i < kPartNameUnits; ++i) {
        StoreLe16(out + part_offset::kPartName + 2 * i, static_cast<uint16_t>(part.PartName[i]));
    }
    StoreLe32(out + part_offset::kFlashAddress, part.FlashAddress);
    StoreLe32(out + part_offset::kPartLength, part.PartLength);
    StoreLe32(out + part_offset::kLateFlag, part.LateFlag);
    StoreLe32(out + part_offset::kFirstFlag, part.FirstFlag);
    StoreLe32(out + part_offset::kImageOffset, part.ImageOffset);
    StoreLe32(out + part_offset::kSlot, part.Slot);
    StoreLe32(out + part_offset::kPartSum, part.PartSum);
}

ImagePart ReadPart(const uint8_t* in) {
    ImagePart part;
    for (size_t i = 0; i < kPartNameUnits; ++i) {
        part.PartName[i] = static_cast<char16_t>(LoadLe16(in + part_offset::kPartName + 2 * i));
    }
    part.FlashAddress = LoadLe32(in + part_offset::kFlashAddress);
    part.PartLength = LoadLe32(in + part_offset::kPartLength);
    part.LateFlag = LoadLe32(in + part_offset::kLateFlag);
    part.FirstFlag = LoadLe32(in + part_offset::kFirstFlag);
    part.ImageOffset = LoadLe32(in + part_offset::kImageOffset);
    part.Slot = LoadLe32(in + part_offset::kSlot);
    part.PartSum = LoadLe32(in + part_offset::kPartSum);
    return part;
}

char16_t Upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// "\TEMP\" followed by at least one character, the folder matched without
// regard to case as the handheld's file system does.
bool IsUnderTemp(const std::array<char16_t, kPartNameUnits>& name, size_t length) {
    static constexpr std::u16string_view kPrefix = u"\\TEMP\\";
    if (length <= kPrefix.size()) {
        return false;
    }
    for (size_t i = 0; i < kPrefix.size(); ++i) {
        if (Upper(name[i]) != kPrefix[i]) {
            return false;
        }
    }
    for (size_t i = kPrefix.size(); i < length; ++i) {
        if (name[i] == u'\\') {
            return false;  // no deeper folders
        }
    }
    return true;
}

}  // namespace

std::array<uint8_t, kHandoffFileSize> WriteHandoffFile(const UpdateHandoff& record) {
    namespace o = handoff_offset;
    std::array<uint8_t, kHandoffFileSize> file{};
    StoreLe32(file.data() + o::kLength, kHandoffFileSize);
    StoreLe32(file.data() + o::kUI, record.UI);
    StoreLe32(file.data() + o::kAbsoluate, record.absoluate);
    StoreLe32(file.data() + o::kFRsvd, record.FRsvd);
    StoreLe32(file.data() + o::kPSMStart, record.PSMStart);
    StoreLe32(file.data() + o::kPSMLength, record.PSMLength);
    StoreLe16(file.data() + o::kStatusMode, record.Status[0]);
    StoreLe16(file.data() + o::kStatusSpare, record.Status[1]);
    StoreLe32(file.data() + o::kItems, record.Items);
    for (size_t i = 0; i < record.ROMNAME.size(); ++i) {
        file[o::kROMNAME + i] = static_cast<uint8_t>(record.ROMNAME[i]);
    }
    size_t items = record.Items < kMaxImageParts ? record.Items : kMaxImageParts;
    for (size_t i = 0; i < items; ++i) {
        const ImagePart& part = record.parts[i];
        if (part.Slot < kMaxImageParts) {
            WritePart(file.data() + o::kSlots + kImagePartEntrySize * part.Slot, part);
        }
    }
    return file;
}

HandoffError ParseHandoffFile(const uint8_t* data, size_t size, HandoffFile& out, size_t* badRecord) {
    namespace o = handoff_offset;
    out = HandoffFile{};
    if (data == nullptr || size != kHandoffFileSize) {
        return HandoffError::kWrongLength;
    }
    if (LoadLe32(data + o::kLength) != kHandoffFileSize) {
        return HandoffError::kWrongLengthField;
    }
    uint32_t items = LoadLe32(data + o::kItems);
    if (items > kMaxImageParts) {
        return HandoffError::kTooManyItems;
    }
    HandoffFile file;
    file.UI = LoadLe32(data + o::kUI);
    file.absoluate = LoadLe32(data + o::kAbsoluate);
    file.FRsvd = LoadLe32(data + o::kFRsvd);
    file.PSMStart = LoadLe32(data + o::kPSMStart);
    file.PSMLength = LoadLe32(data + o::kPSMLength);
    file.RestoreFlag = LoadLe16(data + o::kStatusMode);
    file.SpareBufferFlag = LoadLe16(data + o::kStatusSpare);
    file.Items = items;
    for (size_t i = 0; i + 1 < file.ROMNAME.size(); ++i) {
        file.ROMNAME[i] = static_cast<char>(data[o::kROMNAME + i]);
    }
    file.ROMNAME.back() = '\0';
    for (size_t r = 0; r < items; ++r) {
        ImagePart part = ReadPart(data + o::kSlots + kImagePartEntrySize * r);
        size_t length = 0;
        while (length < kPartNameUnits && part.PartName[length] != u'\0') {
            ++length;
        }
        if (length == kPartNameUnits) {
            if (badRecord != nullptr) {
                *badRecord = r;
            }
            return HandoffError::kNameUnterminated;
        }
        if (!IsUnderTemp(part.PartName, length)) {
            if (badRecord != nullptr) {
                *badRecord = r;
            }
            return HandoffError::kNameNotInTemp;
        }
        file.records[r] = part;
    }
    out = file;
    return HandoffError::kNone;
}

std::string_view DescribeHandoffError(HandoffError error) {
    switch (error) {
        case HandoffError::kNone:
            return "no error";
        case HandoffError::kWrongLength:
            return "the hand-over file is not 4480 bytes long";
        case HandoffError::kWrongLengthField:
            return "the hand-over file's length field is not 4480";
        case HandoffError::kTooManyItems:
            return "the hand-over file lists more than 48 parts";
        case HandoffError::kNameUnterminated:
            return "a part name in the hand-over file has no terminator";
        case HandoffError::kNameNotInTemp:
            return "a part name in the hand-over file is not a file under \\TEMP\\";
    }
    return "unknown hand-over error";
}

void SetPartName(std::array<char16_t, kPartNameUnits>& name, uint32_t index) {
    name.fill(u'\0');
    std::u16string text = u"\\TEMP\\";
    for (char c : std::to_string(index)) {
        text.push_back(static_cast<char16_t>(c));
    }
    for (size_t i = 0; i < text.size() && i + 1 < name.size(); ++i) {
        name[i] = text[i];
    }
}

}  // namespace nuva
