// The machine as handheld code and the emulator's user see it: starts and
// bricks, the bus and its faults, the core library's answers, RAM page
// frames, cold and warm starts, driver keys, the state folder and the
// built-in storage.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "formats/le.h"
#include "handheld-sim/flash/flash_bank.h"
#include "machine_test_support.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace nuva::sim::test {
namespace {

const HANDLE kInvalid = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
const HKEY kLocalMachine = reinterpret_cast<HKEY>(uintptr_t{0x80000002});  // kLocalMachine

// NUVA_KADDR without its C-style casts.
template <class T>
volatile T* Kaddr(uint32_t address) {
    return reinterpret_cast<volatile T*>(uintptr_t{address});
}

ULONG ReadWord(uint32_t address) {
    return READ_REGISTER_ULONG(Kaddr<ULONG>(address));
}
void WriteWord(uint32_t address, ULONG value) {
    WRITE_REGISTER_ULONG(Kaddr<ULONG>(address), value);
}

bool HasFactoryShortcut(Handheld& handheld) {
    return StoreHas(handheld, u"\\Windows\\StartUp\\Welcome.lnk");
}

TEST(Starts, ReportTheRomOfTheFlashAndBrickWithoutAValidOne) {
    auto handheld = StartedHandheld(TestSettings(false), SmallImage("06230300", "B120", 3, 0x0C0A));
    ASSERT_NE(handheld, nullptr);
    HandheldStatus status = handheld->Status();
    EXPECT_TRUE(status.started);
    EXPECT_TRUE(status.coldStart);  // a factory-new handheld's RAM is empty
    EXPECT_EQ(status.rom.dateCode, "06230300");
    EXPECT_EQ(status.rom.version, "B120");
    EXPECT_EQ(status.rom.osMajor, 3u);
    EXPECT_EQ(status.rom.languageId, 0x0C0Au);
    EXPECT_EQ(status.memoryConfig, NUVA_MEMORY_BASIC);
    EXPECT_EQ(handheld->OsVersion().dwMajorVersion, 3u);
    EXPECT_EQ(handheld->FlashBytes(), 32u << 20);
    EXPECT_EQ(handheld->RamBytes(), 32u << 20);
    // The image contents sit at flash offset 0x40000.
    std::vector<uint8_t> image = SmallImage("06230300", "B120", 3, 0x0C0A);
    EXPECT_EQ(handheld->DumpFlash(0x40000, 0x8000), std::vector<uint8_t>(image.begin() + 512, image.end()));
    EXPECT_EQ(handheld->DumpFlash(0x3FFFF, 1), std::vector<uint8_t>{0xFF});

    // One changed content byte: the sum no longer matches.
    std::vector<uint8_t> damaged = SmallImage();
    damaged[512 + 0x2000] ^= 0x40;
    auto bricked = Handheld::Create(TestSettings(), damaged, "");
    ASSERT_NE(bricked, nullptr);
    bricked->Plug(true);
    bricked->PowerOn();
    EXPECT_FALSE(bricked->WaitUntilStarted(10s));
    status = bricked->Status();
    EXPECT_FALSE(status.started);
    EXPECT_NE(status.brickedReason.find("CRC-32"), std::string::npos) << status.brickedReason;
    EXPECT_FALSE(status.linkAvailable);
    for (uint16_t pixel : bricked->Screen()) {
        ASSERT_EQ(pixel, 0);  // blank
    }
    bool ran = false;
    EXPECT_EQ(bricked->RunAsProgram([&] { ran = true; }), ProgramEnd::kStopped);
    EXPECT_FALSE(ran);
    std::vector<uint8_t> output;
    EXPECT_EQ(bricked->InvokeExport(u"NUVA7INVOKE", u"FnNUVAInfo", {}, output), kInvokeLinkDropped);

    // No block at all (a header-only image leaves the flash erased), and an
    // image that does not fit the flash.
    auto empty = Handheld::Create(TestSettings(), std::vector<uint8_t>(512, 0), "");
    ASSERT_NE(empty, nullptr);
    empty->PowerOn();
    EXPECT_FALSE(empty->WaitUntilStarted(10s));
    EXPECT_NE(empty->Status().brickedReason.find("no ROM identity"), std::string::npos);
    CreateError error = CreateError::kNone;
    std::string detail;
    EXPECT_EQ(
        Handheld::Create(TestSettings(false), std::vector<uint8_t>(512 + (32u << 20)), "", &error, &detail),
        nullptr);
    EXPECT_EQ(error, CreateError::kBadImage);
    EXPECT_EQ(Handheld::Create(TestSettings(), std::vector<uint8_t>(100), "", &error, &detail), nullptr);
    EXPECT_EQ(error, CreateError::kBadImage);
    EXPECT_FALSE(detail.empty());
}

TEST(Bus, WindowsReachTheirDevicesAndAnUnbackedAddressCrashes) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    handheld->Plug(true);
    ASSERT_TRUE(handheld->LinkAvailable());
    std::vector<uint8_t> image = SmallImage();
    const std::vector<uint16_t> started = handheld->Screen();
    ProgramEnd end = handheld->RunAsProgram([&] {
        // RAM: the cached and uncached windows are the same bytes.
        WriteWord(0x84100000, 0x12345678);
        EXPECT_EQ(ReadWord(0xA4100000), 0x12345678u);
        EXPECT_EQ(READ_REGISTER_USHORT(Kaddr<USHORT>(0xA4100002)), 0x1234);
        WRITE_REGISTER_UCHAR(Kaddr<UCHAR>(0x84100001), 0xAB);
        EXPECT_EQ(ReadWord(0x84100000), 0x1234AB78u);
        // Flash: both windows read the image contents at offset 0x40000.
        EXPECT_EQ(ReadWord(0xA0040000), LoadLe32(image.data() + 512));
        EXPECT_EQ(ReadWord(0x80040004), LoadLe32(image.data() + 516));
        uint8_t bytes[16];
        READ_REGISTER_BUFFER_UCHAR(Kaddr<UCHAR>(0xA0040100), bytes, sizeof bytes);
        EXPECT_EQ(std::memcmp(bytes, "NUVAROM1", 8), 0);
        ULONG flashWords[64];
        READ_REGISTER_BUFFER_ULONG(Kaddr<ULONG>(0xA0040000), flashWords, 64);
        EXPECT_EQ(std::memcmp(flashWords, image.data() + 512, sizeof flashWords), 0);
        // Frame buffer.
        WRITE_REGISTER_USHORT(Kaddr<USHORT>(NUVA_FRAME_BUFFER + 2 * (240 * 10 + 3)), 0x07E0);
        ULONG words[2] = {0x001F001F, 0x001F001F};
        WRITE_REGISTER_BUFFER_ULONG(Kaddr<ULONG>(NUVA_FRAME_BUFFER), words, 2);
        // Registers keep what is written.
        WriteWord(0xA9000018, 0x00400000);
        EXPECT_EQ(ReadWord(0xA9000018), 0x00400000u);
        // Nothing answers here: the handheld crashes and this body ends.
        ReadWord(0x12345678);
        ADD_FAILURE() << "the body went on after a data abort";
    });
    EXPECT_EQ(end, ProgramEnd::kStopped);
    HandheldStatus status = handheld->Status();
    EXPECT_FALSE(status.started);
    EXPECT_NE(status.crashedReason.find("0x12345678"), std::string::npos) << status.crashedReason;
    EXPECT_FALSE(status.linkAvailable);
    std::vector<uint16_t> screen = handheld->Screen();
    EXPECT_EQ(screen[240 * 10 + 3], 0x07E0);  // the screen stays as it was
    EXPECT_EQ(screen[0], 0x001F);
    EXPECT_EQ(screen[3], 0x001F);
    EXPECT_EQ(screen[4], started[4]);  // what the program did not write is what the start drew
    EXPECT_EQ(handheld->RegisterValue(0xA9000018), 0x00400000u);
    // Nothing runs on a crashed handheld until it restarts.
    EXPECT_EQ(handheld->RunAsProgram([] {}), ProgramEnd::kStopped);
    uint64_t generation = status.bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_TRUE(handheld->Status().crashedReason.empty());
    EXPECT_TRUE(handheld->LinkAvailable());
    EXPECT_EQ(handheld->RunAsProgram([] {}), ProgramEnd::kReturned);

