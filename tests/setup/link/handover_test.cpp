// Leaving the update on the handheld: parts copied and confirmed with their
// retries, the filler for the large class, the flasher in the start-up
// folder, and the hand-over file.
#include "setup/link/handover.h"

#include <gtest/gtest.h>

#include "formats/byte_sum.h"
#include "formats/device_info.h"
#include "formats/image_header.h"
#include "formats/le.h"
#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "platform/clock/clock.h"
#include "setup/resources/settings.h"
#include "tests/setup/link/fake_rapi.h"
#include "tests/setup/link/link_test_support.h"

namespace nuva {
namespace {

using fake_rapi::InvokeAnswer;
using fake_rapi::InvokeCall;
using link_test::Bytes;
using link_test::Pattern;
using link_test::Posted;

// A plan over parts of the given lengths, laid out one after the other from
// content offset 0, as the plan builder lays them out.
UpdateHandoff PlanOf(const std::vector<uint32_t>& lengths) {
    UpdateHandoff plan;
    plan.RecordSize = kHandoffRecordSize;
    plan.UI = kFrameBufferAddress;
    plan.absoluate = 0xA5FCE000;
    plan.FRsvd = 0x85FEC004;
    plan.Status = {0, 1};
    plan.Items = static_cast<uint32_t>(lengths.size());
    uint32_t offset = 0;
    for (uint32_t i = 0; i < lengths.size(); ++i) {
        ImagePart& part = plan.parts[i];
        SetPartName(part.PartName, i);
        part.ImageOffset = offset;
        part.FlashAddress = kImageFlashAddress + offset;
        part.PartLength = lengths[i];
        part.FirstFlag = i == 0 ? 1 : 0;
        part.LateFlag = i > 3 ? 1 : 0;
        part.Slot = plan.Items - 1 - i;
        offset += lengths[i];
    }
    plan.TotalBytes = offset;
    return plan;
}

std::u16string PartPath(uint32_t index) {
    return u"\\TEMP\\" + std::u16string(1, static_cast<char16_t>(u'0' + index));
}

class HandoverTest : public testing::Test {
  protected:
    void SetUp() override {
        fake_rapi::Reset();
        SetTimeScale(0);
    }
    void TearDown() override {
        EXPECT_EQ(fake_rapi::OpenHandles(), 0u);
        EXPECT_EQ(fake_rapi::LiveBlocks(), 0u);
        EXPECT_EQ(fake_rapi::HeapErrors(), 0);
    }
    // An image file: 512 header bytes, then `contentBytes` of content.
    std::string Image(uint32_t contentBytes) {
        image_ = Pattern(kImageHeaderSize + contentBytes, 42);
        return dir_.Write("image.nb0", image_);
    }
    Bytes Content(uint32_t offset, uint32_t length) const {
        return Bytes(image_.begin() + kImageHeaderSize + offset,
                     image_.begin() + kImageHeaderSize + offset + length);
    }
    // Counts the agent's sum checks per part and lets `wrong(index, n)`
    // decide whether the n-th check (from 1) of a part answers a wrong sum.
    void CheckSums(std::function<bool(uint32_t index, int n)> wrong) {
        fake_rapi::SetInvokeHandler([this, wrong](const InvokeCall& call) {
            InvokeAnswer answer = fake_rapi::AgentAnswer(call, Bytes(124), Bytes());
            if (call.function != u"IsCheckSumOk" || !answer.output)
                return answer;
            const uint32_t index = call.input[12] - u'0';  // "\TEMP\" is six characters
            const int n = ++checks_[index];
            if (wrong(index, n))
                StoreLe32(answer.output->data(), LoadLe32(answer.output->data()) + 1);
            return answer;
        });
    }

