// The emulated handheld as the rest of the emulator drives it: one Brel Nuva
// Q7 with its flash bank, RAM, frame buffer, platform registers, object store
// (files and registry), built-in storage, power and cable state.
//
// The same library implements the WinCE core library (platform/wince/wince.h)
// that handheld programs are written against. Those functions find their
// machine through the calling thread: every thread the machine starts (a
// program from \Windows\StartUp, a RAPI call into a library, RunAsProgram)
// carries its machine, so several handhelds can live in one process.
//
// What the handheld does on its own (the physics the emulator enforces):
// - A start reads the ROM identity block from flash offset 0x40100; without a
//   valid one the handheld is bricked (no link, blank screen) until a start
//   finds one. A start that finds one draws the home screen (home_screen.h)
//   before the start-up programs run. The cold-start words of the reserved RAM block decide between
//   a cold start (factory files and registry) and a warm one (kept).
// - The registry's driver keys present at the start decide whether the cable
//   link works ("Drivers\BuiltIn\USB" and "...\Serial") and whether the
//   built-in storage is mounted ("System\StorageManager\AutoLoad\PSM").
// - Every core library call made while a flash chip is not in read-array
//   mode, a system tick that arrives then with interrupts enabled
//   (interrupts.h says when ticks arrive), a Sleep, a message box or a
//   GetTickCount wait with interrupts masked, and any bus access to an
//   address that nothing backs crash the handheld: the calling program
//   stops, the screen stays as it is, the link drops, and Status() says why
//   until the next start.
// - A restart (IOCTL_HAL_REBOOT, the restart line, Reset()) ends every
//   program thread at its next call into the machine, drops the link, waits
//   the modelled boot time and starts again.
//
// All member functions may be called from any thread that is not one of the
// handheld's own program threads, unless said otherwise.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wince/wince.h"

