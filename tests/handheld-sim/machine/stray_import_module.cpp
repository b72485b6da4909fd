// A module that imports from the host's C library, as a handheld program
// would if its build let a call through unrenamed: the handheld import check
// must refuse it.
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) const char* StrayImport() {
    return std::getenv("HOME");
}
