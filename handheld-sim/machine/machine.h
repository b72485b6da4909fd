// The machine behind a Handheld: it composes the handheld's parts (the bus
// with its flash, cache, RAM, frame buffer and registers; the interrupt
// controller and its tick; the message box; the cable; LocalAlloc's heap;
// the handle table), runs its starts, and owns the threads that run handheld
// code. The core library exports (coredll.cpp) reach it through the calling
// thread's context.
//
// Threads. Every thread that runs handheld code (a start-up program, a RAPI
// call into a library, RunAsProgram) is a handheld thread: it carries its
// machine and the stop epoch it was started in. A crash, a restart or the
// machine's end advances the stop epoch; every handheld thread then ends at
// its next call into the machine (core library call or bus access) or when
// its Sleep or message box wakes, by leaving the thread (pthread_exit, which
// unwinds its frames). The supervisor thread runs the starts: it waits until
// the old handheld threads are gone before the next start.
//
// Locks: mu_ (state, condition variable) is taken before the locks of the
// parts, which never call back into the machine; ramMu_ guards the page
// frames. No lock is held across program code. The object store guards
// itself; storeMu_ only keeps its contents from being replaced under a
// StoreAccess.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "formats/rom_identity.h"
#include "handheld-sim/flash/flash_bank.h"
#include "handheld-sim/machine/bus.h"
#include "handheld-sim/machine/cable_link.h"
#include "handheld-sim/machine/call_thread.h"
#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/machine/handle_table.h"
#include "handheld-sim/machine/interrupts.h"
#include "handheld-sim/machine/local_heap.h"
#include "handheld-sim/machine/message_boxes.h"
#include "handheld-sim/machine/program_loader.h"
#include "handheld-sim/machine/ram.h"
#include "handheld-sim/machine/state_folder.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::sim {

inline constexpr uint32_t kImageHeaderBytes = 512;
inline constexpr uint32_t kImageFlashOffset = 0x40000;
inline constexpr uint32_t kReservedBlockBytes = 0x1000;

class Machine;

// What a handheld thread carries.
struct HandheldThread {
    Machine* machine = nullptr;
    uint64_t epoch = 0;
};

// The calling thread's context, or nullptr outside the handheld. Read on
// every register access, so it is a plain thread-local of the library's
// static block.
extern thread_local HandheldThread* tCurrentThread __attribute__((tls_model("initial-exec")));
inline HandheldThread* CurrentThread() {
    return tCurrentThread;
}

// Gives the calling thread what a new handheld thread starts with: no last
// error and normal priority (coredll.cpp keeps both per thread). The thread
// that runs RAPI calls is kept from one call to the next and starts each one
// so.
void ResetThreadDefaults();

class Machine {
  public:
    Machine(const FactorySettings& settings, std::string stateDir);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // ---- Making and keeping the handheld ----
    // Checks the devices were made (RAM mapped); false with `detail`.
    bool Ready(std::string& detail) const;
    // The factory flash: erased, the image contents at kImageFlashOffset.
    CreateError LoadImage(std::span<const uint8_t> image, std::string& detail);
    // The flash, store and reserved RAM from the state folder, and the power
    // state from its configuration.
    CreateError LoadState(const StateConfig& config, std::string& detail);
    // From now on the machine keeps its state folder up to date (at every
    // restart and at its end). Not before: a machine that failed to load
    // must not overwrite the folder.
    void KeepStateFolder() { persist_ = true; }
    bool SaveState(std::string* detail);
    const FactorySettings& Settings() const { return settings_; }
    uint32_t FlashBytes() const { return flashBytes_; }
    uint32_t RamBytes() const { return ramBytes_; }

    // ---- Life cycle (any thread outside the handheld) ----
    void PowerOn();
    void Reset(ResetKind kind);
    bool WaitUntilStarted(std::chrono::milliseconds timeout, uint64_t after);
    bool WaitUntilIdle(std::chrono::milliseconds timeout);
    bool WaitForRestart(uint64_t generation, std::chrono::milliseconds timeout);
    HandheldStatus Status() const;

    // ---- Cable ----
    void Plug(bool plugged);
    bool LinkAvailable() const;
    uint64_t LinkGeneration() const;
    bool WaitForLinkChange(uint64_t seen, std::chrono::milliseconds timeout);
    void SetLinkListener(std::function<void(bool)> listener);
    HRESULT InvokeExport(std::u16string_view library, std::u16string_view function,
                         std::span<const uint8_t> input, std::vector<uint8_t>& output, std::string* detail);
    ProgramEnd RunAsProgram(const std::function<void()>& body);

