#include "platform/cable/protocol.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/le.h"

namespace nuva::cable {

void FieldWriter::U32(uint32_t v, uint32_t) {
    StoreLe32(Room(4), v);
}

void FieldWriter::Text(const std::u16string& text, uint32_t) {
    if (text.size() > kMaxTextUnits) {
        Bug("a text of " + std::to_string(text.size()) + " units");
    }
    StoreLe16(Room(2), static_cast<uint16_t>(text.size()));
    uint8_t* units = Room(text.size() * 2);
    for (char16_t c : text) {
        StoreLe16(units, static_cast<uint16_t>(c));
        units += 2;
    }
}

void FieldWriter::Block(std::span<const uint8_t> data) {
    if (data.size() > kMaxDataBytes) {
        Bug("a block of " + std::to_string(data.size()) + " bytes");
    }
    StoreLe32(Room(4), static_cast<uint32_t>(data.size()));
    out_.data_ = data;
    ended_ = true;
}

uint8_t* FieldWriter::Room(size_t n) {
    if (ended_) {
        Bug("a field after the data block");
    }
    if (out_.used_ + n > out_.fields_.size()) {
        Bug(std::to_string(out_.used_ + n) + " bytes of fields");
    }
    uint8_t* at = out_.fields_.data() + out_.used_;
    out_.used_ += n;
    return at;
}

void FieldWriter::Bug(const std::string& what) {
    std::fprintf(stderr, "cable: a message with %s cannot be encoded\n", what.c_str());
    std::abort();
}

bool FieldReader::Need(size_t n) {
    if (!ok_ || bytes_.size() - pos_ < n) {
        ok_ = false;
    }
    return ok_;
}

void FieldReader::U32(uint32_t& v, uint32_t max) {
    if (!Need(4)) {
        return;
    }
    v = LoadLe32(bytes_.data() + pos_);
    pos_ += 4;
    if (v > max) {
        ok_ = false;
    }
}

void FieldReader::I32(int32_t& v) {
    uint32_t u = 0;
    U32(u);
    v = static_cast<int32_t>(u);
}

void FieldReader::Flag(bool& v) {
    uint32_t u = 0;
    U32(u, 1);
    v = u == 1;
}

void FieldReader::Text(std::u16string& text, uint32_t maxUnits) {
    text.clear();
    if (!Need(2)) {
        return;
    }
    const uint16_t units = LoadLe16(bytes_.data() + pos_);
    pos_ += 2;
    // The count is checked against its cap and against what is left before
    // anything is reserved for it.
    if (units > maxUnits || !Need(size_t{units} * 2)) {
        ok_ = false;
        return;
    }
    text.resize(units);
    for (uint16_t i = 0; i < units; ++i) {
        const char16_t c = static_cast<char16_t>(LoadLe16(bytes_.data() + pos_ + 2 * size_t{i}));
        if (c == 0) {
            ok_ = false;
            return;
        }
        text[i] = c;
    }
    pos_ += size_t{units} * 2;
}

void FieldReader::Block(std::span<const uint8_t>& data) {
    data = {};
    uint32_t length = 0;
    U32(length, kMaxDataBytes);
    if (!Need(length)) {
        return;
    }
    data = bytes_.subspan(pos_, length);
    pos_ += length;
}

bool IsRequestCode(uint16_t code) {
    return code >= 1 && code <= kLastRequestType;
}

bool IsAnswerCode(uint16_t code) {
    return (code & kAnswerBit) != 0 && IsRequestCode(code & ~kAnswerBit & 0xFFFF);
}

std::string DescribeType(uint16_t code) {
    static const char* const kNames[] = {
        "Init",         "Invoke",      "CreateFile", "ReadFile",    "WriteFile",    "SetFilePointer",
        "SetEndOfFile", "CloseHandle", "DeleteFile", "GetFileSize", "GetVersionEx", "GetSpecialFolderPath"};
    uint16_t base = code & static_cast<uint16_t>(~kAnswerBit);
    if (!IsRequestCode(base)) {
        char text[32];
        std::snprintf(text, sizeof text, "unknown type 0x%04X", code);
        return text;
    }
    return std::string(kNames[base - 1]) + ((code & kAnswerBit) ? " answer" : " request");
}

const char* Describe(FrameError error) {
    switch (error) {
        case FrameError::kNone:
            return "no error";
        case FrameError::kBadMagic:
            return "not a cable frame (wrong magic)";
        case FrameError::kBadVersion:
            return "unsupported protocol version";
        case FrameError::kUnknownType:
            return "unknown frame type";
        case FrameError::kOversized:
            return "payload larger than the cable allows";
    }
    return "unknown frame error";
}

void EncodeHeader(const FrameHeader& header, uint8_t out[kHeaderBytes]) {
    StoreLe32(out, kFrameMagic);
    StoreLe16(out + 4, kProtocolVersion);
    StoreLe16(out + 6, header.type);
    StoreLe32(out + 8, header.sequence);
    StoreLe32(out + 12, header.length);
}

FrameError DecodeHeader(const uint8_t in[kHeaderBytes], FrameHeader& header) {
    if (LoadLe32(in) != kFrameMagic) {
        return FrameError::kBadMagic;
    }
    if (LoadLe16(in + 4) != kProtocolVersion) {
        return FrameError::kBadVersion;
    }
    header.type = LoadLe16(in + 6);
    header.sequence = LoadLe32(in + 8);
    header.length = LoadLe32(in + 12);
    if (!IsRequestCode(header.type) && !IsAnswerCode(header.type)) {
        return FrameError::kUnknownType;
    }
    if (header.length > kMaxPayload) {
        return FrameError::kOversized;
    }
    return FrameError::kNone;
}

// ---- Messages ----------------------------------------------------------------

std::vector<uint8_t> Encoded::Bytes() const {
    std::vector<uint8_t> bytes(Fields().begin(), Fields().end());
    bytes.insert(bytes.end(), data_.begin(), data_.end());
    return bytes;
}

}  // namespace nuva::cable
