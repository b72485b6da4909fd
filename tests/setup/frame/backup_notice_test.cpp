#include "setup/frame/backup_notice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/settings.h"
#include "tests/setup/device/scripted_image_files.h"
#include "tests/setup/frame/page_test_support.h"
#include "tests/support/temp_folder.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tests/setup/support/recording_view.h"

namespace nuva {
namespace {

using namespace test;
using Calls = std::vector<std::string>;
using Notice = BackupNoticePage;

const std::string kImageCorruptBox =
    "box Caution: The integrity check on the system image file failed. \nReinstall the Reflash program.";

struct NoticeOnScreen {
    FakeHandheldPort port;
    ScriptedImageFiles files{port};
    RecordingPageView view;
    BackupNoticePage page{view, port, files};

    // Opens the page, lets timer 200 post the check and runs it; the sum, if
    // any, is then under way.
    void OpenAndCheck() {
        page.Init();
        view.Tick(page, Notice::kStartTimer);
        view.DeliverPosted(page);
    }
    // Opens the page and waits until its checks have concluded.
    void OpenAndConclude() {
        OpenAndCheck();
        ASSERT_TRUE(DeliverUntil(view, page, [this] {
            return view.Enabled(Notice::kNextButton) || view.endResult;
        })) << "the checks never concluded";
    }
};

TEST(BackupNoticePage, ChecksAfterItIsShownAndSumsTheImageBesideIt) {
    NoticeOnScreen s;
    s.page.Init();
    EXPECT_EQ(s.view.colours.at(Notice::kNoticeHeading), kRed);
    EXPECT_EQ(s.view.colours.at(Notice::kHelpLink), kBlue);
    EXPECT_EQ(s.view.underlined, std::vector<uint32_t>{Notice::kHelpLink});
    EXPECT_NE(std::find(s.view.events.begin(), s.view.events.end(), "frame 1030 255,0,0 +0"),
              s.view.events.end());
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{200, 100}}));
    EXPECT_EQ(s.view.DeliverPosted(s.page), 0) << "nothing is checked before the first tick";

    // The first tick stops its timer and posts the check.
    s.files.HoldSums();
    EXPECT_TRUE(s.view.Tick(s.page, Notice::kStartTimer));
    EXPECT_FALSE(s.view.Armed(Notice::kStartTimer));
    EXPECT_EQ(s.files.Log(), Calls{});
    EXPECT_EQ(s.view.DeliverPosted(s.page), 1);

    // While the image is summed the page answers: the link is watched, Next
    // waits, Back works.
    ASSERT_TRUE(s.files.WaitForSums(1));
    EXPECT_EQ(s.files.Log(), (Calls{"install", "query", "locate high", "check /install/rom-h.nb0",
                                    "sum /install/rom-h.nb0 1000"}));
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 1000}}));
    EXPECT_TRUE(s.view.Tick(s.page, 100));
    s.page.OnCommand(Notice::kNextButton);
    EXPECT_FALSE(s.view.endResult.has_value());
    EXPECT_FALSE(s.view.Enabled(Notice::kNextButton));

    s.files.ReleaseSums();
    ASSERT_TRUE(DeliverUntil(s.view, s.page, [&s] { return s.view.Enabled(Notice::kNextButton); }));
    EXPECT_EQ(s.view.armed, (std::map<uint32_t, uint32_t>{{100, 1000}}));
    EXPECT_EQ(s.view.events, std::vector<std::string>{"frame 1030 255,0,0 +0"}) << "nothing else was shown";

    s.page.OnCommand(Notice::kNextButton);
    EXPECT_EQ(s.view.endResult, 1026);
    EXPECT_FALSE(s.view.Armed(100));

    // An image whose header counts nothing has no sum, but its identity
    // block is still read beside the page before Next is offered.
    NoticeOnScreen uncounted;
    uncounted.files.header.SetWord32(header_offset::kByteCount, 0);
    uncounted.OpenAndCheck();
    ASSERT_TRUE(DeliverUntil(uncounted.view, uncounted.page,
                             [&uncounted] { return uncounted.view.Enabled(Notice::kNextButton); }));
    EXPECT_EQ(uncounted.view.armed, (std::map<uint32_t, uint32_t>{{100, 1000}}));
    const std::vector<std::string> log = uncounted.files.Log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& call) { return call.rfind("sum ", 0) == 0; }),
              0);
    EXPECT_EQ(log.back(), "identity /install/rom-h.nb0");
}

TEST(BackupNoticePage, BackAndEscWorkAtOnceAndStopTheSum) {
    {
        NoticeOnScreen s;
        s.page.Init();
        s.page.OnCommand(Notice::kBackButton);
        EXPECT_EQ(s.view.endResult, 1025);
        EXPECT_TRUE(s.view.armed.empty());
    }
    {
        NoticeOnScreen s;
        s.files.HoldSums();
        s.OpenAndCheck();
        ASSERT_TRUE(s.files.WaitForSums(1));
        s.page.OnCommand(Notice::kBackButton);
        EXPECT_EQ(s.view.endResult, 1025);
        EXPECT_EQ(s.files.SumsStopped(), 1);
        EXPECT_TRUE(s.view.armed.empty());
        s.page.Destroy();
        EXPECT_EQ(s.view.DeliverPosted(s.page), 0) << "a stopped sum reports nothing";
    }
    {
        NoticeOnScreen s;
        s.files.HoldSums();
        s.OpenAndCheck();
        s.page.OnEscape();
        EXPECT_EQ(s.view.endResult, 2);
        EXPECT_EQ(s.files.SumsStopped(), 1);
    }
    {
        // Closed while summing without ending first: Destroy stops the sum.
        NoticeOnScreen s;
        s.files.HoldSums();
        s.OpenAndCheck();
        ASSERT_TRUE(s.files.WaitForSums(1));
        s.page.Destroy();
        EXPECT_EQ(s.files.SumsStopped(), 1);
        EXPECT_TRUE(s.view.armed.empty());
    }
}

