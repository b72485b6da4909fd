// What the handheld and an image say about themselves, as the information
// pages show it: model class, ROM build date code, OS generation and
// language. Texts are named by string-table identifier (string_ids.h) so that
// a language module can replace them.
//
// LanguageCodeFor, the two letters a backup header and a backup file name
// carry for a LANGID, is the command line's code table and lives beside it in
// setup/resources/settings.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nuva {

// One row of the language table that serves both the handheld's LanguageId
// and an image's two-letter LanguageCode.
struct LanguageRow {
    uint16_t languageId;
    std::string_view code;  // two letters, first letter first
    uint32_t nameId;        // string id of the language's name
};

// The row of a handheld language; nullptr when the table has none (its name
// and code are then empty).
const LanguageRow* LanguageRowForId(uint32_t languageId);
// The row of an image's two code bytes; nullptr when unknown.
const LanguageRow* LanguageRowForCode(std::string_view code);

// String id of the class word ("Advanced" / "Basic"), or 0 for an empty word.
uint32_t ClassWordForMemoryConfig(uint32_t memoryConfig);
uint32_t ClassWordForModelByte(uint8_t modelByte);

// The handheld's ROM build date code: PlatformInfo as eight lower-case hex
// digits ("03050300").
std::string RomDateCode(uint32_t platformInfo);

// Orders two date codes MMDDYYxx by year, month, day, then the two trailing
// digits: negative, 0 or positive as `a` is older than, equal to or newer
// than `b` (the difference of the first differing characters). A code
// shorter than eight characters compares as if padded with NULs.
int CompareRomDates(std::string_view a, std::string_view b);

// String id of the OS text of a handheld (its OS major version, 3 or 4) and
// of an image (its ImageOsCode: 0 or 2 for 2002, 3 for 2003).
uint32_t OsTextForMajorVersion(uint32_t osMajor);
uint32_t OsTextForImageCode(uint8_t osCode);

// UTF-16 text as 8-bit text in the desktop's code page for these texts
// (Windows-1252's Latin-1 part): ASCII and U+00A0..U+00FF pass, anything else
// becomes '?'. Stops at the first NUL.
std::string AnsiFromUtf16(std::u16string_view text);

}  // namespace nuva
