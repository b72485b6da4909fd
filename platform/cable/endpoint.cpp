#include "platform/cable/endpoint.h"

#include <arpa/inet.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>

namespace nuva::cable {

namespace {

constexpr std::string_view kUnixPrefix = "unix:";
constexpr std::string_view kTcpPrefix = "tcp:";

bool IsLoopbackV4(const std::string& host) {
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1) {
        return false;
    }
    return (ntohl(address.s_addr) >> 24) == 127;
}

}  // namespace

std::string Endpoint::ToString() const {
    if (kind == Kind::kUnix) {
        return std::string(kUnixPrefix) + path;
    }
    std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return std::string(kTcpPrefix) + shown + ":" + std::to_string(port);
}

bool ParseEndpoint(std::string_view text, bool forListening, Endpoint& out, std::string& error) {
    if (text.starts_with(kUnixPrefix)) {
        std::string path(text.substr(kUnixPrefix.size()));
        if (path.empty() || path.front() != '/') {
            error = "the unix endpoint needs an absolute path (unix:/path)";
            return false;
        }
        if (path.size() >= sizeof(sockaddr_un{}.sun_path)) {
            error = "the unix socket path is too long (" + std::to_string(path.size()) +
                    " characters, at most " + std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) + ")";
            return false;
        }
        if (path.find('\0') != std::string::npos) {
            error = "the unix socket path holds a NUL character";
            return false;
        }
        out = Endpoint{};
        out.kind = Endpoint::Kind::kUnix;
        out.path = std::move(path);
        return true;
    }
    if (text.starts_with(kTcpPrefix)) {
        std::string_view rest = text.substr(kTcpPrefix.size());
        std::string host;
        std::string_view portText;
        if (rest.starts_with("[")) {
            size_t close = rest.find("]:");
            if (close == std::string_view::npos) {
                error = "a bracketed TCP host must be followed by ]:PORT";
                return false;
            }
            host = std::string(rest.substr(1, close - 1));
            portText = rest.substr(close + 2);
        } else {
            size_t colon = rest.rfind(':');
            if (colon == std::string_view::npos) {
                error = "the TCP endpoint needs a port (tcp:127.0.0.1:PORT)";
                return false;
            }
            host = std::string(rest.substr(0, colon));
            portText = rest.substr(colon + 1);
        }
        if (host == "localhost") {
            host = "127.0.0.1";
        }
        if (!IsLoopbackV4(host) && host != "::1") {
            error = "the cable stays on this machine: TCP host '" + host +
                    "' is not a loopback address (use 127.0.0.1 or [::1])";
            return false;
        }
        unsigned port = 0;
        auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() ||
            port > 65535) {
            error = "the TCP port '" + std::string(portText) + "' is not a number from 1 to 65535";
            return false;
        }
        if (port == 0 && !forListening) {
            error = "TCP port 0 cannot be connected to";
            return false;
        }
        out = Endpoint{};
        out.kind = Endpoint::Kind::kTcp;
        out.host = std::move(host);
        out.port = static_cast<uint16_t>(port);
        return true;
    }
    error = "the endpoint '" + std::string(text) + "' is neither unix:/path nor tcp:127.0.0.1:PORT";
    return false;
}

Endpoint DefaultEndpoint() {
    Endpoint e;
    e.kind = Endpoint::Kind::kUnix;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        e.path = std::string(runtime) + "/nuva-link";
    } else {
        e.path = "/tmp/nuva-link-" + std::to_string(getuid());
    }
    return e;
}

bool EndpointFromEnvironment(bool forListening, Endpoint& out, std::string& error) {
    const char* link = std::getenv("NUVA_LINK");
    if (link == nullptr || link[0] == '\0') {
        out = DefaultEndpoint();
        return true;
    }
    if (!ParseEndpoint(link, forListening, out, error)) {
        error = "NUVA_LINK: " + error;
        return false;
    }
    return true;
}

}  // namespace nuva::cable
