// The handheld's RAM: 64 or 32 MB of 4 KB page frames at physical
// 0xA0000000, held in one anonymous shared memory file.
//
// The kernel's static windows (0x84000000 cached, 0xA4000000 uncached) reach
// the bytes through Bytes(). VirtualAlloc hands programs a contiguous host
// range whose pages are the chosen frames mapped one run at a time from the
// same file, so a program's pointer and the kernel windows see the same
// bytes, and LockPages can answer with the real frame of every page, which
// need not be contiguous.
//
// The frame allocator never hands out the kernel's low region nor the top of
// RAM (the reserved block and the area that receives the flasher's routines).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace nuva::sim {

inline constexpr uint32_t kPageBytes = 4096;
inline constexpr uint32_t kKernelLowBytes = 0x400000;   // kept for the kernel
inline constexpr uint32_t kReservedTopBytes = 0x40000;  // reserved block, flasher routines

enum class RamError { kNone, kNoMemory, kBadAddress, kNotCommitted };

class Ram {
  public:
    // Maps `bytes` of zeroed RAM; `error` is filled and Valid() is false when
    // the system refuses.
    Ram(uint32_t bytes, std::string* error);
    ~Ram();
    Ram(const Ram&) = delete;
    Ram& operator=(const Ram&) = delete;

    bool Valid() const { return base_ != nullptr; }
    uint32_t Size() const { return bytes_; }
    // The bytes as the kernel windows see them.
    uint8_t* Bytes() const { return base_; }

    // Every byte back to zero (a cold reset loses RAM). Regions stay mapped.
    void Clear();

    // Allocates `size` bytes (rounded up to pages) with fresh frames, or
    // reserves them without frames (`commit` false). Frames are contiguous
    // when a long enough free run exists, unless the fragmentation knob asks
    // for scattered frames.
    RamError Allocate(uint32_t size, bool commit, void** host);
    // MEM_RELEASE: the whole region that starts at `host`.
    RamError Release(void* host);
    // MEM_DECOMMIT: the pages of [host, host + size) give back their frames.
    RamError Decommit(void* host, uint32_t size);
    // The physical address of every page of [host, host + size) (page-rounded).
    RamError PhysicalPages(const void* host, uint32_t size, std::vector<uint32_t>& physical) const;
    // Whether [p, p + size) lies inside committed pages of one region.
    bool Committed(const void* p, uint32_t size) const;
    // Every region released (the programs that owned them are gone).
    void ReleaseAll();

    // The next `calls` allocations with more than one page get scattered frames.
    void Fragment(uint32_t calls) { fragmentCalls_ = calls; }
    uint32_t FreeFrames() const;

  private:
    struct Region {
        uint32_t pages = 0;
        std::vector<int32_t> frames;  // -1: page not committed
    };
    bool PickFrames(uint32_t count, bool scattered, std::vector<int32_t>& frames);
    bool MapPages(uint8_t* host, const std::vector<int32_t>& frames, uint32_t first, uint32_t count);
    void FreeRegionFrames(Region& region, uint32_t first, uint32_t count);
    const Region* Find(const void* p, uint8_t** start) const;

    int fd_ = -1;
    uint8_t* base_ = nullptr;
    uint32_t bytes_ = 0;
    std::vector<bool> used_;  // per frame
    std::map<uint8_t*, Region> regions_;
    uint32_t fragmentCalls_ = 0;
};

}  // namespace nuva::sim
