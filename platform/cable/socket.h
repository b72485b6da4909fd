// The cable's sockets: connecting to an endpoint and listening on one.
//
// A unix endpoint is private to the user: the listener creates its socket with
// mode 0600, and both ends check the peer's user (SO_PEERCRED) so that another
// user can neither connect nor pose as the handheld. A TCP listener binds the
// loopback address only, and since any local user can reach a loopback port,
// both ends of a TCP connection prove that they know the cable's secret
// before it is handed out (secret.h, handshake.h).
#pragma once

#include <memory>
#include <string>

#include "platform/cable/endpoint.h"
#include "platform/cable/secret.h"

namespace nuva::cable {

// An owned file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

// Connects to the endpoint. Returns an invalid descriptor and says why in
// `error` when nothing listens there, or the listener belongs to another user
// or (TCP) does not prove the cable's secret, or the secret's file could be
// used by another user (then `foreign`, when given, is set).
UniqueFd ConnectTo(const Endpoint& endpoint, std::string& error, bool* foreign = nullptr);

class Listener {
  public:
    // Binds and listens. A unix path held by a live listener is refused; a
    // stale socket left by a listener that ended is replaced; a path that is
    // not a socket, or is another user's, is left alone and refused. A TCP
    // listener makes a fresh secret for its port, removed when it closes.
    static std::unique_ptr<Listener> Open(const Endpoint& endpoint, std::string& error);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Waits for the next connection from this user (on TCP: one that proved
    // the secret, within kHandshakeLimit). Returns an invalid
    // descriptor with `refused` empty once Interrupt() has been called, and
    // with `refused` saying why when a connection from another user was closed
    // at once or accepting failed (the caller reports it and calls again).
    UniqueFd Accept(std::string& refused);
    // Ends a blocked Accept and every later one; callable from any thread.
    void Interrupt();

    // The endpoint as bound (a TCP port 0 replaced by the port taken).
    const Endpoint& Bound() const { return bound_; }

  private:
    Listener(UniqueFd fd, UniqueFd wakeRead, UniqueFd wakeWrite, Endpoint bound, const Secret& secret);

    UniqueFd fd_;
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;
    Endpoint bound_;
    Secret secret_;  // TCP only
};

}  // namespace nuva::cable
