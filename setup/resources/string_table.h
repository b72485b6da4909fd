// Setup's texts by string identifier: the built-in English table compiled in
// from setup.rc, and a language module of the same format that replaces
// them (see setup.rc for the format; resource_file.h reads the whole file,
// dialog texts included).
//
// Some texts are printf formats. A module comes from outside the program, so
// it is taken only when each of its texts takes exactly the arguments of the
// built-in text with the same id: a translated format must never make printf
// read an argument the program did not pass, or of another type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace nuva {

using StringTable = std::map<uint32_t, std::string>;

struct TableError {
    size_t line = 0;  // 1-based; 0 when the error concerns the whole file
    std::string message;
};

// Parses the text of a resource file in the language module's form and
// gives its string table (its dialog texts are checked, then left out). On
// failure `table` is left empty and `error` says which line is at fault and
// why. `lines`, when given, receives the line of each id.
bool ParseStringTable(std::string_view text, StringTable& table, TableError& error,
                      std::map<uint32_t, size_t>* lines = nullptr);

// What one printf conversion reads from the argument list. '*' widths and
// precisions read an int each.
enum class FormatArg {
    kInt,         // d i o u x X c, with hh or h too
    kLong,        // l with an integer conversion
    kLongLong,    // ll or q
    kSize,        // z
    kIntMax,      // j
    kPtrDiff,     // t
    kDouble,      // a e f g (any case)
    kLongDouble,  // L with a floating conversion
    kString,      // s
    kWideString,  // ls, S
    kWideChar,    // lc, C
    kPointer,     // p
    kNone,        // an incomplete or unknown conversion: printed, reads nothing
};

// The arguments a printf format reads, in order. Returns false (with a
// reason) for what no text of the program may hold: "%n", which writes
// through an argument, and numbered arguments ("%1$s").
bool FormatArguments(std::string_view format, std::vector<FormatArg>& args, std::string& reason);

// Checks a parsed module against the built-in table: every id must have a
// built-in text and take the same arguments. Returns false with the first
// fault (and its id).
bool CheckModuleFormats(const StringTable& builtIn, const StringTable& module, uint32_t& badId,
                        std::string& reason);

// The built-in table; parsing it cannot fail in a correct build.
const StringTable& BuiltInStrings();

// The text of a string id: the language module's when one is loaded and has
// it, else the built-in one, else "" (as an empty string resource reads).
// The reference stays valid until the module is unloaded.
const std::string& LoadString(uint32_t id);

// Formats a text with printf after checking that the arguments passed are
// exactly those the text takes; "" when they are not (or the text is empty).
// `passed` names the type of each of the following arguments.
std::string FormatWithArguments(std::string_view format, std::initializer_list<FormatArg> passed, ...);

template <typename T>
constexpr FormatArg ArgOf() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) {
        return FormatArg::kString;
    } else if constexpr (std::is_same_v<U, const wchar_t*> || std::is_same_v<U, wchar_t*>) {
        return FormatArg::kWideString;
    } else if constexpr (std::is_same_v<U, double>) {
        return FormatArg::kDouble;
    } else if constexpr (std::is_same_v<U, long> || std::is_same_v<U, unsigned long>) {
        return FormatArg::kLong;
    } else if constexpr (std::is_same_v<U, long long> || std::is_same_v<U, unsigned long long>) {
        return FormatArg::kLongLong;
    } else {
        static_assert(std::is_integral_v<U> && sizeof(U) <= sizeof(int),
                      "no printf conversion for this type");
        return FormatArg::kInt;  // char, short and int arrive as int
    }
}

// The text of `id` formatted with `args`, checked as FormatWithArguments
// does: FormatText(string_id::kDeviceRomFormat, L"A02", 0x03050300u, "EN").
template <typename... Args>
std::string FormatText(uint32_t id, Args... args) {
    return FormatWithArguments(LoadString(id), {ArgOf<Args>()...}, args...);
}

struct ModuleLoadResult {
    bool ok = false;
    std::string message;  // why the module was refused
};

// Reads a language module (strings and dialog texts) and, when it is sound,
// puts it in place of the previous one. A refused module changes nothing.
// Loading and unloading happen at start-up and clean-up, while no other
// thread reads texts.
ModuleLoadResult LoadLanguageModule(const std::string& path);
void UnloadLanguageModule();
bool LanguageModuleLoaded();

}  // namespace nuva
