// nuva-flash's update, backup and restore against a running emulated
// handheld, the whole way: the flash is compared byte for byte, the built-in
// storage read back, and failures are made by the handheld's control
// interface (a pulled cable, agent calls that fail).
#include <filesystem>

#include "setup/device/image_catalogue.h"
#include "tests/e2e/flash/flash_e2e_support.h"

namespace flash_e2e {
namespace {

using nuva::imagegen::OsFamily;
namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

const nuva::imagegen::ImageSpec kA02 = Rom(OsFamily::k2003, "03050300", "A02");
const nuva::imagegen::ImageSpec kA03 = Rom(OsFamily::k2003, "04100300", "A03");  // the demo installation's
const nuva::imagegen::ImageSpec kA00 = Rom(OsFamily::k2002, "12160200", "A00");
constexpr uint32_t k2003Bytes = 0x1980000;

std::vector<StorageFile> UserFiles() {
    return {{u"Contacts.cdb", Bytes(3000, 0x5A)}, {u"Notes.pwi", Bytes{'m', 'e', 'e', 't', ' ', '9'}}};
}

bool SameFiles(const std::vector<StorageFile>& a, const std::vector<StorageFile>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].data != b[i].data)
            return false;
    }
    return true;
}

TEST_F(FlashE2E, SameGenerationUpdateKeepsTheBuiltInStorageAndEndsWithTheHandheldsReport) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02, UserFiles())));
    std::string out;
    ASSERT_EQ(RunFlash(DemoInstallation(), {"update", "--yes"}, out), 0) << out << handheld_->Log();

    EXPECT_TRUE(Has(out, "ROM version :   A02(03050300EN)               A03(04100300EN)")) << out;
    EXPECT_TRUE(Has(out, "Do you want to continue? [y/N] y  (--yes)")) << out;
    EXPECT_TRUE(Has(out, "Copying files...100 %")) << out;
    EXPECT_TRUE(Has(out,
                    "Copy Complete.\nThe device is upgrading now and will take about 5 minutes to complete.\n"
                    "[Exit]"))
        << out;
    EXPECT_FALSE(Has(out, "You lose all built-in storage data")) << out;
    EXPECT_FALSE(Has(out, "Update complete!")) << out;
    EXPECT_TRUE(Has(out,
                    "The handheld answers again with its new ROM:\n  date code   04100300\n"
                    "  version     A03  (A03(04100300EN))\n  OS          Microsoft POCKET PC 2003"))
        << out;

    EXPECT_EQ(RomIdentity(), Identity(kA03));
    EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(kA03));
    bool readable = false;
    EXPECT_TRUE(SameFiles(StorageFiles(kAdvancedFlashBytes, readable), UserFiles()));
    EXPECT_TRUE(readable);
}

TEST_F(FlashE2E, CrossGenerationUpdateWarnsShowsTheCompletionNoticeAndErasesTheBuiltInStorage) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA00, UserFiles())));
    std::string out;
    ASSERT_EQ(RunFlash(DemoInstallation(), {"update", "--yes"}, out), 0) << out << handheld_->Log();

    EXPECT_TRUE(Has(out, "OS Version:     Microsoft POCKET PC 2002      Microsoft POCKET PC 2003")) << out;
    EXPECT_TRUE(
        Has(out,
            "2. You lose all built-in storage data when you upgrade from Pocket PC 2002 to Pocket PC "
            "2003 or restore Pocket PC 2002 from Pocket PC 2003.\nNotice :\nClick [Continue] to begin "
            "the update process.\nContinue [y/N] y  (--yes)"))
        << out;
    EXPECT_TRUE(
        Has(out, "[Next >]\n== Update complete! ==\nNOTICE :\n\nYour built-in storage must be formatted"))
        << out;
    EXPECT_TRUE(Has(out, "(the handheld now runs Pocket PC 2003)")) << out;

    EXPECT_EQ(RomIdentity(), Identity(kA03));
    EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(kA03));
    bool readable = false;
    EXPECT_TRUE(StorageFiles(kAdvancedFlashBytes, readable).empty());
    EXPECT_TRUE(readable);
}