    link_test::ScratchDir dir_;
    Bytes image_;
    std::map<uint32_t, int> checks_;
    std::atomic<int32_t> connected_{1};
};

TEST_F(HandoverTest, BasicHandheldGetsEveryPartConfirmedAndNoFiller) {
    const std::string path = Image(90000);
    UpdateHandoff plan = PlanOf({40000, 32769, 17231});
    CheckSums([](uint32_t, int) { return false; });
    link_test::RecordingSink sink;

    ASSERT_EQ(TransferImageParts(&sink, path, plan, kMemoryConfigBasic, connected_), 0u);

    for (uint32_t i = 0; i < 3; ++i) {
        const ImagePart& part = plan.parts[i];
        const Bytes expected = Content(part.ImageOffset, part.PartLength);
        EXPECT_EQ(fake_rapi::File(PartPath(i)), expected) << "part " << i;
        EXPECT_EQ(part.PartSum, ByteSum(expected.data(), expected.size(), 0)) << "part " << i;
        EXPECT_EQ(checks_[i], 1);
    }
    EXPECT_FALSE(fake_rapi::File(kFillerPath));
    EXPECT_EQ(sink.Posts(WM_OVERALL_PROGRESS), (std::vector<Posted>{{WM_OVERALL_PROGRESS, 0, 90000},
                                                                    {WM_OVERALL_PROGRESS, 40000, 90000},
                                                                    {WM_OVERALL_PROGRESS, 72769, 90000},
                                                                    {WM_OVERALL_PROGRESS, 90000, 90000}}));
    // Overall progress comes before any part's own, and each part's last
    // file progress is its whole length.
    const auto posts = sink.Posts();
    ASSERT_FALSE(posts.empty());
    EXPECT_EQ(posts.front().message, WM_OVERALL_PROGRESS);
    EXPECT_EQ(sink.Posts(WM_FILE_PROGRESS).size(), 3u + 3u + 2u);
    EXPECT_EQ(posts[posts.size() - 2], (Posted{WM_FILE_PROGRESS, 17231, 17231}));
}

TEST_F(HandoverTest, AdvancedHandheldGetsTheFillerFirst) {
    const std::string path = Image(kFillerBytes + 20000);
    UpdateHandoff plan = PlanOf({kFillerBytes, 20000});
    CheckSums([](uint32_t, int) { return false; });
    link_test::RecordingSink sink;

    ASSERT_EQ(TransferImageParts(&sink, path, plan, kMemoryConfigAdvanced, connected_), 0u);

    EXPECT_EQ(fake_rapi::File(kFillerPath), Bytes(image_.begin(), image_.begin() + kFillerBytes))
        << "the filler is the file's first 5 MB, header included";
    EXPECT_EQ(fake_rapi::File(PartPath(1)), Content(kFillerBytes, 20000));
    const uint32_t total = plan.TotalBytes + kFillerBytes;
    EXPECT_EQ(sink.Posts(WM_OVERALL_PROGRESS),
              (std::vector<Posted>{{WM_OVERALL_PROGRESS, 0, plan.TotalBytes},
                                   {WM_OVERALL_PROGRESS, kFillerBytes, total},
                                   {WM_OVERALL_PROGRESS, 2 * kFillerBytes, total},
                                   {WM_OVERALL_PROGRESS, total, total}}));

    // The filler's own failure does not decide the outcome.
    fake_rapi::Reset();
    fake_rapi::FailCreate(kFillerPath);
    plan = PlanOf({kFillerBytes, 20000});
    EXPECT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigAdvanced, connected_), 0u);
    EXPECT_EQ(fake_rapi::File(PartPath(1)), Content(kFillerBytes, 20000));
}

TEST_F(HandoverTest, APartIsRetriedUntilTheHandheldConfirmsIt) {
    const std::string path = Image(30000);
    // Part 1's sum differs three times, then matches.
    UpdateHandoff plan = PlanOf({10000, 20000});
    CheckSums([](uint32_t index, int n) { return index == 1 && n <= 3; });
    ASSERT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigBasic, connected_), 0u);
    EXPECT_EQ(checks_[1], 4);
    const Bytes part1 = Content(10000, 20000);
    EXPECT_EQ(plan.parts[1].PartSum, ByteSum(part1.data(), part1.size(), 0));

    // Four times: the handheld never confirmed it.
    checks_.clear();
    plan = PlanOf({10000, 20000});
    CheckSums([](uint32_t index, int) { return index == 0; });
    EXPECT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigBasic, connected_), kPartNotConfirmed);
    EXPECT_EQ(checks_[0], 4);
    EXPECT_EQ(plan.parts[0].PartSum, 0u);
    EXPECT_EQ(checks_.count(1), 0u) << "no later part is tried";
}

