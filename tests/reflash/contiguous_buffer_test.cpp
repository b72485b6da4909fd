// The search for a physically contiguous buffer 0.
#include "reflash/contiguous_buffer.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace nuva::reflash {
namespace {

constexpr uint32_t kPage = 4096;
constexpr uint32_t kBytes = 0x100000;

// Hands out allocations whose pages are scattered until `fragmented` of
// them have been made, then contiguous ones.
class ScriptedPages final : public PageSource {
  public:
    void* Commit(uint32_t) override {
        if (commitsLeft == 0) {
            return nullptr;
        }
        --commitsLeft;
        void* address = reinterpret_cast<void*>(uintptr_t{0x10000000} + 0x200000 * next++);
        live.insert(address);
        return address;
    }
    bool Lock(void* address, uint32_t bytes, uint32_t* frames) override {
        if (failLock) {
            return false;
        }
        uint32_t pages = bytes / kPage;
        bool scatter = fragmented > 0;
        if (scatter) {
            --fragmented;
        }
        for (uint32_t i = 0; i < pages; ++i) {
            // Scattered: every other frame. Contiguous: consecutive frames.
            frames[i] = 0xA0000000 + frameBase + (scatter ? 2 * i : i) * kPage;
        }
        frameBase += 2 * bytes;
        locked.insert(address);
        return true;
    }
    void Unlock(void* address, uint32_t) override {
        EXPECT_EQ(locked.erase(address), 1u) << "unlocking what is not locked";
    }
    void Release(void* address) override {
        EXPECT_EQ(locked.count(address), 0u) << "releasing locked pages";
        EXPECT_EQ(live.erase(address), 1u) << "releasing what was not allocated";
    }

    uint32_t fragmented = 0;
    uint32_t commitsLeft = 1000;
    bool failLock = false;
    uint32_t next = 0;
    uint32_t frameBase = 0x100000;
    std::set<void*> live;
    std::set<void*> locked;
};

TEST(ContiguousBuffer, KeepsRejectedBuffersWhileSearchingAndReleasesThemAll) {
    ScriptedPages pages;
    pages.fragmented = 5;
    std::vector<uint32_t> frames(PagesSpanned(kBytes, kPage));
    ContiguousBuffer buffer;
    EXPECT_EQ(FindContiguousBuffer(pages, kBytes, kPage, frames.data(), &buffer), ContiguousError::kNone);
    EXPECT_EQ(buffer.rejected, 5u);
    // Only the chosen buffer is left, allocated and locked.
    EXPECT_EQ(pages.live, std::set<void*>{buffer.address});
    EXPECT_EQ(pages.locked, std::set<void*>{buffer.address});
    EXPECT_EQ(buffer.physical, 0xA0000000u + 0x100000u + 5 * 2 * kBytes);

    ScriptedPages first;
    EXPECT_EQ(FindContiguousBuffer(first, kBytes, kPage, frames.data(), &buffer), ContiguousError::kNone);
    EXPECT_EQ(buffer.rejected, 0u);
}

TEST(ContiguousBuffer, GivesUpAfterSixtyFourRejectionsWithNothingLeftBehind) {
    ScriptedPages pages;
    pages.fragmented = 1000;
    std::vector<uint32_t> frames(PagesSpanned(kBytes, kPage));
    ContiguousBuffer buffer;
    EXPECT_EQ(FindContiguousBuffer(pages, kBytes, kPage, frames.data(), &buffer),
              ContiguousError::kTooManyRejected);
    EXPECT_EQ(buffer.address, nullptr);
    EXPECT_EQ(buffer.rejected, 65u);
    EXPECT_EQ(pages.next, 65u);
    EXPECT_TRUE(pages.live.empty());
    EXPECT_TRUE(pages.locked.empty());

    // Sixty-four rejections and then a contiguous one still succeed.
    ScriptedPages edge;
    edge.fragmented = 64;
    EXPECT_EQ(FindContiguousBuffer(edge, kBytes, kPage, frames.data(), &buffer), ContiguousError::kNone);
    EXPECT_EQ(buffer.rejected, 64u);
    EXPECT_EQ(edge.live.size(), 1u);
}

TEST(ContiguousBuffer, AFailedAllocationOrLockEndsTheSearchAndReleasesEverything) {
    std::vector<uint32_t> frames(PagesSpanned(kBytes, kPage));
    ContiguousBuffer buffer;

    ScriptedPages noMemory;
    noMemory.fragmented = 1000;
    noMemory.commitsLeft = 3;
    EXPECT_EQ(FindContiguousBuffer(noMemory, kBytes, kPage, frames.data(), &buffer),
              ContiguousError::kCommitFailed);
    EXPECT_EQ(buffer.rejected, 3u);
    EXPECT_TRUE(noMemory.live.empty());

    ScriptedPages noLock;
    noLock.failLock = true;
    EXPECT_EQ(FindContiguousBuffer(noLock, kBytes, kPage, frames.data(), &buffer),
              ContiguousError::kLockFailed);
    EXPECT_TRUE(noLock.live.empty());
}

TEST(ContiguousBuffer, PageSizesAreTakenFromTheSystem) {
    EXPECT_EQ(PageShift(4096), 12);
    EXPECT_EQ(PageShift(1024), 10);
    EXPECT_EQ(PageShift(65536), 16);
    EXPECT_EQ(PageShift(0), -1);
    EXPECT_EQ(PageShift(512), -1);
    EXPECT_EQ(PageShift(3000), -1);
    EXPECT_EQ(PagesSpanned(kBytes, 4096), 256u);
    EXPECT_EQ(PagesSpanned(kBytes, 1024), 1024u);
    EXPECT_EQ(PagesSpanned(kBytes + 1, 4096), 257u);

    ScriptedPages pages;
    std::vector<uint32_t> frames(PagesSpanned(kBytes, 1024));
    ContiguousBuffer buffer;
    EXPECT_EQ(FindContiguousBuffer(pages, kBytes, 3000, frames.data(), &buffer), ContiguousError::kPageSize);
    EXPECT_EQ(pages.next, 0u);
}

}  // namespace
}  // namespace nuva::reflash
