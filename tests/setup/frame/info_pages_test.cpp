#include "setup/frame/info_pages.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/settings.h"
#include "tests/setup/device/scripted_image_files.h"
#include "tests/setup/frame/page_test_support.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tests/setup/support/recording_view.h"

namespace nuva {
namespace {

using namespace test;
using Calls = std::vector<std::string>;
using Update = UpdateInfoPage;
using Restore = RestoreInfoPage;
using Texts = std::map<uint32_t, std::string>;

const std::string kBatteryLine = "* Battery power is less than 40%.\n";

// The labels and values of both columns, which both pages draw red.
std::set<uint32_t> RedTexts() {
    std::set<uint32_t> ids;
    for (uint32_t id = 1016; id <= 1018; ++id) {
        ids.insert(id);
    }
    for (uint32_t id = 1050; id <= 1054; ++id) {
        ids.insert(id);
    }
    for (uint32_t id = 1056; id <= 1063; ++id) {
        ids.insert(id);
    }
    return ids;
}

std::set<uint32_t> Coloured(const RecordingPageView& view, Rgb colour) {
    std::set<uint32_t> ids;
    for (const auto& [id, c] : view.colours) {
        if (c == colour) {
            ids.insert(id);
        }
    }
    return ids;
}

// The texts set on one column's value controls, and whether all four show.
Texts ColumnTexts(const RecordingPageView& view, const InfoColumnControls& column) {
    Texts texts;
    for (uint32_t id : {column.model, column.romVersion, column.osVersion, column.language}) {
        if (view.texts.count(id) != 0) {
            texts[id] = view.texts.at(id);
        }
    }
    return texts;
}
bool ColumnShown(const RecordingPageView& view, const InfoColumnControls& column) {
    return view.Shown(column.model) && view.Shown(column.romVersion) && view.Shown(column.osVersion) &&
           view.Shown(column.language);
}

// The reason list the last ReasonDialog showed.
std::string ReasonShown(const RecordingPageView& view) {
    const RecordingPageView::Nested* reason = view.LastNested(dialog_id::kReason);
    return reason == nullptr ? "" : reason->view->texts.at(ReasonController::kReasonList);
}

struct UpdateOnScreen {
    FakeHandheldPort port;
    ScriptedImageFiles files{port};
    RecordingPageView view;
    UpdateInfoPageFields fields;
    UpdateInfoPage page{view, port, files, fields};

    void OpenAndCheck() {
        page.Init();
        view.DeliverPosted(page);
    }
};

TEST(UpdateInfoPage, ShowsTheHandheldBesideTheImageAndOffersNext) {
    UpdateOnScreen s;
    s.port.info.BatteryPercent = 80;
    s.fields.deviceDataValid = 1;  // left from an earlier showing
    s.page.Init();
    EXPECT_EQ(Coloured(s.view, kRed), RedTexts());
    EXPECT_EQ(s.fields.deviceDataValid, 0) << "cleared when the page opens";
    EXPECT_EQ(s.files.Log(), Calls{});

    EXPECT_EQ(s.view.DeliverPosted(s.page), 1);
    EXPECT_EQ(s.files.Log(),
              (Calls{"install", "query", "locate high", "check /install/rom-h.nb0", "version"}));
    EXPECT_EQ(ColumnTexts(s.view, kDeviceColumn), (Texts{{1016, "Brel Nuva Q7 Advanced"},
                                                         {1017, "A02(03050300EN)"},
                                                         {1051, "Microsoft POCKET PC 2003"},
                                                         {1018, "English"}}));
    EXPECT_EQ(ColumnTexts(s.view, kImageColumn), (Texts{{1050, "Brel Nuva Q7 Advanced"},
                                                        {1052, "A03(04100300EN)"},
                                                        {1053, "Microsoft POCKET PC 2003"},
                                                        {1054, "English"}}));
    EXPECT_TRUE(ColumnShown(s.view, kDeviceColumn));
    EXPECT_TRUE(ColumnShown(s.view, kImageColumn));
    EXPECT_TRUE(s.view.Enabled(kDeviceColumn.model));

    // What the wizard takes from the page.
    EXPECT_EQ(s.fields.deviceDataValid, 1);
    EXPECT_EQ(s.fields.imageDataValid, 1);
    EXPECT_EQ(s.fields.deviceInfo, s.port.info);
    EXPECT_EQ(s.fields.header, s.files.header);
    EXPECT_EQ(s.fields.imagePath, "/install/rom-h.nb0");

    EXPECT_TRUE(s.view.Enabled(Update::kNextButton));
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 500}}));
    s.page.OnCommand(Update::kNextButton);
    EXPECT_EQ(s.files.Log().back(), "query") << "Next asks the handheld again";
    EXPECT_EQ(s.view.endResult, 1003);
    EXPECT_FALSE(s.view.Armed(100));
}

