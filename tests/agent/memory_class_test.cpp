#include "agent/memory_class.h"

#include <gtest/gtest.h>

namespace nuva::agent {
namespace {

constexpr uint32_t kMB = 1u << 20;

TEST(MemoryClassTest, CodesDecideSizesAndReservedBlock) {
    EXPECT_TRUE(MemoryClassOf(0x02000200).known);
    EXPECT_EQ(MemoryClassOf(0x02000200).ramMB, 64u);
    EXPECT_EQ(MemoryClassOf(0x02000200).flashMB, 48u);
    EXPECT_EQ(MemoryClassOf(0x02000200).reservedBlock, 0xA7FCE000u);
    EXPECT_EQ(MemoryClassOf(0x01000100).ramMB, 32u);
    EXPECT_EQ(MemoryClassOf(0x01000100).flashMB, 32u);
    EXPECT_EQ(MemoryClassOf(0x01000100).reservedBlock, 0xA5FCE000u);
    for (const uint32_t other : {0u, 0x02000201u, 0x01000200u, 0xFFFFFFFFu}) {
        const MemoryClass m = MemoryClassOf(other);
        EXPECT_FALSE(m.known);
        EXPECT_EQ(m.ramMB, 0u);
        EXPECT_EQ(m.flashMB, 0u);
        EXPECT_EQ(m.reservedBlock, 0xA5FCE000u) << other;
    }
}

TEST(MemoryClassTest, FlashReadsStayInsideAWindowOfTheFlashThereIs) {
    constexpr uint32_t kAdvanced = 0x02000200;
    constexpr uint32_t kBasic = 0x01000100;
    // Both windows, up to their last byte.
    EXPECT_TRUE(FlashReadAllowed(0xA0000000, 16384, kAdvanced));
    EXPECT_TRUE(FlashReadAllowed(0x80000000, 16384, kBasic));
    EXPECT_TRUE(FlashReadAllowed(0xA0000000 + 48 * kMB - 16384, 16384, kAdvanced));
    EXPECT_FALSE(FlashReadAllowed(0xA0000000 + 48 * kMB - 16384, 16385, kAdvanced));
    EXPECT_TRUE(FlashReadAllowed(0x80000000 + 48 * kMB - 1, 1, kAdvanced));
    // A Basic handheld has 32 MB: the Advanced range beyond is not flash.
    EXPECT_FALSE(FlashReadAllowed(0xA0000000 + 32 * kMB, 4, kBasic));
    EXPECT_TRUE(FlashReadAllowed(0xA0000000 + 32 * kMB - 4, 4, kBasic));
    // An unknown configuration is read as the smaller flash.
    EXPECT_TRUE(FlashReadAllowed(0xA0000000 + 32 * kMB - 4, 4, 0));
    EXPECT_FALSE(FlashReadAllowed(0xA0000000 + 32 * kMB - 4, 5, 0));
    // Below a window, between and beyond them, and ranges that wrap around.
    EXPECT_FALSE(FlashReadAllowed(0x9FFFFFFF, 2, kAdvanced));
    EXPECT_FALSE(FlashReadAllowed(0xA4000000, 16, kAdvanced));  // RAM
    EXPECT_FALSE(FlashReadAllowed(0xBE042000, 16, kAdvanced));  // screen
    EXPECT_FALSE(FlashReadAllowed(0x00000000, 16, kAdvanced));
    EXPECT_FALSE(FlashReadAllowed(0xFFFFFFF0, 0x20, kAdvanced));
    // Length: at most 1 MB in one read.
    EXPECT_TRUE(FlashReadAllowed(0xA0000000, kMaxFlashRead, kAdvanced));
    EXPECT_FALSE(FlashReadAllowed(0xA0000000, kMaxFlashRead + 1, kAdvanced));
    EXPECT_FALSE(FlashReadAllowed(0xA0000000, 0xFFFFFFFF, kAdvanced));
}

}  // namespace
}  // namespace nuva::agent
