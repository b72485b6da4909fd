#include "handheld-sim/machine/screenshot.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace nuva::sim {
namespace {

// Expands 5-6-5 to 8 bits per channel, so that white stays 0xFFFFFF.
void ToRgb(std::span<const uint16_t> pixels, std::vector<uint8_t>& rgb) {
    rgb.resize(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        uint32_t p = pixels[i];
        uint32_t r = (p >> 11) & 0x1F;
        uint32_t g = (p >> 5) & 0x3F;
        uint32_t b = p & 0x1F;
        rgb[3 * i] = static_cast<uint8_t>((r << 3) | (r >> 2));
        rgb[3 * i + 1] = static_cast<uint8_t>((g << 2) | (g >> 4));
        rgb[3 * i + 2] = static_cast<uint8_t>((b << 3) | (b >> 2));
    }
}

// libpng reports errors by long jump: nothing with a destructor lives in
// this frame after setjmp.
bool Encode(FILE* file, const uint8_t* rgb, uint32_t width, uint32_t height, png_bytep* rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    for (uint32_t y = 0; y < height; ++y) {
        rows[y] = const_cast<png_bytep>(rgb + static_cast<size_t>(y) * width * 3);
    }
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WriteScreenPng(const std::string& path, std::span<const uint16_t> pixels, uint32_t width,
                    uint32_t height, std::string* detail) {
    auto fail = [&](const std::string& why) {
        if (detail != nullptr) {
            *detail = why;
        }
        return false;
    };
    if (width == 0 || height == 0 || pixels.size() != static_cast<size_t>(width) * height) {
        return fail("the picture's size does not match its pixels");
    }
    std::vector<uint8_t> rgb;
    ToRgb(pixels, rgb);
    std::vector<png_bytep> rows(height);
    std::string temporary = path + ".partial";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return fail("cannot create " + temporary + ": " + std::strerror(errno));
    }
    bool encoded = Encode(file, rgb.data(), width, height, rows.data());
    bool closed = std::fclose(file) == 0;
    if (!encoded || !closed) {
        std::remove(temporary.c_str());
        return fail("cannot write the picture to " + temporary);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return fail("cannot rename the picture to " + path + ": " + std::strerror(errno));
    }
    return true;
}

}  // namespace nuva::sim
