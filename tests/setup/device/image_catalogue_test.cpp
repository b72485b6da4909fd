#include "setup/device/image_catalogue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "formats/le.h"
#include "tests/support/temp_folder.h"

namespace nuva {
namespace {

using nuva::testing::TempFolder;

// A file of `length` bytes (sparse) whose first 512 bytes are `stored`.
std::string WriteImage(const TempFolder& folder, const std::string& name, const uint8_t* stored,
                       uint64_t length) {
    std::string path = folder.Write(name, std::string_view(reinterpret_cast<const char*>(stored), 512));
    std::filesystem::resize_file(path, length);
    return path;
}

// The stored form of a header with only the scrambled part filled, as early
// images have it.
std::array<uint8_t, kImageHeaderSize> EarlyHeader(std::string_view date) {
    ImageHeader h;
    h.SetText(header_offset::kMagic, "BREL KERNEL    ", 15);
    h.SetText(header_offset::kDateCode, date, 8);
    h.SetText(header_offset::kLanguageCode, "EN", 2);
    h.SetByte(header_offset::kModelByte, 0x40);
    // Leftovers behind the scrambled part that must not survive.
    h.SetByte(0x49, 0x77);
    h.SetText(header_offset::kRomName, "JUNK", 8);
    return h.ToFile();
}

TEST(LocateUpdateImage, NamesAnExistingFileForEachClass) {
    TempFolder dir;
    dir.Write("setup.ini", "[Image]\r\nHIMODEL=images\\hi.nb0\r\nLOWMODEL = lo.nb0 \r\n");
    std::string hi = dir.Write("images/hi.nb0", "x");

    auto found = FindUpdateImage(dir.path(), true);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, hi);
    EXPECT_EQ(LocateUpdateImage(dir.path(), 1, nullptr, nullptr), 1);
    // The key is there but its file is not.
    EXPECT_FALSE(FindUpdateImage(dir.path(), false).has_value());
    EXPECT_EQ(LocateUpdateImage(dir.path(), 0, nullptr, nullptr), 0);
    dir.Write("lo.nb0", "y");
    EXPECT_EQ(LocateUpdateImage(dir.path(), 0, nullptr, nullptr), 1);
    // Any switch value but 1 asks for the small class.
    EXPECT_EQ(LocateUpdateImage(dir.path(), 2, nullptr, nullptr), 1);

