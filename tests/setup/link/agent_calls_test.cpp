// The agent's exports as the desktop calls them: the blocks sent, the checks
// on what comes back, and the ownership of every block.
#include "setup/link/agent_calls.h"

#include <gtest/gtest.h>

#include <cstring>

#include "formats/byte_sum.h"
#include "formats/le.h"
#include "formats/result_codes.h"
#include "platform/clock/clock.h"
#include "setup/resources/settings.h"
#include "tests/setup/link/fake_rapi.h"
#include "tests/setup/link/link_test_support.h"

namespace nuva {
namespace {

using fake_rapi::InvokeAnswer;
using fake_rapi::InvokeCall;
using link_test::Bytes;
using link_test::Pattern;

constexpr uint32_t kLinkDown = 0x8007006D;

Bytes Wide(std::u16string_view text, size_t bytes) {
    Bytes out(bytes);
    for (size_t i = 0; i < text.size(); ++i)
        StoreLe16(out.data() + 2 * i, static_cast<uint16_t>(text[i]));
    return out;
}

// Answers every call with a fixed answer and records nothing else.
void AnswerAlways(HRESULT result, std::optional<Bytes> output) {
    fake_rapi::SetInvokeHandler([=](const InvokeCall&) { return InvokeAnswer{result, output}; });
}

class AgentCallsTest : public testing::Test {
  protected:
    void SetUp() override {
        fake_rapi::Reset();
        SetTimeScale(0);
    }
    // Every input block was taken by RAPI and every output block released.
    void TearDown() override {
        EXPECT_EQ(fake_rapi::LiveBlocks(), 0u) << "a local-heap block was not released";
        EXPECT_EQ(fake_rapi::HeapErrors(), 0) << "a block was freed twice or overrun";
    }
    InvokeCall OnlyCall() {
        const auto calls = fake_rapi::Invokes();
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() ? InvokeCall{} : calls.back();
    }
};

TEST_F(AgentCallsTest, QueryDeviceInfo) {
    DeviceInfo sent;
    sent.Supported = 1;
    sent.AcOnline = 1;
    sent.BatteryPercent = 87;
    sent.LanguageId = 0x0409;
    sent.MemoryConfig = kMemoryConfigAdvanced;
    sent.PlatformInfo = 0x04100300;
    sent.OsMajorVersion = 4;
    SetFieldText(sent.RomVersion, u"A03");
    sent.DeviceUuid[15] = 0x15;
    Bytes record(kDeviceInfoSize);
    WriteDeviceInfo(sent, record.data());
    Bytes answer = record;
    answer.resize(128, 0xEE);  // a longer answer is fine; only 124 bytes are taken
    AnswerAlways(0, answer);

    DeviceInfo got;
    ASSERT_EQ(QueryDeviceInfo(&got), 0u);
    EXPECT_EQ(got, sent);
    const InvokeCall call = OnlyCall();
    EXPECT_EQ(call.library, u"NUVA7INVOKE");
    EXPECT_EQ(call.function, u"FnNUVAInfo");
    EXPECT_EQ(call.blockSize, 16u);
    EXPECT_EQ(call.passed, 8u);
    EXPECT_EQ(call.input, Wide(u"ALL", 8));

    // Without a record the call still goes out, as a liveness test.
    AnswerAlways(0, std::nullopt);
    EXPECT_EQ(QueryDeviceInfo(nullptr), 0u);
    EXPECT_EQ(fake_rapi::Invokes().size(), 2u);

    // An answer too short for a record is not read past its end.
    AnswerAlways(0, Bytes(100));
    got = DeviceInfo{};
    EXPECT_EQ(QueryDeviceInfo(&got), kResultFail);
    EXPECT_EQ(got, DeviceInfo{});
    AnswerAlways(0, std::nullopt);
    EXPECT_EQ(QueryDeviceInfo(&got), kResultFail);

    // A failed call is passed on unchanged and its answer left unread.
    AnswerAlways(static_cast<HRESULT>(kResultFail), record);
    EXPECT_EQ(QueryDeviceInfo(&got), kResultFail);
    EXPECT_EQ(got, DeviceInfo{});
    fake_rapi::SetPlugged(false);
    EXPECT_EQ(QueryDeviceInfo(&got), kLinkDown);
}

TEST_F(AgentCallsTest, ReadDeviceFlashChecksLengthAndSum) {
    const Bytes data = Pattern(16384);
    const uint32_t sum = ByteSum(data.data(), data.size(), 0);
    auto answerWith = [&](size_t extra, uint32_t trailer) {
        Bytes out = data;
        out.resize(data.size() + 4 + extra);
        StoreLe32(out.data() + data.size(), trailer);
        AnswerAlways(0, out);
    };
    Bytes buffer(16384);

    answerWith(0, sum);
    ASSERT_EQ(ReadDeviceFlash(0xA0040000, buffer.data(), 16384), 0u);
    EXPECT_EQ(buffer, data);
    const InvokeCall call = OnlyCall();
    EXPECT_EQ(call.function, u"FnNUVAReadFlash");
    EXPECT_EQ(call.blockSize, 8u);
    EXPECT_EQ(call.passed, 8u);
    EXPECT_EQ(LoadLe32(call.input.data()), 0xA0040000u);
    EXPECT_EQ(LoadLe32(call.input.data() + 4), 16384u);

    answerWith(0, sum + 1);
    EXPECT_EQ(ReadDeviceFlash(0xA0040000, buffer.data(), 16384), kResultFail);
    answerWith(4, sum);  // count + 8 bytes, right data and sum
    EXPECT_EQ(ReadDeviceFlash(0xA0040000, buffer.data(), 16384), kResultFail);
    AnswerAlways(0, Bytes(100));
    EXPECT_EQ(ReadDeviceFlash(0xA0040000, buffer.data(), 16384), kResultFail);
    AnswerAlways(0, std::nullopt);
    EXPECT_EQ(ReadDeviceFlash(0xA0040000, buffer.data(), 16384), kResultFail);

    // The agent's own answer for a read of nothing: four bytes holding 0.
    AnswerAlways(0, Bytes(4));
    EXPECT_EQ(ReadDeviceFlash(0xA0000000, nullptr, 0), 0u);
}

TEST_F(AgentCallsTest, VerifyDeviceFile) {
    fake_rapi::PutFile(u"\\TEMP\\12", Pattern(5000));
    const uint32_t sum = ByteSum(Pattern(5000).data(), 5000, 0);
    EXPECT_EQ(VerifyDeviceFile(u"\\TEMP\\12", sum), 0u);
    EXPECT_EQ(VerifyDeviceFile(u"\\TEMP\\12", sum ^ 1), kResultFail);
    EXPECT_EQ(VerifyDeviceFile(u"\\TEMP\\13", sum), kResultFail) << "no such file on the handheld";

    // The block: the path with its terminator, sized (((8 + 1) & ~3) + 8) * 2.
    const InvokeCall call = fake_rapi::Invokes().front();
    EXPECT_EQ(call.function, u"IsCheckSumOk");
    EXPECT_EQ(call.blockSize, 32u);
    EXPECT_EQ(call.passed, 32u);
    EXPECT_EQ(call.input, Wide(u"\\TEMP\\12", 32));

    // Four characters: ((5 & ~3) + 8) * 2 = 24 bytes.
    fake_rapi::PutFile(u"\\a\\b", Pattern(10));
    EXPECT_EQ(VerifyDeviceFile(u"\\a\\b", ByteSum(Pattern(10).data(), 10, 0)), 0u);
    EXPECT_EQ(fake_rapi::Invokes().back().blockSize, 24u);

    // A three-byte answer, even one that would match in its first bytes.
    Bytes three(3);
    StoreLe16(three.data(), static_cast<uint16_t>(sum));
    AnswerAlways(0, three);
    EXPECT_EQ(VerifyDeviceFile(u"\\TEMP\\12", sum & 0xFFFF), kResultFail);
}

TEST_F(AgentCallsTest, ShowDeviceTextBlockLayout) {
    ShowDeviceText("\n\n\n\n\n\n\n\n\n       Copying files ", 0xBE042000, 0);
    const InvokeCall call = OnlyCall();
    EXPECT_EQ(call.function, u"FnNUVAShowString");
    // 30 characters: ((30 + 8) & ~3) + 8 = 44 bytes, all passed.
    EXPECT_EQ(call.blockSize, 44u);
    EXPECT_EQ(call.passed, 44u);
    EXPECT_EQ(LoadLe32(call.input.data()), 0xBE042000u);
    EXPECT_EQ(LoadLe32(call.input.data() + 4), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(call.input.data() + 8)),
              "\n\n\n\n\n\n\n\n\n       Copying files ");
    for (size_t i = 38; i < 44; ++i)
        EXPECT_EQ(call.input[i], 0) << "byte " << i;

