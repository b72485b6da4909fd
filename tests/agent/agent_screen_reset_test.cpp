// FnNUVAShowString, WarmReset and ColdReset on the emulated handheld.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <memory>
#include <string>

#include "handheld-common/console/console_font.h"
#include "handheld-sim/store/object_store.h"
#include "tests/agent/agent_harness.h"
#include "tests/agent/core_call_log.h"

namespace nuva::test {
namespace {

constexpr uint32_t kWidth = 240;
constexpr uint32_t kHeight = 320;
constexpr uint16_t kWhite = 0xFFFF;
constexpr uint16_t kInk = 0x8080;

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

// A PNG picture as rows of RGB pixels (8 bits a channel), or empty.
std::vector<Rgb> ReadPng(const std::string& path, uint32_t& width, uint32_t& height) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        return {};
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_stdio(&image, file.get()) == 0) {
        return {};
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<Rgb> pixels(static_cast<size_t>(image.width) * image.height);
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) {
        return {};
    }
    width = image.width;
    height = image.height;
    return pixels;
}

// Whether the screen shows `lines` from the top-left corner, each line's
// cells drawn with the font in `ink` (set bits) on white, and white
// everywhere else. `pixel(x, y)` gives a pixel as `T`.
template <typename T, typename PixelAt>
testing::AssertionResult ShowsText(const std::vector<std::string>& lines, T ink, T white, PixelAt pixel) {
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            const size_t line = y / kGlyphRows;
            const size_t column = x / kGlyphWidth;
            bool set = false;
            if (line < lines.size() && column < lines[line].size() && y < 21 * kGlyphRows) {
                const uint8_t row = Glyph(static_cast<uint8_t>(lines[line][column]))[y % kGlyphRows];
                set = (row & (0x80u >> (x % kGlyphWidth))) != 0;
            }
            if (!(pixel(x, y) == (set ? ink : white))) {
                return testing::AssertionFailure() << "pixel (" << x << "," << y
                                                   << ") differs from the font's " << (set ? "ink" : "white");
            }
        }
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult ScreenShows(sim::Handheld& device, const std::vector<std::string>& lines) {
    const std::vector<uint16_t> screen = device.Screen();
    if (screen.size() != kWidth * kHeight) {
        return testing::AssertionFailure() << "screen of " << screen.size() << " pixels";
    }
    return ShowsText<uint16_t>(lines, kInk, kWhite,
                               [&](uint32_t x, uint32_t y) { return screen[y * kWidth + x]; });
}

TEST(AgentShowStringTest, ClearsTheScreenAndDrawsTheTextInItsPlace) {
    AgentHandheld handheld;
    // The text of the update run, with a "%" that must be drawn as it is.
    const std::string text = "\n\nUpdating ROM, 100% %d %s\ndo not remove the\npower";
    CoreCallLog log;
    const AgentCall call = handheld.Call(u"FnNUVAShowString", ShowRequest(0, text));
    EXPECT_EQ(call.result, E_FAIL);  // always, even when drawn
    EXPECT_TRUE(call.output.empty());
    const CoreCalls calls = log.Take();
    ASSERT_EQ(calls.readabilityTests.size(), 1u);
    EXPECT_EQ(calls.freed, calls.readabilityTests);

    const std::vector<std::string> lines = {"", "", "Updating ROM, 100% %d %s", "do not remove the", "power"};
    EXPECT_TRUE(ScreenShows(handheld.Device(), lines));

    // The picture of the screen shows the same: ink where the font has set
    // bits, white everywhere else.
    const std::string path = testing::TempDir() + "agent_show_string.png";
    std::string detail;
    ASSERT_TRUE(handheld.Device().SaveScreenshot(path, &detail)) << detail;
    uint32_t width = 0;
    uint32_t height = 0;
    const std::vector<Rgb> picture = ReadPng(path, width, height);
    ASSERT_EQ(width, kWidth);
    ASSERT_EQ(height, kHeight);
    // The ink colour is whatever 0x8080 becomes in the picture: take it from
    // the first set pixel of the first drawn glyph.
    Rgb pictureInk{};
    bool found = false;
    for (uint32_t y = 0; y < kGlyphRows && !found; ++y) {
        for (uint32_t x = 0; x < kGlyphWidth && !found; ++x) {
            if (Glyph('U')[y] & (0x80u >> x)) {
                pictureInk = picture[(2 * kGlyphRows + y) * kWidth + x];
                found = true;
            }
        }
    }
    ASSERT_TRUE(found);
    EXPECT_FALSE(pictureInk == (Rgb{255, 255, 255}));
    EXPECT_TRUE(ShowsText<Rgb>(lines, pictureInk, Rgb{255, 255, 255},
                               [&](uint32_t x, uint32_t y) { return picture[y * kWidth + x]; }));

    // A second call starts again from the top-left corner of a clean screen,
    // and the default address may also be given as it is.
    EXPECT_EQ(handheld.Call(u"FnNUVAShowString", ShowRequest(0xBE042000, "Done")).result, E_FAIL);
    EXPECT_TRUE(ScreenShows(handheld.Device(), {"Done"}));
}

