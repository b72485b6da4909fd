#include "handheld-common/console/screen_console.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "handheld-common/console/console_font.h"
#include "tests/handheld-common/console/fake_screen.h"

namespace nuva {
namespace {

using test::FakeScreen;

constexpr uint32_t kScreen = ScreenConsole::kDefaultFrameBuffer;
constexpr uint16_t kInk = 0x8080;
constexpr uint16_t kGarbage = 0x1234;  // neither white nor ink

// Whether the 8 x 15 cell at (column, line) shows `code` in `colour` on
// white, pixel for pixel against the font.
testing::AssertionResult CellHolds(const FakeScreen& screen, uint32_t base, int column, int line,
                                   uint8_t code, uint16_t colour) {
    const uint8_t* glyph = Glyph(code);
    for (uint32_t r = 0; r < kGlyphRows; ++r) {
        for (uint32_t j = 0; j < kGlyphWidth; ++j) {
            const uint32_t x = static_cast<uint32_t>(column) * 8 + j;
            const uint32_t y = static_cast<uint32_t>(line) * 15 + r;
            const uint16_t want = (glyph[r] & (0x80u >> j)) ? colour : ScreenConsole::kWhite;
            const uint16_t got = screen.Pixel(base, x, y);
            if (got != want) {
                return testing::AssertionFailure()
                       << "code " << int{code} << " at column " << column << " line " << line << ": pixel ("
                       << x << "," << y << ") is " << got << ", font says " << want;
            }
        }
    }
    return testing::AssertionSuccess();
}

// Whether a run of cells from (column, line) on shows `text`.
testing::AssertionResult TextAt(const FakeScreen& screen, int column, int line, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        auto result = CellHolds(screen, kScreen, column + static_cast<int>(i), line,
                                static_cast<uint8_t>(text[i]), kInk);
        if (!result) {
            return result << " (character " << i << " of \"" << text << "\")";
        }
    }
    return testing::AssertionSuccess();
}

bool CellUntouched(const FakeScreen& screen, int column, int line) {
    for (uint32_t r = 0; r < 15; ++r) {
        for (uint32_t j = 0; j < 8; ++j) {
            if (screen.Pixel(kScreen, static_cast<uint32_t>(column) * 8 + j,
                             static_cast<uint32_t>(line) * 15 + r) != kGarbage) {
                return false;
            }
        }
    }
    return true;
}

// Passes a format the compiler cannot check (unknown conversions, a trailing
// "%") straight to the console.
void PrintUnchecked(ScreenConsole& console, const char* format, ...) {
    va_list args;
    va_start(args, format);
    console.VPrint(kInk, format, args);
    va_end(args);
}

class ScreenConsoleTest : public testing::Test {
  protected:
    ScreenConsoleTest() {
        screen.Fill(kScreen, kGarbage);
        screen.Fill(FakeScreen::kOtherFrameBuffer, kGarbage);
        console.SetFrameBuffer(0);
    }
    ~ScreenConsoleTest() override { EXPECT_TRUE(screen.Faults().empty()) << screen.Faults().front(); }

