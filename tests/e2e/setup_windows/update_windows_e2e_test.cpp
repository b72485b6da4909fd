// Updates through Setup's windows, from the main menu to the handheld that
// restarts into its new ROM: the plain update, the one with a ROM backup
// first, the refusals, the erase caution that waits for the AC adapter, and
// a cable pulled on the way. The handheld is asked afterwards what it runs,
// and its flash is read back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "formats/image_header.h"
#include "setup/device/image_catalogue.h"
#include "tests/e2e/setup_windows/windows_e2e_support.h"

namespace setup_windows_e2e {
namespace {

namespace fs = std::filesystem;
using flash_e2e::Bytes;

const char kReasonHeading[] = "The procedure CANNOT proceed due to the following reason:";
const char kCopyIncomplete[] = "Copy incomplete! The reflash  procedure CANNOT proceed.";

UserPlan Update(bool backupWanted = false, std::vector<std::string> fileNames = {}) {
    UserPlan plan;
    plan.menu = {kUpdateRom};
    plan.backupWanted = backupWanted;
    plan.fileNames = std::move(fileNames);
    return plan;
}

class UpdateWindows : public SetupWindowsE2E {
  protected:
    // Nothing was written and the handheld did not restart.
    void ExpectUntouched(const nuva::imagegen::ImageSpec& rom, const std::string& bootGeneration) {
        EXPECT_EQ(BootGeneration(), bootGeneration);
        EXPECT_EQ(RomIdentity(), Identity(rom));
        EXPECT_EQ(flash_e2e::JsonField(Status(), "running"), "null");
        EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(rom));
    }
};

TEST_F(UpdateWindows, ACompleteUpdateEndsTheProgramAndTheHandheldRestartsWithTheNewRom) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02, UserFiles())));
    UserRobot user("complete-update", Update());
    EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);

    ASSERT_EQ(user.Names(),
              (Names{"main-menu", "backup-notice", "update-info", "erase-caution", "update-progress"}))
        << user.Story();
    // The two columns compare the handheld with the image.
    const Meeting& info = *user.Find("update-info");
    EXPECT_EQ(info.Said(1016), "Brel Nuva Q7 Advanced");
    EXPECT_EQ(info.Said(1017), "A02(03050300EN)");
    EXPECT_EQ(info.Said(1051), "Microsoft POCKET PC 2003");
    EXPECT_EQ(info.Said(1018), "English");
    EXPECT_EQ(info.Said(1050), "Brel Nuva Q7 Advanced");
    EXPECT_EQ(info.Said(1052), "A03(04100300EN)");
    EXPECT_EQ(info.Said(1053), "Microsoft POCKET PC 2003");
    EXPECT_EQ(info.Said(1054), "English");
    // While it copies, the bars are up and the status line counts; at the
    // end it says the handheld is upgrading and offers Exit.
    const Meeting& progress = *user.Find("update-progress");
    ASSERT_TRUE(progress.ReadAt("")) << user.Story();
    EXPECT_EQ(progress.Title(), "Brel Nuva Reflash");
    EXPECT_EQ(progress.Said(1013), "Reflash in Progress...");
    EXPECT_EQ(progress.Said(1011).rfind("Copying files...", 0), 0u) << progress.Said(1011);
    EXPECT_NE(progress.Said(1010), "(not shown)");
    ASSERT_TRUE(progress.ReadAt("done")) << user.Story();
    EXPECT_EQ(progress.Title("done"), "Brel Nuva Update Utility");
    EXPECT_EQ(progress.Said(1013, "done"), "Copy Complete.\n");
    EXPECT_EQ(progress.Said(1014, "done"),
              "The device is upgrading now and will take about 5 minutes to complete.");
    EXPECT_EQ(progress.Said(1000, "done"), "&Exit");
    EXPECT_EQ(progress.Said(1007, "done"), "(not shown)");
    ASSERT_TRUE(LastRun().has_value());
    EXPECT_EQ(LastRun()->kind, nuva::RunRecord::Kind::kUpdate);
    EXPECT_EQ(LastRun()->result, 1);
    EXPECT_EQ(fs::path(LastRun()->path), fs::path(DemoInstallation()) / "images" / "A03-advanced.nb0");

    // The program has left; the handheld runs the flasher and restarts with
    // the new ROM, the user's files kept (the same generation).
    ASSERT_TRUE(WaitForRom(kA03)) << Status() << handheld_->Log();
    EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(kA03));
    bool readable = false;
    EXPECT_TRUE(SameFiles(StorageFiles(flash_e2e::kAdvancedFlashBytes, readable), UserFiles()));
    EXPECT_TRUE(readable);
}

