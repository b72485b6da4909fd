#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock/clock.h"
#include "setup/runs/worker_slot.h"
#include "tests/setup/runs/run_fakes.h"

namespace nuva {
namespace {

TEST(WorkerSlot, AWorkerLetGoNeverPostsAgainAndItsPausesEnd) {
    SetTimeScale(1);
    test::RecordingSink sink;
    WorkerSlot slot;
    std::atomic<bool> returned{false};
    std::atomic<bool> pauseResult{true};
    ASSERT_TRUE(slot.Start(sink, [&](WorkerContext& context) {
        context.Post(1, 0, 0);
        pauseResult = context.Pause(60000);  // a long pause the page will not wait for
        context.Post(2, 0, 0);
        context.Sink()->Post(3, 0, 0);
        returned = true;
    }));
    EXPECT_TRUE(sink.WaitFor(1, 5000));
    EXPECT_TRUE(slot.Running());
    slot.Stop(50);
    EXPECT_FALSE(slot.Running());
    for (int i = 0; i < 500 && !returned; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(returned);
    EXPECT_FALSE(pauseResult) << "the pause ended because the worker was let go";
    auto posted = sink.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, 1u);
    SetTimeScale(0.01);
}

TEST(WorkerSlot, AFinishedWorkerIsCollectedAndAFailedLaunchRunsNothing) {
    test::RecordingSink sink;
    WorkerSlot slot;
    ASSERT_TRUE(slot.Start(sink, [](WorkerContext& context) { context.Post(7, 1, 2); }));
    slot.Stop(5000);
    auto posted = sink.Take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].lParam, 2u);

    bool ran = false;
    WorkerSlot refusing([](std::function<void()>) { return false; });
    EXPECT_FALSE(refusing.Start(sink, [&](WorkerContext&) { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_FALSE(refusing.Running());
}

}  // namespace
}  // namespace nuva