TEST_F(FlashE2E, BackupThenUpdateThenRestoreBringsBackTheOldRomByteForByte) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    const std::string ris = Path("saved/A02H-03050300EN.RIS");
    fs::create_directories(Path("saved"));
    std::string out;
    ASSERT_EQ(RunFlash(DemoInstallation(), {"backup", ris, "--yes"}, out), 0) << out;
    EXPECT_TRUE(Has(out,
                    "Copying files and saving ROM image ... 100%\n== ROM Backup Complete ==\n"
                    "The ROM image has been saved successfully!"))
        << out;
    const Bytes saved = ReadFile(ris);
    ASSERT_EQ(saved.size(), 512u + k2003Bytes);
    EXPECT_TRUE(Bytes(saved.begin() + 512, saved.end()) == Contents(kA02));
    nuva::ImageHeader header;
    EXPECT_EQ(nuva::CheckImageFile(ris, header), saved.size());
    EXPECT_EQ(header.DateCode(), "03050300");
    EXPECT_EQ(header.RomName(), "A02");
    EXPECT_EQ(fs::directory_iterator(Path("saved"))->path(), ris);  // nothing else beside it

    ASSERT_EQ(RunFlash(DemoInstallation(), {"update", "--yes"}, out), 0) << out;
    ASSERT_EQ(RomIdentity(), Identity(kA03));

    ASSERT_EQ(RunFlash(DemoInstallation(), {"restore", ris, "--yes"}, out), 0) << out << handheld_->Log();
    EXPECT_TRUE(Has(out, "Current System Information    Backup ROM information")) << out;
    EXPECT_TRUE(Has(out, "ROM Restore process in progress...")) << out;
    EXPECT_TRUE(Has(out, "The ROM is being restored and will take about 5 minutes to complete.")) << out;
    EXPECT_EQ(RomIdentity(), Identity(kA02));
    EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(kA02));
}

TEST_F(FlashE2E, AHandheldThatRestartsSlowlyAfterThePreparationIsWaitedFor) {
    // Thirty seconds to start, several times the seven waiting ticks.
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02), {"--boot-time", "30"}));
    std::string out;
    ASSERT_EQ(RunFlash(DemoInstallation(), {"update", "--yes"}, out), 0) << out << handheld_->Log();
    EXPECT_EQ(RomIdentity(), Identity(kA03));
    EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(kA03));
}

TEST_F(FlashE2E, ACablePulledDuringTheTransferFailsTheRunAndTheHandheldKeepsItsRom) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    std::unique_ptr<FlashRun> run = Flash(DemoInstallation(), {"update", "--yes"});
    ASSERT_TRUE(run->WaitFor("Copying files...")) << run->Output();
    Ctl({"unplug"});
    EXPECT_EQ(run->Finish(), 5);
    const std::string out = run->Output();
    EXPECT_TRUE(Has(out, "[Caution]\nCopy incomplete! The reflash  procedure CANNOT proceed.")) << out;
    EXPECT_FALSE(Has(out, "Copy Complete.")) << out;
    EXPECT_FALSE(Has(out, "answers again")) << out;

    Ctl({"plug"});
    EXPECT_EQ(RomIdentity(), Identity(kA02));
    EXPECT_EQ(JsonField(Status(), "running"), "null");
    EXPECT_EQ(DumpFlash(0x40000, k2003Bytes), Contents(kA02));
}

TEST_F(FlashE2E, ACablePulledDuringABackupLeavesNoFile) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    fs::create_directories(Path("saved"));
    const std::string ris = Path("saved/rom.ris");
    std::unique_ptr<FlashRun> run = Flash(DemoInstallation(), {"backup", ris, "--yes"});
    ASSERT_TRUE(run->WaitFor("Copying files and saving ROM image")) << run->Output();
    Ctl({"unplug"});
    EXPECT_EQ(run->Finish(), 5);
    const std::string out = run->Output();
    EXPECT_TRUE(Has(out, "Copy incomplete! The reflash  procedure CANNOT proceed.")) << out;
    EXPECT_FALSE(Has(out, "saved successfully")) << out;
    EXPECT_TRUE(fs::is_empty(Path("saved")));  // neither the file nor a partial one

    Ctl({"plug"});
    EXPECT_EQ(RomIdentity(), Identity(kA02));
}

TEST_F(FlashE2E, ABlockThatFailsFourReadsIsReadOnItsFifthAndFiveFailuresLeaveNoFile) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    fs::create_directories(Path("saved"));
    struct Case {
        const char* failures;
        int exitCode;
    };
    // Only the reads of the flash fail, armed before the run starts: the
    // failures land on the first block whatever the machine's load.
    for (const Case& c : {Case{"4", 0}, Case{"5", 5}}) {
        SCOPED_TRACE(c.failures);
        const std::string ris = Path(std::string("saved/rom") + c.failures + ".ris");
        Ctl({"fault", "agent-fail", c.failures, "--export", "FnNUVAReadFlash"});
        std::unique_ptr<FlashRun> run = Flash(DemoInstallation(), {"backup", ris, "--yes"});
        EXPECT_EQ(run->Finish(), c.exitCode);
        const std::string out = run->Output();
        if (c.exitCode == 0) {
            EXPECT_TRUE(Has(out, "The ROM image has been saved successfully!")) << out;
            const Bytes saved = ReadFile(ris);
            ASSERT_EQ(saved.size(), 512u + k2003Bytes);
            EXPECT_TRUE(Bytes(saved.begin() + 512, saved.end()) == Contents(kA02));
        } else {
            EXPECT_TRUE(Has(out, "Copy incomplete! The reflash  procedure CANNOT proceed.")) << out;
            EXPECT_FALSE(fs::exists(ris));
        }
        Ctl({"fault", "clear"});
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("saved")), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace flash_e2e
