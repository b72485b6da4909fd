#include "tools/image/inspect.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "formats/byte_sum.h"
#include "formats/le.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"

namespace nuva::image_tool {
namespace {

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string HexBytes(const uint8_t* bytes, size_t count) {
    std::string out;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        out += pair;
    }
    return out;
}

// Header text as stored: printable ASCII as is, anything else as \xNN.
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<uint8_t>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out + "\"";
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<uint8_t>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        }
    }
    return out + "\"";
}

std::string_view HeaderText(const ImageHeader& header, size_t offset, size_t length) {
    return {reinterpret_cast<const char*>(header.data() + offset), length};
}

const char* ModelName(uint8_t modelByte) {
    switch (modelByte) {
        case kModelByteAdvanced:
            return "Advanced, 64 MB RAM";
        case kModelByteBasic:
            return "Basic, 32 MB RAM";
        default:
            return "no known class";
    }
}

const char* OsName(uint8_t osCode) {
    switch (osCode) {
        case kOsCode2003:
            return "Pocket PC 2003";
        case kOsCode2002:
            return "Pocket PC 2002";
        default:
            return "unknown, taken as Pocket PC 2002";
    }
}

bool ReadWhole(const std::string& path, uint64_t size, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    // The file must end where its size said it would.
    return in.gcount() == static_cast<std::streamsize>(size) &&
           in.peek() == std::ifstream::traits_type::eof();
}

}  // namespace

const char* KindName(const ImageHeader& header) {
    switch (header.Kind()) {
        case 0:
            return "update";
        case 1:
            return "backup";
        default:
            return "unknown";
    }
}

InspectError InspectFile(const std::string& path, InspectReport& report, std::string& message) {
    report = InspectReport{};
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) {
        message = path + ": cannot open: no such file";
        return InspectError::kCannotOpen;
    }
    if (!std::filesystem::is_regular_file(status)) {
        message = path + ": not a regular file";
        return InspectError::kNotAFile;
    }
    uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        message = path + ": cannot read its size: " + ec.message();
        return InspectError::kCannotOpen;
    }
    if (size == 0) {
        message = path + ": the file is empty";
        return InspectError::kEmpty;
    }
    if (size < kImageHeaderSize) {
        message = path + ": truncated: " + std::to_string(size) + " bytes, shorter than the 512-byte header";
        return InspectError::kTooShort;
    }
    if (size > kLargestInspectedFile) {
        message = path + ": " + std::to_string(size) +
                  " bytes, larger than any ROM image or backup (at most " +
                  std::to_string(kLargestInspectedFile) + ")";
        return InspectError::kTooLarge;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWhole(path, size, bytes)) {
        message = path + ": cannot read the file (it changed or could not be read)";
        return InspectError::kReadFailed;
    }

    report.length = size;
    uint64_t checked = CheckImageFile(path, report.header);
    report.accepted = checked != 0;
    ImageHeader plain = ImageHeader::FromFile(bytes.data());
    if (!report.accepted) {
        report.header = plain;
        report.refusal =
            plain.HasMagic() ? "the file could not be read again" : "no \"BREL\" magic after unscrambling";
    } else if (checked != size) {
        report.lengthNote = "the file changed while it was read";
    }
    report.early = plain.HasMagic() && !plain.HasMarker();

    const uint8_t* contents = bytes.data() + kImageHeaderSize;
    uint64_t contentSize = size - kImageHeaderSize;
    uint32_t count = report.header.ByteCount();
    if (count != 0) {
        if (count > contentSize) {
            report.sumOk = false;
            report.sumNote = "the header counts " + std::to_string(count) + " bytes but only " +
                             std::to_string(contentSize) + " follow it";
        } else {
            uint32_t sum = ByteSum(contents, count);
            report.sumOk = sum == report.header.ByteSumField();
            if (!*report.sumOk) {
                report.sumNote = "the counted bytes sum to " + Hex32(sum);
            }
        }
    }
    if (report.accepted && report.lengthNote.empty()) {
        uint8_t os = report.header.OsCode();
        uint64_t expected = os == kOsCode2003 ? kImageFileBytes2003 : kImageFileBytes2002;
        if (size != expected) {
            report.lengthNote = std::string("a ") +
                                (os == kOsCode2003 ? "Pocket PC 2003" : "Pocket PC 2002") + " file is " +
                                std::to_string(expected) + " bytes";
        }
    }
    if (report.accepted && report.header.Kind() != 0) {
        report.backupFault = BackupShapeFault(report.header, size);
    }
    report.identityError = ReadRomIdentity(contents, static_cast<size_t>(contentSize), report.identity);
    return InspectError::kNone;
}

bool Passes(const InspectReport& report) {
    return report.accepted && report.sumOk.value_or(true) && report.backupFault.empty();
}

