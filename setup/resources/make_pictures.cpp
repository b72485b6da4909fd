// make_pictures <folder>: draws Setup's icon and bitmaps and writes them as
// PNG files into <folder>: picture_128.png (the program icon, 32 x 32, with
// transparency), picture_131.png (the main menu's left side, 120 x 299),
// picture_151.png and picture_152.png (the completion notice for Pocket PC
// 2003 and 2002, 144 x 247). The sizes are those of the picture controls of
// setup.rc at 96 dpi.
//
// Everything is drawn from shapes with 4 x 4 samples a pixel, so the output
// is smooth and the same on every build.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Colour {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 1;
};

Colour Hex(uint32_t rgb, double alpha = 1.0) {
    return {static_cast<double>((rgb >> 16) & 0xFF) / 255.0, static_cast<double>((rgb >> 8) & 0xFF) / 255.0,
            static_cast<double>(rgb & 0xFF) / 255.0, alpha};
}

Colour Mix(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

using Inside = std::function<bool(double x, double y)>;
using Paint = std::function<Colour(double x, double y)>;

class Canvas {
  public:
    Canvas(int width, int height, Colour fill) : width_(width), height_(height), pixels_(Size(), fill) {}

    // Blends `paint` over every pixel, weighted by the share of the pixel's
    // samples that lie inside the shape; only the box (x0, y0)-(x1, y1) is
    // visited.
    void Fill(const Inside& inside, const Paint& paint, double x0, double y0, double x1, double y1) {
        constexpr int kSamples = 4;
        int left = std::max(0, static_cast<int>(std::floor(x0)));
        int top = std::max(0, static_cast<int>(std::floor(y0)));
        int right = std::min(width_, static_cast<int>(std::ceil(x1)));
        int bottom = std::min(height_, static_cast<int>(std::ceil(y1)));
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                int hits = 0;
                for (int sy = 0; sy < kSamples; ++sy) {
                    for (int sx = 0; sx < kSamples; ++sx) {
                        double px = x + (sx + 0.5) / kSamples;
                        double py = y + (sy + 0.5) / kSamples;
                        hits += inside(px, py) ? 1 : 0;
                    }
                }
                if (hits == 0) {
                    continue;
                }
                Colour c = paint(x + 0.5, y + 0.5);
                Blend(x, y, c, c.a * hits / (kSamples * kSamples));
            }
        }
    }

    void Fill(const Inside& inside, Colour colour, double x0, double y0, double x1, double y1) {
        Fill(
            inside, [colour](double, double) { return colour; }, x0, y0, x1, y1);
    }

    // 8-bit RGBA or RGB rows, top row first.
    std::vector<uint8_t> Bytes(bool alpha) const {
        std::vector<uint8_t> out;
        out.reserve(Size() * (alpha ? 4 : 3));
        auto byte = [](double v) {
            return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
        };
        for (const Colour& c : pixels_) {
            // Stored premultiplied; PNG wants straight alpha.
            double a = c.a > 0 ? c.a : 1.0;
            out.push_back(byte(c.r / a));
            out.push_back(byte(c.g / a));
            out.push_back(byte(c.b / a));
            if (alpha) {
                out.push_back(byte(c.a));
            }
        }
        return out;
    }

    int width() const { return width_; }
    int height() const { return height_; }

  private:
    size_t Size() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }

    void Blend(int x, int y, Colour c, double coverage) {
        Colour& p = pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)];
        // "Over" in premultiplied form.
        p.r = c.r * coverage + p.r * (1 - coverage);
        p.g = c.g * coverage + p.g * (1 - coverage);
        p.b = c.b * coverage + p.b * (1 - coverage);
        p.a = coverage + p.a * (1 - coverage);
    }

    int width_;
    int height_;
    std::vector<Colour> pixels_;
};

// Shapes ------------------------------------------------------------------

void RoundRect(Canvas& canvas, double x0, double y0, double x1, double y1, double radius,
               const Paint& paint) {
    auto inside = [=](double x, double y) {
        if (x < x0 || x > x1 || y < y0 || y > y1) {
            return false;
        }
        double cx = std::clamp(x, x0 + radius, x1 - radius);
        double cy = std::clamp(y, y0 + radius, y1 - radius);
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
    };
    canvas.Fill(inside, paint, x0, y0, x1, y1);
}

