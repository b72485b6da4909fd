// Reflash: the program the handheld runs from its start-up folder after the
// restart that ends an update or a restore. Without the desktop it reads the
// hand-over "\temp\updinfo.ini", checks every image part against its byte
// sum, shows the waiting screen, sets up the platform, masks interrupts and
// programs the flash from the parts, ending with a hardware restart into the
// new system.
//
// A hand-over that cannot be used ends in a cold restart. The desktop took
// the cable's drivers out of the registry before the restart that brought
// us here, so a warm start would leave the handheld off the cable until
// someone cold-restarts it, with the parts filling \TEMP. The desktop
// cold-restarted the handheld before it copied anything, so the cold start
// loses nothing of the user's; it brings back the drivers and the factory
// file store. Only when the reserved block cannot be found does the restart
// stay warm; then the program takes itself out of the start-up folder first,
// so that it does not come back here and restart for ever.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "agent/memory_class.h"
#include "formats/le.h"
#include "formats/update_handoff.h"
#include "handheld-common/console/screen_console.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"
#include "reflash/part_check.h"
#include "reflash/part_plan.h"
#include "reflash/programmer.h"
#include "reflash/wince_bindings.h"

namespace nuva::reflash {
namespace {

constexpr const char16_t* kHandoffPath = u"\\temp\\updinfo.ini";
constexpr const char16_t* kStartupCopy = u"\\Windows\\StartUp\\Reflash.exe";
constexpr const char16_t* kSeriousCaption = u"serious";
constexpr uint32_t kWaitingScreens = 30;
constexpr uint32_t kWaitingScreenMs = 2000;

void Show(ScreenConsole& console, std::string_view text) {
    console.PutText(kTextColour, text.data(), text.size());
}

// The reserved block's word at `offset`, cleared a byte at a time so that
// no alignment is assumed.
void ClearReservedWord(uint32_t block, uint32_t offset) {
    for (uint32_t i = 0; i < 4; ++i) {
        WRITE_REGISTER_UCHAR(NUVA_KADDR(UCHAR, block + offset + i), 0);
    }
}

// Without a hand-over the reserved block is found as the agent finds it:
// from the memory configuration the platform reports. Nothing when the
// platform does not answer with one of this model's codes, rather than
// clearing words of a guessed block.
std::optional<uint32_t> ReservedBlockFromPlatform() {
    std::array<uint8_t, 4> selector{};
    StoreLe32(selector.data(), NUVA_COMMAND_MEMORY_CONFIG);
    std::array<uint8_t, 4> answer{};
    DWORD returned = 0;
    if (KernelIoControl(IOCTL_NUVA_PLATFORM_COMMAND, selector.data(), static_cast<DWORD>(selector.size()),
                        answer.data(), static_cast<DWORD>(answer.size()), &returned) == FALSE) {
        return std::nullopt;
    }
    const agent::MemoryClass memory = agent::MemoryClassOf(LoadLe32(answer.data()));
    if (!memory.known) {
        return std::nullopt;
    }
    return memory.reservedBlock;
}

int GiveUpOnHandoff(const char16_t* text) {
    MessageBoxW(nullptr, text, kSeriousCaption, MB_OK);
    DeleteFileW(kStartupCopy);
    if (const std::optional<uint32_t> block = ReservedBlockFromPlatform()) {
        ClearReservedWord(*block, NUVA_COLD_START_WORD_1);
        ClearReservedWord(*block, NUVA_COLD_START_WORD_2);
    }
    KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
    return 0;
}

const char16_t* VerificationText(PartCheck check) {
    switch (check) {
        case PartCheck::kCreateFile:
            return u"CreateFile() Fail ..\nPlease Cold Reset";
        case PartCheck::kGetFileSize:
            return u"GetFileSize() Fail ..\nPlease Cold Reset";
        case PartCheck::kReadFile:
            return u"ReadFile() Fail ..\nPlease Cold Reset";
        default:
            return u"CheckSum() Fail ..\nPlease Cold Reset";
    }
}

// A part that is missing or wrong: the handheld restarts cold, back to its
// factory files, and the old system runs on.
int FailVerification(const HandoffFile& handoff, const PartCheckResult& result, ScreenConsole& console) {
    ClearReservedWord(handoff.absoluate, NUVA_COLD_START_WORD_1);
    ClearReservedWord(handoff.absoluate, NUVA_COLD_START_WORD_2);
    MessageBoxW(nullptr, VerificationText(result.check), handoff.records[result.record].PartName.data(),
                MB_OK);
    if (result.check == PartCheck::kCreateFile) {
        Show(console, "create file failed\n");
    }
    KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
    return 0;
}

void ClearBits(uint32_t address, uint32_t bits) {
    auto* reg = NUVA_KADDR(ULONG, address);
    WRITE_REGISTER_ULONG(reg, READ_REGISTER_ULONG(reg) & ~bits);
}

void SetBits(uint32_t address, uint32_t bits) {
    auto* reg = NUVA_KADDR(ULONG, address);
    WRITE_REGISTER_ULONG(reg, READ_REGISTER_ULONG(reg) | bits);
}

void WriteWord(uint32_t address, uint32_t value) {
    WRITE_REGISTER_ULONG(NUVA_KADDR(ULONG, address), value);
}

// The platform set-up that precedes programming; what each register does is
// the platform's business, the order is fixed.
void SetUpPlatform() {
    ClearBits(0xA9000030, 1u << 4);
    ClearBits(0xA900003C, 1u << 4);
    ClearBits(0xA9000030, 1u << 2);
    ClearBits(0xA900003C, 1u << 2);
    ClearBits(0xA9000030, 1u << 5);
    ClearBits(0xA900003C, 1u << 5);
    WriteWord(0xA9000018, 0x00400000);
    WriteWord(0xA9000028, 0x00000380);
    WriteWord(0xA9000024, 0x00080000);
    ClearBits(0xBE040320, 1u << 3);
    WriteWord(0xBE04000C, 0);
    WriteWord(0xA9500000 + 4, 0);
    ClearBits(0xA9000028, 1u << 28);
    SetBits(0xA900001C, 1u << 28);
    SetBits(0xA9000010, 1u << 28);
}

int RunFlasher() {
    std::array<uint8_t, kHandoffFileSize> image{};
    HANDLE file = CreateFileW(kHandoffPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GiveUpOnHandoff(u"Cann't Get Update Info ..");
    }
    DWORD got = 0;
    BOOL read = ReadFile(file, image.data(), kHandoffFileSize, &got, nullptr);
    CloseHandle(file);
    HandoffFile handoff;
    if (read == FALSE || got != kHandoffFileSize ||
        ParseHandoffFile(image.data(), image.size(), handoff) != HandoffError::kNone ||
        CheckHandoffAddresses(handoff).problem != HandoffAddressProblem::kNone) {
        return GiveUpOnHandoff(u"Cann't Get Update Info(1) ..");
    }

    ScreenConsole console;
    WinCeScreen screen(console, handoff.UI);
    WinCeSystem system(screen);
    PartCheckResult check = CheckParts(handoff, system);
    if (check.check == PartCheck::kDoesNotFit) {
        return GiveUpOnHandoff(u"Cann't Get Update Info(1) ..");
    }
    if (check.check != PartCheck::kOk) {
        return FailVerification(handoff, check, console);
    }

    ClearReservedWord(handoff.absoluate, 0x324);
    DWORD selector = NUVA_COMMAND_FLASH_PREPARE;
    KernelIoControl(IOCTL_NUVA_PLATFORM_COMMAND, &selector, sizeof selector, nullptr, 0, nullptr);
    WriteWord(handoff.absoluate + 0x40C, 0);

    Sleep(5000);
    std::string_view waiting =
        handoff.RestoreFlag != 0 ? "  Restoring saved ROM image\n" : "          updating...\n";
    for (uint32_t i = 0; i < kWaitingScreens; ++i) {
        console.Home();
        ScreenConsole::ClearFrameBuffer(handoff.UI);
        Show(console, "\n\n\n\n\n\n\n\n\n");
        Show(console, waiting);
        Sleep(kWaitingScreenMs);
    }

    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    CeSetThreadPriority(GetCurrentThread(), 0);
    SetUpPlatform();
    Sleep(500);

    WinCePort port(console);
    // The poll budget is a time counted in bus reads (flash_routines.h): it
    // needs no clock and no scale once the flash has left read-array mode.
    Programmer programmer(handoff, system, screen, port, kFlasherPollBudget);
    return programmer.Run() == SequenceEnd::kRoutinesNotCopied ? 1 : 0;
}

}  // namespace
}  // namespace nuva::reflash

extern "C" NUVA_EXPORT int WinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    return nuva::reflash::RunFlasher();
}
