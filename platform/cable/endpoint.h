// Where the cable is: a unix socket private to the user, or a TCP port on the
// loopback interface. The cable never leaves the machine, so a TCP endpoint on
// any other address is refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nuva::cable {

struct Endpoint {
    enum class Kind { kUnix, kTcp };
    Kind kind = Kind::kUnix;
    std::string path;   // kUnix
    std::string host;   // kTcp: a numeric loopback address ("127.0.0.1", "::1")
    uint16_t port = 0;  // kTcp; 0 only for a listener that takes any free port

    // "unix:/path" or "tcp:127.0.0.1:PORT" ("tcp:[::1]:PORT").
    std::string ToString() const;
};

// Parses "unix:/absolute/path" or "tcp:HOST:PORT", HOST being "localhost", an
// address in 127.0.0.0/8 or "[::1]". Port 0 is accepted only when
// `forListening` (the listener picks a free port). On failure returns false
// and says why in `error`.
bool ParseEndpoint(std::string_view text, bool forListening, Endpoint& out, std::string& error);

// The per-user default: $XDG_RUNTIME_DIR/nuva-link when that is set, else
// /tmp/nuva-link-<uid>.
Endpoint DefaultEndpoint();

// NUVA_LINK when set (and valid), else the default.
bool EndpointFromEnvironment(bool forListening, Endpoint& out, std::string& error);

}  // namespace nuva::cable
