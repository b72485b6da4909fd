// The C runtime of the handheld's core library: allocation (C and C++),
// formatting, string and memory functions as handheld programs call them.
// On the device these execute in place from flash like the rest of the core
// library, so each one first makes the core library's entry check: a call
// while a flash chip is not in read-array mode crashes the handheld, the
// reason naming the call.
//
// Programs call them by their standard names; their build renames each call
// of NAME into an import of __wrap_NAME (cmake/HandheldPrograms.cmake), the
// name defined here. This library cannot define the plain names: its process
// is a host program whose own C library keeps them.
//
// Allocations come from the handheld's heap, the one LocalAlloc serves, so
// they count against its RAM and are gone with the programs at a restart.
// Pointers a program hands in are its own business as on the device, except
// that a null one where bytes are due crashes the handheld rather than the
// host process.
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "handheld-sim/machine/core_entry.h"
#include "platform/wince/wince.h"

namespace {

using nuva::sim::core::Core;
using nuva::sim::core::Enter;

void CheckPointer(Core& c, const void* pointer, const char* name) {
    if (pointer == nullptr) [[unlikely]] {
        c.machine.Crash(std::string("data abort: ") + name + " with a null pointer");
    }
}

void CheckBytes(Core& c, const void* pointer, size_t bytes, const char* name) {
    if (bytes != 0) {
        CheckPointer(c, pointer, name);
    }
}

// A heap block of `bytes`, or nullptr when the heap has no room (or the size
// is beyond what the handheld's 32-bit heap can hold).
void* Allocate(Core& c, size_t bytes, UINT flags) {
    if (bytes > UINT32_MAX) {
        return nullptr;
    }
    return c.machine.HeapAlloc(flags, static_cast<uint32_t>(bytes));
}

void Release(Core& c, void* block, const char* name) {
    if (block != nullptr && !c.machine.HeapFree(block)) {
        char text[160];
        std::snprintf(text, sizeof text, "%s of %p, which the heap did not hand out", name, block);
        c.machine.Crash(text);
    }
}

// C++ allocation cannot report failure without exceptions, which handheld
// programs are built without: running out of memory ends the handheld with
// a clear reason instead of a null pointer the program would write through.
void* AllocateOrCrash(const char* name, size_t bytes) {
    Core c = Enter(name);
    void* block = Allocate(c, bytes, 0);
    if (block == nullptr) {
        char text[160];
        std::snprintf(text, sizeof text, "%s: the heap has no room for %zu bytes", name, bytes);
        c.machine.Crash(text);
    }
    return block;
}

[[noreturn]] void ContainerFailure(const char* name, const std::string& what) {
    Core c = Enter(name);
    c.machine.Crash(std::string(name) + ": " + what + " (programs of the handheld run without exceptions)");
}

}  // namespace

extern "C" {

// ---- Allocation ------------------------------------------------------------

NUVA_EXPORT void* __wrap_malloc(size_t bytes) {
    Core c = Enter("malloc");
    return Allocate(c, bytes, 0);
}

NUVA_EXPORT void __wrap_free(void* block) {
    Core c = Enter("free");
    Release(c, block, "free");
}

// operator new(size_t), operator new[](size_t)
NUVA_EXPORT void* __wrap__Znwm(size_t bytes) {
    return AllocateOrCrash("operator new", bytes);
}

NUVA_EXPORT void* __wrap__Znam(size_t bytes) {
    return AllocateOrCrash("operator new[]", bytes);
}

// operator delete(void*), operator delete[](void*), and their sized forms.
NUVA_EXPORT void __wrap__ZdlPv(void* block) {
    Core c = Enter("operator delete");
    Release(c, block, "operator delete");
}

NUVA_EXPORT void __wrap__ZdaPv(void* block) {
    Core c = Enter("operator delete[]");
    Release(c, block, "operator delete[]");
}

NUVA_EXPORT void __wrap__ZdlPvm(void* block, size_t) {
    Core c = Enter("operator delete");
    Release(c, block, "operator delete");
}

NUVA_EXPORT void __wrap__ZdaPvm(void* block, size_t) {
    Core c = Enter("operator delete[]");
    Release(c, block, "operator delete[]");
}

// std::__throw_bad_alloc(), std::__throw_length_error(const char*),
// std::__throw_bad_array_new_length(): what the C++ library's containers
// call when asked for more than they can hold.
[[noreturn]] NUVA_EXPORT void __wrap__ZSt17__throw_bad_allocv() {
    ContainerFailure("std::__throw_bad_alloc", "out of memory");
}

[[noreturn]] NUVA_EXPORT void __wrap__ZSt20__throw_length_errorPKc(const char* what) {
    ContainerFailure("std::__throw_length_error", what != nullptr ? what : "length error");
}

[[noreturn]] NUVA_EXPORT void __wrap__ZSt28__throw_bad_array_new_lengthv() {
    ContainerFailure("std::__throw_bad_array_new_length", "array length out of range");
}

// ---- Formatting ------------------------------------------------------------

__attribute__((format(printf, 3, 0))) NUVA_EXPORT int __wrap_vsnprintf(char* text, size_t size,
                                                                       const char* format, va_list args) {
    Core c = Enter("vsnprintf");
    CheckBytes(c, text, size, "vsnprintf");
    CheckPointer(c, format, "vsnprintf");
    return std::vsnprintf(text, size, format, args);
}

__attribute__((format(printf, 3, 4))) NUVA_EXPORT int __wrap_snprintf(char* text, size_t size,
                                                                      const char* format, ...) {
    Core c = Enter("snprintf");
    CheckBytes(c, text, size, "snprintf");
    CheckPointer(c, format, "snprintf");
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, size, format, args);
    va_end(args);
    return length;
}

// ---- Strings and memory ----------------------------------------------------

NUVA_EXPORT size_t __wrap_strlen(const char* text) {
    Core c = Enter("strlen");
    CheckPointer(c, text, "strlen");
    return std::strlen(text);
}

NUVA_EXPORT void* __wrap_memcpy(void* to, const void* from, size_t bytes) {
    Core c = Enter("memcpy");
    CheckBytes(c, to, bytes, "memcpy");
    CheckBytes(c, from, bytes, "memcpy");
    return bytes == 0 ? to : std::memcpy(to, from, bytes);
}

NUVA_EXPORT void* __wrap_memset(void* to, int value, size_t bytes) {
    Core c = Enter("memset");
    CheckBytes(c, to, bytes, "memset");
    return bytes == 0 ? to : std::memset(to, value, bytes);
}

NUVA_EXPORT int __wrap_memcmp(const void* a, const void* b, size_t bytes) {
    Core c = Enter("memcmp");
    CheckBytes(c, a, bytes, "memcmp");
    CheckBytes(c, b, bytes, "memcmp");
    return bytes == 0 ? 0 : std::memcmp(a, b, bytes);
}

// ---- Arithmetic ------------------------------------------------------------

NUVA_EXPORT long long __wrap_llround(double value) {
    Enter("llround");
    return std::llround(value);
}

}  // extern "C"
