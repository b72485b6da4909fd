// The cable's wire format: frames of a 16-byte header and a payload, every
// field little-endian and encoded one by one. The desktop sends requests, the
// handheld answers each one with the answer type (request type | 0x8000) and
// the request's sequence number. docs/cable-protocol.md describes every field.
//
// Decoding never trusts the peer: a header with a wrong magic or version, an
// unknown type or a payload above kMaxPayload is refused, and a payload whose
// fields do not fill it exactly (short, long, a length past its end, a text
// with a NUL or above its cap, a number above its cap) does not decode.
//
// Each message lists its fields once, in wire order, in its Fields(): the
// encoder and the decoder both walk that list, so the two directions cannot
// disagree about a field, its width, its order or its cap.
//
// The data blocks of file and call messages are never copied by the codec:
// encoding refers to the caller's bytes and decoding to the payload's, so a
// 16 KB write crosses from the caller's buffer to the handheld's file store
// with no copy but the socket's own.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace nuva::cable {

inline constexpr uint32_t kFrameMagic = 0x4C43564Eu;  // the bytes "NVCL"
inline constexpr uint16_t kProtocolVersion = 1;
inline constexpr size_t kHeaderBytes = 16;
// The most data bytes one read, write or remote call carries; the desktop
// library splits larger file transfers, and larger remote-call blocks are
// refused.
inline constexpr uint32_t kMaxDataBytes = 4u * 1024 * 1024;
// Paths, library and export names, version texts (UTF-16 code units, no NUL).
inline constexpr uint32_t kMaxTextUnits = 1024;
// The most bytes of fields any message has besides its data block: a few
// numbers and at most two texts.
inline constexpr size_t kMaxFieldBytes = 8 * 4 + 2 * (2 + 2 * size_t{kMaxTextUnits});
// Room for the data and the call's other fields.
inline constexpr uint32_t kMaxPayload = kMaxDataBytes + 8192;
static_assert(kMaxFieldBytes <= kMaxPayload - kMaxDataBytes, "the largest message must fit a frame");

inline constexpr uint16_t kAnswerBit = 0x8000;

enum class MessageType : uint16_t {
    kInit = 1,
    kInvoke = 2,
    kCreateFile = 3,
    kReadFile = 4,
    kWriteFile = 5,
    kSetFilePointer = 6,
    kSetEndOfFile = 7,
    kCloseHandle = 8,
    kDeleteFile = 9,
    kGetFileSize = 10,
    kGetVersionEx = 11,
    kGetSpecialFolderPath = 12,
};
inline constexpr uint16_t kLastRequestType = 12;

constexpr uint16_t RequestCode(MessageType t) {
    return static_cast<uint16_t>(t);
}
constexpr uint16_t AnswerCode(MessageType t) {
    return static_cast<uint16_t>(static_cast<uint16_t>(t) | kAnswerBit);
}
bool IsRequestCode(uint16_t code);
bool IsAnswerCode(uint16_t code);
// The name of a request or answer code for log lines ("CreateFile answer").
std::string DescribeType(uint16_t code);

struct FrameHeader {
    uint16_t type = 0;
    uint32_t sequence = 0;
    uint32_t length = 0;
};

enum class FrameError { kNone, kBadMagic, kBadVersion, kUnknownType, kOversized };
const char* Describe(FrameError error);

void EncodeHeader(const FrameHeader& header, uint8_t out[kHeaderBytes]);
FrameError DecodeHeader(const uint8_t in[kHeaderBytes], FrameHeader& header);

// A message as it goes on the cable: its fields, encoded here, then the data
// block that file and call messages end with, left where its owner keeps it
// (Channel::Send sends both parts in one call). The data must stay in place
// until the message has been sent.
class Encoded {
  public:
    Encoded() = default;
    // Copies carry only the fields written, not the whole room.
    Encoded(const Encoded& other) : used_(other.used_), data_(other.data_) {
        std::copy_n(other.fields_.begin(), used_, fields_.begin());
    }
    Encoded& operator=(const Encoded& other) {
        if (this != &other) {
            std::copy_n(other.fields_.begin(), other.used_, fields_.begin());
            used_ = other.used_;
            data_ = other.data_;
        }
        return *this;
    }

