// nuva-flash's checks against a running emulated handheld: every refusal
// with its exact text and exit code, the battery and AC power rules, a
// handheld that is not there, and the command line.
#include <filesystem>
#include <fstream>
#include <thread>

#include "formats/device_info.h"
#include "setup/device/image_catalogue.h"
#include "tests/e2e/flash/flash_e2e_support.h"

namespace flash_e2e {
namespace {

using nuva::imagegen::ModelClass;
using nuva::imagegen::OsFamily;
namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

const nuva::imagegen::ImageSpec kA02 = Rom(OsFamily::k2003, "03050300", "A02");
const nuva::imagegen::ImageSpec kA03 = Rom(OsFamily::k2003, "04100300", "A03");
const nuva::imagegen::ImageSpec kA04 = Rom(OsFamily::k2003, "06010300", "A04");
const std::string kHeading = "[Caution]\nThe procedure CANNOT proceed due to the following reason:\n";

// A backup file as another handheld of the same model, running an older
// ROM, would have saved it.
void WriteOtherHandheldsBackup(const std::string& path) {
    nuva::DeviceInfo other;
    other.Supported = 1;
    other.AcOnline = 1;
    other.LanguageId = 0x0409;
    other.RamSizeMB = 64;
    other.MemoryConfig = nuva::kMemoryConfigAdvanced;
    other.PlatformInfo = 0x03050300;
    other.OsMajorVersion = 4;
    nuva::SetFieldText(other.RomVersion, u"A02");
    other.DeviceUuid.fill(0xA5);
    Bytes contents;
    ASSERT_EQ(nuva::imagegen::MakeContents(kA02, contents), nuva::imagegen::ImageGenError::kNone);
    uint32_t sum = 0;
    for (uint8_t b : contents)
        sum += b;
    const auto header = nuva::BuildRisHeader(other, static_cast<uint32_t>(contents.size()), sum);
    contents.insert(contents.begin(), header.begin(), header.end());
    ASSERT_TRUE(WriteFile(path, contents));
}

TEST_F(FlashE2E, EveryRefusalShowsItsTextAndLeavesTheHandheldAlone) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA03)));
    std::string out;

    // What an update would meet, without trying it.
    EXPECT_EQ(RunFlash(DemoInstallation(), {"info"}, out), 0) << out;
    EXPECT_TRUE(Has(out,
                    "                Current System Information    Update Information\n"
                    "Model :         Brel Nuva Q7 Advanced         Brel Nuva Q7 Advanced\n"
                    "ROM version :   A03(04100300EN)               A03(04100300EN)\n"
                    "OS Version:     Microsoft POCKET PC 2003      Microsoft POCKET PC 2003\n"
                    "Language :      English                       English\n"
                    "An update would be refused:\n"))
        << out;

    EXPECT_EQ(RunFlash(DemoInstallation(), {"update", "--yes"}, out), 2) << out;
    EXPECT_TRUE(Has(out, kHeading +
                             "* The update is the same as your current ROM image. You do not need to update "
                             "your Pocket PC.\n"))
        << out;

    const std::string french =
        MakeInstallation("french", Rom(OsFamily::k2003, "06010300", "A04", "FR"), kA04);
    EXPECT_EQ(RunFlash(french, {"update", "--yes"}, out), 2) << out;
    EXPECT_TRUE(Has(out, kHeading + "* The update does not support this language version.\n")) << out;

    const std::string older = MakeInstallation("older", kA02, kA02);
    EXPECT_EQ(RunFlash(older, {"update", "--yes"}, out), 2) << out;
    EXPECT_TRUE(
        Has(out, kHeading + "* You cannot downgrade Microsoft Pocket PC 2003(A03) to Pocket PC 2003(A02).\n"))
        << out;

    // A "Basic" image named for the "Advanced" class.
    const std::string basic =
        MakeInstallation("basic", Rom(OsFamily::k2003, "06010300", "A04", "EN", ModelClass::kBasic), kA04);
    EXPECT_EQ(RunFlash(basic, {"update", "--yes"}, out), 3) << out;
    EXPECT_TRUE(Has(out,
                    "[Caution]\nThe integrity check on the system image file failed. \n"
                    "Reinstall the Reflash program.\n"))
        << out;

    // A damaged image whose header counts nothing (so no sum checks it): its
    // identity block no longer vouches for its contents, and flashing it
    // would brick the handheld. Refused before anything is written.
    nuva::imagegen::ImageSpec uncounted = kA04;
    uncounted.withSum = false;
    const std::string damaged = MakeInstallation("damaged", uncounted, kA04);
    Bytes image = ReadFile(damaged + "/images/high.nb0");
    ASSERT_GT(image.size(), 0x300000u);
    image[0x300000] ^= 0x40;
    ASSERT_TRUE(WriteFile(damaged + "/images/high.nb0", image));
    EXPECT_EQ(RunFlash(damaged, {"update", "--yes"}, out), 3) << out;
    EXPECT_TRUE(Has(out,
                    "[Caution]\nThe integrity check on the system image file failed. \n"
                    "Reinstall the Reflash program.\n"))
        << out;
    EXPECT_FALSE(Has(out, "Reflash in Progress")) << out;

    const std::string foreign = Path("other.ris");
    ASSERT_NO_FATAL_FAILURE(WriteOtherHandheldsBackup(foreign));
    EXPECT_EQ(RunFlash(DemoInstallation(), {"restore", foreign, "--yes"}, out), 2) << out;
    EXPECT_TRUE(Has(out,
                    "* You can only restore the ROM image to the same device from which it was originally "
                    "saved.\n"))
        << out;

    // The user answers no at the erase caution: nothing happens.
    const std::string newer = MakeInstallation("newer", kA04, kA04);
    EXPECT_EQ(RunFlash(newer, {"update"}, out, "n\n"), 2) << out;
    EXPECT_TRUE(Has(out, "Do you want to continue? [y/N] ")) << out;
    EXPECT_TRUE(Has(out, "Cancelled.")) << out;
    EXPECT_FALSE(Has(out, "Reflash in Progress")) << out;
    EXPECT_EQ(RomIdentity(), Identity(kA03));

    // The language module setup.ini names for the language on the command
    // line replaces the texts; one whose formats take other arguments is
    // refused, and the built-in texts stay.
    const std::string translated = MakeInstallation(
        "translated", kA03, kA03, "[040c]\r\nRESMODULE=fr.rc\r\n[0407]\r\nRESMODULE=de.rc\r\n");
    std::ofstream(translated + "/fr.rc") << "163 \"* La mise \xC3\xA0 jour est votre ROM actuelle.\\n\"\n"
                                         << "159 \"Impossible de continuer :\"\n";
    std::ofstream(translated + "/de.rc") << "141 \"%s %s %s\"\n";
    EXPECT_EQ(RunFlash(translated, {"update", "--yes", "/language:fr"}, out), 2) << out;
    EXPECT_TRUE(
        Has(out, "[Caution]\nImpossible de continuer :\n* La mise \xC3\xA0 jour est votre ROM actuelle.\n"))
        << out;
    EXPECT_EQ(RunFlash(translated, {"/LANGUAGE:GE", "update", "--yes"}, out), 2) << out;
    EXPECT_TRUE(Has(out, "nuva-flash: language module")) << out;
    EXPECT_TRUE(Has(out, kHeading + "* The update is the same as your current ROM image.")) << out;

    // Forced, the older image is written.
    EXPECT_EQ(RunFlash(older, {"update", "--yes", "/force"}, out), 0) << out;
    EXPECT_EQ(RomIdentity(), Identity(kA02));
}

