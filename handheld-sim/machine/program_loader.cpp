#include "handheld-sim/machine/program_loader.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "formats/le.h"

namespace nuva::sim {
namespace {

// The ELF fields the check reads, by their offsets in a 64-bit file.
constexpr size_t kElfHeaderBytes = 64;
constexpr size_t kProgramHeaderOffset = 0x20;  // e_phoff, 8 bytes
constexpr size_t kProgramHeaderSize = 0x36;    // e_phentsize, 2 bytes
constexpr size_t kProgramHeaderCount = 0x38;   // e_phnum, 2 bytes
constexpr size_t kProgramHeaderBytes = 56;     // what a 64-bit program header holds
constexpr size_t kSegmentOffset = 0x08;        // p_offset, 8 bytes
constexpr size_t kSegmentFileSize = 0x20;      // p_filesz, 8 bytes

uint64_t Le64(std::span<const uint8_t> bytes, size_t at) {
    return uint64_t{LoadLe32(bytes.data() + at)} | uint64_t{LoadLe32(bytes.data() + at + 4)} << 32;
}

// `offset` + `length` lies inside `size`, without overflowing.
bool Inside(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}

}  // namespace

bool IsWholeProgram(std::span<const uint8_t> bytes, std::string& error) {
    static constexpr uint8_t kMagic[] = {0x7F, 'E', 'L', 'F', 2 /* 64-bit */, 1 /* little-endian */};
    if (bytes.size() < kElfHeaderBytes || !std::equal(std::begin(kMagic), std::end(kMagic), bytes.begin())) {
        error = "not a program of this handheld";
        return false;
    }
    const uint64_t tableOffset = Le64(bytes, kProgramHeaderOffset);
    const uint16_t entrySize = LoadLe16(bytes.data() + kProgramHeaderSize);
    const uint16_t entries = LoadLe16(bytes.data() + kProgramHeaderCount);
    if (entries == 0 || entrySize < kProgramHeaderBytes ||
        !Inside(tableOffset, uint64_t{entrySize} * entries, bytes.size())) {
        error = "its program headers are missing or cut short";
        return false;
    }
    for (uint16_t i = 0; i < entries; ++i) {
        const size_t entry = static_cast<size_t>(tableOffset) + size_t{entrySize} * i;
        if (!Inside(Le64(bytes, entry + kSegmentOffset), Le64(bytes, entry + kSegmentFileSize),
                    bytes.size())) {
            error = "the file is cut short: a segment ends past its end";
            return false;
        }
    }
    return true;
}

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
    if (!IsWholeProgram(bytes, error)) {
        error = name + ": " + error;
        return false;
    }
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
