#include "platform/cable/protocol.h"

#include <cstdio>
#include <cstdlib>

#include "formats/le.h"

namespace nuva::cable {

// Writes a message's fields into an Encoded; a data block ends the message
// and stays with its owner. What does not fit the wire format (a text above
// kMaxTextUnits, a block above kMaxDataBytes) is a bug of the caller, which
// bounds what it sends: it stops the program rather than go out cut short.
class FieldWriter {
  public:
    explicit FieldWriter(Encoded& out) : out_(out) { out_.used_ = 0; }

    void U32(uint32_t v) { StoreLe32(Room(4), v); }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void U16(uint16_t v) { StoreLe16(Room(2), v); }
    // A text: its length in code units (16 bits), then the units.
    void Text(const std::u16string& text) {
        if (text.size() > kMaxTextUnits) {
            Bug("a text of " + std::to_string(text.size()) + " units");
        }
        U16(static_cast<uint16_t>(text.size()));
        uint8_t* units = Room(text.size() * 2);
        for (char16_t c : text) {
            StoreLe16(units, static_cast<uint16_t>(c));
            units += 2;
        }
    }
    // A block: its length (32 bits), then the bytes, which are not copied.
    void Block(std::span<const uint8_t> data) {
        if (data.size() > kMaxDataBytes) {
            Bug("a block of " + std::to_string(data.size()) + " bytes");
        }
        U32(static_cast<uint32_t>(data.size()));
        out_.data_ = data;
        ended_ = true;
    }

  private:
    uint8_t* Room(size_t n) {
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
    [[noreturn]] static void Bug(const std::string& what) {
        std::fprintf(stderr, "cable: a message with %s cannot be encoded\n", what.c_str());
        std::abort();
    }

    Encoded& out_;
    bool ended_ = false;
};

namespace {

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
    bool Block(std::span<const uint8_t>& data, uint32_t maxBytes = kMaxDataBytes) {
        uint32_t length = 0;
        if (!U32(length) || length > maxBytes || !Need(length)) {
            return Fail();
        }
        data = bytes_.subspan(pos_, length);
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

// ---- Encoding ----------------------------------------------------------------

std::vector<uint8_t> Encoded::Bytes() const {
    std::vector<uint8_t> bytes(Fields().begin(), Fields().end());
    bytes.insert(bytes.end(), data_.begin(), data_.end());
    return bytes;
}

Encoded Encode(const InitRequest&) {
    return {};
}

Encoded Encode(const InitAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    return e;
}

Encoded Encode(const InvokeRequest& m) {
    Encoded e;
    FieldWriter w(e);
    w.Text(m.dll);
    w.Text(m.function);
    w.Block(m.input);
    return e;
}

Encoded Encode(const InvokeAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    w.U32(m.hasOutput ? 1 : 0);
    w.Block(m.output);
    return e;
}

Encoded Encode(const CreateFileRequest& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.access);
    w.U32(m.share);
    w.U32(m.disposition);
    w.U32(m.flags);
    w.Text(m.name);
    return e;
}

Encoded Encode(const CreateFileAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    return e;
}

Encoded Encode(const ReadFileRequest& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.handle);
    w.U32(m.count);
    return e;
}

Encoded Encode(const ReadFileAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    w.Block(m.data);
    return e;
}

Encoded Encode(const WriteFileRequest& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.handle);
    w.Block(m.data);
    return e;
}

Encoded Encode(const WriteFileAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    w.U32(m.written);
    return e;
}

Encoded Encode(const SetFilePointerRequest& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.handle);
    w.I32(m.distance);
    w.U32(m.hasHigh ? 1 : 0);
    w.I32(m.high);
    w.U32(m.method);
    return e;
}

Encoded Encode(const SetFilePointerAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    w.I32(m.high);
    return e;
}

Encoded Encode(const HandleRequest& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.handle);
    return e;
}

Encoded Encode(const BoolAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    return e;
}

Encoded Encode(const DeleteFileRequest& m) {
    Encoded e;
    FieldWriter w(e);
    w.Text(m.name);
    return e;
}

Encoded Encode(const GetFileSizeAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    w.U32(m.high);
    return e;
}

Encoded Encode(const GetVersionRequest&) {
    return {};
}

Encoded Encode(const GetVersionAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    w.U32(m.major);
    w.U32(m.minor);
    w.U32(m.build);
    w.U32(m.platform);
    w.Text(m.csd);
    return e;
}

Encoded Encode(const SpecialFolderRequest& m) {
    Encoded e;
    FieldWriter w(e);
    w.I32(m.folder);
    return e;
}

Encoded Encode(const SpecialFolderAnswer& m) {
    Encoded e;
    FieldWriter w(e);
    w.U32(m.result);
    w.U32(m.lastError);
    w.Text(m.path);
    return e;
}

// ---- Decoding ----------------------------------------------------------------

bool Decode(std::span<const uint8_t> payload, InitRequest&) {
    return payload.empty();
}

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

bool Decode(std::span<const uint8_t> payload, GetVersionRequest&) {
    return payload.empty();
}

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