TEST_F(FlashE2E, BatteryBelowFortyRefusesFortyAndNoBatteryPass) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    fs::create_directories(Path("saved"));
    std::string out;

    Ctl({"battery", "39"});
    EXPECT_EQ(RunFlash(DemoInstallation(), {"update", "--yes"}, out), 2) << out;
    EXPECT_TRUE(Has(out, kHeading + "* Battery power is less than 40%.\n")) << out;
    EXPECT_FALSE(Has(out, "Do you want to continue?")) << out;  // refused on the information page
    EXPECT_EQ(RunFlash(DemoInstallation(), {"backup", Path("saved/39.ris"), "--yes"}, out), 2) << out;
    EXPECT_TRUE(Has(out, kHeading + "* Battery power is less than 40%.\n")) << out;  // at the caution
    EXPECT_FALSE(fs::exists(Path("saved/39.ris")));

    Ctl({"battery", "40"});
    EXPECT_EQ(RunFlash(DemoInstallation(), {"backup", Path("saved/40.ris"), "--yes"}, out), 0) << out;
    EXPECT_TRUE(fs::exists(Path("saved/40.ris")));

    Ctl({"battery", "none"});  // reported as 0xFFFFFFFF, which passes
    EXPECT_EQ(RunFlash(DemoInstallation(), {"backup", Path("saved/none.ris"), "--yes"}, out), 0) << out;
    EXPECT_TRUE(fs::exists(Path("saved/none.ris")));
    EXPECT_FALSE(Has(out, "Battery power")) << out;
    EXPECT_EQ(RomIdentity(), Identity(kA02));
}