TEST(UpdateInfoPage, OsTextComesFromTheHandheldsVersionCall) {
    {
        UpdateOnScreen s;
        s.port.osMajor = 3;  // the agent's record still says 4
        s.OpenAndCheck();
        EXPECT_EQ(s.view.texts.at(kDeviceColumn.osVersion), "Microsoft POCKET PC 2002");
    }
    {
        UpdateOnScreen s;
        s.port.osMajor.reset();
        s.OpenAndCheck();
        EXPECT_EQ(s.view.texts.at(kDeviceColumn.osVersion), "Microsoft POCKET PC ");
    }
}

TEST(UpdateInfoPage, NextHoldsTheBatteryRule) {
    UpdateOnScreen s;
    s.OpenAndCheck();
    DeviceInfo low = s.port.info;
    low.BatteryPercent = 39;
    DeviceInfo unknown = s.port.info;
    unknown.BatteryPercent = kBatteryUnknown;
    s.port.queryAnswers = {{0, low}, {kResultFail, {}}, {0, unknown}};

    s.page.OnCommand(Update::kNextButton);
    EXPECT_EQ(ReasonShown(s.view), kBatteryLine);
    EXPECT_FALSE(s.view.endResult.has_value());
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 500}})) << "the timer runs again";

    s.page.OnCommand(Update::kNextButton);
    EXPECT_EQ(s.view.events.back(), "beep 32");
    EXPECT_FALSE(s.view.endResult.has_value());
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 500}}));

    // No level reported: the unsigned comparison lets it pass.
    s.page.OnCommand(Update::kNextButton);
    EXPECT_EQ(s.view.endResult, 1003);
    EXPECT_EQ(s.view.Opened(dialog_id::kReason), 1);
}

