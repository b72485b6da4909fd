// printf-style formatting of string-table texts with typed arguments. The
// format comes from the string table, which a language module may replace;
// the arguments are typed values, so a conversion can never read past them
// or take one type for another: a conversion without a matching argument
// draws nothing.
//
// Conversions: %d %u %x %X %c %s %ls with an optional "0" flag and width
// (as in "%08x", "%2d"), and "%%".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace nuva {

using TextArg = std::variant<int64_t, std::string, std::u16string>;

inline TextArg ArgNumber(int64_t value) { return TextArg(value); }

std::string FormatText(std::string_view format, std::initializer_list<TextArg> args);

}  // namespace nuva
