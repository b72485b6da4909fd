#include "handheld-sim/machine/machine.h"

#include <pthread.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "formats/le.h"
#include "formats/text_encoding.h"
#include "handheld-sim/machine/bus.h"
#include "handheld-sim/machine/home_screen.h"
#include "handheld-sim/machine/message_box_view.h"
#include "handheld-sim/machine/psm_storage.h"
#include "platform/clock/clock.h"
#include "platform/wince/nuva_platform.h"

namespace nuva::sim {
namespace {

// What the boot code writes into the cold-start words once RAM holds a
// started system.
constexpr uint32_t kColdStartMark = 0x4E555641;  // "NUVA"
constexpr uint32_t kAdvancedFlashBytes = 48u << 20;
constexpr uint32_t kBasicFlashBytes = 32u << 20;
constexpr uint32_t kAdvancedRamBytes = 64u << 20;
constexpr uint32_t kBasicRamBytes = 32u << 20;
constexpr uint16_t kBlank = 0x0000;
constexpr int kSwShow = 5;
// The values of E_FAIL and the predefined keys (their macros cast C-style).
constexpr HRESULT kEFail = static_cast<HRESULT>(0x80004005);
const HKEY kLocalMachineKey = reinterpret_cast<HKEY>(uintptr_t{0x80000002});
const HKEY kCurrentUserKey = reinterpret_cast<HKEY>(uintptr_t{0x80000001});

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

bool EndsWithNoCase(std::u16string_view text, std::u16string_view suffix) {
    return text.size() >= suffix.size() && SameName(text.substr(text.size() - suffix.size()), suffix);
}

// "NUVA7INVOKE" is looked for in \Windows with ".dll" added, as LoadLibrary
// does; a path is taken as it stands.
std::u16string LibraryPath(std::u16string_view library) {
    if (library.find(u'\\') != std::u16string_view::npos) {
        return std::u16string(library);
    }
    std::u16string path = u"\\Windows\\" + std::u16string(library);
    if (library.find(u'.') == std::u16string_view::npos) {
        path += u".dll";
    }
    return path;
}

bool AsciiName(std::u16string_view name, std::string& out) {
    out.clear();
    for (char16_t c : name) {
        if (c == 0 || c > 0x7E) {
            return false;
        }
        out.push_back(static_cast<char>(c));
    }
    return !out.empty();
}

}  // namespace

thread_local HandheldThread* tCurrentThread = nullptr;

Machine::Machine(const FactorySettings& settings, std::string stateDir)
    : settings_(settings),
      stateDir_(std::move(stateDir)),
      flashBytes_(settings.advanced ? kAdvancedFlashBytes : kBasicFlashBytes),
      ramBytes_(settings.advanced ? kAdvancedRamBytes : kBasicRamBytes),
      ram_(std::make_unique<Ram>(ramBytes_, &ramError_)),
      bus_(flashBytes_, ram_->Bytes(), ramBytes_),
      // The heap lives in the RAM that the kernel and the reserved top leave.
      heap_(uint64_t{ramBytes_} - kKernelLowBytes - kReservedTopBytes),
      store_(MakeFactoryStore()) {
    supervisor_ = std::thread([this] { Supervise(); });
}

Machine::~Machine() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        shutdown_ = true;
        StopThreadsLocked();
    }
    supervisor_.join();
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return liveThreads_ == 0; });
    }
    calls_.reset();
    for (std::thread& t : programThreads_) {
        t.join();
    }
    programModules_.clear();
    libraries_.clear();
    heap_.FreeAll();
    if (!stateDir_.empty()) {
        std::string detail;
        if (!SaveState(&detail)) {
            std::fprintf(stderr, "nuva handheld: the state folder was not saved: %s\n", detail.c_str());
        }
    }
}

bool Machine::Ready(std::string& detail) const {
    if (!ram_->Valid()) {
        detail = ramError_;
        return false;
    }
    return true;
}

CreateError Machine::LoadImage(std::span<const uint8_t> image, std::string& detail) {
    if (image.size() < kImageHeaderBytes) {
        detail = Format("the image has %zu bytes, less than its 512-byte header", image.size());
        return CreateError::kBadImage;
    }
    auto contents = image.subspan(kImageHeaderBytes);
    if (contents.size() > flashBytes_ - kImageFlashOffset) {
        detail = Format("the image contents (%zu bytes) do not fit the %u MB flash behind offset 0x%X",
                        contents.size(), flashBytes_ >> 20, kImageFlashOffset);
        return CreateError::kBadImage;
    }
    bus_.WithFlash([&](FlashBank& flash) {
        auto cells = flash.MutableCells();
        std::fill(cells.begin(), cells.end(), uint8_t{0xFF});
        std::copy(contents.begin(), contents.end(), cells.begin() + kImageFlashOffset);
    });
    return CreateError::kNone;
}

