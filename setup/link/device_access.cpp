#include "setup/link/device_access.h"

namespace nuva {

std::mutex& DeviceAccessLock() {
    // Never destroyed: a worker may still be in a device call while the
    // program ends.
    static auto* lock = new std::mutex;
    return *lock;
}

HANDLE LockedCeCreateFile(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                          DWORD flagsAndAttributes) {
    std::lock_guard hold(DeviceAccessLock());
    return CeCreateFile(fileName, desiredAccess, shareMode, nullptr, creationDisposition, flagsAndAttributes,
                        nullptr);
}

BOOL LockedCeWriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten) {
    std::lock_guard hold(DeviceAccessLock());
    return CeWriteFile(file, buffer, bytesToWrite, bytesWritten, nullptr);
}

BOOL LockedCeReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) {
    std::lock_guard hold(DeviceAccessLock());
    return CeReadFile(file, buffer, bytesToRead, bytesRead, nullptr);
}

DWORD LockedCeSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD moveMethod) {
    std::lock_guard hold(DeviceAccessLock());
    return CeSetFilePointer(file, distance, distanceHigh, moveMethod);
}

BOOL LockedCeSetEndOfFile(HANDLE file) {
    std::lock_guard hold(DeviceAccessLock());
    return CeSetEndOfFile(file);
}

BOOL LockedCeCloseHandle(HANDLE object) {
    std::lock_guard hold(DeviceAccessLock());
    return CeCloseHandle(object);
}

BOOL LockedCeDeleteFile(LPCWSTR fileName) {
    std::lock_guard hold(DeviceAccessLock());
    return CeDeleteFile(fileName);
}

BOOL LockedCeGetVersionEx(LPCEOSVERSIONINFO versionInformation) {
    std::lock_guard hold(DeviceAccessLock());
    return CeGetVersionEx(versionInformation);
}

DWORD LockedCeGetSpecialFolderPath(int folder, DWORD bufferLength, LPWSTR buffer) {
    std::lock_guard hold(DeviceAccessLock());
    return CeGetSpecialFolderPath(folder, bufferLength, buffer);
}

DeviceFile DeviceFile::Create(LPCWSTR path, DWORD creationDisposition) {
    return DeviceFile(LockedCeCreateFile(path, GENERIC_READ | GENERIC_WRITE, 0, creationDisposition,
                                         FILE_ATTRIBUTE_NORMAL));
}

void DeviceFile::Close() {
    if (IsOpen())
        LockedCeCloseHandle(handle_);
    handle_ = InvalidDeviceHandle();
}

}  // namespace nuva
