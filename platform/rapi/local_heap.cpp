// Fixed blocks only: a handle is the block's address, as LMEM_FIXED blocks are
// on Windows. Every block is tracked, so a pointer that is not one of ours is
// refused instead of being freed.
#include "platform/rapi/local_heap.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/rapi/rapi.h"

namespace nuva::rapi {
namespace {

struct Heap {
    std::mutex mutex;
    std::unordered_map<const void*, size_t> blocks;
};

Heap& TheHeap() {
    static Heap* heap = new Heap;  // outlives every static destructor that might free a block
    return *heap;
}

}  // namespace

bool LocalBlockSize(const void* block, size_t& size) {
    Heap& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    auto it = heap.blocks.find(block);
    if (it == heap.blocks.end()) {
        return false;
    }
    size = it->second;
    return true;
}

}  // namespace nuva::rapi

using nuva::rapi::TheHeap;

extern "C" {

HLOCAL LocalAlloc(UINT uFlags, size_t uBytes) {
    if ((uFlags & ~(LMEM_FIXED | LMEM_ZEROINIT)) != 0) {
        return nullptr;  // movable and discardable blocks are not offered
    }
    // A zero-byte block is still a distinct block with its own address.
    void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(uBytes == 0 ? 1 : uBytes, 1)
                                           : std::malloc(uBytes == 0 ? 1 : uBytes);
    if (block == nullptr) {
        return nullptr;
    }
    auto& heap = TheHeap();
    std::lock_guard lock(heap.mutex);
    heap.blocks.emplace(block, uBytes);
    return block;
}

LPVOID LocalLock(HLOCAL hMem) {
    size_t size = 0;
    return nuva::rapi::LocalBlockSize(hMem, size) ? hMem : nullptr;
}

// Fixed blocks are never locked, so there is nothing to unlock: Windows
// answers FALSE for them too.
BOOL LocalUnlock(HLOCAL) {
    return FALSE;
}

HLOCAL LocalHandle(LPCVOID pMem) {
    size_t size = 0;
    return nuva::rapi::LocalBlockSize(pMem, size) ? const_cast<void*>(pMem) : nullptr;
}

HLOCAL LocalFree(HLOCAL hMem) {
    if (hMem == nullptr) {
        return nullptr;
    }
    auto& heap = TheHeap();
    {
        std::lock_guard lock(heap.mutex);
        if (heap.blocks.erase(hMem) == 0) {
            return hMem;  // not a block of this heap: refused, as Windows returns the handle on failure
        }
    }
    std::free(hMem);
    return nullptr;
}

size_t LocalSize(HLOCAL hMem) {
    size_t size = 0;
    return nuva::rapi::LocalBlockSize(hMem, size) ? size : 0;
}

}  // extern "C"