CreateError Machine::LoadState(const StateConfig& config, std::string& detail) {
    std::vector<uint8_t> flash;
    std::vector<uint8_t> blob;
    std::vector<uint8_t> reserved;
    const std::string folder = stateDir_ + "/";
    if (!ReadFileWhole(folder + kFlashFile, flashBytes_, flash, detail) ||
        !ReadFileWhole(folder + kStoreFile, size_t{1} << 30, blob, detail) ||
        !ReadFileWhole(folder + kReservedRamFile, kReservedBlockBytes, reserved, detail)) {
        return CreateError::kBadState;
    }
    if (flash.size() != flashBytes_) {
        detail = Format("%s has %zu bytes; a %s handheld has %u bytes of flash", kFlashFile, flash.size(),
                        settings_.advanced ? "advanced" : "basic", flashBytes_);
        return CreateError::kBadState;
    }
    if (reserved.size() != kReservedBlockBytes) {
        detail =
            Format("%s has %zu bytes instead of %u", kReservedRamFile, reserved.size(), kReservedBlockBytes);
        return CreateError::kBadState;
    }
    std::string storeError;
    if (!LoadStore(blob, *store_, &storeError)) {
        detail = std::string(kStoreFile) + ": " + storeError;
        return CreateError::kBadState;
    }
    bus_.WithFlash(
        [&](FlashBank& bank) { std::copy(flash.begin(), flash.end(), bank.MutableCells().begin()); });
    std::memcpy(ram_->Bytes() + ReservedBlockOffset(), reserved.data(), kReservedBlockBytes);
    {
        std::lock_guard<std::mutex> saving(saveMu_);
        savedFlash_ = std::move(flash);
    }
    std::lock_guard<std::mutex> lock(mu_);
    ac_ = config.ac;
    battery_ = config.battery;
    return CreateError::kNone;
}

bool Machine::SaveState(std::string* detail) {
    if (stateDir_.empty() || !persist_.load()) {
        return true;
    }
    std::lock_guard<std::mutex> saving(saveMu_);
    StateConfig config;
    config.settings = settings_;
    {
        std::lock_guard<std::mutex> lock(mu_);
        config.ac = ac_;
        config.battery = battery_;
    }
    std::string text = FormatStateConfig(config);
    // The flash file is written only when the cells differ from it; a copy
    // that changed is taken into the kept one, whose memory is already there.
    bool flashChanged = false;
    bus_.WithFlash([&](FlashBank& bank) {
        std::span<const uint8_t> cells = bank.Cells();
        flashChanged = savedFlash_.size() != cells.size() ||
                       std::memcmp(savedFlash_.data(), cells.data(), cells.size()) != 0;
        if (flashChanged) {
            savedFlash_.assign(cells.begin(), cells.end());
        }
    });
    std::vector<uint8_t> blob;
    {
        std::lock_guard<std::mutex> lock(storeMu_);
        blob = SaveStore(*store_);
    }
    const uint8_t* block = ram_->Bytes() + ReservedBlockOffset();
    std::vector<uint8_t> reserved(block, block + kReservedBlockBytes);
    const std::string folder = stateDir_ + "/";
    std::string error;
    bool ok =
        MakeFolder(stateDir_, error) &&
        WriteFileWhole(folder + kConfigFile,
                       std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                       error) &&
        (!flashChanged || WriteFileWhole(folder + kFlashFile, savedFlash_, error)) &&
        WriteFileWhole(folder + kStoreFile, blob, error) &&
        WriteFileWhole(folder + kReservedRamFile, reserved, error);
    if (!ok) {
        // What the folder holds is no longer known: the next save writes all.
        savedFlash_.clear();
        if (detail != nullptr) {
            *detail = error;
        }
    }
    return ok;
}

// ---- Threads ----------------------------------------------------------------

void Machine::EndThread() {
    pthread_exit(nullptr);
}

std::optional<uint64_t> Machine::ClaimThread(bool requireStarted) {
    std::lock_guard<std::mutex> lock(mu_);
    if (shutdown_ || (requireStarted && !started_)) {
        return std::nullopt;
    }
    ++liveThreads_;
    return stopEpoch_.load();
}

std::thread Machine::StartThread(uint64_t epoch, std::function<void()> body,
                                 std::shared_ptr<std::atomic<bool>> returned) {
    return std::thread([this, epoch, body = std::move(body), returned] {
        HandheldThread self{this, epoch};
        tCurrentThread = &self;
        // Runs whether the body returns or the thread is ended inside it.
        struct Leave {
            Machine* machine;
            ~Leave() {
                tCurrentThread = nullptr;
                machine->ThreadEnded();
            }
        } leave{this};
        body();
        if (returned) {
            returned->store(true);
        }
    });
}

void Machine::ThreadEnded() {
    std::lock_guard<std::mutex> lock(mu_);
    // Only the waits for every thread to be gone care: waking the sleeping
    // programs and the supervisor at every RAPI call cost each call a round
    // of thread switches.
    if (--liveThreads_ == 0) {
        cv_.notify_all();
    }
}

// ---- Starts -----------------------------------------------------------------

void Machine::PowerOn() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (poweredOn_ || shutdown_) {
            return;
        }
        poweredOn_ = true;
        restartPending_ = true;
        restarting_ = true;
        ++bootGeneration_;
        cv_.notify_all();
    }
}

void Machine::Reset(ResetKind kind) {
    bool off;
    {
        std::lock_guard<std::mutex> lock(mu_);
        off = !poweredOn_;
        if (off) {
            clearRamPending_ = clearRamPending_ || kind == ResetKind::kCold;
        }
    }
    if (off) {
        PowerOn();
        return;
    }
    RequestRestart(kind == ResetKind::kCold);
}