void RoundRect(Canvas& canvas, double x0, double y0, double x1, double y1, double radius, Colour colour) {
    RoundRect(canvas, x0, y0, x1, y1, radius, [colour](double, double) { return colour; });
}

void Disc(Canvas& canvas, double cx, double cy, double radius, Colour colour) {
    auto inside = [=](double x, double y) {
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
    };
    canvas.Fill(inside, colour, cx - radius, cy - radius, cx + radius, cy + radius);
}

struct Point {
    double x;
    double y;
};

// Even-odd rule, so any simple outline works.
void Polygon(Canvas& canvas, const std::vector<Point>& points, Colour colour) {
    double x0 = points[0].x, x1 = points[0].x, y0 = points[0].y, y1 = points[0].y;
    for (const Point& p : points) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    auto inside = [&points](double x, double y) {
        bool in = false;
        for (size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
            const Point& a = points[i];
            const Point& b = points[j];
            if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) {
                in = !in;
            }
        }
        return in;
    };
    canvas.Fill(inside, colour, x0, y0, x1, y1);
}

// A thick line with round ends.
void Stroke(Canvas& canvas, Point a, Point b, double width, Colour colour) {
    double r = width / 2;
    auto inside = [=](double x, double y) {
        double dx = b.x - a.x, dy = b.y - a.y;
        double t = std::clamp(((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        double ex = a.x + t * dx - x, ey = a.y + t * dy - y;
        return ex * ex + ey * ey <= r * r;
    };
    canvas.Fill(inside, colour, std::min(a.x, b.x) - r, std::min(a.y, b.y) - r, std::max(a.x, b.x) + r,
                std::max(a.y, b.y) + r);
}

Paint Vertical(double y0, double y1, Colour top, Colour bottom) {
    return [=](double, double y) { return Mix(top, bottom, std::clamp((y - y0) / (y1 - y0), 0.0, 1.0)); };
}

// Parts of the pictures ---------------------------------------------------

// A memory chip: a dark square with pins on all four sides and a notch.
void Chip(Canvas& canvas, double cx, double cy, double size) {
    double h = size / 2;
    Colour pin = Hex(0x6F7F91);
    int pins = size >= 16 ? 4 : 3;
    double pinLength = size * 0.16;
    double pinWidth = size * 0.09;
    for (int i = 0; i < pins; ++i) {
        double t = -h + size * (i + 0.5) / pins;
        Stroke(canvas, {cx - h - pinLength, cy + t}, {cx + h + pinLength, cy + t}, pinWidth, pin);
        Stroke(canvas, {cx + t, cy - h - pinLength}, {cx + t, cy + h + pinLength}, pinWidth, pin);
    }
    RoundRect(canvas, cx - h, cy - h, cx + h, cy + h, size * 0.12, Hex(0x26303B));
    RoundRect(canvas, cx - h * 0.72, cy - h * 0.72, cx + h * 0.72, cy + h * 0.72, size * 0.08,
              Vertical(cy - h, cy + h, Hex(0x3E4C5C), Hex(0x2A3440)));
    Disc(canvas, cx - h * 0.45, cy - h * 0.45, size * 0.08, Hex(0x8FA3B8));
}

// A handheld seen from the front, with its screen's rectangle returned.
struct Handheld {
    double screenLeft, screenTop, screenRight, screenBottom;
};

Handheld DrawHandheld(Canvas& canvas, double x0, double y0, double x1, double y1) {
    double w = x1 - x0;
    double radius = w * 0.13;
    // Soft shadow, then the body with a lighter rim.
    RoundRect(canvas, x0 + w * 0.04, y0 + w * 0.05, x1 + w * 0.04, y1 + w * 0.05, radius,
              Hex(0x000000, 0.25));
    RoundRect(canvas, x0, y0, x1, y1, radius, Vertical(y0, y1, Hex(0x6C7A8C), Hex(0x39434F)));
    double rim = std::max(1.0, w * 0.03);
    RoundRect(canvas, x0 + rim, y0 + rim, x1 - rim, y1 - rim, radius - rim,
              Vertical(y0, y1, Hex(0x4A5667), Hex(0x2B323C)));
    Handheld h;
    h.screenLeft = x0 + w * 0.12;
    h.screenRight = x1 - w * 0.12;
    h.screenTop = y0 + w * 0.16;
    h.screenBottom = y1 - (y1 - y0) * 0.24;
    double bezel = std::max(1.0, w * 0.025);
    RoundRect(canvas, h.screenLeft - bezel, h.screenTop - bezel, h.screenRight + bezel,
              h.screenBottom + bezel, w * 0.04, Hex(0x1B2129));
    RoundRect(canvas, h.screenLeft, h.screenTop, h.screenRight, h.screenBottom, w * 0.025,
              Vertical(h.screenTop, h.screenBottom, Hex(0xE4F3FF), Hex(0x9CCBF0)));
    // The four application buttons and the navigation pad under the screen.
    double by = (h.screenBottom + y1) / 2;
    double pad = w * 0.11;
    Disc(canvas, (x0 + x1) / 2, by, pad, Hex(0x58677A));
    Disc(canvas, (x0 + x1) / 2, by, pad * 0.55, Hex(0x77879B));
    for (double side : {-1.0, 1.0}) {
        for (double k : {0.26, 0.40}) {
            Disc(canvas, (x0 + x1) / 2 + side * w * k, by, w * 0.045, Hex(0x6E7E92));
        }
    }
    return h;
}

// A dot-matrix figure, as a handheld's screen would show it.
void Digits(Canvas& canvas, const std::string& text, double x, double y, double pitch, Colour colour) {
    static constexpr const char* kGlyphs[10][7] = {
        {"01110", "10001", "10011", "10101", "11001", "10001", "01110"},  // 0
        {"00100", "01100", "00100", "00100", "00100", "00100", "01110"},  // 1
        {"01110", "10001", "00001", "00010", "00100", "01000", "11111"},  // 2
        {"11110", "00001", "00001", "01110", "00001", "00001", "11110"},  // 3
        {"00010", "00110", "01010", "10010", "11111", "00010", "00010"},  // 4
        {"11111", "10000", "11110", "00001", "00001", "10001", "01110"},  // 5
        {"00110", "01000", "10000", "11110", "10001", "10001", "01110"},  // 6
        {"11111", "00001", "00010", "00100", "01000", "01000", "01000"},  // 7
        {"01110", "10001", "10001", "01110", "10001", "10001", "01110"},  // 8
        {"01110", "10001", "10001", "01111", "00001", "00010", "01100"},  // 9
    };
    for (char c : text) {
        const auto& glyph = kGlyphs[c - '0'];
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if (glyph[row][col] == '1') {
                    Disc(canvas, x + (col + 0.5) * pitch, y + (row + 0.5) * pitch, pitch * 0.46, colour);
                }
            }
        }
        x += 6 * pitch;
    }
}

double DigitsWidth(const std::string& text, double pitch) {
    return (6.0 * static_cast<double>(text.size()) - 1.0) * pitch;
}

// A downward arrow: the new ROM going into the handheld.
void DownArrow(Canvas& canvas, double cx, double top, double bottom, double width, Colour colour) {
    double shaft = width * 0.38;
    double head = (bottom - top) * 0.45;
    Polygon(canvas,
            {{cx - shaft / 2, top},
             {cx + shaft / 2, top},
             {cx + shaft / 2, bottom - head},
             {cx + width / 2, bottom - head},
             {cx, bottom},
             {cx - width / 2, bottom - head},
             {cx - shaft / 2, bottom - head}},
            colour);
}

void Tick(Canvas& canvas, double cx, double cy, double size, Colour colour) {
    double w = size * 0.16;
    Stroke(canvas, {cx - size * 0.32, cy + size * 0.02}, {cx - size * 0.08, cy + size * 0.26}, w, colour);
    Stroke(canvas, {cx - size * 0.08, cy + size * 0.26}, {cx + size * 0.34, cy - size * 0.22}, w, colour);
}

// Light circles that give the flat background some depth.
void Glow(Canvas& canvas, double cx, double cy, double radius, double alpha) {
    auto inside = [=](double x, double y) {
        return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
    };
    Paint paint = [=](double x, double y) {
        double d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) / radius;
        return Hex(0xFFFFFF, alpha * (1 - d * d));
    };
    canvas.Fill(inside, paint, cx - radius, cy - radius, cx + radius, cy + radius);
}

