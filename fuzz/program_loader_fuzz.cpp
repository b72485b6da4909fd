// The handheld's check of a program or library file before it maps the file:
// the bytes come from the handheld's file store, where the desktop (or
// anybody with a cable) put them, and a file the check lets through is mapped
// segment by segment straight from those bytes. Only the check runs here; the
// loading itself is the system's dynamic loader at work on a file that passed.
//
// Input: the file's bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "handheld-sim/machine/program_loader.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "program_loader_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const bool whole = nuva::sim::IsWholeProgram(std::span<const uint8_t>(data, size), error);
    if (whole) {
        // A 64-bit little-endian ELF header is 64 bytes and starts with its
        // magic; nothing shorter or different may be mapped.
        if (size < 64 || data[0] != 0x7F || data[1] != 'E' || data[2] != 'L' || data[3] != 'F' ||
            data[4] != 2 || data[5] != 1 || !error.empty()) {
            Fail("a file that is no program of this handheld passed as whole");
        }
    } else if (error.empty()) {
        Fail("a file was refused without a reason");
    }
    return 0;
}
