#include "bench/raw_copy.h"

#include <sys/socket.h>
#include <unistd.h>

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
