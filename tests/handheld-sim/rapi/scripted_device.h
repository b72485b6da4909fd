// A handheld for the RAPI service whose link and export calls the test
// scripts, with a real file store behind it. The header stays free of the
// handheld's WinCE declarations so that tests can drive it through rapi.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "handheld-sim/store/object_store.h"
#include "platform/clock/clock.h"
#include "tests/support/eventually.h"

namespace nuva::sim {
class RapiDevice;
}

namespace nuva::sim::testing {

// What the handheld's export calls can end with besides the export's result.
inline constexpr int32_t kLinkDropped = static_cast<int32_t>(0x8007006D);
inline constexpr int32_t kLibraryNotFound = static_cast<int32_t>(0x8007007E);
inline constexpr int32_t kExportNotFound = static_cast<int32_t>(0x8007007F);

class ScriptedHandheld {
  public:
    using Export = std::function<int32_t(std::u16string_view library, std::u16string_view function,
                                         std::span<const uint8_t> input, std::vector<uint8_t>& output)>;

    ScriptedHandheld();
    ~ScriptedHandheld();

    RapiDevice& Device();
    // Plug/unplug, or a restart's drop: the link changes and the service hears it.
    void SetLink(bool available);
    // Without a script every call finds no library.
    void SetExport(Export script);
    FileStore& Files();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Runs `call` on its own thread; a hang fails the test instead of the run.
template <class F>
auto Within(std::chrono::seconds limit, F call) {
    auto future = std::async(std::launch::async, call);
    EXPECT_EQ(future.wait_for(limit), std::future_status::ready) << "the call hung";
    return future.get();
}

using nuva::testing::Eventually;

}  // namespace nuva::sim::testing
