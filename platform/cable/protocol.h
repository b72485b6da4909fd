// The cable's wire format: frames of a 16-byte header and a payload, every
// field little-endian and encoded one by one. The desktop sends requests, the
// handheld answers each one with the answer type (request type | 0x8000) and
// the request's sequence number. docs/cable-protocol.md describes every field.
//
// Decoding never trusts the peer: a header with a wrong magic or version, an
// unknown type or a payload above kMaxPayload is refused, and a payload whose
// fields do not fill it exactly (short, long, a length past its end, a text
// with a NUL or above kMaxTextUnits) does not decode.
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

// ---- Messages ----------------------------------------------------------------
// Every answer starts with the call's own return value (a BOOL, a DWORD, a
// handle number or an HRESULT, as the call defines it) and the handheld's last
// error after the call.
//
// Data blocks are views: an encoded message's block is the caller's bytes, a
// decoded one's lies in the payload it was decoded from and is valid as long
// as that payload is.

struct InitRequest {};
struct InitAnswer {
    uint32_t result = 0;  // S_OK: the handheld takes this desktop
    uint32_t lastError = 0;
};

struct InvokeRequest {
    std::u16string dll;
    std::u16string function;
    std::span<const uint8_t> input;
};
struct InvokeAnswer {
    uint32_t result = 0;  // the export's HRESULT, or the failure to load or find it
    uint32_t lastError = 0;
    bool hasOutput = false;  // false: the export returned no block
    std::span<const uint8_t> output;
};

struct CreateFileRequest {
    std::u16string name;
    uint32_t access = 0;
    uint32_t share = 0;
    uint32_t disposition = 0;
    uint32_t flags = 0;
};
// result: the handheld's handle number, 0 when the file was not opened.
struct CreateFileAnswer {
    uint32_t result = 0;
    uint32_t lastError = 0;
};

struct ReadFileRequest {
    uint32_t handle = 0;
    uint32_t count = 0;  // at most kMaxDataBytes
};
struct ReadFileAnswer {
    uint32_t result = 0;  // BOOL
    uint32_t lastError = 0;
    std::span<const uint8_t> data;  // never more than the count asked for
};

struct WriteFileRequest {
    uint32_t handle = 0;
    std::span<const uint8_t> data;
};
struct WriteFileAnswer {
    uint32_t result = 0;  // BOOL
    uint32_t lastError = 0;
    uint32_t written = 0;
};

struct SetFilePointerRequest {
    uint32_t handle = 0;
    int32_t distance = 0;
    bool hasHigh = false;  // whether the caller passed lpDistanceToMoveHigh
    int32_t high = 0;
    uint32_t method = 0;
};
struct SetFilePointerAnswer {
    uint32_t result = 0;  // the new position's low part, or INVALID_SET_FILE_POINTER
    uint32_t lastError = 0;
    int32_t high = 0;
};

// SetEndOfFile, CloseHandle and GetFileSize name only a handle.
struct HandleRequest {
    uint32_t handle = 0;
};
struct BoolAnswer {
    uint32_t result = 0;  // BOOL
    uint32_t lastError = 0;
};

struct DeleteFileRequest {
    std::u16string name;
};

struct GetFileSizeAnswer {
    uint32_t result = 0;  // the low part, or INVALID_FILE_SIZE
    uint32_t lastError = 0;
    uint32_t high = 0;
};

struct GetVersionRequest {};
struct GetVersionAnswer {
    uint32_t result = 0;  // BOOL
    uint32_t lastError = 0;
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    uint32_t platform = 0;
    std::u16string csd;  // at most 127 units
};

struct SpecialFolderRequest {
    int32_t folder = 0;
};
struct SpecialFolderAnswer {
    uint32_t result = 0;  // the path's length in characters, 0 on failure
    uint32_t lastError = 0;
    std::u16string path;
};

Encoded Encode(const InitRequest& m);
Encoded Encode(const InitAnswer& m);
Encoded Encode(const InvokeRequest& m);
Encoded Encode(const InvokeAnswer& m);
Encoded Encode(const CreateFileRequest& m);
Encoded Encode(const CreateFileAnswer& m);
Encoded Encode(const ReadFileRequest& m);
Encoded Encode(const ReadFileAnswer& m);
Encoded Encode(const WriteFileRequest& m);
Encoded Encode(const WriteFileAnswer& m);
Encoded Encode(const SetFilePointerRequest& m);
Encoded Encode(const SetFilePointerAnswer& m);
Encoded Encode(const HandleRequest& m);
Encoded Encode(const BoolAnswer& m);
Encoded Encode(const DeleteFileRequest& m);
Encoded Encode(const GetFileSizeAnswer& m);
Encoded Encode(const GetVersionRequest& m);
Encoded Encode(const GetVersionAnswer& m);
Encoded Encode(const SpecialFolderRequest& m);
Encoded Encode(const SpecialFolderAnswer& m);

// True when `payload` is exactly one well-formed message of that kind.
bool Decode(std::span<const uint8_t> payload, InitRequest& m);
bool Decode(std::span<const uint8_t> payload, InitAnswer& m);
bool Decode(std::span<const uint8_t> payload, InvokeRequest& m);
bool Decode(std::span<const uint8_t> payload, InvokeAnswer& m);
bool Decode(std::span<const uint8_t> payload, CreateFileRequest& m);
bool Decode(std::span<const uint8_t> payload, CreateFileAnswer& m);
bool Decode(std::span<const uint8_t> payload, ReadFileRequest& m);
bool Decode(std::span<const uint8_t> payload, ReadFileAnswer& m);
bool Decode(std::span<const uint8_t> payload, WriteFileRequest& m);
bool Decode(std::span<const uint8_t> payload, WriteFileAnswer& m);
bool Decode(std::span<const uint8_t> payload, SetFilePointerRequest& m);
bool Decode(std::span<const uint8_t> payload, SetFilePointerAnswer& m);
bool Decode(std::span<const uint8_t> payload, HandleRequest& m);
bool Decode(std::span<const uint8_t> payload, BoolAnswer& m);
bool Decode(std::span<const uint8_t> payload, DeleteFileRequest& m);
bool Decode(std::span<const uint8_t> payload, GetFileSizeAnswer& m);
bool Decode(std::span<const uint8_t> payload, GetVersionRequest& m);
bool Decode(std::span<const uint8_t> payload, GetVersionAnswer& m);
bool Decode(std::span<const uint8_t> payload, SpecialFolderRequest& m);
bool Decode(std::span<const uint8_t> payload, SpecialFolderAnswer& m);

}  // namespace nuva::cable
