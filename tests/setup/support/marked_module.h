// A language module that replaces every text of the program with the same
// text marked at its start, so that a test can tell that whatever a page or
// window shows came from the module.
#pragma once

#include <string>

namespace nuva::test {

inline constexpr char kMark[] = "XX ";

// The module's text: every string (its conversions kept, so it passes the
// format check) and every dialog text, each beginning with kMark.
std::string MarkedModule();

}  // namespace nuva::test