std::string FormatText(const std::string& path, const InspectReport& report) {
    const ImageHeader& h = report.header;
    std::string out = path + "\n";
    auto line = [&out](const char* label, const std::string& value) {
        char head[32];
        std::snprintf(head, sizeof head, "  %-14s", label);
        out += head + value + "\n";
    };
    line("kind:", std::string(KindName(h)) + " (" + std::to_string(h.Kind()) + ")");
    line("magic:", Quoted(h.Magic()));
    line("kernel text:", Quoted(HeaderText(h, header_offset::kKernel, 6)));
    bool keyMatches = true;
    for (size_t i = 0; i < kHeaderKey.size(); ++i) {
        keyMatches = keyMatches && h.Byte(header_offset::kKeyCopy + i) == kHeaderKey[i];
    }
    line("key copy:", HexBytes(h.data() + header_offset::kKeyCopy, 8) +
                          (keyMatches ? " (the header key)" : " (not the header key)"));
    line("date code:", Quoted(h.DateCode()));
    line("language:", Quoted(h.LanguageCode()));
    char model[64];
    std::snprintf(model, sizeof model, "0x%02X (%s)", h.ModelByte(), ModelName(h.ModelByte()));
    line("model byte:", model);
    char words[64];
    std::snprintf(words, sizeof words, "0x%04X 0x%04X, word 0x48: 0x%04X",
                  LoadLe16(h.data() + header_offset::kWord40), LoadLe16(h.data() + header_offset::kWord42),
                  LoadLe16(h.data() + header_offset::kWord48));
    line("words 0x40:", words);
    line("OS code:", std::to_string(h.OsCode()) + " (" + OsName(h.OsCode()) + ")");
    line("marker:", Quoted(HeaderText(h, header_offset::kMarker, 5)));
    line("ROM name:", Quoted(h.RomName()));
    line("byte count:", std::to_string(h.ByteCount()) + " (" + Hex32(h.ByteCount()) + ")");
    std::string sum = Hex32(h.ByteSumField());
    if (!report.sumOk.has_value()) {
        sum += ", not checked: the header counts no bytes";
    } else if (*report.sumOk) {
        sum += ", matches the counted bytes";
    } else {
        sum += ", does not match: " + report.sumNote;
    }
    line("byte sum:", sum);
    auto uuid = h.Uuid();
    line("UUID:", HexBytes(uuid.data(), uuid.size()));
    line("length:", std::to_string(report.length) + " bytes" +
                        (report.lengthNote.empty() ? "" : " (" + report.lengthNote + ")"));
    if (report.accepted) {
        line("header:", std::string("accepted by CheckImageFile") +
                            (report.early ? " as an early image, completed from the file length" : ""));
    } else {
        line("header:", "refused by CheckImageFile: " + report.refusal);
    }
    if (!report.backupFault.empty()) {
        line("restore:", "refused: " + report.backupFault);
    }
    if (report.identityError == RomIdentityError::kNone) {
        const RomIdentity& id = report.identity;
        char language[16];
        std::snprintf(language, sizeof language, "0x%04X", id.LanguageId);
        line("ROM identity:", "date " + Quoted(id.DateCode) + ", version " + Quoted(id.Version) +
                                  ", OS major " + std::to_string(id.OsMajor) + ", language " + language +
                                  ", covers " + std::to_string(id.CoveredLength) + " bytes, CRC-32 " +
                                  Hex32(id.ContentCrc));
    } else {
        line("ROM identity:", std::string("none: ") + DescribeRomIdentityError(report.identityError));
    }
    return out;
}

std::string FormatJson(const InspectReport& report) {
    const ImageHeader& h = report.header;
    auto uuid = h.Uuid();
    std::string out = "{";
    out += "\"kind\": " + JsonString(KindName(h));
    out += ", \"magic\": " + JsonString(h.Magic());
    out += ", \"date_code\": " + JsonString(h.DateCode());
    out += ", \"language\": " + JsonString(h.LanguageCode());
    out += ", \"model_byte\": " + std::to_string(h.ModelByte());
    out += ", \"os_code\": " + std::to_string(h.OsCode());
    out += ", \"rom_name\": " + JsonString(h.RomName());
    out += ", \"byte_count\": " + std::to_string(h.ByteCount());
    out += ", \"byte_sum\": " + std::to_string(h.ByteSumField());
    out += ", \"sum_ok\": " + std::string(!report.sumOk.has_value() ? "null"
                                          : *report.sumOk           ? "true"
                                                                    : "false");
    out += ", \"uuid\": " + JsonString(HexBytes(uuid.data(), uuid.size()));
    out += ", \"length\": " + std::to_string(report.length);
    out += ", \"accepted\": " + std::string(report.accepted ? "true" : "false");
    return out + "}\n";
}

}  // namespace nuva::image_tool