    // Misaligned accesses, byte stores to the flash and host pointers fault
    // too.
    auto crashes = [&](const std::function<void()>& body, const std::string& words) {
        uint64_t before = handheld->Status().bootGeneration;
        EXPECT_EQ(handheld->RunAsProgram(body), ProgramEnd::kStopped);
        std::string reason = handheld->Status().crashedReason;
        EXPECT_NE(reason.find(words), std::string::npos) << reason;
        handheld->Reset(ResetKind::kWarm);
        ASSERT_TRUE(handheld->WaitUntilStarted(10s, before));
    };
    crashes([] { ReadWord(0x84000002); }, "alignment");
    crashes([] { WRITE_REGISTER_UCHAR(Kaddr<UCHAR>(0xA0040000), 0); }, "byte write");
    ULONG local = 0;
    crashes([&] { READ_REGISTER_ULONG(&local); }, "not a kernel address");
    crashes([] { WRITE_REGISTER_BUFFER_ULONG(Kaddr<ULONG>(0x87FFFFF8), nullptr, 4); }, "null buffer");
    crashes(
        [] {
            ULONG four[4] = {};
            WRITE_REGISTER_BUFFER_ULONG(Kaddr<ULONG>(0x87FFFFF8), four, 4);  // runs off the end of RAM
        },
        "0x88000000");
}

TEST(Bus, CoreCallsWithTheFlashOutOfReadArrayOrSleepsWithInterruptsMaskedCrash) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    handheld->Plug(true);
    // Register accesses and the interrupt mask are allowed in any flash mode
    // (interrupts masked, as the tick runs from flash).
    EXPECT_EQ(handheld->RunAsProgram([] {
        INTERRUPTS_OFF();
        WriteWord(0xA0040000, 0x00700070);
        EXPECT_EQ(ReadWord(0xA0040000), 0x00800080u);
        WriteWord(0xA0040000, 0x00FF00FF);
        EXPECT_NE(GetTickCount(), 0xFFFFFFFFu);  // read array again: allowed
        WriteWord(0xA0040000, 0x00900090);
        GetLastError();
        ADD_FAILURE() << "a core call ran with the flash in identifier mode";
    }),
              ProgramEnd::kStopped);
    std::string reason = handheld->Status().crashedReason;
    EXPECT_NE(reason.find("core library call GetLastError while flash chip 0 is not in read-array mode"),
              std::string::npos)
        << reason;

    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    // The flash was reset by the restart: read array again.
    EXPECT_EQ(handheld->RunAsProgram([] { GetTickCount(); }), ProgramEnd::kReturned);
    // Only chip 1 left in read-status mode by a 16-bit command.
    EXPECT_EQ(handheld->RunAsProgram([] {
        WRITE_REGISTER_USHORT(Kaddr<USHORT>(0xA0040002), 0x0070);
        Sleep(0);
    }),
              ProgramEnd::kStopped);
    reason = handheld->Status().crashedReason;
    EXPECT_NE(reason.find("Sleep while flash chip 1"), std::string::npos) << reason;

    generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    // Masking interrupts stops the link; a sleep then never wakes.
    std::atomic<bool> linkWhileMasked{true};
    EXPECT_EQ(handheld->RunAsProgram([&] {
        INTERRUPTS_OFF();
        linkWhileMasked = handheld->LinkAvailable();
        INTERRUPTS_ON();
        EXPECT_TRUE(handheld->LinkAvailable());
        Sleep(1);
        INTERRUPTS_OFF();
        Sleep(1);
        ADD_FAILURE() << "a masked sleep woke";
    }),
              ProgramEnd::kStopped);
    EXPECT_FALSE(linkWhileMasked);
    EXPECT_EQ(handheld->Status().crashedReason, "Sleep with interrupts masked: the handheld never wakes");
}

