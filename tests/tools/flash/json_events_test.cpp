// nuva-flash's --json lines: each one object of the schema, read back by the
// strict reader.
#include "tools/flash/json_events.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "formats/json.h"

namespace nuva {
namespace {

TEST(JsonEvents, EveryEventLineIsOneVersionedObject) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    ASSERT_NE(out, nullptr);
    {
        FlashEvents events(out);
        events.Started("update");
        events.Page(141, "Caution \"now\"", {"line 1\nline 2", "\xC3\xA9"});
        events.Refused("Heading", {"* one", "* two"});
        events.Progress("update", 10, 50, "Copying files...");
        events.Progress("update", 10, 50, "Copying files...");  // a repeat says nothing new
        events.Progress("update", 11, std::nullopt, "Copying files...");
        events.Question("Continue?", "--yes");
        events.Verify("done", true, 10, 10, "same");
        events.Handheld(false, "", "", "", std::nullopt);
        events.Result(3, ExitMeaning(3));
    }
    std::fclose(out);
    std::string all(text, size);
    std::free(text);
    std::vector<JsonValue> lines;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "the last line is not ended";
        std::string error;
        std::optional<JsonValue> line = ParseJson(all.substr(start, end - start), error);
        ASSERT_TRUE(line) << all.substr(start, end - start) << ": " << error;
        ASSERT_TRUE(line->IsObject());
        EXPECT_EQ(line->Find("v")->AsNumber(), kEventSchemaVersion);
        EXPECT_TRUE(line->Find("event")->IsString());
        lines.push_back(*line);
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[1].Find("title")->AsString(), "Caution \"now\"");
    EXPECT_EQ(lines[1].Find("texts")->Items()[0].AsString(), "line 1\nline 2");
    EXPECT_EQ(lines[2].Find("reasons")->Items()[1].AsString(), "* two");
    EXPECT_TRUE(lines[4].Find("part")->IsNull());
    EXPECT_EQ(lines[8].Find("exit")->AsNumber(), 3);
    EXPECT_EQ(lines[8].Find("meaning")->AsString(), "a check failed");

    FlashEvents off;
    EXPECT_FALSE(off.On());
    off.Result(0, "done");  // writes nowhere, and does not crash
}

}  // namespace
}  // namespace nuva
