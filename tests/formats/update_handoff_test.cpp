#include "formats/update_handoff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/le.h"

namespace nuva {
namespace {

// A record of `items` parts named and slotted as the desktop does it.
UpdateHandoff Record(uint32_t items) {
    UpdateHandoff r;
    r.UI = kFrameBufferAddress;
    r.absoluate = 0xA7FCE000;
    r.FRsvd = 0x87FEC004;
    r.PSMStart = kPsmStart;
    r.PSMLength = 0x1600000;
    r.Status = {1, 1};
    r.Items = items;
    std::string name = "2003(A03)";
    std::copy(name.begin(), name.end(), r.ROMNAME.begin());
    for (uint32_t i = 0; i < items; ++i) {
        ImagePart& p = r.parts[i];
        SetPartName(p.PartName, i);
        p.ImageOffset = i == 0 ? 0 : kFirstPartBytes + (i - 1) * kPartBytes;
        p.FlashAddress = kImageFlashAddress + p.ImageOffset;
        p.PartLength = i == 0 ? kFirstPartBytes : kPartBytes;
        p.FirstFlag = i == 0;
        p.LateFlag = i > 3;
        p.Slot = items - 1 - i;
        p.PartSum = 0x1000 + i;
    }
    return r;
}

std::u16string Name(const ImagePart& p) {
    std::u16string s;
    for (char16_t c : p.PartName) {
        if (c == 0)
            break;
        s.push_back(c);
    }
    return s;
}

TEST(UpdateHandoff, WriterPutsFixedFieldsAndPartsInReverseSlots) {
    UpdateHandoff r = Record(13);
    auto file = WriteHandoffFile(r);
    EXPECT_EQ(LoadLe32(file.data() + 0x00), 4480u);
    EXPECT_EQ(LoadLe32(file.data() + 0x04), 0xBE042000u);
    EXPECT_EQ(LoadLe32(file.data() + 0x08), 0xA7FCE000u);
    EXPECT_EQ(LoadLe32(file.data() + 0x0C), 0x87FEC004u);
    EXPECT_EQ(LoadLe32(file.data() + 0x10), 0xA1A00000u);
    EXPECT_EQ(LoadLe32(file.data() + 0x14), 0x1600000u);
    EXPECT_EQ(LoadLe16(file.data() + 0x18), 1u);
    EXPECT_EQ(LoadLe16(file.data() + 0x1A), 1u);
    EXPECT_EQ(LoadLe32(file.data() + 0x1C), 13u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data() + 0x20)), "2003(A03)");
    // Slot 0 holds the last part, slot 12 part 0.
    const uint8_t* slot0 = file.data() + 0x40;
    EXPECT_EQ(LoadLe16(slot0 + 0), '\\');
    EXPECT_EQ(LoadLe16(slot0 + 12), '1');
    EXPECT_EQ(LoadLe16(slot0 + 14), '2');
    EXPECT_EQ(LoadLe16(slot0 + 16), 0u);
    EXPECT_EQ(LoadLe32(slot0 + 84), 0u);
    EXPECT_EQ(LoadLe32(slot0 + 88), 0x1000u + 12);
    const uint8_t* slot12 = file.data() + 0x40 + 92 * 12;
    EXPECT_EQ(LoadLe16(slot12 + 12), '0');
    EXPECT_EQ(LoadLe32(slot12 + 64), 0xA0040000u);
    EXPECT_EQ(LoadLe32(slot12 + 68), 0x300000u);
    EXPECT_EQ(LoadLe32(slot12 + 76), 1u);
    EXPECT_EQ(LoadLe32(slot12 + 84), 12u);
    // Slots past the parts stay zero.
    for (size_t i = 0x40 + 92 * 13; i < file.size(); ++i) {
        ASSERT_EQ(file[i], 0) << "byte " << i;
    }

    HandoffFile parsed;
    ASSERT_EQ(ParseHandoffFile(file.data(), file.size(), parsed), HandoffError::kNone);
    EXPECT_EQ(parsed.Items, 13u);
    EXPECT_EQ(parsed.RestoreFlag, 1);
    EXPECT_EQ(parsed.SpareBufferFlag, 1);
    EXPECT_EQ(parsed.PSMLength, 0x1600000u);
    EXPECT_EQ(std::string(parsed.ROMNAME.data()), "2003(A03)");
    // File order is programming order: the last part first, part 0 last.
    for (uint32_t s = 0; s < 13; ++s) {
        EXPECT_EQ(parsed.records[s], r.parts[12 - s]) << "slot " << s;
    }
    EXPECT_EQ(Name(parsed.records[12]), u"\\TEMP\\0");
}

