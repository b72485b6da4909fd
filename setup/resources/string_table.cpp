#include "setup/resources/string_table.h"

#include <locale.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "setup/resources/resource_file.h"

namespace nuva {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

const char* ArgName(FormatArg a) {
    switch (a) {
        case FormatArg::kInt:
            return "int";
        case FormatArg::kLong:
            return "long";
        case FormatArg::kLongLong:
            return "long long";
        case FormatArg::kSize:
            return "size_t";
        case FormatArg::kIntMax:
            return "intmax_t";
        case FormatArg::kPtrDiff:
            return "ptrdiff_t";
        case FormatArg::kDouble:
            return "double";
        case FormatArg::kLongDouble:
            return "long double";
        case FormatArg::kString:
            return "string";
        case FormatArg::kWideString:
            return "wide string";
        case FormatArg::kWideChar:
            return "wide character";
        case FormatArg::kPointer:
            return "pointer";
        case FormatArg::kNone:
            return "stray %";
    }
    return "?";
}

std::string Describe(const std::vector<FormatArg>& args) {
    if (args.empty()) {
        return "no arguments";
    }
    std::string out = "(";
    for (size_t i = 0; i < args.size(); ++i) {
        out += (i ? ", " : "");
        out += ArgName(args[i]);
    }
    return out + ")";
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A numbered argument ("1$") at format[pos].
bool NumberedArgumentAt(std::string_view format, size_t pos) {
    size_t p = pos;
    while (p < format.size() && IsDigit(format[p]))
        ++p;
    return p > pos && p < format.size() && format[p] == '$';
}

// A text's widths and precisions pad its output; the program's own texts
// need two digits at most. A larger one written into a module would have
// every formatting of the text fill that many characters (a gigabyte for
// "%999999999d"), so it is refused.
constexpr size_t kMaxFieldNumber = 100;

// Steps over a width or precision written as digits at format[pos].
bool SkipFieldNumber(std::string_view format, size_t& pos, std::string& reason) {
    size_t value = 0;
    for (; pos < format.size() && IsDigit(format[pos]); ++pos) {
        value = value * 10 + static_cast<size_t>(format[pos] - '0');
        if (value > kMaxFieldNumber) {
            reason = "a width or precision above " + std::to_string(kMaxFieldNumber) + " is not allowed";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseStringTable(std::string_view text, StringTable& table, TableError& error,
                      std::map<uint32_t, size_t>* lines) {
    table.clear();
    ResourceFile file;
    if (!ParseResourceFile(text, ResourceForm::kModule, file, error)) {
        return false;
    }
    table = std::move(file.strings);
    if (lines != nullptr) {
        *lines = std::move(file.stringLines);
    }
    return true;
}

bool FormatArguments(std::string_view format, std::vector<FormatArg>& args, std::string& reason) {
    args.clear();
    size_t i = 0;
    while (i < format.size()) {
        if (format[i++] != '%')
            continue;
        if (i < format.size() && format[i] == '%') {
            ++i;
            continue;
        }
        if (NumberedArgumentAt(format, i)) {
            reason = "numbered arguments (\"%1$s\") are not allowed";
            return false;
        }
        while (i < format.size() && std::string_view("-+ #0'I").find(format[i]) != std::string_view::npos)
            ++i;
        if (i < format.size() && format[i] == '*') {
            if (NumberedArgumentAt(format, i + 1)) {
                reason = "numbered arguments (\"%*1$d\") are not allowed";
                return false;
            }
            args.push_back(FormatArg::kInt);
            ++i;
        } else if (!SkipFieldNumber(format, i, reason)) {
            return false;
        }
        if (i < format.size() && format[i] == '.') {
            ++i;
            if (i < format.size() && format[i] == '*') {
                if (NumberedArgumentAt(format, i + 1)) {
                    reason = "numbered arguments (\"%.*1$d\") are not allowed";
                    return false;
                }
                args.push_back(FormatArg::kInt);
                ++i;
            } else if (!SkipFieldNumber(format, i, reason)) {
                return false;
            }
        }
        // One length modifier, as the C library reads it: "hh" and "ll" are
        // the only pairs. Whatever follows it is the conversion, so "%zl"
        // is an unknown conversion 'l', not a modifier of the next '%'.
        std::string length;
        if (i < format.size() && (format[i] == 'h' || format[i] == 'l')) {
            length.push_back(format[i++]);
            if (i < format.size() && format[i] == length[0]) {
                length.push_back(format[i++]);
            }
        } else if (i < format.size() &&
                   std::string_view("LqjzZt").find(format[i]) != std::string_view::npos) {
            length.push_back(format[i++]);
        }

        if (i >= format.size()) {
            if (!length.empty()) {
                reason = "an unfinished conversion \"%" + length + "\"";
                return false;
            }
            args.push_back(FormatArg::kNone);
            break;
        }
        char conversion = format[i++];
        auto unsupported = [&] {
            reason = "the conversion \"%" + length + std::string(1, conversion) + "\" is not supported";
            return false;
        };
        switch (conversion) {
            case 'd':
            case 'i':
            case 'o':
            case 'u':
            case 'x':
            case 'X':
                if (length.empty() || length == "h" || length == "hh")
                    args.push_back(FormatArg::kInt);
                else if (length == "l")
                    args.push_back(FormatArg::kLong);
                else if (length == "ll" || length == "q")
                    args.push_back(FormatArg::kLongLong);
                else if (length == "z" || length == "Z")
                    args.push_back(FormatArg::kSize);
                else if (length == "j")
                    args.push_back(FormatArg::kIntMax);
                else if (length == "t")
                    args.push_back(FormatArg::kPtrDiff);
                else
                    return unsupported();
                break;
            case 'c':
                if (length.empty())
                    args.push_back(FormatArg::kInt);
                else if (length == "l")
                    args.push_back(FormatArg::kWideChar);
                else
                    return unsupported();
                break;
            case 'C':
                if (!length.empty())
                    return unsupported();
                args.push_back(FormatArg::kWideChar);
                break;
            case 's':
                if (length.empty())
                    args.push_back(FormatArg::kString);
                else if (length == "l")
                    args.push_back(FormatArg::kWideString);
                else
                    return unsupported();
                break;
            case 'S':
                if (!length.empty())
                    return unsupported();
                args.push_back(FormatArg::kWideString);
                break;
            case 'p':
                if (!length.empty())
                    return unsupported();
                args.push_back(FormatArg::kPointer);
                break;
            case 'a':
            case 'A':
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
                if (length.empty() || length == "l")
                    args.push_back(FormatArg::kDouble);
                else if (length == "L")
                    args.push_back(FormatArg::kLongDouble);
                else
                    return unsupported();
                break;
            case 'n':
                reason = "\"%n\" writes through an argument and is not allowed";
                return false;
            case '%':
                // Only "%%" is a plain percent sign; with flags, a width or a
                // length in between, C libraries differ on what it reads.
                return unsupported();
            default:
                // Letters may be conversions of some C library (glibc's %m,
                // %b); only a non-letter ends a spec that reads nothing.
                if (IsLetter(conversion) || !length.empty())
                    return unsupported();
                args.push_back(FormatArg::kNone);
                break;
        }
    }
    return true;
}

bool CheckModuleFormats(const StringTable& builtIn, const StringTable& module, uint32_t& badId,
                        std::string& reason) {
    for (const auto& [id, text] : module) {
        badId = id;
        auto own = builtIn.find(id);
        if (own == builtIn.end()) {
            reason = "string " + std::to_string(id) + " is not one of the program's texts";
            return false;
        }
        std::vector<FormatArg> wanted;
        std::vector<FormatArg> given;
        std::string why;
        if (!FormatArguments(own->second, wanted, why)) {
            reason = "the program's own string " + std::to_string(id) + " is unusable: " + why;
            return false;
        }
        if (!FormatArguments(text, given, why)) {
            reason = "string " + std::to_string(id) + ": " + why;
            return false;
        }
        if (given != wanted) {
            reason = "string " + std::to_string(id) + " must take " + Describe(wanted) + " but takes " +
                     Describe(given);
            return false;
        }
    }
    return true;
}

const StringTable& BuiltInStrings() {
    return BuiltInResources().strings;
}

const std::string& LoadString(uint32_t id) {
    static const std::string kEmpty;
    if (const ResourceFile* module = ActiveLanguageModule()) {
        auto it = module->strings.find(id);
        if (it != module->strings.end()) {
            return it->second;
        }
    }
    const StringTable& own = BuiltInStrings();
    auto it = own.find(id);
    return it != own.end() ? it->second : kEmpty;
}

std::string FormatWithArguments(std::string_view format, std::initializer_list<FormatArg> passed, ...) {
    std::vector<FormatArg> wanted;
    std::string reason;
    if (!FormatArguments(format, wanted, reason) ||
        !std::equal(wanted.begin(), wanted.end(), passed.begin(), passed.end())) {
        return "";
    }
    std::string text(format);  // vsnprintf needs a terminated format
    // Wide strings ("%ls") come out as UTF-8, whatever the process's locale.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    locale_t previous =
        utf8 != static_cast<locale_t>(nullptr) ? uselocale(utf8) : static_cast<locale_t>(nullptr);
    va_list args;
    va_start(args, passed);
    va_list again;
    va_copy(again, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int length = std::vsnprintf(nullptr, 0, text.c_str(), args);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(out.data(), out.size(), text.c_str(), again);
        out.resize(static_cast<size_t>(length));
    }
#pragma GCC diagnostic pop
    va_end(again);
    va_end(args);
    if (previous != static_cast<locale_t>(nullptr)) {
        uselocale(previous);
    }
    return out;
}

}  // namespace nuva