TEST(BackupNoticePage, EveryFailedCheckIsToldOnceAndEndsWithThree) {
    struct Case {
        const char* what;
        void (*spoil)(NoticeOnScreen&);
        std::string shown;  // the event of the one message or dialog
    };
    const Case cases[] = {
        {"agent not copied", [](NoticeOnScreen& x) { x.port.installResult = -1; },
         "box Caution: Copy incomplete! The reflash  procedure CANNOT proceed."},
        {"no answer", [](NoticeOnScreen& x) { x.port.queryResult = kResultFail; }, "dialog 148"},
        {"Supported 2", [](NoticeOnScreen& x) { x.port.info.Supported = 2; }, "dialog 148"},
        {"no image",
         [](NoticeOnScreen& x) {
             x.files.image = {ImageLookup::kMissing, ""};
         },
         "box Caution: The Reflash file can not be found. Reinstall the Reflash ."},
        {"no memory for the path",
         [](NoticeOnScreen& x) {
             x.files.image = {ImageLookup::kOutOfMemory, ""};
         },
         "box Error: Memory Allocate Faile (no owner)"},
        {"a backup file", [](NoticeOnScreen& x) { x.files.header.SetWord16(header_offset::kKind, 1); },
         kImageCorruptBox},
        {"wrong sum", [](NoticeOnScreen& x) { x.files.contentsSum = 0x1235; }, kImageCorruptBox},
        {"unreadable contents", [](NoticeOnScreen& x) { x.files.sumResult = kDesktopReadFailed; },
         kImageCorruptBox},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NoticeOnScreen s;
        c.spoil(s);
        s.OpenAndCheck();
        // Some fail only once the sum has reported.
        ASSERT_TRUE(DeliverUntil(s.view, s.page, [&s] { return s.view.endResult.has_value(); }));
        std::vector<std::string> shown;
        std::copy_if(s.view.events.begin(), s.view.events.end(), std::back_inserter(shown),
                     [](const std::string& e) { return e.rfind("frame", 0) != 0; });
        EXPECT_EQ(shown, std::vector<std::string>{c.shown});
        EXPECT_EQ(s.view.ends, std::vector<int>{3});
        EXPECT_FALSE(s.view.Enabled(Notice::kNextButton));
        EXPECT_TRUE(s.view.armed.empty());
    }
}

TEST(BackupNoticePage, LosingTheLinkEndsThePageWithinATick) {
    LanguageModule headings(kLostHeadingsModule);
    {
        NoticeOnScreen s;
        s.port.connected = 0;
        s.OpenAndCheck();
        ExpectConnectionLost(s.view, 0);
        EXPECT_EQ(s.files.Log(), Calls{});
    }
    {
        NoticeOnScreen s;
        s.OpenAndConclude();
        s.port.connected = 0;
        EXPECT_TRUE(s.view.Tick(s.page, 100));
        ExpectConnectionLost(s.view, 0);
        EXPECT_FALSE(s.view.Enabled(Notice::kNextButton));
        EXPECT_TRUE(s.view.armed.empty());
    }
    {
        // While the image is being summed.
        NoticeOnScreen s;
        s.files.HoldSums();
        s.OpenAndCheck();
        ASSERT_TRUE(s.files.WaitForSums(1));
        s.port.connected = 0;
        EXPECT_TRUE(s.view.Tick(s.page, 100));
        ExpectConnectionLost(s.view, 0);
        EXPECT_EQ(s.files.SumsStopped(), 1);
        EXPECT_FALSE(s.view.Enabled(Notice::kNextButton));
    }
}

TEST(BackupNoticePage, HelpLinkOpensTheInstallationsTarget) {
    testing::TempFolder dir;
    std::string savedDir = g_installDir;
    uint16_t savedLanguage = g_languageId;
    g_installDir = dir.path();
    g_languageId = 0x040C;

    NoticeOnScreen s;
    s.page.Init();
    // No setup.ini: the default address.
    s.page.OnCommand(Notice::kHelpLink);
    dir.Write("setup.ini", "[Help]\nHelp=help\\index.htm\n");
    s.page.OnCommand(Notice::kHelpLink);
    // The language's own key comes first.
    dir.Write("setup.ini", "[040c]\nHelp=https://brel.example/fr\n[Help]\nHelp=help\\index.htm\n");
    s.page.OnCommand(Notice::kHelpLink);
    EXPECT_EQ(s.view.browsed,
              (std::vector<std::string>{std::string(kDefaultHelpAddress), dir.path() + "help/index.htm",
                                        "https://brel.example/fr"}));

    // A browser that cannot be started changes nothing on the page.
    s.view.browserResult = kResultFail;
    s.page.OnCommand(Notice::kHelpLink);
    EXPECT_FALSE(s.view.endResult.has_value());
    EXPECT_EQ(s.view.Opened(dialog_id::kReason), 0);

    g_installDir = savedDir;
    g_languageId = savedLanguage;
}

TEST(BackupNoticePage, TracesTheControlUnderThePointer) {
    NoticeOnScreen s;
    s.page.Init();
    s.page.OnPointerOver(Notice::kHelpLink);
    s.page.OnPointerOver(0);
    EXPECT_EQ(s.view.traces, (std::vector<std::string>{"0x00000428 ,1064\r\n", "0x00000000 ,0\r\n"}));
}

}  // namespace
}  // namespace nuva
