// The device link against a running emulated handheld, over the cable: what
// the update leaves on the handheld, byte for byte, and the connection
// monitor following the cable as it is pulled and put back.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <functional>
#include <thread>

#include "formats/byte_sum.h"
#include "formats/image_header.h"
#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "formats/update_handoff.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"
#include "setup/link/agent_calls.h"
#include "setup/link/handheld_port.h"
#include "setup/link/handover.h"
#include "setup/link/link_monitor.h"
#include "tests/setup/link/link_test_support.h"
#include "tests/support/eventually.h"
#include "tests/support/handheld_process.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

namespace nuva {
namespace {

using namespace std::chrono_literals;
using link_test::Bytes;
using testing::Eventually;

constexpr double kScale = 0.01;

std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

class LinkE2ETest : public ::testing::Test {
  protected:
    void SetUp() override { SetTimeScale(kScale); }
    void TearDown() override {
        watch_ = std::jthread();
        StopLinkInit();
        CeRapiUninit();
        handheld_.reset();
    }

    // Writes an image made by the image library and returns its path; its
    // bytes are kept in `bytes`.
    std::string MakeImage(const std::string& name, imagegen::OsFamily os, imagegen::ModelClass modelClass,
                          const std::string& dateCode, const std::string& romName, Bytes* bytes = nullptr) {
        imagegen::ImageSpec spec;
        spec.os = os;
        spec.modelClass = modelClass;
        spec.dateCode = dateCode;
        spec.romName = romName;
        const std::string path = folder_.Join(name);
        std::string detail;
        EXPECT_EQ(imagegen::WriteImageFile(spec, path, &detail), imagegen::ImageGenError::kNone) << detail;
        if (bytes != nullptr)
            *bytes = link_test::ReadDesktopFile(path);
        return path;
    }

    // Starts a factory-new handheld with `rom` in its flash and the link
    // monitor of this program, and waits until the monitor says connected.
    void StartHandheld(const std::string& rom, const std::string& modelClass) {
        handheld_ = std::make_unique<testing::HandheldProcess>(NUVA_HANDHELD_PROGRAM, folder_.Join("hh"));
        std::string error;
        ASSERT_TRUE(handheld_->Start(rom, {"--class", modelClass},
                                     {{"NUVA_TIME_SCALE", std::to_string(kScale)}}, error))
            << error;
        ::setenv("NUVA_LINK", handheld_->CableEndpoint().c_str(), 1);
        g_connected = 0;
        ASSERT_EQ(StartLinkInit(), 0u);
        watch_ = StartLinkWatch();
        ASSERT_TRUE(Eventually([] { return g_connected == 1; }, 60s)) << handheld_->Log();
    }

    Bytes Pull(std::u16string_view devicePath) {
        const std::string target = folder_.Join("pulled");
        std::filesystem::remove(target);
        const testing::CtlResult result = handheld_->Ctl({"pull", Narrow(devicePath), target});
        EXPECT_EQ(result.exitCode, 0) << result.out;
        return link_test::ReadDesktopFile(target);
    }