TEST_F(UpdateWindows, AnUpdateWithTheRomBackupTickedSavesTheOldRomFirstThenUpdatesAcrossGenerations) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA00, UserFiles())));
    UserRobot user("update-with-backup", Update(true, {"before-update"}));
    EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);

    // Pocket PC 2002 to 2003: the generation notice, one erase caution (the
    // adapter stays in during the backup), the backup, then the update and
    // its completion notice.
    ASSERT_EQ(user.Names(), (Names{"main-menu", "backup-notice", "update-info", "os-change-notice",
                                   "erase-caution", "backup-required", "file-question", "backup-progress",
                                   "backup-complete", "update-progress", "completion-notice"}))
        << user.Story();
    EXPECT_NE(user.Find("os-change-notice")->Said(1033).find("2. You lose all built-in storage data"),
              std::string::npos);
    const Meeting& saveAs = *user.Find("file-question");
    EXPECT_EQ(saveAs.Title(), "Save Current ROM As:");
    EXPECT_EQ(saveAs.Said(0), "A00H-12160200EN");
    EXPECT_EQ(fs::path(saveAs.readings.at("").folder), fs::path(Documents()));
    const Meeting& backup = *user.Find("backup-progress");
    EXPECT_EQ(backup.Title(), "Brel Nuva ROM Backup");
    EXPECT_EQ(backup.Said(1011).rfind("Copying files and saving ROM image ... ", 0), 0u) << backup.Said(1011);
    EXPECT_EQ(user.Find("backup-complete")->Said(2000), "The ROM image has been saved successfully!");
    EXPECT_EQ(user.Find("update-progress")->Said(1000, "done"), "&Next >");
    const Meeting& notice = *user.Find("completion-notice");
    EXPECT_EQ(notice.Title(), "Update complete!");
    EXPECT_EQ(notice.Said(1072).rfind("\nYour built-in storage must be formatted", 0), 0u);
    EXPECT_NE(notice.Said(1071), "(not shown)");  // the Pocket PC 2003 picture
    EXPECT_EQ(notice.Said(1073), "(not shown)");
    ASSERT_TRUE(LastRun().has_value());
    EXPECT_EQ(LastRun()->kind, nuva::RunRecord::Kind::kUpdate);
    EXPECT_EQ(LastRun()->result, 1);

    // The backup: the typed name with the backup's extension, in the
    // documents folder; the Pocket PC 2002 ROM whole, behind its header.
    const std::string ris = Documents() + "/before-update.RIS";
    const Bytes saved = flash_e2e::ReadFile(ris);
    ASSERT_EQ(saved.size(), 512u + k2002Bytes);
    EXPECT_TRUE(Bytes(saved.begin() + 512, saved.end()) == Contents(kA00));
    nuva::ImageHeader header;
    EXPECT_EQ(nuva::CheckImageFile(ris, header), saved.size());
    EXPECT_EQ(header.DateCode(), "12160200");
    EXPECT_EQ(header.RomName(), "A00");

    // The new generation erased the built-in storage.
    ASSERT_TRUE(WaitForRom(kA03)) << Status() << handheld_->Log();
    EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(kA03));
    bool readable = false;
    EXPECT_TRUE(StorageFiles(flash_e2e::kAdvancedFlashBytes, readable).empty());
    EXPECT_TRUE(readable);
}

TEST_F(UpdateWindows, TheSameRomIsRefusedWithItsReasonAndTheMenuComesBack) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA03)));
    const std::string boot = BootGeneration();
    UserRobot user("refused-same-rom", Update());
    EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);

    ASSERT_EQ(user.Names(), (Names{"main-menu", "backup-notice", "update-info", "reason", "main-menu"}))
        << user.Story();
    const Meeting& reason = *user.Find("reason");
    EXPECT_EQ(reason.Title(), "Caution");
    EXPECT_EQ(reason.Said(1069), kReasonHeading);
    EXPECT_EQ(
        reason.Said(1023),
        "* The update is the same as your current ROM image. You do not need to update your Pocket PC.\n");
    // Its page never offered Next.
    EXPECT_FALSE(user.Find("update-info")->readings.at("").enabled.at(1003));
    EXPECT_FALSE(LastRun().has_value());
    ExpectUntouched(kA03, boot);
}

TEST_F(UpdateWindows, AnotherLanguageIsRefusedWithItsReasonAndTheProgramEnds) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(
        FactoryRom("factory.nb0", flash_e2e::Rom(nuva::imagegen::OsFamily::k2003, "03050300", "A02", "FR"))));
    const std::string boot = BootGeneration();
    UserRobot user("refused-language", Update());
    EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);

    ASSERT_EQ(user.Names(), (Names{"main-menu", "backup-notice", "update-info", "reason"})) << user.Story();
    EXPECT_EQ(user.Find("update-info")->Said(1018), "French");
    const Meeting& reason = *user.Find("reason");
    EXPECT_EQ(reason.Said(1069), kReasonHeading);
    EXPECT_EQ(reason.Said(1023), "* The update does not support this language version.\n");
    EXPECT_FALSE(LastRun().has_value());
    EXPECT_EQ(BootGeneration(), boot);
    EXPECT_EQ(RomIdentity(), "03050300 A02 4");
}