TEST(CoreLibrary, PlatformAnswersIdentityPowerAndVersion) {
    FactorySettings settings = TestSettings();
    settings.language = 0x0C0A;
    auto handheld = StartedHandheld(settings, SmallImage("04100300", "A03", 4, 0x0409));
    ASSERT_NE(handheld, nullptr);
    handheld->SetAc(false);
    handheld->SetBattery(std::nullopt);
    EXPECT_EQ(handheld->RunAsProgram([&] {
        uint8_t uuid[16] = {};
        DWORD returned = 0;
        ASSERT_TRUE(KernelIoControl(IOCTL_HAL_GET_UUID, nullptr, 0, uuid, 16, &returned));
        EXPECT_EQ(returned, 16u);
        EXPECT_EQ(std::memcmp(uuid, settings.uuid.data(), 16), 0);
        EXPECT_FALSE(KernelIoControl(IOCTL_HAL_GET_UUID, nullptr, 0, uuid, 15, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

        DWORD selector = NUVA_COMMAND_MEMORY_CONFIG;
        DWORD answer = 0;
        ASSERT_TRUE(KernelIoControl(IOCTL_NUVA_PLATFORM_COMMAND, &selector, 4, &answer, 4, &returned));
        EXPECT_EQ(answer, NUVA_MEMORY_ADVANCED);
        selector = NUVA_COMMAND_FLASH_PREPARE;
        EXPECT_TRUE(KernelIoControl(IOCTL_NUVA_PLATFORM_COMMAND, &selector, 4, nullptr, 0, &returned));
        selector = NUVA_QUERY_PLATFORM_INFO;
        ASSERT_TRUE(KernelIoControl(IOCTL_NUVA_PLATFORM_QUERY, &selector, 4, &answer, 4, &returned));
        EXPECT_EQ(answer, 0x04100300u);
        selector = NUVA_QUERY_ROM_VERSION;
        WCHAR version[8] = {};
        ASSERT_TRUE(KernelIoControl(IOCTL_NUVA_PLATFORM_QUERY, &selector, 4, version, 16, &returned));
        EXPECT_EQ(std::u16string(version), u"A03");
        selector = 99;
        EXPECT_FALSE(KernelIoControl(IOCTL_NUVA_PLATFORM_QUERY, &selector, 4, &answer, 4, &returned));
        EXPECT_FALSE(KernelIoControl(IOCTL_NUVA_PLATFORM_COMMAND, nullptr, 0, &answer, 4, &returned));

        SYSTEM_POWER_STATUS_EX2 power;
        std::memset(&power, 0x55, sizeof power);
        EXPECT_EQ(sizeof power, 56u);
        EXPECT_EQ(GetSystemPowerStatusEx2(&power, sizeof power, TRUE), 56u);
        EXPECT_EQ(power.ACLineStatus, AC_LINE_OFFLINE);
        EXPECT_EQ(power.BatteryLifePercent, BATTERY_PERCENTAGE_UNKNOWN);
        EXPECT_EQ(GetSystemPowerStatusEx2(&power, 3, TRUE), 3u);
        EXPECT_EQ(GetSystemPowerStatusEx2(nullptr, 56, TRUE), 0u);

        OSVERSIONINFOW info = {};
        info.dwOSVersionInfoSize = sizeof info;
        ASSERT_TRUE(GetVersionExW(&info));
        EXPECT_EQ(info.dwMajorVersion, 4u);
        EXPECT_EQ(info.dwMinorVersion, 20u);
        info.dwOSVersionInfoSize = 4;
        EXPECT_FALSE(GetVersionExW(&info));
        EXPECT_EQ(GetSystemDefaultLangID(), 0x0C0A);
        EXPECT_EQ(GetUserDefaultLangID(), 0x0C0A);

        EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL));
        EXPECT_TRUE(CeSetThreadPriority(GetCurrentThread(), 0));
        EXPECT_EQ(CeGetThreadPriority(GetCurrentThread()), 0);
        EXPECT_FALSE(CeSetThreadPriority(GetCurrentThread(), 256));
    }),
              ProgramEnd::kReturned);
    HandheldStatus status = handheld->Status();
    EXPECT_EQ(status.threadPriority, THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_EQ(status.ceThreadPriority, 0);
    EXPECT_EQ(status.platformCommands,
              (std::vector<uint32_t>{NUVA_COMMAND_MEMORY_CONFIG, NUVA_COMMAND_FLASH_PREPARE}));
    handheld->SetAc(true);
    handheld->SetBattery(250);  // taken as 100
    EXPECT_EQ(handheld->RunAsProgram([] {
        SYSTEM_POWER_STATUS_EX2 power;
        GetSystemPowerStatusEx2(&power, sizeof power, TRUE);
        EXPECT_EQ(power.ACLineStatus, AC_LINE_ONLINE);
        EXPECT_EQ(power.BatteryLifePercent, 100);
    }),
              ProgramEnd::kReturned);
}

TEST(CoreLibrary, WithoutPlatformRequestsOnlyThePowerDriverAnswers) {
    FactorySettings settings = TestSettings(false);
    settings.platformCommandAnswers = false;
    settings.platformQueryAnswers = false;
    settings.uuid = SupportedUuid(false);
    auto handheld = StartedHandheld(settings, SmallImage("11220399", "Q7B2X", 4, 0x0407));
    ASSERT_NE(handheld, nullptr);
    EXPECT_NE(settings.uuid, SupportedUuid(true));
    EXPECT_EQ(handheld->RunAsProgram([] {
        DWORD selector = NUVA_COMMAND_MEMORY_CONFIG;
        DWORD answer = 0;
        DWORD returned = 0;
        EXPECT_FALSE(KernelIoControl(IOCTL_NUVA_PLATFORM_COMMAND, &selector, 4, &answer, 4, &returned));
        selector = NUVA_QUERY_PLATFORM_INFO;
        EXPECT_FALSE(KernelIoControl(IOCTL_NUVA_PLATFORM_QUERY, &selector, 4, &answer, 4, &returned));

        EXPECT_EQ(CreateFileW(u"PWR2:", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
                  kInvalid);
        HANDLE power =
            CreateFileW(u"PWR1:", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(power, kInvalid);
        uint8_t request[20] = {};
        StoreLe32(request, NUVA_POWER_MEMORY_CONFIG);
        uint8_t reply[92];
        std::memset(reply, 0xEE, sizeof reply);
        ASSERT_TRUE(DeviceIoControl(power, IOCTL_NUVA_POWER_DRIVER_REQUEST, request, 20, reply, 24, &returned,
                                    nullptr));
        EXPECT_EQ(returned, 24u);
        EXPECT_EQ(LoadLe32(reply), NUVA_MEMORY_BASIC);
        EXPECT_EQ(LoadLe32(reply + 20), 0u);
        StoreLe32(request, NUVA_POWER_INFO_BLOCK);
        EXPECT_FALSE(DeviceIoControl(power, IOCTL_NUVA_POWER_DRIVER_REQUEST, request, 20, reply, 91,
                                     &returned, nullptr));
        ASSERT_TRUE(DeviceIoControl(power, IOCTL_NUVA_POWER_DRIVER_REQUEST, request, 20, reply, 92, &returned,
                                    nullptr));
        EXPECT_EQ(returned, 92u);
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(reply), 4), u"Q7B2");
        EXPECT_EQ(LoadLe32(reply + 28), 0x11220399u);
        EXPECT_EQ(LoadLe32(reply + 72), 0x11220399u);
        EXPECT_FALSE(DeviceIoControl(power, 0x1234, request, 20, reply, 92, &returned, nullptr));
        EXPECT_TRUE(CloseHandle(power));
        EXPECT_FALSE(DeviceIoControl(power, IOCTL_NUVA_POWER_DRIVER_REQUEST, request, 20, reply, 92,
                                     &returned, nullptr));
        EXPECT_FALSE(CloseHandle(power));
        // The language of the ROM when the settings name none.
        EXPECT_EQ(GetSystemDefaultLangID(), 0x0407);
    }),
              ProgramEnd::kReturned);
}

TEST(CoreLibrary, FilesRegistryAndHeapFollowTheirWinCEContracts) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    EXPECT_EQ(handheld->RunAsProgram([] {
        HANDLE file = CreateFileW(u"\\TEMP\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, kInvalid);
        DWORD done = 0;
        ASSERT_TRUE(WriteFile(file, "0123456789", 10, &done, nullptr));
        EXPECT_EQ(done, 10u);
        EXPECT_EQ(GetFileSize(file, nullptr), 10u);
        EXPECT_EQ(SetFilePointer(file, -4, nullptr, FILE_END), 6u);
        char buffer[8] = {};
        ASSERT_TRUE(ReadFile(file, buffer, 8, &done, nullptr));
        EXPECT_EQ(done, 4u);
        EXPECT_EQ(std::string(buffer, 4), "6789");
        EXPECT_EQ(SetFilePointer(file, 3, nullptr, FILE_BEGIN), 3u);
        ASSERT_TRUE(SetEndOfFile(file));
        EXPECT_EQ(GetFileSize(file, nullptr), 3u);
        // Sharing: the file is open without sharing.
        EXPECT_EQ(CreateFileW(u"\\temp\\DATA.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr),
                  kInvalid);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_TRUE(CloseHandle(file));
        EXPECT_FALSE(ReadFile(file, buffer, 1, &done, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_EQ(CreateFileW(u"\\TEMP\\data.bin", GENERIC_READ, 0, nullptr, CREATE_NEW, 0, nullptr),
                  kInvalid);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
        EXPECT_EQ(GetFileAttributesW(u"\\TEMP"), FILE_ATTRIBUTE_DIRECTORY);
        EXPECT_EQ(GetFileAttributesW(u"\\TEMP\\data.bin"), FILE_ATTRIBUTE_NORMAL);
        EXPECT_TRUE(DeleteFileW(u"\\TEMP\\data.bin"));
        EXPECT_EQ(GetFileAttributesW(u"\\TEMP\\data.bin"), 0xFFFFFFFFu);
        EXPECT_TRUE(CreateDirectoryW(u"\\TEMP\\sub", nullptr));
        EXPECT_FALSE(CreateDirectoryW(u"\\TEMP\\sub", nullptr));

        // Registry: enumerate index 0 and delete until nothing is left.
        HKEY key = nullptr;
        DWORD disposition = 0;
        ASSERT_EQ(
            RegCreateKeyExW(kLocalMachine, u"Software\\Test", 0, nullptr, 0, 0, nullptr, &key, &disposition),
            ERROR_SUCCESS);
        EXPECT_EQ(disposition, 1u);
        DWORD value = 0x1234;
        ASSERT_EQ(RegSetValueExW(key, u"First", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, u"Second", 0, REG_BINARY, reinterpret_cast<const BYTE*>("ab"), 2),
                  ERROR_SUCCESS);
        DWORD type = 0;
        DWORD bytes = 2;
        uint8_t data[8];
        EXPECT_EQ(RegQueryValueExW(key, u"First", nullptr, &type, data, &bytes), 234);  // ERROR_MORE_DATA
        EXPECT_EQ(bytes, 4u);
        EXPECT_EQ(RegQueryValueExW(key, u"First", nullptr, &type, data, &bytes), ERROR_SUCCESS);
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(LoadLe32(data), 0x1234u);
        WCHAR name[256];
        int deleted = 0;
        for (;;) {
            DWORD length = 256;
            if (RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            ASSERT_EQ(RegDeleteValueW(key, name), ERROR_SUCCESS);
            ++deleted;
        }
        EXPECT_EQ(deleted, 2);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_NE(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(RegDeleteKeyW(kLocalMachine, u"Software\\Test"), ERROR_SUCCESS);
        EXPECT_EQ(RegOpenKeyExW(kLocalMachine, u"Software\\Test", 0, 0, &key), ERROR_FILE_NOT_FOUND);

        // Heap: zeroed only when asked; sizes; what IsBadReadPtr says.
        auto* zeroed = static_cast<uint8_t*>(LocalAlloc(LPTR, 64));
        auto* plain = static_cast<uint8_t*>(LocalAlloc(LMEM_FIXED, 64));
        ASSERT_NE(zeroed, nullptr);
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(zeroed[63], 0);
        EXPECT_NE(plain[0], 0);
        EXPECT_EQ(LocalSize(zeroed), 64u);
        EXPECT_FALSE(IsBadReadPtr(zeroed, 64));
        EXPECT_FALSE(IsBadReadPtr(zeroed + 60, 4));
        EXPECT_TRUE(IsBadReadPtr(nullptr, 1));
        EXPECT_EQ(LocalAlloc(0x0002, 8), nullptr);  // movable blocks do not exist here
        void* unreadable = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        EXPECT_TRUE(IsBadReadPtr(unreadable, 4));
        munmap(unreadable, 4096);
        EXPECT_EQ(LocalFree(zeroed), nullptr);
        EXPECT_EQ(LocalFree(zeroed), zeroed);  // not a block any more
        EXPECT_EQ(LocalSize(zeroed), 0u);
        EXPECT_EQ(LocalFree(plain), nullptr);
        EXPECT_EQ(LocalAlloc(LPTR, 0x7FFFFFFF), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    }),
              ProgramEnd::kReturned);
}

TEST(CoreLibrary, VirtualAllocPagesAreLockedToRealFramesContiguousOrNot) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    handheld->FragmentRam(3);
    EXPECT_EQ(handheld->RunAsProgram([] {
        constexpr DWORD kSize = 1 << 20;
        constexpr DWORD kPages = kSize / 4096;
        std::vector<DWORD> frames(kPages);
        std::vector<void*> rejected;
        void* buffer = nullptr;
        // The flasher's search: allocate, lock, keep what is not contiguous.
        for (int attempt = 0; attempt < 10 && buffer == nullptr; ++attempt) {
            void* p = VirtualAlloc(nullptr, kSize, MEM_COMMIT, PAGE_READWRITE | PAGE_NOCACHE);
            ASSERT_NE(p, nullptr);
            ASSERT_TRUE(LockPages(p, kSize, frames.data(), LOCKFLAG_READ | LOCKFLAG_WRITE));
            bool contiguous = true;
            for (DWORD i = 1; i < kPages; ++i) {
                contiguous = contiguous && (frames[i] >> 12) == (frames[i - 1] >> 12) + 1;
            }
            if (contiguous) {
                buffer = p;
            } else {
                rejected.push_back(p);
            }
        }
        EXPECT_EQ(rejected.size(), 3u);
        ASSERT_NE(buffer, nullptr);
        // The kernel reaches the buffer at its physical address - 0x1C000000.
        uint32_t kernel = frames[0] - 0x1C000000;
        EXPECT_GE(kernel, NUVA_RAM_CACHED);
        static_cast<uint32_t*>(buffer)[1000] = 0xCAFEF00D;
        EXPECT_EQ(ReadWord(kernel + 4000), 0xCAFEF00Du);
        WriteWord(kernel + 0x20000000 + 8, 0x0BADBEEF);  // the uncached window
        EXPECT_EQ(static_cast<uint32_t*>(buffer)[2], 0x0BADBEEFu);
        for (void* p : rejected) {
            EXPECT_TRUE(UnlockPages(p, kSize));
            EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
        }
        EXPECT_FALSE(VirtualFree(rejected[0], 0, MEM_RELEASE));
        EXPECT_FALSE(LockPages(rejected[0], kSize, frames.data(), LOCKFLAG_READ));
        EXPECT_EQ(VirtualAlloc(reinterpret_cast<void*>(uintptr_t{0x10000}), 4096, MEM_COMMIT, PAGE_READWRITE),
                  nullptr);
        EXPECT_EQ(VirtualAlloc(nullptr, 128u << 20, MEM_COMMIT, PAGE_READWRITE), nullptr);
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        EXPECT_EQ(info.dwPageSize, 4096u);
    }),
              ProgramEnd::kReturned);
}

TEST(Starts, WarmKeepsTheStoreColdRestoresTheFactoryContents) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    PutStoreText(*handheld, u"\\My Documents\\kept.txt", "kept");
    handheld->Store().Files().Delete(u"\\Windows\\StartUp\\Welcome.lnk");
    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_FALSE(handheld->Status().coldStart);
    EXPECT_TRUE(StoreHas(*handheld, u"\\My Documents\\kept.txt"));
    EXPECT_FALSE(HasFactoryShortcut(*handheld));
    // The boot code marks the cold-start words.
    EXPECT_NE(handheld->ReadRamWord(NUVA_RESERVED_RAM_ADVANCED + NUVA_COLD_START_WORD_1), 0u);

    // A program clears the words and restarts: the start is cold.
    InstallTestProgram(*handheld, "cold-words\nreboot\n");
    generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    ASSERT_TRUE(handheld->WaitForRestart(generation + 1, 10s));
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation + 1));
    EXPECT_TRUE(handheld->Status().coldStart);
    EXPECT_FALSE(StoreHas(*handheld, u"\\My Documents\\kept.txt"));
    EXPECT_FALSE(StoreHas(*handheld, u"\\Windows\\StartUp\\Test.exe"));
    EXPECT_TRUE(HasFactoryShortcut(*handheld));

    // Clearing only one word is not enough; the user's cold reset is.
    PutStoreText(*handheld, u"\\My Documents\\kept.txt", "kept");
    EXPECT_EQ(
        handheld->RunAsProgram([] { WriteWord(NUVA_RESERVED_RAM_ADVANCED + NUVA_COLD_START_WORD_1, 0); }),
        ProgramEnd::kReturned);
    generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_FALSE(handheld->Status().coldStart);
    EXPECT_TRUE(StoreHas(*handheld, u"\\My Documents\\kept.txt"));
    generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kCold);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_TRUE(handheld->Status().coldStart);
    EXPECT_FALSE(StoreHas(*handheld, u"\\My Documents\\kept.txt"));
}

TEST(Starts, DriverKeysPresentAtTheStartDecideLinkAndStorage) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    handheld->Plug(true);
    HandheldStatus status = handheld->Status();
    EXPECT_TRUE(status.linkAvailable);
    EXPECT_TRUE(status.usbDriversLoaded);
    EXPECT_TRUE(status.psmMounted);
    std::vector<bool> seen;
    handheld->SetLinkListener([&](bool available) { seen.push_back(available); });
    {
        auto store = handheld->Store();
        RegKey drivers;
        ASSERT_EQ(
            store.Reg().OpenKey(store.Reg().Root(RegRoot::kLocalMachine), u"Drivers\\BuiltIn", &drivers),
            store_error::kSuccess);
        ASSERT_EQ(store.Reg().DeleteKey(drivers, u"USB"), store_error::kSuccess);
        ASSERT_EQ(store.Reg().DeleteKey(store.Reg().Root(RegRoot::kLocalMachine),
                                        u"System\\StorageManager\\AutoLoad\\PSM"),
                  store_error::kSuccess);
    }
    // Removing keys changes nothing until the next start.
    EXPECT_TRUE(handheld->LinkAvailable());
    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    status = handheld->Status();
    EXPECT_TRUE(status.plugged);
    EXPECT_FALSE(status.usbDriversLoaded);
    EXPECT_FALSE(status.linkAvailable);
    EXPECT_FALSE(status.psmMounted);
    EXPECT_EQ(handheld->PutPsmFile(u"a", std::vector<uint8_t>{1}), PsmError::kNotMounted);
    // Another warm start does not bring them back; a cold one does.
    generation = status.bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_FALSE(handheld->LinkAvailable());
    generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kCold);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_TRUE(handheld->LinkAvailable());
    EXPECT_TRUE(handheld->Status().psmMounted);
    handheld->Plug(false);
    EXPECT_FALSE(handheld->LinkAvailable());
    handheld->SetLinkListener({});
    // The listener saw the link drop at the restart and come back only after
    // the cold start, then the unplugging.
    EXPECT_EQ(seen, (std::vector<bool>{false, true, false}));
}

