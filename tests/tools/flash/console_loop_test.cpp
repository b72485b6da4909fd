#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock/clock.h"
#include "tools/flash/console_loop.h"
#include "tools/flash/terminal.h"

namespace nuva {
namespace {

struct Recorder : WindowHandler {
    std::function<void(uint32_t)> timer = [](uint32_t) {};
    std::function<void(uint32_t, uint32_t, uint32_t)> message = [](uint32_t, uint32_t, uint32_t) {};
    void OnTimer(uint32_t id) override { timer(id); }
    void OnMessage(uint32_t m, uint32_t w, uint32_t l) override { message(m, w, l); }
};

TEST(ConsoleLoop, TimersTickByPeriodMessagesComeInOrderAndNestedLoopsServeEveryWindow) {
    SetTimeScale(0.01);
    ConsoleLoop loop;
    Recorder page;
    ConsoleWindow pageWindow(loop, page);
    std::vector<std::string> seen;
    int fastTicks = 0;
    page.timer = [&](uint32_t id) {
        seen.push_back("tick " + std::to_string(id));
        if (id == 1 && ++fastTicks == 3) {
            pageWindow.KillTimer(1);
            // A worker posts from its own thread.
            std::thread([&] {
                for (uint32_t i = 0; i < 5; ++i) {
                    pageWindow.Post(0x812C, i, 5);
                }
            }).join();
        }
    };
    page.message = [&](uint32_t m, uint32_t w, uint32_t) {
        seen.push_back("msg " + std::to_string(w));
        if (w == 4) {
            // A dialog over the page: its own loop keeps serving the page.
            Recorder dialog;
            ConsoleWindow dialogWindow(loop, dialog);
            dialog.timer = [&](uint32_t) { dialogWindow.EndModal(7); };
            dialogWindow.ArmTimer(9, 5000);  // 50 ms real
            pageWindow.Post(m, 99, 0);
            EXPECT_EQ(loop.RunModal(dialogWindow), 7);
            pageWindow.EndModal(1);
        }
    };
    pageWindow.ArmTimer(1, 100);
    EXPECT_EQ(loop.RunModal(pageWindow), 1);
    std::vector<std::string> expected = {"tick 1", "tick 1", "tick 1", "msg 0", "msg 1",
                                         "msg 2",  "msg 3",  "msg 4",  "msg 99"};
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(pageWindow.IsAlive());
    pageWindow.Post(1, 2, 3);  // an ended window takes nothing
}

TEST(Terminal, BarsAndMnemonics) {
    EXPECT_EQ(Bar(0, 4), "[....]");
    EXPECT_EQ(Bar(50, 4), "[##..]");
    EXPECT_EQ(Bar(250, 4), "[####]");
    EXPECT_EQ(WithoutMnemonic("&Next >"), "Next >");
    EXPECT_EQ(WithoutMnemonic("Save && quit"), "Save & quit");
}

}  // namespace
}  // namespace nuva
