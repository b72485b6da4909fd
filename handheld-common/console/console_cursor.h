// The text cursor of the screen console and the rules that move it, kept
// apart from the drawing so that they can be checked on their own.
//
// The screen holds 30 columns by 21 lines of 8 x 15 cells. Drawing a character
// moves one column on and wraps at the end of a line; leaving the last line,
// by a wrap or by a newline, scrolls the screen one line up and leaves the
// cursor at the start of the last line.
#pragma once

namespace nuva {

struct ConsoleCursor {
    static constexpr int kColumns = 30;
    static constexpr int kLines = 21;

    int column = 0;
    int line = 0;

    void Home() {
        column = 0;
        line = 0;
    }

    // After a character has been drawn at the cursor. Returns true when the
    // screen must scroll; the cursor is then already where the scroll leaves it.
    bool AdvanceAfterCharacter() {
        if (column == kColumns - 1) {
            column = 0;
            return NextLine();
        }
        ++column;
        return false;
    }

    // Start of the next line. Returns true when the screen must scroll.
    bool Newline() {
        column = 0;
        return NextLine();
    }

  private:
    bool NextLine() {
        if (line == kLines - 1) {
            return true;  // the scroll keeps the cursor on the last line
        }
        ++line;
        return false;
    }
};

}  // namespace nuva
