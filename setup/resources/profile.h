// Reading setup.ini the way Windows reads a private profile file, so that an
// installation's settings file means the same here as on the desktop the
// system was made for:
//   - "[Section]" lines open a section; "key=value" lines belong to the last
//     section opened; lines before the first section, lines without "=", and
//     lines starting with ";" are not keys.
//   - Section and key names match without regard to ASCII case.
//   - Blanks (space, tab, CR, VT, FF, Ctrl-Z) around a section name, a key and
//     a value are dropped; one pair of matching quotes around a value is too.
//   - When a section name appears twice only the first section counts; when a
//     key appears twice in it only the first line counts.
//   - A value is cut at its first NUL byte (a C string is what the caller
//     gets there) and to the caller's limit of characters.
// Any bytes are tolerated: long lines, binary garbage, CRLF or LF line ends,
// a UTF-8 byte-order mark.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nuva {

// The longest value Setup reads (a 512-character buffer with its terminator).
inline constexpr size_t kProfileValueChars = 511;

// Looks `section`/`key` up in the text of a profile file. Returns the value,
// or `fallback` when the key is absent; either is cut to `maxChars`.
std::string ProfileLookup(std::string_view contents, std::string_view section, std::string_view key,
                          std::string_view fallback = "", size_t maxChars = kProfileValueChars);

// The same for a file: a file that cannot be read counts as one without the
// key.
std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback = "", size_t maxChars = kProfileValueChars);

}  // namespace nuva
