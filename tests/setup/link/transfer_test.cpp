// The lowest layer of the device link: whole-file copies, slice copies with
// progress, and the desktop-side byte sum, against the scripted handheld.
#include "setup/link/transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "formats/byte_sum.h"
#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "platform/clock/clock.h"
#include "setup/link/device_access.h"
#include "tests/setup/link/fake_rapi.h"
#include "tests/setup/link/link_test_support.h"

namespace nuva {
namespace {

using link_test::Bytes;
using link_test::Pattern;
using link_test::Posted;

class TransferTest : public testing::Test {
  protected:
    void SetUp() override {
        fake_rapi::Reset();
        SetTimeScale(0);
    }
    void TearDown() override { EXPECT_EQ(fake_rapi::OpenHandles(), 0u) << "a device file was left open"; }
    std::vector<DWORD> WriteSizes(const std::u16string& path) {
        std::vector<DWORD> sizes;
        for (const auto& w : fake_rapi::Writes()) {
            if (w.path == path)
                sizes.push_back(w.size);
        }
        return sizes;
    }
    link_test::ScratchDir dir_;
};

TEST_F(TransferTest, CopyFileReplacesTheDeviceFileInChunks) {
    const Bytes content = Pattern(40000);
    const std::string source = dir_.Write("agent.dll", content);
    fake_rapi::PutFile(u"\\Windows\\agent.dll", Pattern(100000, 7));

    ASSERT_EQ(CopyFileToDevice(source, u"\\Windows\\agent.dll"), 0);
    EXPECT_EQ(fake_rapi::File(u"\\Windows\\agent.dll"), content);
    EXPECT_EQ(WriteSizes(u"\\Windows\\agent.dll"), (std::vector<DWORD>{16384, 16384, 7232}));
}

TEST_F(TransferTest, CopyFileFailures) {
    // An empty desktop file fails, after the device file was made anew.
    const std::string empty = dir_.Write("empty.bin", {});
    fake_rapi::PutFile(u"\\a.bin", Pattern(10));
    EXPECT_EQ(CopyFileToDevice(empty, u"\\a.bin"), kCopyFileFailed);
    EXPECT_EQ(fake_rapi::File(u"\\a.bin"), Bytes{});

    // No desktop file: nothing happens on the handheld.
    fake_rapi::PutFile(u"\\b.bin", Pattern(10));
    EXPECT_EQ(CopyFileToDevice(dir_.Path("missing.bin"), u"\\b.bin"), kCopyFileFailed);
    EXPECT_EQ(fake_rapi::File(u"\\b.bin"), Pattern(10));

    // A desktop "file" that cannot be read.
    EXPECT_EQ(CopyFileToDevice(dir_.Path(""), u"\\c.bin"), kCopyFileFailed);

    const std::string source = dir_.Write("src.bin", Pattern(50000));
    // The device file cannot be created.
    fake_rapi::FailCreate(u"\\d.bin");
    EXPECT_EQ(CopyFileToDevice(source, u"\\d.bin"), kCopyFileFailed);

    // A failed write, and a write the handheld took only part of.
    fake_rapi::SetWriteFilter([](const std::u16string&, DWORD) { return -1L; });
    EXPECT_EQ(CopyFileToDevice(source, u"\\e.bin"), kCopyFileFailed);
    fake_rapi::SetWriteFilter([](const std::u16string&, DWORD size) { return static_cast<long>(size) - 1; });
    EXPECT_EQ(CopyFileToDevice(source, u"\\f.bin"), kCopyFileFailed);

    // The link is gone.
    fake_rapi::SetWriteFilter(nullptr);
    fake_rapi::SetPlugged(false);
    EXPECT_EQ(CopyFileToDevice(source, u"\\g.bin"), kCopyFileFailed);
}

TEST_F(TransferTest, SliceOfTwoChunksAndOneByte) {
    const Bytes content = Pattern(100000);
    const std::string source = dir_.Write("image.bin", content);
    DesktopFile file = DesktopFile::OpenForReading(source);
    ASSERT_TRUE(file.SeekTo(1000));
    fake_rapi::PutFile(u"\\TEMP\\3", Pattern(90000, 3));  // an older, longer copy

    link_test::RecordingSink sink;
    ASSERT_EQ(CopySliceToDevice(file, &sink, 32769, u"\\TEMP\\3"), 0u);

    EXPECT_EQ(fake_rapi::File(u"\\TEMP\\3"), Bytes(content.begin() + 1000, content.begin() + 33769));
    EXPECT_EQ(WriteSizes(u"\\TEMP\\3"), (std::vector<DWORD>{16384, 16384, 1}));
    EXPECT_EQ(sink.Posts(), (std::vector<Posted>{{WM_FILE_PROGRESS, 16384, 32769},
                                                 {WM_FILE_PROGRESS, 32768, 32769},
                                                 {WM_FILE_PROGRESS, 32769, 32769}}));
    // The copy read on from where it started and stopped at the range's end.
    Bytes next(1);
    ASSERT_EQ(file.Read(next.data(), 1), 1u);
    EXPECT_EQ(next[0], content[33769]);
}

TEST_F(TransferTest, LongSliceIsSentInChunksAndSummedAsItGoes) {
    // Longer than the buffer the desktop file is read into, and not a whole
    // number of buffers or chunks.
    const Bytes content = Pattern(200000, 5);
    DesktopFile file = DesktopFile::OpenForReading(dir_.Write("image.bin", content));
    ASSERT_TRUE(file.SeekTo(7));
    uint32_t sum = 0;
    link_test::RecordingSink sink;
    ASSERT_EQ(CopySliceToDevice(file, &sink, 150001, u"\\TEMP\\6", &sum), 0u);

    EXPECT_EQ(fake_rapi::File(u"\\TEMP\\6"), Bytes(content.begin() + 7, content.begin() + 150008));
    std::vector<DWORD> sizes(9, 16384);
    sizes.push_back(150001 - 9 * 16384);
    EXPECT_EQ(WriteSizes(u"\\TEMP\\6"), sizes) << "the handheld gets 16 KB per write, whatever is read";
    ASSERT_EQ(sink.Posts().size(), sizes.size());
    EXPECT_EQ(sink.Posts().back(), (Posted{WM_FILE_PROGRESS, 150001, 150001}));
    EXPECT_EQ(sum, ByteSum(content.data() + 7, 150001, 0));
    Bytes next(1);
    ASSERT_EQ(file.Read(next.data(), 1), 1u);
    EXPECT_EQ(next[0], content[150008]) << "the copy reads nothing past its range";

    // A copy that fails part way gives no sum.
    sum = 0x1234;
    ASSERT_TRUE(file.SeekTo(0));
    int calls = 0;
    fake_rapi::SetWriteFilter(
        [&](const std::u16string&, DWORD size) { return ++calls == 6 ? -1L : static_cast<long>(size); });
    EXPECT_EQ(CopySliceToDevice(file, nullptr, 150001, u"\\TEMP\\7", &sum), kDeviceCopyFailed);
    EXPECT_EQ(sum, 0x1234u);
}

TEST_F(TransferTest, SliceToAGoneWindowStillCopies) {
    const Bytes content = Pattern(20000);
    DesktopFile file = DesktopFile::OpenForReading(dir_.Write("image.bin", content));
    link_test::RecordingSink sink;
    sink.Destroy();
    ASSERT_EQ(CopySliceToDevice(file, &sink, 20000, u"\\TEMP\\0"), 0u);
    EXPECT_EQ(fake_rapi::File(u"\\TEMP\\0"), content);
    EXPECT_TRUE(sink.Posts().empty());

    ASSERT_TRUE(file.SeekTo(0));
    ASSERT_EQ(CopySliceToDevice(file, nullptr, 20000, u"\\TEMP\\1"), 0u);
    EXPECT_EQ(fake_rapi::File(u"\\TEMP\\1"), content);
}

TEST_F(TransferTest, SliceFailures) {
    const std::string source = dir_.Write("image.bin", Pattern(40000));
    DesktopFile file = DesktopFile::OpenForReading(source);
    EXPECT_EQ(CopySliceToDevice(file, nullptr, 0, u"\\TEMP\\0"), kDeviceCopyFailed);
    EXPECT_FALSE(fake_rapi::File(u"\\TEMP\\0")) << "an empty range creates nothing";

    fake_rapi::FailCreate(u"\\TEMP\\1");
    EXPECT_EQ(CopySliceToDevice(file, nullptr, 100, u"\\TEMP\\1"), kDeviceCopyFailed);

    // The desktop file ends inside the range.
    ASSERT_TRUE(file.SeekTo(30000));
    EXPECT_EQ(CopySliceToDevice(file, nullptr, 20000, u"\\TEMP\\2"), kDeviceCopyFailed);

    // A read that fails outright.
    DesktopFile folder = DesktopFile::OpenForReading(dir_.Path(""));
    ASSERT_TRUE(folder.IsOpen());
    EXPECT_EQ(CopySliceToDevice(folder, nullptr, 100, u"\\TEMP\\3"), kDeviceCopyFailed);

    // Failed and short writes.
    ASSERT_TRUE(file.SeekTo(0));
    fake_rapi::SetWriteFilter([](const std::u16string&, DWORD) { return -1L; });
    EXPECT_EQ(CopySliceToDevice(file, nullptr, 100, u"\\TEMP\\4"), kDeviceCopyFailed);
    ASSERT_TRUE(file.SeekTo(0));
    int calls = 0;
    fake_rapi::SetWriteFilter([&](const std::u16string&, DWORD size) {
        return ++calls == 2 ? static_cast<long>(size / 2) : static_cast<long>(size);
    });
    link_test::RecordingSink sink;
    EXPECT_EQ(CopySliceToDevice(file, &sink, 40000, u"\\TEMP\\5"), kDeviceCopyFailed);
    EXPECT_EQ(sink.Posts(), (std::vector<Posted>{{WM_FILE_PROGRESS, 16384, 40000}}))
        << "a short chunk is not reported as done";
}

TEST_F(TransferTest, SumFileRange) {
    const Bytes content = Pattern(70000);
    DesktopFile file = DesktopFile::OpenForReading(dir_.Write("image.bin", content));
    ASSERT_TRUE(file.SeekTo(512));
    uint32_t sum = 0;
    ASSERT_EQ(SumFileRange(file, 65537, sum), 0u);
    EXPECT_EQ(sum, ByteSum(content.data() + 512, 65537, 0));

    ASSERT_TRUE(file.SeekTo(0));
    ASSERT_EQ(SumFileRange(file, 0, sum), 0u);
    EXPECT_EQ(sum, 0u) << "an empty range sums to 0";

    // A range that runs past the end fails and leaves the sum alone.
    sum = 0x1234;
    ASSERT_TRUE(file.SeekTo(60000));
    EXPECT_EQ(SumFileRange(file, 10001, sum), kDesktopReadFailed);
    EXPECT_EQ(sum, 0x1234u);

    DesktopFile folder = DesktopFile::OpenForReading(dir_.Path(""));
    EXPECT_EQ(SumFileRange(folder, 1, sum), kDesktopReadFailed);
}

TEST_F(TransferTest, DeviceCallsWaitForTheAccessLock) {
    const std::string source = dir_.Write("src.bin", Pattern(1000));
    std::unique_lock held(DeviceAccessLock());
    std::atomic<bool> finished{false};
    std::thread copier([&] {
        EXPECT_EQ(CopyFileToDevice(source, u"\\x.bin"), 0);
        finished = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(finished.load());
    EXPECT_FALSE(fake_rapi::File(u"\\x.bin")) << "the copy reached the handheld past the lock";
    held.unlock();
    copier.join();
    EXPECT_EQ(fake_rapi::File(u"\\x.bin"), Pattern(1000));
}

}  // namespace
}  // namespace nuva
