// The whole desktop program without widgets: start-up, the main loop's
// connection test, image test and menu, the wizards it runs and what their
// results lead to.
#include "setup/program/program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/clock/clock.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/settings.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"
#include "tests/setup/device/scripted_image_files.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tests/setup/support/marked_module.h"
#include "tests/setup/support/scripted_desktop.h"

namespace nuva {
namespace {

namespace d = dialog_id;

// The connection monitor's stand-in: nothing to start.
class QuietLink : public ProgramLink {
  public:
    uint32_t StartInit() override {
        ++inits;
        return initResult;
    }
    bool StartWatch() override { return watchStarts; }
    void StopInit() override { ++stops; }

    uint32_t initResult = 0;
    bool watchStarts = true;
    int inits = 0;
    int stops = 0;
};

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override { SetTimeScale(0.01); }
    void TearDown() override {
        EXPECT_TRUE(desktop.stuck.empty()) << "a page never ended: " << desktop.stuck[0];
    }

    int Run() {
        SetupProgram program(desktop, port, images, link);
        return program.Run({"/opt/nuva/Setup", "Setup"});
    }
    // The user presses `control` as soon as it is enabled.
    void PressWhenEnabled(uint32_t templateId, uint32_t control) {
        desktop.actions[templateId] = [control](test::ScriptedPage& page) {
            if (!page.acted && page.Enabled(control)) {
                page.acted = true;
                page.Press(control);
            }
        };
    }
    // The user presses `control` at once.
    void PressAtOnce(uint32_t templateId, uint32_t control) {
        desktop.actions[templateId] = [control](test::ScriptedPage& page) {
            if (!page.acted) {
                page.acted = true;
                page.Press(control);
            }
        };
    }

    test::ScriptedDesktop desktop;
    test::FakeHandheldPort port;
    test::ScriptedImageFiles images{port};
    QuietLink link;
};

TEST_F(ProgramTest, WithoutAHandheldItSaysSoAfterAboutASecondAndShowsNoMenu) {
    port.connected = 0;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(desktop.now, 1000u) << "ten pauses of 100 ms";
    EXPECT_EQ(desktop.boxes, std::vector<std::string>{"Caution: " + LoadString(string_id::kConnectHint)});
    EXPECT_TRUE(desktop.opened.empty());
    EXPECT_EQ(link.inits, 1);
    EXPECT_EQ(link.stops, 1) << "clean-up stops the initialisation";
    EXPECT_EQ(g_installDir, "/opt/nuva/");
}

TEST_F(ProgramTest, StartUpFailuresOfTheConnectionThreads) {
    // The initialisation thread could not be made: said, and the program
    // goes on to its connection test.
    link.initResult = 0x80004005;
    port.connected = 0;
    Run();
    ASSERT_EQ(desktop.boxes.size(), 2u);
    EXPECT_EQ(desktop.boxes[0], ": CeRapiInit() ... Filed ");
    // Without its watch thread the program ends at once.
    desktop.boxes.clear();
    link.initResult = 0;
    link.watchStarts = false;
    Run();
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(link.stops, 1) << "only the first run cleaned up";
}

TEST_F(ProgramTest, WithoutAnImageForEitherClassItEndsEvenForABackup) {
    images.image = {ImageLookup::kMissing, ""};
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(desktop.boxes, std::vector<std::string>{"Caution: " + LoadString(string_id::kImageMissing)});
    EXPECT_TRUE(desktop.opened.empty());
}

TEST_F(ProgramTest, TheMenuLeadsToEachWizardAndBackAndExitEnds) {
    // Menu: Update ROM first, then Backup/Restore ROM, then Exit.
    int showings = 0;
    desktop.actions[d::kMainMenu] = [&](test::ScriptedPage& page) {
        if (!page.acted && page.Enabled(1025) && page.Enabled(1024)) {
            page.acted = true;
            ++showings;
            page.Press(showings == 1 ? 1025 : showings == 2 ? 1024 : 2);
        }
    };
    // Back on the notice page returns to the menu; Cancel on the choice
    // returns to it through the connection test.
    PressAtOnce(d::kBackupNotice, 1025);
    PressAtOnce(d::kBackupRestoreChoice, 1035);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(desktop.opened, (std::vector<uint32_t>{d::kMainMenu, d::kBackupNotice, d::kMainMenu,
                                                     d::kBackupRestoreChoice, d::kMainMenu}));
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(showings, 3);
}

TEST_F(ProgramTest, AConnectionLostInAWizardGoesBackToTheConnectionTest) {
    PressWhenEnabled(d::kMainMenu, 1025);
    // The cable is pulled while the notice page is open ...
    desktop.actions[d::kBackupNotice] = [&](test::ScriptedPage&) { port.connected = 0; };
    // ... and is back by the time the user has read the connection-lost
    // dialog; the program then tests the link and shows the menu again.
    desktop.actions[d::kConnectionLost] = [&](test::ScriptedPage& page) {
        port.connected = 1;
        page.Press(1);
        desktop.actions[d::kMainMenu] = [](test::ScriptedPage& menu) {
            // Exit works at once, checks or no checks.
            if (!menu.acted) {
                menu.acted = true;
                menu.Press(2);
            }
        };
    };
    Run();
    EXPECT_EQ(desktop.opened,
              (std::vector<uint32_t>{d::kMainMenu, d::kBackupNotice, d::kConnectionLost, d::kMainMenu}));

    // When it does not come back, the connection test says so and ends.
    desktop.opened.clear();
    PressWhenEnabled(d::kMainMenu, 1025);
    desktop.actions[d::kConnectionLost] = [](test::ScriptedPage& page) { page.Press(1); };
    uint64_t before = desktop.now;
    Run();
    EXPECT_EQ(desktop.opened, (std::vector<uint32_t>{d::kMainMenu, d::kBackupNotice, d::kConnectionLost}));
    EXPECT_GE(desktop.now - before, 1000u);
    EXPECT_EQ(desktop.boxes.back(), "Caution: " + LoadString(string_id::kConnectHint));
}

TEST_F(ProgramTest, EveryTextThePagesShowComesFromTheLanguageModuleOfTheInstallation) {
    // An installation whose setup.ini names a module that marks every text.
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "nuva-program-module";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "marked.rc") << test::MarkedModule();
    std::ofstream(folder / "setup.ini") << "[0409]\r\nRESMODULE=marked.rc\r\n";
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
    // An image for another language: the information page refuses it.
    images.SetImage("04100300", kOsCode2003, kModelByteAdvanced, "FR");