    std::span<const uint8_t> Fields() const { return {fields_.data(), used_}; }
    std::span<const uint8_t> Data() const { return data_; }
    size_t Size() const { return used_ + data_.size(); }
    // The whole payload in one buffer, for building frames by hand.
    std::vector<uint8_t> Bytes() const;

  private:
    friend class FieldWriter;
    std::array<uint8_t, kMaxFieldBytes> fields_;  // only the first used_ bytes are written
    size_t used_ = 0;
    std::span<const uint8_t> data_;
};

// ---- Field kinds ---------------------------------------------------------------
// A message's Fields(m, v) calls, for each field in wire order, one of:
//   v.U32(x[, max])  4 bytes; above `max` is malformed
//   v.I32(x)         4 bytes, two's complement
//   v.Flag(b)        4 bytes, 0 or 1
//   v.Text(t[, max]) u16 count of UTF-16 units (at most `max`, no NUL), the units
//   v.Block(d)       u32 count (at most kMaxDataBytes), the bytes; always last
//   v.Rule(ok)       a rule between fields already listed
// Caps and rules are the receiver's guard: a reader refuses a payload that
// breaks one. A writer writes whatever the wire format can hold (senders
// bound what they send, and a peer that does not must be seen refused), and
// stops the program only on what the format cannot hold at all: a text above
// kMaxTextUnits, a block above kMaxDataBytes, a field after the block.

// Writes a message's fields into an Encoded; the data block is referred to,
// not copied.
class FieldWriter {
  public:
    explicit FieldWriter(Encoded& out) : out_(out) { out_.used_ = 0; }

    void U32(uint32_t v, uint32_t /*max*/ = UINT32_MAX);
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void Flag(bool v) { U32(v ? 1 : 0); }
    void Text(const std::u16string& text, uint32_t /*maxUnits*/ = kMaxTextUnits);
    void Block(std::span<const uint8_t> data);
    void Rule(bool /*holds*/) {}

  private:
    uint8_t* Room(size_t n);
    [[noreturn]] static void Bug(const std::string& what);

    Encoded& out_;
    bool ended_ = false;
};

// Takes fields from a payload; every take checks what is left before it
// reads, and a failed take poisons the reader so that Done() is false.
class FieldReader {
  public:
    explicit FieldReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    void U32(uint32_t& v, uint32_t max = UINT32_MAX);
    void I32(int32_t& v);
    void Flag(bool& v);
    void Text(std::u16string& text, uint32_t maxUnits = kMaxTextUnits);
    void Block(std::span<const uint8_t>& data);
    void Rule(bool holds) {
        if (!holds) {
            ok_ = false;
        }
    }
    // True when every take succeeded and nothing is left over.
    bool Done() const { return ok_ && pos_ == bytes_.size(); }

  private:
    bool Need(size_t n);

    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// ---- Messages ----------------------------------------------------------------
// Every answer starts with the call's own return value (a BOOL, a DWORD, a
// handle number or an HRESULT, as the call defines it) and the handheld's last
// error after the call.
//
// Data blocks are views: an encoded message's block is the caller's bytes, a
// decoded one's lies in the payload it was decoded from and is valid as long
// as that payload is.

// The version text a handheld reports (szCSDVersion holds 128 with its NUL).
inline constexpr uint32_t kMaxCsdUnits = 127;

struct InitRequest {
    template <class M, class V>
    static void Fields(M&, V&) {}
};
struct InitAnswer {
    uint32_t result = 0;  // S_OK: the handheld takes this desktop
    uint32_t lastError = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
    }
};

struct InvokeRequest {
    std::u16string dll;
    std::u16string function;
    std::span<const uint8_t> input;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.Text(m.dll);
        v.Text(m.function);
        v.Block(m.input);
    }
};
struct InvokeAnswer {
    uint32_t result = 0;  // the export's HRESULT, or the failure to load or find it
    uint32_t lastError = 0;
    bool hasOutput = false;  // false: the export returned no block
    std::span<const uint8_t> output;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
        v.Flag(m.hasOutput);
        v.Block(m.output);
        v.Rule(m.hasOutput || m.output.empty());  // "no block" carries no bytes
    }
};

