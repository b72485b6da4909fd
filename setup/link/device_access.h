// Serialised access to the handheld's files and folders.
//
// Two threads may talk to the handheld at once: the user-interface thread
// (pages, the connection monitor's probe) and the worker of a long operation.
// Every RAPI file, folder and version call of the program goes through one
// of the locked forms below, which hold DeviceAccessLock for that single call
// and nothing else: no locked call is nested in another and no other lock is
// taken while it is held. Calls into the agent (CeRapiInvoke) and CeRapiInit
// are made without it.
//
// Arguments and results pass through unchanged.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/rapi/rapi.h"

namespace nuva {

// The one process-wide lock around device file calls.
std::mutex& DeviceAccessLock();

HANDLE LockedCeCreateFile(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                          DWORD flagsAndAttributes);
BOOL LockedCeWriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten);
BOOL LockedCeReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead);
DWORD LockedCeSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod);
BOOL LockedCeSetEndOfFile(HANDLE file);
BOOL LockedCeCloseHandle(HANDLE object);
BOOL LockedCeDeleteFile(LPCWSTR fileName);
BOOL LockedCeGetVersionEx(LPCEOSVERSIONINFO versionInformation);
DWORD LockedCeGetSpecialFolderPath(int folder, DWORD bufferLength, LPWSTR buffer);

// RAPI's INVALID_HANDLE_VALUE, without the C cast of its macro.
inline HANDLE InvalidDeviceHandle() {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

// A device file handle that is closed (through the lock) when it goes out of
// scope, so every transfer closes what it opened on every path.
class DeviceFile {
  public:
    DeviceFile() = default;
    explicit DeviceFile(HANDLE handle) : handle_(handle) {}
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;
    ~DeviceFile() { Close(); }

    // Opens with the locked CeCreateFile: read and write access, no sharing,
    // normal attributes, the given creation disposition.
    static DeviceFile Create(LPCWSTR path, DWORD creationDisposition);

    bool IsOpen() const { return handle_ != InvalidDeviceHandle() && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    void Close();

  private:
    HANDLE handle_ = InvalidDeviceHandle();
};

}  // namespace nuva