void Machine::RequestRestart(bool clearRam) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (shutdown_ || !poweredOn_) {
            return;
        }
        restartPending_ = true;
        clearRamPending_ = clearRamPending_ || clearRam;
        restarting_ = true;
        started_ = false;
        messageBoxes_.Clear();
        // The programs of the start that ends are being stopped: they must
        // not be reported as running in the start that the new generation
        // names, although their threads may take a moment to unwind.
        running_.clear();
        ++bootGeneration_;
        StopThreadsLocked();
        NoteLinkLocked();
    }
    link_.Deliver();
}

void Machine::StopThreadsLocked() {
    stopEpoch_.fetch_add(1);
    cv_.notify_all();
    messageBoxes_.Wake();
}

void Machine::RestartFromProgram() {
    RequestRestart(false);
    EndThread();
}

void Machine::Supervise() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        cv_.wait(lock, [&] { return shutdown_ || restartPending_; });
        if (shutdown_) {
            return;
        }
        bool clearRam = clearRamPending_;
        restartPending_ = false;
        clearRamPending_ = false;
        lock.unlock();
        RunStart(clearRam);
        lock.lock();
    }
}

void Machine::RunStart(bool clearRam) {
    // Everything that ran before the restart is gone first.
    std::vector<std::thread> threads;
    {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return liveThreads_ == 0 || shutdown_; });
        if (shutdown_) {
            return;
        }
        threads.swap(programThreads_);
    }
    for (std::thread& t : threads) {
        t.join();
    }
    {
        std::lock_guard<std::mutex> invoke(invokeMu_);
        libraries_.clear();
    }
    programModules_.clear();
    bus_.Reset();
    interrupts_.Start();
    {
        std::lock_guard<std::mutex> lock(ramMu_);
        ram_->ReleaseAll();
        if (clearRam) {
            ram_->Clear();
        }
    }
    heap_.FreeAll();
    handles_.Clear();
    messageBoxes_.Clear();
    {
        std::lock_guard<std::mutex> lock(mu_);
        running_.clear();
        crashedReason_.clear();
        brickedReason_.clear();
        platformCommands_.clear();
        romValid_ = false;
    }
    if (!stateDir_.empty()) {
        std::string detail;
        if (!SaveState(&detail)) {
            std::fprintf(stderr, "nuva handheld: the state folder was not saved: %s\n", detail.c_str());
        }
    }
    {
        std::unique_lock<std::mutex> lock(mu_);
        ScaledWaitFor(cv_, lock, settings_.bootMs, [&] { return shutdown_ || restartPending_; });
        if (shutdown_ || restartPending_) {
            return;  // a reset during the boot starts it over
        }
    }
    Boot();
}

void Machine::Boot() {
    RomIdentity identity;
    RomIdentityError romError;
    bus_.WithFlash([&](FlashBank& flash) {
        auto cells = flash.Cells();
        romError =
            ReadRomIdentity(cells.data() + kImageFlashOffset, cells.size() - kImageFlashOffset, identity);
    });
    if (romError != RomIdentityError::kNone) {
        FillScreen(kBlank);
        {
            std::lock_guard<std::mutex> lock(mu_);
            brickedReason_ =
                std::string("the handheld does not start: ") + DescribeRomIdentityError(romError);
            started_ = false;
            restarting_ = false;
            NoteLinkLocked();
            cv_.notify_all();
        }
        link_.Deliver();
        return;
    }
    uint32_t block = ReservedBlockOffset();
    bool cold = RamWord(block + NUVA_COLD_START_WORD_1) == 0 && RamWord(block + NUVA_COLD_START_WORD_2) == 0;
    if (cold) {
        std::lock_guard<std::mutex> lock(storeMu_);
        ResetToFactory(*store_);
    }
    SetRamWord(block + NUVA_COLD_START_WORD_1, kColdStartMark);
    SetRamWord(block + NUVA_COLD_START_WORD_2, kColdStartMark);
    const Registry& registry = store_->registry;
    std::u16string drivers(kBuiltInDriversKey);
    bool usb = registry.KeyExists(RegRoot::kLocalMachine, drivers + u"\\USB") &&
               registry.KeyExists(RegRoot::kLocalMachine, drivers + u"\\Serial");
    bool psm = registry.KeyExists(RegRoot::kLocalMachine, kPsmAutoLoadKey);
    DrawHomeScreen(identity, cold);
    // The tick count starts with the system, after the boot code's own work,
    // and before any program can mask interrupts.
    interrupts_.Start();
    {
        std::lock_guard<std::mutex> lock(mu_);
        rom_ = identity;
        romValid_ = true;
        coldStart_ = cold;
        usbDrivers_ = usb;
        psmMounted_ = psm;
        started_ = true;
        launching_ = true;
        restarting_ = false;
        startup_.clear();
        threadPriority_ = THREAD_PRIORITY_NORMAL;
        ceThreadPriority_ = 251;
        NoteLinkLocked();
        cv_.notify_all();
    }
    link_.Deliver();
    StartPrograms();
}

