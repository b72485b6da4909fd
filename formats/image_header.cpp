#include "formats/image_header.h"

#include <cstring>

#include "formats/le.h"

namespace nuva {

void ScrambleHeader(uint8_t* header) {
    for (size_t i = 0; i < kScrambledBytes; ++i) {
        header[i] ^= kHeaderKey[i % kHeaderKey.size()];
    }
}

ImageHeader ImageHeader::FromPlain(const uint8_t* plain512) {
    ImageHeader h;
    std::memcpy(h.bytes_.data(), plain512, kImageHeaderSize);
    return h;
}

ImageHeader ImageHeader::FromFile(const uint8_t* stored512) {
    ImageHeader h = FromPlain(stored512);
    ScrambleHeader(h.bytes_.data());
    return h;
}

std::array<uint8_t, kImageHeaderSize> ImageHeader::ToFile() const {
    std::array<uint8_t, kImageHeaderSize> stored = bytes_;
    ScrambleHeader(stored.data());
    return stored;
}

uint16_t ImageHeader::Kind() const {
    return LoadLe16(bytes_.data() + header_offset::kKind);
}

std::string ImageHeader::RomName() const {
    const auto* name = reinterpret_cast<const char*>(bytes_.data() + header_offset::kRomName);
    size_t length = 0;
    while (length < 8 && name[length] != '\0') {
        ++length;
    }
    return std::string(name, length);
}

uint32_t ImageHeader::ByteCount() const {
    return LoadLe32(bytes_.data() + header_offset::kByteCount);
}
uint32_t ImageHeader::ByteSumField() const {
    return LoadLe32(bytes_.data() + header_offset::kByteSumField);
}

std::array<uint8_t, 16> ImageHeader::Uuid() const {
    std::array<uint8_t, 16> uuid{};
    std::memcpy(uuid.data(), bytes_.data() + header_offset::kUuid, uuid.size());
    return uuid;
}

void ImageHeader::SetWord16(size_t offset, uint16_t value) {
    StoreLe16(&bytes_.at(offset + 1) - 1, value);
}
void ImageHeader::SetWord32(size_t offset, uint32_t value) {
    StoreLe32(&bytes_.at(offset + 3) - 3, value);
}

void ImageHeader::SetText(size_t offset, std::string_view text, size_t width) {
    size_t n = text.size() < width ? text.size() : width;
    for (size_t i = 0; i < n; ++i) {
        bytes_.at(offset + i) = static_cast<uint8_t>(text[i]);
    }
}

}  // namespace nuva
