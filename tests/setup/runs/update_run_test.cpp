#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "platform/clock/clock.h"
#include "setup/resources/string_ids.h"
#include "setup/runs/update_run.h"
#include "tests/setup/runs/run_fakes.h"

namespace nuva {
namespace {

using test::FakeHandheldPort;
using test::RecordingPageView;
using test::Text;

bool Called(FakeHandheldPort& device, const std::string& call) {
    return device.Count(call) != 0;
}

DeviceInfo Handheld2003() {
    DeviceInfo info;
    info.Supported = 1;
    info.MemoryConfig = kMemoryConfigAdvanced;
    info.OsMajorVersion = 4;
    return info;
}

// A worker launcher that never runs the body: the controller's side alone.
WorkerSlot::Launcher NoRun(int& launches) {
    return [&launches](std::function<void()>) {
        ++launches;
        return true;
    };
}

struct UpdatePage {
    RecordingPageView view;
    FakeHandheldPort device;
    int launches = 0;
    WorkerSlot worker{NoRun(launches)};
    UpdateRunController run;

    UpdatePage(RunMode mode, const std::string& image, const DeviceInfo& info)
        : run(view, device, worker, mode, image, info) {}

    // The preparation and then `ticks` waiting ticks.
    void StartAndWait(int ticks) {
        run.Init();
        run.OnTimer(kStartTimer);
        for (int i = 0; i < ticks; ++i) {
            run.OnTimer(kWaitTimer);
        }
    }
};

TEST(UpdateRun, StartStepChecksTheFileAndPreparesTheHandheld) {
    namespace s = string_id;
    {
        UpdatePage page(RunMode::kUpdate, "/nonexistent/image.nb0", Handheld2003());
        page.run.Init();
        EXPECT_EQ(page.view.title, Text(s::kUpdateTitle));
        EXPECT_EQ(page.view.texts[run_control::kHeading], Text(s::kUpdateHeading));
        EXPECT_EQ(page.view.armed.at(kStartTimer), 100u);
        page.run.OnTimer(kStartTimer);
        EXPECT_EQ(page.view.events,
                  std::vector<std::string>{"box " + Text(s::kCaution) + ": " + Text(s::kImageCorrupt)});
        EXPECT_EQ(page.view.endResult, 2);
        EXPECT_TRUE(page.device.Calls().empty()) << "the handheld is untouched";
    }
    std::string image = test::WriteSmallImage("update-run-start.nb0", kOsCode2003, kModelByteAdvanced);
    {
        UpdatePage page(RunMode::kRestore, image, Handheld2003());
        page.device.connected = 0;
        page.run.Init();
        EXPECT_EQ(page.view.title, Text(s::kRestoreTitle));
        page.run.OnTimer(kStartTimer);
        EXPECT_EQ(page.view.events, std::vector<std::string>{"dialog 144"});
        EXPECT_EQ(page.view.endResult, 4);
    }
    {
        UpdatePage page(RunMode::kUpdate, image, Handheld2003());
        page.device.queryResult = kResultFail;
        page.StartAndWait(0);
        EXPECT_EQ(page.view.events, std::vector<std::string>{"dialog 148"});
        EXPECT_EQ(page.view.endResult, 2);
        EXPECT_FALSE(Called(page.device, "cold-reset"));
    }
    {
        // An agent that cannot be installed now skips the query; the worker
        // installs it again later.
        UpdatePage page(RunMode::kUpdate, image, Handheld2003());
        page.device.installResults = {-1};
        page.StartAndWait(0);
        EXPECT_EQ(page.device.Calls(), (std::vector<std::string>{"install", "cold-reset"}));
        EXPECT_EQ(page.run.ActiveTimer(), kWaitTimer);
        EXPECT_EQ(page.view.texts[run_control::kStatusLine], "...\\");
        EXPECT_TRUE(page.view.shownControls[run_control::kStatusLine]);
        EXPECT_EQ(page.view.endResult, std::nullopt);
    }
}

TEST(UpdateRun, WaitsForTheLinkAndSevenTicksBeforeTheWorker) {
    std::string image = test::WriteSmallImage("update-run-wait.nb0", kOsCode2003, kModelByteAdvanced);
    UpdatePage page(RunMode::kUpdate, image, Handheld2003());
    page.StartAndWait(6);
    EXPECT_EQ(page.launches, 0);
    EXPECT_EQ(page.view.armed.count(kWaitTimer), 1u);
    // The handheld is restarting: the animation keeps turning for as long.
    page.device.connected = 0;
    for (int i = 0; i < 40; ++i) {
        page.run.OnTimer(kWaitTimer);
    }
    EXPECT_EQ(page.launches, 0);
    EXPECT_EQ(page.view.texts[run_control::kStatusLine], SpinnerText(page.run.SpinnerCount() - 1));
    page.device.connected = 1;
    page.run.OnTimer(kWaitTimer);
    EXPECT_EQ(page.launches, 1);
    EXPECT_EQ(page.run.ActiveTimer(), kAnimationTimer);
    EXPECT_EQ(page.view.armed.count(kWaitTimer), 0u);
    EXPECT_EQ(page.view.armed.at(kAnimationTimer), 500u);
    EXPECT_TRUE(page.view.shownControls[run_control::kOverallBar]);
    EXPECT_TRUE(page.view.shownControls[run_control::kFileBar]);

    // Link up from the start: the worker starts on the seventh tick.
    UpdatePage quick(RunMode::kUpdate, image, Handheld2003());
    quick.StartAndWait(6);
    EXPECT_EQ(quick.launches, 0);
    quick.run.OnTimer(kWaitTimer);
    EXPECT_EQ(quick.launches, 1);

    // A thread that cannot be made.
    RecordingPageView view;
    FakeHandheldPort device;
    WorkerSlot failing([](std::function<void()>) { return false; });
    UpdateRunController run(view, device, failing, RunMode::kUpdate, image, Handheld2003());
    run.Init();
    run.OnTimer(kStartTimer);
    for (int i = 0; i < 7; ++i) {
        run.OnTimer(kWaitTimer);
    }
    EXPECT_EQ(view.events, std::vector<std::string>{"box Error: Thread Create Failed.. (no owner)"});
    EXPECT_EQ(view.endResult, 2);
}

TEST(UpdateRun, ProgressTextsAndTheHandheldScreenEveryFifthMessage) {
    std::string image = test::WriteSmallImage("update-run-progress.nb0", kOsCode2003, kModelByteAdvanced);
    UpdatePage page(RunMode::kUpdate, image, Handheld2003());
    page.StartAndWait(7);
    page.run.OnTimer(kAnimationTimer);  // still animating: no progress yet
    uint32_t spin = page.run.SpinnerCount();
    page.run.OnMessage(WM_OVERALL_PROGRESS, 5242880, 31981568);
    EXPECT_EQ(page.view.bars[run_control::kOverallBar], 16u);
    page.run.OnTimer(kAnimationTimer);
    EXPECT_EQ(page.run.SpinnerCount(), spin) << "the animation stops with the first progress";

    uint32_t before = UpdateRunController::DeviceTextCounter();
    for (uint32_t i = 1; i <= 10; ++i) {
        page.run.OnMessage(WM_FILE_PROGRESS, i * 16384, 3145728);
    }
    EXPECT_EQ(page.view.bars[run_control::kFileBar], 163840u / 31457u);
    uint32_t percent = (163840u + 5242880u) / (31981568u / 100u);
    EXPECT_EQ(page.view.texts[run_control::kStatusLine],
              Text(string_id::kCopyingFiles) + std::to_string(percent) + " %");
    EXPECT_EQ(UpdateRunController::DeviceTextCounter(), before + 10);
    size_t expected = 0;
    for (uint32_t c = before; c < before + 10; ++c) {
        expected += c % 5 == 0 ? 1 : 0;
    }
    ASSERT_EQ(page.device.deviceTexts.size(), expected);
    EXPECT_EQ(page.device.deviceTexts[0], Text(string_id::kDeviceTextUpdateCopy));
    EXPECT_TRUE(Called(page.device, "text " + std::to_string(0xBE042000u) + " 0"));

    // An unknown memory class never shows text, but the counter still runs.
    DeviceInfo unknown = Handheld2003();
    unknown.MemoryConfig = 0;
    UpdatePage quiet(RunMode::kRestore, image, unknown);
    quiet.StartAndWait(7);
    uint32_t start = UpdateRunController::DeviceTextCounter();
    quiet.run.OnMessage(WM_OVERALL_PROGRESS, 0, 1000000);
    for (int i = 0; i < 6; ++i) {
        quiet.run.OnMessage(WM_FILE_PROGRESS, 16384, 1000000);
    }
    EXPECT_TRUE(quiet.device.deviceTexts.empty());
    EXPECT_EQ(UpdateRunController::DeviceTextCounter(), start + 6);
}

TEST(UpdateRun, CompletionRestartsIntoTheFlasherAndLabelsTheFinalButton) {
    namespace s = string_id;
    std::string image2003 = test::WriteSmallImage("update-run-2003.nb0", kOsCode2003, kModelByteAdvanced);
    std::string image2002 = test::WriteSmallImage("update-run-2002.nb0", kOsCode2002, kModelByteAdvanced);
    {
        UpdatePage page(RunMode::kUpdate, image2003, Handheld2003());
        page.StartAndWait(7);
        page.run.OnMessage(WM_RUN_COMPLETE, 0, 0);
        EXPECT_EQ(page.run.ActiveTimer(), 0u);
        EXPECT_TRUE(page.view.armed.empty());
        EXPECT_EQ(page.device.Calls().back(), "warm-reset 1");
        EXPECT_EQ(page.view.title, Text(s::kUpdateDoneTitle));
        EXPECT_EQ(page.view.texts[run_control::kHeading], Text(s::kCopyComplete));
        EXPECT_EQ(page.view.texts[run_control::kExplanation], Text(s::kUpdateFinishing));
        EXPECT_EQ(page.view.texts[run_control::kFinalButton], Text(s::kExitButton));
        EXPECT_FALSE(page.view.shownControls[run_control::kOverallBar]);
        EXPECT_TRUE(page.view.enabledControls[run_control::kFinalButton]);
        page.run.OnCommand(run_control::kFinalButton);
        EXPECT_EQ(page.view.endResult, 1);
        EXPECT_TRUE(page.view.events.empty());
    }
    {
        // Restoring a Pocket PC 2002 backup onto a 2003 handheld changes the
        // generation: "&Next >" and the restore form of the notice.
        UpdatePage page(RunMode::kRestore, image2002, Handheld2003());
        page.StartAndWait(7);
        page.run.OnMessage(WM_RUN_COMPLETE, 0, 0);
        EXPECT_EQ(page.view.title, Text(s::kRestoreDoneTitle));
        EXPECT_EQ(page.view.texts[run_control::kExplanation], Text(s::kRestoreFinishing));
        EXPECT_EQ(page.view.texts[run_control::kFinalButton], Text(s::kNextButton));
        page.run.OnCommand(run_control::kFinalButton);
        EXPECT_EQ(page.view.events, (std::vector<std::string>{"hide", "dialog 150"}));
        EXPECT_EQ(page.view.endResult, 1);
    }
}

TEST(UpdateRun, FailuresColdRestartAReachableHandheldAndTellWhy) {
    namespace s = string_id;
    std::string image = test::WriteSmallImage("update-run-fail.nb0", kOsCode2003, kModelByteAdvanced);
    {
        UpdatePage page(RunMode::kUpdate, image, Handheld2003());
        page.StartAndWait(7);
        page.device.ClearCalls();
        page.run.OnMessage(WM_VERIFY_FAILED, 0, 0);
        EXPECT_EQ(page.device.Calls(), (std::vector<std::string>{"install", "cold-reset"}));
        EXPECT_EQ(page.view.events,
                  std::vector<std::string>{"box " + Text(s::kCaution) + ": " + Text(s::kReflashCorrupt)});
        EXPECT_EQ(page.view.endResult, 2);
        EXPECT_TRUE(page.view.armed.empty());
    }
    {
        UpdatePage page(RunMode::kUpdate, image, Handheld2003());
        page.StartAndWait(7);
        page.device.ClearCalls();
        page.device.connected = 0;
        page.run.OnMessage(WM_RUN_FAILED, 0, 0);
        EXPECT_TRUE(page.device.Calls().empty()) << "an unreachable handheld is left alone";
        EXPECT_EQ(page.view.events,
                  std::vector<std::string>{"box " + Text(s::kCaution) + ": " + Text(s::kCopyIncomplete)});
    }
    {
        UpdatePage page(RunMode::kUpdate, image, Handheld2003());
        page.run.Init();
        page.run.OnClose();
        EXPECT_EQ(page.view.endResult, 0);
        page.run.Destroy();
        EXPECT_TRUE(page.view.armed.empty());
    }
}

class UpdateWorkerTest : public ::testing::Test {
  protected:
    void SetUp() override { SetTimeScale(0); }
    void TearDown() override { SetTimeScale(0.01); }

