#include "bench/raw_copy.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <future>

namespace nuva::bench {
namespace {

constexpr std::chrono::duration<double> kBroken{-1};

bool SendAll(int fd, std::span<const uint8_t> bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool ReceiveAll(int fd, std::span<uint8_t> bytes) {
    for (size_t got = 0; got < bytes.size();) {
        const ssize_t n = ::recv(fd, bytes.data() + got, bytes.size() - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

// Header and chunk in one call where the socket takes them, as the cable
// sends a frame; what a short send left goes after it.
bool SendFrame(int fd, std::span<const uint8_t> header, std::span<const uint8_t> chunk) {
    iovec parts[2] = {{const_cast<uint8_t*>(header.data()), header.size()},
                      {const_cast<uint8_t*>(chunk.data()), chunk.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    if (n <= 0) {
        return false;
    }
    const auto sent = static_cast<size_t>(n);
    if (sent < header.size()) {
        return SendAll(fd, header.subspan(sent)) && SendAll(fd, chunk);
    }
    return SendAll(fd, chunk.subspan(sent - header.size()));
}

// What the two copies share: a fresh unix socket pair, `receive` on a thread
// of its own at one end (it returns how many of the bytes it kept), and the
// chunks `next` gives handed one by one to `send` at the other end, whose
// side is shut at the end. The time from the pair's making to the reader's
// end, or a negative time when the source, the socket or a count failed.
std::chrono::duration<double> TimedSocketCopy(
    size_t total, const ChunkSource& next, const std::function<size_t(int fd)>& receive,
    const std::function<bool(int fd, std::span<const uint8_t>)>& send) {
    const auto start = std::chrono::steady_clock::now();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return kBroken;
    }
    auto reader = std::async(std::launch::async, [&] { return receive(fds[1]); });
    bool ok = true;
    size_t sentInAll = 0;
    for (;;) {
        const std::optional<std::span<const uint8_t>> chunk = next();
        ok = chunk.has_value() && sentInAll + chunk->size() <= total;
        if (!ok || chunk->empty() || !(ok = send(fds[0], *chunk))) {
            break;
        }
        sentInAll += chunk->size();
    }
    ::shutdown(fds[0], SHUT_WR);
    const size_t received = reader.get();
    ::close(fds[0]);
    ::close(fds[1]);
    if (!ok || sentInAll != total || received != total) {
        return kBroken;
    }
    return std::chrono::steady_clock::now() - start;
}

}  // namespace

std::chrono::duration<double> RawSocketCopy(size_t total, const ChunkSource& next,
                                            std::vector<uint8_t>& kept) {
    kept.resize(total);
    return TimedSocketCopy(
        total, next,
        [&kept](int fd) {
            size_t done = 0;
            while (done < kept.size()) {
                const ssize_t n = ::recv(fd, kept.data() + done, kept.size() - done, 0);
                if (n <= 0) {
                    break;
                }
                done += static_cast<size_t>(n);
            }
            return done;
        },
        [](int fd, std::span<const uint8_t> chunk) { return SendAll(fd, chunk); });
}

std::chrono::duration<double> RoundTripCopy(size_t total, size_t headerBytes, size_t answerBytes,
                                            const ChunkSource& next, std::vector<uint8_t>& kept) {
    if (headerBytes < sizeof(uint32_t)) {
        return kBroken;  // the header carries the chunk's length
    }
    kept.resize(total);
    std::vector<uint8_t> request(headerBytes);
    std::vector<uint8_t> answered(answerBytes);
    return TimedSocketCopy(
        total, next,
        // Answers each chunk until the sender shuts its end.
        [&kept, headerBytes, answerBytes](int fd) {
            std::vector<uint8_t> header(headerBytes);
            const std::vector<uint8_t> answer(answerBytes);
            size_t done = 0;
            while (ReceiveAll(fd, header)) {
                uint32_t length = 0;
                std::memcpy(&length, header.data(), sizeof length);
                if (length > kept.size() - done ||
                    !ReceiveAll(fd, std::span<uint8_t>(kept.data() + done, length)) || !SendAll(fd, answer)) {
                    break;
                }
                done += length;
            }
            return done;
        },
        [&request, &answered](int fd, std::span<const uint8_t> chunk) {
            const auto length = static_cast<uint32_t>(chunk.size());
            std::memcpy(request.data(), &length, sizeof length);
            return SendFrame(fd, request, chunk) && ReceiveAll(fd, answered);
        });
}

bool UntimedRawCopy(benchmark::State& state, const std::function<std::chrono::duration<double>()>& copy,
                    std::chrono::duration<double>& raw) {
    state.PauseTiming();
    const std::chrono::duration<double> took = copy();
    if (took.count() < 0) {
        state.SkipWithError("the raw copy broke");
        return false;
    }
    raw += took;
    state.ResumeTiming();
    return true;
}

}  // namespace nuva::bench
