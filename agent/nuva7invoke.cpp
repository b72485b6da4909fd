// Nuva7Invoke: the library the desktop calls on the handheld through the
// RAPI service, export by export, in block mode. Each export receives an
// input block that the service allocated with LocalAlloc (the export frees it
// where its contract says so) and hands back an output block allocated with
// LocalAlloc(LPTR), which the service frees after sending it.
//
// Every length and address read from an input block is checked before use:
// the blocks come from the cable.

#include <array>
#include <cstring>
#include <type_traits>

#include "agent/driver_cleanup.h"
#include "agent/file_sum.h"
#include "agent/memory_class.h"
#include "agent/platform_queries.h"
#include "formats/byte_sum.h"
#include "formats/device_info.h"
#include "formats/le.h"
#include "handheld-common/console/screen_console.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace nuva::agent {
namespace {

constexpr UINT kDeviceInfoBlockBytes = 128;
constexpr size_t kFlashRequestBytes = 8;
constexpr size_t kShowHeaderBytes = 8;
constexpr uint16_t kShowColour = 0x8080;
constexpr LANGID kSpanishModernSort = 0x0C0A;
constexpr LANGID kSpanishTraditionalSort = 0x040A;

// The console's cursor and drawing address persist between calls, as the
// library may stay loaded; every FnNUVAShowString call sets them anew.
ScreenConsole g_console;

// Whether the service handed over a block that may be read (and so freed).
bool InputUsable(DWORD cbInput, const BYTE* pInput) {
    return pInput != nullptr && cbInput != 0 && IsBadReadPtr(pInput, cbInput) == FALSE;
}

void NoOutput(DWORD* pcbOutput, BYTE** ppOutput) {
    if (pcbOutput != nullptr) {
        *pcbOutput = 0;
    }
    if (ppOutput != nullptr) {
        *ppOutput = nullptr;
    }
}

// The input as a wide, NUL-terminated text, within the block's size.
bool InputIsAll(DWORD cbInput, const BYTE* pInput) {
    static constexpr char16_t kAll[] = u"ALL";
    if (cbInput < sizeof kAll) {
        return false;
    }
    for (size_t i = 0; i < std::size(kAll); ++i) {
        if (LoadLe16(pInput + 2 * i) != kAll[i]) {
            return false;
        }
    }
    return true;
}

// The longest path the handheld's file system takes, with its terminator.
using PathBuffer = std::array<char16_t, 260>;

// A wide path read up to its terminator, which must lie within the block and
// within the longest path.
bool InputPath(DWORD cbInput, const BYTE* pInput, PathBuffer& path) {
    for (size_t i = 0; i < path.size() && 2 * i + 2 <= cbInput; ++i) {
        path[i] = static_cast<char16_t>(LoadLe16(pInput + 2 * i));
        if (path[i] == u'\0') {
            return true;
        }
    }
    return false;
}

DeviceInfo UnsupportedDeviceInfo() {
    DeviceInfo info;
    info.BatteryPercent = kBatteryUnknown;
    SetFieldText(info.RomVersion, u"UnKnown");
    SetFieldText(info.ModelName, u"UnKnown");
    return info;
}

DeviceInfo CollectDeviceInfo() {
    DeviceUuid uuid{};
    if (!ReadDeviceUuid(uuid) || !HasModelSignature(uuid)) {
        return UnsupportedDeviceInfo();
    }
    DeviceInfo info;
    info.Supported = 1;

    const LANGID language = GetSystemDefaultLangID();
    info.LanguageId = language == kSpanishModernSort ? kSpanishTraditionalSort : language;

    SYSTEM_POWER_STATUS_EX2 power{};
    static_assert(sizeof power == 56);
    if (GetSystemPowerStatusEx2(&power, sizeof power, TRUE) != 0) {
        info.AcOnline = power.ACLineStatus == AC_LINE_ONLINE ? 1 : 0;
        info.BatteryPercent = power.BatteryLifePercent;
    }

    const uint32_t config = QueryMemoryConfig();
    const MemoryClass memory = MemoryClassOf(config);
    info.MemoryConfig = memory.known ? config : 0;
    info.RamSizeMB = memory.ramMB;
    info.FlashSizeMB = memory.flashMB;

    info.PlatformInfo = QueryPlatformInfo();

    const std::array<char16_t, 8> version = QueryRomVersion();
    size_t length = 0;
    while (length < version.size() && version[length] != u'\0') {
        ++length;
    }
    SetFieldText(info.RomVersion, std::u16string_view(version.data(), length));
    SetFieldText(info.ModelName, u"NUVA7");
    std::memcpy(info.DeviceUuid.data(), uuid.data(), uuid.size());

    OSVERSIONINFOW os{};
    os.dwOSVersionInfoSize = sizeof os;
    if (GetVersionExW(&os) != FALSE) {
        info.OsMajorVersion = os.dwMajorVersion;
    }
    return info;
}

void Restart() {
    KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
}

}  // namespace
}  // namespace nuva::agent

using namespace nuva;
using namespace nuva::agent;

extern "C" {

NUVA_EXPORT BOOL WINAPI DllMain(HANDLE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}

// The DeviceInfo record: input must be the wide text "ALL".
NUVA_EXPORT HRESULT FnNUVAInfo(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                               IRAPIStream* /*stream*/) {
    NoOutput(pcbOutput, ppOutput);
    const bool usable = InputUsable(cbInput, pInput);
    const bool all = usable && InputIsAll(cbInput, pInput);
    if (usable) {
        LocalFree(pInput);
    }
    if (!all || pcbOutput == nullptr || ppOutput == nullptr) {
        return E_FAIL;
    }
    auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, kDeviceInfoBlockBytes));
    if (block == nullptr) {
        return E_FAIL;
    }
    WriteDeviceInfo(CollectDeviceInfo(), block);
    *ppOutput = block;
    *pcbOutput = static_cast<DWORD>(kDeviceInfoSize);
    return S_OK;
}

