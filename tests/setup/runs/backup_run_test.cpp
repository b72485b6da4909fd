#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "formats/byte_sum.h"
#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "platform/clock/clock.h"
#include "setup/device/backup_space.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"
#include "setup/resources/string_ids.h"
#include "setup/runs/backup_run.h"
#include "tests/setup/runs/run_fakes.h"

namespace nuva {
namespace {

namespace fs = std::filesystem;
using test::FakeHandheldPort;
using test::RecordingPageView;
using test::Text;

DeviceInfo Handheld(uint32_t osMajor, uint32_t memoryConfig, uint16_t language = 0x0409) {
    DeviceInfo info;
    info.Supported = 1;
    info.OsMajorVersion = osMajor;
    info.MemoryConfig = memoryConfig;
    info.RamSizeMB = memoryConfig == kMemoryConfigAdvanced ? 64 : 32;
    info.LanguageId = language;
    info.PlatformInfo = 0x04100300;
    SetFieldText(info.RomVersion, u"A03");
    for (size_t i = 0; i < info.DeviceUuid.size(); ++i) {
        info.DeviceUuid[i] = static_cast<uint8_t>(0xC0 + i);
    }
    return info;
}

// Flash of the handheld as the agent would serve it: a pattern over the
// image area.
std::vector<uint8_t> Flash(uint32_t contentBytes) {
    std::vector<uint8_t> flash(kImageFlashOffset + contentBytes);
    uint32_t x = 7;
    for (auto& b : flash) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return flash;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

UpdateHandoff PlanFor(const DeviceInfo& info) {
    UpdateHandoff plan;
    BuildUpdatePlan(PlanVariantForDevice(info), plan);
    return plan;
}

TEST(SaveRomImage, WritesACompleteRisFileThatReadsBackAsTheHandheldsRom) {
    FakeHandheldPort device;
    DeviceInfo info = Handheld(4, kMemoryConfigAdvanced);
    device.flash = Flash(kContentBytes2003);
    device.failReads[kImageFlashOffset + 16384 * 3] = 4;  // the fifth read of block 3 succeeds
    fs::path path = fs::temp_directory_path() / "save-rom-complete.RIS";
    test::RecordingSink sink;
    ASSERT_EQ(SaveRomImage(device, &sink, path.string(), PlanFor(info), info), kResultOk);

    std::vector<uint8_t> file = ReadFile(path);
    ASSERT_EQ(file.size(), kImageFileBytes2003);
    EXPECT_TRUE(std::equal(file.begin() + 512, file.end(), device.flash.begin() + kImageFlashOffset));
    ImageHeader header;
    EXPECT_EQ(CheckImageFile(path.string(), header), kImageFileBytes2003);
    EXPECT_EQ(header.OsCode(), 3);
    EXPECT_EQ(header.Kind(), 1);
    EXPECT_EQ(header.ByteCount(), kContentBytes2003);
    EXPECT_EQ(header.ByteSumField(), ByteSum(file.data() + 512, kContentBytes2003));
    EXPECT_EQ(header.Uuid(), info.DeviceUuid);
    EXPECT_FALSE(fs::exists(path.string() + ".part"));

    // Progress after the 1st, 3rd, 5th ... block and once at the end.
    auto posted = sink.Take();
    ASSERT_EQ(posted.size(), 1632u / 2 + 1);
    EXPECT_EQ(posted.front().wParam, 16384u);
    EXPECT_EQ(posted.back().wParam, kContentBytes2003);
    EXPECT_EQ(posted.back().lParam, kContentBytes2003);
    fs::remove(path);
}

TEST(SaveRomImage, AFailedRunLeavesNoFileAndKeepsAnEarlierOne) {
    FakeHandheldPort device;
    DeviceInfo info = Handheld(3, kMemoryConfigBasic);
    device.flash = Flash(kContentBytes2002);
    device.failReads[kImageFlashOffset + 16384 * 10] = 5;
    fs::path path = fs::temp_directory_path() / "save-rom-failed.RIS";
    {
        std::ofstream earlier(path, std::ios::binary);
        earlier << "an earlier backup";
    }
    EXPECT_EQ(SaveRomImage(device, nullptr, path.string(), PlanFor(info), info), kResultFail);
    EXPECT_EQ(ReadFile(path).size(), 17u) << "the earlier file is untouched";
    EXPECT_FALSE(fs::exists(path.string() + ".part"));
    fs::remove(path);

    // A short write (the disk is full): the run fails and nothing is left.
    device.failReads.clear();
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1 << 20;
    setrlimit(RLIMIT_FSIZE, &small);
    uint32_t result = SaveRomImage(device, nullptr, path.string(), PlanFor(info), info);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, kResultFail);
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(path.string() + ".part"));

