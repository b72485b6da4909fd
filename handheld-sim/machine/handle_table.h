// The handles the handheld's programs hold: open files, the power driver
// "PWR1:" and registry keys, each a distinct non-null value that is valid
// until closed or until a restart. The predefined registry roots are not
// here: they are valid without being opened. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <variant>

#include "handheld-sim/store/object_store.h"
#include "platform/wince/wince.h"

namespace nuva::sim {

struct PowerDevice {};
using HandleObject = std::variant<OpenFile, PowerDevice>;

class HandleTable {
  public:
    HANDLE Add(HandleObject object);
    // Runs `body` on the object of `handle` under the table's lock; false
    // when the handle is not open.
    bool With(HANDLE handle, const std::function<void(HandleObject&)>& body);
    bool Close(HANDLE handle);
    HKEY AddKey(RegKey key);
    std::optional<RegKey> Key(HKEY key) const;
    bool CloseKey(HKEY key);
    // Every handle closed (a restart).
    void Clear();

  private:
    mutable std::mutex mu_;
    std::map<uintptr_t, HandleObject> handles_;
    std::map<uintptr_t, RegKey> keys_;
    uintptr_t next_ = 0x1000;
};

}  // namespace nuva::sim
