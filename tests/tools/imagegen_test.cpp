#include "tools/imagegen/imagegen.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "formats/byte_sum.h"
#include "formats/rom_identity.h"
#include "tests/support/temp_folder.h"

namespace nuva::imagegen {
namespace {

std::vector<uint8_t> Contents(const std::vector<uint8_t>& file) {
    return std::vector<uint8_t>(file.begin() + kImageHeaderSize, file.end());
}

TEST(ImageGen, Pocket2003AdvancedImageCarriesEveryHeaderFieldAndAValidIdentity) {
    ImageSpec spec;  // 2003, advanced, EN, 04100300, A03, with sum
    std::vector<uint8_t> file;
    ASSERT_EQ(MakeImageFile(spec, file), ImageGenError::kNone);
    ASSERT_EQ(file.size(), kImageFileBytes2003);

    // Stored scrambled: the magic is not readable as is.
    EXPECT_NE(std::memcmp(file.data(), "BREL", 4), 0);
    ImageHeader h = ImageHeader::FromFile(file.data());
    EXPECT_TRUE(h.HasMagic());
    EXPECT_TRUE(h.HasMarker());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data() + header_offset::kKernel), 6), "KERNEL");
    for (size_t i = 0; i < kHeaderKey.size(); ++i) {
        EXPECT_EQ(h.Byte(header_offset::kKeyCopy + i), kHeaderKey[i]);
    }
    EXPECT_EQ(h.DateCode(), "04100300");
    EXPECT_EQ(h.LanguageCode(), "EN");
    EXPECT_EQ(h.ModelByte(), kModelByteAdvanced);
    EXPECT_EQ(h.Kind(), 0);
    EXPECT_EQ(h.OsCode(), kOsCode2003);
    EXPECT_EQ(h.RomName(), "A03");
    std::vector<uint8_t> contents = Contents(file);
    EXPECT_EQ(h.ByteCount(), kContentBytes2003);
    EXPECT_EQ(h.ByteSumField(), ByteSum(contents.data(), contents.size()));
    for (size_t i = 0x80; i < kImageHeaderSize; ++i) {
        ASSERT_EQ(h.Byte(i), 0) << "offset " << i;
    }

    RomIdentity id;
    ASSERT_EQ(ReadRomIdentity(contents.data(), contents.size(), id), RomIdentityError::kNone);
    EXPECT_EQ(id.DateCode, "04100300");
    EXPECT_EQ(id.Version, "A03");
    EXPECT_EQ(id.OsMajor, 4u);
    EXPECT_EQ(id.LanguageId, 0x0409u);
    EXPECT_EQ(id.CoveredLength, kContentBytes2003);
}

TEST(ImageGen, Pocket2002BasicAndEveryLanguage) {
    const struct {
        const char* code;
        uint32_t id;
    } languages[] = {{"EN", 0x0409}, {"FR", 0x040C}, {"GE", 0x0407}, {"SP", 0x040A},
                     {"IT", 0x0410}, {"TC", 0x0404}, {"SC", 0x0804}};
    for (const auto& language : languages) {
        ImageSpec spec;
        spec.os = OsFamily::k2002;
        spec.modelClass = ModelClass::kBasic;
        spec.language = language.code;
        spec.dateCode = "03050300";
        spec.romName = "A02";
        std::vector<uint8_t> file;
        ASSERT_EQ(MakeImageFile(spec, file), ImageGenError::kNone);
        ASSERT_EQ(file.size(), kImageFileBytes2002);
        ImageHeader h = ImageHeader::FromFile(file.data());
        EXPECT_EQ(h.LanguageCode(), language.code);
        EXPECT_EQ(h.ModelByte(), kModelByteBasic);
        EXPECT_EQ(h.OsCode(), kOsCode2002);
        EXPECT_EQ(h.ByteCount(), kContentBytes2002);
        std::vector<uint8_t> contents = Contents(file);
        RomIdentity id;
        ASSERT_EQ(ReadRomIdentity(contents.data(), contents.size(), id), RomIdentityError::kNone);
        EXPECT_EQ(id.OsMajor, 3u);
        EXPECT_EQ(id.LanguageId, language.id) << language.code;
        EXPECT_EQ(id.CoveredLength, kContentBytes2002);
    }
}

TEST(ImageGen, ContentsAreDeterministicAndDifferentRomsDifferInEveryFlashBlock) {
    ImageSpec a;
    ImageSpec b = a;
    b.romName = "A04";
    ImageSpec c = a;
    c.dateCode = "04100301";
    std::vector<uint8_t> ca, ca2, cb, cc;
    ASSERT_EQ(MakeContents(a, ca), ImageGenError::kNone);
    ASSERT_EQ(MakeContents(a, ca2), ImageGenError::kNone);
    ASSERT_EQ(MakeContents(b, cb), ImageGenError::kNone);
    ASSERT_EQ(MakeContents(c, cc), ImageGenError::kNone);
    EXPECT_EQ(ca, ca2);
    const size_t block = 0x40000;
    for (size_t offset = 0; offset < ca.size(); offset += block) {
        size_t n = std::min(block, ca.size() - offset);
        EXPECT_NE(std::memcmp(ca.data() + offset, cb.data() + offset, n), 0) << "block at " << offset;
        EXPECT_NE(std::memcmp(ca.data() + offset, cc.data() + offset, n), 0) << "block at " << offset;
    }
    // The pattern is not a constant fill: an erased (0xFF) or zeroed flash
    // block would not pass for it.
    EXPECT_NE(ca[0x1000], ca[0x1001]);

    // Header-only choices leave the contents alone.
    ImageSpec early = a;
    early.early = true;
    ImageSpec noSum = a;
    noSum.withSum = false;
    std::vector<uint8_t> ce, cn;
    ASSERT_EQ(MakeContents(early, ce), ImageGenError::kNone);
    ASSERT_EQ(MakeContents(noSum, cn), ImageGenError::kNone);
    EXPECT_EQ(ce, ca);
    EXPECT_EQ(cn, ca);
}

