// ImageHeader: the 512-byte header at the start of every update image and
// every ROM backup file. Its first 36 bytes are stored XORed with HeaderKey;
// an ImageHeader object always holds the plain (unscrambled) bytes, and the
// file bytes are scrambled or unscrambled with ScrambleHeader on the way out
// or in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace nuva {

inline constexpr size_t kImageHeaderSize = 512;
inline constexpr size_t kScrambledBytes = 36;
inline constexpr std::array<uint8_t, 8> kHeaderKey = {0x3A, 0x91, 0xC4, 0x07, 0x6E, 0x2B, 0xD8, 0x15};

// The length of the ROM contents behind the header, by Pocket PC generation.
inline constexpr uint32_t kContentBytes2003 = 0x1980000;
inline constexpr uint32_t kContentBytes2002 = 0x19C0000;
inline constexpr uint32_t kImageFileBytes2003 = kContentBytes2003 + kImageHeaderSize;
inline constexpr uint32_t kImageFileBytes2002 = kContentBytes2002 + kImageHeaderSize;

// ImageOsCode values and model bytes.
inline constexpr uint8_t kOsCode2002 = 2;
inline constexpr uint8_t kOsCode2003 = 3;
inline constexpr uint8_t kModelByteAdvanced = 0x40;
inline constexpr uint8_t kModelByteBasic = 0x20;

// Field offsets.
namespace header_offset {
inline constexpr size_t kMagic = 0x000;         // "BREL"
inline constexpr size_t kKernel = 0x005;        // "KERNEL"
inline constexpr size_t kKeyCopy = 0x00F;       // the eight HeaderKey bytes
inline constexpr size_t kDateCode = 0x018;      // RomDateCode, 8 ASCII characters
inline constexpr size_t kLanguageCode = 0x021;  // two ASCII letters
inline constexpr size_t kModelByte = 0x023;     // RAM size in MB
inline constexpr size_t kWord40 = 0x040;
inline constexpr size_t kWord42 = 0x042;
inline constexpr size_t kKind = 0x044;  // 0 update image, 1 backup
inline constexpr size_t kWord48 = 0x048;
inline constexpr size_t kOsCode = 0x049;
inline constexpr size_t kMarker = 0x050;   // "NUVA7"
inline constexpr size_t kRomName = 0x060;  // 8 bytes, zero-padded
inline constexpr size_t kByteCount = 0x068;
inline constexpr size_t kByteSumField = 0x06C;
inline constexpr size_t kUuid = 0x070;  // 16 bytes, backups only
}  // namespace header_offset

// XORs bytes 0 to 35 of a 512-byte header with HeaderKey, in place; applying
// it twice gives back the original bytes.
void ScrambleHeader(uint8_t* header);

class ImageHeader {
  public:
    ImageHeader() { bytes_.fill(0); }

    // From plain (already unscrambled) bytes.
    static ImageHeader FromPlain(const uint8_t* plain512);
    // From the bytes as stored in a file (scrambled).
    static ImageHeader FromFile(const uint8_t* stored512);
    // The bytes as stored in a file (scrambled).
    std::array<uint8_t, kImageHeaderSize> ToFile() const;

    uint8_t* data() { return bytes_.data(); }
    const uint8_t* data() const { return bytes_.data(); }

    std::string_view Magic() const { return Text(header_offset::kMagic, 4); }
    bool HasMagic() const { return Magic() == "BREL"; }
    bool HasMarker() const { return Text(header_offset::kMarker, 5) == "NUVA7"; }
    // The eight date-code characters, as stored (not checked).
    std::string_view DateCode() const { return Text(header_offset::kDateCode, 8); }
    // The two language letters, first letter first.
    std::string_view LanguageCode() const { return Text(header_offset::kLanguageCode, 2); }
    uint8_t ModelByte() const { return bytes_[header_offset::kModelByte]; }
    uint16_t Kind() const;
    uint8_t OsCode() const { return bytes_[header_offset::kOsCode]; }
    // The ROM name: at most the 8 bytes of its field, up to the first zero.
    std::string RomName() const;
    uint32_t ByteCount() const;
    uint32_t ByteSumField() const;
    std::array<uint8_t, 16> Uuid() const;

    uint8_t Byte(size_t offset) const { return bytes_.at(offset); }
    void SetByte(size_t offset, uint8_t value) { bytes_.at(offset) = value; }
    void SetWord16(size_t offset, uint16_t value);
    void SetWord32(size_t offset, uint32_t value);
    // Copies text bytes (no terminator) into the header, cut to `width`.
    void SetText(size_t offset, std::string_view text, size_t width);

    bool operator==(const ImageHeader&) const = default;

  private:
    std::string_view Text(size_t offset, size_t length) const {
        return {reinterpret_cast<const char*>(bytes_.data() + offset), length};
    }
    std::array<uint8_t, kImageHeaderSize> bytes_;
};

}  // namespace nuva