    // A folder is not an image, and an empty value is no image.
    dir.Write("setup.ini", "[Image]\nHIMODEL=images\nLOWMODEL=\n");
    EXPECT_EQ(LocateUpdateImage(dir.path(), 1, nullptr, nullptr), 0);
    EXPECT_EQ(LocateUpdateImage(dir.path(), 0, nullptr, nullptr), 0);
    // No settings file at all.
    std::filesystem::remove(dir.path() + "setup.ini");
    EXPECT_EQ(LocateUpdateImage(dir.path(), 1, nullptr, nullptr), 0);
}

TEST(LocateUpdateImage, CopiesThePathAndReportsItsLength) {
    TempFolder dir;
    dir.Write("setup.ini", "[image]\nhimodel=rom.nb0\n");
    std::string full = dir.Write("rom.nb0", "x");

    std::vector<char> buffer(full.size() + 1, '#');
    size_t length = buffer.size();
    ASSERT_EQ(LocateUpdateImage(dir.path(), 1, buffer.data(), &length), 1);
    EXPECT_EQ(std::string(buffer.data()), full);
    EXPECT_EQ(length, full.size());

    // One character short: the copy is cut and terminated inside the buffer,
    // and the reported length tells the caller to grow it.
    std::vector<char> small(full.size() + 4, '#');
    length = full.size();
    ASSERT_EQ(LocateUpdateImage(dir.path(), 1, small.data(), &length), 1);
    EXPECT_EQ(std::string(small.data()), full.substr(0, full.size() - 1));
    EXPECT_EQ(small[full.size()], '#');  // nothing written past the given length
    EXPECT_GE(length, full.size());

    // Only the length.
    length = 0;
    ASSERT_EQ(LocateUpdateImage(dir.path(), 1, nullptr, &length), 1);
    EXPECT_EQ(length, full.size());
    // A zero-length buffer is left alone.
    char one = '#';
    length = 0;
    ASSERT_EQ(LocateUpdateImage(dir.path(), 1, &one, &length), 1);
    EXPECT_EQ(one, '#');
}

TEST(CheckImageFile, AcceptsCompleteHeadersAndRefusesOthers) {
    TempFolder dir;
    ImageHeader plain;
    plain.SetText(header_offset::kMagic, "BREL", 4);
    plain.SetText(header_offset::kDateCode, "04100300", 8);
    plain.SetText(header_offset::kMarker, "NUVA7", 5);
    plain.SetText(header_offset::kRomName, "A03", 8);
    plain.SetWord16(header_offset::kWord48, 0x0300);
    plain.SetWord32(header_offset::kByteCount, 1234);
    auto stored = plain.ToFile();

    std::string path = WriteImage(dir, "full.nb0", stored.data(), 4096);
    ImageHeader read;
    EXPECT_EQ(CheckImageFile(path, read), 4096u);
    EXPECT_EQ(read, plain);  // complete headers are taken as they are

    // Exactly 512 bytes is enough; 511 is not.
    path = WriteImage(dir, "just.nb0", stored.data(), 512);
    EXPECT_EQ(CheckImageFile(path, read), 512u);
    path = WriteImage(dir, "short.nb0", stored.data(), 511);
    EXPECT_EQ(CheckImageFile(path, read), 0u);

    // A header stored unscrambled has no magic once unscrambled.
    path = WriteImage(dir, "plain.nb0", plain.data(), 4096);
    EXPECT_EQ(CheckImageFile(path, read), 0u);
    // An interrupted backup: 512 zero bytes.
    std::array<uint8_t, 512> zeros{};
    path = WriteImage(dir, "zero.ris", zeros.data(), 4096);
    EXPECT_EQ(CheckImageFile(path, read), 0u);

    EXPECT_EQ(CheckImageFile(dir.path() + "missing.nb0", read), 0u);
    EXPECT_EQ(CheckImageFile(dir.path(), read), 0u);  // a folder
}

TEST(CheckImageFile, CompletesEarlyHeadersFromTheFileLength) {
    TempFolder dir;
    ImageHeader h;

    // Pocket PC 2003 length: code 3, no ROM name, leftovers cleared.
    auto stored = EarlyHeader("04100300");
    std::string path = WriteImage(dir, "a.nb0", stored.data(), 0x1980200);
    ASSERT_EQ(CheckImageFile(path, h), 26739200u);
    EXPECT_EQ(h.Byte(0x48), 0x42);
    EXPECT_EQ(h.OsCode(), 3);
    EXPECT_EQ(h.RomName(), "");
    EXPECT_EQ(h.DateCode(), "04100300");
    EXPECT_EQ(h.LanguageCode(), "EN");
    EXPECT_EQ(h.ModelByte(), 0x40);

    // Pocket PC 2002 length: code 2 and the ROM name from the date.
    struct Case {
        const char* date;
        const char* name;
    };
    for (Case c :
         {Case{"11110200", "A00"}, Case{"11220200", "A00"}, Case{"12060200", "A00"}, Case{"12160200", "A00"},
          Case{"03050300", "A02"}, Case{"04100300", "A03"}, Case{"01010300", ""}}) {
        stored = EarlyHeader(c.date);
        path = WriteImage(dir, "b.nb0", stored.data(), 0x19C0200);
        ASSERT_EQ(CheckImageFile(path, h), 27001344u) << c.date;
        EXPECT_EQ(h.Byte(0x48), 0x30);
        EXPECT_EQ(h.OsCode(), 2);
        EXPECT_EQ(h.RomName(), c.name) << c.date;
    }

    // Any other length: accepted, everything behind the first 36 bytes zero.
    stored = EarlyHeader("03050300");
    path = WriteImage(dir, "c.nb0", stored.data(), 0x19C0201);
    ASSERT_EQ(CheckImageFile(path, h), 0x19C0201u);
    EXPECT_EQ(h.OsCode(), 0);
    for (size_t i = 36; i < kImageHeaderSize; ++i) {
        ASSERT_EQ(h.Byte(i), 0) << i;
    }
}

TEST(BuildRisHeader, WritesTheBackupHeader) {
    DeviceInfo info;
    info.LanguageId = 0x0409;
    info.RamSizeMB = 64;
    info.PlatformInfo = 0x03050300;
    info.OsMajorVersion = 4;
    SetFieldText(info.RomVersion, u"A02");
    for (size_t i = 0; i < 16; ++i) {
        info.DeviceUuid[i] = static_cast<uint8_t>(i + 1);
    }
    auto stored = BuildRisHeader(info, 0x1980000, 0xCAFEBABE);

    auto plain = stored;
    ScrambleHeader(plain.data());
    const char expected[] = "BREL KERNEL    \x3A\x91\xC4\x07\x6E\x2B\xD8\x15 03050300 EN@";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(plain.data()), 36), std::string(expected, 36));
    for (size_t i = 36; i < 0x40; ++i) {
        EXPECT_EQ(plain[i], 0) << i;
    }
    EXPECT_EQ(LoadLe16(&plain[0x40]), 0);
    EXPECT_EQ(LoadLe16(&plain[0x42]), 1);
    EXPECT_EQ(LoadLe16(&plain[0x44]), 1);
    EXPECT_EQ(plain[0x48], 0);
    EXPECT_EQ(plain[0x49], 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&plain[0x50]), 6), std::string("NUVA7\0", 6));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&plain[0x60]), 8), std::string("A02\0\0\0\0\0", 8));
    EXPECT_EQ(LoadLe32(&plain[0x68]), 0x1980000u);
    EXPECT_EQ(LoadLe32(&plain[0x6C]), 0xCAFEBABEu);
    EXPECT_EQ(plain[0x70], 1);
    EXPECT_EQ(plain[0x7F], 16);
    for (size_t i = 0x80; i < kImageHeaderSize; ++i) {
        ASSERT_EQ(plain[i], 0) << i;
    }

    // A backup header passes the same check as an image, unchanged.
    TempFolder dir;
    std::string path = WriteImage(dir, "b.ris", stored.data(), 0x1980200);
    ImageHeader read;
    ASSERT_EQ(CheckImageFile(path, read), 0x1980200u);
    EXPECT_EQ(read.Kind(), 1);
    EXPECT_EQ(read.RomName(), "A02");
    EXPECT_EQ(read.Uuid(), info.DeviceUuid);
}

