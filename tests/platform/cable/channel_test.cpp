#include "platform/cable/channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "formats/le.h"

namespace nuva::cable {
namespace {

struct Pair {
    Pair() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        channel = std::make_unique<Channel>(UniqueFd(fds[0]), [this](const std::string& line) { log.push_back(line); });
        raw = UniqueFd(fds[1]);
    }
    void SendRaw(const std::vector<uint8_t>& bytes) const {
        ASSERT_EQ(write(raw.Get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::vector<uint8_t> ReadRawToEnd() const {
        std::vector<uint8_t> all;
        uint8_t buffer[4096];
        ssize_t n;
        while ((n = read(raw.Get(), buffer, sizeof buffer)) > 0) {
            all.insert(all.end(), buffer, buffer + n);
        }
        return all;
    }
    std::vector<std::string> log;
    std::unique_ptr<Channel> channel;
    UniqueFd raw;
};

std::vector<uint8_t> Header(uint16_t type, uint32_t sequence, uint32_t length) {
    std::vector<uint8_t> bytes(kHeaderBytes);
    EncodeHeader(FrameHeader{type, sequence, length}, bytes.data());
    return bytes;
}

TEST(CableChannel, FramesCrossWholeAndUntrustedHeadersAreRefusedAndReported) {
    Pair pair;
    std::vector<uint8_t> payload = Encode(ReadFileRequest{3, 100});
    ASSERT_TRUE(pair.channel->Send(RequestCode(MessageType::kReadFile), 5, payload));
    uint8_t header[kHeaderBytes];
    ASSERT_EQ(read(pair.raw.Get(), header, kHeaderBytes), static_cast<ssize_t>(kHeaderBytes));
    FrameHeader sent;
    ASSERT_EQ(DecodeHeader(header, sent), FrameError::kNone);
    EXPECT_EQ(sent.sequence, 5u);
    EXPECT_EQ(sent.length, payload.size());

    // A good frame arriving in pieces.
    std::vector<uint8_t> frame = Header(AnswerCode(MessageType::kReadFile), 5, 3);
    frame.insert(frame.end(), {7, 8, 9});
    pair.SendRaw(std::vector<uint8_t>(frame.begin(), frame.begin() + 5));
    pair.SendRaw(std::vector<uint8_t>(frame.begin() + 5, frame.end()));
    Frame got;
    ASSERT_EQ(pair.channel->Receive(got), ReceiveResult::kFrame);
    EXPECT_EQ(got.header.type, AnswerCode(MessageType::kReadFile));
    EXPECT_EQ(got.payload, (std::vector<uint8_t>{7, 8, 9}));
    EXPECT_TRUE(pair.log.empty());

    // Garbage, then an oversized claim, then an unknown type: each refused and
    // logged without reading a payload.
    pair.SendRaw(std::vector<uint8_t>(kHeaderBytes, 0x41));
    EXPECT_EQ(pair.channel->Receive(got), ReceiveResult::kRefused);
    pair.SendRaw(Header(RequestCode(MessageType::kWriteFile), 1, kMaxPayload + 1));
    EXPECT_EQ(pair.channel->Receive(got), ReceiveResult::kRefused);
    pair.SendRaw(Header(0x0077, 1, 0));
    EXPECT_EQ(pair.channel->Receive(got), ReceiveResult::kRefused);
    ASSERT_EQ(pair.log.size(), 3u);
    EXPECT_NE(pair.log[0].find("magic"), std::string::npos);
    EXPECT_NE(pair.log[1].find("larger than the cable allows"), std::string::npos);
    EXPECT_NE(pair.log[2].find("unknown frame type"), std::string::npos);
}

TEST(CableChannel, ClosesBetweenAndInsideFramesAreTold) {
    {
        Pair pair;
        EXPECT_EQ(pair.channel->PeerStirred(), Channel::Stir::kQuiet);
        pair.SendRaw({1});
        EXPECT_EQ(pair.channel->PeerStirred(), Channel::Stir::kSpoke);
        pair.raw = UniqueFd();
        EXPECT_EQ(pair.channel->PeerStirred(), Channel::Stir::kSpoke) << "what was sent is still there";
        Frame got;
        EXPECT_EQ(pair.channel->Receive(got), ReceiveResult::kBroken);
        EXPECT_EQ(pair.channel->PeerStirred(), Channel::Stir::kClosed);
        EXPECT_EQ(pair.channel->Receive(got), ReceiveResult::kClosed);
    }
    {
        Pair pair;
        std::vector<uint8_t> header = Header(1, 1, 0);
        pair.SendRaw(std::vector<uint8_t>(header.begin(), header.begin() + 7));
        pair.raw = UniqueFd();
        Frame got;
        EXPECT_EQ(pair.channel->Receive(got), ReceiveResult::kBroken);
    }
    {
        Pair pair;
        std::vector<uint8_t> frame = Header(AnswerCode(MessageType::kInit), 1, 8);
        frame.push_back(0);
        pair.SendRaw(frame);
        pair.raw = UniqueFd();
        Frame got;
        EXPECT_EQ(pair.channel->Receive(got), ReceiveResult::kBroken);
    }
}

TEST(CableChannel, ADroppingCableCarriesExactlyItsBudget) {
    Pair pair;
    pair.channel->DropAfter(20);
    std::vector<uint8_t> payload(100, 0x5A);
    EXPECT_FALSE(pair.channel->Send(RequestCode(MessageType::kWriteFile), 1, payload));
    std::vector<uint8_t> arrived = pair.ReadRawToEnd();
    EXPECT_EQ(arrived.size(), 20u);
    Frame got;
    EXPECT_NE(pair.channel->Receive(got), ReceiveResult::kFrame);

    // Counting inbound bytes too: the budget ends inside the incoming frame.
    Pair inbound;
    inbound.channel->DropAfter(kHeaderBytes + 2);
    std::vector<uint8_t> frame = Header(AnswerCode(MessageType::kInit), 1, 8);
    frame.resize(frame.size() + 8);
    inbound.SendRaw(frame);
    EXPECT_EQ(inbound.channel->Receive(got), ReceiveResult::kBroken);
    EXPECT_FALSE(inbound.channel->Send(RequestCode(MessageType::kInit), 2, {}));

    // No fault: nothing is counted.
    Pair free;
    free.channel->DropAfter(-1);
    EXPECT_TRUE(free.channel->Send(RequestCode(MessageType::kWriteFile), 1, payload));
}

}  // namespace
}  // namespace nuva::cable