void Machine::StartPrograms() {
    struct Launched {
        Machine* machine;
        ~Launched() {
            std::lock_guard<std::mutex> lock(machine->mu_);
            machine->launching_ = false;
            machine->cv_.notify_all();
        }
    } launched{this};
    std::vector<EntryInfo> entries;
    if (store_->files.List(kStartupFolder, &entries) != store_error::kSuccess) {
        return;
    }
    for (const EntryInfo& entry : entries) {
        if (entry.folder) {
            continue;
        }
        bool shortcut = EndsWithNoCase(entry.name, u".lnk");
        if (!shortcut && !EndsWithNoCase(entry.name, u".exe")) {
            continue;
        }
        size_t index;
        {
            std::lock_guard<std::mutex> lock(mu_);
            StartupRecord record;
            record.name = entry.name;
            record.outcome = shortcut ? StartupRecord::Outcome::kShortcut : StartupRecord::Outcome::kRunning;
            startup_.push_back(record);
            index = startup_.size() - 1;
            if (!shortcut) {
                running_.push_back(entry.name);
            }
        }
        if (shortcut) {
            continue;
        }
        std::optional<uint64_t> epoch = ClaimThread(true);
        if (!epoch) {
            std::lock_guard<std::mutex> lock(mu_);
            startup_[index].outcome = StartupRecord::Outcome::kStopped;
            std::erase(running_, entry.name);
            return;
        }
        std::thread thread =
            StartThread(*epoch, [this, name = entry.name, index] { RunProgram(name, index); }, {});
        std::lock_guard<std::mutex> lock(mu_);
        programThreads_.push_back(std::move(thread));
    }
}

void Machine::RunProgram(std::u16string name, size_t index) {
    // Records how the program ended, also when the thread is ended under it.
    struct Outcome {
        Machine* machine;
        size_t index;
        std::u16string name;
        StartupRecord::Outcome outcome = StartupRecord::Outcome::kStopped;
        int exitCode = 0;
        std::string detail;
        ~Outcome() {
            std::lock_guard<std::mutex> lock(machine->mu_);
            StartupRecord& record = machine->startup_.at(index);
            record.outcome = outcome;
            record.exitCode = exitCode;
            record.detail = detail;
            std::erase(machine->running_, name);
            machine->cv_.notify_all();
        }
    } result{this, index, name, StartupRecord::Outcome::kStopped, 0, {}};

    std::u16string path = std::u16string(kStartupFolder) + u"\\" + name;
    std::vector<uint8_t> bytes;
    uint32_t error = store_->files.Get(path, &bytes);
    if (error != store_error::kSuccess) {
        result.outcome = StartupRecord::Outcome::kLoadFailed;
        result.detail = Format("cannot read the program file (error %u)", error);
        return;
    }
    auto module = std::make_unique<LoadedModule>();
    std::string loadError;
    if (!module->Load(bytes, Utf8FromUtf16(name), loadError)) {
        result.outcome = StartupRecord::Outcome::kLoadFailed;
        result.detail = "the program does not load: " + loadError;
        return;
    }
    using WinMainFn = int (*)(HINSTANCE, HINSTANCE, LPWSTR, int);
    auto winMain = reinterpret_cast<WinMainFn>(module->Symbol("WinMain"));
    if (winMain == nullptr) {
        result.outcome = StartupRecord::Outcome::kLoadFailed;
        result.detail = "the program exports no WinMain";
        return;
    }
    HINSTANCE instance = module->Handle();
    {
        std::lock_guard<std::mutex> lock(mu_);
        programModules_.push_back(std::move(module));
    }
    std::u16string commandLine;
    int code = winMain(instance, nullptr, commandLine.data(), kSwShow);
    result.outcome = StartupRecord::Outcome::kReturned;
    result.exitCode = code;
}

bool Machine::WaitUntilStarted(std::chrono::milliseconds timeout, uint64_t after) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, timeout,
                 [&] { return shutdown_ || (poweredOn_ && !restarting_ && bootGeneration_ > after); });
    return started_ && !restarting_ && bootGeneration_ > after;
}

bool Machine::WaitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, timeout, [&] {
        return shutdown_ || (!restarting_ && !restartPending_ && !launching_ && running_.empty());
    });
}

bool Machine::WaitForRestart(uint64_t generation, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, timeout, [&] { return bootGeneration_ != generation; });
}

HandheldStatus Machine::Status() const {
    HandheldStatus s;
    std::lock_guard<std::mutex> lock(mu_);
    s.poweredOn = poweredOn_;
    s.restarting = restarting_;
    s.started = started_;
    s.brickedReason = brickedReason_;
    s.crashedReason = crashedReason_;
    s.coldStart = coldStart_;
    s.bootGeneration = bootGeneration_;
    s.plugged = link_.Plugged();
    s.linkAvailable = link_.Available();
    s.usbDriversLoaded = usbDrivers_;
    s.psmMounted = psmMounted_;
    s.acOnline = ac_;
    s.batteryPercent = battery_;
    if (romValid_) {
        s.rom = {rom_.DateCode, rom_.Version, rom_.OsMajor, rom_.LanguageId};
    }
    s.memoryConfig = MemoryConfig();
    s.interruptsMasked = interrupts_.Masked();
    s.messageBox = messageBoxes_.Up();
    s.runningPrograms = running_;
    s.startup = startup_;
    s.platformCommands = platformCommands_;
    s.threadPriority = threadPriority_;
    s.ceThreadPriority = ceThreadPriority_;
    return s;
}

// ---- Crashes -----------------------------------------------------------------

void Machine::CrashFromOutside(std::string reason) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (crashedReason_.empty() && started_) {
            crashedReason_ = reason;
            started_ = false;
            std::fprintf(stderr, "nuva handheld crashed: %s\n", reason.c_str());
        }
        StopThreadsLocked();
        NoteLinkLocked();
    }
    link_.Deliver();
}

void Machine::Crash(std::string reason) {
    CrashFromOutside(std::move(reason));
    EndThread();
}

