#include "machine_test_support.h"

#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "formats/rom_identity.h"
#include "handheld-common/console/console_font.h"

namespace nuva::sim::test {

std::vector<uint8_t> SmallImage(const std::string& dateCode, const std::string& version, uint32_t osMajor,
                                uint32_t language, uint32_t contentBytes) {
    std::vector<uint8_t> image(512 + contentBytes);
    for (size_t i = 512; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>((i * 131 + 7) >> 3);
    }
    RomIdentity identity;
    identity.DateCode = dateCode;
    identity.Version = version;
    identity.OsMajor = osMajor;
    identity.LanguageId = language;
    identity.CoveredLength = contentBytes;
    EXPECT_TRUE(StampRomIdentity(image.data() + 512, contentBytes, identity));
    return image;
}

FactorySettings TestSettings(bool advanced) {
    FactorySettings settings;
    settings.advanced = advanced;
    settings.uuid = SupportedUuid(true);
    settings.bootMs = 200;
    return settings;
}

std::unique_ptr<Handheld> StartedHandheld(const FactorySettings& settings, const std::vector<uint8_t>& image,
                                          const std::string& stateDir) {
    CreateError error = CreateError::kNone;
    std::string detail;
    auto handheld = Handheld::Create(settings, image, stateDir, &error, &detail);
    EXPECT_NE(handheld, nullptr) << detail;
    if (handheld == nullptr) {
        return nullptr;
    }
    handheld->PowerOn();
    EXPECT_TRUE(handheld->WaitUntilStarted(10s)) << handheld->Status().brickedReason;
    // The start-up folder was read: what a test puts there next runs only
    // at the next start.
    EXPECT_TRUE(handheld->WaitUntilIdle(10s));
    return handheld;
}

std::vector<uint8_t> ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> StoreFile(Handheld& handheld, const std::u16string& path) {
    std::vector<uint8_t> bytes;
    handheld.Store().Files().Get(path, &bytes);
    return bytes;
}

bool StoreHas(Handheld& handheld, const std::u16string& path) {
    EntryInfo info;
    return handheld.Store().Files().Stat(path, &info) == store_error::kSuccess;
}

void PutStoreFile(Handheld& handheld, const std::u16string& path, const std::vector<uint8_t>& bytes) {
    auto store = handheld.Store();
    size_t slash = path.rfind(u'\\');
    if (slash != std::u16string::npos && slash > 0) {
        store.Files().CreateDirectory(path.substr(0, slash));
    }
    ASSERT_EQ(store.Files().Put(path, bytes), store_error::kSuccess);
}

void PutStoreText(Handheld& handheld, const std::u16string& path, const std::string& text) {
    PutStoreFile(handheld, path, std::vector<uint8_t>(text.begin(), text.end()));
}

void InstallTestProgram(Handheld& handheld, const std::string& script, const std::u16string& name) {
    PutStoreText(handheld, u"\\test\\script.txt", script);
    PutStoreFile(handheld, u"\\Windows\\StartUp\\" + name, ReadHostFile(NUVA_TEST_PROGRAM));
}

namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 320;

uint16_t At(const std::vector<uint16_t>& screen, int x, int y) {
    return screen.at(static_cast<size_t>(y) * kWidth + static_cast<size_t>(x));
}

// The first pixel where the text differs from what the font draws, if any.
std::optional<std::pair<int, int>> TextMismatch(const std::vector<uint16_t>& screen, int x, int y,
                                                std::string_view codes, uint16_t ink, uint16_t paper) {
    for (size_t i = 0; i < codes.size(); ++i) {
        const uint8_t* glyph = Glyph(static_cast<uint8_t>(codes[i]));
        for (int r = 0; r < static_cast<int>(kGlyphRows); ++r) {
            for (int j = 0; j < static_cast<int>(kGlyphWidth); ++j) {
                const int px = x + static_cast<int>(i * kGlyphWidth) + j;
                const int py = y + r;
                const bool set = (glyph[r] & (0x80u >> j)) != 0;
                if (px >= kWidth || py >= kHeight || At(screen, px, py) != (set ? ink : paper)) {
                    return std::pair{px, py};
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace

::testing::AssertionResult ShowsText(const std::vector<uint16_t>& screen, int x, int y,
                                     std::string_view codes, uint16_t ink, uint16_t paper) {
    if (screen.size() != static_cast<size_t>(kWidth) * kHeight || x < 0 || y < 0) {
        return ::testing::AssertionFailure() << "not a whole screen, or a place off it";
    }
    if (auto at = TextMismatch(screen, x, y, codes, ink, paper)) {
        return ::testing::AssertionFailure() << "\"" << codes << "\" at (" << x << "," << y << "): pixel ("
                                             << at->first << "," << at->second << ") differs from the font";
    }
    return ::testing::AssertionSuccess();
}

std::optional<std::pair<int, int>> FindText(const std::vector<uint16_t>& screen, std::string_view codes,
                                            uint16_t ink, uint16_t paper) {
    if (screen.size() != static_cast<size_t>(kWidth) * kHeight || codes.empty()) {
        return std::nullopt;
    }
    const int textWidth = static_cast<int>(codes.size() * kGlyphWidth);
    for (int y = 0; y + static_cast<int>(kGlyphRows) <= kHeight; ++y) {
        for (int x = 0; x + textWidth <= kWidth; ++x) {
            if (!TextMismatch(screen, x, y, codes, ink, paper)) {
                return std::pair{x, y};
            }
        }
    }
    return std::nullopt;
}

::testing::AssertionResult Filled(const std::vector<uint16_t>& screen, int x, int y, int width, int height,
                                  uint16_t colour) {
    if (screen.size() != static_cast<size_t>(kWidth) * kHeight || x < 0 || y < 0 || x + width > kWidth ||
        y + height > kHeight) {
        return ::testing::AssertionFailure() << "not a whole screen, or a rectangle off it";
    }
    for (int py = y; py < y + height; ++py) {
        for (int px = x; px < x + width; ++px) {
            if (At(screen, px, py) != colour) {
                return ::testing::AssertionFailure() << "pixel (" << px << "," << py << ") is 0x" << std::hex
                                                     << At(screen, px, py) << ", not 0x" << colour;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<uint16_t> ReadPngPixels(const std::string& path, uint32_t& width, uint32_t& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return {};
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
        return {};
    }
    width = image.width;
    height = image.height;
    std::vector<uint16_t> pixels(rgb.size() / 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<uint16_t>(((rgb[3 * i] >> 3) << 11) | ((rgb[3 * i + 1] >> 2) << 5) |
                                          (rgb[3 * i + 2] >> 3));
    }
    return pixels;
}

}  // namespace nuva::sim::test