    FakeScreen screen;
    ScreenConsole console;
};

TEST(ConsoleFontTest, TableIsCodePage437) {
    // The blank codes, and glyphs whose shape code page 437 fixes exactly,
    // show that each code got its own character's glyph.
    for (const uint8_t code : {uint8_t{0}, uint8_t{32}, uint8_t{255}}) {
        for (size_t r = 0; r < kGlyphRows; ++r) {
            EXPECT_EQ(Glyph(code)[r], 0) << "code " << int{code};
        }
    }
    for (size_t r = 0; r < kGlyphRows; ++r) {
        EXPECT_EQ(Glyph(0xDB)[r], 0xFF) << "full block, row " << r;
    }
    int fullRows = 0;
    for (size_t r = 0; r < kGlyphRows; ++r) {
        EXPECT_TRUE(Glyph(0xC4)[r] == 0xFF || Glyph(0xC4)[r] == 0) << "horizontal line, row " << r;
        fullRows += Glyph(0xC4)[r] == 0xFF ? 1 : 0;
        // The vertical line runs through every row, box drawing meets the next cell.
        EXPECT_NE(Glyph(0xB3)[r], 0) << "vertical line, row " << r;
    }
    EXPECT_EQ(fullRows, 1);
    // Upper and lower half blocks split the cell between them.
    for (size_t r = 0; r < kGlyphRows; ++r) {
        EXPECT_EQ(Glyph(0xDF)[r] == 0xFF, Glyph(0xDC)[r] != 0xFF) << "half blocks, row " << r;
    }
    // Every printable ASCII character and the graphics of codes 1 to 31 have ink.
    for (int code = 1; code < 255; ++code) {
        if (code == 32) {
            continue;
        }
        int ink = 0;
        for (size_t r = 0; r < kGlyphRows; ++r) {
            ink += Glyph(static_cast<uint8_t>(code))[r];
        }
        EXPECT_GT(ink, 0) << "code " << code;
    }
    EXPECT_NE(std::memcmp(Glyph('O'), Glyph('0'), kGlyphRows), 0);
}

TEST_F(ScreenConsoleTest, DrawsEveryGlyphPixelForPixelAndRewritesWholeCells) {
    EXPECT_EQ(console.FrameBuffer(), kScreen);
    for (int code = 0; code < 256; ++code) {
        console.DrawCharacter(static_cast<uint8_t>(code), kInk);
    }
    // 256 characters: eight full lines and 16 cells of the ninth.
    EXPECT_EQ(console.Line(), 8);
    EXPECT_EQ(console.Column(), 16);
    for (int code = 0; code < 256; ++code) {
        EXPECT_TRUE(CellHolds(screen, kScreen, code % 30, code / 30, static_cast<uint8_t>(code), kInk));
    }
    EXPECT_TRUE(CellUntouched(screen, 16, 8));
    EXPECT_TRUE(CellUntouched(screen, 0, 9));

    // Drawing over a cell replaces it completely, in the new colour.
    console.Home();
    console.DrawCharacter('x', 0x0C0C);
    EXPECT_TRUE(CellHolds(screen, kScreen, 0, 0, 'x', 0x0C0C));
}

TEST_F(ScreenConsoleTest, ClearingWhitensTheWholeScreenAndKeepsTheCursor) {
    console.Print(kInk, "ab\ncd");
    console.ClearScreen();
    EXPECT_EQ(console.Line(), 1);
    EXPECT_EQ(console.Column(), 2);
    for (uint8_t byte : screen.Bytes(kScreen)) {
        ASSERT_EQ(byte, 0xFF);
    }
    // Rows 315 to 319 are cleared too, the other frame buffer is not.
    EXPECT_EQ(screen.Pixel(kScreen, 239, 319), ScreenConsole::kWhite);
    EXPECT_EQ(screen.Pixel(FakeScreen::kOtherFrameBuffer, 0, 0), kGarbage);

    // Clearing another frame buffer leaves the drawing address alone.
    screen.Fill(kScreen, kGarbage);
    ScreenConsole::ClearFrameBuffer(FakeScreen::kOtherFrameBuffer);
    for (uint8_t byte : screen.Bytes(FakeScreen::kOtherFrameBuffer)) {
        ASSERT_EQ(byte, 0xFF);
    }
    EXPECT_EQ(screen.Pixel(kScreen, 0, 0), kGarbage);
    EXPECT_EQ(console.FrameBuffer(), kScreen);
    console.DrawCharacter('e', kInk);
    EXPECT_TRUE(CellHolds(screen, kScreen, 2, 1, 'e', kInk));
    EXPECT_EQ(screen.Pixel(FakeScreen::kOtherFrameBuffer, 16, 15), ScreenConsole::kWhite);
}

TEST_F(ScreenConsoleTest, SettingTheFrameBufferMovesDrawingAndHomesTheCursor) {
    console.Print(kInk, "abc");
    console.SetFrameBuffer(FakeScreen::kOtherFrameBuffer);
    EXPECT_EQ(console.Column(), 0);
    EXPECT_EQ(console.Line(), 0);
    console.DrawCharacter('Q', kInk);
    EXPECT_TRUE(CellHolds(screen, FakeScreen::kOtherFrameBuffer, 0, 0, 'Q', kInk));
    EXPECT_TRUE(TextAt(screen, 0, 0, "abc"));  // the old screen is not drawn over
}

TEST_F(ScreenConsoleTest, ScrollMovesEveryLineUpAndWhitensTheLastOne) {
    for (int line = 0; line < 21; ++line) {
        console.SetFrameBuffer(0);
        for (int i = 0; i < line; ++i) {
            console.Newline();
        }
        console.Print(kInk, "line %d", line);
    }
    // Rows 315 to 319 hold garbage that the scroll must not touch.
    const auto before = screen.Bytes(kScreen);
    console.Newline();  // from line 20: scrolls
    EXPECT_EQ(console.Line(), 20);
    EXPECT_EQ(console.Column(), 0);
    const auto after = screen.Bytes(kScreen);
    constexpr size_t kLine = 7200;
    EXPECT_EQ(0, std::memcmp(after.data(), before.data() + kLine, 20 * kLine));
    for (size_t i = 20 * kLine; i < 21 * kLine; ++i) {
        ASSERT_EQ(after[i], 0xFF) << "byte " << i << " of the last text line";
    }
    EXPECT_EQ(0, std::memcmp(after.data() + 21 * kLine, before.data() + 21 * kLine, 5 * 480));
    EXPECT_TRUE(TextAt(screen, 0, 0, "line 1"));
    EXPECT_TRUE(TextAt(screen, 0, 19, "line 20"));

    // The 30th character of line 20 scrolls as well.
    console.Print(kInk, "%s", std::string(30, 'z').c_str());
    EXPECT_EQ(console.Line(), 20);
    EXPECT_EQ(console.Column(), 0);
    EXPECT_TRUE(TextAt(screen, 0, 19, std::string(30, 'z')));
    EXPECT_TRUE(TextAt(screen, 0, 18, "line 20"));
}

TEST_F(ScreenConsoleTest, PrintConversions) {
    const char* inner = "a\nb";
    console.Print(kInk, "%d|%d|%d\n", 0, 12345, -42);
    PrintUnchecked(console, "[%s]%s\n", inner, static_cast<const char*>(nullptr));
    console.Print(kInk, "%f %f %f %f\n", 3.14159, -2.5, 0.999, -0.001);
    PrintUnchecked(console, "100%% %q\n");
    EXPECT_TRUE(TextAt(screen, 0, 0, "0|12345|-42"));
    // A newline inside %s is drawn as glyph 10, not obeyed.
    EXPECT_TRUE(TextAt(screen, 0, 1, std::string("[a\nb](null)")));
    EXPECT_TRUE(TextAt(screen, 0, 2, "3.14 -2.50 1.00 0.00"));
    EXPECT_TRUE(TextAt(screen, 0, 3, "100% q"));
    EXPECT_EQ(console.Line(), 4);
    EXPECT_EQ(console.Column(), 0);
}

TEST_F(ScreenConsoleTest, TrailingPercentAndPlainTextStopAtTheirEnds) {
    // The byte after the terminator must never be drawn.
    const char format[] = {'a', 'b', '%', '\0', 'Z', '\0'};
    console.Print(kInk, "%s", "");  // nothing drawn
    EXPECT_EQ(console.Column(), 0);
    PrintUnchecked(console, format);
    EXPECT_TRUE(TextAt(screen, 0, 0, "ab%"));
    EXPECT_EQ(console.Column(), 3);
    EXPECT_TRUE(CellUntouched(screen, 3, 0));

    // Plain text: "%" is an ordinary character, "\n" a newline, and the
    // length bound holds even without a terminator.
    console.SetFrameBuffer(0);
    const char text[] = {'5', '%', 'd', '\n', 'o', 'k', 'X', 'X'};
    console.PutText(kInk, text, 6);
    EXPECT_TRUE(TextAt(screen, 0, 0, "5%d"));
    EXPECT_TRUE(TextAt(screen, 0, 1, "ok"));
    EXPECT_EQ(console.Column(), 2);
    EXPECT_TRUE(CellUntouched(screen, 2, 1));
}

}  // namespace
}  // namespace nuva
