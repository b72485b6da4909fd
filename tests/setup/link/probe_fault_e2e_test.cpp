// The connection monitor against a running emulated handheld whose version
// queries fail on demand while the cable stays in: one failed probe is
// forgiven, two in a row drop the connection flag and the monitor
// initialises the link again.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "setup/link/link_monitor.h"
#include "tests/support/eventually.h"
#include "tests/support/handheld_process.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

namespace nuva {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;

constexpr double kScale = 0.01;

// Watches g_connected from its own thread and remembers whether it was ever
// seen at 0. The monitor keeps the flag at 0 for at least its settling pause
// (20 ms here) whenever it initialises the link again, far longer than the
// watch's period.
class DropWatch {
  public:
    bool Seen() const { return seen_; }
    void Forget() { seen_ = false; }

  private:
    std::atomic<bool> seen_{false};
    std::jthread thread_{[this](std::stop_token stop) {
        while (!stop.stop_requested()) {
            if (g_connected.load() == 0)
                seen_ = true;
            std::this_thread::sleep_for(100us);
        }
    }};
};

// The numbers of `nuva-handheld ctl status --json` this test follows.
struct ServiceCounts {
    uint64_t desktopsServed = 0;
    uint64_t versionQueries = 0;
    uint64_t versionFailPending = 0;
};

std::optional<uint64_t> JsonNumber(const std::string& json, const std::string& key) {
    const std::string marker = "\"" + key + "\":";
    const size_t at = json.find(marker);
    if (at == std::string::npos)
        return std::nullopt;
    const char* begin = json.data() + at + marker.size();
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(begin, json.data() + json.size(), value);
    if (error != std::errc() || end == begin)
        return std::nullopt;
    return value;
}

class ProbeFaultE2ETest : public ::testing::Test {
  protected:
    void SetUp() override { SetTimeScale(kScale); }
    void TearDown() override {
        watch_ = std::jthread();
        StopLinkInit();
        CeRapiUninit();
        handheld_.reset();
    }

    // A factory-new handheld and this program's connection monitor, once the
    // monitor says connected.
    void StartConnected() {
        imagegen::ImageSpec spec;
        spec.modelClass = imagegen::ModelClass::kBasic;
        const std::string rom = folder_.Join("factory.nb0");
        std::string detail;
        ASSERT_EQ(imagegen::WriteImageFile(spec, rom, &detail), imagegen::ImageGenError::kNone) << detail;
        handheld_ = std::make_unique<testing::HandheldProcess>(NUVA_HANDHELD_PROGRAM, folder_.Join("hh"));
        std::string error;
        ASSERT_TRUE(
            handheld_->Start(rom, {"--class", "basic"}, {{"NUVA_TIME_SCALE", std::to_string(kScale)}}, error))
            << error;
        ::setenv("NUVA_LINK", handheld_->CableEndpoint().c_str(), 1);
        g_connected = 0;
        ASSERT_EQ(StartLinkInit(), 0u);
        watch_ = StartLinkWatch();
        ASSERT_TRUE(Eventually([] { return g_connected == 1; }, 60s)) << handheld_->Log();
    }

    ServiceCounts Counts() {
        const testing::CtlResult status = handheld_->Ctl({"status", "--json"});
        EXPECT_EQ(status.exitCode, 0) << status.out;
        const auto served = JsonNumber(status.out, "desktops_served");
        const auto queries = JsonNumber(status.out, "version_queries");
        const auto pending = JsonNumber(status.out, "version_fail");
        EXPECT_TRUE(served && queries && pending) << "the status lacks the service's counts: " << status.out;
        return ServiceCounts{served.value_or(0), queries.value_or(0), pending.value_or(0)};
    }

    testing::TempFolder folder_{"nuva-probe"};
    std::unique_ptr<testing::HandheldProcess> handheld_;
    std::jthread watch_;
};

TEST_F(ProbeFaultE2ETest, OneFailedProbeIsForgivenAndTwoInARowReconnect) {
    StartConnected();
    DropWatch drops;
    const uint64_t desktops = Counts().desktopsServed;
    ASSERT_EQ(desktops, 1u);

    // One failed probe: its retry 500 ms later succeeds. The monitor only
    // starts CeRapiInit again after setting the flag to 0, so a flag that
    // never left 1 means no new initialisation either.
    ASSERT_EQ(handheld_->Ctl({"fault", "version-fail", "1"}).exitCode, 0);
    ASSERT_TRUE(Eventually([&] { return Counts().versionFailPending == 0; }, 60s))
        << "no probe reached the handheld";
    // Queries answered after the failed one: the retry comes first.
    const uint64_t struck = Counts().versionQueries;
    ASSERT_TRUE(Eventually([&] { return Counts().versionQueries >= struck + 2; }, 60s))
        << "the monitor stopped probing";
    EXPECT_FALSE(drops.Seen()) << "a single failed probe dropped the connection";
    EXPECT_EQ(g_connected, 1);

    // Two failed probes in a row: the flag drops, and the new initialisation
    // finds the link still up and brings it back.
    drops.Forget();
    ASSERT_EQ(handheld_->Ctl({"fault", "version-fail", "2"}).exitCode, 0);
    ASSERT_TRUE(Eventually([&] { return drops.Seen(); }, 60s)) << "two failed probes in a row went unnoticed";
    ASSERT_TRUE(Eventually([] { return g_connected == 1; }, 60s)) << "the connection did not come back";
    const ServiceCounts after = Counts();
    EXPECT_EQ(after.versionFailPending, 0u);
    EXPECT_EQ(after.desktopsServed, desktops) << "the cable stayed in: the same connection serves on";

    // Connected again, the monitor goes on probing and the flag holds.
    drops.Forget();
    ASSERT_TRUE(Eventually([&] { return Counts().versionQueries >= after.versionQueries + 2; }, 60s));
    EXPECT_FALSE(drops.Seen());
    EXPECT_EQ(g_connected, 1);
}

}  // namespace
}  // namespace nuva
