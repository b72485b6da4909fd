// The C runtime that handheld programs use belongs to the core library: it
// serves programs while the OS can run from flash, and a call while a flash
// chip is out of read-array mode crashes the handheld with a reason naming
// the call, as any other core library call does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine_test_support.h"

namespace nuva::sim::test {
namespace {

constexpr uint8_t kReadArray = 0;
constexpr uint8_t kReadStatus = 1;

std::vector<uint8_t> Request(uint8_t mode, uint8_t count, const std::string& call) {
    std::vector<uint8_t> block(2 + call.size());
    block[0] = mode;
    block[1] = count;
    for (size_t i = 0; i < call.size(); ++i) {
        block[2 + i] = static_cast<uint8_t>(call[i]);
    }
    return block;
}

std::unique_ptr<Handheld> HandheldWithRuntimeLibrary() {
    auto handheld = StartedHandheld();
    if (handheld != nullptr) {
        handheld->Plug(true);
        PutStoreFile(*handheld, u"\\Windows\\RUNTIME.dll", ReadHostFile(NUVA_RUNTIME_LIBRARY));
    }
    return handheld;
}

TEST(CoreRuntime, ServesProgramsWhileTheFlashReadsAsArray) {
    auto handheld = HandheldWithRuntimeLibrary();
    ASSERT_NE(handheld, nullptr);
    struct Case {
        std::string call;
        uint8_t count;
        std::string produced;
    };
    // Sizes from LocalSize: malloc and operator new hand out blocks of the
    // handheld's own heap (a Widget is 24 bytes, 9 words are 36).
    const Case cases[] = {
        {"snprintf", 42, "snprintf 42 ok 007e"},
        {"vsnprintf", 7, "vsnprintf 7"},
        {"malloc", 100, "malloc 100 100 5a"},
        {"new", 9, "new 24 widget 36 9"},
        {"strlen", 1, "strlen 12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        std::vector<uint8_t> output;
        std::string detail;
        ASSERT_EQ(handheld->InvokeExport(u"RUNTIME", u"RunCall", Request(kReadArray, c.count, c.call), output,
                                         &detail),
                  0)
            << detail;
        EXPECT_EQ(std::string(output.begin(), output.end()), c.produced);
    }
    EXPECT_TRUE(handheld->Status().crashedReason.empty()) << handheld->Status().crashedReason;
}

TEST(CoreRuntime, ACallWhileAChipReadsStatusCrashesTheHandheldNamingIt) {
    auto handheld = HandheldWithRuntimeLibrary();
    ASSERT_NE(handheld, nullptr);
    struct Case {
        std::string call;
        std::string named;
    };
    const Case cases[] = {
        {"snprintf", "snprintf"}, {"vsnprintf", "vsnprintf"}, {"malloc", "malloc"},
        {"new", "operator new"},  {"strlen", "strlen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        std::vector<uint8_t> output;
        std::string detail;
        EXPECT_EQ(
            handheld->InvokeExport(u"RUNTIME", u"RunCall", Request(kReadStatus, 9, c.call), output, &detail),
            kInvokeLinkDropped)
            << detail;
        const std::string reason = handheld->Status().crashedReason;
        EXPECT_NE(reason.find("core library call " + c.named + " while flash chip 0"), std::string::npos)
            << reason;
        EXPECT_TRUE(output.empty());

        // The user's reset brings the handheld back for the next call.
        const uint64_t generation = handheld->Status().bootGeneration;
        handheld->Reset(ResetKind::kWarm);
        ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
        ASSERT_TRUE(handheld->Status().crashedReason.empty());
    }
}

}  // namespace
}  // namespace nuva::sim::test