TEST(BuildRisHeader, LanguageModelAndVersionEdges) {
    DeviceInfo info;
    info.RamSizeMB = 0x120;  // only the low byte is stored
    info.OsMajorVersion = 3;
    info.LanguageId = 0x0804;
    SetFieldText(info.RomVersion, u"ABCDEFGHIJKL");
    auto plain = BuildRisHeader(info, 0, 0);
    ScrambleHeader(plain.data());
    EXPECT_EQ(plain[0x21], 'S');
    EXPECT_EQ(plain[0x22], 'C');
    EXPECT_EQ(plain[0x23], 0x20);
    EXPECT_EQ(plain[0x48], 0);
    EXPECT_EQ(plain[0x49], 2);
    // Eight characters fill the name field; the byte count behind it is intact.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&plain[0x60]), 8), "ABCDEFGH");
    EXPECT_EQ(LoadLe32(&plain[0x68]), 0u);
    EXPECT_EQ(ImageHeader::FromPlain(plain.data()).RomName(), "ABCDEFGH");

    info.LanguageId = 0x0411;  // no code: two zero bytes
    SetFieldText(info.RomVersion, u"");
    info.OsMajorVersion = 5;
    plain = BuildRisHeader(info, 0, 0);
    ScrambleHeader(plain.data());
    EXPECT_EQ(plain[0x21], 0);
    EXPECT_EQ(plain[0x22], 0);
    EXPECT_EQ(plain[0x49], 2);
    EXPECT_EQ(plain[0x60], 0);
    for (uint32_t id : {0x0404u, 0x0407u, 0x0409u, 0x040Au, 0x040Cu, 0x0410u}) {
        info.LanguageId = id;
        plain = BuildRisHeader(info, 0, 0);
        ScrambleHeader(plain.data());
        EXPECT_NE(plain[0x21], 0) << std::hex << id;
    }
}

}  // namespace
}  // namespace nuva