TEST_F(FlashE2E, TheEraseCautionWaitsForTheAcAdapterAndGoesOnOnceItIsPluggedIn) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    Ctl({"ac", "off"});
    std::unique_ptr<FlashRun> run = Flash(DemoInstallation(), {"update", "--yes"});
    ASSERT_TRUE(run->WaitFor("Waiting for the AC adapter to be connected")) << run->Output();
    // A minute on the scaled clock: still waiting, nothing copied.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_TRUE(run->Running());
    EXPECT_FALSE(Has(run->Output(), "Do you want to continue? [y/N] y")) << run->Output();
    EXPECT_EQ(RomIdentity(), Identity(kA02));

    Ctl({"ac", "on"});
    EXPECT_EQ(run->Finish(), 0) << run->Output();
    EXPECT_TRUE(Has(run->Output(), "Do you want to continue? [y/N] y  (--yes)")) << run->Output();
    EXPECT_EQ(RomIdentity(), Identity(kA03));
}

TEST_F(FlashE2E, ACablePulledWhileTheCautionWaitsEndsWithTheConnectionLost) {
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    Ctl({"ac", "off"});
    std::unique_ptr<FlashRun> run = Flash(DemoInstallation(), {"update", "--yes"});
    ASSERT_TRUE(run->WaitFor("Waiting for the AC adapter to be connected")) << run->Output();
    Ctl({"unplug"});
    EXPECT_EQ(run->Finish(), 4) << run->Output();
    EXPECT_TRUE(Has(run->Output(),
                    "* The connection between the computer and the device cannot be detected\n"
                    "\nEnsure that the USB/serial cable/cradle \nis connected correctly and try again."))
        << run->Output();
    Ctl({"plug"});
    EXPECT_EQ(RomIdentity(), Identity(kA02));
}

TEST_F(FlashE2E, WithoutAHandheldOrWithAWrongCommandLineItSaysSo) {
    std::string out;
    EXPECT_EQ(RunFlash(DemoInstallation(), {"info"}, out), 4) << out;
    EXPECT_TRUE(
        Has(out,
            "[Caution]\nConnect your device to a computer using a sync cable or cradle before running "
            "the reflash."))
        << out;

    EXPECT_EQ(RunFlash(DemoInstallation(), {"restore"}, out), 1) << out;
    EXPECT_TRUE(Has(out, "nuva-flash: restore takes one FILE")) << out;

    EXPECT_EQ(RunFlash(DemoInstallation(), {"--help"}, out), 0) << out;
    for (const char* code : {"0  done", "1  the command line is wrong", "2  refused", "3  a check failed",
                             "4  no handheld connected", "5  the update, restore or backup failed",
                             "6  the handheld did not answer again"}) {
        EXPECT_TRUE(Has(out, code)) << code;
    }

    // An installation without images for either class ends before any menu.
    const std::string empty = Path("empty");
    fs::create_directories(empty);
    fs::copy_file(DemoInstallation() + "/nuva-flash", empty + "/nuva-flash");
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02)));
    EXPECT_EQ(RunFlash(empty, {"backup", Path("x.ris"), "--yes"}, out), 3) << out;
    EXPECT_TRUE(Has(out, "The Reflash file can not be found. Reinstall the Reflash .")) << out;
}

}  // namespace
}  // namespace flash_e2e
