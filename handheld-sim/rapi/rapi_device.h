// What the RAPI service needs of the handheld it serves: whether the link is
// up, the file store, export calls and the version and folder answers. The
// emulated handheld provides it (HandheldDevice); tests script their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/store/object_store.h"
#include "platform/cable/callback_ref.h"
#include "platform/wince/wince.h"

namespace nuva::sim {

class RapiDevice {
  public:
    virtual ~RapiDevice() = default;

    // Started, plugged and its cable drivers loaded.
    virtual bool LinkAvailable() const = 0;
    // Changes at every change of LinkAvailable(), so a restart that is over
    // before anyone looked still shows.
    virtual uint64_t LinkGeneration() const = 0;
    // Called with the new LinkAvailable() after every change (one listener).
    virtual void SetLinkListener(std::function<void(bool available)> listener) = 0;

    // Runs `use` with the handheld's file store held against the machine.
    virtual void WithFiles(cable::CallbackRef<void(FileStore& files)> use) = 0;

    // Loads the library from the handheld's file store and calls its export
    // in block mode: the export's HRESULT, or one of the kInvoke* results of
    // handheld.h (kInvokeLinkDropped when the handheld restarted or crashed
    // under the call).
    virtual HRESULT InvokeExport(std::u16string_view library, std::u16string_view function,
                                 std::span<const uint8_t> input, std::vector<uint8_t>& output,
                                 std::string* detail) = 0;

    virtual OSVERSIONINFOW OsVersion() const = 0;
    // The path of a special folder by its CSIDL number; nullopt when unknown.
    virtual std::optional<std::u16string> SpecialFolderPath(int csidl) const = 0;
};

// The emulated handheld as the service sees it. `handheld` must outlive it.
std::unique_ptr<RapiDevice> MakeHandheldDevice(Handheld& handheld);

}  // namespace nuva::sim