    // A folder that cannot be written.
    EXPECT_EQ(SaveRomImage(device, nullptr, "/nonexistent-folder/x.RIS", PlanFor(info), info), kResultFail);
}

TEST(BackupRun, PageFlowProgressCompletionAndFailure) {
    namespace s = string_id;
    int launches = 0;
    std::function<void()> body;
    WorkerSlot worker([&](std::function<void()> b) {
        ++launches;
        body = std::move(b);
        return true;
    });
    RecordingPageView view;
    FakeHandheldPort device;
    device.info = Handheld(4, kMemoryConfigAdvanced);
    BackupRunController run(view, device, worker, BackupOrigin::kPlainBackup, "/tmp/x.RIS", DeviceInfo{});
    run.Init();
    EXPECT_EQ(view.title, Text(s::kBackupTitlePlain));
    run.OnTimer(kStartTimer);
    EXPECT_EQ(run.Info(), device.info) << "the page's record comes from the handheld";
    EXPECT_FALSE(device.Count("cold-reset")) << "no restart before a backup";
    for (int i = 0; i < 7; ++i) {
        run.OnTimer(kWaitTimer);
    }
    EXPECT_EQ(launches, 1);
    EXPECT_TRUE(view.shownControls[run_control::kOverallBar]);
    EXPECT_FALSE(view.shownControls.count(run_control::kFileBar));

    run.OnMessage(WM_OVERALL_PROGRESS, 16384 * 2 * 100, kContentBytes2003);
    EXPECT_EQ(view.texts[run_control::kStatusLine], "Copying files and saving ROM image ... 12%");
    EXPECT_EQ(view.bars[run_control::kOverallBar], 12u);
    run.OnMessage(WM_RUN_COMPLETE, 0, 0);
    EXPECT_EQ(view.events, std::vector<std::string>{"dialog 143"});
    EXPECT_EQ(view.endResult, 1);
    EXPECT_EQ(device.deviceTexts.back(), Text(s::kDeviceTextPlainBackupDone));

    RecordingPageView failedView;
    FakeHandheldPort failing;
    failing.info = Handheld(3, kMemoryConfigBasic);
    BackupRunController failed(failedView, failing, worker, BackupOrigin::kBeforeUpdate, "/tmp/y.RIS",
                               failing.info);
    failed.Init();
    EXPECT_EQ(failedView.title, Text(s::kBackupTitleBeforeUpdate));
    failed.OnTimer(kStartTimer);
    failed.OnMessage(WM_RUN_FAILED, 0, 0);
    EXPECT_EQ(failing.Calls().back(), "warm-reset 0");
    EXPECT_EQ(failedView.events,
              std::vector<std::string>{"box " + Text(s::kCaution) + ": " + Text(s::kCopyIncomplete)});
    EXPECT_EQ(failedView.endResult, 2);
}

TEST(BackupRun, CompleteDialogRestartsTheHandheldAndWaitsForIt) {
    RecordingPageView view;
    FakeHandheldPort device;
    BackupCompleteController dialog(view, device);
    dialog.Init();
    EXPECT_EQ(view.armed.at(BackupCompleteController::kRestartTimer), 5000u);
    EXPECT_FALSE(view.enabledControls[run_control::kOkButton]);
    dialog.OnCommand(run_control::kOkButton);
    EXPECT_EQ(view.endResult, std::nullopt) << "OK starts disabled";
    dialog.OnTimer(BackupCompleteController::kRestartTimer);
    EXPECT_EQ(device.Calls(), (std::vector<std::string>{"install", "warm-reset 0"}));
    device.connected = 0;  // restarting
    for (int i = 0; i < 20; ++i) {
        dialog.OnTimer(BackupCompleteController::kWatchTimer);
    }
    EXPECT_FALSE(dialog.OkEnabled());
    device.connected = 1;
    dialog.OnTimer(BackupCompleteController::kWatchTimer);
    EXPECT_TRUE(dialog.OkEnabled());
    dialog.OnCommand(run_control::kOkButton);
    EXPECT_EQ(view.endResult, 1);

    RecordingPageView early;
    FakeHandheldPort connected;
    BackupCompleteController quick(early, connected);
    quick.Init();
    quick.OnTimer(BackupCompleteController::kRestartTimer);
    for (int i = 0; i < 6; ++i) {
        quick.OnTimer(BackupCompleteController::kWatchTimer);
    }
    EXPECT_FALSE(quick.OkEnabled()) << "at least seven ticks";
    quick.OnTimer(BackupCompleteController::kWatchTimer);
    EXPECT_TRUE(quick.OkEnabled());

    RecordingPageView noAgent;
    FakeHandheldPort broken;
    broken.installResults = {-1};
    BackupCompleteController ends(noAgent, broken);
    ends.Init();
    ends.OnTimer(BackupCompleteController::kRestartTimer);
    EXPECT_EQ(noAgent.endResult, 3);
}

TEST(BackupFile, FreeSpaceRule) {
    // 32 MiB in 512-byte sectors, 8 sectors a cluster: 8192 clusters.
    EXPECT_TRUE(EnoughSpaceForBackup(512, 8, 8192));
    EXPECT_FALSE(EnoughSpaceForBackup(512, 8, 8191));
    EXPECT_FALSE(EnoughSpaceForBackup(4096, 1, 31 * 256));  // 31 MiB free
    EXPECT_TRUE(EnoughSpaceForBackup(4096, 1, 32 * 256));
    EXPECT_TRUE(EnoughSpaceForBackup(3000, 7, 1599));  // ceil(ceil(33554432/3000)/7) = 1598
    EXPECT_FALSE(EnoughSpaceForBackup(3000, 7, 1597));
    EXPECT_TRUE(EnoughSpaceForBackupAt("/nonexistent-folder/x.RIS")) << "unknown free space skips the test";
}

}  // namespace
}  // namespace nuva
