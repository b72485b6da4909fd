#include "setup/frame/dialog_kit.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "formats/result_codes.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tests/setup/support/recording_view.h"

namespace nuva {
namespace {

struct ShownReason {
    int mode;
    ReasonFlags flags;
};

// The recording view, with the reason dialogs it opened and the results
// its dialog was ended with.
class FakeView : public test::RecordingPageView {
  public:
    std::vector<ShownReason> Shown() const {
        std::vector<ShownReason> shown;
        for (const Nested& n : nested) {
            if (auto* reason = dynamic_cast<const ReasonController*>(n.controller.get())) {
                shown.push_back({reason->ReasonMode(), reason->Reasons()});
            }
        }
        return shown;
    }
    std::vector<int> Ended() const { return ends; }
    std::vector<uint32_t> Beeps() const {
        std::vector<uint32_t> beeps;
        for (const std::string& e : events) {
            if (e.rfind("beep ", 0) == 0) {
                beeps.push_back(static_cast<uint32_t>(std::stoul(e.substr(5))));
            }
        }
        return beeps;
    }
};

class FakeDevice : public test::FakeHandheldPort {
  public:
    void FailQueries(int n) {
        for (int i = 0; i < n; ++i) {
            queryAnswers.push_back({kResultFail, {}});
        }
    }
    int Queries() { return Count("query"); }
};

using Caution = EraseCautionController;
constexpr uint32_t kTimer = kDialogWatchTimer;

TEST(EraseCaution, ContinueFollowsTheAcAdapterTickByTick) {
    FakeView view;
    FakeDevice device;
    device.info.AcOnline = 0;
    device.info.BatteryPercent = 80;
    Caution caution(view, device, Caution::Mode::kUpdateOrBackup);
    caution.Init();
    EXPECT_FALSE(view.enabledControls.at(Caution::kContinueButton));
    EXPECT_EQ(view.armed.at(kTimer), 500u);
    EXPECT_TRUE(caution.TimerRunning());

    // On battery: every tick keeps Continue disabled and re-arms the timer.
    for (int i = 0; i < 3; ++i) {
        caution.OnTimer(kTimer);
        EXPECT_FALSE(caution.ContinueEnabled());
        EXPECT_TRUE(view.Armed(kTimer));
    }
    // The adapter goes in: the very next tick enables Continue.
    device.info.AcOnline = 1;
    caution.OnTimer(kTimer);
    EXPECT_TRUE(view.enabledControls.at(Caution::kContinueButton));
    // And out again: the next tick disables it.
    device.info.AcOnline = 0;
    caution.OnTimer(kTimer);
    EXPECT_FALSE(view.enabledControls.at(Caution::kContinueButton));
    EXPECT_TRUE(view.Ended().empty());

    // A tick without the link, or without an answer, ends the caution with 2.
    device.connected = 0;
    caution.OnTimer(kTimer);
    EXPECT_EQ(view.Ended(), std::vector<int>{2});
    EXPECT_FALSE(view.Armed(kTimer));

    FakeView view2;
    FakeDevice silent;
    silent.FailQueries(1);
    Caution caution2(view2, silent, Caution::Mode::kUpdateOrBackup);
    caution2.Init();
    caution2.OnTimer(kTimer);
    EXPECT_EQ(view2.Ended(), std::vector<int>{2});
    EXPECT_FALSE(caution2.TimerRunning());
}

TEST(EraseCaution, BatteryRuleOnContinueIsUnsignedAndAtLeastForty) {
    struct Case {
        uint32_t battery;
        Caution::Mode mode;
        int result;      // -1: the dialog stays
        int reasonMode;  // -1: no reason shown
    };
    const Case cases[] = {
        {40, Caution::Mode::kUpdateOrBackup, 1, -1},
        {100, Caution::Mode::kRestore, 1, -1},
        {kBatteryUnknown, Caution::Mode::kUpdateOrBackup, 1, -1},
        {39, Caution::Mode::kUpdateOrBackup, 2, 0},
        {0, Caution::Mode::kRestore, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.battery);
        FakeView view;
        FakeDevice device;
        device.info.AcOnline = 1;
        device.info.BatteryPercent = c.battery;
        Caution caution(view, device, c.mode);
        caution.Init();
        caution.OnTimer(kTimer);
        ASSERT_TRUE(caution.ContinueEnabled());
        caution.OnCommand(Caution::kContinueButton);
        EXPECT_EQ(view.Ended(), std::vector<int>{c.result});
        if (c.reasonMode < 0) {
            EXPECT_TRUE(view.Shown().empty());
            EXPECT_EQ(caution.LastContinue(), Caution::ContinueOutcome::kAccepted);
        } else {
            ASSERT_EQ(view.Shown().size(), 1u);
            EXPECT_EQ(view.Shown()[0].mode, c.reasonMode);
            EXPECT_TRUE(view.Shown()[0].flags.lowBattery);
            EXPECT_FALSE(view.Shown()[0].flags.noAcPower);
            EXPECT_EQ(caution.LastContinue(), Caution::ContinueOutcome::kLowBattery);
        }
        EXPECT_FALSE(view.Armed(kTimer));
    }
}

TEST(EraseCaution, AdapterPulledBeforeContinueShowsTheAcReasonAndStays) {
    FakeView view;
    FakeDevice device;
    device.info.AcOnline = 1;
    device.info.BatteryPercent = 10;  // the AC reason comes first
    Caution caution(view, device, Caution::Mode::kRestore);
    caution.Init();
    caution.OnTimer(kTimer);
    ASSERT_TRUE(caution.ContinueEnabled());

    device.info.AcOnline = 0;
    caution.OnCommand(Caution::kContinueButton);
    ASSERT_EQ(view.Shown().size(), 1u);
    EXPECT_TRUE(view.Shown()[0].flags.noAcPower);
    EXPECT_FALSE(view.Shown()[0].flags.lowBattery);
    EXPECT_EQ(view.Shown()[0].mode, 2);
    EXPECT_TRUE(view.Ended().empty());
    EXPECT_TRUE(caution.Closing());
    EXPECT_TRUE(view.Armed(kTimer));

    // The restarted timer fires once more, watches only the link and is not
    // armed again; Continue keeps its state.
    int queries = device.Queries();
    caution.OnTimer(kTimer);
    EXPECT_EQ(device.Queries(), queries);
    EXPECT_FALSE(view.Armed(kTimer));
    EXPECT_TRUE(caution.ContinueEnabled());
    EXPECT_TRUE(view.Ended().empty());

    // Pressed again with the adapter back and a good battery: done.
    device.info.AcOnline = 1;
    device.info.BatteryPercent = 55;
    caution.OnCommand(Caution::kContinueButton);
    EXPECT_EQ(view.Ended(), std::vector<int>{1});
}

TEST(EraseCaution, FailedQueryOnContinueBeepsAndCancelStopsTheTimer) {
    FakeView view;
    FakeDevice device;
    device.info.AcOnline = 1;
    device.info.BatteryPercent = 90;
    Caution caution(view, device, Caution::Mode::kUpdateOrBackup);
    caution.Init();
    caution.OnTimer(kTimer);
    device.FailQueries(1);
    caution.OnCommand(Caution::kContinueButton);
    EXPECT_EQ(view.Beeps(), std::vector<uint32_t>{kBeepQuestion});
    EXPECT_TRUE(view.Shown().empty());
    EXPECT_TRUE(view.Ended().empty());
    EXPECT_TRUE(view.Armed(kTimer));

    caution.OnCommand(Caution::kCancelButton);
    EXPECT_EQ(view.Ended(), std::vector<int>{2});
    EXPECT_FALSE(view.Armed(kTimer));
    EXPECT_FALSE(caution.TimerRunning());

    // Destruction with a running timer stops it.
    FakeView view2;
    Caution open(view2, device, Caution::Mode::kRestore);
    open.Init();
    open.Destroy();
    EXPECT_FALSE(view2.Armed(kTimer));
}

TEST(OsChangeNotice, EndsWithOneTwoOrFourAndNeverLeavesItsTimer) {
    FakeView view;
    FakeDevice device;
    OsChangeNoticeController notice(view, device);
    notice.Init();
    EXPECT_EQ(view.armed.at(kTimer), 500u);
    notice.OnTimer(kTimer);
    EXPECT_TRUE(view.Ended().empty());
    device.connected = 0;
    notice.OnTimer(kTimer);
    EXPECT_EQ(view.Ended(), std::vector<int>{4});
    EXPECT_FALSE(view.Armed(kTimer));

    for (bool proceed : {true, false}) {
        FakeView v;
        FakeDevice d;
        OsChangeNoticeController n(v, d);
        n.Init();
        n.OnCommand(proceed ? OsChangeNoticeController::kContinueButton
                            : OsChangeNoticeController::kCancelButton);
        EXPECT_EQ(v.Ended(), std::vector<int>{proceed ? 1 : 2});
        EXPECT_FALSE(v.Armed(kTimer));
    }
    EXPECT_EQ(OsChangeNoticeText(),
              LoadString(string_id::kOsChangeNotice1) + LoadString(string_id::kOsChangeNotice2));
    EXPECT_NE(OsChangeNoticeText().find("\n\n2. You lose all built-in storage data"), std::string::npos);
}

TEST(ReasonDialog, HeadingByModeAndLinesInTheirFixedOrder) {
    EXPECT_EQ(ReasonHeadingId(0), 159u);
    EXPECT_EQ(ReasonHeadingId(1), 160u);
    EXPECT_EQ(ReasonHeadingId(2), 161u);
    EXPECT_EQ(ReasonHeadingId(7), 137u);
    EXPECT_EQ(ReasonHeadingId(-1), 137u);

    ReasonFlags none;
    EXPECT_EQ(ReasonListText(none, "ignored"), "");

    // Set in reverse order; the text follows the dialog's order, not ours.
    ReasonFlags all;
    all.diskSpace = all.otherDevice = all.downgrade = all.sameRom = true;
    all.language = all.lowBattery = all.noAcPower = true;
    const std::string downgrade =
        "* You cannot downgrade Microsoft Pocket PC 2003(A03) to Pocket PC 2002(A00).\n";
    EXPECT_EQ(
        ReasonListText(all, downgrade),
        "* The AC adapter is not connected.\n"
        "* Battery power is less than 40%.\n"
        "* The update does not support this language version.\n"
        "* The update is the same as your current ROM image. You do not need to update your Pocket PC.\n" +
            downgrade +
            "* You can only restore the ROM image to the same device from which it was originally saved.\n"
            "* Insufficient disk space for saving the ROM image. Ensure that you have at least 32 MB of "
            "free space on the disk that you specified.\n");

    ReasonFlags space;
    space.diskSpace = true;
    EXPECT_EQ(ReasonListText(space), LoadString(string_id::kReasonDiskSpace));
}

TEST(SharedDialogs, OpenedOverTheirOwnerWithTheirTextsAndButtons) {
    FakeView owner;
    ReasonFlags battery;
    battery.lowBattery = true;
    owner.dialogResults[dialog_id::kReason] = {};
    ShowReason(owner, 1, battery);
    const FakeView::Nested* reason = owner.LastNested(dialog_id::kReason);
    ASSERT_NE(reason, nullptr);
    EXPECT_EQ(reason->view->texts.at(ReasonController::kHeading), LoadString(160));
    EXPECT_EQ(reason->view->texts.at(ReasonController::kReasonList), "* Battery power is less than 40%.\n");
    // Its OK button has the Cancel identifier.
    reason->controller->OnCommand(kIdCancel);
    EXPECT_EQ(reason->view->endResult, 2);

    owner.dialogResults[dialog_id::kConnectionLost] = {1};
    EXPECT_EQ(ShowConnectionLost(owner, 2), 1);
    const FakeView::Nested* lost = owner.LastNested(dialog_id::kConnectionLost);
    EXPECT_EQ(lost->view->texts.at(ConnectionLostController::kHeading), LoadString(139));
    EXPECT_EQ(lost->view->events, std::vector<std::string>{"frame 1048 255,0,0 +1"});
    lost->controller->OnCommand(kIdOk);
    EXPECT_EQ(lost->view->endResult, 1);

    owner.dialogResults[dialog_id::kWrongModel] = {1};
    ShowWrongModel(owner);
    const FakeView::Nested* wrong = owner.LastNested(dialog_id::kWrongModel);
    wrong->controller->OnEscape();
    wrong->controller->OnClose();
    EXPECT_FALSE(wrong->view->endResult) << "only OK closes it";
    wrong->controller->OnCommand(kIdOk);
    EXPECT_EQ(wrong->view->endResult, 1);

    owner.dialogResults[dialog_id::kCompletionNotice] = {2};
    ShowCompletionNotice(owner, 0, true);
    const FakeView::Nested* done = owner.LastNested(dialog_id::kCompletionNotice);
    EXPECT_EQ(done->view->title, "Restore complete!");
    EXPECT_EQ(done->view->texts.at(CompletionNoticeController::kText), LoadString(113));
    EXPECT_TRUE(done->view->Shown(1073));
    EXPECT_FALSE(done->view->Shown(1071));

    // The string-table boxes belong to the page; the two "Error" boxes have
    // no owner.
    ShowMessage(owner, MessageBoxKind::kImageCorrupt);
    ShowMessage(owner, MessageBoxKind::kOutOfMemory);
    EXPECT_EQ(owner.events.end()[-2], "box Caution: " + LoadString(135));
    EXPECT_EQ(owner.events.end()[-1], "box Error: Memory Allocate Faile (no owner)");
}

TEST(CompletionNotice, CaptionTextAndPictureByModeAndTarget) {
    CompletionNotice update2002 = CompletionNoticeFor(1, true);
    EXPECT_EQ(LoadString(update2002.captionId), "Update complete!");
    EXPECT_EQ(update2002.textId, 112u);
    EXPECT_EQ(update2002.picture, 3);
    EXPECT_EQ(update2002.shownPicture, 1073u);
    EXPECT_EQ(update2002.hiddenPicture, 1071u);

    CompletionNotice restore2003 = CompletionNoticeFor(0, false);
    EXPECT_EQ(LoadString(restore2003.captionId), "Restore complete!");
    EXPECT_EQ(restore2003.textId, 113u);
    EXPECT_EQ(restore2003.picture, 4);
    EXPECT_EQ(restore2003.shownPicture, 1071u);
    EXPECT_EQ(restore2003.hiddenPicture, 1073u);

    MessageBoxTexts thread = MessageBoxFor(MessageBoxKind::kThreadFailed);
    EXPECT_EQ(thread.caption, "Error");
    EXPECT_FALSE(thread.owned);
    MessageBoxTexts copy = MessageBoxFor(MessageBoxKind::kCopyIncomplete);
    EXPECT_EQ(copy.text, "Copy incomplete! The reflash  procedure CANNOT proceed.");
    EXPECT_EQ(copy.caption, "Caution");
    EXPECT_TRUE(copy.owned);
}

}  // namespace
}  // namespace nuva