struct CreateFileRequest {
    std::u16string name;
    uint32_t access = 0;
    uint32_t share = 0;
    uint32_t disposition = 0;
    uint32_t flags = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.access);
        v.U32(m.share);
        v.U32(m.disposition);
        v.U32(m.flags);
        v.Text(m.name);
    }
};
// result: the handheld's handle number, 0 when the file was not opened.
struct CreateFileAnswer {
    uint32_t result = 0;
    uint32_t lastError = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
    }
};

struct ReadFileRequest {
    uint32_t handle = 0;
    uint32_t count = 0;  // at most kMaxDataBytes
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.handle);
        v.U32(m.count, kMaxDataBytes);
    }
};
struct ReadFileAnswer {
    uint32_t result = 0;  // BOOL
    uint32_t lastError = 0;
    std::span<const uint8_t> data;  // never more than the count asked for
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
        v.Block(m.data);
    }
};

struct WriteFileRequest {
    uint32_t handle = 0;
    std::span<const uint8_t> data;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.handle);
        v.Block(m.data);
    }
};
struct WriteFileAnswer {
    uint32_t result = 0;  // BOOL
    uint32_t lastError = 0;
    uint32_t written = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
        v.U32(m.written);
    }
};

struct SetFilePointerRequest {
    uint32_t handle = 0;
    int32_t distance = 0;
    bool hasHigh = false;  // whether the caller passed lpDistanceToMoveHigh
    int32_t high = 0;
    uint32_t method = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.handle);
        v.I32(m.distance);
        v.Flag(m.hasHigh);
        v.I32(m.high);
        v.U32(m.method);
    }
};
struct SetFilePointerAnswer {
    uint32_t result = 0;  // the new position's low part, or INVALID_SET_FILE_POINTER
    uint32_t lastError = 0;
    int32_t high = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
        v.I32(m.high);
    }
};

// SetEndOfFile, CloseHandle and GetFileSize name only a handle.
struct HandleRequest {
    uint32_t handle = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.handle);
    }
};
struct BoolAnswer {
    uint32_t result = 0;  // BOOL
    uint32_t lastError = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
    }
};

struct DeleteFileRequest {
    std::u16string name;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.Text(m.name);
    }
};

struct GetFileSizeAnswer {
    uint32_t result = 0;  // the low part, or INVALID_FILE_SIZE
    uint32_t lastError = 0;
    uint32_t high = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
        v.U32(m.high);
    }
};

struct GetVersionRequest {
    template <class M, class V>
    static void Fields(M&, V&) {}
};
struct GetVersionAnswer {
    uint32_t result = 0;  // BOOL
    uint32_t lastError = 0;
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    uint32_t platform = 0;
    std::u16string csd;  // at most kMaxCsdUnits
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
        v.U32(m.major);
        v.U32(m.minor);
        v.U32(m.build);
        v.U32(m.platform);
        v.Text(m.csd, kMaxCsdUnits);
    }
};

struct SpecialFolderRequest {
    int32_t folder = 0;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.I32(m.folder);
    }
};
struct SpecialFolderAnswer {
    uint32_t result = 0;  // the path's length in characters, 0 on failure
    uint32_t lastError = 0;
    std::u16string path;
    template <class M, class V>
    static void Fields(M& m, V& v) {
        v.U32(m.result);
        v.U32(m.lastError);
        v.Text(m.path);
    }
};

// A message of the cable: a type that lists its fields.
template <class M>
concept Message = requires(M& m, const M& c, FieldWriter& w, FieldReader& r) {
    M::Fields(c, w);
    M::Fields(m, r);
};

template <Message M>
Encoded Encode(const M& m) {
    Encoded e;
    FieldWriter w(e);
    M::Fields(m, w);
    return e;
}

// True when `payload` is exactly one well-formed message of that kind: every
// field present and within its cap, every rule kept, no byte left over.
// Otherwise false, and `m` is not to be used.
template <Message M>
[[nodiscard]] bool Decode(std::span<const uint8_t> payload, M& m) {
    FieldReader r(payload);
    M::Fields(m, r);
    return r.Done();
}

}  // namespace nuva::cable
