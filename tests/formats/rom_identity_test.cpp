#include "formats/rom_identity.h"

#include <gtest/gtest.h>

#include <vector>

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