    // ---- Environment and inspection ----
    void SetAc(bool online);
    void SetBattery(std::optional<uint8_t> percent);
    std::optional<MessageBoxState> MessageBoxUp() const;
    bool PressOk();
    bool WaitForMessageBox(std::chrono::milliseconds timeout);
    std::vector<uint16_t> Screen() const;
    FlashBank& Flash() { return bus_.Flash(); }
    void WithFlash(const std::function<void(FlashBank&)>& body);
    std::vector<uint8_t> DumpFlash(uint32_t offset, uint32_t length) const;
    void FragmentRam(uint32_t calls);
    std::optional<uint32_t> ReadRamWord(uint32_t kernelAddress) const;
    std::vector<RegisterWrite> RegisterWrites() const;
    std::optional<uint32_t> RegisterValue(uint32_t address) const;
    PsmError PutPsmFile(std::u16string_view name, std::span<const uint8_t> data);
    PsmError ListPsmFiles(std::vector<PsmFile>& files) const;
    ObjectStore& Store() { return *store_; }
    std::mutex& StoreMutex() { return storeMu_; }
    OSVERSIONINFOW OsVersion() const;

    // A tick of the system clock now (tests): held while interrupts are
    // masked; crashes the handheld when a flash chip is not in read-array
    // mode.
    void DeliverTick();
    // Whether the cache holds the line of flash byte `offset` (tests).
    bool CacheHolds(uint32_t offset) { return bus_.CacheHolds(offset); }

    // ---- Used by the core library, on a handheld thread ----
    // Ends the calling thread when the machine stopped it; crashes the
    // handheld when a flash chip is not in read-array mode.
    void EnterCore(const HandheldThread& self, const char* name);
    void CheckRunning(const HandheldThread& self) {
        if (self.epoch != stopEpoch_.load(std::memory_order_relaxed)) [[unlikely]] {
            EndThread();
        }
    }
    [[noreturn]] void Crash(std::string reason);
    // The same crash, seen from a thread that is not the handheld's (a tick
    // a test delivers): the calling thread goes on.
    void CrashFromOutside(std::string reason);
    // IOCTL_HAL_REBOOT and the restart line: the handheld restarts (RAM
    // kept), the calling thread ends.
    [[noreturn]] void RestartFromProgram();
    [[noreturn]] static void EndThread();

    uint32_t BusRead(uint32_t address, uint32_t width);
    void BusWrite(uint32_t address, uint32_t width, uint32_t value);
    void BusReadBlock(uint32_t address, uint32_t width, void* buffer, uint32_t count);
    void BusWriteBlock(uint32_t address, uint32_t width, const void* buffer, uint32_t count);

    void SetInterruptsMasked(bool masked);
    bool InterruptsMasked() const { return interrupts_.Masked(); }
    void SleepMs(const HandheldThread& self, uint32_t ms);
    uint32_t TickCount();
    // CacheSync: the flash window's cached lines are dropped.
    void CleanCache() { bus_.CleanCache(); }
    int ShowMessageBox(const HandheldThread& self, std::u16string text, std::u16string caption,
                       uint32_t type);
    void NoteThreadPriority(int priority, bool ce);
    void NotePlatformCommand(uint32_t selector);

    // Identity and power as the OEM layer answers them.
    std::array<uint8_t, 16> Uuid() const { return settings_.uuid; }
    uint32_t MemoryConfig() const;
    bool PlatformCommandAnswers() const { return settings_.platformCommandAnswers; }
    bool PlatformQueryAnswers() const { return settings_.platformQueryAnswers; }
    RomReport Rom() const;
    uint16_t Language() const;
    void PowerStatus(SYSTEM_POWER_STATUS_EX2& out) const;

    // LocalAlloc's heap.
    void* HeapAlloc(uint32_t flags, uint32_t bytes) { return heap_.Alloc(flags, bytes); }
    bool HeapFree(void* block) { return heap_.Free(block); }
    std::optional<uint32_t> HeapSize(const void* block) const { return heap_.Size(block); }
    bool Readable(const void* p, uint32_t bytes) const;

    // VirtualAlloc's page frames.
    Ram& RamDevice() { return *ram_; }
    std::mutex& RamMutex() { return ramMu_; }

    // Handles of open files, devices and registry keys (handle_table.h).
    using PowerDevice = sim::PowerDevice;
    using HandleObject = sim::HandleObject;
    HANDLE AddHandle(HandleObject object) { return handles_.Add(std::move(object)); }
    bool WithHandle(HANDLE handle, const std::function<void(HandleObject&)>& body) {
        return handles_.With(handle, body);
    }
    bool CloseHandleObject(HANDLE handle) { return handles_.Close(handle); }
    HKEY AddKey(RegKey key) { return handles_.AddKey(std::move(key)); }
    // The predefined roots as well as opened keys.
    std::optional<RegKey> Key(HKEY key);
    bool CloseKey(HKEY key);

