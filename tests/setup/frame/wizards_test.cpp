#include "setup/frame/wizards.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace nuva {
namespace {

using namespace page_result;

// How a scripted page answers.
struct Answer {
    int result = 0;
    std::string path{};         // the file a Save As or Open dialog chose
    int option = -1;            // UpdateInfoPage: the check box after the user's clicks (-1 untouched)
    bool pageValid = true;      // UpdateInfoPage: its start checks read the record and the header
    uint32_t acOnline = 1;      // QueryDeviceInfo: what the handheld reports
    uint32_t platformInfo = 0;  // QueryDeviceInfo: a fresh ROM code to tell the record apart
};

// Shows pages by a script of (page, answer) and keeps a transcript of every
// page shown with what it was given. A page shown out of the script's order
// fails the test; an exhausted script answers -1 ("anything else").
class ScriptedPages : public WizardPages {
  public:
    ScriptedPages(std::vector<std::pair<std::string, Answer>> script)
        : script_(script.begin(), script.end()) {
        device.Supported = 1;
        device.AcOnline = 1;
        device.BatteryPercent = 80;
        device.MemoryConfig = kMemoryConfigAdvanced;
        device.PlatformInfo = 0x03050300;
        device.OsMajorVersion = 4;
        image.SetByte(header_offset::kOsCode, kOsCode2003);
        backup.SetByte(header_offset::kOsCode, kOsCode2003);
    }
    ~ScriptedPages() override {
        EXPECT_TRUE(script_.empty()) << script_.size() << " scripted pages never shown";
    }

    // What the pages read from the handheld and the files.
    DeviceInfo device;
    ImageHeader image;  // the update image's header
    std::string imagePath = "/install/rom-h.nb0";
    ImageHeader backup;                           // a backup file's header
    uint64_t backupLength = kImageFileBytes2003;  // 0: the header check fails

    std::vector<std::string> shown;

    int ShowBackupNoticePage() override { return Next("notice", "notice").result; }

    int ShowUpdateInfoPage(UpdateInfoPageFields& page) override {
        Answer a = Next("update-info", "update-info done=" + std::to_string(page.backupDone) +
                                           " option=" + std::to_string(page.backupOption));
        page.deviceDataValid = 0;
        page.imageDataValid = 0;
        if (!a.pageValid) {
            // Checks that failed halfway may leave anything in the fields.
            page.deviceInfo.PlatformInfo = 0xBAD;
            page.header.SetByte(header_offset::kOsCode, kOsCode2002);
            page.imagePath = "/half-read";
        } else {
            page.deviceInfo = device;
            page.deviceDataValid = 1;
            page.header = image;
            page.imagePath = imagePath;
            page.imageDataValid = 1;
        }
        if (a.option != -1) {
            page.backupOption = a.option;
        }
        return a.result;
    }

    int ShowBackupRequired(const DeviceInfo& info, std::string& path) override {
        Answer a = Next("backup-required", "backup-required " + Info(&info));
        path = a.path;
        return a.result;
    }

    uint32_t QueryDeviceInfo(DeviceInfo* out) override {
        Answer a = Next("query", "query");
        if (a.result == 0) {
            device.AcOnline = a.acOnline;
            if (a.platformInfo != 0) {
                device.PlatformInfo = a.platformInfo;
            }
            *out = device;
        }
        return static_cast<uint32_t>(a.result);
    }

    int ShowBackupRestoreChoice(std::string& restorePath) override {
        Answer a = Next("choice", "choice");
        if (a.result == kChoiceRestore) {
            restorePath = a.path;
        }
        return a.result;
    }

    int ShowBackupConfirm(std::string& path) override {
        Answer a = Next("confirm", "confirm");
        path = a.path;
        return a.result;
    }

    int ShowRestoreInfoPage(const std::string& path, DeviceInfo& info) override {
        Answer a = Next("restore-info", "restore-info " + path);
        info = device;
        return a.result;
    }

    uint64_t CheckImageFile(const std::string& path, ImageHeader& header) override {
        shown.push_back("check-file " + path);
        header = backup;
        return backupLength;
    }

    int ShowOsChangeNotice() override { return Next("os-notice", "os-notice").result; }

    int ShowEraseCaution(int mode) override {
        return Next("caution", "caution mode=" + std::to_string(mode)).result;
    }