TEST(UpdateHandoff, ReaderRefusesMalformedFiles) {
    auto good = WriteHandoffFile(Record(13));
    HandoffFile out;
    size_t bad = 999;

    EXPECT_EQ(ParseHandoffFile(good.data(), good.size() - 1, out), HandoffError::kWrongLength);
    std::vector<uint8_t> longer(good.begin(), good.end());
    longer.push_back(0);
    EXPECT_EQ(ParseHandoffFile(longer.data(), longer.size(), out), HandoffError::kWrongLength);
    EXPECT_EQ(ParseHandoffFile(nullptr, 4480, out), HandoffError::kWrongLength);

    auto f = good;
    StoreLe32(f.data(), 4488);
    EXPECT_EQ(ParseHandoffFile(f.data(), f.size(), out), HandoffError::kWrongLengthField);

    f = good;
    StoreLe32(f.data() + 0x1C, 49);
    EXPECT_EQ(ParseHandoffFile(f.data(), f.size(), out), HandoffError::kTooManyItems);
    StoreLe32(f.data() + 0x1C, 0xFFFFFFFF);
    EXPECT_EQ(ParseHandoffFile(f.data(), f.size(), out), HandoffError::kTooManyItems);

    // A name that fills all 32 units of record 3.
    f = good;
    for (size_t i = 0; i < 32; ++i) {
        StoreLe16(f.data() + 0x40 + 92 * 3 + 2 * i, 'a');
    }
    EXPECT_EQ(ParseHandoffFile(f.data(), f.size(), out, &bad), HandoffError::kNameUnterminated);
    EXPECT_EQ(bad, 3u);

    // A name outside \TEMP\ in record 5, and one with a deeper folder in record 7.
    f = good;
    const char16_t* outside = u"\\Windows\\x";
    for (size_t i = 0; outside[i] != 0; ++i) {
        StoreLe16(f.data() + 0x40 + 92 * 5 + 2 * i, outside[i]);
    }
    EXPECT_EQ(ParseHandoffFile(f.data(), f.size(), out, &bad), HandoffError::kNameNotInTemp);
    EXPECT_EQ(bad, 5u);
    f = good;
    const char16_t* deeper = u"\\TEMP\\a\\b";
    for (size_t i = 0; deeper[i] != 0; ++i) {
        StoreLe16(f.data() + 0x40 + 92 * 7 + 2 * i, deeper[i]);
    }
    EXPECT_EQ(ParseHandoffFile(f.data(), f.size(), out, &bad), HandoffError::kNameNotInTemp);
    EXPECT_EQ(bad, 7u);
    // "\TEMP\" alone names the folder, not a file.
    f = good;
    StoreLe16(f.data() + 0x40 + 12, 0);
    EXPECT_EQ(ParseHandoffFile(f.data(), f.size(), out, &bad), HandoffError::kNameNotInTemp);
    EXPECT_EQ(bad, 0u);

    // The folder matches without regard to case; records past Items are not looked at.
    f = good;
    const char16_t* lower = u"\\temp\\12";
    for (size_t i = 0; lower[i] != 0; ++i) {
        StoreLe16(f.data() + 0x40 + 2 * i, lower[i]);
    }
    for (size_t i = 0; i < 32; ++i) {
        StoreLe16(f.data() + 0x40 + 92 * 20 + 2 * i, 'z');
    }
    EXPECT_EQ(ParseHandoffFile(f.data(), f.size(), out), HandoffError::kNone);
    EXPECT_EQ(out.records[20], ImagePart{});

    // An unterminated ROMNAME comes out terminated.
    f = good;
    for (size_t i = 0; i < 32; ++i) {
        f[0x20 + i] = 'R';
    }
    ASSERT_EQ(ParseHandoffFile(f.data(), f.size(), out), HandoffError::kNone);
    EXPECT_EQ(std::string(out.ROMNAME.data()).size(), 31u);

    for (auto e : {HandoffError::kWrongLength, HandoffError::kWrongLengthField, HandoffError::kTooManyItems,
                   HandoffError::kNameUnterminated, HandoffError::kNameNotInTemp}) {
        EXPECT_FALSE(DescribeHandoffError(e).empty());
    }
}

TEST(UpdateHandoff, PartNamesAreDecimalUnderTemp) {
    std::array<char16_t, kPartNameUnits> name{};
    name.fill(u'q');
    SetPartName(name, 47);
    ImagePart p;
    p.PartName = name;
    EXPECT_EQ(Name(p), u"\\TEMP\\47");
    for (size_t i = 8; i < name.size(); ++i) {
        EXPECT_EQ(name[i], 0) << i;
    }
}

TEST(UpdateHandoff, WriterSkipsPartsWithoutAValidSlot) {
    UpdateHandoff r = Record(2);
    r.parts[1].Slot = 48;  // a caller bug: must not write past the file
    auto file = WriteHandoffFile(r);
    EXPECT_EQ(LoadLe32(file.data() + 0x40 + 84), 0u);        // slot 0 empty
    EXPECT_EQ(LoadLe16(file.data() + 0x40 + 92 + 12), '0');  // part 0 in slot 1
}

}  // namespace
}  // namespace nuva
