#include "platform/cable/channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

namespace nuva::cable {

LogSink StderrLog(std::string prefix) {
    return [prefix = std::move(prefix)](const std::string& line) {
        std::fprintf(stderr, "%s: %s\n", prefix.c_str(), line.c_str());
    };
}

Channel::Channel(UniqueFd fd, LogSink log) : fd_(std::move(fd)), log_(std::move(log)) {}

void Channel::Log(const std::string& line) const {
    if (log_) {
        log_(line);
    }
}

size_t Channel::Allowance(size_t wanted) {
    int64_t budget = budget_.load();
    if (budget < 0) {
        return wanted;
    }
    return static_cast<size_t>(std::min<int64_t>(budget, static_cast<int64_t>(wanted)));
}

void Channel::Spend(size_t bytes) {
    int64_t budget = budget_.load();
    while (budget >= 0 && !budget_.compare_exchange_weak(budget, std::max<int64_t>(0, budget - static_cast<int64_t>(bytes)))) {
    }
}

void Channel::DropAfter(int64_t bytes) {
    budget_.store(bytes < 0 ? -1 : bytes);
    if (bytes == 0) {
        Shutdown();
    }
}

bool Channel::Send(uint16_t type, uint32_t sequence, std::span<const uint8_t> payload) {
    uint8_t header[kHeaderBytes];
    EncodeHeader(FrameHeader{type, sequence, static_cast<uint32_t>(payload.size())}, header);
    std::span<const uint8_t> parts[2] = {std::span<const uint8_t>(header, kHeaderBytes), payload};
    for (std::span<const uint8_t> part : parts) {
        size_t done = 0;
        while (done < part.size()) {
            size_t allowed = Allowance(part.size() - done);
            if (allowed == 0) {
                Shutdown();
                return false;
            }
            ssize_t n = send(fd_.Get(), part.data() + done, allowed, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            Spend(static_cast<size_t>(n));
            done += static_cast<size_t>(n);
        }
    }
    return true;
}

bool Channel::ReadFully(uint8_t* data, size_t size, size_t& got) {
    got = 0;
    while (got < size) {
        size_t allowed = Allowance(size - got);
        if (allowed == 0) {
            Shutdown();
            return false;
        }
        ssize_t n = recv(fd_.Get(), data + got, allowed, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        Spend(static_cast<size_t>(n));
        got += static_cast<size_t>(n);
    }
    return true;
}

ReceiveResult Channel::Receive(Frame& frame) {
    uint8_t header[kHeaderBytes];
    size_t got = 0;
    if (!ReadFully(header, kHeaderBytes, got)) {
        return got == 0 ? ReceiveResult::kClosed : ReceiveResult::kBroken;
    }
    FrameError error = DecodeHeader(header, frame.header);
    if (error != FrameError::kNone) {
        char line[160];
        std::snprintf(line, sizeof line, "refused a frame: %s (type 0x%04X, sequence %u, %u payload bytes)",
                      Describe(error), frame.header.type, frame.header.sequence, frame.header.length);
        Log(error == FrameError::kBadMagic || error == FrameError::kBadVersion
                ? std::string("refused a frame: ") + Describe(error)
                : std::string(line));
        return ReceiveResult::kRefused;
    }
    frame.payload.resize(frame.header.length);
    if (!ReadFully(frame.payload.data(), frame.payload.size(), got)) {
        return ReceiveResult::kBroken;
    }
    return ReceiveResult::kFrame;
}

Channel::Stir Channel::PeerStirred() const {
    pollfd fd{fd_.Get(), POLLIN | POLLRDHUP, 0};
    if (poll(&fd, 1, 0) <= 0) {
        return Stir::kQuiet;
    }
    uint8_t byte = 0;
    return recv(fd_.Get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0 ? Stir::kSpoke : Stir::kClosed;
}

void Channel::Shutdown() { shutdown(fd_.Get(), SHUT_RDWR); }

}  // namespace nuva::cable
