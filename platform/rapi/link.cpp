#include "platform/rapi/link.h"

#include <atomic>
#include <chrono>

#include "platform/cable/endpoint.h"
#include "platform/clock/clock.h"

namespace nuva::rapi {

namespace {

// How often CeRapiInit knocks while no handheld answers (nominal).
constexpr uint32_t kConnectRetryMs = 250;

}  // namespace

struct Link::Connection {
    Connection(uint64_t id_, cable::UniqueFd fd, cable::LogSink log)
        : id(id_), channel(std::move(fd), std::move(log)) {}
    uint64_t id;
    cable::Channel channel;
    std::mutex io;  // one exchange at a time
    uint32_t nextSequence = 1;
    std::atomic<bool> broken{false};
};

Link::Link(cable::LogSink log) : log_(std::move(log)) {}

Link::~Link() = default;

void Link::Fail(Connection& connection, const std::string& why) {
    if (!connection.broken.exchange(true) && !why.empty()) {
        log_(why);
    }
    connection.channel.Shutdown();
}

bool Link::Alive(Connection& connection) {
    if (connection.broken) {
        return false;
    }
    std::unique_lock io(connection.io, std::try_to_lock);
    if (!io.owns_lock()) {
        return true;  // an exchange is under way: it will find out
    }
    // The handheld only ever answers: with nothing asked, anything it sends
    // or a close means the connection is over.
    switch (connection.channel.PeerStirred()) {
        case cable::Channel::Stir::kQuiet:
            return true;
        case cable::Channel::Stir::kClosed:
            Fail(connection, "");
            return false;
        case cable::Channel::Stir::kSpoke:
            Fail(connection, "refused a frame the handheld sent unasked (out of order)");
            return false;
    }
    return true;
}

HRESULT Link::Init() {
    std::unique_lock lock(mutex_);
    const uint64_t epoch = epoch_;
    changed_.wait(lock, [&] { return !connecting_ || epoch_ != epoch; });
    if (epoch_ != epoch) {
        return E_FAIL;
    }
    if (current_ && Alive(*current_)) {
        initialised_ = true;
        return CERAPI_E_ALREADYINITIALIZED;
    }
    current_.reset();
    initialised_ = true;  // calls made while we wait fail as "link down"
    connecting_ = true;
    auto finish = [&](HRESULT hr) {
        connecting_ = false;
        pending_.reset();
        changed_.notify_all();
        return hr;
    };

    bool reportedForeign = false;
    for (;;) {
        cable::Endpoint endpoint;
        std::string error;
        if (!cable::EndpointFromEnvironment(false, endpoint, error)) {
            log_(error);
            return finish(E_FAIL);
        }
        lock.unlock();
        bool foreign = false;
        cable::UniqueFd fd = cable::ConnectTo(endpoint, error, &foreign);
        lock.lock();
        if (epoch_ != epoch) {
            return finish(E_FAIL);
        }
        if (fd.Valid()) {
            auto connection = std::make_shared<Connection>(nextId_++, std::move(fd), log_);
            pending_ = connection;
            lock.unlock();
            // The greeting: the handheld takes this desktop or closes.
            uint32_t sequence = connection->nextSequence++;
            bool greeted = false;
            if (connection->channel.Send(cable::RequestCode(cable::MessageType::kInit), sequence,
                                         cable::Encode(cable::InitRequest{}))) {
                cable::Frame frame;
                cable::ReceiveResult got = connection->channel.Receive(frame);
                cable::InitAnswer answer;
                if (got == cable::ReceiveResult::kFrame) {
                    if (frame.header.type != cable::AnswerCode(cable::MessageType::kInit) ||
                        frame.header.sequence != sequence) {
                        log_("refused the handheld's greeting: " + cable::DescribeType(frame.header.type) +
                             " with sequence " + std::to_string(frame.header.sequence) + " out of order");
                    } else if (!cable::Decode(frame.payload, answer)) {
                        log_("refused the handheld's greeting: malformed payload");
                    } else {
                        greeted = answer.result == static_cast<uint32_t>(S_OK);
                    }
                }
            }
            lock.lock();
            if (epoch_ != epoch) {
                return finish(E_FAIL);
            }
            if (greeted) {
                current_ = connection;
                return finish(S_OK);
            }
            connection->channel.Shutdown();
            pending_.reset();
        } else if (foreign && !reportedForeign) {
            log_(error);
            reportedForeign = true;
        }
        if (changed_.wait_for(lock, ScaledPollMs(kConnectRetryMs), [&] { return epoch_ != epoch; })) {
            return finish(E_FAIL);
        }
    }
}

HRESULT Link::Uninit() {
    std::lock_guard lock(mutex_);
    if (!initialised_ && !connecting_) {
        return E_FAIL;
    }
    ++epoch_;
    initialised_ = false;
    if (current_) {
        Fail(*current_, "");
        current_.reset();
    }
    if (pending_) {
        pending_->channel.Shutdown();
    }
    changed_.notify_all();
    return S_OK;
}

uint64_t Link::CurrentConnection(HRESULT& whyNone) {
    std::lock_guard lock(mutex_);
    if (!initialised_) {
        whyNone = RAPI_E_NOT_INITIALIZED;
        return 0;
    }
    if (!current_ || current_->broken) {
        whyNone = RAPI_E_LINK_DOWN;
        return 0;
    }
    return current_->id;
}

HRESULT Link::Exchange(uint16_t requestCode, const cable::Encoded& request,
                       cable::CallbackRef<bool(std::span<const uint8_t>)> accept, uint64_t connectionId) {
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(mutex_);
        if (!initialised_) {
            return RAPI_E_NOT_INITIALIZED;
        }
        connection = current_;
    }
    if (!connection) {
        return connectionId != 0 ? kStaleConnection : RAPI_E_LINK_DOWN;
    }
    if (connectionId != 0 && connection->id != connectionId) {
        return kStaleConnection;
    }
    std::lock_guard io(connection->io);
    if (connection->broken) {
        return RAPI_E_LINK_DOWN;
    }
    const uint32_t sequence = connection->nextSequence++;
    if (!connection->channel.Send(requestCode, sequence, request)) {
        Fail(*connection, "");
        return RAPI_E_LINK_DOWN;
    }
    cable::Frame frame;
    switch (connection->channel.Receive(frame)) {
        case cable::ReceiveResult::kFrame:
            break;
        case cable::ReceiveResult::kRefused:  // already reported
        case cable::ReceiveResult::kClosed:
        case cable::ReceiveResult::kBroken:
            Fail(*connection, "");
            return RAPI_E_LINK_DOWN;
    }
    if (frame.header.type != (requestCode | cable::kAnswerBit) || frame.header.sequence != sequence) {
        Fail(*connection, "refused an answer out of order: " + cable::DescribeType(frame.header.type) +
                              " with sequence " + std::to_string(frame.header.sequence) + " to " +
                              cable::DescribeType(requestCode) + " " + std::to_string(sequence));
        return RAPI_E_LINK_DOWN;
    }
    if (!accept(frame.payload)) {
        Fail(*connection, "refused a malformed " + cable::DescribeType(frame.header.type) + " (" +
                              std::to_string(frame.payload.size()) + " payload bytes)");
        return RAPI_E_LINK_DOWN;
    }
    return S_OK;
}

}  // namespace nuva::rapi
