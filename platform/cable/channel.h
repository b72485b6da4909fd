// One end of a cable connection: sends and receives whole frames.
//
// A frame whose header is not trusted (wrong magic or version, unknown type,
// payload above the cap) is refused and reported through the log; the owner
// then closes the connection. Shutdown() from any thread ends a blocked send
// or receive, which is how a dropped link or a cancelled call unblocks.
//
// The cable carries one request and its answer at a time, so the cost of an
// exchange is mostly the two ends waking each other. A frame leaves in one
// system call (header, fields and data gathered from where they lie) and
// arrives in as few as the socket allows, into a receive buffer the channel
// keeps for the connection's life. A receive that finds nothing waits in the
// kernel for the peer's bytes: it neither spins nor yields, which on a busy
// machine would hand the processor to other work while the answer is already
// on its way, and a quiet connection costs nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/cable/protocol.h"
#include "platform/cable/socket.h"

namespace nuva::cable {

// Where a side reports what it refused from its peer: one line per event.
using LogSink = std::function<void(const std::string& line)>;
// Writes "<prefix>: <line>" to stderr.
LogSink StderrLog(std::string prefix);

struct Frame {
    FrameHeader header;
    // The payload, in the channel's receive buffer: valid until the next
    // Receive on the same channel.
    std::span<const uint8_t> payload;
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
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Sends one frame whose payload is `fields` followed by `data`; false
    // when the connection is gone (or the payload is above the cap, which is
    // logged).
    bool Send(uint16_t type, uint32_t sequence, std::span<const uint8_t> fields,
              std::span<const uint8_t> data = {});
    bool Send(uint16_t type, uint32_t sequence, const Encoded& message) {
        return Send(type, sequence, message.Fields(), message.Data());
    }
    // One thread at a time; `frame.payload` stays valid until the next call.
    ReceiveResult Receive(Frame& frame);

    // Whether the peer has closed or sent something, without waiting: with
    // no request outstanding either means the connection is over. Not while
    // another thread receives.
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
    // How many of `wanted` bytes may cross before the cable dies, under the
    // budget's current setting (told in `setting`, for Spend).
    size_t Allowance(size_t wanted, uint64_t& setting);
    void Spend(size_t bytes, uint64_t setting);
    // Receives until `wanted` bytes stand in the buffer from rxBegin_; false
    // when the connection ended or failed first.
    bool FillTo(size_t wanted);
    // Room for `wanted` bytes from rxBegin_: unread bytes move to the front,
    // the buffer grows when it is too small.
    void MakeRoom(size_t wanted);
    void DiscardReceived();

    UniqueFd fd_;
    LogSink log_;
    // The bytes the cable still carries (negative: no limit), and how many
    // times DropAfter has set it: a send or receive that began before a new
    // setting does not spend from it.
    std::mutex budgetMutex_;
    int64_t budget_ = -1;
    uint64_t budgetSetting_ = 0;

    // The receive buffer: bytes [rxBegin_, rxEnd_) have arrived and not been
    // taken; the first handedOut_ of them belong to the frame handed out
    // last and are dropped at the next Receive.
    std::unique_ptr<uint8_t[]> rx_;
    size_t rxCapacity_ = 0;
    size_t rxBegin_ = 0;
    size_t rxEnd_ = 0;
    size_t handedOut_ = 0;
};

}  // namespace nuva::cable
