// A handheld library for the machine's tests, called through the machine's
// RAPI-style export calls. Built as a shared object that links against
// nothing.
#include <cstring>

#include "platform/wince/wince.h"

namespace {

constexpr HRESULT kOk = 0;
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);

// Counts the calls of this copy of the library: a reloaded copy starts over.
DWORD calls = 0;

}  // namespace

extern "C" {

// Answers the input reversed, followed by the call count (4 bytes).
NUVA_EXPORT HRESULT TestEcho(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput, IRAPIStream*) {
    ++calls;
    auto* out = static_cast<BYTE*>(LocalAlloc(LPTR, cbInput + 4));
    if (out == nullptr) {
        return kFail;
    }
    for (DWORD i = 0; i < cbInput; ++i) {
        out[i] = pInput[cbInput - 1 - i];
    }
    std::memcpy(out + cbInput, &calls, 4);
    if (pInput != nullptr && !IsBadReadPtr(pInput, cbInput)) {
        LocalFree(pInput);
    }
    *pcbOutput = cbInput + 4;
    *ppOutput = out;
    return kOk;
}

// Restarts the handheld; returns only if the restart request does.
NUVA_EXPORT HRESULT TestReboot(DWORD, BYTE*, DWORD* pcbOutput, BYTE**, IRAPIStream*) {
    *pcbOutput = 0;
    KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
    return kOk;
}

// Hands back a block that LocalAlloc never gave out.
NUVA_EXPORT HRESULT TestForeignBlock(DWORD, BYTE*, DWORD* pcbOutput, BYTE** ppOutput, IRAPIStream*) {
    static BYTE block[8];
    *pcbOutput = sizeof block;
    *ppOutput = block;
    return kOk;
}

// Answers the calling thread's last error and CE priority as the call found
// them (4 bytes each), then changes both.
NUVA_EXPORT HRESULT TestThreadState(DWORD, BYTE*, DWORD* pcbOutput, BYTE** ppOutput, IRAPIStream*) {
    const DWORD found[2] = {GetLastError(), static_cast<DWORD>(CeGetThreadPriority(GetCurrentThread()))};
    SetLastError(1234);
    CeSetThreadPriority(GetCurrentThread(), 100);
    auto* out = static_cast<BYTE*>(LocalAlloc(LPTR, sizeof found));
    if (out == nullptr) {
        return kFail;
    }
    std::memcpy(out, found, sizeof found);
    *pcbOutput = sizeof found;
    *ppOutput = out;
    return kOk;
}

}  // extern "C"
