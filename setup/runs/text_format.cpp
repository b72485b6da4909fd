#include "setup/runs/text_format.h"

#include <cstdio>
#include <vector>

#include "setup/device/device_texts.h"

namespace nuva {
namespace {

std::string Pad(std::string digits, size_t width, bool zero) {
    if (digits.size() >= width) {
        return digits;
    }
    std::string pad(width - digits.size(), zero ? '0' : ' ');
    if (zero && !digits.empty() && digits[0] == '-') {
        return "-" + pad + digits.substr(1);
    }
    return pad + digits;
}

std::string NumberText(int64_t value, char conversion) {
    char buffer[32];
    switch (conversion) {
        case 'x':
            std::snprintf(buffer, sizeof buffer, "%x", static_cast<uint32_t>(value));
            break;
        case 'X':
            std::snprintf(buffer, sizeof buffer, "%X", static_cast<uint32_t>(value));
            break;
        case 'u':
            std::snprintf(buffer, sizeof buffer, "%u", static_cast<uint32_t>(value));
            break;
        default:
            std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
            break;
    }
    return buffer;
}

}  // namespace

std::string FormatText(std::string_view format, std::initializer_list<TextArg> args) {
    std::vector<TextArg> values(args);
    size_t next = 0;
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 >= format.size()) {
            break;  // a lone "%" at the end draws nothing
        }
        if (format[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool zero = false;
        if (format[j] == '0') {
            zero = true;
            ++j;
        }
        size_t width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
            width = width * 10 + static_cast<size_t>(format[j] - '0');
            ++j;
        }
        bool wide = false;
        if (j < format.size() && format[j] == 'l') {
            wide = true;
            ++j;
        }
        if (j >= format.size()) {
            break;
        }
        char conversion = format[j];
        i = j;
        const TextArg* arg = next < values.size() ? &values[next++] : nullptr;
        std::string piece;
        if (arg != nullptr) {
            switch (conversion) {
                case 'd':
                case 'i':
                case 'u':
                case 'x':
                case 'X':
                    if (const auto* n = std::get_if<int64_t>(arg)) {
                        piece = NumberText(*n, conversion);
                    }
                    break;
                case 'c':
                    if (const auto* n = std::get_if<int64_t>(arg)) {
                        piece = std::string(1, static_cast<char>(*n));
                    }
                    break;
                case 's':
                    if (const auto* s = std::get_if<std::string>(arg); s != nullptr && !wide) {
                        piece = *s;
                    } else if (const auto* w = std::get_if<std::u16string>(arg)) {
                        piece = AnsiFromUtf16(*w);
                    } else if (s != nullptr) {
                        piece = *s;
                    }
                    break;
                default:
                    break;
            }
        }
        out += Pad(piece, width, zero && conversion != 's' && conversion != 'c');
    }
    return out;
}

}  // namespace nuva