    auto marked = [](const std::string& text) { return text.rfind(test::kMark, 0) == 0; };
    PressWhenEnabled(d::kMainMenu, 1025);
    PressWhenEnabled(d::kBackupNotice, 1026);
    PressAtOnce(d::kReason, 2);
    SetupProgram program(desktop, port, images, link);
    program.Run({(folder / "Setup").string(), "Setup"});
    ::unsetenv("LC_ALL");
    std::filesystem::remove_all(folder);

    EXPECT_FALSE(program.LanguageModuleRefusal());
    EXPECT_EQ(desktop.opened,
              (std::vector<uint32_t>{d::kMainMenu, d::kBackupNotice, d::kUpdateInfo, d::kReason}));
    // The two columns (model, ROM, OS and language of each side) and the
    // reason's heading and line.
    ASSERT_EQ(desktop.closed.size(), 4u);
    // The menu and the notice closed first; the reason closed over the page.
    const auto& reason = desktop.closed[2];
    const auto& info = desktop.closed[3];
    EXPECT_EQ(reason.templateId, d::kReason);
    EXPECT_EQ(info.templateId, d::kUpdateInfo);
    EXPECT_EQ(reason.texts.size(), 2u);
    EXPECT_EQ(info.texts.size(), 8u);
    for (const auto* page : {&reason, &info}) {
        for (const auto& [control, text] : page->texts) {
            // The image's ROM version is made of the image's own data
            // ("A03(04100300FR)"), with no word to translate.
            if (control != 1052) {
                EXPECT_TRUE(marked(text)) << control << ": " << text;
            }
        }
    }
    EXPECT_FALSE(LanguageModuleLoaded()) << "the clean-up unloads it";
}

}  // namespace
}  // namespace nuva
