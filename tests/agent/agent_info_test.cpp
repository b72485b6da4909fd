// FnNUVAInfo on the emulated handheld: supported and unsupported models, both
// memory classes, the power driver's answers when the OEM layer is silent,
// the language rule and the input block rules.
#include <gtest/gtest.h>

#include <algorithm>

#include "formats/device_info.h"
#include "tests/agent/agent_harness.h"
#include "tests/agent/core_call_log.h"

namespace nuva::test {
namespace {

using imagegen::ImageSpec;

TEST(AgentInfoTest, SupportedAdvancedHandheldReportsItsRomPowerAndIdentity) {
    ImageSpec spec;
    spec.language = "GE";
    spec.dateCode = "11230401";
    spec.romName = "B07";
    AgentHandheld handheld(AgentHandheld::Supported(), spec);
    handheld.Device().SetAc(false);
    handheld.Device().SetBattery(77);

    const DeviceInfo info = handheld.Info();
    EXPECT_EQ(info.Supported, 1u);
    EXPECT_EQ(info.AcOnline, 0u);
    EXPECT_EQ(info.BatteryPercent, 77u);
    EXPECT_EQ(info.LanguageId, 0x0407u);
    EXPECT_EQ(info.InfoSize, 124u);
    EXPECT_EQ(info.RamSizeMB, 64u);
    EXPECT_EQ(info.FlashSizeMB, 48u);
    EXPECT_EQ(info.MemoryConfig, 0x02000200u);
    EXPECT_EQ(info.PlatformInfo, 0x11230401u);  // the date code's digits, read as hexadecimal
    EXPECT_EQ(info.OsMajorVersion, 4u);
    EXPECT_EQ(info.Reserved, 0u);
    EXPECT_EQ(FieldText(info.RomVersion), u"B07");
    EXPECT_EQ(FieldText(info.ModelName), u"NUVA7");
    EXPECT_EQ(info.DeviceUuid, handheld.Device().Settings().uuid);

    // Power is read anew at every call: AC on, and no battery value at all.
    handheld.Device().SetAc(true);
    handheld.Device().SetBattery(std::nullopt);
    const DeviceInfo again = handheld.Info();
    EXPECT_EQ(again.AcOnline, 1u);
    EXPECT_EQ(again.BatteryPercent, 255u);
}

TEST(AgentInfoTest, BasicPocketPc2002HandheldReportsItsClassAndGeneration) {
    ImageSpec spec;
    spec.os = imagegen::OsFamily::k2002;
    spec.modelClass = imagegen::ModelClass::kBasic;
    spec.language = "FR";
    sim::FactorySettings settings = AgentHandheld::Supported();
    settings.advanced = false;
    AgentHandheld handheld(settings, spec);

    const DeviceInfo info = handheld.Info();
    EXPECT_EQ(info.Supported, 1u);
    EXPECT_EQ(info.RamSizeMB, 32u);
    EXPECT_EQ(info.FlashSizeMB, 32u);
    EXPECT_EQ(info.MemoryConfig, 0x01000100u);
    EXPECT_EQ(info.OsMajorVersion, 3u);
    EXPECT_EQ(info.LanguageId, 0x040Cu);
}

TEST(AgentInfoTest, UnsupportedHandheldGetsTheFixedRecordOnly) {
    sim::FactorySettings settings;
    settings.uuid = sim::SupportedUuid(false);
    AgentHandheld handheld(settings);
    handheld.Device().SetBattery(90);

    const AgentCall call = handheld.Call(u"FnNUVAInfo", WideBlock(u"ALL"));
    ASSERT_EQ(call.result, S_OK) << call.detail;
    ASSERT_EQ(call.output.size(), 124u);
    const DeviceInfo info = ReadDeviceInfo(call.output.data());
    DeviceInfo expected;
    expected.BatteryPercent = 0xFFFFFFFF;
    expected.InfoSize = 124;
    SetFieldText(expected.RomVersion, u"UnKnown");
    SetFieldText(expected.ModelName, u"UnKnown");
    EXPECT_EQ(info, expected);
    // No platform request was made beyond the UUID.
    EXPECT_TRUE(handheld.Device().Status().platformCommands.empty());
}

TEST(AgentInfoTest, PowerDriverAnswersWhenTheOemLayerDoesNot) {
    ImageSpec spec;
    spec.dateCode = "02150402";
    spec.romName = "C11";
    sim::FactorySettings settings = AgentHandheld::Supported();
    settings.platformCommandAnswers = false;
    settings.platformQueryAnswers = false;
    AgentHandheld handheld(settings, spec);

    const DeviceInfo info = handheld.Info();
    EXPECT_EQ(info.Supported, 1u);
    EXPECT_EQ(info.MemoryConfig, 0x02000200u);
    EXPECT_EQ(info.RamSizeMB, 64u);
    EXPECT_EQ(info.FlashSizeMB, 48u);
    EXPECT_EQ(info.PlatformInfo, 0x02150402u);
    EXPECT_EQ(FieldText(info.RomVersion), u"C11");
    EXPECT_EQ(FieldText(info.ModelName), u"NUVA7");
}

TEST(AgentInfoTest, PowerDriverRomVersionHoldsFourCharactersAtMost) {
    ImageSpec spec;
    spec.romName = "VERSION";
    sim::FactorySettings quiet = AgentHandheld::Supported();
    quiet.platformQueryAnswers = false;
    AgentHandheld fromDriver(quiet, spec);
    EXPECT_EQ(FieldText(fromDriver.Info().RomVersion), u"VERS");

    AgentHandheld fromOem(AgentHandheld::Supported(), spec);
    EXPECT_EQ(FieldText(fromOem.Info().RomVersion), u"VERSION");
}

TEST(AgentInfoTest, SpanishModernSortIsReportedAsTraditional) {
    for (const auto& [language, reported] : {std::pair<uint16_t, uint32_t>{0x0C0A, 0x040A},
                                             {0x040A, 0x040A},
                                             {0x0410, 0x0410},
                                             {0x0809, 0x0809}}) {
        sim::FactorySettings settings = AgentHandheld::Supported();
        settings.language = language;
        AgentHandheld handheld(settings);
        EXPECT_EQ(handheld.Info().LanguageId, reported) << std::hex << language;
    }
}

TEST(AgentInfoTest, AnyInputButAllFailsAndTheInputIsFreed) {
    AgentHandheld handheld;
    const std::vector<std::vector<uint8_t>> refused = {
        WideBlock(u"all"), WideBlock(u"AL"),   WideBlock(u"ALLE"),
        WideBlock(u""),    {'A', 'L', 'L', 0}, {0x41, 0x00, 0x4C},  // 8-bit text; cut short
    };
    for (const auto& input : refused) {
        CoreCallLog log;
        const AgentCall call = handheld.Call(u"FnNUVAInfo", input);
        EXPECT_EQ(call.result, E_FAIL);
        EXPECT_TRUE(call.output.empty());
        const CoreCalls calls = log.Take();
        ASSERT_EQ(calls.readabilityTests.size(), 1u);
        EXPECT_EQ(calls.freed, calls.readabilityTests) << "the input block tested is the one freed";
    }
    // The accepted input is freed too, and no input at all is refused.
    {
        CoreCallLog log;
        EXPECT_EQ(handheld.Call(u"FnNUVAInfo", WideBlock(u"ALL")).result, S_OK);
        const CoreCalls calls = log.Take();
        ASSERT_EQ(calls.readabilityTests.size(), 1u);
        EXPECT_EQ(calls.freed, calls.readabilityTests);
    }
    const AgentCall none = handheld.Call(u"FnNUVAInfo", {});
    EXPECT_EQ(none.result, E_FAIL);
    EXPECT_TRUE(none.output.empty());
}

}  // namespace
}  // namespace nuva::test
