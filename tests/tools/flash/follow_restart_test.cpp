#include "tools/flash/follow_restart.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "formats/image_header.h"
#include "platform/clock/clock.h"

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
class ScriptedRestart : public FollowDevice {
  public:
    bool IsConnected() override {
        bool up = polls < links.size() ? links[polls] : links.back();
        ++polls;
        return up;
    }
    uint32_t ReadHandheld(DeviceInfo* out) override {
        ++reads;
        if (failReads > 0) {
            --failReads;
            return 0x80004005;
        }
        *out = answer;
        return 0;
    }

    std::vector<bool> links;
    size_t polls = 0;
    int failReads = 0;
    int reads = 0;
    DeviceInfo answer;
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
    device.failReads = 2;  // just restarted: the agent is not there yet
    device.answer = Rom(0x04100300, 4, u"A03");
    FollowReport report = Run(device);
    EXPECT_EQ(report.result, FollowResult::kRunsImage);
    EXPECT_TRUE(report.linkDropped);
    EXPECT_EQ(device.reads, 3);
    EXPECT_EQ(report.info, device.answer);
}

TEST_F(Follow, AnotherRomOrNoReturnIsNeverTakenForSuccess) {
    ScriptedRestart old;
    old.links = {true, false, true};
    old.answer = Rom(0x03050300, 4, u"A02");
    EXPECT_EQ(Run(old).result, FollowResult::kRunsOther);

    ScriptedRestart gone;
    gone.links = {true, false};  // never back
    FollowReport lost = Run(gone, std::chrono::milliseconds(200));
    EXPECT_EQ(lost.result, FollowResult::kTimedOut);
    EXPECT_TRUE(lost.linkDropped);
    EXPECT_EQ(gone.reads, 0);

    ScriptedRestart stuck;
    stuck.links = {true};  // never restarts: its old ROM must not be read as the new one
    stuck.answer = Rom(0x04100300, 4, u"A03");
    FollowReport never = Run(stuck, std::chrono::milliseconds(200));
    EXPECT_EQ(never.result, FollowResult::kTimedOut);
    EXPECT_FALSE(never.linkDropped);
    EXPECT_EQ(stuck.reads, 0);

    ScriptedRestart mute;
    mute.links = {false, true};
    mute.failReads = 1000;
    EXPECT_EQ(Run(mute, std::chrono::milliseconds(300)).result, FollowResult::kTimedOut);
}

}  // namespace
}  // namespace nuva
