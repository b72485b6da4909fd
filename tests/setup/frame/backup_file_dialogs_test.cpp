#include "setup/frame/backup_file_dialogs.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/result_codes.h"
#include "setup/resources/dialog_ids.h"
#include "tests/setup/frame/page_test_support.h"
#include "tests/support/temp_folder.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tests/setup/support/recording_view.h"

namespace nuva {
namespace {

using namespace test;
using Required = BackupRequiredDialog;
using Confirm = BackupConfirmDialog;
using Choice = BackupRestoreChoiceDialog;
using Timers = std::map<uint32_t, uint32_t>;

const Timers kWatching{{100, 500}};
const std::string kDiskSpaceLine =
    "* Insufficient disk space for saving the ROM image. Ensure that you have at least 32 MB of free space "
    "on the "
    "disk that you specified.\n";

// The documents folder the file dialogs start in, for one test.
struct Documents {
    testing::TempFolder folder;
    ScopedEnv env{"XDG_DOCUMENTS_DIR", folder.path() + "Documents"};
};

// A space test that answers `enough` and notes the paths asked about.
struct SpaceTest {
    bool enough = true;
    std::vector<std::string> asked;
    BackupSpaceTest Function() {
        return [this](const std::string& path) {
            asked.push_back(path);
            return enough;
        };
    }
};

void ExpectSaveQuestion(const FileQuestion& q, const std::string& proposedName, const std::string& folder) {
    EXPECT_TRUE(q.save);
    EXPECT_EQ(q.title, "Save Current ROM As:");
    EXPECT_EQ(q.filter, "ROM Image Saved File(*.RIS)|*.RIS||");
    EXPECT_EQ(q.defaultSuffix, "RIS");
    EXPECT_EQ(q.proposedName, proposedName);
    EXPECT_EQ(q.initialFolder, folder);
    EXPECT_TRUE(q.overwritePrompt);
}

struct RequiredOnScreen {
    FakeHandheldPort port;
    RecordingPageView view;
    SpaceTest space;
    std::string path = "left from before";
    Required dialog{view, port, port.info, path, space.Function()};
};

TEST(BackupRequiredDialog, SavesWhereTheUserSays) {
    Documents documents;
    RequiredOnScreen s;
    s.dialog.Init();
    EXPECT_EQ(s.path, "");
    EXPECT_EQ(s.view.armed, kWatching);
    EXPECT_TRUE(s.view.Tick(s.dialog, 100));
    EXPECT_FALSE(s.view.endResult.has_value());

    s.view.fileAnswers = {"/backups/A02H-03050300EN.RIS"};
    s.dialog.OnCommand(Required::kSaveButton);
    ASSERT_EQ(s.view.fileQuestions.size(), 1u);
    ExpectSaveQuestion(s.view.fileQuestions[0], "A02H-03050300EN", documents.folder.path() + "Documents");
    EXPECT_EQ(s.space.asked, std::vector<std::string>{"/backups/A02H-03050300EN.RIS"});
    EXPECT_EQ(s.path, "/backups/A02H-03050300EN.RIS");
    EXPECT_EQ(s.view.endResult, 1);
    EXPECT_TRUE(s.view.armed.empty());
}

TEST(BackupRequiredDialog, CancelledOrTooFullEndsWithTwo) {
    Documents documents;
    {
        // The Save As dialog cancelled.
        RequiredOnScreen s;
        s.dialog.Init();
        s.dialog.OnCommand(Required::kSaveButton);
        EXPECT_EQ(s.view.endResult, 2);
        EXPECT_TRUE(s.space.asked.empty());
        EXPECT_EQ(s.view.Opened(dialog_id::kReason), 0);
    }
    {
        // Less than 32 MiB free: the disk-space reason, in reason mode 1.
        LanguageModule headings("159 \"reason, mode 0\"\n160 \"reason, mode 1\"\n161 \"reason, mode 2\"\n");
        RequiredOnScreen s;
        s.space.enough = false;
        s.dialog.Init();
        s.view.fileAnswers = {"/full/x.RIS"};
        s.dialog.OnCommand(Required::kSaveButton);
        const RecordingPageView::Nested* reason = s.view.LastNested(dialog_id::kReason);
        ASSERT_NE(reason, nullptr);
        EXPECT_EQ(reason->view->texts.at(ReasonController::kHeading), "reason, mode 1");
        EXPECT_EQ(reason->view->texts.at(ReasonController::kReasonList), kDiskSpaceLine);
        EXPECT_EQ(s.view.endResult, 2);
        EXPECT_TRUE(s.view.armed.empty());
    }
    for (void (*press)(Required&) : {+[](Required& d) { d.OnCommand(Required::kCancelButton); },
                                     +[](Required& d) { d.OnEscape(); }, +[](Required& d) { d.OnClose(); }}) {
        RequiredOnScreen s;
        s.dialog.Init();
        press(s.dialog);
        EXPECT_EQ(s.view.endResult, 2);
        EXPECT_TRUE(s.view.armed.empty());
        EXPECT_TRUE(s.view.fileQuestions.empty());
    }
}

TEST(BackupRequiredDialog, LosingTheLinkEndsItWithinATick) {
    LanguageModule headings(kLostHeadingsModule);
    RequiredOnScreen s;
    s.dialog.Init();
    s.port.connected = 0;
    EXPECT_TRUE(s.view.Tick(s.dialog, 100));
    ExpectConnectionLost(s.view, 0);
    EXPECT_FALSE(s.view.Enabled(Required::kSaveButton));
    EXPECT_TRUE(s.view.armed.empty());
}

struct ConfirmOnScreen {
    FakeHandheldPort port;
    RecordingPageView view;
    SpaceTest space;
    std::string path;
    Confirm dialog{view, port, path, space.Function()};
};

TEST(BackupConfirmDialog, ShowsTheHandheldItReadsAndSavesItsBackup) {
    Documents documents;
    ConfirmOnScreen s;
    s.dialog.Init();
    EXPECT_EQ(s.port.Calls(), (std::vector<std::string>{"install", "query"}));
    std::set<uint32_t> red;
    for (const auto& [id, colour] : s.view.colours) {
        if (colour == kRed) {
            red.insert(id);
        }
    }
    EXPECT_EQ(red, (std::set<uint32_t>{1040, 1041, 1042, 1043, 1044, 1045, 1046, 1047}));
    EXPECT_EQ(s.view.texts,
              (std::map<uint32_t, std::string>{{Confirm::kModelValue, "Brel Nuva Q7 Advanced"},
                                               {Confirm::kRomVersionValue, "A02(03050300EN)"},
                                               {Confirm::kOsVersionValue, "Microsoft POCKET PC 2003"},
                                               {Confirm::kLanguageValue, "English"}}));
    for (uint32_t value : {Confirm::kModelValue, Confirm::kRomVersionValue, Confirm::kOsVersionValue,
                           Confirm::kLanguageValue}) {
        EXPECT_TRUE(s.view.Shown(value));
    }
    EXPECT_TRUE(s.view.Enabled(Confirm::kSaveButton));
    EXPECT_EQ(s.view.armed, kWatching);

    // A handheld whose language has no code: shown as English, its file
    // name ends without letters.
    ConfirmOnScreen japanese;
    japanese.port.info.LanguageId = 0x0411;
    japanese.port.info.MemoryConfig = kMemoryConfigBasic;
    japanese.dialog.Init();
    EXPECT_EQ(japanese.view.texts.at(Confirm::kLanguageValue), "English");
    EXPECT_EQ(japanese.view.texts.at(Confirm::kModelValue), "Brel Nuva Q7 Basic");
    japanese.view.fileAnswers = {"/b/x.RIS"};
    japanese.dialog.OnCommand(Confirm::kSaveButton);
    ASSERT_EQ(japanese.view.fileQuestions.size(), 1u);
    ExpectSaveQuestion(japanese.view.fileQuestions[0], "A02L-03050300",
                       documents.folder.path() + "Documents");
    EXPECT_EQ(japanese.path, "/b/x.RIS");
    EXPECT_EQ(japanese.view.endResult, 1);
    EXPECT_TRUE(japanese.view.armed.empty());
}

TEST(BackupConfirmDialog, WithoutTheHandheldOnlyCancelLeaves) {
    for (bool agentFails : {true, false}) {
        SCOPED_TRACE(agentFails ? "agent not copied" : "no answer");
        ConfirmOnScreen s;
        if (agentFails) {
            s.port.installResult = -1;
        } else {
            s.port.queryResult = kResultFail;
        }
        s.dialog.Init();
        EXPECT_FALSE(s.view.Enabled(Confirm::kSaveButton));
        EXPECT_TRUE(s.view.texts.empty());
        EXPECT_TRUE(s.view.armed.empty());
        s.dialog.OnCommand(Confirm::kSaveButton);
        EXPECT_TRUE(s.view.fileQuestions.empty());
        EXPECT_FALSE(s.view.endResult.has_value());
        s.dialog.OnCommand(Confirm::kCancelButton);
        EXPECT_EQ(s.view.endResult, 2);
    }
}

TEST(BackupConfirmDialog, TooFullOrCancelledEndsWithTwo) {
    {
        ConfirmOnScreen s;
        s.space.enough = false;
        s.dialog.Init();
        s.view.fileAnswers = {"/full/x.RIS"};
        s.dialog.OnCommand(Confirm::kSaveButton);
        const RecordingPageView::Nested* reason = s.view.LastNested(dialog_id::kReason);
        ASSERT_NE(reason, nullptr);
        EXPECT_EQ(reason->view->texts.at(ReasonController::kReasonList), kDiskSpaceLine);
        EXPECT_EQ(s.view.endResult, 2);
    }
    for (void (*press)(Confirm&) : {+[](Confirm& d) { d.OnCommand(Confirm::kSaveButton); },
                                    +[](Confirm& d) { d.OnCommand(Confirm::kCancelButton); },
                                    +[](Confirm& d) { d.OnEscape(); }, +[](Confirm& d) { d.OnClose(); }}) {
        ConfirmOnScreen s;
        s.dialog.Init();
        press(s.dialog);
        EXPECT_EQ(s.view.endResult, 2);
        EXPECT_TRUE(s.view.armed.empty());
    }
}

TEST(BackupConfirmDialog, LosingTheLinkEndsItInModeTwo) {
    LanguageModule headings(kLostHeadingsModule);
    ConfirmOnScreen s;
    s.dialog.Init();
    s.port.connected = 0;
    EXPECT_TRUE(s.view.Tick(s.dialog, 100));
    ExpectConnectionLost(s.view, 2);
    EXPECT_FALSE(s.view.Enabled(Confirm::kSaveButton));
    EXPECT_TRUE(s.view.armed.empty());
}

struct ChoiceOnScreen {
    FakeHandheldPort port;
    RecordingPageView view;
    std::string restorePath;
    Choice dialog{view, port, restorePath};
};

TEST(BackupRestoreChoiceDialog, SaveOrRestoreAChosenBackup) {
    Documents documents;
    {
        ChoiceOnScreen s;
        s.dialog.Init();
        EXPECT_EQ(s.view.armed, kWatching);
        s.dialog.OnCommand(Choice::kSaveButton);
        EXPECT_EQ(s.view.endResult, 1037);
        EXPECT_TRUE(s.view.armed.empty());
    }
    {
        ChoiceOnScreen s;
        s.dialog.Init();
        s.view.fileAnswers = {std::nullopt, "/backups/old.RIS"};
        // Cancelling the Open dialog keeps the choice open, watching again.
        s.dialog.OnCommand(Choice::kRestoreButton);
        EXPECT_FALSE(s.view.endResult.has_value());
        EXPECT_EQ(s.view.armed, kWatching);
        EXPECT_EQ(s.restorePath, "");

        s.dialog.OnCommand(Choice::kRestoreButton);
        EXPECT_EQ(s.restorePath, "/backups/old.RIS");
        EXPECT_EQ(s.view.endResult, 1038);
        EXPECT_TRUE(s.view.armed.empty());
        ASSERT_EQ(s.view.fileQuestions.size(), 2u);
        const FileQuestion& open = s.view.fileQuestions[1];
        EXPECT_FALSE(open.save);
        EXPECT_EQ(open.title, "Restore ROM Image From");
        EXPECT_EQ(open.filter, "ROM Image Saved File(*.RIS)|*.RIS||");
        EXPECT_EQ(open.defaultSuffix, "RIS");
        EXPECT_EQ(open.initialFolder, documents.folder.path() + "Documents");
        EXPECT_TRUE(open.overwritePrompt);
    }
    for (void (*press)(Choice&) :
         {+[](Choice& d) { d.OnCommand(Choice::kCancelButton); }, +[](Choice& d) { d.OnEscape(); }}) {
        ChoiceOnScreen s;
        s.dialog.Init();
        press(s.dialog);
        EXPECT_EQ(s.view.endResult, 2);
        EXPECT_TRUE(s.view.armed.empty());
    }
}

TEST(BackupRestoreChoiceDialog, LosingTheLinkEndsItWithinATick) {
    LanguageModule headings(kLostHeadingsModule);
    ChoiceOnScreen s;
    s.dialog.Init();
    EXPECT_TRUE(s.view.Tick(s.dialog, 100));
    EXPECT_FALSE(s.view.endResult.has_value());
    s.port.connected = 0;
    EXPECT_TRUE(s.view.Tick(s.dialog, 100));
    ExpectConnectionLost(s.view, 0);
    EXPECT_FALSE(s.view.Enabled(Choice::kSaveButton));
    EXPECT_FALSE(s.view.Enabled(Choice::kRestoreButton));
    EXPECT_TRUE(s.view.armed.empty());
}

TEST(BackupFileQuestions, WithoutADocumentsFolderTheFrontEndChooses) {
    testing::TempFolder home;
    ScopedEnv documents("XDG_DOCUMENTS_DIR", std::nullopt);
    ScopedEnv config("XDG_CONFIG_HOME", home.path() + "config");
    ScopedEnv homeDir("HOME", home.path());
    RequiredOnScreen s;
    s.dialog.Init();
    s.dialog.OnCommand(Required::kSaveButton);
    ASSERT_EQ(s.view.fileQuestions.size(), 1u);
    EXPECT_EQ(s.view.fileQuestions[0].initialFolder, "");
}

TEST(BackupFileQuestions, SpeakTheLanguageModule) {
    LanguageModule french(
        "149 \"Enregistrer la ROM sous :\"\n176 \"Restaurer la ROM depuis\"\n"
        "177 \"Image ROM (*.RIS)|*.RIS||\"\n148 \"%ls%c_%08x_%s\"\n");
    FakeHandheldPort port;
    FileQuestion save = BackupSaveQuestion(port.info, "/docs");
    EXPECT_EQ(save.title, "Enregistrer la ROM sous :");
    EXPECT_EQ(save.filter, "Image ROM (*.RIS)|*.RIS||");
    EXPECT_EQ(save.proposedName, "A02H_03050300_EN");
    EXPECT_EQ(save.initialFolder, "/docs");
    FileQuestion open = BackupOpenQuestion("");
    EXPECT_EQ(open.title, "Restaurer la ROM depuis");
    EXPECT_EQ(open.filter, "Image ROM (*.RIS)|*.RIS||");

    // The confirmation's values too.
    LanguageModule values(
        "119 \"Avanc\xC3\xA9\"\n121 \"Anglais\"\n141 \"%ls [%08x %s]\"\n"
        "145 \"Microsoft Pocket PC 2003 (fr)\"\n");
    ConfirmOnScreen s;
    s.dialog.Init();
    EXPECT_EQ(s.view.texts,
              (std::map<uint32_t, std::string>{{Confirm::kModelValue, "Brel Nuva Q7 Avanc\xC3\xA9"},
                                               {Confirm::kRomVersionValue, "A02 [03050300 EN]"},
                                               {Confirm::kOsVersionValue, "Microsoft Pocket PC 2003 (fr)"},
                                               {Confirm::kLanguageValue, "Anglais"}}));
}

}  // namespace
}  // namespace nuva
