#include "platform/cable/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/cable/handshake.h"

namespace nuva::cable {

namespace {

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

bool UnixAddress(const std::string& path, sockaddr_un& address, std::string& error) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "the unix socket path is too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

// A TCP address of the loopback endpoint; ParseEndpoint has vetted the host.
socklen_t TcpAddress(const Endpoint& endpoint, sockaddr_storage& storage) {
    std::memset(&storage, 0, sizeof storage);
    if (endpoint.host.find(':') != std::string::npos) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&storage);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(endpoint.port);
        inet_pton(AF_INET6, endpoint.host.c_str(), &a6->sin6_addr);
        return sizeof(sockaddr_in6);
    }
    auto* a4 = reinterpret_cast<sockaddr_in*>(&storage);
    a4->sin_family = AF_INET;
    a4->sin_port = htons(endpoint.port);
    inet_pton(AF_INET, endpoint.host.c_str(), &a4->sin_addr);
    return sizeof(sockaddr_in);
}

bool PeerIsThisUser(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
        return false;
    }
    return credentials.uid == getuid();
}

void TuneStream(int fd, Endpoint::Kind kind) {
    if (kind == Endpoint::Kind::kTcp) {
        // Requests and answers are small and strictly alternate: send each at once.
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
}

}  // namespace

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = other.Release();
    }
    return *this;
}

UniqueFd ConnectTo(const Endpoint& endpoint, std::string& error, bool* foreign) {
    if (endpoint.kind == Endpoint::Kind::kUnix) {
        sockaddr_un address;
        if (!UnixAddress(endpoint.path, address, error)) {
            return {};
        }
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd.Valid()) {
            error = Errno("socket");
            return {};
        }
        if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            error = Errno(("connect " + endpoint.ToString()).c_str());
            return {};
        }
        if (!PeerIsThisUser(fd.Get())) {
            error = endpoint.ToString() + " is served by another user; refusing it";
            if (foreign != nullptr) {
                *foreign = true;
            }
            return {};
        }
        return fd;
    }
    // Any local user can listen on a loopback port: only a listener that
    // proves it knows this user's secret is taken for the handheld.
    Secret secret;
    bool unsafe = false;
    if (!LoadSecret(endpoint, secret, error, unsafe)) {
        if (foreign != nullptr) {
            *foreign = unsafe;
        }
        return {};
    }
    sockaddr_storage address;
    socklen_t length = TcpAddress(endpoint, address);
    UniqueFd fd(socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        error = Errno("socket");
        return {};
    }
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        error = Errno(("connect " + endpoint.ToString()).c_str());
        return {};
    }
    TuneStream(fd.Get(), endpoint.kind);
    bool impostor = false;
    if (!GreetAsDesktop(fd.Get(), secret, error, impostor)) {
        error = endpoint.ToString() + ": " + error;
        if (foreign != nullptr) {
            *foreign = impostor;
        }
        return {};
    }
    return fd;
}

Listener::Listener(UniqueFd fd, UniqueFd wakeRead, UniqueFd wakeWrite, Endpoint bound, const Secret& secret)
    : fd_(std::move(fd)),
      wakeRead_(std::move(wakeRead)),
      wakeWrite_(std::move(wakeWrite)),
      bound_(std::move(bound)),
      secret_(secret) {}

Listener::~Listener() {
    if (bound_.kind == Endpoint::Kind::kUnix) {
        unlink(bound_.path.c_str());
    } else {
        RemoveSecret(bound_);
    }
}

std::unique_ptr<Listener> Listener::Open(const Endpoint& endpoint, std::string& error) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = Errno("pipe");
        return nullptr;
    }
    UniqueFd wakeRead(pipeFds[0]);
    UniqueFd wakeWrite(pipeFds[1]);
    Endpoint bound = endpoint;

    if (endpoint.kind == Endpoint::Kind::kUnix) {
        sockaddr_un address;
        if (!UnixAddress(endpoint.path, address, error)) {
            return nullptr;
        }
        struct stat info {};
        if (lstat(endpoint.path.c_str(), &info) == 0) {
            if (!S_ISSOCK(info.st_mode)) {
                error = endpoint.path + " exists and is not a socket; not replacing it";
                return nullptr;
            }
            if (info.st_uid != getuid()) {
                error = endpoint.path + " belongs to another user; not replacing it";
                return nullptr;
            }
            std::string ignored;
            if (ConnectTo(endpoint, ignored).Valid()) {
                error = endpoint.ToString() + " is already served by another handheld";
                return nullptr;
            }
            unlink(endpoint.path.c_str());  // stale: its listener has ended
        }
        UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd.Valid()) {
            error = Errno("socket");
            return nullptr;
        }
        // Bind with a private mode from the start: no window in which another
        // user could connect (the peer check at accept stands behind it too).
        // fchmod before bind sets the mode the socket file is created with.
        fchmod(fd.Get(), 0600);
        if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            error = Errno(("bind " + endpoint.ToString()).c_str());
            return nullptr;
        }
        chmod(endpoint.path.c_str(), 0600);
        if (listen(fd.Get(), 8) != 0) {
            error = Errno("listen");
            unlink(endpoint.path.c_str());
            return nullptr;
        }
        return std::unique_ptr<Listener>(new Listener(std::move(fd), std::move(wakeRead),
                                                      std::move(wakeWrite), std::move(bound), Secret{}));
    }

    sockaddr_storage address;
    socklen_t length = TcpAddress(endpoint, address);
    UniqueFd fd(socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        error = Errno("socket");
        return nullptr;
    }
    int on = 1;
    setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        error = Errno(("bind " + endpoint.ToString()).c_str());
        return nullptr;
    }
    sockaddr_storage actual{};
    socklen_t actualLength = sizeof actual;
    if (getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&actual), &actualLength) != 0) {
        error = Errno("getsockname");
        return nullptr;
    }
    bound.port = ntohs(actual.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&actual)->sin6_port
                                                    : reinterpret_cast<sockaddr_in*>(&actual)->sin_port);
    // The secret is in place before the port takes connections, so a desktop
    // that reaches the listener always finds the secret it was made with.
    Secret secret;
    if (!CreateSecret(bound, secret, error)) {
        return nullptr;
    }
    if (listen(fd.Get(), 8) != 0) {
        error = Errno("listen");
        RemoveSecret(bound);
        return nullptr;
    }
    return std::unique_ptr<Listener>(
        new Listener(std::move(fd), std::move(wakeRead), std::move(wakeWrite), std::move(bound), secret));
}

UniqueFd Listener::Accept(std::string& refused) {
    for (;;) {
        pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {wakeRead_.Get(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            refused = Errno("poll");
            return {};
        }
        if (fds[1].revents != 0) {
            return {};
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        UniqueFd peer(accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!peer.Valid()) {
            if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) {
                continue;
            }
            refused = Errno("accept");
            return {};
        }
        if (bound_.kind == Endpoint::Kind::kUnix && !PeerIsThisUser(peer.Get())) {
            refused = "refused a connection from another user";
            return {};
        }
        TuneStream(peer.Get(), bound_.kind);
        if (bound_.kind == Endpoint::Kind::kTcp &&
            !GreetAsHandheld(peer.Get(), secret_, refused, wakeRead_.Get())) {
            return {};  // `refused` is empty when Interrupt() ended the greeting
        }
        return peer;
    }
}

void Listener::Interrupt() {
    char byte = 1;
    // The pipe is non-blocking: a full pipe already wakes the listener.
    [[maybe_unused]] ssize_t n = write(wakeWrite_.Get(), &byte, 1);
}

}  // namespace nuva::cable
