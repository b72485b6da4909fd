// make_console_font: turns a PC console font (PSF1 or PSF2, gzip-compressed
// or plain, 8 pixels wide, 15 or 16 rows, with a Unicode table) into the
// console's built-in 8 x 15 glyph table in code page 437 order, followed by
// the code page's table of Unicode code points.
//
// Each code page 437 code is mapped to its Unicode code point and the glyph
// the font's Unicode table assigns to that code point is taken, so the result
// does not depend on the order in which the font stores its glyphs. A 16-row
// glyph loses its bottom row (the VGA-style fonts leave it blank for letters;
// box drawing still meets the next cell because the cells are 15 rows high).
// Codes 0, 32 and 255 are always blank.
//
// Usage: make_console_font <font file> <output .cpp>
// Runs on the build machine; any fault in the font stops the build with a
// message naming the problem.

#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr size_t kGlyphs = 256;
constexpr size_t kRows = 15;

// Code page 437 to Unicode, the graphic forms of codes 1 to 31 and 127
// included (the console draws them as pictures, not as control codes).
constexpr std::array<uint16_t, 256> kCp437 = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640,
    0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8, 0x2191, 0x2193,
    0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC, 0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026,
    0x0027, 0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F, 0x0030, 0x0031, 0x0032, 0x0033,
    0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, 0x0040,
    0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047, 0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D,
    0x004E, 0x004F, 0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057, 0x0058, 0x0059, 0x005A,
    0x005B, 0x005C, 0x005D, 0x005E, 0x005F, 0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F, 0x0070, 0x0071, 0x0072, 0x0073, 0x0074,
    0x0075, 0x0076, 0x0077, 0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x2302, 0x00C7, 0x00FC,
    0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4,
    0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2,
    0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF,
    0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561,
    0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C,
    0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584,
    0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398,
    0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7,
    0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

struct Font {
    size_t glyphCount = 0;
    size_t rows = 0;
    size_t glyphBytes = 0;
    size_t glyphOffset = 0;
    std::map<uint32_t, size_t> glyphOf;  // Unicode code point -> glyph index
};

bool Fail(const std::string& message) {
    std::fprintf(stderr, "make_console_font: %s\n", message.c_str());
    return false;
}

// The glyph shapes must be 15 or 16 rows of one byte and lie wholly inside
// the file, ahead of the Unicode table.
bool CheckGlyphArea(const std::vector<uint8_t>& b, const Font& font) {
    if (font.rows != 15 && font.rows != 16) {
        return Fail("font has " + std::to_string(font.rows) + " rows, 15 or 16 needed");
    }
    if (font.glyphCount < 256 || font.glyphOffset + font.glyphCount * font.glyphBytes > b.size()) {
        return Fail("font has fewer than 256 glyphs or its glyphs run past the end of the file");
    }
    return true;
}

bool ReadWhole(const char* path, std::vector<uint8_t>& out) {
    gzFile file = gzopen(path, "rb");  // reads plain files unchanged
    if (file == nullptr) {
        return Fail(std::string("cannot open ") + path);
    }
    std::array<uint8_t, 8192> chunk{};
    int got = 0;
    while ((got = gzread(file, chunk.data(), static_cast<unsigned>(chunk.size()))) > 0) {
        out.insert(out.end(), chunk.begin(), chunk.begin() + got);
        if (out.size() > (1u << 22)) {
            gzclose(file);
            return Fail("font file larger than 4 MB: not a console font");
        }
    }
    const bool ok = got == 0;
    gzclose(file);
    return ok ? true : Fail(std::string("cannot decompress ") + path);
}

void Assign(Font& font, uint32_t codePoint, size_t glyph) {
    font.glyphOf.emplace(codePoint, glyph);  // the first glyph named for a code point wins
}

// PSF1: 4-byte header; the table holds 16-bit units per glyph, 0xFFFE starts
// multi-unit sequences (skipped), 0xFFFF ends the glyph's entry.
bool ParsePsf1(const std::vector<uint8_t>& b, Font& font) {
    const uint8_t mode = b[2];
    font.glyphCount = (mode & 0x01) ? 512 : 256;
    font.rows = b[3];
    font.glyphBytes = font.rows;
    font.glyphOffset = 4;
    if ((mode & 0x06) == 0) {
        return Fail("font has no Unicode table");
    }
    if (!CheckGlyphArea(b, font)) {
        return false;
    }
    size_t at = font.glyphOffset + font.glyphCount * font.glyphBytes;
    for (size_t glyph = 0; glyph < font.glyphCount; ++glyph) {
        bool inSequence = false;
        for (;;) {
            if (at + 2 > b.size()) {
                return Fail("Unicode table ends inside a glyph's entry");
            }
            const uint32_t unit = static_cast<uint32_t>(b[at] | (b[at + 1] << 8));
            at += 2;
            if (unit == 0xFFFF) {
                break;
            }
            if (unit == 0xFFFE) {
                inSequence = true;
            } else if (!inSequence) {
                Assign(font, unit, glyph);
            }
        }
    }
    return true;
}

