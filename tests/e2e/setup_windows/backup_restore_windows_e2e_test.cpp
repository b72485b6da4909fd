// Backups and restores through Setup's windows: the plain backup of the
// Backup/Restore ROM choice, saved over an older file, and a restore chosen
// in the Open dialog that brings an earlier ROM back byte for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "formats/image_header.h"
#include "setup/device/image_catalogue.h"
#include "tests/e2e/setup_windows/windows_e2e_support.h"

namespace setup_windows_e2e {
namespace {

namespace fs = std::filesystem;
using flash_e2e::Bytes;

using BackupRestoreWindows = SetupWindowsE2E;

TEST_F(BackupRestoreWindows, APlainBackupSavesTheWholeRomAndReturnsToTheChoiceAndTheMenu) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    // A file of that name is there already: the user is asked, and says
    // to replace it.
    const std::string ris = Documents() + "/weekly.RIS";
    ASSERT_TRUE(flash_e2e::WriteFile(ris, Bytes(1000, 0xEE)));
    UserPlan plan;
    plan.menu = {kBackupRestoreRom};
    plan.choice = {kSaveRom};
    plan.fileNames = {"weekly"};
    plan.replace = true;
    UserRobot user("plain-backup", plan);
    EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);

    // After the backup the choice comes back; cancelled, the program tests
    // the connection again and shows the menu, whose Exit ends it.
    ASSERT_EQ(user.Names(), (Names{"main-menu", "backup-restore-choice", "backup-confirm", "file-question",
                                   "question", "erase-caution", "backup-progress", "backup-complete",
                                   "backup-restore-choice", "main-menu"}))
        << user.Story();
    const Meeting& confirm = *user.Find("backup-confirm");
    EXPECT_EQ(confirm.Said(1041), "Brel Nuva Q7 Advanced");
    EXPECT_EQ(confirm.Said(1040), "A02(03050300EN)");
    EXPECT_EQ(confirm.Said(1047), "Microsoft POCKET PC 2003");
    EXPECT_EQ(confirm.Said(1042), "English");
    EXPECT_EQ(user.Find("file-question")->Said(0), "A02H-03050300EN");
    EXPECT_NE(user.Find("question")->Said(0).find("already exists"), std::string::npos)
        << user.Find("question")->Said(0);
    const Meeting& progress = *user.Find("backup-progress");
    EXPECT_EQ(progress.Title(), "Brel Nuva System Backup");
    EXPECT_EQ(progress.Said(1013), "ROM Backup in progress...");
    EXPECT_EQ(progress.Said(1010), "(not shown)");  // the second bar is never used
    // Its OK waited for the handheld's restart after the backup.
    EXPECT_TRUE(user.Find("backup-complete")->readings.at("").enabled.at(1));
    ASSERT_TRUE(LastRun().has_value());
    EXPECT_EQ(LastRun()->kind, nuva::RunRecord::Kind::kBackup);
    EXPECT_EQ(LastRun()->result, 1);
    EXPECT_EQ(fs::path(LastRun()->path), fs::path(ris));

    // The file replaced the old one: a header, then the flash from 0x40000.
    const Bytes saved = flash_e2e::ReadFile(ris);
    ASSERT_EQ(saved.size(), 512u + k2003Bytes);
    EXPECT_TRUE(Bytes(saved.begin() + 512, saved.end()) == DumpFlash(0x40000, k2003Bytes));
    EXPECT_TRUE(Bytes(saved.begin() + 512, saved.end()) == Contents(kA02));
    nuva::ImageHeader header;
    EXPECT_EQ(nuva::CheckImageFile(ris, header), saved.size());
    EXPECT_EQ(header.DateCode(), "03050300");
    EXPECT_EQ(header.RomName(), "A02");
    EXPECT_EQ(std::distance(fs::directory_iterator(Documents()), fs::directory_iterator()), 1);
    EXPECT_TRUE(WaitForRom(kA02)) << Status();
}

TEST_F(BackupRestoreWindows, ARestoreChosenInTheOpenDialogBringsTheOldRomBackByteForByte) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02, UserFiles())));
    {
        // First the update, with the old ROM saved on the way.
        UserPlan plan;
        plan.menu = {kUpdateRom};
        plan.backupWanted = true;
        plan.fileNames = {"A02-before-A03"};
        UserRobot user("restore-1-update", plan);
        EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);
        ASSERT_EQ(user.Names(),
                  (Names{"main-menu", "backup-notice", "update-info", "erase-caution", "backup-required",
                         "file-question", "backup-progress", "backup-complete", "update-progress"}))
            << user.Story();
        ASSERT_TRUE(WaitForRom(kA03)) << Status() << handheld_->Log();
    }
    const std::string ris = Documents() + "/A02-before-A03.RIS";
    ASSERT_TRUE(fs::exists(ris));

    UserPlan plan;
    plan.menu = {kBackupRestoreRom};
    plan.choice = {kRestoreRom};
    plan.fileNames = {"A02-before-A03.RIS"};
    UserRobot user("restore-2-restore", plan);
    EXPECT_EQ(RunSetup(DemoInstallation(), user), 0);

    ASSERT_EQ(user.Names(), (Names{"main-menu", "backup-restore-choice", "file-question", "restore-info",
                                   "erase-caution", "update-progress"}))
        << user.Story();
    const Meeting& open = *user.Find("file-question");
    EXPECT_EQ(open.Title(), "Restore ROM Image From");
    EXPECT_EQ(fs::path(open.readings.at("").folder), fs::path(Documents()));
    // The handheld now, beside the backup.
    const Meeting& info = *user.Find("restore-info");
    EXPECT_EQ(info.Said(1017), "A03(04100300EN)");
    EXPECT_EQ(info.Said(1052), "A02(03050300EN)");
    EXPECT_EQ(info.Said(1053), "Microsoft POCKET PC 2003");
    const Meeting& progress = *user.Find("update-progress");
    EXPECT_EQ(progress.Title(), "Brel Nuva System ROM Image Restoring");
    EXPECT_EQ(progress.Said(1013), "ROM Restore process in progress...");
    EXPECT_EQ(progress.Title("done"), "Brel Nuva ROM Restore");
    EXPECT_EQ(progress.Said(1014, "done"),
              "The ROM is being restored and will take about 5 minutes to complete.");
    EXPECT_EQ(progress.Said(1000, "done"), "&Exit");
    ASSERT_TRUE(LastRun().has_value());
    EXPECT_EQ(LastRun()->kind, nuva::RunRecord::Kind::kRestore);
    EXPECT_EQ(LastRun()->result, 1);
    EXPECT_EQ(fs::path(LastRun()->path), fs::path(ris));

    // Both runs kept the generation, and with it the user's files.
    ASSERT_TRUE(WaitForRom(kA02)) << Status() << handheld_->Log();
    EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(kA02));
    bool readable = false;
    EXPECT_TRUE(SameFiles(StorageFiles(flash_e2e::kAdvancedFlashBytes, readable), UserFiles()));
    EXPECT_TRUE(readable);
}

}  // namespace
}  // namespace setup_windows_e2e