TEST(BuiltInStorage, SurvivesRestartsAndIsGoneAfterTheFlashRegionIsErased) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    ASSERT_EQ(handheld->PutPsmFile(u"Contacts.cdb", std::vector<uint8_t>{1, 2, 3}), PsmError::kNone);
    ASSERT_EQ(handheld->PutPsmFile(u"Notes.pwi", std::vector<uint8_t>(5000, 9)), PsmError::kNone);
    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kCold);  // the storage is flash: even a cold start keeps it
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    std::vector<uint8_t> data;
    ASSERT_EQ(handheld->GetPsmFile(u"contacts.CDB", data), PsmError::kNone);
    EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(handheld->GetPsmFile(u"missing", data), PsmError::kNotFound);
    EXPECT_EQ(handheld->DumpFlash(0x1A00000, 4), (std::vector<uint8_t>{'P', 'S', 'M', 'F'}));

    // Erase the region's first block through the flash command interface,
    // with interrupts masked as the tick runs from flash.
    EXPECT_EQ(handheld->RunAsProgram([] {
        constexpr uint32_t kBlock = 0xA1A00000;
        INTERRUPTS_OFF();
        WriteWord(kBlock, 0x00500050);
        WriteWord(kBlock, 0x00200020);
        WriteWord(kBlock, 0x00D000D0);
        while ((ReadWord(kBlock) & 0x00800080) != 0x00800080) {
        }
        WriteWord(kBlock, 0x00FF00FF);
        INTERRUPTS_ON();
    }),
              ProgramEnd::kReturned);
    std::vector<PsmFile> files;
    EXPECT_EQ(handheld->ListPsmFiles(files), PsmError::kNone);
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(handheld->PutPsmFile(u"new", std::vector<uint8_t>{7}), PsmError::kNone);
    EXPECT_EQ(handheld->ListPsmFiles(files), PsmError::kNone);
    EXPECT_EQ(files.size(), 1u);
}