    int Run(FakeHandheldPort& device, RunMode mode, uint8_t osCode) {
        UpdateWorkerInput input;
        input.imagePath = "/images/rom.nb0";
        input.header.SetByte(header_offset::kOsCode, osCode);
        input.header.SetByte(header_offset::kModelByte, kModelByteAdvanced);
        input.header.SetText(header_offset::kRomName, "A03", 8);
        input.mode = mode;
        std::atomic<int> result{1};
        std::atomic<bool> done{false};
        WorkerSlot slot;
        slot.Start(sink, [&](WorkerContext& context) {
            result = RunUpdateWorker(context, device, input);
            done = true;
        });
        for (int i = 0; i < 5000 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        slot.Stop(0);
        return result;
    }

    std::vector<uint32_t> Ends() {
        std::vector<uint32_t> ends;
        for (const auto& p : sink.Take()) {
            if (p.message == WM_RUN_COMPLETE || p.message == WM_RUN_FAILED || p.message == WM_VERIFY_FAILED) {
                ends.push_back(p.message);
            }
        }
        return ends;
    }

    test::RecordingSink sink;
};

TEST_F(UpdateWorkerTest, RunsTheStepsInOrderAndPlansForTheFreshHandheld) {
    FakeHandheldPort device;
    device.info = Handheld2003();
    device.installResults = {-1, -1, -1, -1};  // the fifth attempt succeeds
    EXPECT_EQ(Run(device, RunMode::kRestore, kOsCode2003), 0);
    EXPECT_EQ(Ends(), std::vector<uint32_t>{WM_RUN_COMPLETE});
    std::vector<std::string> expected = {"install",       "install",   "install",  "install",
                                         "install",       "query",     "transfer", "remove-shortcuts",
                                         "place-reflash", "write-info"};
    EXPECT_EQ(device.Calls(), expected);
    EXPECT_EQ(device.lastMemoryConfig, kMemoryConfigAdvanced);
    EXPECT_EQ(device.lastPlan.Status[0], 1) << "restore mode";
    EXPECT_EQ(device.lastPlan.Status[1], 1);
    EXPECT_EQ(device.lastPlan.PSMStart, 0u) << "same generation keeps the built-in storage";
    EXPECT_STREQ(device.lastPlan.ROMNAME.data(), "2003(A03)");

    FakeHandheldPort crossing;
    crossing.info = Handheld2003();
    EXPECT_EQ(Run(crossing, RunMode::kUpdate, kOsCode2002), 0);
    EXPECT_EQ(crossing.lastPlan.PSMStart, 0xA1A00000u);
    EXPECT_EQ(crossing.lastPlan.PSMLength, 0x1600000u);
    EXPECT_EQ(crossing.lastPlan.Status[0], 0);
    Ends();
}

TEST_F(UpdateWorkerTest, EveryFailurePostsTheRightEnd) {
    {
        FakeHandheldPort device;
        device.installResults = {-1, -1, -1, -1, -1};
        EXPECT_EQ(Run(device, RunMode::kUpdate, kOsCode2003), -1);
        EXPECT_EQ(Ends(), std::vector<uint32_t>{WM_RUN_FAILED});
        EXPECT_EQ(device.Count("install"), 5);
    }
    {
        FakeHandheldPort device;
        device.connected = 0;  // no attempt at all
        EXPECT_EQ(Run(device, RunMode::kUpdate, kOsCode2003), -1);
        EXPECT_EQ(Ends(), std::vector<uint32_t>{WM_RUN_FAILED});
        EXPECT_TRUE(device.Calls().empty());
    }
    {
        FakeHandheldPort device;
        device.transferResult = kPartNotConfirmed;
        Run(device, RunMode::kUpdate, kOsCode2003);
        EXPECT_EQ(Ends(), std::vector<uint32_t>{WM_VERIFY_FAILED});
        EXPECT_FALSE(Called(device, "place-reflash"));
    }
    {
        FakeHandheldPort device;
        device.transferResult = kDeviceCopyFailed;
        Run(device, RunMode::kUpdate, kOsCode2003);
        EXPECT_EQ(Ends(), std::vector<uint32_t>{WM_RUN_FAILED});
    }
    {
        FakeHandheldPort device;
        device.writeInfoResult = kResultFail;
        Run(device, RunMode::kUpdate, kOsCode2003);
        EXPECT_EQ(Ends(), std::vector<uint32_t>{WM_RUN_FAILED});
    }
    {
        FakeHandheldPort device;
        device.placeResult = -1;
        Run(device, RunMode::kUpdate, kOsCode2003);
        EXPECT_EQ(Ends(), std::vector<uint32_t>{WM_RUN_FAILED});
        EXPECT_FALSE(Called(device, "write-info"));
    }
}

}  // namespace
}  // namespace nuva
