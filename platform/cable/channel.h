// One end of a cable connection: sends and receives whole frames.
//
// A frame whose header is not trusted (wrong magic or version, unknown type,
// payload above the cap) is refused and reported through the log; the owner
// then closes the connection. Shutdown() from any thread ends a blocked send
// or receive, which is how a dropped link or a cancelled call unblocks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/cable/protocol.h"
#include "platform/cable/socket.h"

namespace nuva::cable {

// Where a side reports what it refused from its peer: one line per event.
using LogSink = std::function<void(const std::string& line)>;
// Writes "<prefix>: <line>" to stderr.
LogSink StderrLog(std::string prefix);

struct Frame {
    FrameHeader header;
    std::vector<uint8_t> payload;
};

enum class ReceiveResult {
    kFrame,    // a frame whose header is sound (its payload is still to be decoded)
    kClosed,   // the peer closed the connection between frames
    kBroken,   // the connection ended or failed in the middle of a frame
    kRefused,  // the header was not trusted (logged)
};

class Channel {
public:
    Channel(UniqueFd fd, LogSink log);
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Sends one frame; false when the connection is gone.
    bool Send(uint16_t type, uint32_t sequence, std::span<const uint8_t> payload);
    ReceiveResult Receive(Frame& frame);

    // Whether the peer has closed or sent something, without waiting: with
    // no request outstanding either means the connection is over.
    enum class Stir { kQuiet, kClosed, kSpoke };
    Stir PeerStirred() const;

    // Ends the connection in both directions; callable from any thread while
    // another one sends or receives.
    void Shutdown();

    // A cable that dies after `bytes` more bytes have crossed it, in either
    // direction (negative: never). The byte that would exceed the budget is
    // not sent or not taken, and the connection is shut down.
    void DropAfter(int64_t bytes);

    void Log(const std::string& line) const;

private:
    // How many of `wanted` bytes may cross before the cable dies.
    size_t Allowance(size_t wanted);
    void Spend(size_t bytes);
    bool ReadFully(uint8_t* data, size_t size, size_t& got);

    UniqueFd fd_;
    LogSink log_;
    std::atomic<int64_t> budget_{-1};
};

}  // namespace nuva::cable