TEST_F(HandoverTest, CopyFailuresAreRetriedThenReported) {
    const std::string path = Image(30000);
    UpdateHandoff plan = PlanOf({10000, 20000});
    // Part 0's first two copies fail, the third goes through.
    int zeroWrites = 0;
    fake_rapi::SetWriteFilter([&](const std::u16string& name, DWORD size) {
        if (name == u"\\TEMP\\0" && ++zeroWrites <= 2)
            return -1L;
        return static_cast<long>(size);
    });
    ASSERT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigBasic, connected_), 0u);
    EXPECT_EQ(fake_rapi::File(PartPath(0)), Content(0, 10000));

    // Part 1 cannot be written at all: four attempts, then the copy's code.
    int oneWrites = 0;
    fake_rapi::SetWriteFilter([&](const std::u16string& name, DWORD size) {
        if (name == u"\\TEMP\\1") {
            ++oneWrites;
            return -1L;
        }
        return static_cast<long>(size);
    });
    plan = PlanOf({10000, 20000});
    EXPECT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigBasic, connected_), kDeviceCopyFailed);
    EXPECT_EQ(oneWrites, 4);
    EXPECT_NE(plan.parts[0].PartSum, 0u);
    EXPECT_EQ(plan.parts[1].PartSum, 0u);

    // An image shorter than the plan says.
    fake_rapi::SetWriteFilter(nullptr);
    plan = PlanOf({10000, 30000});
    EXPECT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigBasic, connected_), kDeviceCopyFailed);
}

TEST_F(HandoverTest, ALinkDropBetweenPartsIsNeverASuccess) {
    const std::string path = Image(30000);
    UpdateHandoff plan = PlanOf({10000, 10000, 10000});
    // The link drops while part 0 is confirmed and is back before anyone
    // looks: parts 1 and 2 were never copied.
    fake_rapi::SetInvokeHandler([&](const InvokeCall& call) {
        if (call.function == u"IsCheckSumOk")
            connected_ = 0;
        return fake_rapi::AgentAnswer(call, Bytes(124), Bytes());
    });
    link_test::RecordingSink sink;
    EXPECT_EQ(TransferImageParts(&sink, path, plan, kMemoryConfigBasic, connected_), kDeviceCopyFailed);
    connected_ = 1;
    EXPECT_TRUE(fake_rapi::File(PartPath(0)));
    EXPECT_FALSE(fake_rapi::File(PartPath(1)));
    EXPECT_EQ(plan.parts[1].PartSum, 0u);
    EXPECT_EQ(sink.Posts(WM_OVERALL_PROGRESS).back(), (Posted{WM_OVERALL_PROGRESS, 10000, 30000}));

    // The link drops during a part's retries: no further attempt, and the
    // result names the lost copy, not a failed integrity check.
    fake_rapi::Reset();
    plan = PlanOf({10000, 10000});
    int checks = 0;
    fake_rapi::SetInvokeHandler([&](const InvokeCall& call) {
        InvokeAnswer answer = fake_rapi::AgentAnswer(call, Bytes(124), Bytes());
        if (call.function == u"IsCheckSumOk") {
            ++checks;
            connected_ = 0;
            answer.output->at(0) ^= 1;
        }
        return answer;
    });
    EXPECT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigBasic, connected_), kDeviceCopyFailed);
    EXPECT_EQ(checks, 1);

    // Not connected from the start: nothing is copied.
    fake_rapi::Reset();
    plan = PlanOf({10000});
    EXPECT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigBasic, connected_), kDeviceCopyFailed);
    EXPECT_TRUE(fake_rapi::FileNames().empty());
}

