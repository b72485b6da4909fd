#include "formats/byte_sum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace nuva {
namespace {

uint32_t ReferenceSum(const uint8_t* p, size_t n, uint32_t start) {
    uint32_t sum = start;
    for (size_t i = 0; i < n; ++i) {
        sum += p[i];
    }
    return sum;
}

TEST(ByteSum, BytesCountAsUnsigned) {
    const uint8_t ff[] = {0xFF, 0xFF};
    EXPECT_EQ(ByteSum(ff, 2), 0x1FEu);
    const char text[] = {'\x80', '\x01'};  // a signed char view would subtract here
    EXPECT_EQ(ByteSum(text, 2), 0x81u);
    EXPECT_EQ(ByteSum(ff, 0, 1234), 1234u);
    EXPECT_EQ(ByteSum(nullptr, 0, 7), 7u);
}

TEST(ByteSum, MatchesSimpleLoopForEveryStartAndLength) {
    std::vector<uint8_t> data(1024 + 97);
    std::mt19937 rng(42);
    for (auto& b : data) {
        b = static_cast<uint8_t>(rng());
    }
    // Starts that are not aligned and lengths around the 64-byte stride
    // exercise both the wide loop and the tail.
    for (size_t start = 0; start < 17; ++start) {
        for (size_t length : {0u, 1u, 15u, 16u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u, 1024u}) {
            ASSERT_LE(start + length, data.size());
            EXPECT_EQ(ByteSum(data.data() + start, length, 5), ReferenceSum(data.data() + start, length, 5))
                << "start " << start << " length " << length;
        }
    }
}

TEST(ByteSum, WrapsAt32Bits) {
    const uint8_t bytes[] = {0x10, 0x20};
    EXPECT_EQ(ByteSum(bytes, 2, 0xFFFFFFF0u), 0x20u);
    // A long all-0xFF run continued from a start close to the top wraps the
    // same way the simple loop does.
    std::vector<uint8_t> ones(4096 + 3, 0xFF);
    EXPECT_EQ(ByteSum(ones.data(), ones.size(), 0xFFFFF000u),
              ReferenceSum(ones.data(), ones.size(), 0xFFFFF000u));
    // Summing in pieces, each continuing from the last, gives the whole sum.
    uint32_t pieces = ByteSum(ones.data(), 100);
    pieces = ByteSum(ones.data() + 100, ones.size() - 100, pieces);
    EXPECT_EQ(pieces, ByteSum(ones.data(), ones.size()));
}

}  // namespace
}  // namespace nuva
