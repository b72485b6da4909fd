#include "handheld-sim/machine/ram.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/wince/nuva_platform.h"

namespace nuva::sim {

Ram::Ram(uint32_t bytes, std::string* error) : bytes_(bytes) {
    fd_ = memfd_create("nuva-ram", MFD_CLOEXEC);
    if (fd_ < 0 || ftruncate(fd_, bytes) != 0) {
        if (error != nullptr) {
            *error = std::string("cannot make the handheld's RAM: ") + std::strerror(errno);
        }
        return;
    }
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
        if (error != nullptr) {
            *error = std::string("cannot map the handheld's RAM: ") + std::strerror(errno);
        }
        return;
    }
    base_ = static_cast<uint8_t*>(p);
    uint32_t frames = bytes / kPageBytes;
    used_.assign(frames, false);
    for (uint32_t f = 0; f < kKernelLowBytes / kPageBytes && f < frames; ++f) {
        used_[f] = true;
    }
    for (uint32_t f = (bytes - kReservedTopBytes) / kPageBytes; f < frames; ++f) {
        used_[f] = true;
    }
}

Ram::~Ram() {
    ReleaseAll();
    if (base_ != nullptr) {
        munmap(base_, bytes_);
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

void Ram::Clear() {
    // Shrinking the file drops every page; growing it again gives zero pages
    // to every mapping of the file at once.
    if (ftruncate(fd_, 0) != 0 || ftruncate(fd_, bytes_) != 0) {
        std::memset(base_, 0, bytes_);
    }
}

uint32_t Ram::FreeFrames() const {
    uint32_t n = 0;
    for (bool u : used_) {
        n += u ? 0 : 1;
    }
    return n;
}

bool Ram::PickFrames(uint32_t count, bool scattered, std::vector<int32_t>& frames) {
    frames.clear();
    if (count > FreeFrames()) {
        return false;
    }
    uint32_t total = static_cast<uint32_t>(used_.size());
    auto take = [&](uint32_t f) {
        used_[f] = true;
        frames.push_back(static_cast<int32_t>(f));
    };
    if (!scattered) {
        // First fit: the lowest run of free frames that is long enough.
        uint32_t run = 0;
        for (uint32_t f = 0; f < total; ++f) {
            run = used_[f] ? 0 : run + 1;
            if (run == count) {
                for (uint32_t g = f + 1 - count; g <= f; ++g) {
                    take(g);
                }
                return true;
            }
        }
    } else {
        // Every other free frame, so that no two pages are neighbours when
        // RAM allows it.
        bool skip = false;
        for (uint32_t f = 0; f < total && frames.size() < count; ++f) {
            if (!used_[f]) {
                if (!skip) {
                    take(f);
                }
                skip = !skip;
            }
        }
    }
    // No run long enough (or not enough every other frame): any free frames.
    for (uint32_t f = 0; f < total && frames.size() < count; ++f) {
        if (!used_[f]) {
            take(f);
        }
    }
    return true;
}

bool Ram::MapPages(uint8_t* host, const std::vector<int32_t>& frames, uint32_t first, uint32_t count) {
    uint32_t i = first;
    while (i < first + count) {
        uint32_t run = 1;
        while (i + run < first + count && frames[i + run] == frames[i] + static_cast<int32_t>(run)) {
            ++run;
        }
        void* p = mmap(host + static_cast<size_t>(i) * kPageBytes, static_cast<size_t>(run) * kPageBytes,
                       PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd_,
                       static_cast<off_t>(frames[i]) * kPageBytes);
        if (p == MAP_FAILED) {
            return false;
        }
        i += run;
    }
    return true;
}

RamError Ram::Allocate(uint32_t size, bool commit, void** host) {
    *host = nullptr;
    if (size == 0) {
        return RamError::kBadAddress;
    }
    uint32_t pages = static_cast<uint32_t>((static_cast<uint64_t>(size) + kPageBytes - 1) / kPageBytes);
    if (pages > used_.size()) {
        return RamError::kNoMemory;
    }
    size_t length = static_cast<size_t>(pages) * kPageBytes;
    void* p = mmap(nullptr, length, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) {
        return RamError::kNoMemory;
    }
    auto* start = static_cast<uint8_t*>(p);
    Region region;
    region.pages = pages;
    region.frames.assign(pages, -1);
    if (commit) {
        bool scattered = pages > 1 && fragmentCalls_ > 0;
        std::vector<int32_t> frames;
        if (!PickFrames(pages, scattered, frames)) {
            munmap(p, length);
            return RamError::kNoMemory;
        }
        if (scattered) {
            --fragmentCalls_;
        }
        region.frames = frames;
        if (!MapPages(start, region.frames, 0, pages)) {
            FreeRegionFrames(region, 0, pages);
            munmap(p, length);
            return RamError::kNoMemory;
        }
    }
    regions_.emplace(start, std::move(region));
    *host = start;
    return RamError::kNone;
}

void Ram::FreeRegionFrames(Region& region, uint32_t first, uint32_t count) {
    for (uint32_t i = first; i < first + count; ++i) {
        if (region.frames[i] >= 0) {
            used_[region.frames[i]] = false;
            region.frames[i] = -1;
        }
    }
}

RamError Ram::Release(void* host) {
    auto it = regions_.find(static_cast<uint8_t*>(host));
    if (it == regions_.end()) {
        return RamError::kBadAddress;
    }
    FreeRegionFrames(it->second, 0, it->second.pages);
    munmap(it->first, static_cast<size_t>(it->second.pages) * kPageBytes);
    regions_.erase(it);
    return RamError::kNone;
}

const Ram::Region* Ram::Find(const void* p, uint8_t** start) const {
    auto* b = static_cast<const uint8_t*>(p);
    auto it = regions_.upper_bound(const_cast<uint8_t*>(b));
    if (it == regions_.begin()) {
        return nullptr;
    }
    --it;
    if (b >= it->first + static_cast<size_t>(it->second.pages) * kPageBytes) {
        return nullptr;
    }
    *start = it->first;
    return &it->second;
}

RamError Ram::Decommit(void* host, uint32_t size) {
    uint8_t* start = nullptr;
    const Region* found = Find(host, &start);
    if (found == nullptr || size == 0) {
        return RamError::kBadAddress;
    }
    auto* b = static_cast<uint8_t*>(host);
    uint32_t first = static_cast<uint32_t>((b - start) / kPageBytes);
    uint64_t end = static_cast<uint64_t>(b - start) + size;
    uint32_t last = static_cast<uint32_t>((end + kPageBytes - 1) / kPageBytes);
    if (last > found->pages) {
        return RamError::kBadAddress;
    }
    Region& region = regions_.at(start);
    FreeRegionFrames(region, first, last - first);
    mmap(start + static_cast<size_t>(first) * kPageBytes, static_cast<size_t>(last - first) * kPageBytes,
         PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    return RamError::kNone;
}

RamError Ram::PhysicalPages(const void* host, uint32_t size, std::vector<uint32_t>& physical) const {
    physical.clear();
    uint8_t* start = nullptr;
    const Region* region = Find(host, &start);
    if (region == nullptr || size == 0) {
        return RamError::kBadAddress;
    }
    auto offset = static_cast<uint64_t>(static_cast<const uint8_t*>(host) - start);
    uint64_t first = offset / kPageBytes;
    uint64_t last = (offset + size + kPageBytes - 1) / kPageBytes;
    if (last > region->pages) {
        return RamError::kBadAddress;
    }
    for (uint64_t i = first; i < last; ++i) {
        if (region->frames[i] < 0) {
            physical.clear();
            return RamError::kNotCommitted;
        }
        physical.push_back(NUVA_RAM_PHYSICAL + static_cast<uint32_t>(region->frames[i]) * kPageBytes);
    }
    return RamError::kNone;
}

bool Ram::Committed(const void* p, uint32_t size) const {
    std::vector<uint32_t> physical;
    return PhysicalPages(p, size, physical) == RamError::kNone;
}

void Ram::ReleaseAll() {
    while (!regions_.empty()) {
        Release(regions_.begin()->first);
    }
}

}  // namespace nuva::sim
