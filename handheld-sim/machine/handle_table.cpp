#include "handheld-sim/machine/handle_table.h"

namespace nuva::sim {

HANDLE HandleTable::Add(HandleObject object) {
    std::lock_guard<std::mutex> lock(mu_);
    uintptr_t handle = next_;
    next_ += 4;
    handles_.emplace(handle, std::move(object));
    return reinterpret_cast<HANDLE>(handle);
}

bool HandleTable::With(HANDLE handle, const std::function<void(HandleObject&)>& body) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles_.end()) {
        return false;
    }
    body(it->second);
    return true;
}

bool HandleTable::Close(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mu_);
    return handles_.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

HKEY HandleTable::AddKey(RegKey key) {
    std::lock_guard<std::mutex> lock(mu_);
    uintptr_t handle = next_;
    next_ += 4;
    keys_.emplace(handle, std::move(key));
    return reinterpret_cast<HKEY>(handle);
}

std::optional<RegKey> HandleTable::Key(HKEY key) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = keys_.find(reinterpret_cast<uintptr_t>(key));
    if (it == keys_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool HandleTable::CloseKey(HKEY key) {
    std::lock_guard<std::mutex> lock(mu_);
    return keys_.erase(reinterpret_cast<uintptr_t>(key)) == 1;
}

void HandleTable::Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    handles_.clear();
    keys_.clear();
}

}  // namespace nuva::sim
