// FnNUVAReadFlash and IsCheckSumOk on the emulated handheld.
#include <gtest/gtest.h>

#include <numeric>

#include "formats/byte_sum.h"
#include "formats/image_header.h"
#include "formats/le.h"
#include "tests/agent/agent_harness.h"
#include "tests/agent/core_call_log.h"

namespace nuva::test {
namespace {

constexpr uint32_t kContentFlashOffset = 0x40000;  // where an image's contents lie in flash
constexpr uint32_t kMB = 1u << 20;

// The data part of a flash answer, after checking its shape and sum.
std::vector<uint8_t> FlashData(const AgentCall& call, uint32_t length) {
    EXPECT_EQ(call.result, S_OK) << call.detail;
    EXPECT_EQ(call.output.size(), length + 4u);
    if (call.output.size() != length + 4u) {
        return {};
    }
    EXPECT_EQ(LoadLe32(call.output.data() + length), ByteSum(call.output.data(), length));
    return {call.output.begin(), call.output.begin() + length};
}

TEST(AgentReadFlashTest, ReadsTheImageBytesThroughBothWindows) {
    AgentHandheld handheld;
    const std::vector<uint8_t>& image = handheld.Image();
    // Contents start behind the 512-byte header; flash holds them from 0x40000.
    const auto contents = [&](uint32_t offset, uint32_t length) {
        return std::vector<uint8_t>(image.begin() + kImageHeaderSize + offset,
                                    image.begin() + kImageHeaderSize + offset + length);
    };
    EXPECT_EQ(
        FlashData(handheld.Call(u"FnNUVAReadFlash", FlashRequest(0xA0000000 + kContentFlashOffset, 16384)),
                  16384),
        contents(0, 16384));
    // An odd address and length, in the cached window.
    EXPECT_EQ(FlashData(handheld.Call(u"FnNUVAReadFlash",
                                      FlashRequest(0x80000000 + kContentFlashOffset + 0x123457, 999)),
                        999),
              contents(0x123457, 999));
    // The largest read, and the same bytes as the handheld's own flash dump.
    EXPECT_EQ(FlashData(handheld.Call(u"FnNUVAReadFlash", FlashRequest(0xA0000000 + 5 * kMB, kMB)), kMB),
              handheld.Device().DumpFlash(5 * kMB, kMB));
    // The last bytes of the 48 MB flash.
    EXPECT_EQ(FlashData(handheld.Call(u"FnNUVAReadFlash", FlashRequest(0xA0000000 + 48 * kMB - 64, 64)), 64),
              handheld.Device().DumpFlash(48 * kMB - 64, 64));
}

TEST(AgentReadFlashTest, LengthZeroAnswersFourZeroBytes) {
    AgentHandheld handheld;
    for (const uint32_t address : {0xA0000000u, 0x00000000u, 0xFFFFFFFFu}) {
        const AgentCall call = handheld.Call(u"FnNUVAReadFlash", FlashRequest(address, 0));
        EXPECT_EQ(call.result, S_OK) << call.detail;
        EXPECT_EQ(call.output, std::vector<uint8_t>(4, 0)) << std::hex << address;
    }
}

TEST(AgentReadFlashTest, RefusesReadsOutsideTheFlashOrOverOneMegabyte) {
    AgentHandheld handheld;
    const std::vector<std::pair<uint32_t, uint32_t>> refused = {
        {0xA0000000, kMB + 1},             // too long
        {0xA0000000 + 48 * kMB - 64, 65},  // runs past the end of the flash
        {0xA0000000 + 48 * kMB, 4},        // just past the flash
        {0xA4000000, 16},                  // RAM
        {0xBE042000, 16},                  // the screen
        {0xA9000000, 4},                   // platform registers
        {0x12345678, 4},                   // nothing there
        {0xFFFFFFF0, 0x20},                // wraps around
        {0x9FFFFFFC, 8},                   // starts below the window
    };
    for (const auto& [address, length] : refused) {
        const AgentCall call = handheld.Call(u"FnNUVAReadFlash", FlashRequest(address, length));
        EXPECT_EQ(call.result, E_FAIL) << std::hex << address << " " << length;
        EXPECT_TRUE(call.output.empty());
    }
    // A short request is refused; the handheld survived every refusal.
    EXPECT_EQ(handheld.Call(u"FnNUVAReadFlash", std::vector<uint8_t>(7, 0)).result, E_FAIL);
    EXPECT_TRUE(handheld.Device().Status().crashedReason.empty()) << handheld.Device().Status().crashedReason;
    EXPECT_EQ(handheld.Call(u"FnNUVAReadFlash", FlashRequest(0xA0000000, 4)).result, S_OK);
}

TEST(AgentReadFlashTest, BasicHandheldHasThirtyTwoMegabytesOfFlash) {
    imagegen::ImageSpec spec;
    spec.modelClass = imagegen::ModelClass::kBasic;
    sim::FactorySettings settings = AgentHandheld::Supported();
    settings.advanced = false;
    AgentHandheld handheld(settings, spec);
    EXPECT_EQ(FlashData(handheld.Call(u"FnNUVAReadFlash", FlashRequest(0xA0000000 + 32 * kMB - 16, 16)), 16),
              handheld.Device().DumpFlash(32 * kMB - 16, 16));
    EXPECT_EQ(handheld.Call(u"FnNUVAReadFlash", FlashRequest(0xA0000000 + 32 * kMB, 16)).result, E_FAIL);
}

TEST(AgentReadFlashTest, UnknownMemoryConfigurationIsReportedAsZeroAndReadAsThirtyTwoMegabytes) {
    AgentHandheld handheld;  // an Advanced handheld whose platform does not say so
    CoreCallLog log({.memoryConfig = true});
    const DeviceInfo info = handheld.Info();
    EXPECT_EQ(info.Supported, 1u);
    EXPECT_EQ(info.MemoryConfig, 0u);
    EXPECT_EQ(info.RamSizeMB, 0u);
    EXPECT_EQ(info.FlashSizeMB, 0u);
    EXPECT_EQ(FlashData(handheld.Call(u"FnNUVAReadFlash", FlashRequest(0xA0000000 + 32 * kMB - 16, 16)), 16),
              handheld.Device().DumpFlash(32 * kMB - 16, 16));
    EXPECT_EQ(handheld.Call(u"FnNUVAReadFlash", FlashRequest(0xA0000000 + 32 * kMB, 16)).result, E_FAIL);
}

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) ^ 0xA5);
    }
    return bytes;
}