namespace nuva::sim {

class FlashBank;
class FileStore;
class Registry;

// What a handheld is made with at the factory. Kept in the state folder.
struct FactorySettings {
    // "Advanced": 64 MB RAM and 48 MB flash; "Basic": 32 MB RAM, 32 MB flash.
    bool advanced = true;
    // The device UUID that IOCTL_HAL_GET_UUID returns. A supported handheld
    // carries the model signature (the first six HeaderKey bytes) in bytes
    // 10 to 15; SupportedUuid() makes such a UUID.
    std::array<uint8_t, 16> uuid{};
    // The default language (GetSystemDefaultLangID / GetUserDefaultLangID);
    // 0 means the language of the ROM that runs.
    uint16_t language = 0;
    // Whether the OEM layer answers PlatformCommand 0x1B2A (memory
    // configuration) and PlatformQuery 6 / 17. When off, programs must ask
    // the power driver "PWR1:" instead.
    bool platformCommandAnswers = true;
    bool platformQueryAnswers = true;
    // Nominal duration of a start, on the scaled clock.
    uint32_t bootMs = 3000;
};

// A UUID that carries the model signature (`supported`) or one that does not.
std::array<uint8_t, 16> SupportedUuid(bool supported = true);

enum class ResetKind { kWarm, kCold };

// What a program started from \Windows\StartUp did.
struct StartupRecord {
    std::u16string name;  // the file name, e.g. u"Reflash.exe"
    enum class Outcome {
        kShortcut,   // a ".lnk": recorded as started, not executed
        kRunning,    // WinMain has not returned yet
        kReturned,   // WinMain returned `exitCode`
        kStopped,    // the program ended inside the machine (crash or restart)
        kLoadFailed  // missing, damaged, or without WinMain; `detail` says why
    } outcome = Outcome::kShortcut;
    int exitCode = 0;
    std::string detail;
};

struct RomReport {
    std::string dateCode;  // "04100300"
    std::string version;   // "A03"
    uint32_t osMajor = 0;  // 3 = Pocket PC 2002, 4 = Pocket PC 2003
    uint32_t languageId = 0;
};

struct MessageBoxState {
    std::u16string caption;
    std::u16string text;
    uint32_t type = 0;
};

struct HandheldStatus {
    bool poweredOn = false;
    bool restarting = false;      // between a restart request and the end of the boot
    bool started = false;         // booted and running (not bricked, not crashed)
    std::string brickedReason;    // non-empty: the last start found no valid ROM
    std::string crashedReason;    // non-empty: the handheld crashed; cleared by a start
    bool coldStart = false;       // the last start was cold
    uint64_t bootGeneration = 0;  // changes at every restart
    bool plugged = false;
    bool linkAvailable = false;
    bool usbDriversLoaded = false;
    bool psmMounted = false;
    bool acOnline = true;
    std::optional<uint8_t> batteryPercent;  // nullopt: the platform reports no value
    RomReport rom;                          // valid when a start found a ROM
    uint32_t memoryConfig = 0;              // NUVA_MEMORY_ADVANCED / NUVA_MEMORY_BASIC
    bool interruptsMasked = false;
    std::optional<MessageBoxState> messageBox;    // the box that is up, if any
    std::vector<std::u16string> runningPrograms;  // start-up programs whose WinMain runs now
    std::vector<StartupRecord> startup;           // what the last start ran
    std::vector<uint32_t> platformCommands;       // PlatformCommand selectors received since the start
    int threadPriority = THREAD_PRIORITY_NORMAL;  // last SetThreadPriority of a program
    int ceThreadPriority = 251;                   // last CeSetThreadPriority of a program
};

// One write to a platform register block (or the frame buffer's control
// block), as the bus saw it.
struct RegisterWrite {
    uint32_t address;
    uint8_t width;
    uint32_t value;
};

// A file of the built-in storage.
struct PsmFile {
    std::u16string name;
    std::vector<uint8_t> data;
};

enum class PsmError {
    kNone,
    kNotMounted,  // the start did not mount the storage (no AutoLoad key)
    kNoSpace,     // the region has no room left for the record
    kBadName,     // empty, longer than 255 characters, or with a "\"
    kNotFound,
    kDamaged,  // a record in the region is damaged; the list ends before it
};
const char* DescribePsmError(PsmError error);

// Results of InvokeExport besides the HRESULT of the export itself.
inline constexpr HRESULT kInvokeLinkDropped =
    static_cast<HRESULT>(0x8007006D);  // restart, crash, or not running
inline constexpr HRESULT kInvokeLibraryNotFound = static_cast<HRESULT>(0x8007007E);  // no such file
inline constexpr HRESULT kInvokeExportNotFound = static_cast<HRESULT>(0x8007007F);   // no such export
inline constexpr HRESULT kInvokeBadLibrary = static_cast<HRESULT>(0x800700C1);       // the file does not load

// How a body run with RunAsProgram ended.
enum class ProgramEnd { kReturned, kStopped };

enum class CreateError {
    kNone,
    kBadImage,     // shorter than a header, or the contents do not fit the flash
    kCannotRead,   // the image file could not be read
    kStateFolder,  // the state folder could not be created, written or read
    kBadState,     // the state folder's files are damaged or do not fit together
    kHostRefused,  // the host did not give the memory the handheld's RAM needs
};
const char* DescribeCreateError(CreateError error);

class Machine;

class Handheld {
  public:
    // A factory-new handheld whose flash holds `image` (an update image or a
    // ROM backup: the 512-byte header, then the contents, which go to flash
    // offset 0x40000; the header is not checked beyond its length). With a
    // `stateDir`, the handheld lives in that folder (created when missing,
    // overwritten when it held a handheld); without, in memory only. The
    // handheld is powered off until PowerOn().
    static std::unique_ptr<Handheld> Create(const FactorySettings& settings, std::span<const uint8_t> image,
                                            const std::string& stateDir, CreateError* error = nullptr,
                                            std::string* detail = nullptr);
    static std::unique_ptr<Handheld> CreateFromFile(const FactorySettings& settings,
                                                    const std::string& imagePath, const std::string& stateDir,
                                                    CreateError* error = nullptr,
                                                    std::string* detail = nullptr);
    // A handheld kept in `stateDir`, as it was when it was last saved.
    static std::unique_ptr<Handheld> Open(const std::string& stateDir, CreateError* error = nullptr,
                                          std::string* detail = nullptr);

    // Stops every program thread and saves the state folder.
    ~Handheld();
    Handheld(const Handheld&) = delete;
    Handheld& operator=(const Handheld&) = delete;

    const FactorySettings& Settings() const;

    // ---- Power, starts, status --------------------------------------------
    // Powers the handheld on: it starts (asynchronously, after the boot time).
    void PowerOn();
    // The user's reset button: a warm reset keeps RAM (the cold-start words
    // decide), a cold reset clears RAM, so the start is cold.
    void Reset(ResetKind kind);
    // Waits until a start has completed (started or bricked) after the
    // boot generation `after` (0: any start). True when the handheld started.
    // The start-up programs may still be being launched: WaitUntilIdle waits
    // for them too.
    bool WaitUntilStarted(std::chrono::milliseconds timeout, uint64_t after = 0);
    // Waits until no start-up program runs and no restart is pending.
    bool WaitUntilIdle(std::chrono::milliseconds timeout);
    // Waits until the boot generation differs from `generation`.
    bool WaitForRestart(uint64_t generation, std::chrono::milliseconds timeout);
    HandheldStatus Status() const;
    // Saves the state folder now (no effect in memory mode). False with
    // `detail` on a write failure.
    bool Save(std::string* detail = nullptr);

    // ---- Cable side --------------------------------------------------------
    void Plug(bool plugged);
    // Started, plugged, the USB and Serial drivers loaded, not crashed and
    // interrupts not masked.
    bool LinkAvailable() const;
    // Counts every change of LinkAvailable(); WaitForLinkChange waits for it
    // to differ from `seen`.
    uint64_t LinkGeneration() const;
    bool WaitForLinkChange(uint64_t seen, std::chrono::milliseconds timeout);
    // Called (outside the machine's locks, in the order the changes
    // happened) with the new LinkAvailable() after every change. It runs on
    // whichever thread made the change, a handheld thread included: it must
    // only take note, not wait for the handheld nor set another listener.
    // Replaces the previous listener; empty removes it.
    void SetLinkListener(std::function<void(bool available)> listener);