  private:
    struct CachedLibrary {
        std::u16string path;
        std::vector<uint8_t> bytes;
        LoadedModule module;
    };

    void Supervise();
    void RunStart(bool clearRam);
    void Boot();
    void StartPrograms();
    void RunProgram(std::u16string name, size_t record);
    void RequestRestart(bool clearRam);
    // Under mu_: every handheld thread is to end at its next call.
    void StopThreadsLocked();
    // Under mu_, after every change of what the link depends on.
    void NoteLinkLocked() { link_.Note(LinkAvailableLocked()); }
    bool LinkAvailableLocked() const;
    // A fault of the bus, as the crash names it.
    [[noreturn]] void BusFault(BusResult result, uint32_t address, uint32_t width, bool write);
    // After a bus access with interrupts enabled, or one that found a chip
    // busy: a tick that arrives now runs from flash.
    void CheckTick();
    // The crash reason of a tick that runs while `away` is not in read array.
    static std::string TickReason(const FlashAway& away, const char* when);
    // Counts a handheld thread about to start and gives its stop epoch; none
    // when the machine is ending (or, with `requireStarted`, not started).
    std::optional<uint64_t> ClaimThread(bool requireStarted);
    // Starts a claimed handheld thread; `body` runs with the machine current.
    // `returned` (when given) is set when the body returns.
    std::thread StartThread(uint64_t epoch, std::function<void()> body,
                            std::shared_ptr<std::atomic<bool>> returned);
    void ThreadEnded();
    uint32_t ReservedBlockOffset() const;
    uint32_t RamWord(uint32_t offset) const;
    void SetRamWord(uint32_t offset, uint32_t value);
    CachedLibrary* LoadLibraryFile(const std::u16string& path, std::string& detail, HRESULT& failure);
    void FillScreen(uint16_t colour);
    // What the boot code shows once a start found `identity`.
    void DrawHomeScreen(const RomIdentity& identity, bool cold);

    const FactorySettings settings_;
    const std::string stateDir_;
    std::atomic<bool> persist_{false};
    std::mutex saveMu_;
    // Under saveMu_: the flash as the state folder holds it (empty when not
    // known). Most starts leave the flash as it was, and writing its 32 MB
    // again was most of a restart's time.
    std::vector<uint8_t> savedFlash_;
    const uint32_t flashBytes_;
    const uint32_t ramBytes_;

    std::unique_ptr<Ram> ram_;
    std::string ramError_;
    mutable std::mutex ramMu_;
    mutable MemoryBus bus_;
    InterruptController interrupts_;
    MessageBoxes messageBoxes_;
    CableLink link_;
    LocalHeap heap_;
    HandleTable handles_;
    std::unique_ptr<ObjectStore> store_;
    std::mutex storeMu_;

    // State under mu_.
    mutable std::mutex mu_;
    std::condition_variable cv_;
    bool poweredOn_ = false;
    bool shutdown_ = false;
    bool restartPending_ = false;
    bool clearRamPending_ = false;
    bool restarting_ = false;
    bool started_ = false;
    bool launching_ = false;  // the start-up programs are being started
    bool coldStart_ = false;
    std::string brickedReason_;
    std::string crashedReason_;
    uint64_t bootGeneration_ = 0;
    uint64_t startsCompleted_ = 0;
    bool usbDrivers_ = false;
    bool psmMounted_ = false;
    bool ac_ = true;
    std::optional<uint8_t> battery_ = 100;
    RomIdentity rom_;
    bool romValid_ = false;
    std::vector<std::u16string> running_;
    std::vector<StartupRecord> startup_;
    std::vector<uint32_t> platformCommands_;
    int threadPriority_ = THREAD_PRIORITY_NORMAL;
    int ceThreadPriority_ = 251;
    size_t liveThreads_ = 0;
    std::vector<std::thread> programThreads_;
    std::vector<std::unique_ptr<LoadedModule>> programModules_;

    std::atomic<uint64_t> stopEpoch_{1};

    std::mutex invokeMu_;  // one RAPI call at a time
    std::vector<std::unique_ptr<CachedLibrary>> libraries_;

    // The thread that RAPI calls into libraries run on, kept between
    // calls; ended before the machine's members it uses.
    std::unique_ptr<CallThread> calls_ = std::make_unique<CallThread>();

    std::thread supervisor_;
};

}  // namespace nuva::sim
