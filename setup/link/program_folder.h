// The folder of the running program: the agent library and the flasher ship
// beside Setup and are copied to the handheld from there.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace nuva {

// Reads a path through `read`, which fills at most `capacity` characters of
// the buffer (no terminator needed) and returns how many it wrote, or a
// negative value on failure. The buffer starts at 1024 characters and grows
// by 1024 for as long as the path fills it, so a path of any length the
// system allows is found. Returns "" on failure or for an empty path.
std::string ReadGrowingPath(const std::function<long(char* buffer, size_t capacity)>& read);

// The running program's folder with its trailing "/", or "" when it cannot
// be found.
std::string ProgramFolder();

}  // namespace nuva