    testing::TempFolder folder_{"nuva-link"};
    std::unique_ptr<testing::HandheldProcess> handheld_;
    std::jthread watch_;
};

TEST_F(LinkE2ETest, TheHandheldHoldsExactlyWhatThePlanSays) {
    // A Pocket PC 2002 handheld of the "Advanced" class, updated to 2003:
    // the generation changes, so the built-in storage is to be erased.
    const std::string rom = MakeImage("factory.nb0", imagegen::OsFamily::k2002,
                                      imagegen::ModelClass::kAdvanced, "11200200", "A02");
    Bytes image;
    const std::string imagePath = MakeImage("update.nb0", imagegen::OsFamily::k2003,
                                            imagegen::ModelClass::kAdvanced, "04100300", "A03", &image);
    StartHandheld(rom, "advanced");

    ASSERT_EQ(InstallAgent(), 0);
    DeviceInfo info;
    ASSERT_EQ(QueryDeviceInfo(&info), 0u);
    ASSERT_EQ(info.MemoryConfig, kMemoryConfigAdvanced);
    ASSERT_EQ(info.OsMajorVersion, 3u);

    ImageHeader header;
    ASSERT_EQ(CheckImageFile(imagePath, header), image.size());
    UpdateHandoff plan = PlanImageWrite(header, info.OsMajorVersion, PlanMode::kUpdate);
    ASSERT_EQ(plan.Items, 13u);
    ASSERT_NE(plan.PSMLength, 0u);

    // What the handheld must confirm: each part's sum, from the image itself.
    UpdateHandoff expected = plan;
    for (uint32_t i = 0; i < expected.Items; ++i) {
        ImagePart& part = expected.parts[i];
        part.PartSum = ByteSum(image.data() + kImageHeaderSize + part.ImageOffset, part.PartLength, 0);
    }

    link_test::RecordingSink sink;
    ASSERT_EQ(TransferImageParts(&sink, imagePath, plan, info.MemoryConfig, g_connected), 0u)
        << handheld_->Log();
    EXPECT_EQ(plan, expected);
    const uint32_t total = plan.TotalBytes + kFillerBytes;
    EXPECT_EQ(sink.Posts(WM_OVERALL_PROGRESS).back(), (link_test::Posted{WM_OVERALL_PROGRESS, total, total}));

    const auto startupBefore = handheld_->Ctl({"ls", "\\Windows\\StartUp"});
    ASSERT_NE(startupBefore.out.find("Welcome.lnk"), std::string::npos) << startupBefore.out;
    RemoveStartupShortcuts();
    ASSERT_EQ(PlaceReflash(), 0);
    ASSERT_EQ(WriteUpdateInfo(plan), 0u);

    const auto handoff = WriteHandoffFile(expected);
    EXPECT_EQ(Pull(kUpdateInfoPath), Bytes(handoff.begin(), handoff.end()));
    EXPECT_EQ(Pull(kFillerPath), Bytes(image.begin(), image.begin() + kFillerBytes));
    const ImagePart& last = expected.parts[12];
    EXPECT_EQ(Pull(u"\\TEMP\\12"), Bytes(image.begin() + kImageHeaderSize + last.ImageOffset, image.end()));
    const auto startup = handheld_->Ctl({"ls", "\\Windows\\StartUp"});
    EXPECT_NE(startup.out.find("Reflash.exe"), std::string::npos) << startup.out;
    EXPECT_EQ(startup.out.find("Welcome.lnk"), std::string::npos) << startup.out;
    EXPECT_EQ(startup.out.find("poutlook.lnk"), std::string::npos) << startup.out;

    // A second hand-over is refused: the flasher's file is never overwritten.
    EXPECT_EQ(WriteUpdateInfo(plan), kResultFail);
    EXPECT_EQ(Pull(kUpdateInfoPath), Bytes(handoff.begin(), handoff.end()));
}

TEST_F(LinkE2ETest, PullingTheCableStopsTheTransferAndPuttingItBackReconnects) {
    Bytes image;
    const std::string rom = MakeImage("factory.nb0", imagegen::OsFamily::k2003, imagegen::ModelClass::kBasic,
                                      "04100300", "A03", &image);
    StartHandheld(rom, "basic");
    ASSERT_EQ(InstallAgent(), 0);
    DeviceInfo info;
    ASSERT_EQ(QueryDeviceInfo(&info), 0u);
    ImageHeader header;
    ASSERT_EQ(CheckImageFile(rom, header), image.size());
    UpdateHandoff plan = PlanImageWrite(header, info.OsMajorVersion, PlanMode::kUpdate);

    link_test::RecordingSink sink;
    std::atomic<uint32_t> result{0xFFFFFFFF};
    std::thread transfer(
        [&] { result = TransferImageParts(&sink, rom, plan, info.MemoryConfig, g_connected); });
    ASSERT_TRUE(Eventually([&] { return sink.Posts(WM_FILE_PROGRESS).size() >= 3; }, 60s));

    const auto unplugged = std::chrono::steady_clock::now();
    ASSERT_EQ(handheld_->Ctl({"unplug"}).exitCode, 0);
    ASSERT_TRUE(Eventually([] { return g_connected == 0; }, 60s));
    const auto dropped = std::chrono::steady_clock::now() - unplugged;
    transfer.join();
    RecordProperty("drop_ms",
                   std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(dropped).count()));

    EXPECT_NE(result.load(), 0u) << "a transfer cut by the cable reported success";
    EXPECT_EQ(plan.parts[plan.Items - 1].PartSum, 0u);
    // One failed probe and its retry, on this program's clock, plus room
    // for a busy machine.
    EXPECT_LT(dropped, ScaledMs(kProbePeriodMs + kProbeRetryMs) + 500ms)
        << std::chrono::duration_cast<std::chrono::milliseconds>(dropped).count() << " ms";

    // The monitor waits for the handheld; nothing else brings the flag back.
    std::this_thread::sleep_for(ScaledMs(3 * kProbePeriodMs));
    EXPECT_EQ(g_connected, 0);

    ASSERT_EQ(handheld_->Ctl({"plug"}).exitCode, 0);
    ASSERT_TRUE(Eventually([] { return g_connected == 1; }, 60s)) << handheld_->Log();
    EXPECT_EQ(InstallAgent(), 0) << "the link is usable again";
    EXPECT_EQ(QueryDeviceInfo(nullptr), 0u);
}

// The handheld restarts at a cold reset and the link goes with it: the flag
// must say so at once, not at the watch thread's next probes, or a page that
// waits for the handheld's return would start on the connection that ended.
TEST_F(LinkE2ETest, EitherResetDropsTheFlagAtOnceAndTheLinkComesBackWithTheHandheld) {
    const std::string rom =
        MakeImage("factory.nb0", imagegen::OsFamily::k2003, imagegen::ModelClass::kBasic, "04100300", "A03");
    StartHandheld(rom, "basic");
    // No probes: only the reset itself may move the flag.
    watch_ = std::jthread();
    RapiHandheldPort port;
    ASSERT_EQ(port.InstallAgent(), 0);

    EXPECT_EQ(port.ColdResetDevice(), static_cast<uint32_t>(RAPI_E_LINK_DOWN));
    EXPECT_EQ(g_connected, 0) << "the flag still speaks of the connection the restart ended";

    ASSERT_TRUE(Eventually([] { return g_connected == 1; }, 60s)) << handheld_->Log();
    EXPECT_EQ(port.InstallAgent(), 0) << "the link is usable again";

    // The warm reset after a backup restarts the handheld the same way.
    EXPECT_EQ(port.WarmResetDevice(0), static_cast<uint32_t>(RAPI_E_LINK_DOWN));
    EXPECT_EQ(g_connected, 0) << "the flag still speaks of the connection the warm restart ended";
    ASSERT_TRUE(Eventually([] { return g_connected == 1; }, 60s)) << handheld_->Log();
    EXPECT_EQ(port.InstallAgent(), 0) << "the link is usable again";
}

}  // namespace
}  // namespace nuva
