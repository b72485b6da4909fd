// The texts the information pages and the backup pages show for a handheld
// and for an image, formatted from the string table (a language module may
// have replaced the formats; FormatText checks their arguments).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/device_info.h"
#include "formats/image_header.h"

namespace nuva {

struct InfoColumn {
    std::string model;       // "Brel Nuva Q7 Advanced"
    std::string romVersion;  // "A02(03050300EN)"
    std::string osVersion;   // "Microsoft POCKET PC 2003"
    std::string language;    // "English", or "" for a language the table lacks
};

// The handheld's column; `osMajor` is the major version the handheld reports
// for its OS (the version call, not DeviceInfo's copy).
InfoColumn DeviceColumnTexts(const DeviceInfo& info, uint32_t osMajor);
// An image's or a backup's column, from its unscrambled header.
InfoColumn ImageColumnTexts(const ImageHeader& header);
// The backup confirmation's values: "Brel Nuva Q7 " with the class word
// (anything but "Advanced" reads "Basic"), the OS by DeviceInfo's major
// version, and a language the table lacks shown as English with code "EN".
InfoColumn BackupConfirmTexts(const DeviceInfo& info);

// The proposed backup file name: ROM version, 'H' or 'L', the date code and
// the language letters ("A02H-03050300EN").
std::string BackupFileName(const DeviceInfo& info);

// The downgrade line of the reason dialog:
// "* You cannot downgrade Microsoft Pocket PC 2003(A02) to Pocket PC 2002(A00).\n".
std::string DowngradeReasonLine(const DeviceInfo& info, const ImageHeader& header);

// UTF-16 text as a wide string for "%ls" (Utf8FromUtf16, in
// formats/text_encoding.h, gives it as UTF-8); unpaired surrogates become
// U+FFFD.
std::wstring WideFromUtf16(std::u16string_view text);

}  // namespace nuva
