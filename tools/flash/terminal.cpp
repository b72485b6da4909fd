#include "tools/flash/terminal.h"

#include <unistd.h>

namespace nuva {

Terminal::Terminal(std::FILE* out) : out_(out), interactive_(::isatty(::fileno(out)) == 1) {}

void Terminal::ClearStatus() {
    if (statusShown_ && interactive_) {
        std::fputs("\r\033[2K", out_);
    }
    statusShown_ = false;
}

void Terminal::Line(const std::string& text) {
    ClearStatus();
    std::fputs(text.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
    lastStatus_.clear();
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

void Terminal::Status(const std::string& text) {
    if (text == lastStatus_) {
        return;
    }
    lastStatus_ = text;
    if (interactive_) {
        std::fputs("\r\033[2K", out_);
        std::fputs(text.c_str(), out_);
        statusShown_ = true;
    } else {
        std::fputs(text.c_str(), out_);
        std::fputc('\n', out_);
    }
    std::fflush(out_);
}

void Terminal::KeepStatus() {
    if (statusShown_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    statusShown_ = false;
    lastStatus_.clear();
}

std::string Bar(uint32_t percent, int width) {
    if (percent > 100) {
        percent = 100;
    }
    int filled = static_cast<int>(percent) * width / 100;
    return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '.') +
           "]";
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
