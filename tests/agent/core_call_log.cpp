#include "tests/agent/core_call_log.h"

#include <dlfcn.h>

#include <mutex>
#include <stdexcept>

#include "platform/wince/wince.h"

namespace nuva::test {
namespace {

std::mutex g_mu;
bool g_recording = false;
bool g_failValueDeletions = false;
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

CoreCallLog::CoreCallLog(bool failValueDeletions) {
    std::lock_guard<std::mutex> lock(g_mu);
    g_calls = {};
    g_recording = true;
    g_failValueDeletions = failValueDeletions;
}

CoreCallLog::~CoreCallLog() {
    std::lock_guard<std::mutex> lock(g_mu);
    g_recording = false;
    g_failValueDeletions = false;
}

namespace {

bool FailingValueDeletions() {
    std::lock_guard<std::mutex> lock(g_mu);
    return g_failValueDeletions;
}

}  // namespace

CoreCalls CoreCallLog::Take() const {
    std::lock_guard<std::mutex> lock(g_mu);
    return g_calls;
}

}  // namespace nuva::test

using nuva::test::CoreCalls;
using nuva::test::FailingValueDeletions;
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
    if (FailingValueDeletions()) {
        return ERROR_ACCESS_DENIED;
    }
    return next(key, name);
}

}  // extern "C"