TEST(StateFolder, AHandheldKeepsFlashFilesAndStorageAcrossRuns) {
    TempFolder folder{"nuva-machine"};
    std::string dir = folder.Join("q7");
    {
        FactorySettings settings = TestSettings();
        settings.language = 0x0411;
        auto handheld = StartedHandheld(settings, SmallImage("07150400", "A05"), dir);
        ASSERT_NE(handheld, nullptr);
        PutStoreText(*handheld, u"\\My Documents\\letter.txt", "dear");
        ASSERT_EQ(handheld->PutPsmFile(u"kept.db", std::vector<uint8_t>{4, 5}), PsmError::kNone);
        handheld->SetBattery(41);
        handheld->SetAc(false);
        // A program changes the flash through the bus: that must be kept too.
        EXPECT_EQ(handheld->RunAsProgram([] {
            INTERRUPTS_OFF();
            WriteWord(0xA1F00000, 0x00500050);
            WriteWord(0xA1F00000, 0x00E800E8);
            WriteWord(0xA1F00000, 0x00000000);  // one word
            WriteWord(0xA1F00000, 0x12345678);
            WriteWord(0xA1F00000, 0x00D000D0);
            while ((ReadWord(0xA1F00000) & 0x00800080) != 0x00800080) {
            }
            WriteWord(0xA1F00000, 0x00FF00FF);
            INTERRUPTS_ON();
        }),
                  ProgramEnd::kReturned);
    }
    EXPECT_EQ(std::filesystem::file_size(dir + "/flash.bin"), 48u << 20);
    // The flash, store and registry are the user's data: no other user may
    // read them.
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all);
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            EXPECT_EQ(entry.status().permissions() & (fs::perms::group_all | fs::perms::others_all),
                      fs::perms::none)
                << entry.path();
        }
    }
    CreateError error = CreateError::kNone;
    std::string detail;
    // Every save replaces a file by a new one (a new inode).
    auto inode = [&](const char* name) {
        struct stat info {};
        return ::stat((dir + "/" + name).c_str(), &info) == 0 ? info.st_ino : ino_t{0};
    };
    const ino_t flashFile = inode("flash.bin");
    const ino_t storeFile = inode("store.bin");
    {
        auto handheld = Handheld::Open(dir, &error, &detail);
        ASSERT_NE(handheld, nullptr) << detail;
        EXPECT_EQ(handheld->Settings().language, 0x0411);
        EXPECT_EQ(handheld->Settings().uuid, SupportedUuid(true));
        handheld->PowerOn();
        ASSERT_TRUE(handheld->WaitUntilStarted(10s));
        HandheldStatus status = handheld->Status();
        EXPECT_FALSE(status.coldStart);  // the reserved block was kept
        EXPECT_EQ(status.rom.dateCode, "07150400");
        EXPECT_EQ(status.batteryPercent, std::optional<uint8_t>(41));
        EXPECT_FALSE(status.acOnline);
        EXPECT_EQ(StoreFile(*handheld, u"\\My Documents\\letter.txt"),
                  (std::vector<uint8_t>{'d', 'e', 'a', 'r'}));
        std::vector<uint8_t> data;
        EXPECT_EQ(handheld->GetPsmFile(u"kept.db", data), PsmError::kNone);
        EXPECT_EQ(handheld->DumpFlash(0x1F00000, 4), (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
        // The start saved the folder, but the flash it found there is the
        // flash it has: that file is not written again.
        EXPECT_NE(inode("store.bin"), storeFile);
        EXPECT_EQ(inode("flash.bin"), flashFile);
    }

    // Damaged folders are refused and left alone.
    std::filesystem::resize_file(dir + "/flash.bin", 1000);
    EXPECT_EQ(Handheld::Open(dir, &error, &detail), nullptr);
    EXPECT_EQ(error, CreateError::kBadState);
    EXPECT_NE(detail.find("flash.bin"), std::string::npos) << detail;
    EXPECT_EQ(std::filesystem::file_size(dir + "/flash.bin"), 1000u);
    { std::ofstream(dir + "/handheld.conf") << "class=advanced\n"; }
    EXPECT_EQ(Handheld::Open(dir, &error, &detail), nullptr);
    EXPECT_EQ(error, CreateError::kBadState);
    EXPECT_NE(detail.find("missing"), std::string::npos) << detail;
    EXPECT_EQ(Handheld::Open(folder.Join("none"), &error, &detail), nullptr);

    // A handheld made from an image file.
    std::vector<uint8_t> image = SmallImage("01020300");
    std::string path = folder.Join("image.bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    auto fromFile = Handheld::CreateFromFile(TestSettings(false), path, "", &error, &detail);
    ASSERT_NE(fromFile, nullptr) << detail;
    fromFile->PowerOn();
    ASSERT_TRUE(fromFile->WaitUntilStarted(10s));
    EXPECT_EQ(fromFile->Status().rom.dateCode, "01020300");
    EXPECT_EQ(Handheld::CreateFromFile(TestSettings(), folder.Join("missing.bin"), "", &error, &detail),
              nullptr);
    EXPECT_EQ(error, CreateError::kCannotRead);
}

TEST(Screen, ScreenshotIsAPngOfThePixels) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    EXPECT_EQ(handheld->RunAsProgram([] {
        WRITE_REGISTER_USHORT(Kaddr<USHORT>(NUVA_FRAME_BUFFER), 0xF800);                          // red
        WRITE_REGISTER_USHORT(Kaddr<USHORT>(NUVA_FRAME_BUFFER + 2 * (240 * 319 + 239)), 0x001F);  // blue
    }),
              ProgramEnd::kReturned);
    TempFolder folder{"nuva-machine"};
    std::string path = folder.Join("screen.png");
    std::string detail;
    ASSERT_TRUE(handheld->SaveScreenshot(path, &detail)) << detail;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    EXPECT_EQ(image.width, 240u);
    EXPECT_EQ(image.height, 320u);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    EXPECT_EQ(rgb[0], 0xFF);
    EXPECT_EQ(rgb[1], 0x00);
    EXPECT_EQ(rgb[2], 0x00);
    // Beside it the home screen's dark blue title band: blue 0x10 of 31
    // widens to 0x84 of 255.
    EXPECT_EQ(rgb[3], 0x00);
    EXPECT_EQ(rgb[4], 0x00);
    EXPECT_EQ(rgb[5], 0x84);
    size_t last = rgb.size() - 3;
    EXPECT_EQ(rgb[last], 0x00);
    EXPECT_EQ(rgb[last + 2], 0xFF);
    EXPECT_FALSE(handheld->SaveScreenshot(folder.Join("no/such/folder/x.png"), &detail));
    EXPECT_FALSE(detail.empty());
}

// The home screen's text lines as the person in front of the handheld reads
// them: the title band on line 0, the facts from line 2, column 1.
::testing::AssertionResult ShowsHomeScreen(const std::vector<uint16_t>& screen,
                                           const std::vector<std::string>& facts) {
    if (auto title = ShowsText(screen, 8, 0, "Start", kWhite, kDarkBlue); !title) {
        return title;
    }
    if (auto left = Filled(screen, 0, 0, 8, 15, kDarkBlue); !left) {
        return left;
    }
    if (auto right = Filled(screen, 48, 0, 240 - 48, 15, kDarkBlue); !right) {
        return right;
    }
    if (auto gap = Filled(screen, 0, 15, 240, 15, kWhite); !gap) {
        return gap;
    }
    int y = 30;
    for (const std::string& fact : facts) {
        if (auto margin = Filled(screen, 0, y, 8, 15, kWhite); !margin) {
            return margin;
        }
        if (auto text = ShowsText(screen, 8, y, fact, kBlack, kWhite); !text) {
            return text;
        }
        const int end = 8 + 8 * static_cast<int>(fact.size());
        if (auto rest = Filled(screen, end, y, 240 - end, 15, kWhite); !rest) {
            return rest;
        }
        y += 15;
    }
    return Filled(screen, 0, y, 240, 320 - y, kWhite);
}

TEST(HomeScreen, EveryStartShowsTheRomThatRunsAndHowItStarted) {
    auto handheld = StartedHandheld(TestSettings(), SmallImage("04100300", "A03", 4, 0x0409));
    ASSERT_NE(handheld, nullptr);
    EXPECT_TRUE(
        ShowsHomeScreen(handheld->Screen(), {"Brel Nuva Q7", "Pocket PC 2003", "ROM A03 (04100300)",
                                             "English (0409)", "Advanced (64 MB RAM)", "Cold start"}));

    // A program draws over it; the next start draws it again, now warm.
    EXPECT_EQ(handheld->RunAsProgram([] {
        for (uint32_t offset = 0; offset < 240 * 320 * 2; offset += 4) {
            WriteWord(NUVA_FRAME_BUFFER + offset, 0xF800F800);
        }
    }),
              ProgramEnd::kReturned);
    ASSERT_TRUE(Filled(handheld->Screen(), 0, 0, 240, 320, 0xF800));
    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_TRUE(
        ShowsHomeScreen(handheld->Screen(), {"Brel Nuva Q7", "Pocket PC 2003", "ROM A03 (04100300)",
                                             "English (0409)", "Advanced (64 MB RAM)", "Warm start"}));

    // Another ROM in the flash: the next start reads its identity block.
    const std::vector<uint8_t> other = SmallImage("11220200", "B5", 3, 0x0407);
    handheld->WithFlash([&](FlashBank& bank) {
        std::copy(other.begin() + 512, other.end(), bank.MutableCells().begin() + 0x40000);
    });
    generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kCold);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_TRUE(ShowsHomeScreen(handheld->Screen(), {"Brel Nuva Q7", "Pocket PC 2002", "ROM B5 (11220200)",
                                                     "German (0407)", "Advanced (64 MB RAM)", "Cold start"}));

    // A Basic handheld whose factory language differs from its ROM's.
    FactorySettings basic = TestSettings(false);
    basic.language = 0x040C;
    auto french = StartedHandheld(basic, SmallImage("06230300", "A00", 4, 0x0409));
    ASSERT_NE(french, nullptr);
    EXPECT_TRUE(ShowsHomeScreen(french->Screen(), {"Brel Nuva Q7", "Pocket PC 2003", "ROM A00 (06230300)",
                                                   "French (040C)", "Basic (32 MB RAM)", "Cold start"}));

    // The screenshot shows it too.
    TempFolder folder{"nuva-machine"};
    const std::string path = folder.Join("home.png");
    std::string detail;
    ASSERT_TRUE(french->SaveScreenshot(path, &detail)) << detail;
    uint32_t width = 0;
    uint32_t height = 0;
    EXPECT_TRUE(ShowsHomeScreen(ReadPngPixels(path, width, height),
                                {"Brel Nuva Q7", "Pocket PC 2003", "ROM A00 (06230300)", "French (040C)",
                                 "Basic (32 MB RAM)", "Cold start"}));
}

