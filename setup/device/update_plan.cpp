#include "setup/device/update_plan.h"

#include <string>

namespace nuva {
namespace {

constexpr uint32_t kReservedRamAdvanced = 0xA7FCE000;
constexpr uint32_t kReservedRamBasic = 0xA5FCE000;
constexpr uint32_t kFlashRoutinesAdvanced = 0x87FEC004;
constexpr uint32_t kFlashRoutinesBasic = 0x85FEC004;
constexpr uint32_t kPsmLengthAdvanced = 0x1600000;
constexpr uint32_t kPsmLengthBasic = 0x600000;
// Parts from this index on are deleted by the flasher once programmed.
constexpr uint32_t kFirstLatePart = 4;

}  // namespace

PlanVariant PlanVariantForImage(const ImageHeader& header) {
    PlanVariant v;
    v.os = header.OsCode() == kOsCode2003 ? OsFamily::kPocketPc2003 : OsFamily::kPocketPc2002;
    v.model = header.ModelByte() == kModelByteAdvanced ? ModelClass::kAdvanced : ModelClass::kBasic;
    return v;
}

PlanVariant PlanVariantForDevice(const DeviceInfo& info) {
    PlanVariant v;
    v.os = info.OsMajorVersion == 4 ? OsFamily::kPocketPc2003 : OsFamily::kPocketPc2002;
    v.model = info.MemoryConfig == kMemoryConfigAdvanced ? ModelClass::kAdvanced : ModelClass::kBasic;
    return v;
}

uint32_t ContentBytesFor(OsFamily os) {
    return os == OsFamily::kPocketPc2003 ? kContentBytes2003 : kContentBytes2002;
}

uint32_t BuildUpdatePlan(const PlanVariant& variant, UpdateHandoff& record) {
    bool advanced = variant.model == ModelClass::kAdvanced;
    record.RecordSize = kHandoffRecordSize;
    record.TotalBytes = ContentBytesFor(variant.os);
    record.UI = kFrameBufferAddress;
    record.absoluate = advanced ? kReservedRamAdvanced : kReservedRamBasic;
    record.FRsvd = advanced ? kFlashRoutinesAdvanced : kFlashRoutinesBasic;
    record.PSMStart = kPsmStart;
    record.PSMLength = advanced ? kPsmLengthAdvanced : kPsmLengthBasic;
    record.FlashOffset = kImageFlashOffset;

    uint32_t count = 0;
    uint32_t offset = 0;
    while (offset < record.TotalBytes && count < kMaxImageParts) {
        uint32_t size = count == 0 ? kFirstPartBytes : kPartBytes;
        uint32_t remaining = record.TotalBytes - offset;
        ImagePart& part = record.parts[count];
        part = ImagePart{};
        SetPartName(part.PartName, count);
        part.ImageOffset = offset;
        part.FlashAddress = kImageFlashAddress + offset;
        part.PartLength = remaining < size ? remaining : size;
        part.FirstFlag = count == 0 ? 1 : 0;
        offset += part.PartLength;
        ++count;
    }
    record.Items = count;
    for (uint32_t i = 0; i < count; ++i) {
        record.parts[i].Slot = count - 1 - i;
        record.parts[i].LateFlag = i >= kFirstLatePart ? 1 : 0;
    }
    return count;
}

UpdateHandoff PlanImageWrite(const ImageHeader& header, uint32_t deviceOsMajor, PlanMode mode) {
    UpdateHandoff record;
    BuildUpdatePlan(PlanVariantForImage(header), record);
    uint8_t code = header.OsCode();
    if (KeepsBuiltInStorage(code, deviceOsMajor)) {
        record.PSMStart = 0;
        record.PSMLength = 0;
    }
    std::string_view generation = code == kOsCode2003 ? "2003" : code == kOsCode2002 ? "2002" : "";
    // The ROM name has at most 8 characters, so the text always fits with
    // zeros behind it.
    std::string text = std::string(generation) + "(" + header.RomName() + ")";
    record.ROMNAME.fill('\0');
    text.copy(record.ROMNAME.data(), record.ROMNAME.size() - 1);
    record.Status = {static_cast<uint16_t>(mode), 1};
    return record;
}

std::string BackupShapeFault(const ImageHeader& header, uint64_t length) {
    const uint32_t contents = ContentBytesFor(PlanVariantForImage(header).os);
    if (length != kImageHeaderSize + uint64_t{contents}) {
        return "a backup of its Pocket PC generation is " +
               std::to_string(kImageHeaderSize + uint64_t{contents}) + " bytes, this file " +
               std::to_string(length);
    }
    if (header.ByteCount() != contents) {
        return "its header counts " + std::to_string(header.ByteCount()) + " bytes of the " +
               std::to_string(contents) + " it holds";
    }
    return {};
}

}  // namespace nuva