TEST(AgentCheckSumTest, SumsTheWholeFileInSixteenKilobytePieces) {
    AgentHandheld handheld;
    const std::vector<uint8_t> data = Pattern(40000);
    handheld.PutFile(u"\\TEMP\\1", data);

    CoreCallLog log;
    const AgentCall call = handheld.Call(u"IsCheckSumOk", WideBlock(u"\\TEMP\\1"));
    ASSERT_EQ(call.result, S_OK) << call.detail;
    ASSERT_EQ(call.output.size(), 4u);
    EXPECT_EQ(LoadLe32(call.output.data()), ByteSum(data.data(), data.size()));
    const CoreCalls calls = log.Take();
    ASSERT_EQ(calls.reads.size(), 3u);
    EXPECT_EQ(calls.reads[0].asked, 16384u);
    EXPECT_EQ(calls.reads[1].asked, 16384u);
    EXPECT_EQ(calls.reads[2].asked, 7232u);
    EXPECT_EQ(calls.reads[2].got, 7232u);
    // The input block is freed.
    ASSERT_EQ(calls.readabilityTests.size(), 1u);
    EXPECT_EQ(calls.freed.front(), calls.readabilityTests.front());

    // A one-byte file and a file of exactly one piece.
    handheld.PutFile(u"\\TEMP\\one", std::vector<uint8_t>{0xFE});
    const AgentCall one = handheld.Call(u"IsCheckSumOk", WideBlock(u"\\TEMP\\one"));
    ASSERT_EQ(one.output.size(), 4u);
    EXPECT_EQ(LoadLe32(one.output.data()), 0xFEu);
    const std::vector<uint8_t> piece = Pattern(16384);
    handheld.PutFile(u"\\TEMP\\piece", piece);
    const AgentCall whole = handheld.Call(u"IsCheckSumOk", WideBlock(u"\\TEMP\\piece"));
    ASSERT_EQ(whole.output.size(), 4u);
    EXPECT_EQ(LoadLe32(whole.output.data()), ByteSum(piece.data(), piece.size()));
}

TEST(AgentCheckSumTest, EmptyMissingAndUnnamedFilesFail) {
    AgentHandheld handheld;
    handheld.PutFile(u"\\TEMP\\empty", std::vector<uint8_t>{});
    const AgentCall empty = handheld.Call(u"IsCheckSumOk", WideBlock(u"\\TEMP\\empty"));
    EXPECT_EQ(empty.result, E_FAIL);
    EXPECT_TRUE(empty.output.empty());

    // A missing file fails and is not created by the question.
    const AgentCall missing = handheld.Call(u"IsCheckSumOk", WideBlock(u"\\TEMP\\missing"));
    EXPECT_EQ(missing.result, E_FAIL);
    EXPECT_FALSE(handheld.FileExists(u"\\TEMP\\missing"));
    EXPECT_EQ(handheld.Call(u"IsCheckSumOk", WideBlock(u"\\Windows\\planted.dll")).result, E_FAIL);
    EXPECT_FALSE(handheld.FileExists(u"\\Windows\\planted.dll"));

    // A folder that does not exist, and a path without its terminator.
    EXPECT_EQ(handheld.Call(u"IsCheckSumOk", WideBlock(u"\\NoSuchFolder\\x")).result, E_FAIL);
    handheld.PutFile(u"\\TEMP\\ab", std::vector<uint8_t>{1, 2, 3});
    std::vector<uint8_t> unterminated = WideBlock(u"\\TEMP\\ab");
    unterminated.resize(unterminated.size() - 2);
    CoreCallLog log;
    EXPECT_EQ(handheld.Call(u"IsCheckSumOk", unterminated).result, E_FAIL);
    EXPECT_TRUE(log.Take().reads.empty()) << "a path that does not end inside its block is not opened";
    EXPECT_EQ(log.Take().freed.size(), 1u);
    EXPECT_EQ(handheld.Call(u"IsCheckSumOk", {}).result, E_FAIL);
}

}  // namespace
}  // namespace nuva::test
