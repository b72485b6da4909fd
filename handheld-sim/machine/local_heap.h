// LocalAlloc's heap, as the handheld's programs see it: fixed blocks only
// (LMEM_FIXED, optionally LMEM_ZEROINIT), no more in all than the RAM that
// the kernel and the reserved top leave; blocks asked for without
// LMEM_ZEROINIT hold leftovers (0xCD), not zeros. A restart frees every
// block: the programs that held them are gone. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace nuva::sim {

class LocalHeap {
  public:
    explicit LocalHeap(uint64_t limit) : limit_(limit) {}
    ~LocalHeap() { FreeAll(); }
    LocalHeap(const LocalHeap&) = delete;
    LocalHeap& operator=(const LocalHeap&) = delete;

    // nullptr when the flags ask for a movable block or the heap is full.
    void* Alloc(uint32_t flags, uint32_t bytes);
    bool Free(void* block);
    std::optional<uint32_t> Size(const void* block) const;
    // Whether [p, p + bytes) lies inside one block.
    bool Holds(const void* p, uint32_t bytes) const;
    void FreeAll();

  private:
    const uint64_t limit_;
    mutable std::mutex mu_;
    std::map<uintptr_t, uint32_t> blocks_;
    uint64_t bytes_ = 0;
};

}  // namespace nuva::sim
