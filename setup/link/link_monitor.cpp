#include "setup/link/link_monitor.h"

#include <condition_variable>
#include <mutex>
#include <system_error>

#include "formats/result_codes.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "setup/link/device_access.h"

namespace nuva {

std::atomic<int32_t> g_connected{0};

namespace {

// The init thread's handle and whether it still runs. The thread clears
// `running` itself when CeRapiInit has returned; the handle is collected by
// whoever starts or stops the next one.
struct InitThread {
    std::mutex lock;
    std::condition_variable ended;
    std::thread thread;
    bool running = false;
};

// Never destroyed: the threads it tracks may outlive main(), and end with
// the process.
InitThread& Init() {
    static auto* state = new InitThread;
    return *state;
}

bool Probe() {
    CEOSVERSIONINFO info{};
    info.dwOSVersionInfoSize = sizeof(info);
    return LockedCeGetVersionEx(&info) != FALSE;
}

}  // namespace

void LinkInitThread() {
    const HRESULT result = CeRapiInit();
    InitThread& init = Init();
    {
        // The flag and the end of the thread change together: whoever sees
        // the link as connected can start the next initialisation at once.
        std::lock_guard hold(init.lock);
        g_connected.store(static_cast<uint32_t>(result) == kResultFail ? 0 : 1);
        init.running = false;
    }
    init.ended.notify_all();
}

uint32_t StartLinkInit() {
    InitThread& init = Init();
    std::lock_guard hold(init.lock);
    if (init.running)
        return 0;
    // A previous thread has ended (it cleared `running`); collecting it
    // cannot block.
    if (init.thread.joinable())
        init.thread.join();
    try {
        init.thread = std::thread(LinkInitThread);
    } catch (const std::system_error&) {
        g_connected.store(0);
        return kResultFail;
    }
    init.running = true;
    return 0;
}

void StopLinkInit() {
    g_connected.store(0);
    InitThread& init = Init();
    std::thread finished;
    {
        std::unique_lock hold(init.lock);
        if (init.thread.joinable()) {
            if (!ScaledWaitFor(init.ended, hold, kInitStopWaitMs, [&] { return !init.running; })) {
                // Still blocked waiting for a handheld: ending the link is how
                // that wait is cut short.
                hold.unlock();
                CeRapiUninit();
                hold.lock();
                init.ended.wait(hold, [&] { return !init.running; });
            }
            finished = std::move(init.thread);
        }
    }
    if (finished.joinable())
        finished.join();
    ScaledSleepMs(kAfterStopPauseMs);
}

void LinkWatchThread(std::stop_token stop) {
    std::mutex lock;
    std::condition_variable_any wake;
    // Pauses for a nominal time, a millisecond of real time at least (at
    // scale 0 every probe would otherwise take a round trip on the cable
    // from the copies); false when the thread is asked to stop.
    const auto pause = [&](uint32_t ms) {
        std::unique_lock hold(lock);
        wake.wait_for(hold, stop, ScaledPollMs(ms), [] { return false; });
        return !stop.stop_requested();
    };
    while (!stop.stop_requested()) {
        if (g_connected.load() == 1 && !Probe()) {
            if (!pause(kProbeRetryMs))
                return;
            if (!Probe()) {
                g_connected.store(0);
                StopLinkInit();
                StartLinkInit();
            }
        }
        if (!pause(kProbePeriodMs))
            return;
    }
}

std::jthread StartLinkWatch() {
    return std::jthread(LinkWatchThread);
}

}  // namespace nuva