TEST(UpdateInfoPage, RefusalsShowOneMessageAndEnd) {
    struct Case {
        const char* what;
        void (*spoil)(UpdateOnScreen&);
        std::string shown;
        int result;
        bool columns;
    };
    const Case cases[] = {
        {"downgrade",
         [](UpdateOnScreen& x) {
             x.files.SetImage("11220200", kOsCode2002);
             x.files.header.SetText(header_offset::kRomName, "A00", 8);
         },
         "dialog 136", 3, true},
        {"same ROM", [](UpdateOnScreen& x) { x.files.SetImage("03050300", kOsCode2003); }, "dialog 136", 2,
         true},
        {"other model", [](UpdateOnScreen& x) { x.files.SetImage("04100300", kOsCode2003, kModelByteBasic); },
         "box Caution: The integrity check on the system image file failed. \nReinstall the Reflash program.",
         3, true},
        {"unsupported", [](UpdateOnScreen& x) { x.port.info.Supported = 0; }, "dialog 148", 3, false},
        {"agent not copied", [](UpdateOnScreen& x) { x.port.installResult = -1; },
         "box Caution: Copy incomplete! The reflash  procedure CANNOT proceed.", 3, false},
        {"no image",
         [](UpdateOnScreen& x) {
             x.files.image = {ImageLookup::kMissing, ""};
         },
         "box Caution: The Reflash file can not be found. Reinstall the Reflash .", 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateOnScreen s;
        c.spoil(s);
        s.OpenAndCheck();
        EXPECT_EQ(s.view.events, std::vector<std::string>{c.shown});
        EXPECT_EQ(s.view.ends, std::vector<int>{c.result});
        EXPECT_EQ(ColumnShown(s.view, kImageColumn), c.columns);
        EXPECT_EQ(s.fields.imageDataValid, c.columns ? 1 : 0);
        EXPECT_FALSE(s.view.Enabled(Update::kNextButton));
        EXPECT_TRUE(s.view.armed.empty());
    }

    // The downgrade line names both ROMs.
    UpdateOnScreen s;
    cases[0].spoil(s);
    s.OpenAndCheck();
    EXPECT_EQ(ReasonShown(s.view),
              "* You cannot downgrade Microsoft Pocket PC 2003(A02) to Pocket PC 2002(A00).\n");

    // Forced, the older image passes.
    int32_t savedForce = g_force;
    g_force = 1;
    UpdateOnScreen forced;
    cases[0].spoil(forced);
    forced.OpenAndCheck();
    EXPECT_TRUE(forced.view.Enabled(Update::kNextButton));
    g_force = savedForce;
}

TEST(UpdateInfoPage, BackupOptionFollowsTheWizard) {
    {
        UpdateOnScreen s;
        s.page.Init();
        EXPECT_TRUE(s.view.IsChecked(Update::kBackupOption));
        EXPECT_TRUE(s.view.Enabled(Update::kBackupOption));
        EXPECT_EQ(s.fields.backupOption, 1);
        // Every click is read back.
        s.view.checkedControls[Update::kBackupOption] = false;
        s.page.OnCommand(Update::kBackupOption);
        EXPECT_EQ(s.fields.backupOption, 0);
        s.view.checkedControls[Update::kBackupOption] = true;
        s.page.OnCommand(Update::kBackupOption);
        EXPECT_EQ(s.fields.backupOption, 1);
    }
    {
        // Shown again after a backup was made: as the user left it, but no
        // longer offered.
        UpdateOnScreen s;
        s.fields.backupOption = 0;
        s.fields.backupDone = 1;
        s.page.Init();
        EXPECT_FALSE(s.view.IsChecked(Update::kBackupOption));
        EXPECT_FALSE(s.view.Enabled(Update::kBackupOption));
        EXPECT_EQ(s.fields.backupOption, 0);
    }
}

TEST(UpdateInfoPage, BackAndCancel) {
    for (auto [press, result] : {std::pair{Update::kBackButton, 1004u}, std::pair{kIdCancel, 2u}}) {
        UpdateOnScreen s;
        s.OpenAndCheck();
        s.page.OnCommand(press);
        EXPECT_EQ(s.view.endResult, static_cast<int>(result));
        EXPECT_FALSE(s.view.Armed(100));
    }
    UpdateOnScreen s;
    s.OpenAndCheck();
    s.page.OnClose();
    EXPECT_EQ(s.view.endResult, 2);
}

TEST(UpdateInfoPage, LosingTheLinkEndsThePageWithinATick) {
    LanguageModule headings(kLostHeadingsModule);
    {
        UpdateOnScreen s;
        s.OpenAndCheck();
        EXPECT_TRUE(s.view.Tick(s.page, 100));
        EXPECT_FALSE(s.view.endResult.has_value());
        s.port.connected = 0;
        EXPECT_TRUE(s.view.Tick(s.page, 100));
        ExpectConnectionLost(s.view, 0);
        EXPECT_FALSE(s.view.Enabled(Update::kNextButton));
        EXPECT_EQ(s.fields.deviceDataValid, 0);
        EXPECT_EQ(s.fields.imageDataValid, 0);
        EXPECT_TRUE(s.view.armed.empty());
    }
    {
        UpdateOnScreen s;
        s.port.connected = 0;
        s.OpenAndCheck();
        ExpectConnectionLost(s.view, 0);
        EXPECT_EQ(s.files.Log(), Calls{});
        EXPECT_TRUE(s.view.armed.empty());
    }
}

TEST(UpdateInfoPage, ColumnsSpeakTheLanguageModule) {
    LanguageModule french(
        "140 \"Brel Nuva Q7 mod\xC3\xA8le %s\"\n119 \"Avanc\xC3\xA9\"\n121 \"Anglais\"\n"
        "141 \"%ls [%08x %s]\"\n145 \"Microsoft Pocket PC 2003 (fr)\"\n");
    UpdateOnScreen s;
    s.OpenAndCheck();
    EXPECT_EQ(ColumnTexts(s.view, kDeviceColumn), (Texts{{1016, "Brel Nuva Q7 mod\xC3\xA8le Avanc\xC3\xA9"},
                                                         {1017, "A02 [03050300 EN]"},
                                                         {1051, "Microsoft Pocket PC 2003 (fr)"},
                                                         {1018, "Anglais"}}));
    EXPECT_EQ(ColumnTexts(s.view, kImageColumn), (Texts{{1050, "Brel Nuva Q7 mod\xC3\xA8le Avanc\xC3\xA9"},
                                                        {1052, "A03(04100300EN)"},
                                                        {1053, "Microsoft Pocket PC 2003 (fr)"},
                                                        {1054, "Anglais"}}));
}

struct RestoreOnScreen {
    RestoreOnScreen() { files.SetBackupOfThisHandheld("11220200", kOsCode2002); }

    FakeHandheldPort port;
    ScriptedImageFiles files{port};
    RecordingPageView view;
    DeviceInfo info;  // the wizard's copy of the page's record
    std::unique_ptr<RestoreInfoPage> page =
        std::make_unique<RestoreInfoPage>(view, port, files, "/docs/old.RIS", info);

    // Opens the page and runs its check up to the sum.
    void OpenAndCheck() {
        page->Init();
        view.DeliverPosted(*page);
    }
    void OpenAndConclude() {
        OpenAndCheck();
        ASSERT_TRUE(DeliverUntil(view, *page, [this] {
            return view.Enabled(Restore::kRestoreButton) || view.endResult;
        })) << "the checks never concluded";
    }
};

TEST(RestoreInfoPage, SumsTheBackupBesideThePageThenOffersRestore) {
    RestoreOnScreen s;
    s.files.HoldSums();
    s.page->Init();
    EXPECT_EQ(Coloured(s.view, kRed), RedTexts());
    EXPECT_EQ(s.view.DeliverPosted(*s.page), 1);
    ASSERT_TRUE(s.files.WaitForSums(1));
    EXPECT_EQ(s.files.Log(),
              (Calls{"install", "query", "check /docs/old.RIS", "version", "sum /docs/old.RIS 27000832"}));

    // Both columns show while the contents are added up; the link is
    // watched, Restore waits.
    EXPECT_EQ(ColumnTexts(s.view, kImageColumn), (Texts{{1050, "Brel Nuva Q7 Advanced"},
                                                        {1052, "A03(11220200EN)"},
                                                        {1053, "Microsoft POCKET PC 2002"},
                                                        {1054, "English"}}));
    EXPECT_TRUE(ColumnShown(s.view, kDeviceColumn));
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 500}}));
    EXPECT_TRUE(s.view.Tick(*s.page, 100));
    s.page->OnCommand(Restore::kRestoreButton);
    EXPECT_FALSE(s.view.endResult.has_value());
    EXPECT_FALSE(s.view.Enabled(Restore::kRestoreButton));

    s.files.ReleaseSums();
    ASSERT_TRUE(DeliverUntil(s.view, *s.page, [&s] { return s.view.Enabled(Restore::kRestoreButton); }));
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 500}}));
    EXPECT_EQ(s.info, s.port.info);

    // Restore reads the handheld again into the page's record.
    DeviceInfo fresh = s.port.info;
    fresh.BatteryPercent = 40;
    s.port.queryAnswers = {{0, fresh}};
    s.page->OnCommand(Restore::kRestoreButton);
    EXPECT_EQ(s.view.endResult, 1066);
    EXPECT_EQ(s.info, fresh);
    EXPECT_FALSE(s.view.Armed(100));
}