// Raw flash contents followed by their byte sum. Only ranges inside the flash
// windows, of at most 1 MB, are read; anything else is refused.
NUVA_EXPORT HRESULT FnNUVAReadFlash(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                    IRAPIStream* /*stream*/) {
    NoOutput(pcbOutput, ppOutput);
    if (!InputUsable(cbInput, pInput)) {
        return E_FAIL;
    }
    const bool complete = cbInput >= kFlashRequestBytes;
    const uint32_t address = complete ? LoadLe32(pInput) : 0;
    const uint32_t length = complete ? LoadLe32(pInput + 4) : 0;
    LocalFree(pInput);
    if (!complete || pcbOutput == nullptr || ppOutput == nullptr) {
        return E_FAIL;
    }
    // An empty read touches no address: it is answered wherever it points.
    if (length != 0 && !FlashReadAllowed(address, length, QueryMemoryConfig())) {
        return E_FAIL;
    }
    auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, length + 4));
    if (block == nullptr) {
        return E_FAIL;
    }
    if (length != 0) {
        READ_REGISTER_BUFFER_UCHAR(NUVA_KADDR(UCHAR, address), block, length);
    }
    StoreLe32(block + length, ByteSum(block, length));
    *ppOutput = block;
    *pcbOutput = length + 4;
    return S_OK;
}

// The byte sum of a file on the handheld; the desktop compares it.
NUVA_EXPORT HRESULT IsCheckSumOk(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                 IRAPIStream* /*stream*/) {
    NoOutput(pcbOutput, ppOutput);
    if (pInput == nullptr) {
        return E_FAIL;
    }
    PathBuffer path{};
    const bool named = InputUsable(cbInput, pInput) && InputPath(cbInput, pInput, path);
    LocalFree(pInput);
    uint32_t sum = 0;
    if (!named || pcbOutput == nullptr || ppOutput == nullptr || !FileByteSum(path.data(), sum)) {
        return E_FAIL;
    }
    auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, 4));
    if (block == nullptr) {
        return E_FAIL;
    }
    StoreLe32(block, sum);
    *ppOutput = block;
    *pcbOutput = 4;
    return S_OK;
}

// Clears the screen and draws the text. Always E_FAIL: the desktop does not
// look at the result.
NUVA_EXPORT HRESULT FnNUVAShowString(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                     IRAPIStream* /*stream*/) {
    NoOutput(pcbOutput, ppOutput);
    if (!InputUsable(cbInput, pInput)) {
        return E_FAIL;
    }
    // The text runs from byte 8 to its NUL, or to the end of the block when
    // the sender left the NUL out. The address must be the screen's.
    if (cbInput >= kShowHeaderBytes) {
        const uint32_t frameBuffer = LoadLe32(pInput);
        if (ScreenConsole::IsScreenAddress(frameBuffer)) {
            g_console.SetFrameBuffer(frameBuffer);
            g_console.ClearScreen();
            g_console.PutText(kShowColour, reinterpret_cast<const char*>(pInput + kShowHeaderBytes),
                              cbInput - kShowHeaderBytes);
        }
    }
    LocalFree(pInput);
    return E_FAIL;
}

// Restarts the handheld keeping RAM; with any input, the driver keys are
// removed first so that the next start loads none of them.
NUVA_EXPORT HRESULT WarmReset(DWORD cbInput, BYTE* /*pInput*/, DWORD* pcbOutput, BYTE** ppOutput,
                              IRAPIStream* /*stream*/) {
    NoOutput(pcbOutput, ppOutput);
    if (cbInput != 0) {
        DriverCleanup();
        DriverCleanup();
    }
    Restart();
    return S_OK;
}

// Clears the cold-start words of the reserved RAM block, byte by byte, and
// restarts: the next start is cold (factory files and registry).
NUVA_EXPORT HRESULT ColdReset(DWORD /*cbInput*/, BYTE* /*pInput*/, DWORD* pcbOutput, BYTE** ppOutput,
                              IRAPIStream* /*stream*/) {
    NoOutput(pcbOutput, ppOutput);
    const uint32_t block = MemoryClassOf(QueryMemoryConfig()).reservedBlock;
    for (const uint32_t word : {NUVA_COLD_START_WORD_1, NUVA_COLD_START_WORD_2}) {
        for (uint32_t i = 0; i < 4; ++i) {
            WRITE_REGISTER_UCHAR(NUVA_KADDR(UCHAR, block + word + i), 0);
        }
    }
    Restart();
    return S_OK;
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&FnNUVAInfo), PFNRAPIEXTDLL>);
static_assert(std::is_same_v<decltype(&FnNUVAReadFlash), PFNRAPIEXTDLL>);
static_assert(std::is_same_v<decltype(&IsCheckSumOk), PFNRAPIEXTDLL>);
static_assert(std::is_same_v<decltype(&FnNUVAShowString), PFNRAPIEXTDLL>);
static_assert(std::is_same_v<decltype(&WarmReset), PFNRAPIEXTDLL>);
static_assert(std::is_same_v<decltype(&ColdReset), PFNRAPIEXTDLL>);