void Machine::EnterCore(const HandheldThread& self, const char* name) {
    CheckRunning(self);
    if (!bus_.FlashInReadArray()) [[unlikely]] {
        if (std::optional<FlashAway> away = bus_.FlashNotInReadArray()) {
            Crash(Format("core library call %s while flash chip %d is not in read-array mode (%s)", name,
                         away->chip, ChipModeName(away->mode)));
        }
    }
}

// ---- Bus -------------------------------------------------------------------

void Machine::BusFault(BusResult result, uint32_t address, uint32_t width, bool write) {
    const char* access = write ? "write" : "read";
    switch (result) {
        case BusResult::kMisaligned:
            Crash(Format("alignment fault: %u-byte %s at 0x%08X", width, access, address));
        case BusResult::kFlashByteStore:
            Crash(Format("data abort: byte write at 0x%08X: the flash takes 16- and 32-bit stores only",
                         address));
        case BusResult::kRestart:
            RestartFromProgram();
        case BusResult::kDone:
        case BusResult::kUnbacked:
            break;
    }
    Crash(Format("data abort: %u-byte %s at 0x%08X, where nothing answers", width, access, address));
}

std::string Machine::TickReason(const FlashAway& away, const char* when) {
    return Format("tick interrupt %swhile flash chip %d was in %s mode: the tick handler runs from flash",
                  when, away.chip, ChipModeName(away.mode));
}

void Machine::CheckTick() {
    bool busy = bus_.TakeBusyRead();
    bool away = !bus_.FlashInReadArray();
    if (interrupts_.AfterAccess(away, busy)) {
        if (std::optional<FlashAway> chip = bus_.FlashNotInReadArray()) {
            Crash(TickReason(*chip, ""));
        }
    }
}

uint32_t Machine::BusRead(uint32_t address, uint32_t width) {
    uint32_t value = 0;
    BusResult result = bus_.Read(address, width, value);
    if (result != BusResult::kDone) [[unlikely]] {
        BusFault(result, address, width, false);
    }
    // With interrupts masked nothing arrives (the bus keeps a busy read for
    // the unmask); a correct flasher spends its whole programming run so.
    if (!interrupts_.Masked()) [[unlikely]] {
        CheckTick();
    }
    return value;
}

void Machine::BusWrite(uint32_t address, uint32_t width, uint32_t value) {
    BusResult result = bus_.Write(address, width, value);
    if (result != BusResult::kDone) [[unlikely]] {
        BusFault(result, address, width, true);
    }
    if (!interrupts_.Masked()) [[unlikely]] {
        CheckTick();
    }
}

void Machine::BusReadBlock(uint32_t address, uint32_t width, void* buffer, uint32_t count) {
    uint32_t at = address;
    BusResult result = bus_.ReadBlock(address, width, buffer, count, at);
    if (result != BusResult::kDone) [[unlikely]] {
        BusFault(result, at, width, false);
    }
    if (!interrupts_.Masked()) [[unlikely]] {
        CheckTick();
    }
}

void Machine::BusWriteBlock(uint32_t address, uint32_t width, const void* buffer, uint32_t count) {
    uint32_t at = address;
    BusResult result = bus_.WriteBlock(address, width, buffer, count, at);
    if (result != BusResult::kDone) [[unlikely]] {
        BusFault(result, at, width, true);
    }
    if (!interrupts_.Masked()) [[unlikely]] {
        CheckTick();
    }
}

// ---- Interrupts, time, message boxes ----------------------------------------------

void Machine::SetInterruptsMasked(bool masked) {
    std::optional<FlashAway> away = bus_.FlashNotInReadArray();
    // A busy read before the mask was the unmasked program's own (and was
    // checked then); one during the masked stretch is time that passed.
    bool busyRead = bus_.TakeBusyRead();
    bool tick = masked ? interrupts_.Mask(away.has_value()) : interrupts_.Unmask(busyRead);
    {
        std::lock_guard<std::mutex> lock(mu_);
        NoteLinkLocked();
    }
    link_.Deliver();
    if (tick && away) {
        Crash(TickReason(*away, masked
                                    ? "(before interrupts were masked) "
                                    : "(held while interrupts were masked, taken when they were enabled) "));
    }
}

void Machine::DeliverTick() {
    if (!interrupts_.Force()) {
        return;  // held until interrupts are enabled
    }
    if (std::optional<FlashAway> away = bus_.FlashNotInReadArray()) {
        CrashFromOutside(TickReason(*away, ""));
    }
}

void Machine::SleepMs(const HandheldThread& self, uint32_t ms) {
    if (InterruptsMasked()) {
        Crash("Sleep with interrupts masked: the handheld never wakes");
    }
    std::unique_lock<std::mutex> lock(mu_);
    bool stopped = ScaledWaitFor(cv_, lock, ms, [&] { return self.epoch != stopEpoch_.load(); });
    if (stopped) {
        lock.unlock();
        EndThread();
    }
    lock.unlock();
    if (ms == 0) {
        std::this_thread::yield();
    }
    interrupts_.Slept(ms);
}

uint32_t Machine::TickCount() {
    bool hung = false;
    uint32_t count = interrupts_.Count(hung);
    if (hung) {
        Crash(
            Format("GetTickCount read %u times with interrupts masked: the tick count stands still, so a "
                   "wait timed by it never ends",
                   InterruptController::kFrozenCountReads));
    }
    return count;
}

