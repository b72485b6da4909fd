#include "reflash/contiguous_buffer.h"

#include <array>

namespace nuva::reflash {
namespace {

bool FramesFollow(const uint32_t* frames, uint32_t pages, int shift) {
    for (uint32_t i = 1; i < pages; ++i) {
        if ((frames[i] >> shift) != (frames[i - 1] >> shift) + 1) {
            return false;
        }
    }
    return true;
}

}  // namespace

int PageShift(uint32_t pageSize) {
    if (pageSize < 1024 || (pageSize & (pageSize - 1)) != 0) {
        return -1;
    }
    int shift = 0;
    while ((1u << shift) != pageSize) {
        ++shift;
    }
    return shift;
}

uint32_t PagesSpanned(uint32_t bytes, uint32_t pageSize) {
    return static_cast<uint32_t>((uint64_t{bytes} + pageSize - 1) / pageSize);
}

ContiguousError FindContiguousBuffer(PageSource& pages, uint32_t bytes, uint32_t pageSize, uint32_t* frames,
                                     ContiguousBuffer* out) {
    *out = ContiguousBuffer{};
    int shift = PageShift(pageSize);
    if (shift < 0) {
        return ContiguousError::kPageSize;
    }
    uint32_t count = PagesSpanned(bytes, pageSize);
    std::array<void*, kMaxRejectedBuffers> rejected{};
    uint32_t held = 0;
    ContiguousError error = ContiguousError::kNone;
    for (;;) {
        void* address = pages.Commit(bytes);
        if (address == nullptr) {
            error = ContiguousError::kCommitFailed;
            break;
        }
        if (!pages.Lock(address, bytes, frames)) {
            pages.Release(address);
            error = ContiguousError::kLockFailed;
            break;
        }
        if (FramesFollow(frames, count, shift)) {
            out->address = address;
            out->physical = (frames[0] >> shift) << shift;
            break;
        }
        if (held == kMaxRejectedBuffers) {
            pages.Unlock(address, bytes);
            pages.Release(address);
            error = ContiguousError::kTooManyRejected;
            break;
        }
        rejected[held++] = address;
    }
    out->rejected = held + (error == ContiguousError::kTooManyRejected ? 1 : 0);
    for (uint32_t i = 0; i < held; ++i) {
        pages.Unlock(rejected[i], bytes);
        pages.Release(rejected[i]);
    }
    return error;
}

}  // namespace nuva::reflash
