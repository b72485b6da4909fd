#include "setup/resources/string_table.h"

#include <locale.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "setup/resources/string_ids.h"

namespace nuva {

namespace detail {
// Generated at build time from strings.rc (embed_text.cmake).
extern const unsigned char kBuiltInStringsText[];
extern const size_t kBuiltInStringsSize;
}  // namespace detail

namespace {

// Windows string resources hold at most 4097 characters; a module needs no
// more, and a larger file is not a string table.
constexpr size_t kMaxTextBytes = 4096;
constexpr std::streamoff kMaxFileBytes = 1024 * 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// True when `s` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        size_t extra;
        uint32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1Fu;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0Fu;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07u;
        } else {
            return false;
        }
        if (i + extra >= s.size()) {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (c & 0x3Fu);
        }
        static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

// Parses the quoted text that starts at line[pos] (the opening quote).
bool ParseQuoted(std::string_view line, size_t& pos, std::string& text, std::string& why) {
    ++pos;  // the opening quote
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"') {
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            why = "a raw control character in the text (write it as an escape)";
            return false;
        }
        if (c != '\\') {
            text.push_back(c);
            continue;
        }
        if (pos >= line.size()) {
            break;
        }
        char e = line[pos++];
        switch (e) {
            case 'n':
                text.push_back('\n');
                break;
            case 'r':
                text.push_back('\r');
                break;
            case 't':
                text.push_back('\t');
                break;
            case '\\':
                text.push_back('\\');
                break;
            case '"':
                text.push_back('"');
                break;
            case 'x': {
                int high = pos < line.size() ? HexValue(line[pos]) : -1;
                int low = pos + 1 < line.size() ? HexValue(line[pos + 1]) : -1;
                if (high < 0 || low < 0 || (high == 0 && low == 0)) {
                    why = "\\x needs two hexadecimal digits other than 00";
                    return false;
                }
                text.push_back(static_cast<char>(high * 16 + low));
                pos += 2;
                break;
            }
            default:
                why = std::string("unknown escape \\") + e;
                return false;
        }
    }
    why = "the text has no closing quote";
    return false;
}

bool ParseLine(std::string_view line, uint32_t& id, std::string& text, std::string& why) {
    size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    size_t digits = pos;
    uint32_t value = 0;
    while (pos < line.size() && IsDigit(line[pos]) && pos - digits < 3) {
        value = value * 10 + static_cast<uint32_t>(line[pos] - '0');
        ++pos;
    }
    if (pos == digits || (pos < line.size() && IsDigit(line[pos]))) {
        why = "expected a string identifier (101 to 188) at the start of the line";
        return false;
    }
    if (value < string_id::kFirst || value > string_id::kLast) {
        why = "string identifier " + std::to_string(value) + " is outside 101 to 188";
        return false;
    }
    size_t blanks = pos;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos == blanks || pos >= line.size() || line[pos] != '"') {
        why = "expected a blank and a quoted text after the identifier";
        return false;
    }
    text.clear();
    if (!ParseQuoted(line, pos, text, why)) {
        return false;
    }
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos != line.size()) {
        why = "unexpected characters after the closing quote";
        return false;
    }
    if (text.size() > kMaxTextBytes) {
        why = "the text is longer than 4096 bytes";
        return false;
    }
    if (!IsUtf8(text)) {
        why = "the text is not valid UTF-8";
        return false;
    }
    id = value;
    return true;
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

struct Active {
    std::unique_ptr<StringTable> module;
};
Active& ActiveModule() {
    static Active active;
    return active;
}

}  // namespace

bool ParseStringTable(std::string_view text, StringTable& table, TableError& error,
                      std::map<uint32_t, size_t>* lines) {
    table.clear();
    StringTable parsed;
    std::map<uint32_t, size_t> firstLine;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        ++lineNumber;
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find('\0') != std::string_view::npos) {
            error = {lineNumber, "a NUL byte in the line"};
            return false;
        }
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') {
            continue;
        }
        uint32_t id = 0;
        std::string value;
        std::string why;
        if (!ParseLine(line, id, value, why)) {
            error = {lineNumber, why};
            return false;
        }
        auto [it, inserted] = firstLine.emplace(id, lineNumber);
        if (!inserted) {
            error = {lineNumber, "string " + std::to_string(id) + " was already given on line " +
                                     std::to_string(it->second)};
            return false;
        }
        parsed.emplace(id, std::move(value));
    }
    table = std::move(parsed);
    if (lines != nullptr) {
        *lines = std::move(firstLine);
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
        } else {
            while (i < format.size() && IsDigit(format[i]))
                ++i;
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
            } else {
                while (i < format.size() && IsDigit(format[i]))
                    ++i;
            }
        }
        std::string length;
        while (i < format.size() && std::string_view("hlLqjzZt").find(format[i]) != std::string_view::npos &&
               length.size() < 2) {
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
                break;  // a percent sign with modifiers: printed, reads nothing
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
    static const StringTable table = [] {
        StringTable parsed;
        TableError error;
        std::string_view text(reinterpret_cast<const char*>(detail::kBuiltInStringsText),
                              detail::kBuiltInStringsSize);
        if (!ParseStringTable(text, parsed, error)) {
            // strings.rc is part of the program: a fault there is a build bug.
            std::fprintf(stderr, "strings.rc line %zu: %s\n", error.line, error.message.c_str());
            std::abort();
        }
        return parsed;
    }();
    return table;
}

const std::string& LoadString(uint32_t id) {
    static const std::string kEmpty;
    if (const auto& module = ActiveModule().module) {
        auto it = module->find(id);
        if (it != module->end()) {
            return it->second;
        }
    }
    const StringTable& own = BuiltInStrings();
    auto it = own.find(id);
    return it != own.end() ? it->second : kEmpty;
}

ModuleLoadResult LoadLanguageModule(const std::string& path) {
    ModuleLoadResult result;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        result.message = path + ": cannot be opened";
        return result;
    }
    file.seekg(0, std::ios::end);
    std::streamoff size = file.tellg();
    file.seekg(0, std::ios::beg);
    if (size < 0 || size > kMaxFileBytes) {
        result.message = path + ": not a language module (larger than 1 MB, or not a file)";
        return result;
    }
    std::string text(static_cast<size_t>(size), '\0');
    file.read(text.data(), size);
    if (file.gcount() != size) {
        result.message = path + ": cannot be read";
        return result;
    }
    auto module = std::make_unique<StringTable>();
    TableError error;
    std::map<uint32_t, size_t> lines;
    if (!ParseStringTable(text, *module, error, &lines)) {
        result.message = path + ": line " + std::to_string(error.line) + ": " + error.message;
        return result;
    }
    uint32_t badId = 0;
    std::string reason;
    if (!CheckModuleFormats(BuiltInStrings(), *module, badId, reason)) {
        result.message =
            path + ": line " + std::to_string(lines[badId]) + ": " + reason + "; the module is not used";
        return result;
    }
    ActiveModule().module = std::move(module);
    result.ok = true;
    return result;
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

void UnloadLanguageModule() {
    ActiveModule().module.reset();
}

bool LanguageModuleLoaded() {
    return ActiveModule().module != nullptr;
}

}  // namespace nuva
