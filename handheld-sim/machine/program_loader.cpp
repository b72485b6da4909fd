#include "handheld-sim/machine/program_loader.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace nuva::sim {

LoadedModule::~LoadedModule() {
    Unload();
}

LoadedModule::LoadedModule(LoadedModule&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), fd_(std::exchange(other.fd_, -1)) {}

LoadedModule& LoadedModule::operator=(LoadedModule&& other) noexcept {
    if (this != &other) {
        Unload();
        handle_ = std::exchange(other.handle_, nullptr);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool LoadedModule::Load(std::span<const uint8_t> bytes, const std::string& name, std::string& error) {
    Unload();
    int fd = memfd_create(name.c_str(), MFD_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot make a memory file: ") + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            error = std::string("cannot fill a memory file: ") + std::strerror(errno);
            close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    // The memory file stays open while the module is loaded: the loader knows
    // a loaded object by its file, and this file must not be taken for
    // another while this one lives.
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        error = why != nullptr ? why : "the file does not load";
        // The loader names the memory file by its descriptor path; name the
        // program instead.
        for (size_t at = error.find(path); at != std::string::npos; at = error.find(path)) {
            error.replace(at, path.size(), name);
        }
        close(fd);
        return false;
    }
    handle_ = handle;
    fd_ = fd;
    return true;
}

void* LoadedModule::Symbol(const char* name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void LoadedModule::Unload() {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

}  // namespace nuva::sim
