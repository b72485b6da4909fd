#include "tests/handheld-sim/rapi/scripted_device.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "handheld-sim/rapi/rapi_device.h"

namespace nuva::sim::testing {

struct ScriptedHandheld::Impl final : RapiDevice {
    bool LinkAvailable() const override { return available; }
    uint64_t LinkGeneration() const override { return generation; }
    void SetLinkListener(std::function<void(bool)> l) override {
        std::lock_guard lock(mutex);
        listener = std::move(l);
    }
    void WithFiles(cable::CallbackRef<void(FileStore&)> use) override {
        std::lock_guard lock(filesMutex);
        use(files);
    }
    HRESULT InvokeExport(std::u16string_view library, std::u16string_view function,
                         std::span<const uint8_t> input, std::vector<uint8_t>& output,
                         std::string* detail) override {
        Export script;
        {
            std::lock_guard lock(mutex);
            script = exportScript;
        }
        if (!script) {
            if (detail != nullptr) {
                *detail = "no such library";
            }
            return kInvokeLibraryNotFound;
        }
        return script(library, function, input, output);
    }
    OSVERSIONINFOW OsVersion() const override {
        OSVERSIONINFOW v{};
        v.dwOSVersionInfoSize = sizeof v;
        v.dwMajorVersion = 4;
        v.dwMinorVersion = 20;
        v.dwBuildNumber = 14053;
        v.dwPlatformId = 3;
        const char16_t text[] = u"Pocket PC 2003";
        std::copy(std::begin(text), std::end(text), v.szCSDVersion);
        return v;
    }
    std::optional<std::u16string> SpecialFolderPath(int csidl) const override {
        if (csidl == 7) {
            return u"\\Windows\\StartUp";
        }
        return std::nullopt;
    }

    std::mutex mutex;
    std::mutex filesMutex;
    std::atomic<bool> available{true};
    std::atomic<uint64_t> generation{1};
    std::function<void(bool)> listener;
    Export exportScript;
    FileStore files;
};

ScriptedHandheld::ScriptedHandheld() : impl_(std::make_unique<Impl>()) {}
ScriptedHandheld::~ScriptedHandheld() = default;

RapiDevice& ScriptedHandheld::Device() {
    return *impl_;
}

void ScriptedHandheld::SetLink(bool available) {
    std::function<void(bool)> listener;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->available = available;
        ++impl_->generation;
        listener = impl_->listener;
    }
    if (listener) {
        listener(available);
    }
}

void ScriptedHandheld::SetExport(Export script) {
    std::lock_guard lock(impl_->mutex);
    impl_->exportScript = std::move(script);
}

FileStore& ScriptedHandheld::Files() {
    return impl_->files;
}

}  // namespace nuva::sim::testing
