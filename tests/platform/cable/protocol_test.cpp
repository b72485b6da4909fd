#include "platform/cable/protocol.h"

#include <gtest/gtest.h>

#include "formats/le.h"

namespace nuva::cable {
namespace {

// Encodes into `wire`, checks that every strict prefix and one extra byte are
// refused, and returns the decoded message (whose data block, if any, lies in
// `wire`).
template <class M>
M RoundTrip(const M& message, std::vector<uint8_t>& wire) {
    wire = Encode(message).Bytes();
    M decoded{};
    EXPECT_TRUE(Decode(wire, decoded));
    for (size_t cut = 0; cut < wire.size(); ++cut) {
        M partial{};
        EXPECT_FALSE(Decode(std::span<const uint8_t>(wire.data(), cut), partial)) << "prefix of " << cut;
    }
    std::vector<uint8_t> longer = wire;
    longer.push_back(0);
    M extra{};
    EXPECT_FALSE(Decode(longer, extra)) << "a trailing byte must not be ignored";
    return decoded;
}

// For messages without a data block.
template <class M>
M RoundTrip(const M& message) {
    std::vector<uint8_t> wire;
    return RoundTrip(message, wire);
}

std::vector<uint8_t> Copy(std::span<const uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(CableProtocol, EveryMessageSurvivesTheWireAndNoTruncationDecodes) {
    std::vector<uint8_t> wire;
    const std::vector<uint8_t> input = {1, 2, 3, 0xFF, 0};
    InvokeRequest invoke{u"NUVA7INVOKE", u"FnNUVAReadFlash", input};
    InvokeRequest invokeBack = RoundTrip(invoke, wire);
    EXPECT_EQ(invokeBack.dll, invoke.dll);
    EXPECT_EQ(invokeBack.function, invoke.function);
    EXPECT_EQ(Copy(invokeBack.input), input);

    const std::vector<uint8_t> block = {9, 8, 7};
    InvokeAnswer output{0x80004005u, 87, true, block};
    InvokeAnswer outputBack = RoundTrip(output, wire);
    EXPECT_EQ(outputBack.result, 0x80004005u);
    EXPECT_EQ(outputBack.lastError, 87u);
    EXPECT_TRUE(outputBack.hasOutput);
    EXPECT_EQ(Copy(outputBack.output), block);
    InvokeAnswer none{0, 0, false, {}};
    EXPECT_FALSE(RoundTrip(none).hasOutput);
    InvokeAnswer emptyBlock{0, 0, true, {}};
    EXPECT_TRUE(RoundTrip(emptyBlock).hasOutput);

    CreateFileRequest create{u"\\TEMP\\0", 0xC0000000u, 0, 2, 0x80};
    CreateFileRequest createBack = RoundTrip(create);
    EXPECT_EQ(createBack.name, create.name);
    EXPECT_EQ(createBack.access, 0xC0000000u);
    EXPECT_EQ(createBack.disposition, 2u);
    EXPECT_EQ(createBack.flags, 0x80u);
    EXPECT_EQ(RoundTrip(CreateFileAnswer{7, 183}).result, 7u);

    EXPECT_EQ(RoundTrip(ReadFileRequest{5, 16384}).count, 16384u);
    const std::vector<uint8_t> readData = {0x10, 0x20};
    EXPECT_EQ(Copy(RoundTrip(ReadFileAnswer{1, 0, readData}, wire).data), readData);
    const std::vector<uint8_t> writeData(300, 0xA5);
    EXPECT_EQ(Copy(RoundTrip(WriteFileRequest{5, writeData}, wire).data), writeData);
    EXPECT_EQ(RoundTrip(WriteFileAnswer{1, 0, 300}).written, 300u);

    SetFilePointerRequest seek{5, -20, true, -1, 2};
    SetFilePointerRequest seekBack = RoundTrip(seek);
    EXPECT_EQ(seekBack.distance, -20);
    EXPECT_TRUE(seekBack.hasHigh);
    EXPECT_EQ(seekBack.high, -1);
    EXPECT_EQ(seekBack.method, 2u);
    EXPECT_EQ(RoundTrip(SetFilePointerAnswer{0xFFFFFFFFu, 131, 0}).lastError, 131u);

    EXPECT_EQ(RoundTrip(HandleRequest{42}).handle, 42u);
    EXPECT_EQ(RoundTrip(BoolAnswer{1, 0}).result, 1u);
    EXPECT_EQ(RoundTrip(DeleteFileRequest{u"\\Windows\\NUVA7INVOKE.DLL"}).name,
              u"\\Windows\\NUVA7INVOKE.DLL");
    EXPECT_EQ(RoundTrip(GetFileSizeAnswer{123, 0, 1}).high, 1u);

    GetVersionAnswer version{1, 0, 4, 20, 14053, 3, u"Pocket PC 2003"};
    GetVersionAnswer versionBack = RoundTrip(version);
    EXPECT_EQ(versionBack.major, 4u);
    EXPECT_EQ(versionBack.build, 14053u);
    EXPECT_EQ(versionBack.csd, u"Pocket PC 2003");

    EXPECT_EQ(RoundTrip(SpecialFolderRequest{7}).folder, 7);
    EXPECT_EQ(RoundTrip(SpecialFolderAnswer{16, 0, u"\\Windows\\StartUp"}).path, u"\\Windows\\StartUp");
    EXPECT_EQ(RoundTrip(InitAnswer{0, 0}).result, 0u);

    InitRequest init;
    EXPECT_TRUE(Decode(Encode(init).Bytes(), init));
    EXPECT_FALSE(Decode(std::vector<uint8_t>{0}, init));
    GetVersionRequest ask;
    EXPECT_FALSE(Decode(std::vector<uint8_t>{0, 0, 0, 0}, ask));
}

TEST(CableProtocol, DataBlocksAreNeitherCopiedOnTheWayOutNorOnTheWayIn) {
    // Encoding refers to the caller's bytes: they leave from where they lie.
    const std::vector<uint8_t> chunk(16384, 0x5A);
    const Encoded request = Encode(WriteFileRequest{7, chunk});
    EXPECT_EQ(request.Data().data(), chunk.data());
    EXPECT_EQ(request.Data().size(), chunk.size());
    ASSERT_EQ(request.Fields().size(), 8u);
    EXPECT_EQ(LoadLe32(request.Fields().data()), 7u);
    EXPECT_EQ(LoadLe32(request.Fields().data() + 4), 16384u);
    EXPECT_EQ(request.Size(), 8u + chunk.size());

    // A copy carries the fields it was given and still refers to the data.
    Encoded copy = Encode(InitAnswer{});
    copy = request;
    EXPECT_EQ(Copy(copy.Fields()), Copy(request.Fields()));
    EXPECT_EQ(copy.Data().data(), chunk.data());

    // Decoding points into the payload.
    const std::vector<uint8_t> payload = request.Bytes();
    WriteFileRequest decoded;
    ASSERT_TRUE(Decode(payload, decoded));
    EXPECT_EQ(decoded.data.data(), payload.data() + 8);
    EXPECT_EQ(Copy(decoded.data), chunk);
}

TEST(CableProtocol, FieldsAreLittleEndianInTheirDocumentedPlaces) {
    std::vector<uint8_t> bytes = Encode(CreateFileRequest{u"\\a", 0x80000000u, 1, 3, 0x80}).Bytes();
    ASSERT_EQ(bytes.size(), 16u + 2 + 4);
    EXPECT_EQ(LoadLe32(bytes.data()), 0x80000000u);
    EXPECT_EQ(LoadLe32(bytes.data() + 4), 1u);
    EXPECT_EQ(LoadLe32(bytes.data() + 8), 3u);
    EXPECT_EQ(LoadLe32(bytes.data() + 12), 0x80u);
    EXPECT_EQ(LoadLe16(bytes.data() + 16), 2u);
    EXPECT_EQ(LoadLe16(bytes.data() + 18), u'\\');
    EXPECT_EQ(LoadLe16(bytes.data() + 20), u'a');

    uint8_t header[kHeaderBytes];
    EncodeHeader(FrameHeader{AnswerCode(MessageType::kReadFile), 0x01020304, 77}, header);
    EXPECT_EQ(std::vector<uint8_t>(header, header + 8),
              (std::vector<uint8_t>{'N', 'V', 'C', 'L', 1, 0, 4, 0x80}));
    EXPECT_EQ(LoadLe32(header + 8), 0x01020304u);
    EXPECT_EQ(LoadLe32(header + 12), 77u);
}

TEST(CableProtocol, UntrustworthyHeadersAreRefused) {
    uint8_t header[kHeaderBytes];
    FrameHeader decoded;

    EncodeHeader(FrameHeader{RequestCode(MessageType::kWriteFile), 9, kMaxPayload}, header);
    ASSERT_EQ(DecodeHeader(header, decoded), FrameError::kNone);
    EXPECT_EQ(decoded.type, RequestCode(MessageType::kWriteFile));
    EXPECT_EQ(decoded.sequence, 9u);
    EXPECT_EQ(decoded.length, kMaxPayload);

    EncodeHeader(FrameHeader{RequestCode(MessageType::kWriteFile), 9, kMaxPayload + 1}, header);
    EXPECT_EQ(DecodeHeader(header, decoded), FrameError::kOversized);
    EncodeHeader(FrameHeader{RequestCode(MessageType::kWriteFile), 9, 0xFFFFFFFFu}, header);
    EXPECT_EQ(DecodeHeader(header, decoded), FrameError::kOversized);

    for (uint16_t type : {uint16_t{0}, uint16_t{13}, uint16_t{0x8000}, uint16_t{0x800D}, uint16_t{0x4001},
                          uint16_t{0xFFFF}}) {
        EncodeHeader(FrameHeader{type, 1, 0}, header);
        EXPECT_EQ(DecodeHeader(header, decoded), FrameError::kUnknownType) << type;
    }
    for (uint16_t code = 1; code <= kLastRequestType; ++code) {
        EXPECT_TRUE(IsRequestCode(code));
        EXPECT_FALSE(IsAnswerCode(code));
        EXPECT_TRUE(IsAnswerCode(static_cast<uint16_t>(code | kAnswerBit)));
    }

    EncodeHeader(FrameHeader{1, 1, 0}, header);
    header[0] ^= 1;
    EXPECT_EQ(DecodeHeader(header, decoded), FrameError::kBadMagic);
    header[0] ^= 1;
    header[4] = 2;
    EXPECT_EQ(DecodeHeader(header, decoded), FrameError::kBadVersion);
    EXPECT_EQ(DescribeType(AnswerCode(MessageType::kCloseHandle)), "CloseHandle answer");
    EXPECT_EQ(DescribeType(0x0042), "unknown type 0x0042");
}

TEST(CableProtocol, LengthsAndTextsFromThePeerAreChecked) {
    // A text that claims more units than the payload holds.
    std::vector<uint8_t> bytes = Encode(DeleteFileRequest{u"\\abc"}).Bytes();
    StoreLe16(bytes.data(), 5);
    DeleteFileRequest del;
    EXPECT_FALSE(Decode(bytes, del));

    // A NUL inside a text would cut the name short on the other side.
    EXPECT_FALSE(Decode(Encode(DeleteFileRequest{std::u16string(u"\\a\0b", 4)}).Bytes(), del));

    // Texts longer than the cable carries (such a text is not encoded here:
    // the peer's bytes are made by hand).
    bytes = Encode(DeleteFileRequest{std::u16string(kMaxTextUnits, u'x')}).Bytes();
    EXPECT_TRUE(Decode(bytes, del));
    StoreLe16(bytes.data(), kMaxTextUnits + 1);
    bytes.push_back('x');
    bytes.push_back(0);
    EXPECT_FALSE(Decode(bytes, del));
    GetVersionAnswer version;
    EXPECT_FALSE(
        Decode(Encode(GetVersionAnswer{1, 0, 4, 0, 0, 0, std::u16string(128, u'x')}).Bytes(), version));

    // A block length past the end, and one above the data cap.
    const std::vector<uint8_t> three = {1, 2, 3};
    bytes = Encode(WriteFileRequest{1, three}).Bytes();
    StoreLe32(bytes.data() + 4, 4);
    WriteFileRequest write;
    EXPECT_FALSE(Decode(bytes, write));
    StoreLe32(bytes.data() + 4, 0xFFFFFFFFu);
    EXPECT_FALSE(Decode(bytes, write));
    ReadFileRequest read;
    EXPECT_FALSE(Decode(Encode(ReadFileRequest{1, kMaxDataBytes + 1}).Bytes(), read));

    // Flags are 0 or 1, and "no output" carries no bytes.
    bytes = Encode(InvokeAnswer{0, 0, true, {}}).Bytes();
    StoreLe32(bytes.data() + 8, 2);
    InvokeAnswer invoke;
    EXPECT_FALSE(Decode(bytes, invoke));
    const std::vector<uint8_t> one = {1};
    bytes = Encode(InvokeAnswer{0, 0, true, one}).Bytes();
    StoreLe32(bytes.data() + 8, 0);
    EXPECT_FALSE(Decode(bytes, invoke));
    bytes = Encode(SetFilePointerRequest{1, 0, false, 0, 0}).Bytes();
    StoreLe32(bytes.data() + 8, 7);
    SetFilePointerRequest seek;
    EXPECT_FALSE(Decode(bytes, seek));
}

}  // namespace
}  // namespace nuva::cable
