// The terminal the command-line front end writes to: permanent lines, and on
// a terminal one status line that is redrawn in place (progress bars, the
// waiting animation). When the output is not a terminal (a log, a pipe) a
// status is written as a line of its own when it says something new (its
// words change) and otherwise at most once a second, so that a long run
// leaves a readable log instead of a line per animation step.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace nuva {

class Terminal {
  public:
    explicit Terminal(std::FILE* out);
    // With `interactive` given instead of asked of the stream (tests).
    Terminal(std::FILE* out, bool interactive);

    // A line that stays (the status line, if any, is cleared first).
    void Line(const std::string& text);
    // Several lines: `text` split at its newlines, blank lines kept.
    void Block(const std::string& text);
    // The status line. A listener (the machine-readable events) hears each
    // status that says something new (its StatusKey changes), unless
    // `heard` is false (progress bars, which are reported on their own).
    void Status(const std::string& text, bool heard = true);
    void SetStatusListener(std::function<void(const std::string&)> listener) {
        listener_ = std::move(listener);
    }
    // A question that waits for a typed answer on the same line.
    void Prompt(const std::string& text);
    // Ends the status line so that it stays as it is.
    void KeepStatus();
    bool Interactive() const { return interactive_; }

  private:
    void ClearStatus();
    void FlushHeldBack();

    std::FILE* out_;
    bool interactive_;
    bool statusShown_ = false;
    std::string lastStatus_;
    std::string lastLoggedKey_;
    std::string lastHeardKey_;
    std::function<void(const std::string&)> listener_;
    std::string unlogged_;  // a status held back from the log
    std::chrono::steady_clock::time_point lastLogged_{};
};

// What a status says, without its numbers, bars and animation: statuses with
// the same key differ only in how far they have got.
std::string StatusKey(const std::string& status);

// A status without the animation at its end (dots and the turning bar):
// what a log or a reader of events wants of it.
std::string StatusWords(const std::string& status);

// A progress bar of `width` cells for a percentage (cut to 0..100).
std::string Bar(uint32_t percent, int width = 24);
// A label without its keyboard mnemonic ("&Next >" reads "Next >").
std::string WithoutMnemonic(const std::string& label);

}  // namespace nuva
