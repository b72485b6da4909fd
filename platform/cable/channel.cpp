#include "platform/cable/channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace nuva::cable {

namespace {

// What a fresh receive buffer holds: a 16 KB transfer chunk with its header
// and fields, and the next frame's start.
constexpr size_t kInitialReceiveBytes = 64 * 1024;
constexpr size_t kMaxFrameBytes = kHeaderBytes + kMaxPayload;

}  // namespace

LogSink StderrLog(std::string prefix) {
    return [prefix = std::move(prefix)](const std::string& line) {
        std::fprintf(stderr, "%s: %s\n", prefix.c_str(), line.c_str());
    };
}

Channel::Channel(UniqueFd fd, LogSink log) : fd_(std::move(fd)), log_(std::move(log)) {}

Channel::~Channel() = default;

void Channel::Log(const std::string& line) const {
    if (log_) {
        log_(line);
    }
}

size_t Channel::Allowance(size_t wanted, uint64_t& setting) {
    std::lock_guard lock(budgetMutex_);
    setting = budgetSetting_;
    if (budget_ < 0) {
        return wanted;
    }
    return static_cast<size_t>(std::min<int64_t>(budget_, static_cast<int64_t>(wanted)));
}

void Channel::Spend(size_t bytes, uint64_t setting) {
    std::lock_guard lock(budgetMutex_);
    // Bytes taken under an earlier setting crossed before the budget was
    // set: they do not count against it.
    if (budget_ >= 0 && setting == budgetSetting_) {
        budget_ = std::max<int64_t>(0, budget_ - static_cast<int64_t>(bytes));
    }
}

void Channel::DropAfter(int64_t bytes) {
    {
        std::lock_guard lock(budgetMutex_);
        budget_ = bytes < 0 ? -1 : bytes;
        ++budgetSetting_;
    }
    if (bytes == 0) {
        Shutdown();
    }
}

bool Channel::Send(uint16_t type, uint32_t sequence, std::span<const uint8_t> fields,
                   std::span<const uint8_t> data) {
    const size_t length = fields.size() + data.size();
    if (length > kMaxPayload) {
        Log("refused to send a " + DescribeType(type) + " of " + std::to_string(length) +
            " payload bytes: larger than the cable allows");
        return false;
    }
    uint8_t header[kHeaderBytes];
    EncodeHeader(FrameHeader{type, sequence, static_cast<uint32_t>(length)}, header);
    const std::span<const uint8_t> parts[3] = {std::span<const uint8_t>(header, kHeaderBytes), fields, data};
    const size_t total = kHeaderBytes + length;
    size_t done = 0;
    while (done < total) {
        uint64_t setting = 0;
        size_t allowed = Allowance(total - done, setting);
        if (allowed == 0) {
            Shutdown();
            return false;
        }
        // The parts from `done` on, cut to what the cable still carries.
        iovec vectors[3];
        int count = 0;
        size_t skip = done;
        for (std::span<const uint8_t> part : parts) {
            if (skip >= part.size()) {
                skip -= part.size();
                continue;
            }
            size_t take = std::min(part.size() - skip, allowed);
            vectors[count++] = iovec{const_cast<uint8_t*>(part.data() + skip), take};
            allowed -= take;
            skip = 0;
            if (allowed == 0) {
                break;
            }
        }
        msghdr message{};
        message.msg_iov = vectors;
        message.msg_iovlen = static_cast<size_t>(count);
        ssize_t n = sendmsg(fd_.Get(), &message, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        Spend(static_cast<size_t>(n), setting);
        done += static_cast<size_t>(n);
    }
    return true;
}

void Channel::MakeRoom(size_t wanted) {
    const size_t unread = rxEnd_ - rxBegin_;
    if (rxCapacity_ < wanted) {
        size_t capacity = std::max({wanted, kInitialReceiveBytes, std::min(rxCapacity_ * 2, kMaxFrameBytes)});
        auto grown = std::make_unique_for_overwrite<uint8_t[]>(capacity);
        if (unread > 0) {
            std::memcpy(grown.get(), rx_.get() + rxBegin_, unread);
        }
        rx_ = std::move(grown);
        rxCapacity_ = capacity;
    } else if (unread > 0) {
        std::memmove(rx_.get(), rx_.get() + rxBegin_, unread);
    }
    rxBegin_ = 0;
    rxEnd_ = unread;
}

void Channel::DiscardReceived() {
    rxBegin_ = 0;
    rxEnd_ = 0;
    handedOut_ = 0;
}

bool Channel::FillTo(size_t wanted) {
    if (rxEnd_ - rxBegin_ >= wanted) {
        return true;
    }
    if (rxCapacity_ - rxBegin_ < wanted) {
        MakeRoom(wanted);
    }
    while (rxEnd_ - rxBegin_ < wanted) {
        // As much as has arrived, up to the buffer's room: a frame that came
        // in one piece is taken in one call.
        uint64_t setting = 0;
        const size_t allowed = Allowance(rxCapacity_ - rxEnd_, setting);
        if (allowed == 0) {
            Shutdown();
            return false;
        }
        // Blocks in the kernel until bytes arrive, the peer closes or
        // Shutdown() ends the connection.
        ssize_t n = recv(fd_.Get(), rx_.get() + rxEnd_, allowed, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            return false;
        }
        Spend(static_cast<size_t>(n), setting);
        rxEnd_ += static_cast<size_t>(n);
    }
    return true;
}

ReceiveResult Channel::Receive(Frame& frame) {
    rxBegin_ += handedOut_;
    handedOut_ = 0;
    if (rxBegin_ == rxEnd_) {
        rxBegin_ = 0;
        rxEnd_ = 0;
    }
    frame.payload = {};
    if (!FillTo(kHeaderBytes)) {
        const bool between = rxBegin_ == rxEnd_;
        DiscardReceived();
        return between ? ReceiveResult::kClosed : ReceiveResult::kBroken;
    }
    FrameError error = DecodeHeader(rx_.get() + rxBegin_, frame.header);
    if (error != FrameError::kNone) {
        handedOut_ = kHeaderBytes;
        char line[160];
        std::snprintf(line, sizeof line, "refused a frame: %s (type 0x%04X, sequence %u, %u payload bytes)",
                      Describe(error), frame.header.type, frame.header.sequence, frame.header.length);
        Log(error == FrameError::kBadMagic || error == FrameError::kBadVersion
                ? std::string("refused a frame: ") + Describe(error)
                : std::string(line));
        return ReceiveResult::kRefused;
    }
    // The length has been checked against the cap before any room is made.
    const size_t frameBytes = kHeaderBytes + frame.header.length;
    if (!FillTo(frameBytes)) {
        DiscardReceived();
        return ReceiveResult::kBroken;
    }
    frame.payload = std::span<const uint8_t>(rx_.get() + rxBegin_ + kHeaderBytes, frame.header.length);
    handedOut_ = frameBytes;
    return ReceiveResult::kFrame;
}

Channel::Stir Channel::PeerStirred() const {
    if (rxEnd_ - rxBegin_ > handedOut_) {
        return Stir::kSpoke;  // already received, not yet taken
    }
    pollfd fd{fd_.Get(), POLLIN | POLLRDHUP, 0};
    if (poll(&fd, 1, 0) <= 0) {
        return Stir::kQuiet;
    }
    uint8_t byte = 0;
    return recv(fd_.Get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0 ? Stir::kSpoke : Stir::kClosed;
}

void Channel::Shutdown() {
    shutdown(fd_.Get(), SHUT_RDWR);
}

}  // namespace nuva::cable
