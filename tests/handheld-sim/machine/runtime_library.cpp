// A handheld library for the tests of the core library's C runtime, built
// as every handheld program is (cmake/HandheldPrograms.cmake): its calls of
// snprintf, malloc, operator new ... are imports of the core library.
//
// RunCall takes a block of: a mode byte, a count byte and the name of a
// call. With interrupts masked (so that no tick runs from flash meanwhile),
// mode 1 puts both flash chips into read-status mode and mode 0 leaves them
// in read-array mode; the call runs, the chips go back to read-array mode,
// and the output block holds what the call produced. The count is a small
// number the call works with, given at run time so that the compiler cannot
// do the call's work itself. The library itself uses no C runtime function
// but those under test.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace {

constexpr HRESULT kOk = 0;
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);
constexpr ULONG kReadStatus = 0x00700070;
constexpr ULONG kReadArray = 0x00FF00FF;

volatile ULONG* Flash() {
    return reinterpret_cast<volatile ULONG*>(uintptr_t{NUVA_FLASH_UNCACHED});
}

__attribute__((format(printf, 3, 4))) int Format(char* text, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, size, format, args);
    va_end(args);
    return length;
}

struct Widget {
    unsigned count;
    char name[20];
};

bool Is(const char* call, size_t length, const char* name) {
    size_t i = 0;
    for (; i < length && name[i] != 0; ++i) {
        if (call[i] != name[i]) {
            return false;
        }
    }
    return i == length && name[i] == 0;
}

// Does `call` with `count`, writing what it produced into `text`; false for
// an unknown call.
bool Run(const char* call, size_t length, unsigned count, char* text, size_t size) {
    if (Is(call, length, "snprintf")) {
        std::snprintf(text, size, "snprintf %u %s %04x", count, "ok", count * 3);
    } else if (Is(call, length, "vsnprintf")) {
        Format(text, size, "vsnprintf %u", count);
    } else if (Is(call, length, "malloc")) {
        auto* block = static_cast<unsigned char*>(std::malloc(count));
        if (block == nullptr) {
            return false;
        }
        std::memset(block, 0x5A, count);
        // The block is one of the handheld's heap: LocalSize knows it.
        std::snprintf(text, size, "malloc %u %u %02x", static_cast<unsigned>(LocalSize(block)), count,
                      block[count - 1]);
        std::free(block);
    } else if (Is(call, length, "new")) {
        auto* widget = new Widget{count, "widget"};
        auto* words = new uint32_t[count];
        words[count - 1] = count;
        std::snprintf(text, size, "new %u %s %u %u", static_cast<unsigned>(LocalSize(widget)), widget->name,
                      static_cast<unsigned>(LocalSize(words)), words[count - 1]);
        delete[] words;
        delete widget;
    } else if (Is(call, length, "strlen")) {
        // Read through a volatile pointer, so that the length is not known
        // when the program is built.
        const char* volatile word = "twelve chars";
        std::snprintf(text, size, "strlen %u", static_cast<unsigned>(std::strlen(word)));
    } else {
        return false;
    }
    return true;
}

}  // namespace

extern "C" NUVA_EXPORT HRESULT RunCall(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                       IRAPIStream*) {
    if (pInput == nullptr || cbInput < 3 || pInput[0] > 1 || pInput[1] == 0) {
        return kFail;
    }
    const bool status = pInput[0] == 1;
    const unsigned count = pInput[1];
    const auto* call = reinterpret_cast<const char*>(pInput + 2);
    const size_t length = cbInput - 2;

    char text[96] = {};
    INTERRUPTS_OFF();
    if (status) {
        WRITE_REGISTER_ULONG(Flash(), kReadStatus);
    }
    bool known = Run(call, length, count, text, sizeof text);
    WRITE_REGISTER_ULONG(Flash(), kReadArray);
    INTERRUPTS_ON();
    if (!known) {
        return kFail;
    }

    auto produced = static_cast<DWORD>(std::strlen(text));
    auto* out = static_cast<BYTE*>(LocalAlloc(LPTR, produced));
    if (out == nullptr) {
        return kFail;
    }
    std::memcpy(out, text, produced);
    *pcbOutput = produced;
    *ppOutput = out;
    return kOk;
}
