#include "tools/flash/follow_restart.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "formats/image_header.h"
#include "platform/clock/clock.h"
#include "tests/setup/support/fake_handheld_port.h"

namespace nuva {
namespace {

ImageHeader Header(const char* date, uint8_t osCode, const char* name) {
    ImageHeader header;
    header.SetText(header_offset::kDateCode, date, 8);
    header.SetByte(header_offset::kOsCode, osCode);
    header.SetText(header_offset::kRomName, name, 8);
    return header;
}

DeviceInfo Rom(uint32_t platformInfo, uint32_t osMajor, const char16_t* version) {
    DeviceInfo info;
    info.PlatformInfo = platformInfo;
    info.OsMajorVersion = osMajor;
    SetFieldText(info.RomVersion, version);
    return info;
}

TEST(FollowRestart, TheRomIsKnownByDateCodeGenerationAndVersion) {
    ImageHeader a03 = Header("04100300", kOsCode2003, "A03");
    EXPECT_TRUE(RunsRomOf(Rom(0x04100300, 4, u"A03"), a03));
    EXPECT_FALSE(RunsRomOf(Rom(0x03050300, 4, u"A03"), a03));  // the old date code
    EXPECT_FALSE(RunsRomOf(Rom(0x04100300, 3, u"A03"), a03));  // Pocket PC 2002
    EXPECT_FALSE(RunsRomOf(Rom(0x04100300, 4, u"A02"), a03));
    // A header without a ROM name (an early image) is judged without it.
    EXPECT_TRUE(RunsRomOf(Rom(0x12160200, 3, u"A00"), Header("12160200", 0, "")));
}

// The link flag follows a script of polls; the handheld answers after a
// number of failed reads.
class ScriptedRestart : public test::FakeHandheldPort {
  public:
    const std::atomic<int32_t>& Connected() const override {
        bool up = polls < links.size() ? links[polls] : links.back();
        ++polls;
        flag = up ? 1 : 0;
        return flag;
    }
    void Answer(const DeviceInfo& record, int failures) {
        for (int i = 0; i < failures; ++i) {
            queryAnswers.push_back({0x80004005, {}});
        }
        queryAnswers.push_back({0, record});
        info = record;
    }
    int Reads() { return Count("query"); }

    std::vector<bool> links;
    mutable size_t polls = 0;
    mutable std::atomic<int32_t> flag{0};
};

class Follow : public ::testing::Test {
  protected:
    Follow() : log_(std::tmpfile()), terminal_(log_, false) { SetTimeScale(0.01); }
    ~Follow() override { std::fclose(log_); }
    FollowReport Run(ScriptedRestart& device, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return FollowRestart(device, terminal_, Header("04100300", kOsCode2003, "A03"), timeout);
    }

    std::FILE* log_;
    Terminal terminal_;
};

TEST_F(Follow, WaitsForTheDropAndTheReturnThenAsksUntilItAnswers) {
    ScriptedRestart device;
    device.links = {true, true, false, false, false, true};
    device.Answer(Rom(0x04100300, 4, u"A03"), 2);  // just restarted: the agent is not there yet
    FollowReport report = Run(device);
    EXPECT_EQ(report.result, FollowResult::kRunsImage);
    EXPECT_TRUE(report.linkDropped);
    EXPECT_EQ(device.Reads(), 3);
    EXPECT_EQ(report.info, device.info);
}

TEST_F(Follow, AnotherRomOrNoReturnIsNeverTakenForSuccess) {
    ScriptedRestart old;
    old.links = {true, false, true};
    old.Answer(Rom(0x03050300, 4, u"A02"), 0);
    EXPECT_EQ(Run(old).result, FollowResult::kRunsOther);

    ScriptedRestart gone;
    gone.links = {true, false};  // never back
    FollowReport lost = Run(gone, std::chrono::milliseconds(200));
    EXPECT_EQ(lost.result, FollowResult::kTimedOut);
    EXPECT_TRUE(lost.linkDropped);
    EXPECT_EQ(gone.Reads(), 0);

    ScriptedRestart stuck;
    stuck.links = {true};  // never restarts: its old ROM must not be read as the new one
    stuck.Answer(Rom(0x04100300, 4, u"A03"), 0);
    FollowReport never = Run(stuck, std::chrono::milliseconds(200));
    EXPECT_EQ(never.result, FollowResult::kTimedOut);
    EXPECT_FALSE(never.linkDropped);
    EXPECT_EQ(stuck.Reads(), 0);

    ScriptedRestart mute;
    mute.links = {false, true};
    mute.queryResult = 0x80004005;
    EXPECT_EQ(Run(mute, std::chrono::milliseconds(300)).result, FollowResult::kTimedOut);
}

}  // namespace
}  // namespace nuva
