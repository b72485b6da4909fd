#include "setup/resources/profile.h"

#include <fstream>

namespace nuva {
namespace {

// A settings file larger than this is not a settings file; reading it would
// only cost memory.
constexpr std::streamoff kMaxProfileBytes = 16 * 1024 * 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1A';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string Finish(std::string_view value, size_t maxChars) {
    size_t nul = value.find('\0');
    if (nul != std::string_view::npos) {
        value = value.substr(0, nul);
    }
    if (value.size() > maxChars) {
        value = value.substr(0, maxChars);
    }
    return std::string(value);
}

}  // namespace

std::string ProfileLookup(std::string_view contents, std::string_view section, std::string_view key,
                          std::string_view fallback, size_t maxChars) {
    if (contents.substr(0, 3) == "\xEF\xBB\xBF") {
        contents.remove_prefix(3);
    }
    section = Trim(section);
    key = Trim(key);
    enum class Where { kBefore, kInside, kAfter } where = Where::kBefore;
    size_t pos = 0;
    while (pos < contents.size() && where != Where::kAfter) {
        size_t end = contents.find('\n', pos);
        if (end == std::string_view::npos) {
            end = contents.size();
        }
        std::string_view line = Trim(contents.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            size_t close = line.rfind(']');
            if (close == std::string_view::npos) {
                continue;  // not a section header
            }
            bool match = SameName(Trim(line.substr(1, close - 1)), section);
            if (where == Where::kInside) {
                where = Where::kAfter;  // only the first section of that name counts
            } else if (match) {
                where = Where::kInside;
            }
            continue;
        }
        if (where != Where::kInside) {
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string_view::npos || !SameName(Trim(line.substr(0, equals)), key)) {
            continue;
        }
        std::string_view value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        return Finish(value, maxChars);
    }
    return Finish(fallback, maxChars);
}

std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback, size_t maxChars) {
    std::ifstream file(path, std::ios::binary);
    std::string contents;
    if (file) {
        file.seekg(0, std::ios::end);
        std::streamoff size = file.tellg();
        file.seekg(0, std::ios::beg);
        if (size > 0 && size <= kMaxProfileBytes) {
            contents.resize(static_cast<size_t>(size));
            file.read(contents.data(), size);
            contents.resize(static_cast<size_t>(file.gcount()));
        }
    }
    return ProfileLookup(contents, section, key, fallback, maxChars);
}

}  // namespace nuva