int Machine::ShowMessageBox(const HandheldThread& self, std::u16string text, std::u16string caption,
                            uint32_t type) {
    if (InterruptsMasked()) {
        Crash("MessageBoxW with interrupts masked: the user interface never runs, the box never shows");
    }
    bool shown = messageBoxes_.Show(MessageBoxState{std::move(caption), std::move(text), type},
                                    [&] { return self.epoch != stopEpoch_.load(); });
    if (!shown) {
        EndThread();
    }
    return IDOK;
}

std::optional<MessageBoxState> Machine::MessageBoxUp() const {
    return messageBoxes_.Up();
}

bool Machine::PressOk() {
    return messageBoxes_.PressOk();
}

bool Machine::WaitForMessageBox(std::chrono::milliseconds timeout) {
    return messageBoxes_.WaitUntilUp(timeout);
}

void Machine::NoteThreadPriority(int priority, bool ce) {
    std::lock_guard<std::mutex> lock(mu_);
    if (ce) {
        ceThreadPriority_ = priority;
    } else {
        threadPriority_ = priority;
    }
}

void Machine::NotePlatformCommand(uint32_t selector) {
    std::lock_guard<std::mutex> lock(mu_);
    platformCommands_.push_back(selector);
}

// ---- Cable -------------------------------------------------------------------

bool Machine::LinkAvailableLocked() const {
    return poweredOn_ && started_ && link_.Plugged() && usbDrivers_ && crashedReason_.empty() &&
           !interrupts_.Masked();
}

bool Machine::LinkAvailable() const {
    return link_.Available();
}

uint64_t Machine::LinkGeneration() const {
    return link_.Generation();
}

bool Machine::WaitForLinkChange(uint64_t seen, std::chrono::milliseconds timeout) {
    return link_.WaitForChange(seen, timeout);
}

void Machine::SetLinkListener(std::function<void(bool)> listener) {
    link_.SetListener(std::move(listener));
}

void Machine::Plug(bool plugged) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        link_.SetPlugged(plugged);
        NoteLinkLocked();
    }
    link_.Deliver();
}

Machine::CachedLibrary* Machine::LoadLibraryFile(const std::u16string& path, std::string& detail,
                                                 HRESULT& failure) {
    auto unreadable = [&](uint32_t error) -> CachedLibrary* {
        failure = kInvokeLibraryNotFound;
        detail = Format("cannot read %s (error %u)", Utf8FromUtf16(path).c_str(), error);
        return nullptr;
    };
    // The loaded copy serves while the file holds the same bytes; they are
    // compared where they lie (a backup makes a call per 16 KB it reads).
    for (auto it = libraries_.begin(); it != libraries_.end(); ++it) {
        if (SameName((*it)->path, path)) {
            bool same = false;
            if (uint32_t error = store_->files.Holds(path, (*it)->bytes, &same);
                error != store_error::kSuccess) {
                return unreadable(error);
            }
            if (same) {
                return it->get();
            }
            libraries_.erase(it);  // the file changed: the new copy is loaded
            break;
        }
    }
    std::vector<uint8_t> bytes;
    if (uint32_t error = store_->files.Get(path, &bytes); error != store_error::kSuccess) {
        return unreadable(error);
    }
    auto library = std::make_unique<CachedLibrary>();
    library->path = path;
    std::string loadError;
    if (!library->module.Load(bytes, Utf8FromUtf16(path), loadError)) {
        failure = kInvokeBadLibrary;
        detail = "the library does not load: " + loadError;
        return nullptr;
    }
    using DllMainFn = BOOL (*)(HANDLE, DWORD, LPVOID);
    if (auto dllMain = reinterpret_cast<DllMainFn>(library->module.Symbol("DllMain"))) {
        if (!dllMain(library->module.Handle(), DLL_PROCESS_ATTACH, nullptr)) {
            failure = kInvokeBadLibrary;
            detail = "the library's DllMain refused to attach";
            return nullptr;
        }
    }
    library->bytes = std::move(bytes);
    libraries_.push_back(std::move(library));
    return libraries_.back().get();
}

