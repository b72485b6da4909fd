#include <gtest/gtest.h>

#include "formats/le.h"
#include "handheld-sim/app/commands.h"
#include "handheld-sim/app/control.h"
#include "handheld-sim/app/options.h"

namespace nuva::sim::app {
namespace {

TEST(HandheldOptions, FactorySettingsAreParsedAndBadValuesNamed) {
    std::string error;
    auto o = ParseHandheldOptions(
        {"--state", "/tmp/h", "--rom", "a.bin", "--class", "basic", "--uuid",
         "00112233445566778899AABBCCDDEEFF", "--language", "0x040C", "--boot-time", "0.5"},
        error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->stateDir, "/tmp/h");
    EXPECT_EQ(o->romImage, "a.bin");
    EXPECT_FALSE(o->factory.advanced);
    EXPECT_EQ(o->factory.uuid[0], 0x00);
    EXPECT_EQ(o->factory.uuid[15], 0xFF);
    EXPECT_EQ(o->factory.language, 0x040C);
    EXPECT_EQ(o->factory.bootMs, 500u);
    EXPECT_TRUE(o->factoryGiven);

    o = ParseHandheldOptions({"--state", "/tmp/h"}, error);
    ASSERT_TRUE(o);
    EXPECT_FALSE(o->factoryGiven);
    EXPECT_EQ(o->factory.uuid, SupportedUuid(true)) << "a handheld is a supported one unless told";
    o = ParseHandheldOptions({"--state", "/tmp/h", "--unsupported"}, error);
    ASSERT_TRUE(o);
    EXPECT_EQ(o->factory.uuid, SupportedUuid(false));

    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--rom", "a.bin"},
        {"--state"},
        {"--state", "/tmp/h", "--class", "huge"},
        {"--state", "/tmp/h", "--uuid", "0011"},
        {"--state", "/tmp/h", "--uuid", "g0112233445566778899AABBCCDDEEFF"},
        {"--state", "/tmp/h", "--language", "0x10000"},
        {"--state", "/tmp/h", "--language", "en"},
        {"--state", "/tmp/h", "--boot-time", "-1"},
        {"--state", "/tmp/h", "--boot-time", "nan"},
        {"--state", "/tmp/h", "--boot-time", "3s"},
        {"--state", "/tmp/h", "--unsupported", "--uuid", "00112233445566778899AABBCCDDEEFF"},
        {"--state", "/tmp/h", "--frobnicate"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(ParseHandheldOptions(args, error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }

    auto ctl = ParseCtlOptions({"--state", "d", "status", "--json"}, error);
    ASSERT_TRUE(ctl);
    EXPECT_EQ(ctl->command, (std::vector<std::string>{"status", "--json"}));
    EXPECT_FALSE(ParseCtlOptions({"status"}, error));
    EXPECT_FALSE(ParseCtlOptions({"--state", "d"}, error));
    EXPECT_EQ(ControlSocketPath("/a/b"), "/a/b/control.sock");
    EXPECT_EQ(ControlSocketPath("/a/b/"), "/a/b/control.sock");
    EXPECT_EQ(ParseNumber("0x10", 16), 16u);
    EXPECT_EQ(ParseNumber("17", 16), std::nullopt);
    EXPECT_EQ(ParseNumber("", 16), std::nullopt);
    EXPECT_EQ(ParseNumber("0x", 16), std::nullopt);
}

TEST(ControlWire, RequestsAndRepliesRoundTripAndDamageIsRefused) {
    std::vector<std::string> command = {"push", "/tmp/a b", "\\TEMP\\x"};
    auto bytes = EncodeControlRequest(command);
    EXPECT_EQ(DecodeControlRequest(bytes), command);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_FALSE(DecodeControlRequest(std::span<const uint8_t>(bytes.data(), cut))) << cut;
    }
    bytes.push_back(0);
    EXPECT_FALSE(DecodeControlRequest(bytes));
    EXPECT_FALSE(DecodeControlRequest(EncodeControlRequest({})));
    EXPECT_FALSE(
        DecodeControlRequest(EncodeControlRequest(std::vector<std::string>(kMaxControlArgs + 1, "x"))));
    EXPECT_FALSE(DecodeControlRequest(EncodeControlRequest({std::string(kMaxControlArgBytes + 1, 'x')})));
    bytes = EncodeControlRequest({"ls", "\\"});
    StoreLe32(bytes.data() + 4, 0xFFFFFFF0u);  // an argument longer than the request
    EXPECT_FALSE(DecodeControlRequest(bytes));

    ControlReply reply{2, "out", "err\n"};
    auto replyBytes = EncodeControlReply(reply);
    auto back = DecodeControlReply(replyBytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->exitCode, 2);
    EXPECT_EQ(back->out, "out");
    EXPECT_EQ(back->err, "err\n");
    replyBytes.pop_back();
    EXPECT_FALSE(DecodeControlReply(replyBytes));
}

TEST(HandheldStatusTexts, JsonCarriesEveryKeyWithNullsWhereNothingIs) {
    HandheldStatus s;
    s.started = true;
    s.plugged = true;
    s.acOnline = false;
    s.batteryPercent = 55;
    s.rom = RomReport{"04100300", "A03", 4, 0x0409};
    s.memoryConfig = 0x02000200;
    s.linkAvailable = true;
    s.bootGeneration = 3;
    ServiceStatus service;
    service.desktopConnected = true;
    service.desktopsServed = 2;
    service.versionQueries = 7;
    std::string json = StatusJson(s, service);
    EXPECT_EQ(
        json,
        "{\"started\":true,\"plugged\":true,\"ac\":false,\"battery\":55,"
        "\"rom\":{\"date_code\":\"04100300\",\"version\":\"A03\",\"os_major\":4,\"language_id\":1033},"
        "\"memory_config\":33554944,\"message_box\":null,\"crashed\":null,\"running\":null,\"bricked\":null,"
        "\"link\":true,\"desktop_connected\":true,\"restarting\":false,\"boot_generation\":3,"
        "\"desktops_served\":2,\"version_queries\":7,\"pending_faults\":{\"cable_drop\":null,\"write_fail\":"
        "false,\"corrupt\":null,"
        "\"agent_fail\":0,\"version_fail\":0}}\n");
    EXPECT_EQ(StatusText(s, service).find("pending faults"), std::string::npos)
        << "nothing armed, nothing said";

    s.batteryPercent.reset();
    s.messageBox = MessageBoxState{u"Reflash", u"Update \"failed\"\n", 0};
    s.crashedReason = "flash not in read-array mode";
    s.runningPrograms = {u"Reflash.exe"};
    service.desktopConnected = false;
    service.pending.dropAfterBytes = 100;
    service.pending.corruptPath = u"\\TEMP\\\"1\"";
    service.pending.failVersionCalls = 2;
    json = StatusJson(s, service);
    EXPECT_NE(json.find("\"pending_faults\":{\"cable_drop\":100,\"write_fail\":false,\"corrupt\":"
                        "\"\\\\TEMP\\\\\\\"1\\\"\","
                        "\"agent_fail\":0,\"version_fail\":2}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"battery\":null"), std::string::npos);
    EXPECT_NE(json.find("\"message_box\":{\"caption\":\"Reflash\",\"text\":\"Update \\\"failed\\\"\\n\"}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"crashed\":\"flash not in read-array mode\""), std::string::npos);
    EXPECT_NE(json.find("\"running\":\"Reflash.exe\""), std::string::npos);

    std::string text = StatusText(s, service);
    EXPECT_NE(text.find("pending faults: cable-drop 100, corrupt \\TEMP\\\"1\", version-fail 2\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("desktops served: 2, version queries answered: 7\n"), std::string::npos);
    EXPECT_NE(text.find("battery: none"), std::string::npos);
    EXPECT_NE(text.find("memory config: 0x02000200"), std::string::npos);
    EXPECT_NE(text.find("crashed: flash not in read-array mode"), std::string::npos);
}

}  // namespace
}  // namespace nuva::sim::app
