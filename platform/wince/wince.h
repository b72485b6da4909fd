// The Windows CE core system library as the handheld's programs see it: the
// names, types, constants and result conventions of coredll and the DDK
// register accessors, for what the agent library and the flasher call.
//
// Programs written against this header run on the emulated handheld: the
// handheld loads the program file from its own file store and binds these
// functions to its machine. Nothing here may be called outside a handheld.
//
// The C runtime that programs use (malloc and operator new, snprintf,
// strlen, memcpy ...) belongs to the core library as well, as on the device,
// and runs from flash like the rest of it. Programs include the standard
// headers and call it by the standard names; their build binds those calls
// to the core library and refuses any other import
// (cmake/HandheldPrograms.cmake).
#pragma once

// The header keeps the platform's C macros (casts in E_FAIL, HKEY_LOCAL_MACHINE,
// NUVA_KADDR...) as programs written for the platform expect them; the
// project's C++ warnings are not for them.
#pragma GCC system_header

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- Types -----------------------------------------------------------------

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint16_t USHORT;
typedef uint8_t UCHAR;
typedef uint32_t UINT;
typedef int32_t HRESULT;
typedef uint16_t LANGID;
typedef char16_t WCHAR;
typedef char CHAR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef LONG* PLONG;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* HANDLE;
typedef HANDLE HLOCAL;
typedef HANDLE HINSTANCE;
typedef HANDLE HWND;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED* LPOVERLAPPED;
typedef DWORD REGSAM;

#define TRUE 1
#define FALSE 0

#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005)
#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// ---- Errors ----------------------------------------------------------------

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L

DWORD GetLastError(void);
void SetLastError(DWORD error);

// ---- Files -----------------------------------------------------------------
// Paths are UTF-16, "\"-separated and absolute; names are matched without
// regard to case and keep the case they were created with.

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
BOOL SetEndOfFile(HANDLE hFile);
BOOL CloseHandle(HANDLE hObject);
BOOL DeleteFileW(LPCWSTR lpFileName);
BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
DWORD GetFileAttributesW(LPCWSTR lpFileName);

// Device drivers are opened by name ("PWR1:") with CreateFileW.
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);

// ---- Registry --------------------------------------------------------------

#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001)
#define KEY_ALL_ACCESS 0x000F003Fu
#define KEY_READ 0x00020019u
#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition);
LONG RegCloseKey(HKEY hKey);
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData);
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);

// ---- Memory ----------------------------------------------------------------

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HLOCAL LocalAlloc(UINT uFlags, UINT uBytes);
HLOCAL LocalFree(HLOCAL hMem);
UINT LocalSize(HLOCAL hMem);

// Whether the calling process may read `ucb` bytes at `lp`.
BOOL IsBadReadPtr(const void* lp, UINT ucb);

#define MEM_COMMIT 0x00001000u
#define MEM_RESERVE 0x00002000u
#define MEM_DECOMMIT 0x00004000u
#define MEM_RELEASE 0x00008000u
#define PAGE_NOACCESS 0x01u
#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define PAGE_NOCACHE 0x200u
#define LOCKFLAG_WRITE 0x001
#define LOCKFLAG_QUERY_ONLY 0x002
#define LOCKFLAG_READ 0x004

// Virtual memory backed by the handheld's RAM page frames, which need not be
// physically contiguous.
LPVOID VirtualAlloc(LPVOID lpAddress, DWORD dwSize, DWORD flAllocationType, DWORD flProtect);
BOOL VirtualFree(LPVOID lpAddress, DWORD dwSize, DWORD dwFreeType);
// Locks the pages of a range and, when pPFNs is given, stores the physical
// address of every page of the range (one DWORD per page, page-aligned).
BOOL LockPages(LPVOID lpvAddress, DWORD cbSize, PDWORD pPFNs, int fOptions);
BOOL UnlockPages(LPVOID lpvAddress, DWORD cbSize);

typedef struct _SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    DWORD dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
} SYSTEM_INFO, *LPSYSTEM_INFO;
void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);

// ---- Platform requests -----------------------------------------------------

#define IOCTL_HAL_GET_UUID 0x01010034u
#define IOCTL_HAL_REBOOT 0x0101003Cu

// Requests to the platform's OEM layer. IOCTL_HAL_REBOOT restarts the handheld
// (RAM is kept: a warm start unless the reserved block's cold-start words were
// cleared) and does not return to the caller.
BOOL KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize, LPVOID lpOutBuf,
                     DWORD nOutBufSize, LPDWORD lpBytesReturned);

// ---- Power -----------------------------------------------------------------

#define AC_LINE_OFFLINE 0x00
#define AC_LINE_ONLINE 0x01
#define AC_LINE_UNKNOWN 0xFF
#define BATTERY_PERCENTAGE_UNKNOWN 0xFF

