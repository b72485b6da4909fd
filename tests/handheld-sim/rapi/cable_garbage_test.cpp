// Both ends of the cable refuse what they cannot trust, close that connection,
// say so, and go on: the service takes the next desktop, the desktop connects
// again.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "formats/le.h"
#include "handheld-sim/rapi/rapi_service.h"
#include "platform/cable/socket.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "tests/handheld-sim/rapi/scripted_device.h"
#include "tests/support/temp_folder.h"

namespace nuva::sim {
namespace {

using namespace std::chrono_literals;
using cable::MessageType;
using testing::Eventually;
using testing::ScriptedHandheld;

std::vector<uint8_t> FrameBytes(uint16_t type, uint32_t sequence, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> bytes(cable::kHeaderBytes);
    cable::EncodeHeader(cable::FrameHeader{type, sequence, static_cast<uint32_t>(payload.size())},
                        bytes.data());
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// Reads until the peer closes; false when it keeps the connection open.
bool PeerCloses(int fd) {
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    uint8_t buffer[4096];
    for (;;) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) {
            return true;
        }
        if (n < 0) {
            return false;  // timed out: still open
        }
    }
}

class CableGarbage : public ::testing::Test {
  protected:
    void SetUp() override {
        SetTimeScale(0.01);
        std::string error;
        ASSERT_TRUE(cable::ParseEndpoint("unix:" + dir_.Join("link"), true, endpoint_, error));
        ASSERT_TRUE(cable::ParseEndpoint("unix:" + dir_.Join("fake"), true, fakeEndpoint_, error));
        ASSERT_EQ(device_.Files().CreateDirectory(u"\\TEMP"), 0u);
        service_ = std::make_unique<RapiService>(device_.Device(), [this](const std::string& line) {
            std::lock_guard lock(logMutex_);
            log_.push_back(line);
        });
        ASSERT_TRUE(service_->Start(endpoint_, error)) << error;
    }
    void TearDown() override {
        CeRapiUninit();
        service_->Stop();
    }
    std::string LastLog() {
        std::lock_guard lock(logMutex_);
        return log_.empty() ? "" : log_.back();
    }
    void UseEndpoint(const cable::Endpoint& e) { setenv("NUVA_LINK", e.ToString().c_str(), 1); }

    ScriptedHandheld device_;
    nuva::testing::TempFolder dir_{"nuva-garbage"};
    cable::Endpoint endpoint_;
    cable::Endpoint fakeEndpoint_;
    std::unique_ptr<RapiService> service_;
    std::mutex logMutex_;
    std::vector<std::string> log_;
};

TEST_F(CableGarbage, TheServiceClosesOnAnythingUntrustedAndServesTheNextDesktop) {
    const std::vector<uint8_t> init = FrameBytes(cable::RequestCode(MessageType::kInit), 1, {});
    const std::vector<uint8_t> version = cable::Encode(cable::GetVersionRequest{}).Bytes();
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* logged;
    };
    std::vector<uint8_t> oversized(cable::kHeaderBytes);
    cable::EncodeHeader(cable::FrameHeader{cable::RequestCode(MessageType::kWriteFile), 1, 0x7FFFFFFF},
                        oversized.data());
    std::vector<uint8_t> shortCreate =
        cable::Encode(cable::CreateFileRequest{u"\\TEMP\\x", GENERIC_WRITE, 0, 2, 0}).Bytes();
    shortCreate.pop_back();
    std::vector<uint8_t> hugeRead = cable::Encode(cable::ReadFileRequest{1, 0}).Bytes();
    StoreLe32(hugeRead.data() + 4, 0xFFFFFFF0u);
    const Case cases[] = {
        {"text instead of frames", std::vector<uint8_t>(40, 'G'), "wrong magic"},
        {"an oversized frame", oversized, "larger than the cable allows"},
        {"an unknown type", FrameBytes(0x0031, 1, {}), "unknown frame type"},
        {"an answer sent to the handheld", FrameBytes(cable::AnswerCode(MessageType::kInit), 1, {}),
         "is not a request"},
        {"a call before the greeting", FrameBytes(cable::RequestCode(MessageType::kGetVersionEx), 1, version),
         "before the greeting"},
        {"a sequence out of order",
         Concat(init, FrameBytes(cable::RequestCode(MessageType::kGetVersionEx), 5, version)),
         "out of order"},
        {"a second greeting", Concat(init, FrameBytes(cable::RequestCode(MessageType::kInit), 2, {})),
         "out of order"},
        {"a short payload",
         Concat(init, FrameBytes(cable::RequestCode(MessageType::kCreateFile), 2, shortCreate)),
         "malformed CreateFile request"},
        {"a read count above the cap",
         Concat(init, FrameBytes(cable::RequestCode(MessageType::kReadFile), 2, hugeRead)),
         "malformed ReadFile request"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        cable::UniqueFd fd = cable::ConnectTo(endpoint_, error);
        ASSERT_TRUE(fd.Valid()) << error;
        WriteAll(fd.Get(), c.bytes);
        EXPECT_TRUE(PeerCloses(fd.Get()));
        EXPECT_NE(LastLog().find(c.logged), std::string::npos) << LastLog();
        ASSERT_TRUE(Eventually([&] { return !service_->Connected(); }));
    }

    // A frame cut short by the desktop closing is reported too.
    {
        std::string error;
        cable::UniqueFd fd = cable::ConnectTo(endpoint_, error);
        std::vector<uint8_t> cut =
            Concat(init, FrameBytes(cable::RequestCode(MessageType::kGetVersionEx), 2, {}));
        cut.resize(init.size() + 9);
        WriteAll(fd.Get(), cut);
        shutdown(fd.Get(), SHUT_WR);
        EXPECT_TRUE(PeerCloses(fd.Get()));
        EXPECT_TRUE(Eventually([&] { return LastLog().find("middle of a frame") != std::string::npos; }));
    }

    UseEndpoint(endpoint_);
    ASSERT_EQ(CeRapiInit(), S_OK);
    CEOSVERSIONINFO v{};
    EXPECT_TRUE(CeGetVersionEx(&v));
    EXPECT_EQ(v.dwMajorVersion, 4u);
}

// A handheld that greets properly and then answers the first call with
// `reply` (built from that call's sequence number).
class FakeHandheld {
  public:
    using Reply = std::function<std::vector<uint8_t>(uint32_t sequence)>;