TEST(AgentShowStringTest, UnusableInputsDrawNothing) {
    AgentHandheld handheld;
    ASSERT_EQ(handheld.Call(u"FnNUVAShowString", ShowRequest(0, "before")).result, E_FAIL);
    ASSERT_TRUE(ScreenShows(handheld.Device(), {"before"}));

    // No input, a block too short for its header, and frame-buffer addresses
    // that are not the screen (RAM, flash): refused without drawing, so that
    // a stray address cannot make the console write over memory or flash.
    EXPECT_EQ(handheld.Call(u"FnNUVAShowString", {}).result, E_FAIL);
    EXPECT_EQ(handheld.Call(u"FnNUVAShowString", std::vector<uint8_t>(7, 0)).result, E_FAIL);
    for (const uint32_t address : {0xA4100000u, 0xA0000000u, 0xBE042002u}) {
        CoreCallLog log;
        EXPECT_EQ(handheld.Call(u"FnNUVAShowString", ShowRequest(address, "stray")).result, E_FAIL);
        EXPECT_EQ(log.Take().freed.size(), 1u) << "the refused input is freed";
    }
    EXPECT_TRUE(ScreenShows(handheld.Device(), {"before"}));
    EXPECT_TRUE(handheld.Device().Status().crashedReason.empty()) << handheld.Device().Status().crashedReason;
    EXPECT_EQ(handheld.Info().Supported, 1u) << "the flash still reads as the ROM";

    // A text without its terminator ends with its block.
    std::vector<uint8_t> unterminated = ShowRequest(0, "cut");
    unterminated.pop_back();
    EXPECT_EQ(handheld.Call(u"FnNUVAShowString", unterminated).result, E_FAIL);
    EXPECT_TRUE(ScreenShows(handheld.Device(), {"cut"}));
}

constexpr std::u16string_view kRemovedDrivers[] = {u"ExtConnDrv",  u"FlshDrv", u"IrCOMM", u"IrDA",
                                                   u"sdmmcloader", u"Serial",  u"USB",    u"WaveDev",
                                                   u"GSM610",      u"NDIS"};

std::u16string DriverKey(std::u16string_view name) {
    return u"Drivers\\BuiltIn\\" + std::u16string(name);
}

TEST(AgentResetTest, WarmResetWithoutInputKeepsTheRegistry) {
    AgentHandheld handheld;
    handheld.PutFile(u"\\TEMP\\kept", std::vector<uint8_t>{1});
    handheld.CallAndRestart(u"WarmReset", {});
    const sim::HandheldStatus status = handheld.Device().Status();
    EXPECT_TRUE(status.started);
    EXPECT_FALSE(status.coldStart);
    EXPECT_TRUE(status.usbDriversLoaded);
    EXPECT_TRUE(status.psmMounted);
    for (const auto name : kRemovedDrivers) {
        EXPECT_TRUE(handheld.KeyExists(DriverKey(name))) << "key kept";
    }
    EXPECT_TRUE(handheld.KeyExists(u"System\\StorageManager\\AutoLoad\\PSM"));
    EXPECT_TRUE(handheld.FileExists(u"\\TEMP\\kept"));
}

TEST(AgentResetTest, WarmResetWithInputRemovesTheDriverKeysFirst) {
    AgentHandheld handheld;
    handheld.PutFile(u"\\TEMP\\kept", std::vector<uint8_t>{1});
    const std::vector<uint8_t> one = {1, 0, 0, 0};
    handheld.CallAndRestart(u"WarmReset", one);
    const sim::HandheldStatus status = handheld.Device().Status();
    EXPECT_TRUE(status.started);
    EXPECT_FALSE(status.coldStart);
    EXPECT_FALSE(status.usbDriversLoaded);
    EXPECT_FALSE(status.psmMounted);
    EXPECT_FALSE(handheld.Device().LinkAvailable());
    for (const auto name : kRemovedDrivers) {
        EXPECT_FALSE(handheld.KeyExists(DriverKey(name))) << "key removed";
    }
    EXPECT_FALSE(handheld.KeyExists(u"System\\StorageManager\\AutoLoad\\PSM"));
    // Keys that are not on the list stay, and so do the files.
    EXPECT_TRUE(handheld.KeyExists(u"Drivers\\BuiltIn\\Battery"));
    EXPECT_TRUE(handheld.KeyExists(u"Drivers\\BuiltIn\\PowerManager"));
    EXPECT_TRUE(handheld.FileExists(u"\\TEMP\\kept"));
}

