// The WinCE core library of the emulated handheld: every function that
// platform/wince/wince.h declares, with C linkage, bound to the machine of
// the calling handheld thread.
//
// Every function except the register accessors and the interrupt mask first
// checks that the processor could execute the OS from flash (both chips in
// read-array mode); otherwise the handheld crashes. Calls on a thread that is
// not the handheld's are a bug of the emulator and abort the process.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/le.h"
#include "handheld-sim/machine/core_entry.h"
#include "handheld-sim/machine/machine.h"
#include "handheld-sim/machine/oem_answers.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace {

using nuva::sim::CurrentThread;
using nuva::sim::core::Core;
using nuva::sim::core::Enter;
using nuva::sim::core::OutsideHandheld;
using nuva::sim::HandheldThread;
using nuva::sim::Machine;
using nuva::sim::OpenFile;
using nuva::sim::RegKey;
using nuva::sim::RegValue;

constexpr DWORD kErrorMoreData = 234;
constexpr DWORD kInvalidFileAttributes = 0xFFFFFFFF;
constexpr DWORD kRegCreatedNewKey = 1;
constexpr DWORD kRegOpenedExistingKey = 2;
constexpr int kCeNormalPriority = 251;  // 248 + THREAD_PRIORITY_NORMAL
const HANDLE kCurrentThreadPseudo = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
// INVALID_HANDLE_VALUE, INVALID_FILE_SIZE and INVALID_SET_FILE_POINTER
// without their macros' C-style casts.
const HANDLE kInvalidHandle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
constexpr DWORD kInvalidDword = 0xFFFFFFFF;

thread_local DWORD tLastError = ERROR_SUCCESS;
thread_local int tCePriority = kCeNormalPriority;

// Entry of the register accessors and the interrupt mask: no flash check.
Machine& EnterBus(const char* name) {
    HandheldThread* self = CurrentThread();
    if (self == nullptr) [[unlikely]] {
        OutsideHandheld(name);
    }
    self->machine->CheckRunning(*self);
    return *self->machine;
}

uint32_t KernelAddress(Machine& machine, const volatile void* pointer) {
    auto address = reinterpret_cast<uintptr_t>(pointer);
    if (address > UINT32_MAX) [[unlikely]] {
        char text[128];
        std::snprintf(text, sizeof text, "data abort: %p is not a kernel address of the handheld", pointer);
        machine.Crash(text);
    }
    return static_cast<uint32_t>(address);
}

void CheckBuffer(Machine& machine, const void* buffer, ULONG count, const char* name) {
    if (buffer == nullptr && count != 0) [[unlikely]] {
        machine.Crash(std::string("data abort: ") + name + " with a null buffer");
    }
}

std::u16string_view Text(LPCWSTR text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

BOOL Fail(DWORD error) {
    tLastError = error;
    return FALSE;
}

// Runs `body` on the open file behind `handle`; the store error, or
// ERROR_INVALID_HANDLE when the handle is not an open file.
template <class Body>
uint32_t OnFile(Machine& machine, HANDLE handle, Body body) {
    uint32_t error = ERROR_INVALID_HANDLE;
    machine.WithHandle(handle, [&](Machine::HandleObject& object) {
        if (auto* file = std::get_if<OpenFile>(&object)) {
            error = body(*file);
        }
    });
    return error;
}

// The value data and size logic that RegQueryValueEx and RegEnumValue share.
LONG CopyValue(const RegValue& value, LPDWORD type, LPBYTE data, LPDWORD dataBytes) {
    if (type != nullptr) {
        *type = value.type;
    }
    if (dataBytes == nullptr) {
        return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    auto size = static_cast<DWORD>(value.data.size());
    if (data != nullptr) {
        if (*dataBytes < size) {
            *dataBytes = size;
            return kErrorMoreData;
        }
        std::memcpy(data, value.data.data(), size);
    }
    *dataBytes = size;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

// ---- Errors ----------------------------------------------------------------

NUVA_EXPORT DWORD GetLastError(void) {
    Enter("GetLastError");
    return tLastError;
}

NUVA_EXPORT void SetLastError(DWORD error) {
    Enter("SetLastError");
    tLastError = error;
}

// ---- Files -----------------------------------------------------------------

NUVA_EXPORT HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                               LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition, DWORD, HANDLE) {
    Core c = Enter("CreateFileW");
    if (lpFileName == nullptr) {
        Fail(ERROR_INVALID_PARAMETER);
        return kInvalidHandle;
    }
    std::u16string_view path(lpFileName);
    if (nuva::sim::SameName(path, u"PWR1:")) {
        tLastError = ERROR_SUCCESS;
        return c.machine.AddHandle(Machine::PowerDevice{});
    }
    if (!path.empty() && path.back() == u':') {
        Fail(ERROR_FILE_NOT_FOUND);  // no such device driver
        return kInvalidHandle;
    }
    nuva::sim::OpenResult result =
        c.machine.Store().files.Open(path, dwDesiredAccess, dwShareMode, dwCreationDisposition);
    if (!result.ok()) {
        Fail(result.error);
        return kInvalidHandle;
    }
    tLastError = result.error;
    return c.machine.AddHandle(std::move(result.file));
}

NUVA_EXPORT BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                          LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    Core c = Enter("ReadFile");
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = 0;
    }
    if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    uint32_t done = 0;
    uint32_t error = OnFile(c.machine, hFile,
                            [&](OpenFile& file) { return file.Read(lpBuffer, nNumberOfBytesToRead, &done); });
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = done;
    }
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