TEST(ImageGen, NoSumAndEarlyHeaders) {
    ImageSpec noSum;
    noSum.withSum = false;
    std::vector<uint8_t> file;
    ASSERT_EQ(MakeImageFile(noSum, file), ImageGenError::kNone);
    ImageHeader h = ImageHeader::FromFile(file.data());
    EXPECT_TRUE(h.HasMarker());
    EXPECT_EQ(h.ByteCount(), 0u);
    EXPECT_EQ(h.ByteSumField(), 0u);

    ImageSpec early;
    early.early = true;
    ASSERT_EQ(MakeImageFile(early, file), ImageGenError::kNone);
    ASSERT_EQ(file.size(), kImageFileBytes2003);
    h = ImageHeader::FromFile(file.data());
    EXPECT_TRUE(h.HasMagic());
    EXPECT_EQ(h.DateCode(), "04100300");
    EXPECT_EQ(h.LanguageCode(), "EN");
    EXPECT_EQ(h.ModelByte(), kModelByteAdvanced);
    for (size_t i = kScrambledBytes; i < kImageHeaderSize; ++i) {
        ASSERT_EQ(file[i], 0) << "offset " << i;
    }
}

TEST(ImageGen, RefusesBadParameters) {
    auto with = [](auto change) {
        ImageSpec spec;
        change(spec);
        std::vector<uint8_t> file;
        return MakeImageFile(spec, file);
    };
    EXPECT_EQ(with([](ImageSpec& s) { s.language = "DE"; }), ImageGenError::kBadLanguage);
    EXPECT_EQ(with([](ImageSpec& s) { s.language = "en"; }), ImageGenError::kBadLanguage);
    EXPECT_EQ(with([](ImageSpec& s) { s.language = ""; }), ImageGenError::kBadLanguage);
    EXPECT_EQ(with([](ImageSpec& s) { s.dateCode = "0410030"; }), ImageGenError::kBadDateCode);
    EXPECT_EQ(with([](ImageSpec& s) { s.dateCode = "041003000"; }), ImageGenError::kBadDateCode);
    EXPECT_EQ(with([](ImageSpec& s) { s.dateCode = "0410030x"; }), ImageGenError::kBadDateCode);
    EXPECT_EQ(with([](ImageSpec& s) { s.romName = ""; }), ImageGenError::kBadRomName);
    EXPECT_EQ(with([](ImageSpec& s) { s.romName = "ABCDEFGHI"; }), ImageGenError::kBadRomName);
    EXPECT_EQ(with([](ImageSpec& s) { s.romName = "A 3"; }), ImageGenError::kBadRomName);
    EXPECT_EQ(with([](ImageSpec& s) { s.romName = "ABCDEFGH"; }), ImageGenError::kNone);

    OsFamily os;
    ModelClass modelClass;
    EXPECT_FALSE(ParseOsFamily("2004", os));
    EXPECT_FALSE(ParseModelClass("Advanced", modelClass));
    ASSERT_TRUE(ParseOsFamily("2002", os));
    EXPECT_EQ(os, OsFamily::k2002);
    ASSERT_TRUE(ParseModelClass("basic", modelClass));
    EXPECT_EQ(modelClass, ModelClass::kBasic);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(ImageGen, WritesTheWholeFileUnderItsNameOrNothing) {
    nuva::testing::TempFolder dir{"imagegen"};
    std::string path = dir.Join("A03.nb0");
    ImageSpec spec;
    spec.modelClass = ModelClass::kBasic;
    ASSERT_EQ(WriteImageFile(spec, path), ImageGenError::kNone);
    std::vector<uint8_t> expected;
    ASSERT_EQ(MakeImageFile(spec, expected), ImageGenError::kNone);
    EXPECT_EQ(ReadAll(path), expected);
    // Only the image itself is left in the folder: no temporary file.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);

    // A bad spec writes nothing.
    spec.language = "XX";
    EXPECT_EQ(WriteImageFile(spec, dir.Join("bad.nb0")), ImageGenError::kBadLanguage);
    EXPECT_FALSE(std::filesystem::exists(dir.Join("bad.nb0")));

    // A folder that cannot be written to: an error with a reason, no file.
    if (geteuid() != 0) {  // root writes anywhere
        std::filesystem::permissions(dir.path(),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        std::string detail;
        spec.language = "EN";
        EXPECT_EQ(WriteImageFile(spec, dir.Join("locked.nb0"), &detail), ImageGenError::kCannotWrite);
        EXPECT_FALSE(detail.empty());
        EXPECT_FALSE(std::filesystem::exists(dir.Join("locked.nb0")));
    }
    std::string detail;
    EXPECT_EQ(WriteImageFile(ImageSpec{}, dir.Join("no/such/folder/x.nb0"), &detail),
              ImageGenError::kCannotWrite);
    EXPECT_NE(detail.find("no/such/folder"), std::string::npos) << detail;
}

}  // namespace
}  // namespace nuva::imagegen
