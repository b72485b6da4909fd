// A hand-over that the flasher cannot use: the desktop has done its part
// (parts copied and confirmed, the cable's drivers removed, the restart into
// the flasher requested) when the file is damaged on the handheld. The
// handheld must come back on the cable by itself, without the parts in
// \TEMP, still running its ROM, and nuva-flash must say what happened.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "tests/e2e/flash/flash_e2e_support.h"
#include "tests/support/eventually.h"
#include "tools/flash/follow_restart.h"

namespace fault_matrix {
namespace {

using flash_e2e::Bytes;
using flash_e2e::JsonField;
using flash_e2e::Rom;
using nuva::imagegen::OsFamily;
using namespace std::chrono_literals;

const nuva::imagegen::ImageSpec kA02 = Rom(OsFamily::k2003, "03050300", "A02");

bool Has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

class DamagedHandover : public flash_e2e::FlashE2E {
  protected:
    void SetUp() override {
        ::setenv("NUVA_TIME_SCALE", "0.01", 1);
        FlashE2E::SetUp();
    }
};

TEST_F(DamagedHandover, BringsTheHandheldBackOnTheCableWithoutTheParts) {
    // Every start takes a second and a half, long enough to damage the
    // hand-over between the restart into the flasher and the flasher
    // reading it.
    ASSERT_NO_FATAL_FAILURE(StartHandheld(FactoryRom("factory.nb0", kA02), {"--boot-time", "150"}));
    ASSERT_TRUE(nuva::testing::Eventually([&] { return JsonField(Status(), "link") == "true"; }, 60s, 20ms));
    std::unique_ptr<flash_e2e::FlashRun> run =
        Flash(DemoInstallation(), {"update", "--yes", "--no-verify", "--restart-timeout", "60"});

    // The restart into the flasher: the hand-over is on the handheld and the
    // handheld is starting again.
    std::string status;
    std::string generation;
    const bool restarting = nuva::testing::Eventually(
        [&] {
            status = handheld_->Ctl({"status", "--json"}).out;
            if (JsonField(status, "restarting") != "true") {
                return false;
            }
            generation = JsonField(status, "boot_generation");
            return Has(handheld_->Ctl({"ls", "\\temp"}).out, "updinfo.ini");
        },
        120s, 5ms);
    ASSERT_TRUE(restarting) << run->Output() << status;
    const std::string damaged = Path("updinfo.ini");
    ASSERT_TRUE(flash_e2e::WriteFile(damaged, Bytes(1000, 0x41)));  // cut short: not 4480 bytes
    Ctl({"push", damaged, "\\temp\\updinfo.ini"});
    status = Status();
    ASSERT_EQ(JsonField(status, "restarting"), "true")
        << "the restart ended before the hand-over was damaged";
    ASSERT_EQ(JsonField(status, "boot_generation"), generation);

    // The flasher says so on the handheld; the user there presses OK.
    ASSERT_TRUE(nuva::testing::Eventually([&] { return JsonField(Status(), "message_box") != "null"; }, 60s))
        << Status() << handheld_->Log();
    EXPECT_TRUE(Has(Status(), "Cann't Get Update Info(1) ..")) << Status();
    Ctl({"press-ok"});

    const int code = run->Finish(std::chrono::seconds(150));
    const std::string out = run->Output();
    EXPECT_EQ(code, 5) << out;
    EXPECT_TRUE(Has(out, "The handheld answers again, but it runs A02(03050300EN)")) << out;
    EXPECT_TRUE(Has(out, nuva::kFlasherStoppedAdvice)) << out;

    // Back on the cable with its ROM, its factory files and no parts.
    status = Status();
    EXPECT_EQ(JsonField(status, "link"), "true") << status;
    EXPECT_EQ(RomIdentity(), Identity(kA02));
    const std::string temp = Ctl({"ls", "\\TEMP"}).out;
    EXPECT_FALSE(Has(temp, "updinfo.ini")) << temp;
    EXPECT_FALSE(Has(temp, "\t1\n")) << temp;
    EXPECT_FALSE(Has(temp, "\taa\n")) << temp;
    const std::string startup = Ctl({"ls", "\\Windows\\StartUp"}).out;
    EXPECT_FALSE(Has(startup, "Reflash.exe")) << startup;
    EXPECT_EQ(DumpFlash(0x40000, 0x1980000), Contents(kA02));
}

}  // namespace
}  // namespace fault_matrix