    FakeHandheld(const cable::Endpoint& endpoint, Reply reply) : reply_(std::move(reply)) {
        std::string error;
        listener_ = cable::Listener::Open(endpoint, error);
        EXPECT_NE(listener_, nullptr) << error;
        thread_ = std::thread([this] { Run(); });
    }
    ~FakeHandheld() {
        listener_->Interrupt();
        thread_.join();
    }
    bool greeted() const { return greeted_; }

  private:
    void Run() {
        std::string refused;
        cable::UniqueFd fd = listener_->Accept(refused);
        if (!fd.Valid()) {
            return;
        }
        int raw = fd.Get();
        cable::Channel channel(std::move(fd), {});
        cable::Frame frame;
        if (channel.Receive(frame) != cable::ReceiveResult::kFrame) {
            return;
        }
        channel.Send(cable::AnswerCode(MessageType::kInit), frame.header.sequence,
                     cable::Encode(cable::InitAnswer{0, 0}));
        greeted_ = true;
        if (channel.Receive(frame) != cable::ReceiveResult::kFrame) {
            return;
        }
        std::vector<uint8_t> bytes = reply_(frame.header.sequence);
        send(raw, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        // Keep the connection open: the desktop must give up on its own.
        channel.Receive(frame);
    }

    Reply reply_;
    std::unique_ptr<cable::Listener> listener_;
    std::thread thread_;
    std::atomic<bool> greeted_{false};
};

TEST_F(CableGarbage, TheDesktopDropsAHandheldThatAnswersNonsenseAndConnectsAgain) {
    const uint16_t versionAnswer = cable::AnswerCode(MessageType::kGetVersionEx);
    const std::vector<uint8_t> goodVersion =
        cable::Encode(cable::GetVersionAnswer{1, 0, 4, 20, 1, 3, u"x"}).Bytes();
    std::vector<uint8_t> oversized(cable::kHeaderBytes);
    cable::EncodeHeader(cable::FrameHeader{versionAnswer, 2, cable::kMaxPayload + 1}, oversized.data());
    struct Case {
        const char* name;
        FakeHandheld::Reply reply;
        const char* reported;
    };
    const Case cases[] = {
        {"noise", [](uint32_t) { return std::vector<uint8_t>(64, 0xEE); }, "wrong magic"},
        {"an oversized answer", [&](uint32_t) { return oversized; }, "larger than the cable allows"},
        {"the wrong sequence", [&](uint32_t s) { return FrameBytes(versionAnswer, s + 1, goodVersion); },
         "out of order"},
        {"the answer to another call",
         [&](uint32_t s) {
             return FrameBytes(cable::AnswerCode(MessageType::kDeleteFile), s, {1, 0, 0, 0, 0, 0, 0, 0});
         },
         "out of order"},
        {"a malformed payload",
         [&](uint32_t s) {
             return FrameBytes(versionAnswer, s,
                               std::vector<uint8_t>(goodVersion.begin(), goodVersion.end() - 1));
         },
         "malformed GetVersionEx answer"},
        {"a request instead of an answer",
         [&](uint32_t s) { return FrameBytes(cable::RequestCode(MessageType::kGetVersionEx), s, {}); },
         "out of order"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHandheld fake(fakeEndpoint_, c.reply);
        UseEndpoint(fakeEndpoint_);
        ASSERT_EQ(CeRapiInit(), S_OK);
        ::testing::internal::CaptureStderr();
        CEOSVERSIONINFO v{};
        auto call = std::async(std::launch::async, [&] {
            BOOL ok = CeGetVersionEx(&v);
            return std::make_pair(ok, CeRapiGetError());
        });
        ASSERT_EQ(call.wait_for(10s), std::future_status::ready) << "the desktop must not wait on nonsense";
        auto [ok, linkError] = call.get();
        std::string reported = ::testing::internal::GetCapturedStderr();
        EXPECT_FALSE(ok);
        EXPECT_EQ(linkError, RAPI_E_LINK_DOWN);
        EXPECT_NE(reported.find(c.reported), std::string::npos) << reported;
        // The link is down, not hung: the next call fails at once as well.
        EXPECT_FALSE(CeGetVersionEx(&v));
        EXPECT_EQ(CeRapiGetError(), RAPI_E_LINK_DOWN);

        // And the desktop connects again, to a handheld that makes sense.
        UseEndpoint(endpoint_);
        ASSERT_EQ(CeRapiInit(), S_OK);
        EXPECT_TRUE(CeGetVersionEx(&v));
        EXPECT_EQ(v.dwMajorVersion, 4u);
        ASSERT_EQ(CeRapiUninit(), S_OK);
    }
}

TEST_F(CableGarbage, AHandheldThatSpeaksUnaskedIsNoLongerTakenAsConnected) {
    std::string error;
    auto listener = cable::Listener::Open(fakeEndpoint_, error);
    ASSERT_NE(listener, nullptr) << error;
    std::promise<void> spoke;
    std::thread fake([&] {
        std::string refused;
        cable::Channel channel(listener->Accept(refused), {});
        cable::Frame frame;
        if (channel.Receive(frame) != cable::ReceiveResult::kFrame) {
            return;
        }
        channel.Send(cable::AnswerCode(MessageType::kInit), frame.header.sequence,
                     cable::Encode(cable::InitAnswer{0, 0}));
        channel.Send(cable::AnswerCode(MessageType::kInit), frame.header.sequence + 1,
                     cable::Encode(cable::InitAnswer{0, 0}));
        spoke.set_value();
        channel.Receive(frame);  // until the desktop closes
    });
    UseEndpoint(fakeEndpoint_);
    ASSERT_EQ(CeRapiInit(), S_OK);
    spoke.get_future().wait();
    UseEndpoint(endpoint_);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(CeRapiInit(), S_OK) << "connected anew, not 'already initialised'";
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("unasked"), std::string::npos);
    fake.join();
    CEOSVERSIONINFO v{};
    EXPECT_TRUE(CeGetVersionEx(&v));
}

TEST_F(CableGarbage, ALinkThatWentAwayUnnoticedIsWaitedForAgain) {
    UseEndpoint(endpoint_);
    ASSERT_EQ(CeRapiInit(), S_OK);
    ASSERT_EQ(CeRapiInit(), CERAPI_E_ALREADYINITIALIZED);
    // The handheld goes away without the desktop calling: CeRapiInit notices
    // and waits for it again instead of claiming a live link.
    device_.SetLink(false);
    ASSERT_TRUE(Eventually([&] { return !service_->Connected(); }));
    auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
    EXPECT_EQ(init.wait_for(100ms), std::future_status::timeout);
    device_.SetLink(true);
    ASSERT_EQ(init.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(init.get(), S_OK);
}

}  // namespace
}  // namespace nuva::sim
