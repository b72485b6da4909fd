// The processor's interrupt mask and the system tick, as the handheld's
// programs see them: INTERRUPTS_OFF / INTERRUPTS_ON, GetTickCount, and a
// tick every kTickMs of the handheld's time whose handler runs from flash.
//
// What a program sees:
// - While interrupts are enabled the tick runs. Its handler executes in
//   place from flash, so a tick that arrives while a flash chip is not in
//   read-array mode crashes the handheld (the machine says which chip and
//   mode). GetTickCount advances with the handheld's time.
// - While they are masked the tick does not run: GetTickCount stands still,
//   and a tick that falls due is held and runs the moment interrupts are
//   enabled again. Nothing that needs the scheduler or the user interface
//   (Sleep, MessageBoxW) can return; the machine crashes such a call.
//
// When a tick arrives (the handheld's time is the scaled clock, plus the
// sleeps and forced ticks that NUVA_TIME_SCALE=0 does not wait out):
// - at every tick boundary of that time (at scale 0 time passes only by
//   sleeps and forced ticks, so this never happens while a program spins);
// - at every flash read that finds a chip busy: the flash model shrinks an
//   erase or a program (a second, or hundreds of microseconds, on the part:
//   many ticks or a good part of one) into a few status reads, so those
//   reads are where the handheld's time passes, at every scale;
// - when a test forces one (Handheld::DeliverTick).
// And one rule that takes the worst case instead of waiting for the race to
// be lost: masking interrupts while a chip has already left read-array mode
// counts as a tick in between, as the processor may take the tick at any
// instruction of that window.
//
// This class keeps the mask, the count and the held tick, and decides when a
// tick arrives; the machine knows the flash and turns an arrival while a chip
// is away into a crash. Thread-safe.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

namespace nuva::sim {

class InterruptController {
  public:
    static constexpr uint32_t kTickMs = 1;
    // A program that reads GetTickCount this many times in a row with
    // interrupts masked is waiting for a count that never moves: it hangs.
    static constexpr uint32_t kFrozenCountReads = 1u << 20;

    // A start: interrupts enabled, count 0, nothing held.
    void Start();

    bool Masked() const { return masked_.load(std::memory_order_relaxed); }
    // Masks interrupts. `flashAway`: whether a chip is out of read-array mode
    // now; true when a tick counts as arrived in the window before the mask.
    bool Mask(bool flashAway);
    // Enables interrupts; true when a tick held while they were masked runs
    // now (it arrived during the masked stretch: time crossed a tick
    // boundary, a flash read found a chip busy (`busyRead`), or a test
    // forced one).
    bool Unmask(bool busyRead = false);
    // A test's tick: true when it runs now, false when it is held (masked).
    bool Force();
    // After a bus access with interrupts enabled: whether a tick arrives
    // now. `flashAway` is whether a chip is out of read-array mode,
    // `busyRead` whether a flash read found a chip busy. Cheap when the
    // flash is in read array.
    bool AfterAccess(bool flashAway, bool busyRead);

    // GetTickCount. `hung` is set when the count has been read
    // kFrozenCountReads times in a row with interrupts masked.
    uint32_t Count(bool& hung);
    // Sleep at NUVA_TIME_SCALE=0 moves the handheld's time on by `ms`.
    void Slept(uint32_t ms);

  private:
    // The handheld's time since the start, in nominal milliseconds. Under mu_.
    double NowLocked() const;
    static uint64_t TickOf(double ms) { return static_cast<uint64_t>(ms / kTickMs); }

    std::atomic<bool> masked_{false};
    mutable std::mutex mu_;
    std::chrono::steady_clock::time_point start_{std::chrono::steady_clock::now()};
    double skippedMs_ = 0;             // time moved on by sleeps at scale 0 and by forced ticks
    double maskedMs_ = 0;              // time spent masked, before the current stretch
    double maskedAt_ = 0;              // when the current masked stretch began
    bool held_ = false;                // a tick fell due while masked
    uint32_t frozenReads_ = 0;         // GetTickCount reads in this masked stretch
    std::optional<double> awaySince_;  // when the flash left read array with interrupts enabled
};

}  // namespace nuva::sim
