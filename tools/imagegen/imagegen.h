// Makes update image bytes in memory: the 512-byte header and the ROM
// contents behind it, as the image tool, the demo installation and the tests
// need them.
//
// The contents are a deterministic pseudo-random pattern derived from every
// parameter that names the ROM (OS family, class, language, date code, name),
// so two different ROMs differ in every flash block and a test can prove
// which ROM the flash holds. The ROM identity block that the handheld reads
// at every start is stamped into the contents, so a handheld flashed with
// such an image starts and reports that ROM.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/image_header.h"

namespace nuva::imagegen {

enum class OsFamily { k2002, k2003 };
enum class ModelClass { kAdvanced, kBasic };

struct ImageSpec {
    OsFamily os = OsFamily::k2003;
    ModelClass modelClass = ModelClass::kAdvanced;
    std::string language = "EN";        // EN FR GE SP IT TC SC
    std::string dateCode = "04100300";  // MMDDYYxx, eight digits
    std::string romName = "A03";        // 1 to 8 printable ASCII characters
    // Fills the byte count and sum at 0x68/0x6C, which make Setup check the
    // contents' sum before an update.
    bool withSum = true;
    // An early image: only the first 36 header bytes are set, the rest is
    // zero (no marker, no OS code, no name, no count). Implies no sum.
    bool early = false;
};

enum class ImageGenError {
    kNone,
    kBadLanguage,  // not one of the seven language codes
    kBadDateCode,  // not eight decimal digits
    kBadRomName,   // empty, longer than 8 characters, or not printable ASCII
    kCannotWrite,  // the output file could not be written
};

const char* DescribeImageGenError(ImageGenError error);

// "2002" / "2003", "advanced" / "basic"; false for anything else.
bool ParseOsFamily(std::string_view text, OsFamily& out);
bool ParseModelClass(std::string_view text, ModelClass& out);

// The language identifier (LANGID) of a two-letter language code, 0 when the
// code is not one of the seven.
uint16_t LanguageIdForCode(std::string_view code);

// The number of content bytes behind the header, by OS family.
uint32_t ContentBytes(OsFamily os);
// ImageOsCode and the OS major version the handheld reports.
uint8_t OsCode(OsFamily os);
uint32_t OsMajor(OsFamily os);
uint8_t ModelByte(ModelClass modelClass);

ImageGenError CheckSpec(const ImageSpec& spec);

// The ROM contents (ContentBytes long) with the identity block stamped.
ImageGenError MakeContents(const ImageSpec& spec, std::vector<uint8_t>& contents);

// The plain (unscrambled) header for `spec`; `contents` are needed only for
// the byte sum.
ImageGenError MakeHeader(const ImageSpec& spec, const std::vector<uint8_t>& contents, ImageHeader& header);

// The whole file: stored (scrambled) header followed by the contents.
ImageGenError MakeImageFile(const ImageSpec& spec, std::vector<uint8_t>& file);

// Writes the whole file to `path`: into a temporary file in the same folder,
// renamed to `path` only once complete, so no partial file ever carries the
// final name. On kCannotWrite, `detail` (when given) says why.
ImageGenError WriteImageFile(const ImageSpec& spec, const std::string& path, std::string* detail = nullptr);

// Writes any bytes to `path` in the same all-or-nothing way; false with
// `detail` filled on failure.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* detail);

}  // namespace nuva::imagegen
