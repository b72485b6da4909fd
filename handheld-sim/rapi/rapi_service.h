// The handheld's RAPI service: the far end of the cable.
//
// It listens on the endpoint for as long as it runs and takes one desktop at a
// time, only while the handheld's link is available; a desktop that knocks
// while the link is away (unplugged, restarting, crashed, drivers missing) or
// while another one is served is closed at once. When the link goes away the
// connection is closed, even in the middle of a call, and a call during which
// the handheld restarted is never answered. Files opened through a connection
// are closed when it ends.
//
// Anything the desktop sends that is not a well-formed request in sequence
// (bad header, unknown type, an answer, a malformed payload, a sequence
// number out of order) closes that connection and is reported through the
// log; the service goes on serving the next desktop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/cable/channel.h"
#include "platform/cable/endpoint.h"

namespace nuva::sim {

// rapi_device.h; not included here so that desktop-side code (tests that
// drive the service through rapi.h) can hold a service without the
// handheld's WinCE declarations.
class RapiDevice;

// Faults of the cable and of the calls it carries, for the control interface.
struct RapiFaults {
    // The cable dies after this many more bytes (either direction) of the
    // current connection, or of the next one when none is up; negative: off.
    int64_t dropAfterBytes = -1;
    // The next device file write fails (ERROR_WRITE_FAULT) and writes nothing.
    bool failNextWrite = false;
    // When a handle that wrote to this file is closed, the byte at `offset`
    // is changed (XOR `mask`), once. Empty path: off.
    std::u16string corruptPath;
    uint32_t corruptOffset = 0;
    uint8_t corruptMask = 0xFF;
    // The next this many export calls fail with E_FAIL without reaching the
    // export; when `failAgentExport` names an export, only calls to it count.
    uint32_t failAgentCalls = 0;
    std::u16string failAgentExport;
    // The next this many version queries answer FALSE (ERROR_GEN_FAILURE)
    // while the link stays up: how a desktop's probe of the link fails
    // without the cable going.
    uint32_t failVersionCalls = 0;
};

class RapiService {
  public:
    // `device` must outlive the service.
    RapiService(RapiDevice& device, cable::LogSink log);
    ~RapiService();
    RapiService(const RapiService&) = delete;
    RapiService& operator=(const RapiService&) = delete;

    // Listens on `endpoint` and starts serving. False with `error` when the
    // endpoint cannot be taken.
    bool Start(const cable::Endpoint& endpoint, std::string& error);
    // Closes the connection and stops listening.
    void Stop();
    // The endpoint as bound (TCP port 0 replaced by the port taken).
    cable::Endpoint Bound() const;

    // Whether a desktop is connected now.
    bool Connected() const;
    // Counts connections taken so far (greeted desktops).
    uint64_t ConnectionsServed() const;
    // Counts the version queries answered so far, failed ones included: a
    // desktop probes the link with them.
    uint64_t VersionQueriesAnswered() const;

    // Arms the faults that are set in `faults` (a negative byte count, false,
    // empty path and 0 leave the corresponding fault as it is).
    void InjectFaults(const RapiFaults& faults);
    void ClearFaults();
    RapiFaults PendingFaults() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace nuva::sim
