#include "tools/flash/answers.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace nuva {

Answers::Answers(bool yes, int fd) : yes_(yes), fd_(fd) {}

bool Answers::IsYes(const std::string& line) {
    for (char c : line) {
        if (c == ' ' || c == '\t') {
            continue;
        }
        return c == 'y' || c == 'Y';
    }
    return false;
}

std::optional<bool> Answers::Poll() {
    if (yes_) {
        return true;
    }
    while (pending_.find('\n') == std::string::npos && !ended_) {
        struct pollfd p {
            fd_, POLLIN, 0
        };
        int ready = ::poll(&p, 1, 0);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;  // nothing typed yet (or nothing to read from)
        }
        char buffer[256];
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ended_ = true;
            break;
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
    size_t end = pending_.find('\n');
    if (end == std::string::npos) {
        // The input has ended: a last line without its newline still counts.
        std::string line = pending_;
        pending_.clear();
        return IsYes(line);
    }
    std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    return IsYes(line);
}

}  // namespace nuva
