// The connection monitor against the scripted handheld: the flag follows the
// link, a single failed probe is forgiven, and a blocked initialisation can
// be stopped.
#include "setup/link/link_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "platform/clock/clock.h"
#include "tests/setup/link/fake_rapi.h"
#include "tests/support/eventually.h"

namespace nuva {
namespace {

using namespace std::chrono_literals;

using testing::Eventually;

class LinkMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_rapi::Reset();
        SetTimeScale(0.01);
        g_connected = 0;
    }
    void TearDown() override {
        watch_ = std::jthread();
        // Leaves no initialisation thread behind for the next test.
        StopLinkInit();
    }
    std::jthread watch_;
};

TEST_F(LinkMonitorTest, InitialisationSetsTheFlag) {
    ASSERT_EQ(StartLinkInit(), 0u);
    EXPECT_TRUE(Eventually([] { return g_connected == 1; }));

    // RAPI already initialised and up still counts as connected.
    g_connected = 0;
    ASSERT_EQ(StartLinkInit(), 0u);
    EXPECT_TRUE(Eventually([] { return g_connected == 1; }));
    EXPECT_EQ(fake_rapi::RapiInitCount(), 2);
}

TEST_F(LinkMonitorTest, StopCancelsAnInitialisationThatWaitsForEver) {
    fake_rapi::SetPlugged(false);
    ASSERT_EQ(StartLinkInit(), 0u);
    ASSERT_TRUE(Eventually([] { return fake_rapi::RapiInitBlocked(); }));
    // A second start while the first still waits starts nothing.
    ASSERT_EQ(StartLinkInit(), 0u);
    EXPECT_EQ(fake_rapi::RapiInitCount(), 1);

    StopLinkInit();
    EXPECT_EQ(fake_rapi::RapiUninitCount(), 1);
    EXPECT_FALSE(fake_rapi::RapiInitBlocked());
    EXPECT_EQ(g_connected, 0);

    // An initialisation that has ended is not cancelled.
    fake_rapi::SetPlugged(true);
    ASSERT_EQ(StartLinkInit(), 0u);
    ASSERT_TRUE(Eventually([] { return g_connected == 1; }));
    StopLinkInit();
    EXPECT_EQ(fake_rapi::RapiUninitCount(), 1);
    EXPECT_EQ(g_connected, 0);
}

TEST_F(LinkMonitorTest, OneFailedProbeIsForgiven) {
    ASSERT_EQ(StartLinkInit(), 0u);
    ASSERT_TRUE(Eventually([] { return g_connected == 1; }));
    fake_rapi::ScriptProbes({false, true});
    watch_ = StartLinkWatch();
    // Let the watcher get well past the failed probe and its retry.
    ASSERT_TRUE(Eventually([] { return fake_rapi::ProbeCount() >= 5; }));
    EXPECT_EQ(g_connected, 1);
    EXPECT_EQ(fake_rapi::RapiInitCount(), 1) << "a forgiven probe restarts nothing";
}

TEST_F(LinkMonitorTest, TheFlagFollowsTheCable) {
    ASSERT_EQ(StartLinkInit(), 0u);
    ASSERT_TRUE(Eventually([] { return g_connected == 1; }));
    watch_ = StartLinkWatch();
    ASSERT_TRUE(Eventually([] { return fake_rapi::ProbeCount() >= 2; }));

    fake_rapi::SetPlugged(false);
    const int before = fake_rapi::ProbeCount();
    ASSERT_TRUE(Eventually([] { return g_connected == 0; }));
    EXPECT_LE(fake_rapi::ProbeCount() - before, 2) << "dropped after one probe and its retry";
    // The watcher starts the initialisation again, which waits for the cable.
    ASSERT_TRUE(Eventually([] { return fake_rapi::RapiInitBlocked(); }));
    EXPECT_EQ(g_connected, 0);

    fake_rapi::SetPlugged(true);
    EXPECT_TRUE(Eventually([] { return g_connected == 1; }));
    EXPECT_EQ(fake_rapi::RapiInitCount(), 2);
}

TEST_F(LinkMonitorTest, TheWatcherLeavesADisconnectedLinkToTheInitialisation) {
    fake_rapi::SetPlugged(false);
    watch_ = StartLinkWatch();
    std::this_thread::sleep_for(100ms);  // five probe periods at this scale
    EXPECT_EQ(fake_rapi::ProbeCount(), 0);
    EXPECT_EQ(fake_rapi::RapiInitCount(), 0);
}

// With an unscaled clock the probes still pause, for a millisecond of real
// time at least: each one is a round trip taken from the copies on the cable.
TEST_F(LinkMonitorTest, AnUnscaledClockDoesNotProbeWithoutPause) {
    ASSERT_EQ(StartLinkInit(), 0u);
    ASSERT_TRUE(Eventually([] { return g_connected == 1; }));
    SetTimeScale(0);
    watch_ = StartLinkWatch();
    ASSERT_TRUE(Eventually([] { return fake_rapi::ProbeCount() >= 1; }));
    const int before = fake_rapi::ProbeCount();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(50ms);
    watch_ = std::jthread();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LE(fake_rapi::ProbeCount() - before, elapsed.count() + 2);
    EXPECT_EQ(g_connected, 1);
}

}  // namespace
}  // namespace nuva
