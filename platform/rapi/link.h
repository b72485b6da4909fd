// The desktop's one link to the handheld: connecting (CeRapiInit), ending
// (CeRapiUninit) and one request/answer exchange at a time over the current
// connection.
//
// Calls from several threads are serialised on the connection. A connection
// that fails in any way (closed, broken frame, answer out of order or
// malformed) is marked broken and shut down at once, so every later call on it
// fails at once instead of waiting; only Init() makes a new one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/cable/callback_ref.h"
#include "platform/cable/channel.h"
#include "platform/rapi/rapi.h"

namespace nuva::rapi {

// A handle number of a connection that has since ended.
inline constexpr HRESULT kStaleConnection =
    static_cast<HRESULT>(0x80070006);  // HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)

class Link {
  public:
    explicit Link(cable::LogSink log);
    ~Link();

    HRESULT Init();
    HRESULT Uninit();

    // The connection a call would use now; 0 when there is none, with the
    // reason (RAPI_E_NOT_INITIALIZED or RAPI_E_LINK_DOWN) in `whyNone`.
    // Device handles record it, since they die with it.
    uint64_t CurrentConnection(HRESULT& whyNone);

    // Sends one request and hands its answer's payload to `accept`, which
    // decodes it, checks that it fits the request and takes what it needs
    // (the payload lies in the connection's receive buffer and is gone when
    // `accept` returns); an answer it refuses breaks the connection.
    // `connection`, when not 0, is the connection the call must go to
    // (kStaleConnection when another one is current).
    // S_OK, RAPI_E_NOT_INITIALIZED, RAPI_E_LINK_DOWN or kStaleConnection.
    HRESULT Exchange(uint16_t requestCode, const cable::Encoded& request,
                     cable::CallbackRef<bool(std::span<const uint8_t>)> accept, uint64_t connection = 0);

  private:
    struct Connection;
    bool Alive(Connection& connection);
    void Fail(Connection& connection, const std::string& why);

    cable::LogSink log_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool initialised_ = false;
    bool connecting_ = false;
    uint64_t epoch_ = 0;  // counts CeRapiUninit calls: a wait started before one ends
    uint64_t nextId_ = 1;
    std::shared_ptr<Connection> current_;
    std::shared_ptr<Connection> pending_;  // being greeted by CeRapiInit
};

}  // namespace nuva::rapi
