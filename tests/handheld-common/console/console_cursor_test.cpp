#include "handheld-common/console/console_cursor.h"

#include <gtest/gtest.h>

namespace nuva {
namespace {

// Draws `count` characters' worth of cursor moves; returns how many scrolls
// they asked for.
int Advance(ConsoleCursor& cursor, int count) {
    int scrolls = 0;
    for (int i = 0; i < count; ++i) {
        scrolls += cursor.AdvanceAfterCharacter() ? 1 : 0;
    }
    return scrolls;
}

TEST(ConsoleCursorTest, CharactersWrapAtThirtyAndScrollOffTheLastLine) {
    ConsoleCursor cursor;
    EXPECT_EQ(Advance(cursor, 29), 0);
    EXPECT_EQ(cursor.column, 29);
    EXPECT_EQ(cursor.line, 0);
    // The 30th character of a line wraps to column 0 of the next one.
    EXPECT_EQ(Advance(cursor, 1), 0);
    EXPECT_EQ(cursor.column, 0);
    EXPECT_EQ(cursor.line, 1);

    // Fill lines 1 to 19; the cursor reaches line 20 without a scroll.
    EXPECT_EQ(Advance(cursor, 19 * 30), 0);
    EXPECT_EQ(cursor.line, 20);
    EXPECT_EQ(cursor.column, 0);
    // The 30th character of line 20 scrolls, leaving column 0 of line 20.
    EXPECT_EQ(Advance(cursor, 29), 0);
    EXPECT_EQ(Advance(cursor, 1), 1);
    EXPECT_EQ(cursor.column, 0);
    EXPECT_EQ(cursor.line, 20);
    // From then on every full line scrolls once.
    EXPECT_EQ(Advance(cursor, 90), 3);
    EXPECT_EQ(cursor.line, 20);
}

TEST(ConsoleCursorTest, NewlinesMoveDownAndScrollOnlyFromTheLastLine) {
    ConsoleCursor cursor;
    Advance(cursor, 5);
    for (int i = 0; i < 9; ++i) {
        EXPECT_FALSE(cursor.Newline());
    }
    EXPECT_EQ(cursor.column, 0);
    EXPECT_EQ(cursor.line, 9);

    cursor.line = 19;
    cursor.column = 12;
    EXPECT_FALSE(cursor.Newline());  // line 19 -> 20, no scroll
    EXPECT_EQ(cursor.line, 20);
    EXPECT_EQ(cursor.column, 0);
    cursor.column = 7;
    EXPECT_TRUE(cursor.Newline());  // line 20 scrolls
    EXPECT_EQ(cursor.line, 20);
    EXPECT_EQ(cursor.column, 0);

    cursor.Home();
    EXPECT_EQ(cursor.line, 0);
    EXPECT_EQ(cursor.column, 0);
}

}  // namespace
}  // namespace nuva