typedef struct _SYSTEM_POWER_STATUS_EX2 {
    BYTE ACLineStatus;
    BYTE BatteryFlag;
    BYTE BatteryLifePercent;
    BYTE Reserved1;
    DWORD BatteryLifeTime;
    DWORD BatteryFullLifeTime;
    BYTE Reserved2;
    BYTE BackupBatteryFlag;
    BYTE BackupBatteryLifePercent;
    BYTE Reserved3;
    DWORD BackupBatteryLifeTime;
    DWORD BackupBatteryFullLifeTime;
    DWORD BatteryVoltage;
    DWORD BatteryCurrent;
    DWORD BatteryAverageCurrent;
    DWORD BatteryAverageInterval;
    DWORD BatterymAHourConsumed;
    DWORD BatteryTemperature;
    DWORD BackupBatteryVoltage;
    BYTE BatteryChemistry;
} SYSTEM_POWER_STATUS_EX2, *PSYSTEM_POWER_STATUS_EX2;

// Fills up to dwLen bytes of the record; returns the number of bytes filled,
// 0 on failure.
DWORD GetSystemPowerStatusEx2(PSYSTEM_POWER_STATUS_EX2 pSystemPowerStatusEx2, DWORD dwLen, BOOL fUpdate);

// ---- Version and language --------------------------------------------------

typedef struct _OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} OSVERSIONINFOW, *LPOSVERSIONINFOW;

BOOL GetVersionExW(LPOSVERSIONINFOW lpVersionInformation);
LANGID GetSystemDefaultLangID(void);
LANGID GetUserDefaultLangID(void);

// ---- Threads and time ------------------------------------------------------

#define THREAD_PRIORITY_TIME_CRITICAL 0
#define THREAD_PRIORITY_HIGHEST 1
#define THREAD_PRIORITY_NORMAL 3

HANDLE GetCurrentThread(void);
BOOL SetThreadPriority(HANDLE hThread, int nPriority);
BOOL CeSetThreadPriority(HANDLE hThread, int nPriority);
int CeGetThreadPriority(HANDLE hThread);
// Sleeps for a number of milliseconds of the handheld's clock. A thread that
// sleeps with interrupts masked is never woken: the handheld hangs.
void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount(void);

// ---- User interface --------------------------------------------------------

#define MB_OK 0x00000000u
#define MB_ICONERROR 0x00000010u
#define MB_ICONWARNING 0x00000030u
#define MB_SETFOREGROUND 0x00010000u
#define MB_TOPMOST 0x00040000u
#define IDOK 1

// Shows a message box on the handheld's screen and waits for the user to
// dismiss it.
int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

// ---- Hardware --------------------------------------------------------------
// The DDK register accessors. The address is a kernel virtual address of the
// handheld (the flash at 0xA0000000/0x80000000, RAM at 0xA4000000/0x84000000,
// the frame buffer at 0xBE042000, the platform registers); the handheld's bus
// decodes it. An address that nothing backs faults the handheld.

ULONG READ_REGISTER_ULONG(volatile ULONG* Register);
USHORT READ_REGISTER_USHORT(volatile USHORT* Register);
UCHAR READ_REGISTER_UCHAR(volatile UCHAR* Register);
void WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value);
void WRITE_REGISTER_USHORT(volatile USHORT* Register, USHORT Value);
void WRITE_REGISTER_UCHAR(volatile UCHAR* Register, UCHAR Value);
// Bulk forms: Count elements at consecutive addresses.
void READ_REGISTER_BUFFER_UCHAR(volatile UCHAR* Register, UCHAR* Buffer, ULONG Count);
void WRITE_REGISTER_BUFFER_UCHAR(volatile UCHAR* Register, const UCHAR* Buffer, ULONG Count);
void READ_REGISTER_BUFFER_ULONG(volatile ULONG* Register, ULONG* Buffer, ULONG Count);
void WRITE_REGISTER_BUFFER_ULONG(volatile ULONG* Register, const ULONG* Buffer, ULONG Count);

// Masks and unmasks IRQ and FIQ on the processor. While they are masked the
// scheduler does not run and no timer fires.
void INTERRUPTS_OFF(void);
void INTERRUPTS_ON(void);

// Cleans and invalidates the processor's caches. Reads through a cached
// window (the flash at 0x80000000) are answered from the data cache until
// it is cleaned: a program that changed the flash sees the new contents there
// only after CACHE_SYNC_DISCARD (or CACHE_SYNC_ALL).
#define CACHE_SYNC_DISCARD 0x001u
#define CACHE_SYNC_INSTRUCTIONS 0x002u
#define CACHE_SYNC_WRITEBACK 0x004u
#define CACHE_SYNC_ALL 0x07Fu
void CacheSync(int flags);

// Turns a kernel virtual address into the pointer value that the accessors
// above take (the handheld's addresses are 32-bit).
#define NUVA_KADDR(type, address) ((volatile type*)(uintptr_t)(uint32_t)(address))

// ---- Program entry points --------------------------------------------------
// A program exports WinMain; a library exports DllMain and its functions with
// C linkage.

#define WINAPI
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3
#define DLL_PROCESS_DETACH 0

#define NUVA_EXPORT __attribute__((visibility("default")))

// The shape of a function that the RAPI service calls in block mode.
typedef struct IRAPIStream IRAPIStream;
typedef HRESULT (*PFNRAPIEXTDLL)(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                 IRAPIStream* pStream);

#ifdef __cplusplus
}  // extern "C"
#endif