NUVA_EXPORT BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                           LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    Core c = Enter("WriteFile");
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    if (lpBuffer == nullptr && nNumberOfBytesToWrite != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    uint32_t done = 0;
    uint32_t error = OnFile(
        c.machine, hFile, [&](OpenFile& file) { return file.Write(lpBuffer, nNumberOfBytesToWrite, &done); });
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = done;
    }
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

NUVA_EXPORT DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    Core c = Enter("GetFileSize");
    uint64_t size = 0;
    uint32_t error = OnFile(c.machine, hFile, [&](OpenFile& file) { return file.Size(&size); });
    if (error != ERROR_SUCCESS) {
        Fail(error);
        return kInvalidDword;
    }
    if (lpFileSizeHigh != nullptr) {
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    }
    tLastError = ERROR_SUCCESS;
    return static_cast<DWORD>(size);
}

NUVA_EXPORT DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                 DWORD dwMoveMethod) {
    Core c = Enter("SetFilePointer");
    int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh != nullptr) {
        distance =
            static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                 static_cast<uint32_t>(lDistanceToMove));
    }
    uint64_t position = 0;
    uint32_t error = OnFile(c.machine, hFile,
                            [&](OpenFile& file) { return file.Seek(distance, dwMoveMethod, &position); });
    if (error != ERROR_SUCCESS) {
        Fail(error);
        return kInvalidDword;
    }
    if (lpDistanceToMoveHigh != nullptr) {
        *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
    }
    tLastError = ERROR_SUCCESS;
    return static_cast<DWORD>(position);
}

