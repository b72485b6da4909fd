#include "agent/driver_cleanup.h"

#include "platform/wince/wince.h"

namespace nuva::agent {
namespace {

// Sub-keys of "Drivers\BuiltIn", removed in this order; the table ends with
// an empty slot.
constexpr char16_t kDriverKeys[][20] = {
    u"ExtConnDrv", u"FlshDrv", u"IrCOMM", u"IrDA", u"sdmmcloader", u"Serial", u"USB",
    u"WaveDev",    u"GSM610",  u"NDIS",   u"",
};
constexpr const char16_t* kBuiltInDrivers = u"Drivers\\BuiltIn";
constexpr const char16_t* kStorageAutoLoad = u"System\\StorageManager\\AutoLoad\\PSM";
constexpr DWORD kValueNameChars = 256;

// Deletes the values of an open key by deleting whatever value is first until
// none is left. A value that cannot be deleted would come first again for
// ever, so the first failed deletion ends the loop.
void DeleteAllValues(HKEY key) {
    for (;;) {
        WCHAR name[kValueNameChars] = {};
        DWORD nameChars = kValueNameChars;
        if (RegEnumValueW(key, 0, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return;
        }
        if (RegDeleteValueW(key, name) != ERROR_SUCCESS) {
            return;
        }
    }
}

}  // namespace

void DriverCleanup() {
    HKEY builtIn = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBuiltInDrivers, 0, 0, &builtIn) == ERROR_SUCCESS) {
        for (const auto& slot : kDriverKeys) {
            if (slot[0] == u'\0') {
                break;
            }
            HKEY driver = nullptr;
            if (RegOpenKeyExW(builtIn, slot, 0, 0, &driver) != ERROR_SUCCESS) {
                continue;
            }
            DeleteAllValues(driver);
            RegCloseKey(driver);
            RegDeleteKeyW(builtIn, slot);
        }
        RegCloseKey(builtIn);
    }

    HKEY storage = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kStorageAutoLoad, 0, 0, &storage) == ERROR_SUCCESS) {
        DeleteAllValues(storage);
        RegCloseKey(storage);
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kStorageAutoLoad);
}

}  // namespace nuva::agent
