#include "platform/cable/handshake.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace nuva::cable {

namespace {

constexpr std::string_view kGreeting = "NVAUTH01";
constexpr uint8_t kTaken = 1;
using Clock = std::chrono::steady_clock;

std::string_view Label(Side side) {
    return side == Side::kHandheld ? "nuva handheld" : "nuva desktop";
}

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Exactly `count` bytes before the deadline; false on a close, an error or
// the deadline, with the reason in `error`, and with `error` empty when
// `wakeFd` (when not -1) became readable first.
bool ReceiveExactly(int fd, uint8_t* out, size_t count, Clock::time_point deadline, std::string& error,
                    int wakeFd = -1) {
    size_t done = 0;
    while (done < count) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(p, wakeFd >= 0 ? 2 : 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready > 0 && wakeFd >= 0 && p[1].revents != 0) {
            error.clear();
            return false;
        }
        if (ready <= 0) {
            error = ready == 0 ? "the peer did not complete the cable's greeting in time"
                               : std::string("poll: ") + std::strerror(errno);
            return false;
        }
        ssize_t n = recv(fd, out + done, count - done, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            error = "the peer closed the connection during the cable's greeting";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The greeting's messages are far below any socket buffer: one send each.
bool SendAll(int fd, const uint8_t* bytes, size_t count, std::string& error) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = send(fd, bytes + done, count - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = "the peer closed the connection during the cable's greeting";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::array<uint8_t, kProofBytes> Proof(const Secret& secret, Side side, std::span<const uint8_t> desktopNonce,
                                       std::span<const uint8_t> handheldNonce) {
    const std::string_view label = Label(side);
    // The label has a fixed length per side and the nonces fixed lengths:
    // the concatenation is unambiguous.
    uint8_t message[16 + 2 * kNonceBytes];
    size_t used = 0;
    std::memcpy(message, label.data(), label.size());
    used += label.size();
    std::memcpy(message + used, desktopNonce.data(), std::min(desktopNonce.size(), kNonceBytes));
    used += kNonceBytes;
    std::memcpy(message + used, handheldNonce.data(), std::min(handheldNonce.size(), kNonceBytes));
    used += kNonceBytes;
    std::array<uint8_t, kProofBytes> proof{};
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()), message, used, proof.data(), &length);
    return proof;
}

bool ProofHolds(const Secret& secret, Side side, std::span<const uint8_t> desktopNonce,
                std::span<const uint8_t> handheldNonce, std::span<const uint8_t> proof) {
    if (proof.size() != kProofBytes || desktopNonce.size() != kNonceBytes ||
        handheldNonce.size() != kNonceBytes) {
        return false;
    }
    const std::array<uint8_t, kProofBytes> expected = Proof(secret, side, desktopNonce, handheldNonce);
    return CRYPTO_memcmp(expected.data(), proof.data(), kProofBytes) == 0;
}

bool GreetAsDesktop(int fd, const Secret& secret, std::string& error, bool& foreign) {
    foreign = false;
    const auto deadline = Clock::now() + kHandshakeLimit;
    uint8_t hello[kGreeting.size() + kNonceBytes];
    std::memcpy(hello, kGreeting.data(), kGreeting.size());
    uint8_t* desktopNonce = hello + kGreeting.size();
    if (!RandomBytes(desktopNonce, kNonceBytes)) {
        error = std::string("no random bytes for the cable's greeting: ") + std::strerror(errno);
        return false;
    }
    if (!SendAll(fd, hello, sizeof hello, error)) {
        return false;
    }
    uint8_t reply[kGreeting.size() + kNonceBytes + kProofBytes];
    if (!ReceiveExactly(fd, reply, sizeof reply, deadline, error)) {
        foreign = true;  // a listener that cannot greet is not our handheld
        error = "the listener did not prove the cable's secret: " + error;
        return false;
    }
    const std::span<const uint8_t> handheldNonce(reply + kGreeting.size(), kNonceBytes);
    const std::span<const uint8_t> proof(reply + kGreeting.size() + kNonceBytes, kProofBytes);
    if (std::memcmp(reply, kGreeting.data(), kGreeting.size()) != 0 ||
        !ProofHolds(secret, Side::kHandheld, {desktopNonce, kNonceBytes}, handheldNonce, proof)) {
        foreign = true;
        error = "the listener does not know the cable's secret: it is not this user's handheld; refusing it";
        return false;
    }
    const auto ours = Proof(secret, Side::kDesktop, {desktopNonce, kNonceBytes}, handheldNonce);
    if (!SendAll(fd, ours.data(), ours.size(), error)) {
        return false;
    }
    uint8_t verdict = 0;
    if (!ReceiveExactly(fd, &verdict, 1, deadline, error) || verdict != kTaken) {
        error = "the handheld refused this desktop's proof of the cable's secret";
        return false;
    }
    return true;
}

bool GreetAsHandheld(int fd, const Secret& secret, std::string& error, int wakeFd) {
    const auto deadline = Clock::now() + kHandshakeLimit;
    uint8_t hello[kGreeting.size() + kNonceBytes];
    if (!ReceiveExactly(fd, hello, sizeof hello, deadline, error, wakeFd)) {
        if (!error.empty()) {
            error = "refused a TCP connection: " + error;
        }
        return false;
    }
    if (std::memcmp(hello, kGreeting.data(), kGreeting.size()) != 0) {
        error = "refused a TCP connection that did not open with the cable's greeting";
        return false;
    }
    const std::span<const uint8_t> desktopNonce(hello + kGreeting.size(), kNonceBytes);
    uint8_t reply[kGreeting.size() + kNonceBytes + kProofBytes];
    std::memcpy(reply, kGreeting.data(), kGreeting.size());
    uint8_t* handheldNonce = reply + kGreeting.size();
    if (!RandomBytes(handheldNonce, kNonceBytes)) {
        error = std::string("no random bytes for the cable's greeting: ") + std::strerror(errno);
        return false;
    }
    const auto ours = Proof(secret, Side::kHandheld, desktopNonce, {handheldNonce, kNonceBytes});
    std::memcpy(reply + kGreeting.size() + kNonceBytes, ours.data(), ours.size());
    if (!SendAll(fd, reply, sizeof reply, error)) {
        error = "refused a TCP connection: " + error;
        return false;
    }
    uint8_t theirs[kProofBytes];
    if (!ReceiveExactly(fd, theirs, sizeof theirs, deadline, error, wakeFd)) {
        if (!error.empty()) {
            error = "refused a TCP connection that did not prove the cable's secret: " + error;
        }
        return false;
    }
    if (!ProofHolds(secret, Side::kDesktop, desktopNonce, {handheldNonce, kNonceBytes}, theirs)) {
        error = "refused a TCP connection that does not know the cable's secret (another user?)";
        return false;
    }
    return SendAll(fd, &kTaken, 1, error);
}

}  // namespace nuva::cable