    int ShowBackupProgress(int origin, const std::string& path, const DeviceInfo* info) override {
        return Next("backup-run",
                    "backup-run origin=" + std::to_string(origin) + " " + path + " " + Info(info))
            .result;
    }

    int ShowUpdateProgress(int mode, const std::string& path, const DeviceInfo& info) override {
        return Next("update-run",
                    "update-run mode=" + std::to_string(mode) + " [" + path + "] " + Info(&info))
            .result;
    }

  private:
    static std::string Info(const DeviceInfo* info) {
        if (info == nullptr) {
            return "no-info";
        }
        char text[32];
        std::snprintf(text, sizeof text, "rom=%08x", info->PlatformInfo);
        return text;
    }

    Answer Next(const std::string& page, const std::string& line) {
        shown.push_back(line);
        if (script_.empty()) {
            ADD_FAILURE() << "no answer scripted for " << line;
            return Answer{-1};
        }
        auto [expected, answer] = script_.front();
        script_.pop_front();
        EXPECT_EQ(expected, page) << "at " << line;
        return answer;
    }

    std::deque<std::pair<std::string, Answer>> script_;
};

using Script = std::vector<std::pair<std::string, Answer>>;
using Lines = std::vector<std::string>;

Script Then(Script head, const Script& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

int UpdateWizard(const Script& script, Lines& shown) {
    ScriptedPages pages(script);
    int result = RunUpdateWizard(pages);
    shown = pages.shown;
    return result;
}

// The pages every update walk starts with when the user goes straight on.
const std::pair<std::string, Answer> kNoticeOn = {"notice", {kNoticeNext}};
const std::pair<std::string, Answer> kInfoOnNoBackup = {"update-info", {kUpdateInfoNext, "", 0}};

TEST(UpdateWizard, BackupNoticeResults) {
    Lines shown;
    EXPECT_EQ(UpdateWizard({{"notice", {kNoticeBack}}}, shown), 1);  // back to the menu, no connection test
    EXPECT_EQ(UpdateWizard({{"notice", {kConnectionLost}}}, shown), 4);
    EXPECT_EQ(UpdateWizard({{"notice", {kCheckFailed}}}, shown), 0);  // a failed check ends the program
    EXPECT_EQ(UpdateWizard({{"notice", {kCancel}}}, shown), 1);
    EXPECT_EQ(UpdateWizard({{"notice", {77}}}, shown), 1);
    EXPECT_EQ(shown, (Lines{"notice"}));
}

TEST(UpdateWizard, UpdateInfoResults) {
    Lines shown;
    // Back re-runs the notice page (and its checks) before the information
    // page shows again.
    EXPECT_EQ(UpdateWizard({kNoticeOn,
                            {"update-info", {kUpdateInfoBack}},
                            kNoticeOn,
                            {"update-info", {kUpdateInfoBack}},
                            {"notice", {kNoticeBack}}},
                           shown),
              1);
    EXPECT_EQ(shown, (Lines{"notice", "update-info done=0 option=1", "notice", "update-info done=0 option=1",
                            "notice"}));

    EXPECT_EQ(UpdateWizard({kNoticeOn, {"update-info", {kConnectionLost}}}, shown), 4);
    EXPECT_EQ(UpdateWizard({kNoticeOn, {"update-info", {kCancel}}}, shown), 1);
    EXPECT_EQ(UpdateWizard({kNoticeOn, {"update-info", {kCheckFailed}}}, shown), 0);
    EXPECT_EQ(UpdateWizard({kNoticeOn, {"update-info", {kOk}}}, shown), 0);
}

TEST(UpdateWizard, UpdateWithoutBackupShowsTheCautionOnce) {
    Lines shown;
    // The update run's own result does not matter: the handheld is restarting.
    EXPECT_EQ(
        UpdateWizard({kNoticeOn, kInfoOnNoBackup, {"caution", {kOk}}, {"update-run", {kCancel}}}, shown), 0);
    EXPECT_EQ(shown, (Lines{"notice", "update-info done=0 option=1", "caution mode=1",
                            "update-run mode=1 [/install/rom-h.nb0] rom=03050300"}));

    // Cancel on the caution goes back to the information page, where the
    // unticked box stays unticked.
    EXPECT_EQ(UpdateWizard({kNoticeOn,
                            kInfoOnNoBackup,
                            {"caution", {kCancel}},
                            {"update-info", {kUpdateInfoNext}},
                            {"caution", {kConnectionLost}}},
                           shown),
              4);
    EXPECT_EQ(shown, (Lines{"notice", "update-info done=0 option=1", "caution mode=1",
                            "update-info done=0 option=0", "caution mode=1"}));

    EXPECT_EQ(UpdateWizard({kNoticeOn, kInfoOnNoBackup, {"caution", {kCheckFailed}}}, shown), 0);
}

TEST(UpdateWizard, TakesOnlyWhatThePageVouchesFor) {
    Lines shown;
    ScriptedPages pages({kNoticeOn,
                         kInfoOnNoBackup,
                         {"caution", {kCancel}},
                         {"update-info", {kUpdateInfoNext, "", -1, /*pageValid=*/false}},
                         {"caution", {kOk}},
                         {"update-run", {kOk}}});
    EXPECT_EQ(RunUpdateWizard(pages), 0);
    // The second showing vouches for nothing: the record and header of the
    // first stay (no generation notice), the image path is emptied.
    EXPECT_EQ(pages.shown.back(), "update-run mode=1 [] rom=03050300");

    // Nothing was ever read: an empty record (OS major 0 is not Pocket PC
    // 2003, the empty header's code 0 counts as 2002) and no path.
    ScriptedPages never({kNoticeOn,
                         {"update-info", {kUpdateInfoNext, "", 0, false}},
                         {"os-notice", {kOk}},
                         {"caution", {kOk}},
                         {"update-run", {kOk}}});
    EXPECT_EQ(RunUpdateWizard(never), 0);
    EXPECT_EQ(never.shown.back(), "update-run mode=1 [] rom=00000000");
}

TEST(UpdateWizard, GenerationNotice) {
    struct Case {
        uint32_t osMajor;
        uint8_t osCode;
        bool notice;
    };
    for (Case c : {Case{4, kOsCode2003, false}, Case{3, kOsCode2002, false}, Case{4, kOsCode2002, true},
                   Case{3, kOsCode2003, true}}) {
        SCOPED_TRACE(::testing::Message() << "OS major " << c.osMajor << ", image code " << int{c.osCode});
        Script script = {kNoticeOn, kInfoOnNoBackup};
        if (c.notice) {
            script.push_back({"os-notice", {kOk}});
        }
        script.push_back({"caution", {kConnectionLost}});
        ScriptedPages pages(script);
        pages.device.OsMajorVersion = c.osMajor;
        pages.image.SetByte(header_offset::kOsCode, c.osCode);
        EXPECT_EQ(RunUpdateWizard(pages), 4);
    }

    // Cancel and a lost connection on the notice both go back to the
    // information page; anything else goes on.
    for (int result : {kCancel, kConnectionLost}) {
        ScriptedPages pages(
            {kNoticeOn, kInfoOnNoBackup, {"os-notice", {result}}, {"update-info", {kCancel}}});
        pages.image.SetByte(header_offset::kOsCode, kOsCode2002);
        EXPECT_EQ(RunUpdateWizard(pages), 1);
        EXPECT_EQ(pages.shown, (Lines{"notice", "update-info done=0 option=1", "os-notice",
                                      "update-info done=0 option=0"}));
    }
    ScriptedPages pages({kNoticeOn,
                         kInfoOnNoBackup,
                         {"os-notice", {kCheckFailed}},
                         {"caution", {kOk}},
                         {"update-run", {kOk}}});
    pages.image.SetByte(header_offset::kOsCode, kOsCode2002);
    EXPECT_EQ(RunUpdateWizard(pages), 0);
}

// The walk with the ROM backup option ticked, up to the backup run.
Script BackupWalk() {
    return {kNoticeOn,
            {"update-info", {kUpdateInfoNext}},
            {"caution", {kOk}},
            {"backup-required", {kOk, "/docs/A02H.RIS"}},
            {"backup-run", {kOk}}};
}

TEST(UpdateWizard, BackupWithTheAdapterStillInGoesStraightToTheUpdate) {
    Script script = BackupWalk();
    script.push_back({"query", {0, "", -1, true, /*acOnline=*/1, /*platformInfo=*/0x04100300}});
    script.push_back({"update-run", {kOk}});
    Lines shown;
    EXPECT_EQ(UpdateWizard(script, shown), 0);
    // The update run gets the record refreshed after the backup.
    EXPECT_EQ(shown, (Lines{"notice", "update-info done=0 option=1", "caution mode=1",
                            "backup-required rom=03050300", "backup-run origin=1 /docs/A02H.RIS rom=03050300",
                            "query", "update-run mode=1 [/install/rom-h.nb0] rom=04100300"}));
}

TEST(UpdateWizard, AdapterPulledDuringTheBackupAsksAgain) {
    Script script = BackupWalk();
    script.push_back({"query", {0, "", -1, true, /*acOnline=*/0}});
    script.push_back({"caution", {kOk}});
    script.push_back({"update-run", {kOk}});
    Lines shown;
    EXPECT_EQ(UpdateWizard(script, shown), 0);
    EXPECT_EQ(Lines(shown.end() - 3, shown.end()),
              (Lines{"query", "caution mode=1", "update-run mode=1 [/install/rom-h.nb0] rom=03050300"}));

    // A query that fails proves nothing about the adapter: the caution
    // confirmed before the backup stands, and the record is kept.
    script = BackupWalk();
    script.push_back({"query", {static_cast<int>(0x80004005)}});
    script.push_back({"update-run", {kOk}});
    EXPECT_EQ(UpdateWizard(script, shown), 0);
    EXPECT_EQ(shown.back(), "update-run mode=1 [/install/rom-h.nb0] rom=03050300");
}

TEST(UpdateWizard, CompletedBackupIsNotOfferedAgain) {
    Script script = BackupWalk();
    script.push_back({"query", {0, "", -1, true, 0}});
    script.push_back({"caution", {kCancel}});
    // Back on the information page, told that the backup is done; the box is
    // still ticked but no second backup, and no query (nothing was chosen).
    script.push_back({"update-info", {kUpdateInfoNext}});
    script.push_back({"caution", {kOk}});
    script.push_back({"update-run", {kOk}});
    Lines shown;
    EXPECT_EQ(UpdateWizard(script, shown), 0);
    EXPECT_EQ(Lines(shown.begin() + 6, shown.end()),
              (Lines{"caution mode=1", "update-info done=1 option=1", "caution mode=1",
                     "update-run mode=1 [/install/rom-h.nb0] rom=03050300"}));
}

TEST(UpdateWizard, BackupStepResults) {
    Lines shown;
    // Caution before the backup.
    Script prefix = {kNoticeOn, {"update-info", {kUpdateInfoNext}}};
    EXPECT_EQ(UpdateWizard(Then(prefix, {{"caution", {kConnectionLost}}}), shown), 4);
    EXPECT_EQ(UpdateWizard(Then(prefix, {{"caution", {kCheckFailed}}}), shown), 0);
    // Cancel: back to the page, which offers the backup again.
    EXPECT_EQ(UpdateWizard(Then(prefix, {{"caution", {kCancel}},
                                         {"update-info", {kUpdateInfoNext}},
                                         {"caution", {kOk}},
                                         {"backup-required", {kConnectionLost}}}),
                           shown),
              4);

    // The backup dialog: Cancel goes back to the page and the choice made
    // on the caution is forgotten, so the caution comes again.
    EXPECT_EQ(UpdateWizard(Then(prefix, {{"caution", {kOk}},
                                         {"backup-required", {kCancel}},
                                         {"update-info", {kUpdateInfoNext, "", 0}},
                                         {"caution", {kOk}},
                                         {"update-run", {kOk}}}),
                           shown),
              0);
    EXPECT_EQ(Lines(shown.begin() + 4, shown.end()),
              (Lines{"update-info done=0 option=1", "caution mode=1",
                     "update-run mode=1 [/install/rom-h.nb0] rom=03050300"}));
    EXPECT_EQ(UpdateWizard(Then(prefix, {{"caution", {kOk}}, {"backup-required", {kCheckFailed}}}), shown),
              0);

    // The backup run: a lost link, or a failure, ends the wizard.
    EXPECT_EQ(UpdateWizard(Then(prefix, {{"caution", {kOk}},
                                         {"backup-required", {kOk, "/b.ris"}},
                                         {"backup-run", {kConnectionLost}}}),
                           shown),
              4);
    EXPECT_EQ(UpdateWizard(
                  Then(prefix,
                       {{"caution", {kOk}}, {"backup-required", {kOk, "/b.ris"}}, {"backup-run", {kCancel}}}),
                  shown),
              0);
}

TEST(UpdateWizard, EachCallStartsWithTheBackupTicked) {
    // The same pages object would keep its fields; a new call makes new
    // page fields.
    Lines shown;
    EXPECT_EQ(UpdateWizard({kNoticeOn, {"update-info", {kUpdateInfoBack, "", 0}}, {"notice", {kNoticeBack}}},
                           shown),
              1);
    EXPECT_EQ(UpdateWizard({kNoticeOn, {"update-info", {kCancel}}}, shown), 1);
    EXPECT_EQ(shown, (Lines{"notice", "update-info done=0 option=1"}));
}

int BackupRestoreWizard(const Script& script, Lines& shown) {
    ScriptedPages pages(script);
    int result = RunBackupRestoreWizard(pages);
    shown = pages.shown;
    return result;
}

TEST(BackupRestoreWizard, ChoiceResults) {
    Lines shown;
    EXPECT_EQ(BackupRestoreWizard({{"choice", {kCancel}}}, shown), 1);  // the menu, via the connection test
    EXPECT_EQ(BackupRestoreWizard({{"choice", {kConnectionLost}}}, shown), 4);
    EXPECT_EQ(BackupRestoreWizard({{"choice", {kCheckFailed}}}, shown), 0);
    EXPECT_EQ(BackupRestoreWizard({{"choice", {kOk}}}, shown), 0);
}

TEST(BackupRestoreWizard, PlainBackupReturnsToTheChoice) {
    Lines shown;
    EXPECT_EQ(BackupRestoreWizard({{"choice", {kChoiceSave}},
                                   {"confirm", {kOk, "/docs/A02H-03050300EN.RIS"}},
                                   {"caution", {kOk}},
                                   {"backup-run", {kOk}},
                                   {"choice", {kCancel}}},
                                  shown),
              1);
    EXPECT_EQ(shown, (Lines{"choice", "confirm", "caution mode=1",
                            "backup-run origin=0 /docs/A02H-03050300EN.RIS no-info", "choice"}));
}

TEST(BackupRestoreWizard, BackupStepResults) {
    Lines shown;
    Script save = {{"choice", {kChoiceSave}}};
    EXPECT_EQ(BackupRestoreWizard(Then(save, {{"confirm", {kCancel}}, {"choice", {kCancel}}}), shown), 1);
    EXPECT_EQ(BackupRestoreWizard(Then(save, {{"confirm", {kConnectionLost}}}), shown), 4);
    EXPECT_EQ(BackupRestoreWizard(Then(save, {{"confirm", {kCheckFailed}}}), shown), 0);

    Script confirmed = Then(save, {{"confirm", {kOk, "/b.ris"}}});
    EXPECT_EQ(
        BackupRestoreWizard(Then(confirmed, {{"caution", {kCancel}}, {"choice", {kConnectionLost}}}), shown),
        4);
    EXPECT_EQ(BackupRestoreWizard(Then(confirmed, {{"caution", {kConnectionLost}}}), shown), 4);
    EXPECT_EQ(BackupRestoreWizard(Then(confirmed, {{"caution", {kCheckFailed}}}), shown), 0);
    EXPECT_EQ(
        BackupRestoreWizard(Then(confirmed, {{"caution", {kOk}}, {"backup-run", {kConnectionLost}}}), shown),
        4);
    EXPECT_EQ(BackupRestoreWizard(Then(confirmed, {{"caution", {kOk}}, {"backup-run", {kCancel}}}), shown),
              0);
}

TEST(BackupRestoreWizard, RestoreRunsWithTheRecordTheRestorePageRead) {
    Lines shown;
    ScriptedPages pages({{"choice", {kChoiceRestore, "/docs/old.RIS"}},
                         {"restore-info", {kRestoreInfoRestore}},
                         {"caution", {kOk}},
                         {"update-run", {kCancel}}});
    pages.device.PlatformInfo = 0x04100300;
    EXPECT_EQ(RunBackupRestoreWizard(pages), 0);
    EXPECT_EQ(pages.shown, (Lines{"choice", "restore-info /docs/old.RIS", "check-file /docs/old.RIS",
                                  "caution mode=0", "update-run mode=0 [/docs/old.RIS] rom=04100300"}));
}

TEST(BackupRestoreWizard, RestoreInfoResults) {
    Lines shown;
    Script restore = {{"choice", {kChoiceRestore, "/r.ris"}}};
    EXPECT_EQ(BackupRestoreWizard(
                  Then(restore, {{"restore-info", {kRestoreInfoCancel}}, {"choice", {kCancel}}}), shown),
              1);
    EXPECT_EQ(BackupRestoreWizard(Then(restore, {{"restore-info", {kCancel}}, {"choice", {kCancel}}}), shown),
              1);
    EXPECT_EQ(BackupRestoreWizard(Then(restore, {{"restore-info", {kConnectionLost}}}), shown), 4);
    EXPECT_EQ(BackupRestoreWizard(Then(restore, {{"restore-info", {kCheckFailed}}}), shown), 0);

    // The restore page is given the file of the latest choice, not the
    // path of an earlier backup.
    EXPECT_EQ(BackupRestoreWizard({{"choice", {kChoiceSave}},
                                   {"confirm", {kOk, "/save.ris"}},
                                   {"caution", {kCancel}},
                                   {"choice", {kChoiceRestore, "/r.ris"}},
                                   {"restore-info", {kRestoreInfoCancel}},
                                   {"choice", {kCancel}}},
                                  shown),
              1);
    EXPECT_EQ(shown[4], "restore-info /r.ris");
}

TEST(BackupRestoreWizard, RestoreGenerationNoticeAndCaution) {
    Script toNotice = {{"choice", {kChoiceRestore, "/r.ris"}}, {"restore-info", {kRestoreInfoRestore}}};
    // A Pocket PC 2002 backup on a handheld that runs 2003.
    for (int result : {kCancel, kConnectionLost}) {
        ScriptedPages pages(
            Then(toNotice,
                 {{"os-notice", {result}}, {"restore-info", {kRestoreInfoCancel}}, {"choice", {kCancel}}}));
        pages.backup.SetByte(header_offset::kOsCode, kOsCode2002);
        EXPECT_EQ(RunBackupRestoreWizard(pages), 1);
        EXPECT_EQ(pages.shown[3], "os-notice");
        EXPECT_EQ(pages.shown[4], "restore-info /r.ris");
    }
    {
        ScriptedPages pages(
            Then(toNotice, {{"os-notice", {kOk}}, {"caution", {kOk}}, {"update-run", {kOk}}}));
        pages.backup.SetByte(header_offset::kOsCode, kOsCode2002);
        EXPECT_EQ(RunBackupRestoreWizard(pages), 0);
    }
    {
        // A header that cannot be read brings no notice, whatever it holds.
        ScriptedPages pages(Then(toNotice, {{"caution", {kOk}}, {"update-run", {kOk}}}));
        pages.backup.SetByte(header_offset::kOsCode, kOsCode2002);
        pages.backupLength = 0;
        EXPECT_EQ(RunBackupRestoreWizard(pages), 0);
    }
    {
        // Both Pocket PC 2002: no notice.
        ScriptedPages pages(Then(toNotice, {{"caution", {kConnectionLost}}}));
        pages.backup.SetByte(header_offset::kOsCode, kOsCode2002);
        pages.device.OsMajorVersion = 3;
        EXPECT_EQ(RunBackupRestoreWizard(pages), 4);
    }

    // The restore caution: Cancel goes back to the restore page.
    Lines shown;
    EXPECT_EQ(BackupRestoreWizard(Then(toNotice, {{"caution", {kCancel}},
                                                  {"restore-info", {kRestoreInfoRestore}},
                                                  {"caution", {kCheckFailed}}}),
                                  shown),
              0);
    EXPECT_EQ(shown, (Lines{"choice", "restore-info /r.ris", "check-file /r.ris", "caution mode=0",
                            "restore-info /r.ris", "check-file /r.ris", "caution mode=0"}));
}

}  // namespace
}  // namespace nuva
