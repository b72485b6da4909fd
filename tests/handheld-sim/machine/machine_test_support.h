// Helpers of the machine's tests: small ROM images, started handhelds, the
// test program and library, files of the store.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/store/object_store.h"
#include "tests/support/temp_folder.h"

namespace nuva::sim::test {

using namespace std::chrono_literals;

// An image file (zero header, then contents of `contentBytes`) whose
// contents carry a valid ROM identity block covering all of them.
std::vector<uint8_t> SmallImage(const std::string& dateCode = "04100300", const std::string& version = "A03",
                                uint32_t osMajor = 4, uint32_t language = 0x0409,
                                uint32_t contentBytes = 0x8000);

// Settings of a supported Advanced handheld with a short boot.
FactorySettings TestSettings(bool advanced = true);

// A powered-on handheld that has started and launched its start-up
// programs (the test fails otherwise).
std::unique_ptr<Handheld> StartedHandheld(const FactorySettings& settings = TestSettings(),
                                          const std::vector<uint8_t>& image = SmallImage(),
                                          const std::string& stateDir = "");

std::vector<uint8_t> ReadHostFile(const std::string& path);

// The bytes of a file of the handheld's store; empty when missing.
std::vector<uint8_t> StoreFile(Handheld& handheld, const std::u16string& path);
bool StoreHas(Handheld& handheld, const std::u16string& path);
void PutStoreFile(Handheld& handheld, const std::u16string& path, const std::vector<uint8_t>& bytes);
void PutStoreText(Handheld& handheld, const std::u16string& path, const std::string& text);

// Puts the test program into \Windows\StartUp under `name`, with `script`.
void InstallTestProgram(Handheld& handheld, const std::string& script,
                        const std::u16string& name = u"Test.exe");

// ---- Reading the screen -------------------------------------------------
// Colours the handheld itself draws with.
inline constexpr uint16_t kWhite = 0xFFFF;
inline constexpr uint16_t kBlack = 0x0000;
inline constexpr uint16_t kDarkBlue = 0x0010;  // title bands

// Whether `codes` (code page 437) is drawn from pixel (x, y) of the 240 x 320
// `screen` with the console's 8 x 15 font: every cell's set bits in `ink`,
// its clear bits in `paper`.
::testing::AssertionResult ShowsText(const std::vector<uint16_t>& screen, int x, int y,
                                     std::string_view codes, uint16_t ink, uint16_t paper);
// The first place (top to bottom, then left to right) where `codes` is
// drawn so, if anywhere.
std::optional<std::pair<int, int>> FindText(const std::vector<uint16_t>& screen, std::string_view codes,
                                            uint16_t ink, uint16_t paper);
// Whether every pixel of the rectangle is `colour`.
::testing::AssertionResult Filled(const std::vector<uint16_t>& screen, int x, int y, int width, int height,
                                  uint16_t colour);
// A PNG picture's pixels narrowed back to RGB 5-6-5, row by row; empty when
// the file is not a PNG picture. Exact for pictures of 5-6-5 pixels.
std::vector<uint16_t> ReadPngPixels(const std::string& path, uint32_t& width, uint32_t& height);

using nuva::testing::TempFolder;

}  // namespace nuva::sim::test
