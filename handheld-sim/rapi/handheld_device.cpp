// The emulated handheld behind the RAPI service.
#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/rapi/rapi_device.h"

namespace nuva::sim {

namespace {

constexpr int kCsidlStartup = 0x0007;

class HandheldDevice final : public RapiDevice {
  public:
    explicit HandheldDevice(Handheld& handheld) : handheld_(handheld) {}

    bool LinkAvailable() const override { return handheld_.LinkAvailable(); }
    uint64_t LinkGeneration() const override { return handheld_.LinkGeneration(); }
    void SetLinkListener(std::function<void(bool)> listener) override {
        handheld_.SetLinkListener(std::move(listener));
    }
    void WithFiles(cable::CallbackRef<void(FileStore&)> use) override {
        Handheld::StoreAccess store = handheld_.Store();
        use(store.Files());
    }
    HRESULT InvokeExport(std::u16string_view library, std::u16string_view function,
                         std::span<const uint8_t> input, std::vector<uint8_t>& output,
                         std::string* detail) override {
        return handheld_.InvokeExport(library, function, input, output, detail);
    }
    OSVERSIONINFOW OsVersion() const override { return handheld_.OsVersion(); }
    std::optional<std::u16string> SpecialFolderPath(int csidl) const override {
        if (csidl == kCsidlStartup) {
            return Handheld::SpecialFolder(u"startup");
        }
        return std::nullopt;
    }

  private:
    Handheld& handheld_;
};

}  // namespace

std::unique_ptr<RapiDevice> MakeHandheldDevice(Handheld& handheld) {
    return std::make_unique<HandheldDevice>(handheld);
}

}  // namespace nuva::sim
