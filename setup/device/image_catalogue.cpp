#include "setup/device/image_catalogue.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include "setup/device/device_texts.h"
#include "setup/resources/profile.h"
#include "setup/resources/settings.h"

namespace nuva {
namespace {

struct EarlyName {
    std::string_view date;
    std::string_view name;
};
constexpr EarlyName kEarlyNames[] = {
    {"11110200", "A00"}, {"11220200", "A00"}, {"12060200", "A00"},
    {"12160200", "A00"}, {"03050300", "A02"}, {"04100300", "A03"},
};

// The 16-bit word at 0x48 of an early image: its low byte is an unused
// leftover, the high byte the ImageOsCode.
constexpr uint16_t kEarlyWord2003 = 0x0342;
constexpr uint16_t kEarlyWord2002 = 0x0230;

}  // namespace

std::optional<std::string> FindUpdateImage(std::string_view folder, bool highModel) {
    std::string value =
        ReadProfileString(std::string(folder) + "setup.ini", "Image", highModel ? "HIMODEL" : "LOWMODEL");
    if (value.empty()) {
        return std::nullopt;
    }
    std::string path = InstallationFile(folder, value);
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) {
        return std::nullopt;
    }
    return path;
}

int LocateUpdateImage(std::string_view folder, int highModel, char* buffer, size_t* length) {
    std::optional<std::string> path = FindUpdateImage(folder, highModel == 1);
    if (!path) {
        return 0;
    }
    if (length != nullptr) {
        if (buffer != nullptr && *length > 0) {
            size_t copied = path->size() < *length ? path->size() : *length - 1;
            std::memcpy(buffer, path->data(), copied);
            buffer[copied] = '\0';
        }
        *length = path->size();
    }
    return 1;
}

std::string_view EarlyRomNameForDate(std::string_view dateCode) {
    for (const EarlyName& row : kEarlyNames) {
        if (row.date == dateCode) {
            return row.name;
        }
    }
    return "";
}

bool AcceptImageHeader(const uint8_t* stored, uint64_t fileLength, ImageHeader& header) {
    header = ImageHeader::FromFile(stored);
    if (!header.HasMagic()) {
        return false;
    }
    if (!header.HasMarker()) {
        // An early image: only the scrambled part means anything.
        for (size_t i = kScrambledBytes; i < kImageHeaderSize; ++i) {
            header.SetByte(i, 0);
        }
        if (fileLength == kImageFileBytes2003) {
            header.SetWord16(header_offset::kWord48, kEarlyWord2003);
        } else if (fileLength == kImageFileBytes2002) {
            header.SetWord16(header_offset::kWord48, kEarlyWord2002);
            header.SetText(header_offset::kRomName, EarlyRomNameForDate(header.DateCode()), 8);
        }
    }
    return true;
}

uint64_t CheckImageFile(const std::string& path, ImageHeader& header) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return 0;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return 0;
    }
    file.seekg(0, std::ios::end);
    std::streamoff end = file.tellg();
    file.seekg(0, std::ios::beg);
    if (end < static_cast<std::streamoff>(kImageHeaderSize)) {
        return 0;
    }
    std::array<uint8_t, kImageHeaderSize> stored{};
    file.read(reinterpret_cast<char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
    if (file.gcount() != static_cast<std::streamsize>(stored.size())) {
        return 0;
    }
    uint64_t length = static_cast<uint64_t>(end);
    return AcceptImageHeader(stored.data(), length, header) ? length : 0;
}

std::array<uint8_t, kImageHeaderSize> BuildRisHeader(const DeviceInfo& info, uint32_t imageBytes,
                                                     uint32_t byteSum) {
    namespace o = header_offset;
    ImageHeader h;
    for (size_t i = 0; i < kScrambledBytes; ++i) {
        h.SetByte(i, ' ');
    }
    h.SetText(o::kMagic, "BREL", 4);
    h.SetText(o::kKernel, "KERNEL", 6);
    for (size_t i = 0; i < kHeaderKey.size(); ++i) {
        h.SetByte(o::kKeyCopy + i, kHeaderKey[i]);
    }
    h.SetText(o::kDateCode, RomDateCode(info.PlatformInfo), 8);
    std::string_view code = LanguageCodeFor(info.LanguageId);
    h.SetByte(o::kLanguageCode, code.empty() ? 0 : static_cast<uint8_t>(code[0]));
    h.SetByte(o::kLanguageCode + 1, code.empty() ? 0 : static_cast<uint8_t>(code[1]));
    h.SetByte(o::kModelByte, static_cast<uint8_t>(info.RamSizeMB));
    h.SetWord16(o::kWord40, 0);
    h.SetWord16(o::kWord42, 1);
    h.SetWord16(o::kKind, 1);
    h.SetWord16(o::kWord48, info.OsMajorVersion == 4 ? 0x0300 : 0x0200);
    h.SetText(o::kMarker, "NUVA7", 5);
    h.SetText(o::kRomName, AnsiFromUtf16(FieldText(info.RomVersion)), 8);
    h.SetWord32(o::kByteCount, imageBytes);
    h.SetWord32(o::kByteSumField, byteSum);
    for (size_t i = 0; i < info.DeviceUuid.size(); ++i) {
        h.SetByte(o::kUuid + i, info.DeviceUuid[i]);
    }
    return h.ToFile();
}

}  // namespace nuva
