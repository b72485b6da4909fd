#include <gtest/gtest.h>

#include "setup/runs/text_format.h"

namespace nuva {
namespace {

TEST(FormatText, ConversionsWidthsAndMissingArguments) {
    EXPECT_EQ(FormatText("%ls(%08x%s)", {TextArg(std::u16string(u"A02")), ArgNumber(0x03050300), TextArg(std::string("EN"))}),
              "A02(03050300EN)");
    EXPECT_EQ(FormatText("... %2d%%", {ArgNumber(5)}), "...  5%");
    EXPECT_EQ(FormatText("%s%d %%", {TextArg(std::string("Copying files...")), ArgNumber(42)}), "Copying files...42 %");
    EXPECT_EQ(FormatText("%c-", {ArgNumber('H')}), "H-");
    // A format that asks for more than it is given, or the wrong kind, draws
    // nothing for it; a lone "%" at the end is dropped.
    EXPECT_EQ(FormatText("%s and %d and %s", {TextArg(std::string("one"))}), "one and  and ");
    EXPECT_EQ(FormatText("%d", {TextArg(std::string("text"))}), "");
    EXPECT_EQ(FormatText("100%", {}), "100");
}

}  // namespace
}  // namespace nuva
