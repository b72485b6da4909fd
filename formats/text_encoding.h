// UTF-16, as the handheld and the cable carry text, to UTF-8, as files,
// terminals and logs take it, and back. Both directions take the whole text
// (a NUL is a character like any other: fixed fields are cut at theirs by
// FieldText first) and never fail: what does not decode (an unpaired
// surrogate, a byte that is not UTF-8, an overlong form) becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nuva {

// Calls `sink(char32_t)` with each code point of `text`.
template <typename Sink>
void ForEachCodePoint(std::u16string_view text, Sink sink) {
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        sink(c);
    }
}

std::string Utf8FromUtf16(std::u16string_view text);
std::u16string Utf16FromUtf8(std::string_view text);

}  // namespace nuva
