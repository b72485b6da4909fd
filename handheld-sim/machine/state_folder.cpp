#include "handheld-sim/machine/state_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>

namespace nuva::sim {
namespace {

const char* OnOff(bool on) {
    return on ? "on" : "off";
}

bool ParseOnOff(std::string_view text, bool& out) {
    if (text == "on") {
        out = true;
        return true;
    }
    if (text == "off") {
        out = false;
        return true;
    }
    return false;
}

template <class T>
bool ParseNumber(std::string_view text, int base, T& out) {
    if (text.empty()) {
        return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string Errno(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string FormatStateConfig(const StateConfig& config) {
    const FactorySettings& s = config.settings;
    std::string uuid;
    for (uint8_t b : s.uuid) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        uuid += hex;
    }
    char language[8];
    std::snprintf(language, sizeof language, "%04x", s.language);
    std::string text = "# A Nuva handheld kept by the emulator.\n";
    text += std::string("class=") + (s.advanced ? "advanced" : "basic") + "\n";
    text += "uuid=" + uuid + "\n";
    text += std::string("language=") + language + "\n";
    text += std::string("platform_command=") + OnOff(s.platformCommandAnswers) + "\n";
    text += std::string("platform_query=") + OnOff(s.platformQueryAnswers) + "\n";
    text += "boot_ms=" + std::to_string(s.bootMs) + "\n";
    text += std::string("ac=") + OnOff(config.ac) + "\n";
    text += "battery=" + (config.battery ? std::to_string(*config.battery) : std::string("none")) + "\n";
    return text;
}

bool ParseStateConfig(std::string_view text, StateConfig& config, std::string& error) {
    std::map<std::string, std::string> values;
    size_t lineNumber = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            error = "line " + std::to_string(lineNumber) + " is not key=value";
            return false;
        }
        std::string key(Trim(line.substr(0, eq)));
        if (!values.emplace(key, std::string(Trim(line.substr(eq + 1)))).second) {
            error = "the key " + key + " appears twice";
            return false;
        }
    }
    StateConfig parsed;
    FactorySettings& s = parsed.settings;
    auto take = [&](const char* key, std::string& value) {
        auto it = values.find(key);
        if (it == values.end()) {
            error = std::string("the key ") + key + " is missing";
            return false;
        }
        value = it->second;
        values.erase(it);
        return true;
    };
    auto bad = [&](const char* key, const std::string& value) {
        error = std::string("the value of ") + key + " is not valid: \"" + value + "\"";
        return false;
    };
    std::string v;
    if (!take("class", v)) {
        return false;
    }
    if (v != "advanced" && v != "basic") {
        return bad("class", v);
    }
    s.advanced = v == "advanced";
    if (!take("uuid", v)) {
        return false;
    }
    if (v.size() != 32) {
        return bad("uuid", v);
    }
    for (size_t i = 0; i < 16; ++i) {
        if (!ParseNumber(std::string_view(v).substr(2 * i, 2), 16, s.uuid[i])) {
            return bad("uuid", v);
        }
    }
    if (!take("language", v)) {
        return false;
    }
    if (v.size() > 4 || !ParseNumber(std::string_view(v), 16, s.language)) {
        return bad("language", v);
    }
    if (!take("platform_command", v)) {
        return false;
    }
    if (!ParseOnOff(v, s.platformCommandAnswers)) {
        return bad("platform_command", v);
    }
    if (!take("platform_query", v)) {
        return false;
    }
    if (!ParseOnOff(v, s.platformQueryAnswers)) {
        return bad("platform_query", v);
    }
    if (!take("boot_ms", v)) {
        return false;
    }
    if (!ParseNumber(std::string_view(v), 10, s.bootMs)) {
        return bad("boot_ms", v);
    }
    if (!take("ac", v)) {
        return false;
    }
    if (!ParseOnOff(v, parsed.ac)) {
        return bad("ac", v);
    }
    if (!take("battery", v)) {
        return false;
    }
    if (v == "none") {
        parsed.battery.reset();
    } else {
        uint8_t percent = 0;
        if (!ParseNumber(std::string_view(v), 10, percent) || percent > 100) {
            return bad("battery", v);
        }
        parsed.battery = percent;
    }
    if (!values.empty()) {
        error = "unknown key " + values.begin()->first;
        return false;
    }
    config = parsed;
    return true;
}

bool MakeFolder(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no folder given";
        return false;
    }
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
        std::string part = path.substr(0, at);
        // The handheld's flash, store and registry are the user's own data:
        // folders made for them are for the owner alone.
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = Errno("cannot make the folder", part);
            return false;
        }
        if (at == std::string::npos) {
            break;
        }
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

bool WriteFileWhole(const std::string& path, std::span<const uint8_t> bytes, std::string& error) {
    std::string temporary = path + ".partial";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = Errno("cannot create", temporary);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = Errno("cannot write", temporary);
            close(fd);
            unlink(temporary.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0) {
        error = Errno("cannot finish", temporary);
        unlink(temporary.c_str());
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = Errno("cannot rename to", path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool ReadFileWhole(const std::string& path, size_t limit, std::vector<uint8_t>& bytes, std::string& error) {
    bytes.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = Errno("cannot open", path);
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<uint64_t>(info.st_size) > limit) {
        error = path + " is not a file of at most " + std::to_string(limit) + " bytes";
        close(fd);
        return false;
    }
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = Errno("cannot read", path);
            close(fd);
            bytes.clear();
            return false;
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
    return true;
}

}  // namespace nuva::sim