NUVA_EXPORT BOOL SetEndOfFile(HANDLE hFile) {
    Core c = Enter("SetEndOfFile");
    uint32_t error = OnFile(c.machine, hFile, [&](OpenFile& file) { return file.SetEnd(); });
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

NUVA_EXPORT BOOL CloseHandle(HANDLE hObject) {
    Core c = Enter("CloseHandle");
    if (hObject == kCurrentThreadPseudo) {
        return TRUE;
    }
    return c.machine.CloseHandleObject(hObject) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

NUVA_EXPORT BOOL DeleteFileW(LPCWSTR lpFileName) {
    Core c = Enter("DeleteFileW");
    if (lpFileName == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    uint32_t error = c.machine.Store().files.Delete(lpFileName);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

NUVA_EXPORT BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    Core c = Enter("CreateDirectoryW");
    if (lpPathName == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    uint32_t error = c.machine.Store().files.CreateDirectory(lpPathName);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

NUVA_EXPORT DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    Core c = Enter("GetFileAttributesW");
    if (lpFileName == nullptr) {
        Fail(ERROR_INVALID_PARAMETER);
        return kInvalidFileAttributes;
    }
    nuva::sim::EntryInfo info;
    uint32_t error = c.machine.Store().files.Stat(lpFileName, &info);
    if (error != ERROR_SUCCESS) {
        Fail(error);
        return kInvalidFileAttributes;
    }
    return info.folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

NUVA_EXPORT BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                 DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                 LPDWORD lpBytesReturned, LPOVERLAPPED) {
    Core c = Enter("DeviceIoControl");
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = 0;
    }
    bool power = false;
    c.machine.WithHandle(hDevice, [&](Machine::HandleObject& object) {
        power = std::holds_alternative<Machine::PowerDevice>(object);
    });
    if (!power) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (dwIoControlCode != IOCTL_NUVA_POWER_DRIVER_REQUEST) {
        return Fail(ERROR_NOT_SUPPORTED);
    }
    if (lpInBuffer == nullptr || nInBufferSize < 4) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    auto* out = static_cast<uint8_t*>(lpOutBuffer);
    uint32_t request = nuva::LoadLe32(static_cast<const uint8_t*>(lpInBuffer));
    DWORD written;
    if (request == NUVA_POWER_MEMORY_CONFIG) {
        if (out == nullptr || nOutBufferSize < nuva::sim::kPowerMemoryAnswerBytes) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::memset(out, 0, nuva::sim::kPowerMemoryAnswerBytes);
        nuva::StoreLe32(out, c.machine.MemoryConfig());
        written = nuva::sim::kPowerMemoryAnswerBytes;
    } else if (request == NUVA_POWER_INFO_BLOCK) {
        if (out == nullptr || nOutBufferSize < nuva::sim::kPowerInfoBlockBytes) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        nuva::sim::RomReport rom = c.machine.Rom();
        nuva::sim::FillPowerInfoBlock(out, rom.version, nuva::sim::PlatformInfoFromDateCode(rom.dateCode));
        written = nuva::sim::kPowerInfoBlockBytes;
    } else {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = written;
    }
    return TRUE;
}

// ---- Registry --------------------------------------------------------------

NUVA_EXPORT LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    Core c = Enter("RegOpenKeyExW");
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::optional<RegKey> parent = c.machine.Key(hKey);
    if (!parent) {
        return ERROR_INVALID_HANDLE;
    }
    RegKey key;
    uint32_t error = c.machine.Store().registry.OpenKey(*parent, Text(lpSubKey), &key);
    if (error != ERROR_SUCCESS) {
        return static_cast<LONG>(error);
    }
    *phkResult = c.machine.AddKey(key);
    return ERROR_SUCCESS;
}

NUVA_EXPORT LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM,
                                 LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    Core c = Enter("RegCreateKeyExW");
    if (phkResult == nullptr || lpSubKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::optional<RegKey> parent = c.machine.Key(hKey);
    if (!parent) {
        return ERROR_INVALID_HANDLE;
    }
    RegKey key;
    bool created = false;
    uint32_t error = c.machine.Store().registry.CreateKey(*parent, lpSubKey, &key, &created);
    if (error != ERROR_SUCCESS) {
        return static_cast<LONG>(error);
    }
    *phkResult = c.machine.AddKey(key);
    if (lpdwDisposition != nullptr) {
        *lpdwDisposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    }
    return ERROR_SUCCESS;
}

NUVA_EXPORT LONG RegCloseKey(HKEY hKey) {
    Core c = Enter("RegCloseKey");
    return c.machine.CloseKey(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

NUVA_EXPORT LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                               LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    Core c = Enter("RegEnumValueW");
    if (lpValueName == nullptr || lpcchValueName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::optional<RegKey> key = c.machine.Key(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    RegValue value;
    uint32_t error = c.machine.Store().registry.EnumValue(*key, dwIndex, &value);
    if (error != ERROR_SUCCESS) {
        return static_cast<LONG>(error);
    }
    if (*lpcchValueName <= value.name.size()) {
        return kErrorMoreData;  // no room for the name and its terminator
    }
    std::memcpy(lpValueName, value.name.data(), value.name.size() * sizeof(WCHAR));
    lpValueName[value.name.size()] = 0;
    *lpcchValueName = static_cast<DWORD>(value.name.size());
    return CopyValue(value, lpType, lpData, lpcbData);
}

NUVA_EXPORT LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                                  LPDWORD lpcbData) {
    Core c = Enter("RegQueryValueExW");
    std::optional<RegKey> key = c.machine.Key(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    RegValue value;
    uint32_t error = c.machine.Store().registry.QueryValue(*key, Text(lpValueName), &value);
    if (error != ERROR_SUCCESS) {
        return static_cast<LONG>(error);
    }
    return CopyValue(value, lpType, lpData, lpcbData);
}

NUVA_EXPORT LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                DWORD cbData) {
    Core c = Enter("RegSetValueExW");
    if (lpData == nullptr && cbData != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    std::optional<RegKey> key = c.machine.Key(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    std::span<const uint8_t> data(lpData, lpData == nullptr ? 0 : cbData);
    return static_cast<LONG>(c.machine.Store().registry.SetValue(*key, Text(lpValueName), dwType, data));
}

NUVA_EXPORT LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    Core c = Enter("RegDeleteValueW");
    std::optional<RegKey> key = c.machine.Key(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    return static_cast<LONG>(c.machine.Store().registry.DeleteValue(*key, Text(lpValueName)));
}

NUVA_EXPORT LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    Core c = Enter("RegDeleteKeyW");
    std::optional<RegKey> key = c.machine.Key(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    return static_cast<LONG>(c.machine.Store().registry.DeleteKey(*key, Text(lpSubKey)));
}

// ---- Memory ----------------------------------------------------------------

NUVA_EXPORT HLOCAL LocalAlloc(UINT uFlags, UINT uBytes) {
    Core c = Enter("LocalAlloc");
    if ((uFlags & ~LMEM_ZEROINIT) != 0) {
        Fail(ERROR_INVALID_PARAMETER);  // only fixed blocks on this platform
        return nullptr;
    }
    void* block = c.machine.HeapAlloc(uFlags, uBytes);
    if (block == nullptr) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

NUVA_EXPORT HLOCAL LocalFree(HLOCAL hMem) {
    Core c = Enter("LocalFree");
    if (hMem == nullptr || c.machine.HeapFree(hMem)) {
        return nullptr;
    }
    Fail(ERROR_INVALID_HANDLE);
    return hMem;
}

NUVA_EXPORT UINT LocalSize(HLOCAL hMem) {
    Core c = Enter("LocalSize");
    std::optional<uint32_t> size = c.machine.HeapSize(hMem);
    if (!size) {
        Fail(ERROR_INVALID_HANDLE);
        return 0;
    }
    return *size;
}

NUVA_EXPORT BOOL IsBadReadPtr(const void* lp, UINT ucb) {
    Core c = Enter("IsBadReadPtr");
    return c.machine.Readable(lp, ucb) ? FALSE : TRUE;
}

NUVA_EXPORT LPVOID VirtualAlloc(LPVOID lpAddress, DWORD dwSize, DWORD flAllocationType, DWORD flProtect) {
    Core c = Enter("VirtualAlloc");
    constexpr DWORD kTypes = MEM_COMMIT | MEM_RESERVE;
    DWORD base = flProtect & ~PAGE_NOCACHE;
    // Only fresh regions: committing into an earlier reservation is not
    // offered by this platform.
    if (lpAddress != nullptr || (flAllocationType & kTypes) == 0 || (flAllocationType & ~kTypes) != 0 ||
        (base != PAGE_READWRITE && base != PAGE_READONLY && base != PAGE_NOACCESS) || dwSize == 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* host = nullptr;
    nuva::sim::RamError error;
    {
        std::lock_guard<std::mutex> lock(c.machine.RamMutex());
        error = c.machine.RamDevice().Allocate(dwSize, (flAllocationType & MEM_COMMIT) != 0, &host);
    }
    if (error != nuva::sim::RamError::kNone) {
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return host;
}

NUVA_EXPORT BOOL VirtualFree(LPVOID lpAddress, DWORD dwSize, DWORD dwFreeType) {
    Core c = Enter("VirtualFree");
    nuva::sim::RamError error = nuva::sim::RamError::kBadAddress;
    {
        std::lock_guard<std::mutex> lock(c.machine.RamMutex());
        if (dwFreeType == MEM_RELEASE && dwSize == 0) {
            error = c.machine.RamDevice().Release(lpAddress);
        } else if (dwFreeType == MEM_DECOMMIT) {
            error = c.machine.RamDevice().Decommit(lpAddress, dwSize);
        }
    }
    return error == nuva::sim::RamError::kNone ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

NUVA_EXPORT BOOL LockPages(LPVOID lpvAddress, DWORD cbSize, PDWORD pPFNs, int) {
    Core c = Enter("LockPages");
    std::vector<uint32_t> physical;
    nuva::sim::RamError error;
    {
        std::lock_guard<std::mutex> lock(c.machine.RamMutex());
        error = c.machine.RamDevice().PhysicalPages(lpvAddress, cbSize, physical);
    }
    if (error != nuva::sim::RamError::kNone) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (pPFNs != nullptr) {
        for (size_t i = 0; i < physical.size(); ++i) {
            pPFNs[i] = physical[i];
        }
    }
    return TRUE;
}

NUVA_EXPORT BOOL UnlockPages(LPVOID lpvAddress, DWORD cbSize) {
    Core c = Enter("UnlockPages");
    std::lock_guard<std::mutex> lock(c.machine.RamMutex());
    return c.machine.RamDevice().Committed(lpvAddress, cbSize) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

NUVA_EXPORT void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
    Enter("GetSystemInfo");
    if (lpSystemInfo == nullptr) {
        return;
    }
    *lpSystemInfo = SYSTEM_INFO{};
    lpSystemInfo->wProcessorArchitecture = 5;  // ARM
    lpSystemInfo->dwPageSize = nuva::sim::kPageBytes;
    lpSystemInfo->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(uintptr_t{0x10000});
    lpSystemInfo->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(uintptr_t{0x7FFFFFFF});
    lpSystemInfo->dwActiveProcessorMask = 1;
    lpSystemInfo->dwNumberOfProcessors = 1;
    lpSystemInfo->dwProcessorType = 2577;  // PROCESSOR_ARM920
    lpSystemInfo->dwAllocationGranularity = 0x10000;
    lpSystemInfo->wProcessorLevel = 4;
}

// ---- Platform requests -----------------------------------------------------

NUVA_EXPORT BOOL KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize, LPVOID lpOutBuf,
                                 DWORD nOutBufSize, LPDWORD lpBytesReturned) {
    Core c = Enter("KernelIoControl");
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = 0;
    }
    auto* out = static_cast<uint8_t*>(lpOutBuf);
    auto answered = [&](DWORD bytes) {
        if (lpBytesReturned != nullptr) {
            *lpBytesReturned = bytes;
        }
        return TRUE;
    };
    switch (dwIoControlCode) {
        case IOCTL_HAL_GET_UUID: {
            if (out == nullptr || nOutBufSize < 16) {
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            }
            auto uuid = c.machine.Uuid();
            std::memcpy(out, uuid.data(), uuid.size());
            return answered(16);
        }
        case IOCTL_HAL_REBOOT:
            c.machine.RestartFromProgram();
        case IOCTL_NUVA_PLATFORM_COMMAND:
        case IOCTL_NUVA_PLATFORM_QUERY:
            break;
        default:
            return Fail(ERROR_NOT_SUPPORTED);
    }
    if (lpInBuf == nullptr || nInBufSize < 4) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    uint32_t selector = nuva::LoadLe32(static_cast<const uint8_t*>(lpInBuf));
    if (dwIoControlCode == IOCTL_NUVA_PLATFORM_COMMAND) {
        c.machine.NotePlatformCommand(selector);
        if (selector == NUVA_COMMAND_FLASH_PREPARE) {
            return answered(0);
        }
        if (selector != NUVA_COMMAND_MEMORY_CONFIG || !c.machine.PlatformCommandAnswers()) {
            return Fail(ERROR_NOT_SUPPORTED);
        }
        if (out == nullptr || nOutBufSize < 4) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        nuva::StoreLe32(out, c.machine.MemoryConfig());
        return answered(4);
    }
    if (!c.machine.PlatformQueryAnswers()) {
        return Fail(ERROR_NOT_SUPPORTED);
    }
    nuva::sim::RomReport rom = c.machine.Rom();
    if (selector == NUVA_QUERY_PLATFORM_INFO) {
        if (out == nullptr || nOutBufSize < 4) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        nuva::StoreLe32(out, nuva::sim::PlatformInfoFromDateCode(rom.dateCode));
        return answered(4);
    }
    if (selector == NUVA_QUERY_ROM_VERSION) {
        if (out == nullptr || nOutBufSize < nuva::sim::kVersionTextBytes) {
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        nuva::sim::FillVersionText(out, rom.version);
        return answered(nuva::sim::kVersionTextBytes);
    }
    return Fail(ERROR_NOT_SUPPORTED);
}

// ---- Power -----------------------------------------------------------------

NUVA_EXPORT DWORD GetSystemPowerStatusEx2(PSYSTEM_POWER_STATUS_EX2 pSystemPowerStatusEx2, DWORD dwLen, BOOL) {
    Core c = Enter("GetSystemPowerStatusEx2");
    if (pSystemPowerStatusEx2 == nullptr) {
        Fail(ERROR_INVALID_PARAMETER);
        return 0;
    }
    SYSTEM_POWER_STATUS_EX2 status;
    c.machine.PowerStatus(status);
    DWORD bytes = dwLen < sizeof status ? dwLen : static_cast<DWORD>(sizeof status);
    std::memcpy(pSystemPowerStatusEx2, &status, bytes);
    return bytes;
}

// ---- Version and language --------------------------------------------------

NUVA_EXPORT BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation) {
    Core c = Enter("GetVersionExW");
    if (lpVersionInformation == nullptr ||
        lpVersionInformation->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *lpVersionInformation = c.machine.OsVersion();
    return TRUE;
}

NUVA_EXPORT LANGID GetSystemDefaultLangID(void) {
    return Enter("GetSystemDefaultLangID").machine.Language();
}

NUVA_EXPORT LANGID GetUserDefaultLangID(void) {
    return Enter("GetUserDefaultLangID").machine.Language();
}

// ---- Threads and time ------------------------------------------------------

NUVA_EXPORT HANDLE GetCurrentThread(void) {
    Enter("GetCurrentThread");
    return kCurrentThreadPseudo;
}

NUVA_EXPORT BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
    Core c = Enter("SetThreadPriority");
    if (hThread != kCurrentThreadPseudo) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (nPriority < 0 || nPriority > 7) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    tCePriority = 248 + nPriority;
    c.machine.NoteThreadPriority(nPriority, false);
    return TRUE;
}

NUVA_EXPORT BOOL CeSetThreadPriority(HANDLE hThread, int nPriority) {
    Core c = Enter("CeSetThreadPriority");
    if (hThread != kCurrentThreadPseudo) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (nPriority < 0 || nPriority > 255) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    tCePriority = nPriority;
    c.machine.NoteThreadPriority(nPriority, true);
    return TRUE;
}

NUVA_EXPORT int CeGetThreadPriority(HANDLE hThread) {
    Enter("CeGetThreadPriority");
    if (hThread != kCurrentThreadPseudo) {
        Fail(ERROR_INVALID_HANDLE);
        return 256;  // THREAD_PRIORITY_ERROR_RETURN of CE
    }
    return tCePriority;
}

NUVA_EXPORT void Sleep(DWORD dwMilliseconds) {
    Core c = Enter("Sleep");
    c.machine.SleepMs(c.self, dwMilliseconds);
}

NUVA_EXPORT DWORD GetTickCount(void) {
    return Enter("GetTickCount").machine.TickCount();
}

// ---- User interface --------------------------------------------------------

NUVA_EXPORT int MessageBoxW(HWND, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    Core c = Enter("MessageBoxW");
    return c.machine.ShowMessageBox(c.self, std::u16string(Text(lpText)), std::u16string(Text(lpCaption)),
                                    uType);
}

// ---- Hardware --------------------------------------------------------------

NUVA_EXPORT ULONG READ_REGISTER_ULONG(volatile ULONG* Register) {
    Machine& m = EnterBus("READ_REGISTER_ULONG");
    return m.BusRead(KernelAddress(m, Register), 4);
}

NUVA_EXPORT USHORT READ_REGISTER_USHORT(volatile USHORT* Register) {
    Machine& m = EnterBus("READ_REGISTER_USHORT");
    return static_cast<USHORT>(m.BusRead(KernelAddress(m, Register), 2));
}

NUVA_EXPORT UCHAR READ_REGISTER_UCHAR(volatile UCHAR* Register) {
    Machine& m = EnterBus("READ_REGISTER_UCHAR");
    return static_cast<UCHAR>(m.BusRead(KernelAddress(m, Register), 1));
}

NUVA_EXPORT void WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value) {
    Machine& m = EnterBus("WRITE_REGISTER_ULONG");
    m.BusWrite(KernelAddress(m, Register), 4, Value);
}

NUVA_EXPORT void WRITE_REGISTER_USHORT(volatile USHORT* Register, USHORT Value) {
    Machine& m = EnterBus("WRITE_REGISTER_USHORT");
    m.BusWrite(KernelAddress(m, Register), 2, Value);
}

NUVA_EXPORT void WRITE_REGISTER_UCHAR(volatile UCHAR* Register, UCHAR Value) {
    Machine& m = EnterBus("WRITE_REGISTER_UCHAR");
    m.BusWrite(KernelAddress(m, Register), 1, Value);
}

NUVA_EXPORT void READ_REGISTER_BUFFER_UCHAR(volatile UCHAR* Register, UCHAR* Buffer, ULONG Count) {
    Machine& m = EnterBus("READ_REGISTER_BUFFER_UCHAR");
    CheckBuffer(m, Buffer, Count, "READ_REGISTER_BUFFER_UCHAR");
    m.BusReadBlock(KernelAddress(m, Register), 1, Buffer, Count);
}

NUVA_EXPORT void WRITE_REGISTER_BUFFER_UCHAR(volatile UCHAR* Register, const UCHAR* Buffer, ULONG Count) {
    Machine& m = EnterBus("WRITE_REGISTER_BUFFER_UCHAR");
    CheckBuffer(m, Buffer, Count, "WRITE_REGISTER_BUFFER_UCHAR");
    m.BusWriteBlock(KernelAddress(m, Register), 1, Buffer, Count);
}

NUVA_EXPORT void READ_REGISTER_BUFFER_ULONG(volatile ULONG* Register, ULONG* Buffer, ULONG Count) {
    Machine& m = EnterBus("READ_REGISTER_BUFFER_ULONG");
    CheckBuffer(m, Buffer, Count, "READ_REGISTER_BUFFER_ULONG");
    m.BusReadBlock(KernelAddress(m, Register), 4, Buffer, Count);
}

NUVA_EXPORT void WRITE_REGISTER_BUFFER_ULONG(volatile ULONG* Register, const ULONG* Buffer, ULONG Count) {
    Machine& m = EnterBus("WRITE_REGISTER_BUFFER_ULONG");
    CheckBuffer(m, Buffer, Count, "WRITE_REGISTER_BUFFER_ULONG");
    m.BusWriteBlock(KernelAddress(m, Register), 4, Buffer, Count);
}

NUVA_EXPORT void INTERRUPTS_OFF(void) {
    EnterBus("INTERRUPTS_OFF").SetInterruptsMasked(true);
}

NUVA_EXPORT void INTERRUPTS_ON(void) {
    EnterBus("INTERRUPTS_ON").SetInterruptsMasked(false);
}

NUVA_EXPORT void CacheSync(int flags) {
    Core c = Enter("CacheSync");
    // The flash's lines are never dirty (its window is write-through), so a
    // write-back alone leaves them; a discard drops them.
    if ((static_cast<unsigned>(flags) & CACHE_SYNC_DISCARD) != 0) {
        c.machine.CleanCache();
    }
}

}  // extern "C"

void nuva::sim::ResetThreadDefaults() {
    tLastError = ERROR_SUCCESS;
    tCePriority = kCeNormalPriority;
}