TEST_F(HandoverTest, BadInputIsRefused) {
    UpdateHandoff plan = PlanOf({100});
    EXPECT_EQ(TransferImageParts(nullptr, dir_.Path("missing.nb0"), plan, kMemoryConfigBasic, connected_),
              kDeviceCopyFailed);
    const std::string path = Image(1000);
    plan.Items = kMaxImageParts + 1;
    EXPECT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigBasic, connected_), kDeviceCopyFailed);
    plan = PlanOf({100});
    plan.parts[0].PartName.fill(u'x');  // no terminator
    EXPECT_EQ(TransferImageParts(nullptr, path, plan, kMemoryConfigBasic, connected_), kDeviceCopyFailed);
    EXPECT_TRUE(fake_rapi::FileNames().empty());
}

TEST_F(HandoverTest, StartupFolderChanges) {
    fake_rapi::PutFile(u"\\Windows\\StartUp\\poutlook.lnk", Pattern(10));
    fake_rapi::PutFile(u"\\Windows\\StartUp\\Welcome.lnk", Pattern(10));
    fake_rapi::PutFile(u"\\Windows\\StartUp\\other.lnk", Pattern(10));
    RemoveStartupShortcuts();
    EXPECT_EQ(fake_rapi::FileNames(), (std::vector<std::u16string>{u"\\Windows\\StartUp\\other.lnk"}));

    const Bytes flasher = link_test::ReadDesktopFile(InstallDirOf(RunningProgramPath()) + "Reflash.exe");
    ASSERT_FALSE(flasher.empty()) << "the build puts a stand-in flasher beside the test program";
    ASSERT_EQ(PlaceReflash(), 0);
    EXPECT_EQ(fake_rapi::File(u"\\Windows\\StartUp\\Reflash.exe"), flasher);

    // A handheld that does not name its start-up folder gets nothing.
    fake_rapi::Reset();
    fake_rapi::SetStartupFolder(std::nullopt);
    fake_rapi::PutFile(u"\\poutlook.lnk", Pattern(10));
    RemoveStartupShortcuts();
    EXPECT_EQ(PlaceReflash(), kCopyFileFailed);
    EXPECT_EQ(fake_rapi::FileNames(), (std::vector<std::u16string>{u"\\poutlook.lnk"}));
}

TEST_F(HandoverTest, WriteUpdateInfo) {
    UpdateHandoff plan = PlanOf({0x300000, 0x200000, 0x80000});
    plan.parts[0].PartSum = 0x11111111;
    const auto expected = WriteHandoffFile(plan);
    ASSERT_EQ(WriteUpdateInfo(plan), 0u);
    EXPECT_EQ(fake_rapi::File(u"\\TEMP\\UPDINFO.INI"), Bytes(expected.begin(), expected.end()));

    // It must not exist yet, and an existing one is left as it is.
    EXPECT_EQ(WriteUpdateInfo(PlanOf({100})), kResultFail);
    EXPECT_EQ(fake_rapi::File(kUpdateInfoPath), Bytes(expected.begin(), expected.end()));

    // What was read back differs: the damaged file does not stay behind.
    fake_rapi::Reset();
    fake_rapi::SetReadFilter([](const std::u16string&, Bytes& bytes) {
        if (bytes.size() > 100)
            bytes[100] ^= 0x40;
    });
    EXPECT_EQ(WriteUpdateInfo(plan), kResultFail);
    EXPECT_FALSE(fake_rapi::File(kUpdateInfoPath));

    // A write the handheld took only part of.
    fake_rapi::Reset();
    fake_rapi::SetWriteFilter([](const std::u16string&, DWORD size) { return static_cast<long>(size) - 80; });
    EXPECT_EQ(WriteUpdateInfo(plan), kResultFail);
    EXPECT_FALSE(fake_rapi::File(kUpdateInfoPath));
}

}  // namespace
}  // namespace nuva