HRESULT Machine::InvokeExport(std::u16string_view library, std::u16string_view function,
                              std::span<const uint8_t> input, std::vector<uint8_t>& output,
                              std::string* detail) {
    std::lock_guard<std::mutex> invoke(invokeMu_);
    output.clear();
    std::string why;
    std::string name;
    if (!AsciiName(function, name) || input.size() > UINT32_MAX) {
        if (detail != nullptr) {
            *detail = "the export name is empty or not plain ASCII, or the input is too long";
        }
        return kInvokeExportNotFound;
    }
    std::optional<uint64_t> epoch = ClaimThread(true);
    if (!epoch) {
        if (detail != nullptr) {
            *detail = "the handheld is not running";
        }
        return kInvokeLinkDropped;
    }
    HRESULT result = kEFail;
    std::vector<uint8_t> out;
    std::u16string path = LibraryPath(library);
    const std::function<void()> call = [&] {
        CachedLibrary* loaded = LoadLibraryFile(path, why, result);
        if (loaded == nullptr) {
            return;
        }
        auto export_ = reinterpret_cast<PFNRAPIEXTDLL>(loaded->module.Symbol(name.c_str()));
        if (export_ == nullptr) {
            result = kInvokeExportNotFound;
            why = "the library exports no " + name;
            return;
        }
        BYTE* in = nullptr;
        if (!input.empty()) {
            in = static_cast<BYTE*>(HeapAlloc(LMEM_FIXED, static_cast<uint32_t>(input.size())));
            if (in == nullptr) {
                result = static_cast<HRESULT>(0x8007000E);  // E_OUTOFMEMORY
                why = "no memory for the input block";
                return;
            }
            std::memcpy(in, input.data(), input.size());
        }
        DWORD outBytes = 0;
        BYTE* outBlock = nullptr;
        result = export_(static_cast<DWORD>(input.size()), in, &outBytes, &outBlock, nullptr);
        if (outBlock != nullptr) {
            std::optional<uint32_t> size = HeapSize(outBlock);
            if (!size || outBytes > *size) {
                Crash(
                    Format("RAPI service: %s returned an output block of %u bytes that LocalAlloc did "
                           "not hand out",
                           name.c_str(), outBytes));
            }
            out.assign(outBlock, outBlock + outBytes);
            HeapFree(outBlock);
        }
    };
    // The call runs as a handheld thread of this start: a restart or a
    // crash during it ends the thread, as it ends every handheld thread.
    const bool returned = calls_->Run(
        [&] {
            HandheldThread self{this, *epoch};
            tCurrentThread = &self;
            ResetThreadDefaults();
            call();
        },
        [this] {
            tCurrentThread = nullptr;
            ThreadEnded();
        });
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!returned || stopEpoch_.load() != *epoch) {
            why = crashedReason_.empty() ? "the handheld restarted during the call"
                                         : "the handheld crashed during the call: " + crashedReason_;
            result = kInvokeLinkDropped;
        }
    }
    if (result != kInvokeLinkDropped) {
        output = std::move(out);
    }
    if (detail != nullptr) {
        *detail = why;
    }
    return result;
}

ProgramEnd Machine::RunAsProgram(const std::function<void()>& body) {
    std::optional<uint64_t> epoch = ClaimThread(true);
    if (!epoch) {
        return ProgramEnd::kStopped;
    }
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::thread thread = StartThread(*epoch, body, returned);
    thread.join();
    return returned->load() ? ProgramEnd::kReturned : ProgramEnd::kStopped;
}

// ---- Environment and inspection -------------------------------------------------

void Machine::SetAc(bool online) {
    std::lock_guard<std::mutex> lock(mu_);
    ac_ = online;
}

void Machine::SetBattery(std::optional<uint8_t> percent) {
    std::lock_guard<std::mutex> lock(mu_);
    battery_ = percent ? std::optional<uint8_t>(std::min<uint8_t>(*percent, 100)) : std::nullopt;
}

void Machine::PowerStatus(SYSTEM_POWER_STATUS_EX2& out) const {
    std::lock_guard<std::mutex> lock(mu_);
    out = SYSTEM_POWER_STATUS_EX2{};
    out.ACLineStatus = ac_ ? AC_LINE_ONLINE : AC_LINE_OFFLINE;
    if (battery_) {
        uint8_t p = *battery_;
        out.BatteryFlag = static_cast<BYTE>((p > 66   ? 0x01
                                             : p < 5  ? 0x04
                                             : p < 33 ? 0x02
                                                      : 0x00) |
                                            (ac_ ? 0x08 : 0));
        out.BatteryLifePercent = p;
        out.BatteryVoltage = 3600 + 6u * p;
    } else {
        out.BatteryFlag = 0xFF;
        out.BatteryLifePercent = BATTERY_PERCENTAGE_UNKNOWN;
    }
    out.BatteryLifeTime = 0xFFFFFFFF;
    out.BatteryFullLifeTime = 0xFFFFFFFF;
    out.BackupBatteryFlag = 0x01;
    out.BackupBatteryLifePercent = 100;
    out.BackupBatteryLifeTime = 0xFFFFFFFF;
    out.BackupBatteryFullLifeTime = 0xFFFFFFFF;
    out.BatteryTemperature = 250;
    out.BackupBatteryVoltage = 3000;
    out.BatteryChemistry = 0x04;  // lithium ion
}

uint32_t Machine::MemoryConfig() const {
    return settings_.advanced ? NUVA_MEMORY_ADVANCED : NUVA_MEMORY_BASIC;
}

RomReport Machine::Rom() const {
    std::lock_guard<std::mutex> lock(mu_);
    if (!romValid_) {
        return {};
    }
    return {rom_.DateCode, rom_.Version, rom_.OsMajor, rom_.LanguageId};
}

uint16_t Machine::Language() const {
    if (settings_.language != 0) {
        return settings_.language;
    }
    return static_cast<uint16_t>(Rom().languageId);
}

OSVERSIONINFOW Machine::OsVersion() const {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    uint32_t major = Rom().osMajor;
    info.dwMajorVersion = major;
    // Pocket PC 2002 is Windows CE 3.0, Pocket PC 2003 Windows CE 4.20.
    info.dwMinorVersion = major == 4 ? 20 : 0;
    info.dwBuildNumber = major == 4 ? 1081 : major == 3 ? 11171 : 0;
    info.dwPlatformId = 3;  // VER_PLATFORM_WIN32_CE
    return info;
}

std::vector<uint16_t> Machine::Screen() const {
    std::vector<uint16_t> pixels(kFrameBufferBytes / 2);
    for (size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = LoadLe16(bus_.FrameBuffer().data() + 2 * i);
    }
    // A message box is a window over the programs' pixels, not part of the
    // frame buffer: it shows on what is looked at and leaves the frame
    // buffer as the programs wrote it.
    if (std::optional<MessageBoxState> box = MessageBoxUp()) {
        DrawMessageBox(pixels, *box);
    }
    return pixels;
}

