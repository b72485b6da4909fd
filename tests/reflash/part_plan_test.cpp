// The flasher's plans: the final part's order, buffer counts, and which
// hand-over addresses are refused.
#include "reflash/part_plan.h"

#include <gtest/gtest.h>

#include "reflash/flash_routines.h"

namespace nuva::reflash {
namespace {

constexpr uint32_t kMb = kMegabyte;
constexpr uint32_t kHalf = kHalfMegabyte;

struct Expected {
    uint32_t megabyte;
    bool upper;
    uint32_t offset;
    uint32_t length;
    uint32_t copyFrom;
    bool announce;
    bool restart;
};

void ExpectPlan(uint32_t bytes, const std::vector<Expected>& expected) {
    auto steps = PlanFinalPart(bytes);
    ASSERT_EQ(steps.size(), expected.size()) << bytes;
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(testing::Message() << bytes << " bytes, step " << i);
        EXPECT_EQ(steps[i].megabyte, expected[i].megabyte);
        EXPECT_EQ(steps[i].upperHalf, expected[i].upper);
        EXPECT_EQ(steps[i].offset, expected[i].offset);
        EXPECT_EQ(steps[i].length, expected[i].length);
        EXPECT_EQ(steps[i].copyFrom, expected[i].copyFrom);
        EXPECT_EQ(steps[i].announce, expected[i].announce);
        EXPECT_EQ(steps[i].restart, expected[i].restart);
    }
}

TEST(FinalPartPlan, ProgramsFromTheLastMegabyteDownUpperHalfFirstAndRestartsAfterTheFirst) {
    // 2.5 MB: megabyte 2 has only its lower half; its data is in buffer 0.
    // Megabytes 1 and 0 come from buffers 2 and 1; "complete" goes up before
    // megabyte 0, whose lower half restarts the handheld.
    ExpectPlan(2 * kMb + kHalf, {
                                    {2, false, 2 * kMb, kHalf, 0, false, false},
                                    {1, true, kMb + kHalf, kHalf, 2, false, false},
                                    {1, false, kMb, kHalf, 2, false, false},
                                    {0, true, kHalf, kHalf, 1, true, false},
                                    {0, false, 0, kHalf, 1, false, true},
                                });
    // 3 MB, the desktop's first part.
    ExpectPlan(3 * kMb, {
                            {2, true, 2 * kMb + kHalf, kHalf, 0, false, false},
                            {2, false, 2 * kMb, kHalf, 0, false, false},
                            {1, true, kMb + kHalf, kHalf, 2, false, false},
                            {1, false, kMb, kHalf, 2, false, false},
                            {0, true, kHalf, kHalf, 1, true, false},
                            {0, false, 0, kHalf, 1, false, true},
                        });
    // Ragged ends: each step ends where the one before began.
    ExpectPlan(kMb + kHalf + 100, {
                                      {1, true, kMb + kHalf, 100, 0, false, false},
                                      {1, false, kMb, kHalf, 0, false, false},
                                      {0, true, kHalf, kHalf, 1, true, false},
                                      {0, false, 0, kHalf, 1, false, true},
                                  });
    // Up to half a megabyte: one step, announced and restarting.
    ExpectPlan(kHalf, {{0, false, 0, kHalf, 0, true, true}});
    ExpectPlan(64, {{0, false, 0, 64, 0, true, true}});
    ExpectPlan(kHalf + 1, {{0, true, kHalf, 1, 0, true, false}, {0, false, 0, kHalf, 0, false, true}});
    EXPECT_TRUE(PlanFinalPart(0).empty());
}

TEST(FinalPartPlan, CoversEveryByteOnceForAnySize) {
    for (uint32_t bytes : {1u, 63u, kHalf - 1, kMb, kMb + 1, 5 * kMb + 3, 64 * kMb}) {
        auto steps = PlanFinalPart(bytes);
        uint32_t end = bytes;
        for (const auto& step : steps) {
            EXPECT_EQ(step.offset + step.length, end) << bytes;
            EXPECT_GT(step.length, 0u);
            EXPECT_LE(step.length, kHalf);
            end = step.offset;
        }
        EXPECT_EQ(end, 0u) << bytes;
        EXPECT_EQ(std::count_if(steps.begin(), steps.end(), [](const auto& s) { return s.announce; }), 1);
        EXPECT_TRUE(steps.back().restart);
    }
}

TEST(PartBuffers, ARoundedUpMegabyteEachUpToSixtyFour) {
    EXPECT_EQ(BuffersNeeded(0), 0u);
    EXPECT_EQ(BuffersNeeded(1), 1u);
    EXPECT_EQ(BuffersNeeded(kMb), 1u);
    EXPECT_EQ(BuffersNeeded(kMb + 1), 2u);
    EXPECT_EQ(BuffersNeeded(0x80000 + 0x200000), 3u);

    EXPECT_TRUE(PartFits(0xA0040000, 3 * kMb));
    EXPECT_TRUE(PartFits(0x80040000, 3 * kMb));  // the cached window
    EXPECT_TRUE(PartFits(0xA0000000, 64 * kMb));
    EXPECT_FALSE(PartFits(0xA0000000, 64 * kMb + 1));
    EXPECT_FALSE(PartFits(0xA3F00000, 2 * kMb));  // runs out of the flash window
    EXPECT_FALSE(PartFits(0xA4000000, 1));        // RAM, not flash
    EXPECT_FALSE(PartFits(0x00040000, 1));
    EXPECT_FALSE(PartFits(0xFFFFFFC0, 0x100));
}

TEST(HandoffAddresses, OnlyThisHandheldsScreenRamAndFlashAreAccepted) {
    HandoffFile handoff;
    handoff.UI = 0xBE042000;
    handoff.absoluate = 0xA7FCE000;
    handoff.FRsvd = 0x87FEC004;
    handoff.PSMStart = 0xA1A00000;
    handoff.PSMLength = 0x1600000;
    handoff.Items = 2;
    handoff.records[0].FlashAddress = 0xA1940000;
    handoff.records[1].FlashAddress = 0x80040000;
    EXPECT_EQ(CheckHandoffAddresses(handoff).problem, HandoffAddressProblem::kNone);

    auto with = [&](auto change) {
        HandoffFile copy = handoff;
        change(copy);
        return CheckHandoffAddresses(copy);
    };
    EXPECT_EQ(with([](HandoffFile& h) { h.UI = 0xBE040000; }).problem, HandoffAddressProblem::kFrameBuffer);
    EXPECT_EQ(with([](HandoffFile& h) { h.absoluate = 0xA7FFF900; }).problem,
              HandoffAddressProblem::kReservedBlock);
    EXPECT_EQ(with([](HandoffFile& h) { h.absoluate = 0xA7FCE002; }).problem,
              HandoffAddressProblem::kReservedBlock);
    EXPECT_EQ(with([](HandoffFile& h) { h.absoluate = 0xA0FCE000; }).problem,
              HandoffAddressProblem::kReservedBlock);
    EXPECT_EQ(with([](HandoffFile& h) { h.absoluate = 0x85FCE000; }).problem, HandoffAddressProblem::kNone);
    EXPECT_EQ(with([](HandoffFile& h) { h.FRsvd = 0x87FFFFF0; }).problem,
              HandoffAddressProblem::kRoutineArea);
    EXPECT_EQ(with([](HandoffFile& h) { h.FRsvd = 0; }).problem, HandoffAddressProblem::kRoutineArea);
    EXPECT_EQ(with([](HandoffFile& h) { h.PSMLength = 0x3000000; }).problem,
              HandoffAddressProblem::kPsmRange);
    // A PSM range of zero length is not erased, so not checked.
    EXPECT_EQ(with([](HandoffFile& h) { h.PSMStart = 0xB0000000, h.PSMLength = 0; }).problem,
              HandoffAddressProblem::kNone);
    HandoffAddressCheck part = with([](HandoffFile& h) { h.records[1].FlashAddress = 0xA5000000; });
    EXPECT_EQ(part.problem, HandoffAddressProblem::kPartAddress);
    EXPECT_EQ(part.record, 1u);
    // Records past Items are not looked at.
    EXPECT_EQ(with([](HandoffFile& h) { h.records[2].FlashAddress = 0x12345678; }).problem,
              HandoffAddressProblem::kNone);
}

}  // namespace
}  // namespace nuva::reflash