TEST(RestoreInfoPage, RestoreHoldsTheBatteryRule) {
    RestoreOnScreen s;
    s.OpenAndConclude();
    DeviceInfo low = s.port.info;
    low.BatteryPercent = 39;
    s.port.queryAnswers = {{0, low}, {kResultFail, {}}};
    s.page->OnCommand(Restore::kRestoreButton);
    EXPECT_EQ(ReasonShown(s.view), kBatteryLine);
    EXPECT_FALSE(s.view.endResult.has_value());
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 500}}));
    s.page->OnCommand(Restore::kRestoreButton);
    EXPECT_EQ(s.view.events.back(), "beep 32");
    EXPECT_FALSE(s.view.endResult.has_value());
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 500}}));
}

TEST(RestoreInfoPage, RefusalsEndWithCancel) {
    struct Case {
        const char* what;
        void (*spoil)(RestoreOnScreen&);
        std::string shown;  // "" for none
        std::string reason;
    };
    const Case cases[] = {
        {"agent not copied", [](RestoreOnScreen& x) { x.port.installResult = -1; }, "", ""},
        {"unsupported", [](RestoreOnScreen& x) { x.port.info.Supported = 0; }, "dialog 148", ""},
        {"interrupted backup", [](RestoreOnScreen& x) { x.files.length = 0; },
         "box Caution: The integrity check on the system image file failed. \nReinstall the Reflash program.",
         ""},
        {"contents changed", [](RestoreOnScreen& x) { x.files.contentsSum += 1; },
         "box Caution: The integrity check on the system image file failed. \nReinstall the Reflash program.",
         ""},
        {"other handheld", [](RestoreOnScreen& x) { x.port.info.DeviceUuid[0] ^= 1; }, "dialog 136",
         "* You can only restore the ROM image to the same device from which it was originally saved.\n"},
        {"same ROM", [](RestoreOnScreen& x) { x.files.SetBackupOfThisHandheld("03050300", kOsCode2003); },
         "dialog 136",
         "* The update is the same as your current ROM image. You do not need to update your Pocket PC.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RestoreOnScreen s;
        c.spoil(s);
        s.OpenAndCheck();
        ASSERT_TRUE(DeliverUntil(s.view, *s.page, [&s] { return s.view.endResult.has_value(); }));
        EXPECT_EQ(s.view.events,
                  c.shown.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.shown});
        EXPECT_EQ(s.view.ends, std::vector<int>{2});
        EXPECT_EQ(ReasonShown(s.view), c.reason);
        EXPECT_FALSE(s.view.Enabled(Restore::kRestoreButton));
        EXPECT_TRUE(s.view.armed.empty());
    }
}

