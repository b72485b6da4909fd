// A TCP cable is taken only between two ends that both know this user's
// secret: a client without it is refused before it can send a frame, a
// listener without it is refused by the desktop before the desktop proves
// anything, and a secret that someone else could read or replace is refused.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>

#include "platform/cable/handshake.h"
#include "platform/cable/protocol.h"
#include "platform/cable/secret.h"
#include "platform/cable/socket.h"
#include "tests/support/temp_folder.h"

namespace nuva::cable {
namespace {

class TcpSecret : public ::testing::Test {
  protected:
    void SetUp() override {
        keys_ = folder_.Join("keys");
        setenv("NUVA_LINK_KEYS", keys_.c_str(), 1);
    }
    void TearDown() override { unsetenv("NUVA_LINK_KEYS"); }

    static Endpoint AnyPort() {
        Endpoint e;
        std::string error;
        EXPECT_TRUE(ParseEndpoint("tcp:127.0.0.1:0", true, e, error));
        return e;
    }
    // A plain loopback connection that knows nothing of the greeting.
    static UniqueFd RawConnect(const Endpoint& e) {
        UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(e.port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }
    // Everything the peer sends until it closes (at most 4 KB, 10 s).
    static std::vector<uint8_t> UntilClosed(int fd) {
        timeval limit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        std::vector<uint8_t> got;
        uint8_t buffer[4096];
        for (;;) {
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return got;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
    }

    testing::TempFolder folder_{"nuva-tcp-secret"};
    std::string keys_;
};

TEST_F(TcpSecret, BothEndsThatKnowTheSecretConnectAndTheSecretIsPrivateAndGoesWithTheListener) {
    std::string error;
    auto listener = Listener::Open(AnyPort(), error);
    ASSERT_NE(listener, nullptr) << error;
    const Endpoint bound = listener->Bound();
    const std::string path = SecretPath(bound);
    EXPECT_EQ(path, keys_ + "/tcp-127.0.0.1-" + std::to_string(bound.port));

    struct stat info {};
    ASSERT_EQ(stat(keys_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_size, 65);

    auto client = std::async(std::launch::async, [&] {
        std::string why;
        UniqueFd fd = ConnectTo(bound, why);
        EXPECT_TRUE(fd.Valid()) << why;
        uint8_t byte = 0x5A;
        EXPECT_EQ(send(fd.Get(), &byte, 1, MSG_NOSIGNAL), 1);
        return fd;
    });
    std::string refused;
    UniqueFd server = listener->Accept(refused);
    ASSERT_TRUE(server.Valid()) << refused;
    UniqueFd clientFd = client.get();
    // What follows the greeting is the caller's: the first byte arrives as sent.
    uint8_t byte = 0;
    ASSERT_EQ(recv(server.Get(), &byte, 1, 0), 1);
    EXPECT_EQ(byte, 0x5A);

    // A second listener makes a different secret.
    auto other = Listener::Open(AnyPort(), error);
    ASSERT_NE(other, nullptr) << error;
    Secret first{}, second{};
    bool unsafe = false;
    ASSERT_TRUE(LoadSecret(bound, first, error, unsafe)) << error;
    ASSERT_TRUE(LoadSecret(other->Bound(), second, error, unsafe)) << error;
    EXPECT_NE(first, second);

    listener.reset();
    EXPECT_FALSE(std::filesystem::exists(path));
    // Without a secret the desktop does not even knock; nothing foreign in that.
    bool foreign = true;
    EXPECT_FALSE(ConnectTo(bound, error, &foreign).Valid());
    EXPECT_FALSE(foreign);
    EXPECT_NE(error.find("no secret"), std::string::npos) << error;
}

TEST_F(TcpSecret, AClientWithoutTheSecretIsRefusedBeforeItsFirstFrame) {
    std::string error;
    auto listener = Listener::Open(AnyPort(), error);
    ASSERT_NE(listener, nullptr) << error;
    const Endpoint bound = listener->Bound();

    // A client that starts with a frame, as a desktop that knows no greeting would.
    {
        UniqueFd raw = RawConnect(bound);
        const std::vector<uint8_t> init(kHeaderBytes + 24, 0x4E);
        ASSERT_EQ(send(raw.Get(), init.data(), init.size(), MSG_NOSIGNAL), static_cast<ssize_t>(init.size()));
        std::string refused;
        EXPECT_FALSE(listener->Accept(refused).Valid());
        EXPECT_NE(refused.find("greeting"), std::string::npos) << refused;
        EXPECT_TRUE(UntilClosed(raw.Get()).empty());
    }
    // A client that greets but can only guess the proof: refused, and the
    // verdict byte never comes.
    {
        UniqueFd raw = RawConnect(bound);
        uint8_t hello[8 + kNonceBytes] = {'N', 'V', 'A', 'U', 'T', 'H', '0', '1'};
        ASSERT_TRUE(RandomBytes(hello + 8, kNonceBytes));
        ASSERT_EQ(send(raw.Get(), hello, sizeof hello, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof hello));
        auto accepted = std::async(std::launch::async, [&] {
            std::string refused;
            bool valid = listener->Accept(refused).Valid();
            return std::make_pair(valid, refused);
        });
        uint8_t reply[8 + kNonceBytes + kProofBytes];
        ASSERT_EQ(recv(raw.Get(), reply, sizeof reply, MSG_WAITALL), static_cast<ssize_t>(sizeof reply));
        Secret guess{};
        ASSERT_TRUE(RandomBytes(guess.data(), guess.size()));
        const auto proof = Proof(guess, Side::kDesktop, {hello + 8, kNonceBytes}, {reply + 8, kNonceBytes});
        ASSERT_EQ(send(raw.Get(), proof.data(), proof.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(proof.size()));
        auto [valid, refused] = accepted.get();
        EXPECT_FALSE(valid);
        EXPECT_NE(refused.find("does not know the cable's secret"), std::string::npos) << refused;
        EXPECT_TRUE(UntilClosed(raw.Get()).empty());
    }
    // A desktop whose key folder holds another secret for the port: it finds
    // that the listener does not know its secret and gives no proof.
    {
        const std::string elsewhere = folder_.Join("elsewhere");
        setenv("NUVA_LINK_KEYS", elsewhere.c_str(), 1);
        Secret unused{};
        ASSERT_TRUE(CreateSecret(bound, unused, error)) << error;
        auto accepted = std::async(std::launch::async, [&] {
            std::string refused;
            return listener->Accept(refused).Valid();
        });
        bool foreign = false;
        EXPECT_FALSE(ConnectTo(bound, error, &foreign).Valid());
        EXPECT_TRUE(foreign);
        EXPECT_FALSE(accepted.get());
        setenv("NUVA_LINK_KEYS", keys_.c_str(), 1);
    }
    // A stranger that connects and says nothing does not hold up a listener
    // that is asked to stop.
    {
        UniqueFd silent = RawConnect(bound);
        auto accepted = std::async(std::launch::async, [&] {
            std::string refused = "not told";
            bool valid = listener->Accept(refused).Valid();
            return std::make_pair(valid, refused);
        });
        EXPECT_EQ(accepted.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
        const auto start = std::chrono::steady_clock::now();
        listener->Interrupt();
        auto [valid, refused] = accepted.get();
        EXPECT_LT(std::chrono::steady_clock::now() - start, kHandshakeLimit / 2);
        EXPECT_FALSE(valid);
        EXPECT_TRUE(refused.empty()) << refused;
    }
}

TEST_F(TcpSecret, AListenerGoesOnTakingTheRightDesktopAfterStrangers) {
    std::string error;
    auto listener = Listener::Open(AnyPort(), error);
    ASSERT_NE(listener, nullptr) << error;
    const Endpoint bound = listener->Bound();
    {
        UniqueFd raw = RawConnect(bound);
        const std::vector<uint8_t> junk(64, 0x4E);
        ASSERT_EQ(send(raw.Get(), junk.data(), junk.size(), MSG_NOSIGNAL), static_cast<ssize_t>(junk.size()));
        std::string refused;
        EXPECT_FALSE(listener->Accept(refused).Valid());
        EXPECT_FALSE(refused.empty());
    }
    auto client = std::async(std::launch::async, [&] {
        std::string why;
        return ConnectTo(bound, why).Valid();
    });
    std::string refused;
    EXPECT_TRUE(listener->Accept(refused).Valid()) << refused;
    EXPECT_TRUE(client.get());
}

TEST_F(TcpSecret, AListenerWithoutTheSecretIsRefusedAndNeverGetsTheDesktopsProof) {
    // Another user's listener on a port for which this user holds a secret
    // (a handheld of ours listened there before).
    UniqueFd fake(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fake.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(fake.Get(), 1), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(getsockname(fake.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    Endpoint e = AnyPort();
    e.port = ntohs(address.sin_port);
    Secret secret{};
    std::string error;
    ASSERT_TRUE(CreateSecret(e, secret, error)) << error;

    for (bool speaks : {true, false}) {
        SCOPED_TRACE(speaks ? "a listener that answers with a made-up proof"
                            : "a listener that says nothing");
        auto impostor = std::async(std::launch::async, [&] {
            UniqueFd peer(accept(fake.Get(), nullptr, nullptr));
            uint8_t hello[8 + kNonceBytes];
            EXPECT_EQ(recv(peer.Get(), hello, sizeof hello, MSG_WAITALL), static_cast<ssize_t>(sizeof hello));
            if (speaks) {
                uint8_t reply[8 + kNonceBytes + kProofBytes] = {'N', 'V', 'A', 'U', 'T', 'H', '0', '1'};
                RandomBytes(reply + 8, sizeof reply - 8);
                EXPECT_EQ(send(peer.Get(), reply, sizeof reply, MSG_NOSIGNAL),
                          static_cast<ssize_t>(sizeof reply));
            } else {
                shutdown(peer.Get(), SHUT_WR);
            }
            return UntilClosed(peer.Get());  // what the desktop sent after its hello
        });
        bool foreign = false;
        EXPECT_FALSE(ConnectTo(e, error, &foreign).Valid());
        EXPECT_TRUE(foreign);
        EXPECT_NE(error.find(speaks ? "does not know the cable's secret" : "did not prove"),
                  std::string::npos)
            << error;
        EXPECT_TRUE(impostor.get().empty()) << "the desktop gave its proof to an impostor";
    }
}

TEST_F(TcpSecret, ASecretOthersCouldReadOrReplaceIsRefused) {
    std::string error;
    Endpoint e = AnyPort();
    e.port = 5679;
    Secret secret{}, loaded{};
    ASSERT_TRUE(CreateSecret(e, secret, error)) << error;
    bool unsafe = true;
    ASSERT_TRUE(LoadSecret(e, loaded, error, unsafe)) << error;
    EXPECT_FALSE(unsafe);
    EXPECT_EQ(loaded, secret);
    const std::string path = SecretPath(e);

    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    EXPECT_FALSE(LoadSecret(e, loaded, error, unsafe));
    EXPECT_TRUE(unsafe);
    EXPECT_NE(error.find("mode 0644"), std::string::npos) << error;
    bool foreign = false;
    EXPECT_FALSE(ConnectTo(e, error, &foreign).Valid());
    EXPECT_TRUE(foreign) << "an unsafe secret must be reported, not waited out";
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);

    ASSERT_EQ(chmod(keys_.c_str(), 0755), 0);
    EXPECT_FALSE(LoadSecret(e, loaded, error, unsafe));
    EXPECT_TRUE(unsafe);
    EXPECT_NE(error.find("open to other users (mode 0755)"), std::string::npos) << error;
    EXPECT_EQ(Listener::Open(AnyPort(), error), nullptr);
    EXPECT_NE(error.find("open to other users"), std::string::npos) << error;
    ASSERT_EQ(chmod(keys_.c_str(), 0700), 0);

    // A link planted in place of the secret is not followed.
    const std::string real = folder_.Write("planted", std::string(64, 'a') + "\n");
    chmod(real.c_str(), 0600);
    std::filesystem::remove(path);
    std::filesystem::create_symlink(real, path);
    EXPECT_FALSE(LoadSecret(e, loaded, error, unsafe));
    EXPECT_TRUE(unsafe);
    EXPECT_NE(error.find("is a link"), std::string::npos) << error;
    std::filesystem::remove(path);

    // A file cut short or holding other than hex digits is no secret.
    for (const std::string& damaged : {std::string(63, 'a') + "\n", std::string(64, 'g') + "\n",
                                       std::string(64, 'a') + "\nx", std::string(64, 'a')}) {
        ASSERT_TRUE(CreateSecret(e, secret, error)) << error;
        FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fwrite(damaged.data(), 1, damaged.size(), f);
        std::fclose(f);
        EXPECT_FALSE(LoadSecret(e, loaded, error, unsafe)) << damaged;
        EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    }

    // A secret or folder that belongs to another user (only root can make one).
    if (geteuid() == 0) {
        ASSERT_TRUE(CreateSecret(e, secret, error)) << error;
        ASSERT_EQ(chown(path.c_str(), 4242, 4242), 0);
        EXPECT_FALSE(LoadSecret(e, loaded, error, unsafe));
        EXPECT_TRUE(unsafe);
        EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
        ASSERT_EQ(chown(keys_.c_str(), 4242, 4242), 0);
        EXPECT_FALSE(LoadSecret(e, loaded, error, unsafe));
        EXPECT_NE(error.find("folder " + keys_ + " belongs to another user"), std::string::npos) << error;
        EXPECT_EQ(Listener::Open(AnyPort(), error), nullptr);
    }
}

}  // namespace
}  // namespace nuva::cable
