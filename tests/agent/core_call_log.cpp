#include "tests/agent/core_call_log.h"

#include <dlfcn.h>

#include <mutex>
#include <stdexcept>
#include <string_view>

#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace nuva::test {
namespace {

std::mutex g_mu;
bool g_recording = false;
CoreFaults g_faults;
CoreCalls g_calls;

// The handheld's own definition of a core library function.
template <typename F>
F Next(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        throw std::runtime_error(std::string("the handheld defines no ") + name);
    }
    return reinterpret_cast<F>(symbol);
}

template <typename F>
void Record(F&& record) {
    std::lock_guard<std::mutex> lock(g_mu);
    if (g_recording) {
        record(g_calls);
    }
}

}  // namespace

CoreCallLog::CoreCallLog(CoreFaults faults) {
    std::lock_guard<std::mutex> lock(g_mu);
    g_calls = {};
    g_recording = true;
    g_faults = faults;
}

CoreCallLog::~CoreCallLog() {
    std::lock_guard<std::mutex> lock(g_mu);
    g_recording = false;
    g_faults = {};
}

namespace {

CoreFaults ActiveFaults() {
    std::lock_guard<std::mutex> lock(g_mu);
    return g_faults;
}

}  // namespace

CoreCalls CoreCallLog::Take() const {
    std::lock_guard<std::mutex> lock(g_mu);
    return g_calls;
}

}  // namespace nuva::test

using nuva::test::ActiveFaults;
using nuva::test::CoreCalls;
using nuva::test::Next;
using nuva::test::Record;

extern "C" {

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    static const auto next = Next<decltype(&ReadFile)>("ReadFile");
    const BOOL ok = next(file, buffer, toRead, read, overlapped);
    const DWORD got = read != nullptr ? *read : 0;
    Record([&](CoreCalls& calls) { calls.reads.push_back({toRead, ok ? got : 0}); });
    return ok;
}

BOOL IsBadReadPtr(const void* p, UINT bytes) {
    static const auto next = Next<decltype(&IsBadReadPtr)>("IsBadReadPtr");
    Record([&](CoreCalls& calls) { calls.readabilityTests.push_back(p); });
    return next(p, bytes);
}

HLOCAL LocalFree(HLOCAL block) {
    static const auto next = Next<decltype(&LocalFree)>("LocalFree");
    Record([&](CoreCalls& calls) { calls.freed.push_back(block); });
    return next(block);
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
    static const auto next = Next<decltype(&RegDeleteValueW)>("RegDeleteValueW");
    Record([&](CoreCalls& calls) { ++calls.valueDeletions; });
    if (ActiveFaults().valueDeletions) {
        return ERROR_ACCESS_DENIED;
    }
    return next(key, name);
}

BOOL KernelIoControl(DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes, LPDWORD returned) {
    static const auto next = Next<decltype(&KernelIoControl)>("KernelIoControl");
    if (ActiveFaults().memoryConfig && code == IOCTL_NUVA_PLATFORM_COMMAND) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return next(code, in, inBytes, out, outBytes, returned);
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD attributes, HANDLE templateFile) {
    static const auto next = Next<decltype(&CreateFileW)>("CreateFileW");
    if (ActiveFaults().memoryConfig && name != nullptr && std::u16string_view(name) == u"PWR1:") {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return next(name, access, share, security, disposition, attributes, templateFile);
}

}  // extern "C"
