#include "platform/cable/endpoint.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "platform/cable/socket.h"
#include "tests/support/temp_folder.h"

namespace nuva::cable {
namespace {

TEST(CableEndpoint, ParsesUnixAndLoopbackTcpAndRefusesTheRest) {
    Endpoint e;
    std::string error;
    ASSERT_TRUE(ParseEndpoint("unix:/run/user/1000/nuva-link", false, e, error));
    EXPECT_EQ(e.kind, Endpoint::Kind::kUnix);
    EXPECT_EQ(e.path, "/run/user/1000/nuva-link");
    EXPECT_EQ(e.ToString(), "unix:/run/user/1000/nuva-link");

    ASSERT_TRUE(ParseEndpoint("tcp:127.0.0.1:5679", false, e, error));
    EXPECT_EQ(e.kind, Endpoint::Kind::kTcp);
    EXPECT_EQ(e.port, 5679);
    EXPECT_EQ(e.ToString(), "tcp:127.0.0.1:5679");
    ASSERT_TRUE(ParseEndpoint("tcp:localhost:80", false, e, error));
    EXPECT_EQ(e.host, "127.0.0.1");
    ASSERT_TRUE(ParseEndpoint("tcp:127.8.9.10:1", false, e, error));
    ASSERT_TRUE(ParseEndpoint("tcp:[::1]:9", false, e, error));
    EXPECT_EQ(e.ToString(), "tcp:[::1]:9");

    for (const char* foreign : {"tcp:0.0.0.0:5679", "tcp:10.0.0.1:5679", "tcp:192.168.1.2:1",
                                "tcp:example.com:1", "tcp:[::]:1", "tcp:128.0.0.1:1"}) {
        EXPECT_FALSE(ParseEndpoint(foreign, false, e, error)) << foreign;
        EXPECT_NE(error.find("loopback"), std::string::npos) << error;
    }
    for (const char* bad :
         {"", "unix:", "unix:relative/path", "tcp:127.0.0.1", "tcp:127.0.0.1:", "tcp:127.0.0.1:x",
          "tcp:127.0.0.1:65536", "tcp:127.0.0.1:-1", "tcp:[::1]9", "udp:127.0.0.1:1", "/tmp/socket"}) {
        EXPECT_FALSE(ParseEndpoint(bad, false, e, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(ParseEndpoint("unix:/" + std::string(200, 'a'), false, e, error));
    EXPECT_FALSE(ParseEndpoint("tcp:127.0.0.1:0", false, e, error));
    EXPECT_TRUE(ParseEndpoint("tcp:127.0.0.1:0", true, e, error));
}

TEST(CableEndpoint, TheDefaultIsPrivateToTheUserAndNuvaLinkOverridesIt) {
    const char* savedRuntime = std::getenv("XDG_RUNTIME_DIR");
    std::string runtime = savedRuntime ? savedRuntime : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(DefaultEndpoint().path, "/run/user/4242/nuva-link");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(DefaultEndpoint().path, "/tmp/nuva-link-" + std::to_string(getuid()));

    Endpoint e;
    std::string error;
    unsetenv("NUVA_LINK");
    ASSERT_TRUE(EndpointFromEnvironment(false, e, error));
    EXPECT_EQ(e.path, DefaultEndpoint().path);
    setenv("NUVA_LINK", "tcp:127.0.0.1:7000", 1);
    ASSERT_TRUE(EndpointFromEnvironment(false, e, error));
    EXPECT_EQ(e.port, 7000);
    setenv("NUVA_LINK", "tcp:8.8.8.8:7000", 1);
    EXPECT_FALSE(EndpointFromEnvironment(false, e, error));
    EXPECT_EQ(error.rfind("NUVA_LINK: ", 0), 0u);
    unsetenv("NUVA_LINK");
    if (savedRuntime != nullptr) {
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
}

TEST(CableSocket, UnixListenerIsPrivateReplacesOnlyItsOwnStaleSocketAndIsInterruptible) {
    nuva::testing::TempFolder dir{"nuva-cable"};
    Endpoint e;
    std::string error;
    ASSERT_TRUE(ParseEndpoint("unix:" + dir.Join("link"), true, e, error));

    {
        auto listener = Listener::Open(e, error);
        ASSERT_NE(listener, nullptr) << error;
        struct stat info {};
        ASSERT_EQ(stat(e.path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0600u);

        UniqueFd client = ConnectTo(e, error);
        ASSERT_TRUE(client.Valid()) << error;
        std::string refused;
        UniqueFd server = listener->Accept(refused);
        EXPECT_TRUE(server.Valid()) << refused;

        // A second listener on a live endpoint is refused.
        EXPECT_EQ(Listener::Open(e, error), nullptr);
        EXPECT_NE(error.find("already served"), std::string::npos) << error;
        EXPECT_TRUE(listener->Accept(refused).Valid());  // its probe

        std::thread stopper([&] { listener->Interrupt(); });
        UniqueFd none = listener->Accept(refused);
        stopper.join();
        EXPECT_FALSE(none.Valid());
        EXPECT_TRUE(refused.empty());
    }
    // The listener took its socket away with it.
    EXPECT_FALSE(std::filesystem::exists(e.path));
    UniqueFd nobody = ConnectTo(e, error);
    EXPECT_FALSE(nobody.Valid());
    EXPECT_FALSE(error.empty());

    // A stale socket (its listener died without cleaning up) is replaced.
    {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", e.path.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(fd);
    }
    EXPECT_NE(Listener::Open(e, error), nullptr) << error;

    // Something that is not a socket is left alone.
    std::filesystem::remove(e.path);
    {
        std::FILE* f = std::fopen(e.path.c_str(), "w");
        std::fclose(f);
    }
    EXPECT_EQ(Listener::Open(e, error), nullptr);
    EXPECT_TRUE(std::filesystem::exists(e.path));
}

TEST(CableSocket, TcpListenerTakesAFreeLoopbackPort) {
    nuva::testing::TempFolder keys{"nuva-cable-keys"};
    setenv("NUVA_LINK_KEYS", keys.Join("keys").c_str(), 1);
    Endpoint e;
    std::string error;
    ASSERT_TRUE(ParseEndpoint("tcp:127.0.0.1:0", true, e, error));
    auto listener = Listener::Open(e, error);
    ASSERT_NE(listener, nullptr) << error;
    EXPECT_NE(listener->Bound().port, 0);
    // Both ends greet each other before the connection is theirs: the
    // desktop's half runs beside the listener's.
    auto client = std::async(std::launch::async, [&] {
        std::string why;
        UniqueFd fd = ConnectTo(listener->Bound(), why);
        EXPECT_TRUE(fd.Valid()) << why;
        return fd.Valid();
    });
    std::string refused;
    EXPECT_TRUE(listener->Accept(refused).Valid()) << refused;
    EXPECT_TRUE(client.get());
    unsetenv("NUVA_LINK_KEYS");
}

}  // namespace
}  // namespace nuva::cable
