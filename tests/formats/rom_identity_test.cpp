#include "formats/rom_identity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "formats/byte_sum.h"
#include "formats/le.h"

namespace nuva {
namespace {

std::vector<uint8_t> Contents(size_t size) {
    std::vector<uint8_t> c(size);
    for (size_t i = 0; i < size; ++i) {
        c[i] = static_cast<uint8_t>(i * 31 + 11);
    }
    return c;
}

RomIdentity Identity(uint32_t covered) {
    RomIdentity id;
    id.DateCode = "04100300";
    id.Version = "A03";
    id.OsMajor = 4;
    id.LanguageId = 0x0409;
    id.CoveredLength = covered;
    return id;
}

TEST(RomIdentity, StampedBlockReadsBack) {
    auto c = Contents(8192);
    ASSERT_TRUE(StampRomIdentity(c.data(), c.size(), Identity(8000)));
    EXPECT_EQ(c[0x100], 'N');
    EXPECT_EQ(LoadLe32(c.data() + 0x108), 64u);
    RomIdentity out;
    ASSERT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kNone);
    EXPECT_EQ(out.DateCode, "04100300");
    EXPECT_EQ(out.Version, "A03");
    EXPECT_EQ(out.OsMajor, 4u);
    EXPECT_EQ(out.LanguageId, 0x0409u);
    EXPECT_EQ(out.CoveredLength, 8000u);
    // Bytes beyond the covered length do not matter.
    c[8100] ^= 0xFF;
    EXPECT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kNone);
}

TEST(RomIdentity, DamageIsNamed) {
    auto good = Contents(8192);
    ASSERT_TRUE(StampRomIdentity(good.data(), good.size(), Identity(8192)));
    RomIdentity out;

    auto c = good;
    c[5000] ^= 0x01;  // one content byte
    EXPECT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kContentSum);
    EXPECT_TRUE(out.DateCode.empty());
    c = good;
    c[0x00] += 1;  // before the block
    EXPECT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kContentSum);

    c = good;
    c[0x100] = 'X';  // magic
    EXPECT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kNoBlock);
    c = good;
    c[0x100 + 0x14] ^= 0x20;  // version text: the block sum no longer fits
    EXPECT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kNoBlock);

    // The contents end before the covered length the block claims.
    EXPECT_EQ(ReadRomIdentity(good.data(), 8191, out), RomIdentityError::kTooShort);
    EXPECT_EQ(ReadRomIdentity(good.data(), 0x100 + 63, out), RomIdentityError::kTooShort);
    EXPECT_EQ(ReadRomIdentity(nullptr, 0, out), RomIdentityError::kTooShort);
    EXPECT_STRNE(DescribeRomIdentityError(RomIdentityError::kContentSum), "");
}

// Contents whose bytes are all different pieces: swapping two regions
// changes the bytes at each place, not the bytes there are.
std::vector<uint8_t> RandomContents(size_t size) {
    std::vector<uint8_t> c(size);
    std::mt19937 random(7);
    std::ranges::generate(c, [&] { return static_cast<uint8_t>(random()); });
    return c;
}

TEST(RomIdentity, DataInTheWrongPlaceIsCaughtThoughEveryByteIsThere) {
    constexpr uint32_t kMegabyte = 1u << 20;
    auto good = RandomContents(3 * kMegabyte);
    ASSERT_TRUE(StampRomIdentity(good.data(), good.size(), Identity(3 * kMegabyte)));
    RomIdentity out;
    ASSERT_EQ(ReadRomIdentity(good.data(), good.size(), out), RomIdentityError::kNone);

    auto expectCaught = [&](const std::vector<uint8_t>& c, const char* what) {
        // The bytes are all there: a byte sum could not tell.
        EXPECT_EQ(ByteSum(c.data(), c.size()), ByteSum(good.data(), good.size())) << what;
        EXPECT_NE(c, good) << what;
        EXPECT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kContentSum) << what;
    };

    // Two 64-byte pieces (one write-to-buffer each) exchanged.
    auto c = good;
    std::swap_ranges(c.begin() + 0x10000, c.begin() + 0x10040, c.begin() + 0x20000);
    expectCaught(c, "swapped 64-byte pieces");

    // Megabytes 1 and 2 programmed into each other's place.
    c = good;
    std::swap_ranges(c.begin() + kMegabyte, c.begin() + 2 * kMegabyte, c.begin() + 2 * kMegabyte);
    expectCaught(c, "swapped megabytes");

    // The two chips' halves of every 32-bit word exchanged (bytes 0-1 with
    // 2-3): the block itself no longer reads; with the block left in place,
    // the CRC tells.
    c = good;
    for (size_t i = 0; i + 4 <= c.size(); i += 4) {
        std::swap(c[i], c[i + 2]);
        std::swap(c[i + 1], c[i + 3]);
    }
    EXPECT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kNoBlock);
    std::copy_n(good.begin() + 0x100, 64, c.begin() + 0x100);
    expectCaught(c, "swapped chip halves");

    // Only the covered length counts, wherever the swap lies inside it.
    c = good;
    std::swap(c[0], c[1]);
    expectCaught(c, "two bytes before the block");
}

TEST(RomIdentity, Crc32IsTheIeeeCheckInOnePieceOrMany) {
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc32(digits, sizeof digits), 0xCBF43926u);  // the standard check value
    EXPECT_EQ(Crc32(digits, 0), 0u);
    auto data = RandomContents(1000);
    uint32_t whole = Crc32(data.data(), data.size());
    for (size_t split : {1u, 7u, 8u, 9u, 500u, 999u}) {
        EXPECT_EQ(Crc32(data.data() + split, data.size() - split, Crc32(data.data(), split)), whole) << split;
    }
}

TEST(RomIdentity, StampRefusesWhatDoesNotFit) {
    auto c = Contents(1024);
    EXPECT_FALSE(StampRomIdentity(c.data(), c.size(), Identity(1025)));
    EXPECT_FALSE(StampRomIdentity(c.data(), c.size(), Identity(0x13F)));
    RomIdentity id = Identity(1024);
    id.DateCode = "0410030";
    EXPECT_FALSE(StampRomIdentity(c.data(), c.size(), id));
    id = Identity(1024);
    id.DateCode = "0410030x";
    EXPECT_FALSE(StampRomIdentity(c.data(), c.size(), id));
    id = Identity(1024);
    id.Version = std::string(16, 'V');
    EXPECT_FALSE(StampRomIdentity(c.data(), c.size(), id));
    id.Version = std::string(15, 'V');
    ASSERT_TRUE(StampRomIdentity(c.data(), c.size(), id));
    RomIdentity out;
    ASSERT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kNone);
    EXPECT_EQ(out.Version, std::string(15, 'V'));

    // An OS major the handheld does not know is a bad field.
    id = Identity(1024);
    id.OsMajor = 5;
    ASSERT_TRUE(StampRomIdentity(c.data(), c.size(), id));
    EXPECT_EQ(ReadRomIdentity(c.data(), c.size(), out), RomIdentityError::kBadFields);
}

}  // namespace
}  // namespace nuva
