// The update images of an installation and the headers of image and backup
// files.
//
// setup.ini, section "Image": "HIMODEL" names the image for the "Advanced"
// class (MemoryConfig 0x02000200), "LOWMODEL" the one for the "Basic" class,
// each relative to the installation folder.
//
// Every image file and every ROM backup file (RisFile) starts with a 512-byte
// ImageHeader (formats/image_header.h) whose first 36 bytes are stored
// scrambled; the ROM contents follow it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formats/device_info.h"
#include "formats/image_header.h"

namespace nuva {

// The full path of the image that setup.ini names for a class, when the value
// is not empty and names an existing file (not a folder).
std::optional<std::string> FindUpdateImage(std::string_view folder, bool highModel);

// The same with the desktop's calling pattern: returns 1 when the image is
// there, else 0. When `length` is given, the path is copied into `buffer`
// (when given) cut to *length - 1 characters and terminated, and *length is
// replaced by the path's full length in characters. A reported length at or
// above the buffer's size therefore means the copy was cut and a larger
// buffer is needed. Called with neither, it only tests for the image.
int LocateUpdateImage(std::string_view folder, int highModel, char* buffer, size_t* length);

// The ROM name of an early Pocket PC 2002 image, by its date code: "A00",
// "A02", "A03", or "" for a date it does not know.
std::string_view EarlyRomNameForDate(std::string_view dateCode);

// Accepts or refuses a header read from a file of `fileLength` bytes.
// `stored` holds the file's first 512 bytes as stored; `header` receives
// them unscrambled, and for an early image (no "NUVA7" marker, only the first
// 36 bytes meaningful) bytes 36 to 511 are cleared and the OS code and ROM
// name completed from the file length. Returns false without a "BREL" magic.
bool AcceptImageHeader(const uint8_t* stored, uint64_t fileLength, ImageHeader& header);

// Reads and checks a file's header: the file's length in bytes when the
// header is acceptable, else 0 (no such file, fewer than 512 bytes, no
// magic). The header is filled whenever 512 bytes could be read.
uint64_t CheckImageFile(const std::string& path, ImageHeader& header);

// The header of a ROM backup of the handheld described by `info`, as stored
// in the file (bytes 0 to 35 scrambled), for `imageBytes` content bytes whose
// ByteSum is `byteSum`. The ROM version goes into the 8-byte ROM name field:
// at most 8 characters, with no terminator when it has all 8 (readers take
// at most the field's 8 bytes).
std::array<uint8_t, kImageHeaderSize> BuildRisHeader(const DeviceInfo& info, uint32_t imageBytes,
                                                     uint32_t byteSum);

}  // namespace nuva
