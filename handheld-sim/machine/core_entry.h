// The entry of the core library's functions, shared by the files that
// define them (coredll.cpp, core_runtime.cpp): the machine of the calling
// handheld thread, after the checks every core call makes.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "handheld-sim/machine/machine.h"

namespace nuva::sim::core {

struct Core {
    Machine& machine;
    const HandheldThread& self;
};

// A core function called on a thread that is not the handheld's: a bug of
// the emulator, not of the program.
[[noreturn]] inline void OutsideHandheld(const char* name) {
    std::fprintf(stderr, "nuva handheld: %s called on a thread that does not belong to a handheld\n", name);
    std::abort();
}

// Entry of every core library function except the register accessors and
// the interrupt mask: ends the calling thread when the machine stopped it,
// and crashes the handheld, naming `name`, when the OS could not run from
// flash (a chip not in read-array mode).
inline Core Enter(const char* name) {
    HandheldThread* self = CurrentThread();
    if (self == nullptr) {
        OutsideHandheld(name);
    }
    self->machine->EnterCore(*self, name);
    return {*self->machine, *self};
}

}  // namespace nuva::sim::core
