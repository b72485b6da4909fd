// The desktop's end of the cable: a frame as the handheld sends it, decoded
// as the desktop's RAPI library decodes an answer. Input: the frame's bytes,
// header and payload.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/cable_frames.h"
#include "platform/cable/protocol.h"

namespace {

constexpr const char* kSide = "cable_desktop_fuzz";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using nuva::cable::AnswerCode;
    using nuva::cable::MessageType;
    using nuva::fuzz::DecodeAndRecode;
    nuva::cable::FrameHeader header;
    std::span<const uint8_t> payload;
    if (!nuva::fuzz::SplitFrame(kSide, data, size, header, payload) ||
        !nuva::cable::IsAnswerCode(header.type)) {
        return 0;
    }
    switch (static_cast<MessageType>(header.type & ~nuva::cable::kAnswerBit)) {
        case MessageType::kInit:
            DecodeAndRecode<nuva::cable::InitAnswer>(kSide, payload);
            break;
        case MessageType::kInvoke:
            DecodeAndRecode<nuva::cable::InvokeAnswer>(kSide, payload);
            break;
        case MessageType::kCreateFile:
            DecodeAndRecode<nuva::cable::CreateFileAnswer>(kSide, payload);
            break;
        case MessageType::kReadFile:
            DecodeAndRecode<nuva::cable::ReadFileAnswer>(kSide, payload);
            break;
        case MessageType::kWriteFile:
            DecodeAndRecode<nuva::cable::WriteFileAnswer>(kSide, payload);
            break;
        case MessageType::kSetFilePointer:
            DecodeAndRecode<nuva::cable::SetFilePointerAnswer>(kSide, payload);
            break;
        case MessageType::kSetEndOfFile:
        case MessageType::kCloseHandle:
        case MessageType::kDeleteFile:
            DecodeAndRecode<nuva::cable::BoolAnswer>(kSide, payload);
            break;
        case MessageType::kGetFileSize:
            DecodeAndRecode<nuva::cable::GetFileSizeAnswer>(kSide, payload);
            break;
        case MessageType::kGetVersionEx:
            DecodeAndRecode<nuva::cable::GetVersionAnswer>(kSide, payload);
            break;
        case MessageType::kGetSpecialFolderPath:
            DecodeAndRecode<nuva::cable::SpecialFolderAnswer>(kSide, payload);
            break;
        default:
            nuva::fuzz::CableFail(kSide, "an answer code of no request was taken");
    }
    return 0;
}
