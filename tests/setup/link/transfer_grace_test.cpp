// The parts transfer with a grace window for the cable: a drop in the middle
// of a part is waited out, the parts confirmed before it are confirmed again
// by their sums and not copied again, and a part the handheld no longer
// confirms is copied anew; a drop that outlasts the window ends the run.
#include <gtest/gtest.h>

#include <thread>

#include "formats/byte_sum.h"
#include "formats/device_info.h"
#include "formats/image_header.h"
#include "formats/result_codes.h"
#include "platform/clock/clock.h"
#include "setup/link/handover.h"
#include "tests/setup/link/fake_rapi.h"
#include "tests/setup/link/link_test_support.h"

namespace nuva {
namespace {

using link_test::Bytes;

UpdateHandoff ThreeParts() {
    UpdateHandoff plan;
    plan.RecordSize = kHandoffRecordSize;
    plan.Items = 3;
    for (uint32_t i = 0; i < 3; ++i) {
        ImagePart& part = plan.parts[i];
        SetPartName(part.PartName, i);
        part.ImageOffset = i * 40000;
        part.FlashAddress = kImageFlashAddress + part.ImageOffset;
        part.PartLength = 40000;
        part.Slot = 2 - i;
    }
    plan.TotalBytes = 120000;
    return plan;
}

std::u16string PartPath(uint32_t index) {
    return u"\\TEMP\\" + std::u16string(1, static_cast<char16_t>(u'0' + index));
}

class TransferGraceTest : public testing::Test {
  protected:
    void SetUp() override {
        fake_rapi::Reset();
        SetTimeScale(0);
        image_ = link_test::Pattern(kImageHeaderSize + 120000, 7);
        path_ = dir_.Write("image.nb0", image_);
        grace_.window = std::chrono::seconds(5);
        grace_.note = [this](const std::string& text) { notes_.push_back(text); };
    }
    void TearDown() override {
        if (restorer_.joinable())
            restorer_.join();
        EXPECT_EQ(fake_rapi::OpenHandles(), 0u);
        EXPECT_EQ(fake_rapi::LiveBlocks(), 0u);
    }
    // The cable goes at the `n`th write to part `index`'s file and comes
    // back `after` later; `meanwhile` runs while it is gone.
    void DropAt(uint32_t index, int n, std::chrono::milliseconds after,
                std::function<void()> meanwhile = {}) {
        fake_rapi::SetWriteFilter([=, this](const std::u16string& path, DWORD size) -> long {
            if (path == PartPath(index) && ++writes_ == n) {
                connected_ = 0;
                fake_rapi::SetPlugged(false);
                restorer_ = std::thread([this, after, meanwhile] {
                    if (meanwhile)
                        meanwhile();
                    std::this_thread::sleep_for(after);
                    fake_rapi::SetPlugged(true);
                    connected_ = 1;
                });
                return -1;
            }
            return static_cast<long>(size);
        });
    }
    size_t WritesTo(uint32_t index) {
        size_t count = 0;
        for (const fake_rapi::WriteRecord& write : fake_rapi::Writes())
            count += write.path == PartPath(index) ? 1 : 0;
        return count;
    }
    Bytes Content(uint32_t index) const {
        const auto begin = image_.begin() + kImageHeaderSize + index * 40000;
        return Bytes(begin, begin + 40000);
    }

    link_test::ScratchDir dir_;
    Bytes image_;
    std::string path_;
    std::atomic<int32_t> connected_{1};
    LinkGrace grace_;
    std::vector<std::string> notes_;
    std::thread restorer_;
    int writes_ = 0;
};

TEST_F(TransferGraceTest, ADropWithinTheGraceGoesOnWithThePartItCutAndCopiesNothingTwice) {
    UpdateHandoff plan = ThreeParts();
    DropAt(2, 2, std::chrono::milliseconds(50));
    ASSERT_EQ(TransferImageParts(nullptr, path_, plan, kMemoryConfigBasic, connected_, grace_), 0u);

    // 40000 bytes are three writes; parts 0 and 1 went once, part 2 had one
    // write before the cable went and three after.
    EXPECT_EQ(WritesTo(0), 3u);
    EXPECT_EQ(WritesTo(1), 3u);
    EXPECT_EQ(WritesTo(2), 4u);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fake_rapi::File(PartPath(i)), Content(i)) << i;
        EXPECT_EQ(plan.parts[i].PartSum, ByteSum(Content(i).data(), 40000, 0)) << i;
    }
    ASSERT_EQ(notes_.size(), 2u);
    EXPECT_EQ(notes_[0], "The link dropped during part 2; waiting for it to come back.");
    EXPECT_EQ(notes_[1],
              "The link is back: the handheld confirms parts 0 to 1 by their sums; the copy goes on "
              "with part 2.");
}

TEST_F(TransferGraceTest, APartTheHandheldNoLongerConfirmsIsCopiedAgain) {
    UpdateHandoff plan = ThreeParts();
    // While the cable is out, part 1's file changes on the handheld.
    DropAt(2, 1, std::chrono::milliseconds(50), [] {
        Bytes spoiled = *fake_rapi::File(PartPath(1));
        spoiled[10] ^= 0xFF;
        fake_rapi::PutFile(PartPath(1), spoiled);
    });
    ASSERT_EQ(TransferImageParts(nullptr, path_, plan, kMemoryConfigBasic, connected_, grace_), 0u);
    EXPECT_EQ(WritesTo(0), 3u);
    EXPECT_EQ(WritesTo(1), 6u);
    EXPECT_EQ(fake_rapi::File(PartPath(1)), Content(1));
    ASSERT_GE(notes_.size(), 2u);
    EXPECT_EQ(notes_[1],
              "The link is back: the handheld confirms parts 0 to 0 by their sums; the copy goes on "
              "with part 1.");
}

TEST_F(TransferGraceTest, ADropLongerThanTheGraceEndsTheTransferAsWithoutIt) {
    UpdateHandoff plan = ThreeParts();
    grace_.window = std::chrono::milliseconds(30);
    DropAt(1, 1, std::chrono::milliseconds(400));
    EXPECT_EQ(TransferImageParts(nullptr, path_, plan, kMemoryConfigBasic, connected_, grace_),
              kDeviceCopyFailed);
    EXPECT_EQ(plan.parts[1].PartSum, 0u);
    EXPECT_FALSE(fake_rapi::File(PartPath(2)));
    ASSERT_EQ(notes_.size(), 2u);
    EXPECT_EQ(notes_[1], "The link did not come back in time.");
}

}  // namespace
}  // namespace nuva