    // Lengths where the rounding leaves the least room for the terminator.
    for (const char* text : {"", "a", "abc", "abcd", "abcdefg"}) {
        ShowDeviceText(text, 1, 2);
        const InvokeCall c = fake_rapi::Invokes().back();
        const size_t length = std::strlen(text);
        EXPECT_EQ(c.passed, ((length + 8) & ~size_t{3}) + 8);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.input.data() + 8)), text);
    }
}

TEST_F(AgentCallsTest, ResetsSendWhatTheAgentExpects) {
    EXPECT_EQ(ColdResetDevice(), 0u);
    InvokeCall call = fake_rapi::Invokes().back();
    EXPECT_EQ(call.function, u"ColdReset");
    EXPECT_EQ(call.blockSize, 16u);
    EXPECT_EQ(call.passed, 8u);
    EXPECT_EQ(call.input, Wide(u"ALL", 8));

    EXPECT_EQ(WarmResetDevice(kWarmResetCleanup), 0u);
    call = fake_rapi::Invokes().back();
    EXPECT_EQ(call.function, u"WarmReset");
    EXPECT_EQ(call.passed, 4u);
    EXPECT_EQ(call.input, (Bytes{1, 0, 0, 0}));

    for (int selector : {0, 2}) {
        EXPECT_EQ(WarmResetDevice(selector), 0u);
        call = fake_rapi::Invokes().back();
        EXPECT_FALSE(call.hadBlock);
        EXPECT_EQ(call.passed, 0u);
    }

    // The handheld restarting under the call is the link's failure, unchanged.
    fake_rapi::SetPlugged(false);
    EXPECT_EQ(WarmResetDevice(kWarmResetCleanup), kLinkDown);
    EXPECT_EQ(ColdResetDevice(), kLinkDown);
}

