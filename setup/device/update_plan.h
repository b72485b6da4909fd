// The plan of an update or a restore: how the image contents are cut into
// ImageParts and where each goes in flash, filled into the UpdateHandoff
// record (formats/update_handoff.h) that the desktop copies to the handheld.
//
// The contents are cut from offset 0 into a first part of 3 MB and then parts
// of 2 MB, the last one taking what remains. Part i is copied to "\TEMP\i",
// belongs at flash address 0xA0040000 + its offset, and stands in hand-over
// slot Items - 1 - i, so that part 0 (the one that holds the boot code) is
// programmed last.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/device_info.h"
#include "formats/generation.h"
#include "formats/image_header.h"
#include "formats/update_handoff.h"

namespace nuva {

enum class OsFamily { kPocketPc2002, kPocketPc2003 };
enum class ModelClass { kAdvanced, kBasic };

// The four plans differ in the contents' length, the RAM addresses of the
// reserved block and of the flasher's routines, and the built-in storage
// length.
struct PlanVariant {
    OsFamily os = OsFamily::kPocketPc2002;
    ModelClass model = ModelClass::kBasic;
};

// The variant for an image: ImageOsCode 3 gives Pocket PC 2003, any other
// code Pocket PC 2002; model byte 0x40 gives "Advanced", any other "Basic".
PlanVariant PlanVariantForImage(const ImageHeader& header);
// The variant for reading the handheld's own flash: OS major 4 gives Pocket
// PC 2003, anything else 2002; MemoryConfig 0x02000200 "Advanced", else
// "Basic".
PlanVariant PlanVariantForDevice(const DeviceInfo& info);

// Number of content bytes of an OS family's images.
uint32_t ContentBytesFor(OsFamily os);

// What a backup file of `length` bytes with `header` must be before a
// restore may write it: the header and exactly the flash contents of its OS
// family, all of them counted by its header (the sum over them is checked
// apart, as it reads the whole file). "" when it is; else why not, in a few
// words. The restore's check and the image tool's judge backups by it.
std::string BackupShapeFault(const ImageHeader& header, uint64_t length);

// Fills a record for a variant: its fixed fields, PSMStart 0xA1A00000 with
// the variant's PSMLength, and the parts with their names, addresses,
// lengths, flags and slots (sums 0). Everything else is left zero. Returns
// the number of parts.
uint32_t BuildUpdatePlan(const PlanVariant& variant, UpdateHandoff& record);

enum class PlanMode : uint16_t { kUpdate = 0, kRestore = 1 };

// The whole plan for writing an image to a handheld that runs OS major
// version `deviceOsMajor`: the image's variant, the built-in storage kept
// (PSMStart and PSMLength 0) when the handheld already runs the image's OS
// family, ROMNAME "2003(%s)" / "2002(%s)" / "(%s)" with the image's ROM name
// by ImageOsCode 3 / 2 / other, and Status {mode, 1}.
UpdateHandoff PlanImageWrite(const ImageHeader& header, uint32_t deviceOsMajor, PlanMode mode);

}  // namespace nuva
