// The handheld's end of the cable: a frame as a desktop sends it, decoded as
// the handheld's RAPI service decodes a request. Input: the frame's bytes,
// header and payload.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/cable_frames.h"
#include "platform/cable/protocol.h"

namespace {

constexpr const char* kSide = "cable_handheld_fuzz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using nuva::cable::MessageType;
    using nuva::fuzz::DecodeAndRecode;
    nuva::cable::FrameHeader header;
    std::span<const uint8_t> payload;
    if (!nuva::fuzz::SplitFrame(kSide, data, size, header, payload) ||
        !nuva::cable::IsRequestCode(header.type)) {
        return 0;
    }
    switch (static_cast<MessageType>(header.type)) {
        case MessageType::kInit:
            DecodeAndRecode<nuva::cable::InitRequest>(kSide, payload);
            break;
        case MessageType::kInvoke:
            DecodeAndRecode<nuva::cable::InvokeRequest>(kSide, payload);
            break;
        case MessageType::kCreateFile:
            DecodeAndRecode<nuva::cable::CreateFileRequest>(kSide, payload);
            break;
        case MessageType::kReadFile:
            DecodeAndRecode<nuva::cable::ReadFileRequest>(kSide, payload);
            break;
        case MessageType::kWriteFile:
            DecodeAndRecode<nuva::cable::WriteFileRequest>(kSide, payload);
            break;
        case MessageType::kSetFilePointer:
            DecodeAndRecode<nuva::cable::SetFilePointerRequest>(kSide, payload);
            break;
        case MessageType::kSetEndOfFile:
        case MessageType::kCloseHandle:
        case MessageType::kGetFileSize:
            DecodeAndRecode<nuva::cable::HandleRequest>(kSide, payload);
            break;
        case MessageType::kDeleteFile:
            DecodeAndRecode<nuva::cable::DeleteFileRequest>(kSide, payload);
            break;
        case MessageType::kGetVersionEx:
            DecodeAndRecode<nuva::cable::GetVersionRequest>(kSide, payload);
            break;
        case MessageType::kGetSpecialFolderPath:
            DecodeAndRecode<nuva::cable::SpecialFolderRequest>(kSide, payload);
            break;
        default:
            nuva::fuzz::CableFail(kSide, "a request code of no request was taken");
    }
    return 0;
}