    // Calls an export of a library as the RAPI service does: `library` is a
    // name (u"NUVA7INVOKE" -> \Windows\NUVA7INVOKE.dll) or a full path; the
    // very file of the file store is loaded (and loaded again when it
    // changed). The input is copied into a LocalAlloc block, the export runs
    // on its own handheld thread, its output block is copied to `output` and
    // freed. Returns the export's HRESULT, or one of the kInvoke* results.
    // One call at a time per handheld; concurrent calls wait.
    HRESULT InvokeExport(std::u16string_view library, std::u16string_view function,
                         std::span<const uint8_t> input, std::vector<uint8_t>& output,
                         std::string* detail = nullptr);

    // The version answer for CeGetVersionEx (as GetVersionExW on the handheld).
    OSVERSIONINFOW OsVersion() const;

    // The file store and the registry, held under the machine's lock for as
    // long as the access object lives. Do not call other Handheld members
    // while holding one.
    class StoreAccess {
      public:
        FileStore& Files() const { return *files_; }
        Registry& Reg() const { return *registry_; }

      private:
        friend class Handheld;
        StoreAccess(std::unique_lock<std::mutex> lock, FileStore& files, Registry& registry)
            : lock_(std::move(lock)), files_(&files), registry_(&registry) {}
        std::unique_lock<std::mutex> lock_;
        FileStore* files_;
        Registry* registry_;
    };
    StoreAccess Store();
    // u"startup" -> u"\\Windows\\StartUp"; nullopt for an unknown folder.
    static std::optional<std::u16string> SpecialFolder(std::u16string_view name);

    // ---- Power state, user interface --------------------------------------
    void SetAc(bool online);
    void SetBattery(std::optional<uint8_t> percent);  // values above 100 are taken as 100
    std::optional<MessageBoxState> MessageBox() const;
    // Dismisses the message box that is up (OK). False when none is up.
    bool PressOk();
    // Waits until a message box is up.
    bool WaitForMessageBox(std::chrono::milliseconds timeout);

    // A tick of the system clock now, whatever the scaled clock says (tests
    // that must not rely on timing). Held while interrupts are masked and
    // taken when they are enabled; a tick that runs while a flash chip is
    // not in read-array mode crashes the handheld, as its handler runs from
    // flash.
    void DeliverTick();

    // ---- Screen --------------------------------------------------------------
    // The 240 x 320 RGB 5-6-5 pixels, row by row, as a person sees them:
    // the frame buffer with the message box that is up drawn over it
    // (message_box_view.h).
    std::vector<uint16_t> Screen() const;
    // Writes Screen() as a PNG picture (all or nothing). False with
    // `detail` on failure.
    bool SaveScreenshot(const std::string& path, std::string* detail = nullptr) const;

    // ---- Flash, RAM, registers ----------------------------------------------
    // The flash bank for fault injection and its access log. Do not call it
    // while a program on the handheld is running flash commands; WithFlash
    // runs `body` with the bus held, so that it is safe at any moment (the
    // body must not call other members of the handheld).
    FlashBank& Flash();
    void WithFlash(const std::function<void(FlashBank&)>& body);
    // A copy of `length` flash cells from `offset` (clipped to the flash).
    std::vector<uint8_t> DumpFlash(uint32_t offset, uint32_t length) const;
    uint32_t FlashBytes() const;
    uint32_t RamBytes() const;
    // The next `calls` VirtualAlloc calls get page frames that are not
    // physically contiguous.
    void FragmentRam(uint32_t calls);
    // A 32-bit word of RAM at a kernel address of either RAM window.
    std::optional<uint32_t> ReadRamWord(uint32_t kernelAddress) const;
    // Writes to the platform registers since the start (oldest first).
    std::vector<RegisterWrite> RegisterWrites() const;
    // The current value of a platform register word.
    std::optional<uint32_t> RegisterValue(uint32_t address) const;

    // ---- Built-in storage ----------------------------------------------------
    PsmError PutPsmFile(std::u16string_view name, std::span<const uint8_t> data);
    PsmError ListPsmFiles(std::vector<PsmFile>& files) const;
    PsmError GetPsmFile(std::u16string_view name, std::vector<uint8_t>& data) const;

    // ---- Running code on the handheld ------------------------------------------
    // Runs `body` on a new handheld thread of this machine (as a program would
    // run) and waits for it. kStopped when the body did not return because
    // the handheld crashed or restarted under it, or did not run at all
    // because the handheld is not running (off, restarting, bricked, crashed).
    ProgramEnd RunAsProgram(const std::function<void()>& body);

  private:
    explicit Handheld(std::unique_ptr<Machine> machine);
    std::unique_ptr<Machine> machine_;
};

}  // namespace nuva::sim