TEST(Machines, SeveralHandheldsLiveInOneProcess) {
    auto first = StartedHandheld(TestSettings(), SmallImage("01010300"));
    auto second = StartedHandheld(TestSettings(false), SmallImage("02020300"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    auto buildCode = [](Handheld& handheld) {
        DWORD answer = 0;
        handheld.RunAsProgram([&] {
            DWORD selector = NUVA_QUERY_PLATFORM_INFO;
            DWORD returned = 0;
            KernelIoControl(IOCTL_NUVA_PLATFORM_QUERY, &selector, 4, &answer, 4, &returned);
            WriteWord(0x84200000, answer);
        });
        return answer;
    };
    EXPECT_EQ(buildCode(*first), 0x01010300u);
    EXPECT_EQ(buildCode(*second), 0x02020300u);
    EXPECT_EQ(first->ReadRamWord(0xA4200000), 0x01010300u);
    EXPECT_EQ(second->ReadRamWord(0xA4200000), 0x02020300u);
    // A crash of one leaves the other running.
    first->RunAsProgram([] { ReadWord(0); });
    EXPECT_FALSE(first->Status().crashedReason.empty());
    EXPECT_TRUE(second->Status().started);
    EXPECT_EQ(buildCode(*second), 0x02020300u);
}

}  // namespace
}  // namespace nuva::sim::test
