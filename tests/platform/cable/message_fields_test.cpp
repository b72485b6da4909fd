// Every cable message, each the same way: its bytes on the wire are the ones
// peers already exchange, it comes back as it went, and every damaged form of
// it (cut short anywhere, a byte too many, a count above its cap or past the
// end, a flag that is neither 0 nor 1) is refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "formats/le.h"
#include "platform/cable/protocol.h"

namespace nuva::cable {
namespace {

const std::vector<uint8_t> kBlock = {0xA5, 0x00, 0x5A};

// One of each, with every field away from its default.
auto Samples() {
    return std::make_tuple(
        InitRequest{}, InitAnswer{0x11223344u, 5}, InvokeRequest{u"AB", u"Fn", kBlock},
        InvokeAnswer{0x80004005u, 87, true, kBlock}, CreateFileRequest{u"\\T", 0xC0000000u, 1, 2, 0x80},
        CreateFileAnswer{7, 183}, ReadFileRequest{5, 16384}, ReadFileAnswer{1, 6, kBlock},
        WriteFileRequest{5, kBlock}, WriteFileAnswer{1, 0, 3}, SetFilePointerRequest{5, -20, true, -1, 2},
        SetFilePointerAnswer{0xFFFFFFFFu, 131, -2}, HandleRequest{42}, BoolAnswer{1, 9},
        DeleteFileRequest{u"\\X"}, GetFileSizeAnswer{123, 4, 1}, GetVersionRequest{},
        GetVersionAnswer{1, 2, 4, 20, 14053, 3, u"PPC"}, SpecialFolderRequest{-7},
        SpecialFolderAnswer{3, 8, u"\\W\\"});
}

std::string Hex(std::span<const uint8_t> bytes) {
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        text += two;
    }
    return text;
}

// The wire bytes of each sample, in the order of Samples(): what the desktop
// and the handheld have always exchanged.
const char* const kWire[] = {
    "",
    "4433221105000000",
    "020041004200020046006e0003000000a5005a",
    "05400080570000000100000003000000a5005a",
    "000000c001000000020000008000000002005c005400",
    "07000000b7000000",
    "0500000000400000",
    "010000000600000003000000a5005a",
    "0500000003000000a5005a",
    "010000000000000003000000",
    "05000000ecffffff01000000ffffffff02000000",
    "ffffffff83000000feffffff",
    "2a000000",
    "0100000009000000",
    "02005c005800",
    "7b0000000400000001000000",
    "",
    "01000000020000000400000014000000e5360000030000000300500050004300",
    "f9ffffff",
    "030000000800000003005c0057005c00",
};

template <class M>
void CheckMessage(const M& sample, const char* expectedHex) {
    SCOPED_TRACE(typeid(M).name());
    const Encoded encoded = Encode(sample);
    const std::vector<uint8_t> wire = encoded.Bytes();
    EXPECT_EQ(Hex(wire), expectedHex) << "the wire form changed";

    M decoded{};
    ASSERT_TRUE(Decode(wire, decoded));
    EXPECT_EQ(Hex(Encode(decoded).Bytes()), Hex(wire)) << "the message did not come back as it went";

    for (size_t cut = 0; cut < wire.size(); ++cut) {
        M partial{};
        EXPECT_FALSE(Decode(std::span<const uint8_t>(wire.data(), cut), partial)) << "cut at " << cut;
    }
    for (int extra : {0x00, 0xFF}) {
        std::vector<uint8_t> longer = wire;
        longer.push_back(static_cast<uint8_t>(extra));
        M trailing{};
        EXPECT_FALSE(Decode(longer, trailing)) << "a trailing byte was ignored";
    }
}

// Damages one field at `offset` of a copy of `wire` and expects a refusal.
template <class M>
void ExpectRefused(const std::vector<uint8_t>& wire, size_t offset, uint32_t value, int width,
                   const char* what) {
    std::vector<uint8_t> bad = wire;
    if (width == 2) {
        StoreLe16(bad.data() + offset, static_cast<uint16_t>(value));
    } else {
        StoreLe32(bad.data() + offset, value);
    }
    M decoded{};
    EXPECT_FALSE(Decode(bad, decoded)) << typeid(M).name() << ": " << what << " at " << offset;
}

TEST(CableMessages, EveryMessageKeepsItsWireFormRoundTripsAndRefusesEveryTruncationAndTrailingByte) {
    auto samples = Samples();
    static_assert(std::tuple_size_v<decltype(samples)> == std::size(kWire));
    size_t index = 0;
    std::apply([&](const auto&... m) { (CheckMessage(m, kWire[index++]), ...); }, samples);
}

TEST(CableMessages, CountsAboveTheirCapsOrPastTheEndAndFlagsOtherThanZeroOrOneAreRefused) {
    // Texts: the invoke request's two texts, the path of a create request,
    // the CSD version (127 units at most) and a folder path.
    const std::vector<uint8_t> invoke = Encode(InvokeRequest{u"AB", u"Fn", kBlock}).Bytes();
    ExpectRefused<InvokeRequest>(invoke, 0, 3, 2, "a library name running into the export name's count");
    ExpectRefused<InvokeRequest>(invoke, 0, 0xFFFF, 2, "a text count past the end");
    ExpectRefused<InvokeRequest>(invoke, 6, 0xFFFF, 2, "an export name past the end");
    ExpectRefused<InvokeRequest>(invoke, 12, static_cast<uint32_t>(kBlock.size() + 1), 4,
                                 "a block past the end");
    ExpectRefused<InvokeRequest>(invoke, 12, 0xFFFFFFFFu, 4, "a block count above the cap");

    // A text of kMaxTextUnits + 1 units is refused even when every unit is there.
    std::vector<uint8_t> longName(2 + 2 * (kMaxTextUnits + 1), 0x41);
    StoreLe16(longName.data(), kMaxTextUnits + 1);
    DeleteFileRequest del;
    EXPECT_FALSE(Decode(longName, del));
    StoreLe16(longName.data(), kMaxTextUnits);
    longName.resize(longName.size() - 2);
    EXPECT_TRUE(Decode(longName, del));
    EXPECT_EQ(del.name.size(), kMaxTextUnits);

    std::vector<uint8_t> csd = Encode(GetVersionAnswer{1, 0, 4, 20, 1, 3, std::u16string(127, u'v')}).Bytes();
    GetVersionAnswer version;
    EXPECT_TRUE(Decode(csd, version));
    csd.insert(csd.end(), {0x76, 0x00});
    StoreLe16(csd.data() + 24, 128);
    EXPECT_FALSE(Decode(csd, version)) << "a CSD version above 127 units";

    // A NUL inside a text.
    std::vector<uint8_t> nul = Encode(SpecialFolderAnswer{3, 0, u"\\W\\"}).Bytes();
    StoreLe16(nul.data() + 12, 0);
    SpecialFolderAnswer folder;
    EXPECT_FALSE(Decode(nul, folder));

    // Blocks of data: past the end and above the cap.
    for (uint32_t count : {static_cast<uint32_t>(kBlock.size() + 1), kMaxDataBytes + 1, 0xFFFFFFFFu}) {
        ExpectRefused<ReadFileAnswer>(Encode(ReadFileAnswer{1, 0, kBlock}).Bytes(), 8, count, 4, "read data");
        ExpectRefused<WriteFileRequest>(Encode(WriteFileRequest{5, kBlock}).Bytes(), 4, count, 4,
                                        "written data");
        ExpectRefused<InvokeAnswer>(Encode(InvokeAnswer{0, 0, true, kBlock}).Bytes(), 12, count, 4, "output");
    }
    // A read may not ask for more than one block carries.
    ExpectRefused<ReadFileRequest>(Encode(ReadFileRequest{5, 1}).Bytes(), 4, kMaxDataBytes + 1, 4,
                                   "read count");
    ReadFileRequest read;
    EXPECT_TRUE(Decode(Encode(ReadFileRequest{5, kMaxDataBytes}).Bytes(), read));

    // Flags are 0 or 1; "no output" carries no bytes.
    ExpectRefused<InvokeAnswer>(Encode(InvokeAnswer{0, 0, true, kBlock}).Bytes(), 8, 2, 4, "hasOutput 2");
    ExpectRefused<InvokeAnswer>(Encode(InvokeAnswer{0, 0, true, kBlock}).Bytes(), 8, 0, 4,
                                "bytes without output");
    ExpectRefused<SetFilePointerRequest>(Encode(SetFilePointerRequest{5, 1, false, 0, 0}).Bytes(), 8, 0x100,
                                         4, "hasHigh 256");
}

}  // namespace
}  // namespace nuva::cable
