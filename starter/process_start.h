// Starting a program as a process of its own that nobody waits for.
#pragma once

#include <string>
#include <vector>

namespace nuva {

// Starts the program at `arguments[0]` (a path, not looked up in PATH) with
// `arguments` as its argument list, this process's environment and current
// folder. The new process gets only the standard input, output and error of
// this one, every signal at its default action and none blocked. Returns
// whether it was started; it is not waited for.
bool StartDetachedProgram(const std::vector<std::string>& arguments);

}  // namespace nuva