// Decodes one UTF-8 character at `at`; returns false on a malformed one.
bool DecodeUtf8(const std::vector<uint8_t>& b, size_t end, size_t& at, uint32_t& codePoint) {
    const uint8_t lead = b[at];
    size_t extra = 0;
    if (lead < 0x80) {
        codePoint = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        codePoint = lead & 0x1Fu;
        extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
        codePoint = lead & 0x0Fu;
        extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
        codePoint = lead & 0x07u;
        extra = 3;
    } else {
        return false;
    }
    if (at + 1 + extra > end) {
        return false;
    }
    for (size_t i = 1; i <= extra; ++i) {
        if ((b[at + i] & 0xC0) != 0x80) {
            return false;
        }
        codePoint = (codePoint << 6) | (b[at + i] & 0x3Fu);
    }
    at += 1 + extra;
    return true;
}

// PSF2: 32-byte header; the table holds UTF-8 per glyph, 0xFE starts
// sequences (skipped), 0xFF ends the glyph's entry.
bool ParsePsf2(const std::vector<uint8_t>& b, Font& font) {
    if (b.size() < 32) {
        return Fail("PSF2 header cut short");
    }
    const uint32_t headerSize = Le32(b, 8);
    const uint32_t flags = Le32(b, 12);
    font.glyphCount = Le32(b, 16);
    font.glyphBytes = Le32(b, 20);
    font.rows = Le32(b, 24);
    const uint32_t width = Le32(b, 28);
    font.glyphOffset = headerSize;
    if (width != 8) {
        return Fail("font is " + std::to_string(width) + " pixels wide, 8 needed");
    }
    if ((flags & 1) == 0) {
        return Fail("font has no Unicode table");
    }
    if (font.glyphCount > 65536 || font.glyphBytes != font.rows || headerSize < 32) {
        return Fail("PSF2 header fields out of range");
    }
    if (!CheckGlyphArea(b, font)) {
        return false;
    }
    size_t at = font.glyphOffset + font.glyphCount * font.glyphBytes;
    for (size_t glyph = 0; glyph < font.glyphCount; ++glyph) {
        bool inSequence = false;
        for (;;) {
            if (at >= b.size()) {
                return Fail("Unicode table ends inside a glyph's entry");
            }
            if (b[at] == 0xFF) {
                ++at;
                break;
            }
            if (b[at] == 0xFE) {
                inSequence = true;
                ++at;
                continue;
            }
            uint32_t codePoint = 0;
            if (!DecodeUtf8(b, b.size(), at, codePoint)) {
                return Fail("malformed UTF-8 in the Unicode table");
            }
            if (!inSequence) {
                Assign(font, codePoint, glyph);
            }
        }
    }
    return true;
}

bool Parse(const std::vector<uint8_t>& b, Font& font) {
    if (b.size() >= 4 && b[0] == 0x36 && b[1] == 0x04) {
        return ParsePsf1(b, font);
    }
    if (b.size() >= 4 && b[0] == 0x72 && b[1] == 0xB5 && b[2] == 0x4A && b[3] == 0x86) {
        return ParsePsf2(b, font);
    }
    return Fail("not a PSF1 or PSF2 font");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_console_font <font file> <output .cpp>\n");
        return 2;
    }
    std::vector<uint8_t> bytes;
    Font font;
    if (!ReadWhole(argv[1], bytes) || !Parse(bytes, font)) {
        return 1;
    }
    std::array<uint8_t, kGlyphs * kRows> table{};
    for (size_t code = 0; code < kGlyphs; ++code) {
        if (code == 0 || code == 32 || code == 255) {
            continue;  // blank by definition
        }
        const auto found = font.glyphOf.find(kCp437[code]);
        if (found == font.glyphOf.end()) {
            char message[96];
            std::snprintf(message, sizeof message, "font has no glyph for code %zu (U+%04X)", code,
                          static_cast<unsigned>(kCp437[code]));
            Fail(message);
            return 1;
        }
        const size_t from = font.glyphOffset + found->second * font.glyphBytes;
        for (size_t row = 0; row < kRows; ++row) {
            table[code * kRows + row] = bytes[from + row];
        }
    }

    std::ofstream out(argv[2], std::ios::trunc);
    out << "// Generated by make_console_font from " << argv[1] << "; do not edit.\n"
        << "#include \"handheld-common/console/console_font.h\"\n\nnamespace nuva {\n\n"
        << "const uint8_t kConsoleFont[kConsoleFontBytes] = {\n";
    for (size_t code = 0; code < kGlyphs; ++code) {
        out << "   ";
        for (size_t row = 0; row < kRows; ++row) {
            char cell[8];
            std::snprintf(cell, sizeof cell, " 0x%02X,", table[code * kRows + row]);
            out << cell;
        }
        out << "  // " << code << "\n";
    }
    out << "};\n\nconst uint16_t kCp437CodePoints[256] = {\n";
    for (size_t code = 0; code < kGlyphs; code += 16) {
        out << "   ";
        for (size_t i = code; i < code + 16; ++i) {
            char cell[10];
            std::snprintf(cell, sizeof cell, " 0x%04X,", static_cast<unsigned>(kCp437[i]));
            out << cell;
        }
        out << "\n";
    }
    out << "};\n\n}  // namespace nuva\n";
    out.close();
    if (!out) {
        std::remove(argv[2]);  // no half-written table may look complete
        Fail(std::string("cannot write ") + argv[2]);
        return 1;
    }
    return 0;
}