void Machine::FillScreen(uint16_t colour) {
    for (size_t i = 0; i < kFrameBufferBytes; i += 2) {
        StoreLe16(bus_.FrameBuffer().data() + i, colour);
    }
}

void Machine::DrawHomeScreen(const RomIdentity& identity, bool cold) {
    HomeScreenFacts facts;
    facts.version = identity.Version;
    facts.dateCode = identity.DateCode;
    facts.osMajor = identity.OsMajor;
    facts.language =
        settings_.language != 0 ? settings_.language : static_cast<uint16_t>(identity.LanguageId);
    facts.advanced = settings_.advanced;
    facts.coldStart = cold;
    std::vector<uint16_t> pixels(kFrameBufferBytes / 2);
    sim::DrawHomeScreen(pixels, facts);
    for (size_t i = 0; i < pixels.size(); ++i) {
        StoreLe16(bus_.FrameBuffer().data() + 2 * i, pixels[i]);
    }
}

void Machine::WithFlash(const std::function<void(FlashBank&)>& body) {
    bus_.WithFlash(body);
}

std::vector<uint8_t> Machine::DumpFlash(uint32_t offset, uint32_t length) const {
    std::vector<uint8_t> bytes;
    bus_.WithFlash([&](FlashBank& flash) {
        auto cells = flash.Cells();
        if (offset < cells.size()) {
            size_t n = std::min<size_t>(length, cells.size() - offset);
            bytes.assign(cells.begin() + offset, cells.begin() + offset + n);
        }
    });
    return bytes;
}

void Machine::FragmentRam(uint32_t calls) {
    std::lock_guard<std::mutex> lock(ramMu_);
    ram_->Fragment(calls);
}

uint32_t Machine::ReservedBlockOffset() const {
    return (settings_.advanced ? NUVA_RESERVED_RAM_ADVANCED : NUVA_RESERVED_RAM_BASIC) - NUVA_RAM_UNCACHED;
}

uint32_t Machine::RamWord(uint32_t offset) const {
    return LoadLe32(ram_->Bytes() + offset);
}

void Machine::SetRamWord(uint32_t offset, uint32_t value) {
    StoreLe32(ram_->Bytes() + offset, value);
}

std::optional<uint32_t> Machine::ReadRamWord(uint32_t kernelAddress) const {
    BusSlot slot = DecodeBus(kernelAddress, 4, flashBytes_, ramBytes_);
    if (slot.target != BusTarget::kRam || kernelAddress % 4 != 0) {
        return std::nullopt;
    }
    return RamWord(slot.offset);
}

std::vector<RegisterWrite> Machine::RegisterWrites() const {
    return bus_.RegisterWrites();
}

std::optional<uint32_t> Machine::RegisterValue(uint32_t address) const {
    return bus_.RegisterValue(address);
}

PsmError Machine::PutPsmFile(std::u16string_view name, std::span<const uint8_t> data) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!started_ || !psmMounted_) {
            return PsmError::kNotMounted;
        }
    }
    PsmError error = PsmError::kNotMounted;
    bus_.WithFlash([&](FlashBank& flash) {
        error = WritePsm(flash.MutableCells().subspan(kPsmFlashOffset), name, data);
    });
    return error;
}

PsmError Machine::ListPsmFiles(std::vector<PsmFile>& files) const {
    files.clear();
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!started_ || !psmMounted_) {
            return PsmError::kNotMounted;
        }
    }
    PsmError error = PsmError::kNotMounted;
    bus_.WithFlash([&](FlashBank& flash) { error = ReadPsm(flash.Cells().subspan(kPsmFlashOffset), files); });
    return error;
}

// ---- Heap and handles ------------------------------------------------------------

bool Machine::Readable(const void* p, uint32_t bytes) const {
    if (p == nullptr) {
        return false;
    }
    if (bytes == 0) {
        return true;
    }
    if (heap_.Holds(p, bytes)) {
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(ramMu_);
        if (ram_->Committed(p, bytes)) {
            return true;
        }
    }
    // Anything else: whether the process can read it, asked without touching
    // it.
    auto address = reinterpret_cast<uintptr_t>(p);
    uint8_t scratch[4096];
    uintptr_t end = address + bytes;
    if (end < address) {
        return false;
    }
    for (uintptr_t at = address; at < end;) {
        size_t n = std::min<uintptr_t>(sizeof scratch, end - at);
        iovec local{scratch, n};
        iovec remote{reinterpret_cast<void*>(at), n};
        if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(n)) {
            return false;
        }
        at += n;
    }
    return true;
}

// ---- Handles ---------------------------------------------------------------------

std::optional<RegKey> Machine::Key(HKEY key) {
    if (key == kLocalMachineKey) {
        return store_->registry.Root(RegRoot::kLocalMachine);
    }
    if (key == kCurrentUserKey) {
        return store_->registry.Root(RegRoot::kCurrentUser);
    }
    return handles_.Key(key);
}

bool Machine::CloseKey(HKEY key) {
    if (key == kLocalMachineKey || key == kCurrentUserKey) {
        return true;
    }
    return handles_.CloseKey(key);
}

}  // namespace nuva::sim