TEST_F(UpdateWindows, TheEraseCautionWaitsForTheAcAdapter) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    Ctl({"ac", "off"});
    const std::string boot = BootGeneration();
    UserRobot user("ac-adapter", Update());
    // On battery the user waits a while before Continue (a hundred of the
    // dialog's checks at this time scale), then plugs the adapter in; once
    // Continue is offered he changes his mind and goes back to the menu.
    bool enabledOnBattery = false;
    auto watched = std::chrono::steady_clock::now();
    user.On("erase-caution", [&](Meeting& m) {
        if (m.step == 0) {
            watched = std::chrono::steady_clock::now();
            m.step = 1;
        }
        if (m.step == 1) {
            enabledOnBattery |= UserRobot::Usable(m, 1);
            if (std::chrono::steady_clock::now() - watched < std::chrono::milliseconds(500)) {
                return;
            }
            user.Read(m, "battery");
            Ctl({"ac", "on"});
            m.step = 2;
        }
        if (UserRobot::Usable(m, 1)) {
            user.Read(m, "ac");
            user.Click(m, 2);
        }
    });
    user.On("update-info", [&](Meeting& m) {
        if (m.showing == 1) {
            user.Usual(m);
        } else if (UserRobot::Usable(m, 1003)) {
            user.Read(m);
            user.Click(m, 1004);  // < Back
        }
    });
    user.On("backup-notice", [&](Meeting& m) {
        if (m.showing == 1) {
            user.Usual(m);
        } else if (UserRobot::Usable(m, 1026)) {
            user.Read(m);
            user.Click(m, 1025);  // < Back
        }
    });
    EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);

    ASSERT_EQ(user.Names(), (Names{"main-menu", "backup-notice", "update-info", "erase-caution",
                                   "update-info", "backup-notice", "main-menu"}))
        << user.Story();
    const Meeting& caution = *user.Find("erase-caution");
    EXPECT_FALSE(enabledOnBattery);
    ASSERT_TRUE(caution.ReadAt("battery") && caution.ReadAt("ac")) << user.Story();
    EXPECT_FALSE(caution.readings.at("battery").enabled.at(1));
    EXPECT_TRUE(caution.readings.at("ac").enabled.at(1));
    EXPECT_EQ(caution.Said(1068, "ac"), "The reflash procedure clears all data in your Pocket PC.");
    EXPECT_FALSE(LastRun().has_value());
    ExpectUntouched(kA02, boot);
}

TEST_F(UpdateWindows, ACablePulledDuringTheTransferFailsTheRunAndTheHandheldKeepsItsRom) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    UserRobot user("cable-pulled-in-transfer", Update());
    user.On("update-progress", [&](Meeting& m) {
        if (m.step == 0 && UserRobot::Usable(m, 1007) && UserRobot::Percent(m) >= 10) {
            user.Read(m);
            Ctl({"unplug"});
            m.step = 1;
        }
        if (UserRobot::Usable(m, 1000)) {
            user.Read(m, "done");  // never, with the cable out
            user.Click(m, 1000);
        }
    });
    EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);

    ASSERT_EQ(user.Names(), (Names{"main-menu", "backup-notice", "update-info", "erase-caution",
                                   "update-progress", "message-box"}))
        << user.Story();
    const Meeting& box = *user.Find("message-box");
    EXPECT_EQ(box.Title(), "Caution");
    EXPECT_EQ(box.Said(0), kCopyIncomplete);
    EXPECT_FALSE(user.Find("update-progress")->ReadAt("done"));
    ASSERT_TRUE(LastRun().has_value());
    EXPECT_EQ(LastRun()->kind, nuva::RunRecord::Kind::kUpdate);
    EXPECT_EQ(LastRun()->result, 2);

    // Back on its cable, the handheld still runs its old ROM.
    Ctl({"plug"});
    EXPECT_EQ(RomIdentity(), Identity(kA02));
    EXPECT_EQ(flash_e2e::JsonField(Status(), "running"), "null");
    EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(kA02));
}

TEST_F(UpdateWindows, ACablePulledAtTheMenuShowsTheLostConnectionAndTheProgramEndsWithTheConnectHint) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    const std::string boot = BootGeneration();
    UserRobot user("cable-pulled-at-menu", Update());
    user.On("main-menu", [&](Meeting& m) {
        if (UserRobot::Usable(m, kUpdateRom)) {
            user.Read(m);
            m.acted = true;  // and waits for the menu to notice
            Ctl({"unplug"});
        }
    });
    EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);

    // The menu notices, says so, and the program looks for the handheld
    // once more before it gives up.
    ASSERT_EQ(user.Names(), (Names{"main-menu", "connection-lost", "message-box"})) << user.Story();
    const Meeting& lost = *user.Find("connection-lost");
    EXPECT_EQ(lost.Title(), "Caution");
    EXPECT_EQ(lost.Said(1046), kReasonHeading);
    EXPECT_EQ(lost.Said(1021), "* The connection between the computer and the device cannot be detected");
    EXPECT_EQ(
        user.Find("message-box")->Said(0).rfind("Connect your device to a computer using a sync cable", 0),
        0u);
    EXPECT_FALSE(LastRun().has_value());

    Ctl({"plug"});
    EXPECT_EQ(BootGeneration(), boot);
    EXPECT_EQ(RomIdentity(), Identity(kA02));
}

}  // namespace
}  // namespace setup_windows_e2e