TEST_F(AgentCallsTest, NoBlockNoCall) {
    fake_rapi::FailNextLocalAlloc();
    EXPECT_EQ(QueryDeviceInfo(nullptr), kResultFail);
    fake_rapi::FailNextLocalLock();
    EXPECT_EQ(VerifyDeviceFile(u"\\TEMP\\0", 0), kResultFail);
    fake_rapi::FailNextLocalLock();
    EXPECT_EQ(ShowDeviceText("x", 0, 0), kResultFail);
    fake_rapi::FailNextLocalAlloc();
    EXPECT_EQ(WarmResetDevice(kWarmResetCleanup), kResultFail);
    EXPECT_TRUE(fake_rapi::Invokes().empty());
}

TEST_F(AgentCallsTest, InstallAgentCopiesTheLibraryBesideTheProgram) {
    const Bytes library = link_test::ReadDesktopFile(InstallDirOf(RunningProgramPath()) + "NUVA7INVOKE.DLL");
    ASSERT_FALSE(library.empty()) << "the build puts a stand-in library beside the test program";
    fake_rapi::PutFile(u"\\Windows\\NUVA7INVOKE.DLL", Pattern(10));

    ASSERT_EQ(InstallAgent(), 0);
    EXPECT_EQ(fake_rapi::File(u"\\Windows\\NUVA7INVOKE.DLL"), library);

    fake_rapi::SetPlugged(false);
    EXPECT_EQ(InstallAgent(), kCopyFileFailed);
}

}  // namespace
}  // namespace nuva
