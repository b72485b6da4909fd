// The terminal the command-line front end writes to: permanent lines, and on
// a terminal one status line that is redrawn in place (progress bars, the
// waiting animation). When the output is not a terminal the status line is
// written as a new line only when it changes in a way worth a line.
#pragma once

#include <cstdio>
#include <string>

namespace nuva {

class Terminal {
public:
    explicit Terminal(std::FILE* out);

    // A line that stays (the status line, if any, is cleared first).
    void Line(const std::string& text);
    // Several lines: `text` split at its newlines, blank lines kept.
    void Block(const std::string& text);
    // The status line.
    void Status(const std::string& text);
    // Ends the status line so that it stays as it is.
    void KeepStatus();
    bool Interactive() const { return interactive_; }

private:
    void ClearStatus();

    std::FILE* out_;
    bool interactive_;
    bool statusShown_ = false;
    std::string lastStatus_;
};

// A progress bar of `width` cells for a percentage (cut to 0..100).
std::string Bar(uint32_t percent, int width = 24);
// A label without its keyboard mnemonic ("&Next >" reads "Next >").
std::string WithoutMnemonic(const std::string& label);

}  // namespace nuva