TEST(RestoreInfoPage, CancelAndEsc) {
    for (auto [press, result] : {std::pair{Restore::kCancelButton, 1065}, std::pair{kIdCancel, 2}}) {
        RestoreOnScreen s;
        s.OpenAndConclude();
        s.page->OnCommand(press);
        EXPECT_EQ(s.view.endResult, result);
        EXPECT_FALSE(s.view.Armed(100));
    }
}

TEST(RestoreInfoPage, APageClosedMidSumIsLeftAlone) {
    {
        RestoreOnScreen s;
        s.files.HoldSums();
        s.OpenAndCheck();
        ASSERT_TRUE(s.files.WaitForSums(1));
        s.page->OnCommand(Restore::kCancelButton);
        EXPECT_EQ(s.view.endResult, 1065);
        EXPECT_EQ(s.files.SumsStopped(), 1);
        s.page->Destroy();
        EXPECT_EQ(s.view.DeliverPosted(*s.page), 0) << "a stopped sum reports nothing";
    }
    {
        // Thrown away without Destroy: the page waits for its sum to stop
        // before it goes.
        RestoreOnScreen s;
        s.files.HoldSums();
        s.OpenAndCheck();
        ASSERT_TRUE(s.files.WaitForSums(1));
        s.page.reset();
        EXPECT_EQ(s.files.SumsStopped(), 1);
    }
}

TEST(RestoreInfoPage, LosingTheLinkEndsThePageWithinATick) {
    LanguageModule headings(kLostHeadingsModule);
    {
        RestoreOnScreen s;
        s.files.HoldSums();
        s.OpenAndCheck();
        ASSERT_TRUE(s.files.WaitForSums(1));
        s.port.connected = 0;
        EXPECT_TRUE(s.view.Tick(*s.page, 100));
        ExpectConnectionLost(s.view, 0);
        EXPECT_EQ(s.files.SumsStopped(), 1);
        EXPECT_FALSE(s.view.Enabled(Restore::kRestoreButton));
        EXPECT_TRUE(s.view.armed.empty());
    }
    {
        RestoreOnScreen s;
        s.OpenAndConclude();
        s.port.connected = 0;
        EXPECT_TRUE(s.view.Tick(*s.page, 100));
        ExpectConnectionLost(s.view, 0);
        EXPECT_FALSE(s.view.Enabled(Restore::kRestoreButton));
    }
}

}  // namespace
}  // namespace nuva