// The pictures ------------------------------------------------------------

Canvas Icon() {
    Canvas c(32, 32, Colour{0, 0, 0, 0});
    Handheld h = DrawHandheld(c, 6, 1.5, 23, 30.5);
    Chip(c, (h.screenLeft + h.screenRight) / 2, (h.screenTop + h.screenBottom) / 2, 7);
    // A green badge with an arrow: the ROM is being renewed.
    Disc(c, 24.5, 23.5, 7.2, Hex(0xFFFFFF));
    Disc(c, 24.5, 23.5, 6.2, Hex(0x2E9E4F));
    DownArrow(c, 24.5, 19, 28.5, 8, Hex(0xFFFFFF));
    return c;
}

Canvas MainMenu() {
    Canvas c(120, 299, Hex(0x0B3D91));
    RoundRect(c, 0, 0, 120, 299, 0, Vertical(0, 299, Hex(0x0B3D91), Hex(0x1C8CC0)));
    Glow(c, 18, 40, 46, 0.10);
    Glow(c, 104, 250, 60, 0.12);
    Glow(c, 96, 120, 24, 0.08);
    const double dy = 12;  // centres the drawing in the picture's height
    DownArrow(c, 60, 22 + dy, 78 + dy, 40, Hex(0xFFFFFF, 0.92));
    Handheld h = DrawHandheld(c, 22, 88 + dy, 98, 232 + dy);
    double cx = (h.screenLeft + h.screenRight) / 2;
    double cy = (h.screenTop + h.screenBottom) / 2;
    Chip(c, cx, cy, 24);
    // The cradle the handheld stands in.
    RoundRect(c, 14, 226 + dy, 106, 252 + dy, 8, Vertical(226 + dy, 252 + dy, Hex(0x2D3742), Hex(0x161C23)));
    RoundRect(c, 18, 229 + dy, 102, 233 + dy, 2, Hex(0x4B5866));
    Disc(c, 60, 244 + dy, 2.2, Hex(0x5CE08A));
    return c;
}

