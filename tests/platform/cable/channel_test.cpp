#include "platform/cable/channel.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "formats/le.h"

namespace nuva::cable {
namespace {

struct Pair {
    Pair() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        channel = std::make_unique<Channel>(UniqueFd(fds[0]),
                                            [this](const std::string& line) { log.push_back(line); });
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

std::vector<uint8_t> Copy(std::span<const uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> Header(uint16_t type, uint32_t sequence, uint32_t length) {
    std::vector<uint8_t> bytes(kHeaderBytes);
    EncodeHeader(FrameHeader{type, sequence, length}, bytes.data());
    return bytes;
}

TEST(CableChannel, FramesCrossWholeAndUntrustedHeadersAreRefusedAndReported) {
    Pair pair;
    std::vector<uint8_t> payload = Encode(ReadFileRequest{3, 100}).Bytes();
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
    EXPECT_EQ(Copy(got.payload), (std::vector<uint8_t>{7, 8, 9}));
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
    EXPECT_FALSE(inbound.channel->Send(RequestCode(MessageType::kInit), 2, Encode(InitRequest{})));

    // No fault: nothing is counted.
    Pair free;
    free.channel->DropAfter(-1);
    EXPECT_TRUE(free.channel->Send(RequestCode(MessageType::kWriteFile), 1, payload));
}

TEST(CableChannel, FramesThatArriveTogetherOrOutgrowTheBufferComeOutWholeAndInOrder) {
    Pair pair;
    // A frame larger than the receive buffer starts with, then two small ones
    // in the same write: the buffer grows, and what came early waits.
    std::vector<uint8_t> big(1024 * 1024 + 3);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    }
    std::vector<uint8_t> stream =
        Header(RequestCode(MessageType::kWriteFile), 1, static_cast<uint32_t>(big.size()));
    stream.insert(stream.end(), big.begin(), big.end());
    for (uint32_t sequence : {2u, 3u}) {
        std::vector<uint8_t> small = Header(RequestCode(MessageType::kCloseHandle), sequence, 4);
        small.insert(small.end(), {static_cast<uint8_t>(sequence), 0, 0, 0});
        stream.insert(stream.end(), small.begin(), small.end());
    }
    auto writer = std::async(std::launch::async, [&] { pair.SendRaw(stream); });

    Frame got;
    ASSERT_EQ(pair.channel->Receive(got), ReceiveResult::kFrame);
    EXPECT_EQ(got.header.sequence, 1u);
    EXPECT_EQ(Copy(got.payload), big);
    writer.get();
    ASSERT_EQ(pair.channel->Receive(got), ReceiveResult::kFrame);
    EXPECT_EQ(got.header.sequence, 2u);
    EXPECT_EQ(Copy(got.payload), (std::vector<uint8_t>{2, 0, 0, 0}));
    // The third frame has been taken from the socket already: it still
    // counts as the peer having spoken.
    EXPECT_EQ(pair.channel->PeerStirred(), Channel::Stir::kSpoke);
    ASSERT_EQ(pair.channel->Receive(got), ReceiveResult::kFrame);
    EXPECT_EQ(got.header.sequence, 3u);
    EXPECT_EQ(Copy(got.payload), (std::vector<uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(pair.channel->PeerStirred(), Channel::Stir::kQuiet);
    pair.raw = UniqueFd();
    EXPECT_EQ(pair.channel->Receive(got), ReceiveResult::kClosed);
    EXPECT_TRUE(pair.log.empty());
}

TEST(CableChannel, FieldsAndDataLeaveAsOnePayloadAndNothingAboveTheCapLeaves) {
    Pair pair;
    const std::vector<uint8_t> data(20000, 0xC3);
    const Encoded request = Encode(WriteFileRequest{9, data});
    ASSERT_TRUE(pair.channel->Send(RequestCode(MessageType::kWriteFile), 4, request));
    std::vector<uint8_t> arrived(kHeaderBytes + request.Size());
    size_t done = 0;
    while (done < arrived.size()) {
        ssize_t n = read(pair.raw.Get(), arrived.data() + done, arrived.size() - done);
        ASSERT_GT(n, 0);
        done += static_cast<size_t>(n);
    }
    FrameHeader header;
    ASSERT_EQ(DecodeHeader(arrived.data(), header), FrameError::kNone);
    EXPECT_EQ(header.length, request.Size());
    WriteFileRequest decoded;
    ASSERT_TRUE(Decode(std::span<const uint8_t>(arrived).subspan(kHeaderBytes), decoded));
    EXPECT_EQ(decoded.handle, 9u);
    EXPECT_EQ(Copy(decoded.data), data);

    const std::vector<uint8_t> tooMuch(kMaxPayload - 3);
    EXPECT_FALSE(
        pair.channel->Send(RequestCode(MessageType::kWriteFile), 5, std::vector<uint8_t>(4), tooMuch));
    ASSERT_EQ(pair.log.size(), 1u);
    EXPECT_NE(pair.log[0].find("larger than the cable allows"), std::string::npos);
}

// The processor time a thread has used so far.
std::chrono::nanoseconds ThreadCpuTime(pthread_t thread) {
    clockid_t clock;
    timespec used{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &used) != 0) {
        ADD_FAILURE() << "no processor clock for the thread";
    }
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

TEST(CableChannel, AReceiveOnAQuietConnectionSleepsAndAShutdownWakesIt) {
    Pair pair;
    std::promise<pthread_t> started;
    std::thread receiver([&] {
        started.set_value(pthread_self());
        Frame got;
        EXPECT_EQ(pair.channel->Receive(got), ReceiveResult::kClosed);
    });
    const pthread_t thread = started.get_future().get();
    const auto before = ThreadCpuTime(thread);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto used = ThreadCpuTime(thread) - before;
    pair.channel->Shutdown();
    receiver.join();
    // A receive looks for a moment without sleeping; then it waits in the
    // kernel. Spinning for the whole wait would have used most of it.
    EXPECT_LT(used, std::chrono::milliseconds(30))
        << "the receive kept the processor busy while nothing came";
}

}  // namespace
}  // namespace nuva::cable
