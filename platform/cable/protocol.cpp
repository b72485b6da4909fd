#include "platform/cable/protocol.h"

#include <cstdio>

#include "formats/le.h"

namespace nuva::cable {

namespace {

// Appends fields to a payload.
class Writer {
public:
    void U32(uint32_t v) {
        uint8_t b[4];
        StoreLe32(b, v);
        bytes_.insert(bytes_.end(), b, b + 4);
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void U16(uint16_t v) {
        uint8_t b[2];
        StoreLe16(b, v);
        bytes_.insert(bytes_.end(), b, b + 2);
    }
    // A text: its length in code units (16 bits), then the units.
    void Text(const std::u16string& text) {
        U16(static_cast<uint16_t>(text.size()));
        for (char16_t c : text) {
            U16(static_cast<uint16_t>(c));
        }
    }
    // A block: its length (32 bits), then the bytes.
    void Block(const std::vector<uint8_t>& data) {
        U32(static_cast<uint32_t>(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

// Takes fields from a payload; every take checks what is left, and a failed
// take poisons the reader so that Done() is false.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool U32(uint32_t& v) {
        if (!Need(4)) {
            return false;
        }
        v = LoadLe32(bytes_.data() + pos_);
        pos_ += 4;
        return true;
    }
    bool I32(int32_t& v) {
        uint32_t u = 0;
        if (!U32(u)) {
            return false;
        }
        v = static_cast<int32_t>(u);
        return true;
    }
    bool U16(uint16_t& v) {
        if (!Need(2)) {
            return false;
        }
        v = LoadLe16(bytes_.data() + pos_);
        pos_ += 2;
        return true;
    }
    bool Flag(bool& v) {
        uint32_t u = 0;
        if (!U32(u) || u > 1) {
            return Fail();
        }
        v = u == 1;
        return true;
    }
    bool Text(std::u16string& text, uint32_t maxUnits = kMaxTextUnits) {
        uint16_t units = 0;
        if (!U16(units) || units > maxUnits || !Need(size_t{units} * 2)) {
            return Fail();
        }
        text.clear();
        text.reserve(units);
        for (uint16_t i = 0; i < units; ++i) {
            char16_t c = static_cast<char16_t>(LoadLe16(bytes_.data() + pos_));
            pos_ += 2;
            if (c == 0) {
                return Fail();
            }
            text.push_back(c);
        }
        return true;
    }
    bool Block(std::vector<uint8_t>& data, uint32_t maxBytes = kMaxDataBytes) {
        uint32_t length = 0;
        if (!U32(length) || length > maxBytes || !Need(length)) {
            return Fail();
        }
        data.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                    bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + length));
        pos_ += length;
        return true;
    }
    // True when every take succeeded and nothing is left over.
    bool Done() const { return ok_ && pos_ == bytes_.size(); }

private:
    bool Need(size_t n) {
        if (!ok_ || bytes_.size() - pos_ < n) {
            return Fail();
        }
        return true;
    }
    bool Fail() {
        ok_ = false;
        return false;
    }

    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

}  // namespace

bool IsRequestCode(uint16_t code) { return code >= 1 && code <= kLastRequestType; }

bool IsAnswerCode(uint16_t code) { return (code & kAnswerBit) != 0 && IsRequestCode(code & ~kAnswerBit & 0xFFFF); }

std::string DescribeType(uint16_t code) {
    static const char* const kNames[] = {"Init",         "Invoke",      "CreateFile",   "ReadFile",
                                         "WriteFile",    "SetFilePointer", "SetEndOfFile", "CloseHandle",
                                         "DeleteFile",   "GetFileSize", "GetVersionEx", "GetSpecialFolderPath"};
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

// ---- Encoding ----------------------------------------------------------------

std::vector<uint8_t> Encode(const InitRequest&) { return {}; }

std::vector<uint8_t> Encode(const InitAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    return w.Take();
}

std::vector<uint8_t> Encode(const InvokeRequest& m) {
    Writer w;
    w.Text(m.dll);
    w.Text(m.function);
    w.Block(m.input);
    return w.Take();
}

std::vector<uint8_t> Encode(const InvokeAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    w.U32(m.hasOutput ? 1 : 0);
    w.Block(m.output);
    return w.Take();
}

std::vector<uint8_t> Encode(const CreateFileRequest& m) {
    Writer w;
    w.U32(m.access);
    w.U32(m.share);
    w.U32(m.disposition);
    w.U32(m.flags);
    w.Text(m.name);
    return w.Take();
}

std::vector<uint8_t> Encode(const CreateFileAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    return w.Take();
}

std::vector<uint8_t> Encode(const ReadFileRequest& m) {
    Writer w;
    w.U32(m.handle);
    w.U32(m.count);
    return w.Take();
}

std::vector<uint8_t> Encode(const ReadFileAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    w.Block(m.data);
    return w.Take();
}

std::vector<uint8_t> Encode(const WriteFileRequest& m) {
    Writer w;
    w.U32(m.handle);
    w.Block(m.data);
    return w.Take();
}

std::vector<uint8_t> Encode(const WriteFileAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    w.U32(m.written);
    return w.Take();
}

std::vector<uint8_t> Encode(const SetFilePointerRequest& m) {
    Writer w;
    w.U32(m.handle);
    w.I32(m.distance);
    w.U32(m.hasHigh ? 1 : 0);
    w.I32(m.high);
    w.U32(m.method);
    return w.Take();
}

std::vector<uint8_t> Encode(const SetFilePointerAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    w.I32(m.high);
    return w.Take();
}

std::vector<uint8_t> Encode(const HandleRequest& m) {
    Writer w;
    w.U32(m.handle);
    return w.Take();
}

std::vector<uint8_t> Encode(const BoolAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    return w.Take();
}

std::vector<uint8_t> Encode(const DeleteFileRequest& m) {
    Writer w;
    w.Text(m.name);
    return w.Take();
}

std::vector<uint8_t> Encode(const GetFileSizeAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    w.U32(m.high);
    return w.Take();
}

std::vector<uint8_t> Encode(const GetVersionRequest&) { return {}; }

std::vector<uint8_t> Encode(const GetVersionAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    w.U32(m.major);
    w.U32(m.minor);
    w.U32(m.build);
    w.U32(m.platform);
    w.Text(m.csd);
    return w.Take();
}

std::vector<uint8_t> Encode(const SpecialFolderRequest& m) {
    Writer w;
    w.I32(m.folder);
    return w.Take();
}

std::vector<uint8_t> Encode(const SpecialFolderAnswer& m) {
    Writer w;
    w.U32(m.result);
    w.U32(m.lastError);
    w.Text(m.path);
    return w.Take();
}

// ---- Decoding ----------------------------------------------------------------

bool Decode(std::span<const uint8_t> payload, InitRequest&) { return payload.empty(); }

bool Decode(std::span<const uint8_t> payload, InitAnswer& m) {
    Reader r(payload);
    return r.U32(m.result) && r.U32(m.lastError) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, InvokeRequest& m) {
    Reader r(payload);
    return r.Text(m.dll) && r.Text(m.function) && r.Block(m.input) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, InvokeAnswer& m) {
    Reader r(payload);
    if (!(r.U32(m.result) && r.U32(m.lastError) && r.Flag(m.hasOutput) && r.Block(m.output) && r.Done())) {
        return false;
    }
    // "No block" carries no bytes.
    return m.hasOutput || m.output.empty();
}

bool Decode(std::span<const uint8_t> payload, CreateFileRequest& m) {
    Reader r(payload);
    return r.U32(m.access) && r.U32(m.share) && r.U32(m.disposition) && r.U32(m.flags) && r.Text(m.name) &&
           r.Done();
}

bool Decode(std::span<const uint8_t> payload, CreateFileAnswer& m) {
    Reader r(payload);
    return r.U32(m.result) && r.U32(m.lastError) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, ReadFileRequest& m) {
    Reader r(payload);
    return r.U32(m.handle) && r.U32(m.count) && r.Done() && m.count <= kMaxDataBytes;
}

bool Decode(std::span<const uint8_t> payload, ReadFileAnswer& m) {
    Reader r(payload);
    return r.U32(m.result) && r.U32(m.lastError) && r.Block(m.data) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, WriteFileRequest& m) {
    Reader r(payload);
    return r.U32(m.handle) && r.Block(m.data) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, WriteFileAnswer& m) {
    Reader r(payload);
    return r.U32(m.result) && r.U32(m.lastError) && r.U32(m.written) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, SetFilePointerRequest& m) {
    Reader r(payload);
    return r.U32(m.handle) && r.I32(m.distance) && r.Flag(m.hasHigh) && r.I32(m.high) && r.U32(m.method) &&
           r.Done();
}

bool Decode(std::span<const uint8_t> payload, SetFilePointerAnswer& m) {
    Reader r(payload);
    return r.U32(m.result) && r.U32(m.lastError) && r.I32(m.high) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, HandleRequest& m) {
    Reader r(payload);
    return r.U32(m.handle) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, BoolAnswer& m) {
    Reader r(payload);
    return r.U32(m.result) && r.U32(m.lastError) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, DeleteFileRequest& m) {
    Reader r(payload);
    return r.Text(m.name) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, GetFileSizeAnswer& m) {
    Reader r(payload);
    return r.U32(m.result) && r.U32(m.lastError) && r.U32(m.high) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, GetVersionRequest&) { return payload.empty(); }

bool Decode(std::span<const uint8_t> payload, GetVersionAnswer& m) {
    Reader r(payload);
    return r.U32(m.result) && r.U32(m.lastError) && r.U32(m.major) && r.U32(m.minor) && r.U32(m.build) &&
           r.U32(m.platform) && r.Text(m.csd, 127) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, SpecialFolderRequest& m) {
    Reader r(payload);
    return r.I32(m.folder) && r.Done();
}

bool Decode(std::span<const uint8_t> payload, SpecialFolderAnswer& m) {
    Reader r(payload);
    return r.U32(m.result) && r.U32(m.lastError) && r.Text(m.path) && r.Done();
}

}  // namespace nuva::cable