Canvas CompletionNotice(const std::string& generation, uint32_t top, uint32_t bottom) {
    Canvas c(144, 247, Hex(top));
    RoundRect(c, 0, 0, 144, 247, 0, Vertical(0, 247, Hex(top), Hex(bottom)));
    Glow(c, 24, 30, 50, 0.10);
    Glow(c, 126, 214, 56, 0.12);
    Handheld h = DrawHandheld(c, 24, 24, 120, 216);
    double cx = (h.screenLeft + h.screenRight) / 2;
    Chip(c, cx, h.screenTop + 38, 22);
    double pitch = 2.6;
    Digits(c, generation, cx - DigitsWidth(generation, pitch) / 2, h.screenTop + 68, pitch, Hex(0x17324F));
    // A full progress bar: the copy is complete.
    RoundRect(c, h.screenLeft + 8, h.screenTop + 100, h.screenRight - 8, h.screenTop + 108, 4,
              Hex(0x1B2129, 0.25));
    RoundRect(c, h.screenLeft + 9, h.screenTop + 101, h.screenRight - 9, h.screenTop + 107, 3, Hex(0x2E9E4F));
    // Done: a green tick over the handheld's top right corner.
    Disc(c, 114, 30, 17, Hex(0xFFFFFF));
    Disc(c, 114, 30, 14.5, Hex(0x2E9E4F));
    Tick(c, 114, 30, 20, Hex(0xFFFFFF));
    return c;
}

bool WritePng(const Canvas& canvas, bool alpha, const std::string& path) {
    std::vector<uint8_t> bytes = canvas.Bytes(alpha);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(canvas.width());
    image.height = static_cast<png_uint_32>(canvas.height());
    image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr)) {
        std::fprintf(stderr, "make_pictures: %s: %s\n", path.c_str(), image.message);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures <folder>\n");
        return 2;
    }
    std::string folder = std::string(argv[1]) + "/";
    bool ok = WritePng(Icon(), true, folder + "picture_128.png") &&
              WritePng(MainMenu(), false, folder + "picture_131.png") &&
              WritePng(CompletionNotice("2003", 0x0E5A73, 0x2BA39A), false, folder + "picture_151.png") &&
              WritePng(CompletionNotice("2002", 0x3A2A78, 0x7A4FA8), false, folder + "picture_152.png");
    return ok ? 0 : 1;
}
