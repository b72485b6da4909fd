// The cable's wire format: frames of a 16-byte header and a payload, every
// field little-endian and encoded one by one. The desktop sends requests, the
// handheld answers each one with the answer type (request type | 0x8000) and
// the request's sequence number. docs/cable-protocol.md describes every field.
//
// Decoding never trusts the peer: a header with a wrong magic or version, an
// unknown type or a payload above kMaxPayload is refused, and a payload whose
// fields do not fill it exactly (short, long, a length past its end, a text
// with a NUL or above kMaxTextUnits) does not decode.
#pragma once

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
// Room for the data and the call's other fields.
inline constexpr uint32_t kMaxPayload = kMaxDataBytes + 4096;
// Paths, library and export names, version texts (UTF-16 code units, no NUL).
inline constexpr uint32_t kMaxTextUnits = 1024;

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

constexpr uint16_t RequestCode(MessageType t) { return static_cast<uint16_t>(t); }
constexpr uint16_t AnswerCode(MessageType t) { return static_cast<uint16_t>(static_cast<uint16_t>(t) | kAnswerBit); }
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

// ---- Messages ----------------------------------------------------------------
// Every answer starts with the call's own return value (a BOOL, a DWORD, a
// handle number or an HRESULT, as the call defines it) and the handheld's last
// error after the call.

struct InitRequest {};
struct InitAnswer {
    uint32_t result = 0;  // S_OK: the handheld takes this desktop
    uint32_t lastError = 0;
};

struct InvokeRequest {
    std::u16string dll;
    std::u16string function;
    std::vector<uint8_t> input;
};
struct InvokeAnswer {
    uint32_t result = 0;  // the export's HRESULT, or the failure to load or find it
    uint32_t lastError = 0;
    bool hasOutput = false;  // false: the export returned no block
    std::vector<uint8_t> output;
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
    std::vector<uint8_t> data;  // never more than the count asked for
};

struct WriteFileRequest {
    uint32_t handle = 0;
    std::vector<uint8_t> data;
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

std::vector<uint8_t> Encode(const InitRequest& m);
std::vector<uint8_t> Encode(const InitAnswer& m);
std::vector<uint8_t> Encode(const InvokeRequest& m);
std::vector<uint8_t> Encode(const InvokeAnswer& m);
std::vector<uint8_t> Encode(const CreateFileRequest& m);
std::vector<uint8_t> Encode(const CreateFileAnswer& m);
std::vector<uint8_t> Encode(const ReadFileRequest& m);
std::vector<uint8_t> Encode(const ReadFileAnswer& m);
std::vector<uint8_t> Encode(const WriteFileRequest& m);
std::vector<uint8_t> Encode(const WriteFileAnswer& m);
std::vector<uint8_t> Encode(const SetFilePointerRequest& m);
std::vector<uint8_t> Encode(const SetFilePointerAnswer& m);
std::vector<uint8_t> Encode(const HandleRequest& m);
std::vector<uint8_t> Encode(const BoolAnswer& m);
std::vector<uint8_t> Encode(const DeleteFileRequest& m);
std::vector<uint8_t> Encode(const GetFileSizeAnswer& m);
std::vector<uint8_t> Encode(const GetVersionRequest& m);
std::vector<uint8_t> Encode(const GetVersionAnswer& m);
std::vector<uint8_t> Encode(const SpecialFolderRequest& m);
std::vector<uint8_t> Encode(const SpecialFolderAnswer& m);

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
