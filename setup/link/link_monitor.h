// The connection monitor: one process-wide flag, g_connected, that every
// page polls from its own timer, kept up to date by two threads.
//
// LinkInitThread initialises RAPI, which blocks until a handheld answers on
// the cable. LinkWatchThread probes the handheld every two seconds while the
// flag says connected; a probe that fails twice in a row (500 ms apart) drops
// the flag and starts the initialisation again, so the flag comes back when
// the handheld does. A single failed probe is forgiven.
//
// Pages never talk to the threads; only the probe takes DeviceAccessLock, so
// it waits for a running transfer call instead of interleaving with it.
#pragma once

#include <atomic>
#include <cstdint>
#include <stop_token>
#include <thread>

namespace nuva {

// 1 while the handheld is connected, 0 otherwise. Written only by the
// monitor; read by everybody without a lock.
extern std::atomic<int32_t> g_connected;

inline constexpr uint32_t kProbePeriodMs = 2000;
inline constexpr uint32_t kProbeRetryMs = 500;
inline constexpr uint32_t kInitStopWaitMs = 1000;
inline constexpr uint32_t kAfterStopPauseMs = 2000;

// The body of the initialisation thread: CeRapiInit, then g_connected := 0 if
// it answered E_FAIL (the wait was cancelled), else 1 (also when RAPI reports
// itself already initialised).
void LinkInitThread();

// Starts LinkInitThread unless one is still running (then nothing happens).
// Returns 0, or E_FAIL (with g_connected := 0) when no thread can be made.
uint32_t StartLinkInit();

// g_connected := 0; waits up to one second for a running LinkInitThread to
// end, cancels its CeRapiInit (CeRapiUninit ends the wait) when it has not,
// and collects it; then pauses two seconds so the link settles before anyone
// initialises it again.
void StopLinkInit();

// The body of the watch thread. It runs until `stop` is requested; the
// program never requests it, tests do.
void LinkWatchThread(std::stop_token stop);

// Starts LinkWatchThread. The program keeps the thread for its whole life;
// dropping the returned object stops and joins it.
std::jthread StartLinkWatch();

}  // namespace nuva
