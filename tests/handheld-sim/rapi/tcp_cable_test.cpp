// The service on a TCP port: the desktop that holds the user's secret is
// served as on a unix socket; anyone else reaches nothing, however well it
// speaks the frames.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <mutex>

#include "handheld-sim/rapi/rapi_service.h"
#include "platform/cable/protocol.h"
#include "platform/cable/secret.h"
#include "platform/cable/socket.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "tests/handheld-sim/rapi/scripted_device.h"
#include "tests/support/temp_folder.h"

namespace nuva::sim {
namespace {

using namespace std::chrono_literals;
using cable::MessageType;
using testing::ScriptedHandheld;
using testing::Within;

std::vector<uint8_t> FrameBytes(uint16_t type, uint32_t sequence, const cable::Encoded& message) {
    const std::vector<uint8_t> payload = message.Bytes();
    std::vector<uint8_t> bytes(cable::kHeaderBytes);
    cable::EncodeHeader(cable::FrameHeader{type, sequence, static_cast<uint32_t>(payload.size())},
                        bytes.data());
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

TEST(RapiOverTcp, OnlyADesktopThatKnowsTheSecretReachesTheHandheld) {
    SetTimeScale(0.01);
    nuva::testing::TempFolder folder{"nuva-rapi-tcp"};
    setenv("NUVA_LINK_KEYS", folder.Join("keys").c_str(), 1);
    ScriptedHandheld device;
    std::atomic<int> calls{0};
    device.SetExport([&](std::u16string_view, std::u16string_view, std::span<const uint8_t>,
                         std::vector<uint8_t>&) -> int32_t {
        ++calls;
        return S_OK;
    });
    std::vector<std::string> log;
    std::mutex logMutex;
    RapiService service(device.Device(), [&](const std::string& line) {
        std::lock_guard lock(logMutex);
        log.push_back(line);
    });
    cable::Endpoint endpoint;
    std::string error;
    ASSERT_TRUE(cable::ParseEndpoint("tcp:127.0.0.1:0", true, endpoint, error));
    ASSERT_TRUE(service.Start(endpoint, error)) << error;
    const cable::Endpoint bound = service.Bound();

    // A stranger that sends a greeting request and a remote call straight
    // away, as over a unix socket: closed without an answer, nothing called.
    {
        cable::UniqueFd raw(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(bound.port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(raw.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        std::vector<uint8_t> bytes =
            FrameBytes(cable::RequestCode(MessageType::kInit), 1, cable::Encode(cable::InitRequest{}));
        const std::vector<uint8_t> invoke =
            FrameBytes(cable::RequestCode(MessageType::kInvoke), 2,
                       cable::Encode(cable::InvokeRequest{u"NUVA7INVOKE", u"Anything", {}}));
        bytes.insert(bytes.end(), invoke.begin(), invoke.end());
        ASSERT_EQ(send(raw.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
        timeval limit{10, 0};
        setsockopt(raw.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        uint8_t answer[256];
        EXPECT_LE(recv(raw.Get(), answer, sizeof answer, 0), 0) << "the stranger got an answer";
        EXPECT_TRUE(testing::Eventually([&] {
            std::lock_guard lock(logMutex);
            return !log.empty() && log.back().find("greeting") != std::string::npos;
        })) << "the refusal was not reported";
        EXPECT_EQ(service.ConnectionsServed(), 0u);
    }

    // The desktop with the secret is served and its calls go through.
    setenv("NUVA_LINK", bound.ToString().c_str(), 1);
    ASSERT_EQ(Within(10s, [] { return CeRapiInit(); }), S_OK);
    DWORD outSize = 0;
    BYTE* out = nullptr;
    EXPECT_EQ(CeRapiInvoke(u"NUVA7INVOKE", u"Anything", 0, nullptr, &outSize, &out, nullptr, 0), S_OK);
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(service.ConnectionsServed(), 1u);
    CeRapiUninit();
    service.Stop();
    // The secret leaves with the listener.
    EXPECT_FALSE(std::filesystem::exists(cable::SecretPath(bound)));
    unsetenv("NUVA_LINK");
    unsetenv("NUVA_LINK_KEYS");
}

}  // namespace
}  // namespace nuva::sim
