// What the status line tells the machine-readable events: each wait once,
// without its animation, and never the progress bars (reported on their own).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/flash/terminal.h"

namespace nuva {
namespace {

TEST(TerminalEvents, TheListenerHearsEachNewStatusOnceWithoutItsAnimation) {
    std::FILE* sink = std::fopen("/dev/null", "w");
    ASSERT_NE(sink, nullptr);
    std::vector<std::string> heard;
    {
        Terminal terminal(sink, true);
        terminal.SetStatusListener([&](const std::string& text) { heard.push_back(text); });
        terminal.Status("The handheld restarts into the flasher ...\\");
        terminal.Status("The handheld restarts into the flasher ...|");  // the animation only
        terminal.Status("all [####....] 50%  Copying files...50 %", false);
        terminal.Status("The handheld writes its flash; waiting ...-");
        terminal.Line("something else");
        terminal.Status("The handheld writes its flash; waiting ...-");  // new again after a line
    }
    std::fclose(sink);
    EXPECT_EQ(heard, (std::vector<std::string>{"The handheld restarts into the flasher",
                                               "The handheld writes its flash; waiting",
                                               "The handheld writes its flash; waiting"}));
    EXPECT_EQ(StatusWords("Copying files...29 %"), "Copying files...29 %");
    EXPECT_EQ(StatusWords("...\\"), "");
}

}  // namespace
}  // namespace nuva
