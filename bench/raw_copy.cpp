#include "bench/raw_copy.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <future>

namespace nuva::bench {

std::chrono::duration<double> RawSocketCopy(size_t total, const ChunkSource& next,
                                            std::vector<uint8_t>& kept) {
    constexpr std::chrono::duration<double> kBroken{-1};
    kept.resize(total);
    const auto start = std::chrono::steady_clock::now();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return kBroken;
    }
    auto reader = std::async(std::launch::async, [&] {
        size_t done = 0;
        while (done < kept.size()) {
            const ssize_t n = ::recv(fds[1], kept.data() + done, kept.size() - done, 0);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        return done;
    });
    bool ok = true;
    size_t sentInAll = 0;
    for (;;) {
        const std::optional<std::span<const uint8_t>> chunk = next();
        ok = chunk.has_value() && sentInAll + chunk->size() <= total;
        if (!ok || chunk->empty()) {
            break;
        }
        for (size_t sent = 0; ok && sent < chunk->size();) {
            const ssize_t n = ::send(fds[0], chunk->data() + sent, chunk->size() - sent, MSG_NOSIGNAL);
            ok = n > 0;
            sent += ok ? static_cast<size_t>(n) : 0;
        }
        if (!ok) {
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

namespace {

bool SendAll(int fd, const uint8_t* bytes, size_t count) {
    for (size_t sent = 0; sent < count;) {
        const ssize_t n = ::send(fd, bytes + sent, count - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool ReceiveAll(int fd, uint8_t* bytes, size_t count) {
    for (size_t got = 0; got < count;) {
        const ssize_t n = ::recv(fd, bytes + got, count - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::chrono::duration<double> RoundTripCopy(size_t total, size_t headerBytes, size_t answerBytes,
                                            const ChunkSource& next, std::vector<uint8_t>& kept) {
    constexpr std::chrono::duration<double> kBroken{-1};
    if (headerBytes < sizeof(uint32_t)) {
        return kBroken;  // the header carries the chunk's length
    }
    kept.resize(total);
    const auto start = std::chrono::steady_clock::now();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return kBroken;
    }
    // Answers each chunk until the sender shuts its end; the bytes kept.
    auto reader = std::async(std::launch::async, [&] {
        std::vector<uint8_t> header(headerBytes);
        const std::vector<uint8_t> answer(answerBytes);
        size_t done = 0;
        while (ReceiveAll(fds[1], header.data(), header.size())) {
            uint32_t length = 0;
            std::memcpy(&length, header.data(), sizeof length);
            if (length > kept.size() - done || !ReceiveAll(fds[1], kept.data() + done, length) ||
                !SendAll(fds[1], answer.data(), answer.size())) {
                break;
            }
            done += length;
        }
        return done;
    });
    std::vector<uint8_t> header(headerBytes);
    std::vector<uint8_t> answer(answerBytes);
    bool ok = true;
    size_t sentInAll = 0;
    for (;;) {
        const std::optional<std::span<const uint8_t>> chunk = next();
        ok = chunk.has_value() && sentInAll + chunk->size() <= total;
        if (!ok || chunk->empty()) {
            break;
        }
        const auto length = static_cast<uint32_t>(chunk->size());
        std::memcpy(header.data(), &length, sizeof length);
        iovec parts[2] = {{header.data(), header.size()}, {const_cast<uint8_t*>(chunk->data()), chunk->size()}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        // Header and chunk in one call, as the cable sends a frame; a short
        // send is finished piece by piece.
        const ssize_t n = ::sendmsg(fds[0], &message, MSG_NOSIGNAL);
        const size_t frame = header.size() + chunk->size();
        ok = n > 0;
        if (ok && static_cast<size_t>(n) < frame) {
            const size_t sent = static_cast<size_t>(n);
            ok = sent < header.size()
                     ? SendAll(fds[0], header.data() + sent, header.size() - sent) &&
                           SendAll(fds[0], chunk->data(), chunk->size())
                     : SendAll(fds[0], chunk->data() + (sent - header.size()), frame - sent);
        }
        ok = ok && ReceiveAll(fds[0], answer.data(), answer.size());
        if (!ok) {
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
