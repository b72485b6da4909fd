// Saving the handheld's screen as a PNG picture.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace nuva::sim {

// Writes RGB 5-6-5 pixels, row by row, as an 8-bit RGB PNG file. The file
// appears under `path` only once it is complete. False with `detail` on
// failure.
bool WriteScreenPng(const std::string& path, std::span<const uint16_t> pixels, uint32_t width,
                    uint32_t height, std::string* detail);

}  // namespace nuva::sim