TEST(AgentResetTest, ValuesThatCannotBeDeletedDoNotHoldTheCleanupUp) {
    AgentHandheld handheld;
    CoreCallLog log({.valueDeletions = true});
    handheld.CallAndRestart(u"WarmReset", std::vector<uint8_t>{1, 0, 0, 0});
    // One failed attempt per key and pass at most: eleven keys, two passes.
    const size_t deletions = log.Take().valueDeletions;
    EXPECT_GE(deletions, 1u);
    EXPECT_LE(deletions, 22u);
    // The keys themselves still go, values and all.
    for (const auto name : kRemovedDrivers) {
        EXPECT_FALSE(handheld.KeyExists(DriverKey(name)));
    }
    EXPECT_FALSE(handheld.KeyExists(u"System\\StorageManager\\AutoLoad\\PSM"));
}

TEST(AgentResetTest, ColdResetMakesTheNextStartCold) {
    for (const bool oemAnswers : {true, false}) {
        for (const bool advanced : {true, false}) {
            SCOPED_TRACE(testing::Message()
                         << "advanced " << advanced << ", OEM layer answers " << oemAnswers);
            sim::FactorySettings settings = AgentHandheld::Supported();
            settings.advanced = advanced;
            settings.platformCommandAnswers = oemAnswers;
            imagegen::ImageSpec spec;
            spec.modelClass = advanced ? imagegen::ModelClass::kAdvanced : imagegen::ModelClass::kBasic;
            AgentHandheld handheld(settings, spec);
            {
                auto store = handheld.Device().Store();
                ASSERT_EQ(store.Files().Delete(u"\\Windows\\StartUp\\Welcome.lnk"),
                          sim::store_error::kSuccess);
                ASSERT_EQ(store.Files().Delete(u"\\Windows\\StartUp\\poutlook.lnk"),
                          sim::store_error::kSuccess);
            }
            handheld.PutFile(u"\\TEMP\\gone", std::vector<uint8_t>{1});
            handheld.CallAndRestart(u"ColdReset", WideBlock(u"ALL"));
            const sim::HandheldStatus status = handheld.Device().Status();
            EXPECT_TRUE(status.started);
            EXPECT_TRUE(status.coldStart);
            EXPECT_TRUE(handheld.FileExists(u"\\Windows\\StartUp\\Welcome.lnk"));
            EXPECT_TRUE(handheld.FileExists(u"\\Windows\\StartUp\\poutlook.lnk"));
            EXPECT_FALSE(handheld.FileExists(u"\\TEMP\\gone"));
        }
    }
}

TEST(AgentResetTest, ColdResetWithoutMemoryConfigurationClearsTheBasicBlock) {
    // An Advanced handheld whose platform does not tell its memory
    // configuration: the agent falls back to the Basic block at 0xA5FCE000,
    // which on this handheld is ordinary RAM, so the start stays warm.
    constexpr uint32_t kBasicWord1 = 0xA5FCE000 + 0x690;
    constexpr uint32_t kBasicWord2 = 0xA5FCE000 + 0x70C;
    AgentHandheld handheld;
    ASSERT_EQ(handheld.Device().RunAsProgram([&] {
        WRITE_REGISTER_ULONG(NUVA_KADDR(ULONG, kBasicWord1), 0x11111111);
        WRITE_REGISTER_ULONG(NUVA_KADDR(ULONG, kBasicWord2), 0x22222222);
    }),
              sim::ProgramEnd::kReturned);
    ASSERT_EQ(handheld.Device().ReadRamWord(kBasicWord1), std::optional<uint32_t>(0x11111111));
    handheld.PutFile(u"\\TEMP\\kept", std::vector<uint8_t>{1});
    {
        CoreCallLog log({.memoryConfig = true});
        handheld.CallAndRestart(u"ColdReset", WideBlock(u"ALL"));
    }
    EXPECT_FALSE(handheld.Device().Status().coldStart);
    EXPECT_TRUE(handheld.FileExists(u"\\TEMP\\kept"));
    EXPECT_EQ(handheld.Device().ReadRamWord(kBasicWord1), std::optional<uint32_t>(0));
    EXPECT_EQ(handheld.Device().ReadRamWord(kBasicWord2), std::optional<uint32_t>(0));
}

}  // namespace
}  // namespace nuva::test
