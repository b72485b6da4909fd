#include "setup/frame/dialog_kit.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {
namespace {

struct ShownReason {
    int mode;
    ReasonFlags flags;
};

class FakeView : public DialogView {
  public:
    void ArmTimer(uint32_t id, uint32_t periodMs) override { armed[id] = periodMs; }
    void KillTimer(uint32_t id) override { armed.erase(id); }
    void EnableControl(uint32_t control, bool enabled) override { enabledControls[control] = enabled; }
    void Beep(uint32_t type) override { beeps.push_back(type); }
    void ShowReason(int reasonMode, const ReasonFlags& reasons) override {
        shown.push_back({reasonMode, reasons});
    }
    void EndDialog(int result) override { ended.push_back(result); }

    bool Armed(uint32_t id) const { return armed.count(id) == 1; }

    std::map<uint32_t, uint32_t> armed;
    std::map<uint32_t, bool> enabledControls;
    std::vector<uint32_t> beeps;
    std::vector<ShownReason> shown;
    std::vector<int> ended;
};

class FakeDevice : public DialogDevice {
  public:
    bool IsConnected() const override { return connected; }
    uint32_t QueryDeviceInfo(DeviceInfo* out) override {
        ++queries;
        if (failQueries > 0) {
            --failQueries;
            return 0x80004005;
        }
        *out = info;
        return 0;
    }

    bool connected = true;
    int failQueries = 0;
    int queries = 0;
    DeviceInfo info;
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
    EXPECT_TRUE(view.ended.empty());

    // A tick without the link, or without an answer, ends the caution with 2.
    device.connected = false;
    caution.OnTimer(kTimer);
    EXPECT_EQ(view.ended, std::vector<int>{2});
    EXPECT_FALSE(view.Armed(kTimer));

    FakeView view2;
    FakeDevice silent;
    silent.failQueries = 1;
    Caution caution2(view2, silent, Caution::Mode::kUpdateOrBackup);
    caution2.Init();
    caution2.OnTimer(kTimer);
    EXPECT_EQ(view2.ended, std::vector<int>{2});
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
        caution.OnContinue();
        EXPECT_EQ(view.ended, std::vector<int>{c.result});
        if (c.reasonMode < 0) {
            EXPECT_TRUE(view.shown.empty());
            EXPECT_EQ(caution.LastContinue(), Caution::ContinueOutcome::kAccepted);
        } else {
            ASSERT_EQ(view.shown.size(), 1u);
            EXPECT_EQ(view.shown[0].mode, c.reasonMode);
            EXPECT_TRUE(view.shown[0].flags.lowBattery);
            EXPECT_FALSE(view.shown[0].flags.noAcPower);
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
    caution.OnContinue();
    ASSERT_EQ(view.shown.size(), 1u);
    EXPECT_TRUE(view.shown[0].flags.noAcPower);
    EXPECT_FALSE(view.shown[0].flags.lowBattery);
    EXPECT_EQ(view.shown[0].mode, 2);
    EXPECT_TRUE(view.ended.empty());
    EXPECT_TRUE(caution.Closing());
    EXPECT_TRUE(view.Armed(kTimer));

    // The restarted timer fires once more, watches only the link and is not
    // armed again; Continue keeps its state.
    int queries = device.queries;
    caution.OnTimer(kTimer);
    EXPECT_EQ(device.queries, queries);
    EXPECT_FALSE(view.Armed(kTimer));
    EXPECT_TRUE(caution.ContinueEnabled());
    EXPECT_TRUE(view.ended.empty());

    // Pressed again with the adapter back and a good battery: done.
    device.info.AcOnline = 1;
    device.info.BatteryPercent = 55;
    caution.OnContinue();
    EXPECT_EQ(view.ended, std::vector<int>{1});
}

TEST(EraseCaution, FailedQueryOnContinueBeepsAndCancelStopsTheTimer) {
    FakeView view;
    FakeDevice device;
    device.info.AcOnline = 1;
    device.info.BatteryPercent = 90;
    Caution caution(view, device, Caution::Mode::kUpdateOrBackup);
    caution.Init();
    caution.OnTimer(kTimer);
    device.failQueries = 1;
    caution.OnContinue();
    EXPECT_EQ(view.beeps, std::vector<uint32_t>{kBeepQuestion});
    EXPECT_TRUE(view.shown.empty());
    EXPECT_TRUE(view.ended.empty());
    EXPECT_TRUE(view.Armed(kTimer));

    caution.OnCancel();
    EXPECT_EQ(view.ended, std::vector<int>{2});
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
    EXPECT_TRUE(view.ended.empty());
    device.connected = false;
    notice.OnTimer(kTimer);
    EXPECT_EQ(view.ended, std::vector<int>{4});
    EXPECT_FALSE(view.Armed(kTimer));

    for (bool proceed : {true, false}) {
        FakeView v;
        FakeDevice d;
        OsChangeNoticeController n(v, d);
        n.Init();
        proceed ? n.OnContinue() : n.OnCancel();
        EXPECT_EQ(v.ended, std::vector<int>{proceed ? 1 : 2});
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
