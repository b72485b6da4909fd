// Where the user's answers to confirmations come from: with --yes every
// question is answered as pressing the forward button would; otherwise a line
// typed on standard input, read without blocking so that the console loop
// keeps serving the dialog's timers (the link watch) while the user thinks.
#pragma once

#include <optional>
#include <string>

namespace nuva {

class Answers {
  public:
    // `fd`: where typed answers come from (standard input).
    Answers(bool yes, int fd);

    bool AutoYes() const { return yes_; }

    // The answer to the question asked last, once a whole line has been
    // typed: true for a line starting with 'y' or 'Y'; false for any other
    // line and at the end of input (nobody is there to say yes). nullopt
    // while no line has arrived. Never blocks.
    std::optional<bool> Poll();

    // The answer to a line, as Poll judges it.
    static bool IsYes(const std::string& line);

  private:
    bool yes_;
    int fd_;
    std::string pending_;
    bool ended_ = false;
};

}  // namespace nuva
