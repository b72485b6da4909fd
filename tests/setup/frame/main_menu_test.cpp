#include "setup/frame/main_menu.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "setup/resources/dialog_ids.h"
#include "tests/setup/device/scripted_image_files.h"
#include "tests/setup/frame/page_test_support.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tests/setup/support/recording_view.h"

namespace nuva {
namespace {

using namespace test;
using Calls = std::vector<std::string>;
using Menu = MainMenuDialog;

struct MenuOnScreen {
    FakeHandheldPort port;
    ScriptedImageFiles files{port};
    RecordingPageView view;
    MainMenuDialog menu{view, port, files};

    // Opens the menu and lets its start check run.
    void OpenAndCheck() {
        menu.Init();
        view.DeliverPosted(menu);
    }
};

TEST(MainMenuDialog, OffersTheOperationsOnlyAfterItsChecks) {
    MenuOnScreen s;
    s.menu.Init();
    // The checks wait for the posted message: the menu is drawn first.
    EXPECT_EQ(s.files.Log(), Calls{});
    EXPECT_FALSE(s.view.Enabled(Menu::kUpdateButton));
    // Pressing a disabled operation does nothing.
    s.menu.OnCommand(Menu::kUpdateButton);
    EXPECT_FALSE(s.view.endResult.has_value());

    EXPECT_EQ(s.view.DeliverPosted(s.menu), 1);
    EXPECT_EQ(s.files.Log(), (Calls{"install", "query", "locate high"}));
    EXPECT_TRUE(s.view.Enabled(Menu::kUpdateButton));
    EXPECT_TRUE(s.view.Enabled(Menu::kBackupRestoreButton));
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 500}}));

    // A tick with the link up changes nothing.
    EXPECT_TRUE(s.view.Tick(s.menu, 100));
    EXPECT_FALSE(s.view.endResult.has_value());

    s.menu.OnCommand(Menu::kUpdateButton);
    EXPECT_EQ(s.view.endResult, 1025);
    EXPECT_FALSE(s.view.Armed(100)) << "every way out stops the timer";

    // The other ways out, each from a menu whose checks passed.
    struct Exit {
        void (*press)(Menu&);
        int result;
    };
    for (Exit exit : {Exit{[](Menu& m) { m.OnCommand(Menu::kBackupRestoreButton); }, 1024},
                      Exit{[](Menu& m) { m.OnCommand(Menu::kExitButton); }, 2},
                      Exit{[](Menu& m) { m.OnEscape(); }, 2}, Exit{[](Menu& m) { m.OnClose(); }, 2}}) {
        MenuOnScreen other;
        other.OpenAndCheck();
        exit.press(other.menu);
        EXPECT_EQ(other.view.endResult, exit.result);
        EXPECT_FALSE(other.view.Armed(100));
    }

    // Exit works before the checks have run.
    MenuOnScreen early;
    early.menu.Init();
    early.menu.OnCommand(Menu::kExitButton);
    EXPECT_EQ(early.view.endResult, 2);

    // The small class asks for its own image.
    MenuOnScreen basic;
    basic.port.info.MemoryConfig = kMemoryConfigBasic;
    basic.OpenAndCheck();
    EXPECT_EQ(basic.files.Log().back(), "locate low");
    EXPECT_TRUE(basic.view.Enabled(Menu::kUpdateButton));
}

TEST(MainMenuDialog, FailedChecksEndTheProgram) {
    {
        MenuOnScreen s;
        s.port.info.Supported = 0;
        s.OpenAndCheck();
        EXPECT_EQ(s.view.Opened(dialog_id::kWrongModel), 1);
        EXPECT_EQ(s.view.endResult, 2);
        EXPECT_FALSE(s.view.Enabled(Menu::kUpdateButton));
        EXPECT_FALSE(s.view.Armed(100));
    }
    {
        MenuOnScreen s;
        s.port.queryResult = kResultFail;
        s.OpenAndCheck();
        EXPECT_EQ(s.view.Opened(dialog_id::kWrongModel), 1);
        EXPECT_EQ(s.view.endResult, 2);
    }
    {
        MenuOnScreen s;
        s.files.image = {ImageLookup::kMissing, ""};
        s.OpenAndCheck();
        EXPECT_EQ(s.view.events.back(),
                  "box Caution: The Reflash file can not be found. Reinstall the Reflash .");
        EXPECT_EQ(s.view.endResult, 2);
    }
    {
        // The agent could not be copied: the wizard's first page says so.
        MenuOnScreen s;
        s.port.installResult = -1;
        s.OpenAndCheck();
        EXPECT_TRUE(s.view.Enabled(Menu::kUpdateButton));
        EXPECT_FALSE(s.view.endResult.has_value());
    }
}

TEST(MainMenuDialog, LosingTheLinkEndsTheMenuWithinATick) {
    LanguageModule headings(kLostHeadingsModule);
    {
        MenuOnScreen s;
        s.OpenAndCheck();
        s.port.connected = 0;
        EXPECT_TRUE(s.view.Tick(s.menu, 100));
        ExpectConnectionLost(s.view, 0);
        EXPECT_FALSE(s.view.Enabled(Menu::kUpdateButton));
        EXPECT_FALSE(s.view.Enabled(Menu::kBackupRestoreButton));
        EXPECT_FALSE(s.view.Armed(100));
    }
    {
        // Gone before the checks.
        MenuOnScreen s;
        s.port.connected = 0;
        s.OpenAndCheck();
        ExpectConnectionLost(s.view, 0);
        EXPECT_EQ(s.files.Log(), Calls{});
        EXPECT_FALSE(s.view.Armed(100));
    }
}

TEST(MainMenuDialog, SystemMenuOpensTheAboutBox) {
    MenuOnScreen s;
    s.OpenAndCheck();
    EXPECT_EQ(s.view.events.front(), "system-menu 16 &About Vantor...");
    s.view.dialogResults[dialog_id::kAbout] = {1};
    s.menu.OnCommand(Menu::kAboutCommand);
    EXPECT_EQ(s.view.Opened(dialog_id::kAbout), 1);
    EXPECT_FALSE(s.view.endResult.has_value()) << "the menu stays after the About box";
    EXPECT_TRUE(s.view.Armed(100));

    // The About box itself: OK ends it with 1, Esc and the close box with 2.
    struct Press {
        void (*press)(AboutDialog&);
        int result;
    };
    for (Press p :
         {Press{[](AboutDialog& a) { a.OnCommand(kIdOk); }, 1},
          Press{[](AboutDialog& a) { a.OnEscape(); }, 2}, Press{[](AboutDialog& a) { a.OnClose(); }, 2}}) {
        RecordingPageView view;
        AboutDialog about(view);
        about.Init();
        p.press(about);
        EXPECT_EQ(view.endResult, p.result);
    }
}

TEST(MainMenuDialog, AboutItemComesFromTheLanguageModule) {
    {
        LanguageModule french("101 \"&\xC3\x80 propos de Vantor...\"\n");
        MenuOnScreen s;
        s.menu.Init();
        EXPECT_EQ(s.view.events.front(), "system-menu 16 &\xC3\x80 propos de Vantor...");
    }
    {
        // An empty item text leaves the system menu alone.
        LanguageModule none("101 \"\"\n");
        MenuOnScreen s;
        s.menu.Init();
        EXPECT_TRUE(s.view.events.empty());
    }
}

}  // namespace
}  // namespace nuva
