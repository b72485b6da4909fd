// The check of every part against its PartSum before anything is touched.
#include "reflash/part_check.h"

#include <gtest/gtest.h>

#include "formats/byte_sum.h"
#include "model_handheld.h"

namespace nuva::reflash {
namespace {

class PartCheckTest : public ::testing::Test {
  protected:
    PartCheckTest() : system(bus) {}

    void AddRecord(uint32_t index, uint32_t bytes, bool withFile = true) {
        ImagePart& part = handoff.records[handoff.Items++];
        SetPartName(part.PartName, index);
        part.FlashAddress = 0xA0040000 + index * 0x200000;
        auto data = test::PartBytes(bytes, index);
        part.PartSum = ByteSum(data.data(), data.size());
        if (withFile) {
            system.files[part.PartName.data()] = std::move(data);
        }
    }
    std::vector<uint8_t>& FileOf(size_t record) {
        return system.files[handoff.records[record].PartName.data()];
    }

    test::ModelBus bus;
    test::ModelSystem system;
    HandoffFile handoff;
};

TEST_F(PartCheckTest, AcceptsCorrectPartsReadInPiecesOf512Bytes) {
    AddRecord(2, 1300);
    AddRecord(1, 512);
    AddRecord(0, 3);
    PartCheckResult result = CheckParts(handoff, system);
    EXPECT_EQ(result.check, PartCheck::kOk);
    EXPECT_EQ(system.readSizes, (std::vector<uint32_t>{512, 512, 276, 512, 3}));
}

TEST_F(PartCheckTest, SkipsAMissingFirstPartOnly) {
    AddRecord(2, 100, false);
    AddRecord(1, 100);
    EXPECT_EQ(CheckParts(handoff, system).check, PartCheck::kOk);

    AddRecord(0, 100, false);
    PartCheckResult result = CheckParts(handoff, system);
    EXPECT_EQ(result.check, PartCheck::kCreateFile);
    EXPECT_EQ(result.record, 2u);
}

TEST_F(PartCheckTest, NamesTheRecordThatFailsAndHowItFails) {
    AddRecord(3, 2000);
    AddRecord(2, 2000);
    AddRecord(1, 2000);

    FileOf(1)[1234] ^= 0x01;
    PartCheckResult sum = CheckParts(handoff, system);
    EXPECT_EQ(sum.check, PartCheck::kCheckSum);
    EXPECT_EQ(sum.record, 1u);
    FileOf(1)[1234] ^= 0x01;

    // The same bytes in another order add up the same: the sum is what is checked.
    std::swap(FileOf(2)[0], FileOf(2)[1]);
    EXPECT_EQ(CheckParts(handoff, system).check, PartCheck::kOk);

    FileOf(2).clear();
    PartCheckResult empty = CheckParts(handoff, system);
    EXPECT_EQ(empty.check, PartCheck::kGetFileSize);
    EXPECT_EQ(empty.record, 2u);

    // An empty first part is not missing: it fails.
    FileOf(0).clear();
    EXPECT_EQ(CheckParts(handoff, system).check, PartCheck::kGetFileSize);
    EXPECT_EQ(CheckParts(handoff, system).record, 0u);
}

class ShortReadFiles final : public PartFiles {
  public:
    bool Open(const char16_t*) override { return true; }
    bool Size(uint32_t* bytes) override {
        *bytes = 1000;
        return true;
    }
    bool Read(uint8_t* buffer, uint32_t count, uint32_t* done) override {
        std::fill_n(buffer, count, uint8_t{1});
        *done = reads++ == 0 ? count : count / 2;
        return true;
    }
    void Close() override {}
    bool Delete(const char16_t*) override { return false; }
    int reads = 0;
};

TEST_F(PartCheckTest, AShortReadIsAReadFailure) {
    AddRecord(1, 1000);
    ShortReadFiles files;
    PartCheckResult result = CheckParts(handoff, files);
    EXPECT_EQ(result.check, PartCheck::kReadFile);
    EXPECT_EQ(files.reads, 2);
}

TEST_F(PartCheckTest, APartTheBuffersOrTheFlashCannotTakeIsRefusedBeforeItIsRead) {
    AddRecord(1, 100);
    handoff.records[0].FlashAddress = 0xA3FFFFC0;  // 100 bytes would run past the flash window
    PartCheckResult result = CheckParts(handoff, system);
    EXPECT_EQ(result.check, PartCheck::kDoesNotFit);
    EXPECT_TRUE(system.readSizes.empty());
}

}  // namespace
}  // namespace nuva::reflash
