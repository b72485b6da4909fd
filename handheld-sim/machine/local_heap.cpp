#include "handheld-sim/machine/local_heap.h"

#include <cstdlib>
#include <cstring>

#include "platform/wince/wince.h"

namespace nuva::sim {

void* LocalHeap::Alloc(uint32_t flags, uint32_t bytes) {
    if ((flags & ~LMEM_ZEROINIT) != 0) {
        return nullptr;  // only fixed blocks exist on this platform
    }
    std::lock_guard<std::mutex> lock(mu_);
    if (bytes_ + bytes > limit_) {
        return nullptr;
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr) {
        return nullptr;
    }
    // Leftovers, not zeros, so that code relying on zeros it did not ask for
    // shows itself.
    std::memset(block, (flags & LMEM_ZEROINIT) != 0 ? 0x00 : 0xCD, bytes);
    blocks_.emplace(reinterpret_cast<uintptr_t>(block), bytes);
    bytes_ += bytes;
    return block;
}

void LocalHeap::FreeAll() {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& [block, size] : blocks_) {
        std::free(reinterpret_cast<void*>(block));
    }
    blocks_.clear();
    bytes_ = 0;
}

bool LocalHeap::Free(void* block) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = blocks_.find(reinterpret_cast<uintptr_t>(block));
    if (it == blocks_.end()) {
        return false;
    }
    bytes_ -= it->second;
    blocks_.erase(it);
    std::free(block);
    return true;
}

std::optional<uint32_t> LocalHeap::Size(const void* block) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = blocks_.find(reinterpret_cast<uintptr_t>(block));
    if (it == blocks_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool LocalHeap::Holds(const void* p, uint32_t bytes) const {
    auto address = reinterpret_cast<uintptr_t>(p);
    std::lock_guard<std::mutex> lock(mu_);
    auto it = blocks_.upper_bound(address);
    if (it == blocks_.begin()) {
        return false;
    }
    --it;
    return address >= it->first && address - it->first <= it->second &&
           bytes <= it->second - (address - it->first);
}

}  // namespace nuva::sim
