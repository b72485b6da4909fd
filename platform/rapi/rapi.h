// The desktop side of the handheld link: the RAPI functions that the desktop
// programs call, with RAPI's names, argument order and result codes. Here
// they travel over "the cable", a local socket to the (emulated) handheld;
// see docs/cable-protocol.md.
//
// The endpoint is taken from NUVA_LINK ("unix:/path" or "tcp:127.0.0.1:PORT");
// without it, a unix socket private to the user ($XDG_RUNTIME_DIR/nuva-link,
// else /tmp/nuva-link-<uid>).
//
// Every function may be called from several threads at once. One link (one
// handheld) at a time; device file handles die with the link.
#pragma once

// The header keeps RAPI's C macros (casts in E_FAIL, INVALID_HANDLE_VALUE...)
// as client code expects them; the project's C++ warnings are not for them.
#pragma GCC system_header

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int32_t HRESULT;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef void* HANDLE;
typedef HANDLE HLOCAL;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED* LPOVERLAPPED;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define SUCCEEDED(hr) ((HRESULT)(hr) >= 0)
#define FAILED(hr) ((HRESULT)(hr) < 0)
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// RAPI's own results.
#define CERAPI_E_ALREADYINITIALIZED ((HRESULT)0x80041001)
// The link dropped (unplugged, or the handheld restarted) before or during
// the call: HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE).
#define RAPI_E_LINK_DOWN ((HRESULT)0x8007006D)
// The link was never initialised, or CeRapiUninit ended it.
#define RAPI_E_NOT_INITIALIZED ((HRESULT)0x8007001F)

// File constants, as on the handheld.
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
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

#define CSIDL_STARTUP 0x0007

// ---- Link ----------------------------------------------------------------

// Blocks until a handheld answers on the cable, then returns S_OK. When the
// link is already initialised and up, returns CERAPI_E_ALREADYINITIALIZED at
// once; when it was initialised but has dropped since, waits for the handheld
// to answer again. CeRapiUninit from another thread ends the wait with E_FAIL.
HRESULT CeRapiInit(void);
// Ends the link: pending and later calls fail, a blocked CeRapiInit returns.
HRESULT CeRapiUninit(void);
// The error of the last failed call on this thread when it came from the
// link itself (not from the handheld's own file calls); S_OK otherwise.
HRESULT CeRapiGetError(void);
// The handheld's last error code for this thread's last device call.
DWORD CeGetLastError(void);

// ---- Remote calls ----------------------------------------------------------

typedef struct IRAPIStream IRAPIStream;

// Block mode (ppIRAPIStream null): loads the handheld library `pDllPath`
// (looked up in \Windows\ with ".dll" added when it has no extension) and
// calls its export `pFunctionName` with the input block. The input block
// must come from LocalAlloc; it belongs to RAPI from the call on and is freed
// by it. On success *ppOutput is a LocalAlloc block the caller frees with
// LocalFree (null when the export returned none) and the result is what the
// export returned. A failure of the link is RAPI_E_LINK_DOWN; a library or
// export that cannot be found gives HRESULT_FROM_WIN32 of the handheld's
// error.
HRESULT CeRapiInvoke(LPCWSTR pDllPath, LPCWSTR pFunctionName, DWORD cbInput, BYTE* pInput, DWORD* pcbOutput,
                     BYTE** ppOutput, IRAPIStream** ppIRAPIStream, DWORD dwReserved);

// ---- Device files ----------------------------------------------------------

HANDLE CeCreateFile(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                    LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                    DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL CeReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                LPOVERLAPPED lpOverlapped);
BOOL CeWriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                 LPOVERLAPPED lpOverlapped);
DWORD CeSetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
BOOL CeSetEndOfFile(HANDLE hFile);
BOOL CeCloseHandle(HANDLE hObject);
BOOL CeDeleteFile(LPCWSTR lpFileName);
DWORD CeGetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);

typedef struct _CEOSVERSIONINFO {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
} CEOSVERSIONINFO, *LPCEOSVERSIONINFO;

BOOL CeGetVersionEx(LPCEOSVERSIONINFO lpVersionInformation);
// Writes the folder's path (no trailing "\") and returns its length in
// characters, 0 on failure.
DWORD CeGetSpecialFolderPath(int nFolder, DWORD nBufferLength, LPWSTR lpBuffer);

// ---- The desktop's local heap ------------------------------------------------
// RAPI's input and output blocks are local-heap blocks.

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HLOCAL LocalAlloc(UINT uFlags, size_t uBytes);
LPVOID LocalLock(HLOCAL hMem);
BOOL LocalUnlock(HLOCAL hMem);
HLOCAL LocalHandle(LPCVOID pMem);
HLOCAL LocalFree(HLOCAL hMem);
size_t LocalSize(HLOCAL hMem);

#ifdef __cplusplus
}  // extern "C"
#endif
