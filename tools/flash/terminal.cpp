#include "tools/flash/terminal.h"

#include <unistd.h>

namespace nuva {

namespace {

// A status that only moves on is logged at most this often.
constexpr std::chrono::seconds kLogInterval{1};

}  // namespace

Terminal::Terminal(std::FILE* out) : Terminal(out, ::isatty(::fileno(out)) == 1) {}

Terminal::Terminal(std::FILE* out, bool interactive) : out_(out), interactive_(interactive) {}

std::string StatusKey(const std::string& status) {
    std::string key;
    for (char c : status) {
        bool moving = (c >= '0' && c <= '9') || c == '#' || c == '.' || c == '\\' || c == '|' || c == '/' ||
                      c == '-' || c == '%' || c == ' ';
        if (!moving) {
            key.push_back(c);
        }
    }
    return key;
}

void Terminal::ClearStatus() {
    if (statusShown_ && interactive_) {
        std::fputs("\r\033[2K", out_);
    }
    statusShown_ = false;
    FlushHeldBack();
}

void Terminal::FlushHeldBack() {
    // In a log, the last word of a status that was held back (the 100 % of
    // a bar) is written before what follows it.
    if (!unlogged_.empty()) {
        std::fputs(unlogged_.c_str(), out_);
        std::fputc('\n', out_);
        unlogged_.clear();
    }
}

void Terminal::Line(const std::string& text) {
    ClearStatus();
    std::fputs(text.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
    lastStatus_.clear();
    lastLoggedKey_.clear();
    lastHeardKey_.clear();
}

void Terminal::Block(const std::string& text) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (start < text.size()) {
                Line(text.substr(start));
            }
            break;
        }
        Line(text.substr(start, end - start));
        start = end + 1;
    }
}

void Terminal::Status(const std::string& text, bool heard) {
    if (text == lastStatus_) {
        return;
    }
    lastStatus_ = text;
    if (heard && listener_) {
        std::string key = StatusKey(text);
        if (key != lastHeardKey_) {
            lastHeardKey_ = key;
            listener_(StatusWords(text));
        }
    }
    if (interactive_) {
        std::fputs("\r\033[2K", out_);
        std::fputs(text.c_str(), out_);
        statusShown_ = true;
    } else {
        auto now = std::chrono::steady_clock::now();
        std::string key = StatusKey(text);
        if (key == lastLoggedKey_ && now - lastLogged_ < kLogInterval) {
            unlogged_ = text;
            return;
        }
        unlogged_.clear();
        lastLoggedKey_ = key;
        lastLogged_ = now;
        std::fputs(text.c_str(), out_);
        std::fputc('\n', out_);
    }
    std::fflush(out_);
}

void Terminal::Prompt(const std::string& text) {
    ClearStatus();
    std::fputs(text.c_str(), out_);
    if (!interactive_) {
        std::fputc('\n', out_);
    }
    std::fflush(out_);
    lastStatus_.clear();
}

void Terminal::KeepStatus() {
    FlushHeldBack();
    if (statusShown_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    statusShown_ = false;
    lastStatus_.clear();
}

std::string StatusWords(const std::string& status) {
    size_t end = status.find_last_not_of(" .\\|/-");
    return end == std::string::npos ? std::string() : status.substr(0, end + 1);
}

std::string Bar(uint32_t percent, int width) {
    if (percent > 100) {
        percent = 100;
    }
    int filled = static_cast<int>(percent) * width / 100;
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '.') + "]";
}

std::string WithoutMnemonic(const std::string& label) {
    std::string out;
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '&' && i + 1 < label.size() && label[i + 1] != '&') {
            continue;
        }
        out.push_back(label[i]);
    }
    return out;
}

}  // namespace nuva
