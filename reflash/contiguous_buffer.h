// The search for buffer 0: a RAM buffer whose pages are physically
// contiguous, so that the flash routines can read it through the kernel's
// static mapping while interrupts are masked.
//
// The operating system gives no such guarantee, so the search allocates and
// locks a buffer, asks for the page frame of every page and keeps it when
// the frames follow each other. A rejected buffer stays allocated and locked
// while the search goes on, so that the next allocation gets other frames.
// At most kMaxRejectedBuffers are held: RAM is gone long before that many
// megabytes are, and once the table of rejected buffers is full another
// attempt could only be given the frames just handed back. So a rejection
// beyond that number ends the search without a buffer, every rejected buffer
// is released, and the flasher restarts the handheld (which starts with RAM
// laid out afresh). Every rejected buffer is released when the search ends,
// whatever its outcome.
#pragma once

#include <cstdint>

namespace nuva::reflash {

inline constexpr uint32_t kMaxRejectedBuffers = 64;

// The memory functions the search uses (VirtualAlloc, LockPages,
// UnlockPages, VirtualFree on the handheld).
class PageSource {
  public:
    virtual ~PageSource() = default;
    // Reserves and commits `bytes` (read-write, uncached); null when refused.
    virtual void* Commit(uint32_t bytes) = 0;
    // Locks the pages and stores the physical address of each in `frames`.
    virtual bool Lock(void* address, uint32_t bytes, uint32_t* frames) = 0;
    virtual void Unlock(void* address, uint32_t bytes) = 0;
    virtual void Release(void* address) = 0;
};

enum class ContiguousError {
    kNone,
    kPageSize,         // the page size is not a power of two of at least 1 KB
    kCommitFailed,     // an allocation was refused
    kLockFailed,       // the pages of an allocation could not be locked
    kTooManyRejected,  // more than kMaxRejectedBuffers allocations were not contiguous
};

struct ContiguousBuffer {
    void* address = nullptr;  // as the allocation returned it; stays locked
    uint32_t physical = 0;    // physical address of its first byte
    uint32_t rejected = 0;    // buffers turned down on the way
};

// log2 of a page size of at least 1 KB, or -1.
int PageShift(uint32_t pageSize);
// ceil(bytes / pageSize), for the caller's frame array.
uint32_t PagesSpanned(uint32_t bytes, uint32_t pageSize);

// `frames` has room for PagesSpanned(bytes, pageSize) entries.
ContiguousError FindContiguousBuffer(PageSource& pages, uint32_t bytes, uint32_t pageSize, uint32_t* frames,
                                     ContiguousBuffer* out);

}  // namespace nuva::reflash
