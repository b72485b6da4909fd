// What both cable targets do with one frame from the other end: the header
// decoded as the receiving side decodes it, then the payload as the message
// that side expects for that type. A message that decodes must encode back
// to exactly the payload it came from: the decoder takes nothing the encoder
// would not write, and drops nothing it would.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/cable/protocol.h"

namespace nuva::fuzz {

[[noreturn]] inline void CableFail(const char* side, const char* what) {
    std::fprintf(stderr, "%s: %s\n", side, what);
    std::abort();
}

template <typename Message>
void DecodeAndRecode(const char* side, std::span<const uint8_t> payload) {
    Message message;
    if (!cable::Decode(payload, message)) {
        return;
    }
    const std::vector<uint8_t> again = cable::Encode(message).Bytes();
    if (again.size() != payload.size() || !std::equal(again.begin(), again.end(), payload.begin())) {
        CableFail(side, "a decoded message does not encode back to its payload");
    }
}

// The frame's header and payload; false when the header is refused or the
// payload is not the length it gives.
inline bool SplitFrame(const char* side, const uint8_t* data, size_t size, cable::FrameHeader& header,
                       std::span<const uint8_t>& payload) {
    if (size < cable::kHeaderBytes) {
        return false;
    }
    const cable::FrameError error = cable::DecodeHeader(data, header);
    (void)cable::Describe(error);
    if (error != cable::FrameError::kNone) {
        return false;
    }
    (void)cable::DescribeType(header.type);
    if (header.length > cable::kMaxPayload) {
        CableFail(side, "a header with an oversized payload was taken");
    }
    uint8_t again[cable::kHeaderBytes];
    cable::EncodeHeader(header, again);
    if (!std::equal(std::begin(again), std::end(again), data)) {
        CableFail(side, "a decoded header does not encode back to its bytes");
    }
    if (size - cable::kHeaderBytes != header.length) {
        return false;
    }
    payload = std::span<const uint8_t>(data + cable::kHeaderBytes, header.length);
    return true;
}

}  // namespace nuva::fuzz
