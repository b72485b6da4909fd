// The object store of a factory-new handheld: what a cold start restores.
#include <string>

#include "handheld-sim/store/object_store.h"

namespace nuva::sim {
namespace {

struct BuiltInDriver {
    const char16_t* key;
    const char16_t* dll;
    const char16_t* prefix;
    uint32_t index;
    uint32_t order;
};

// The built-in stream drivers the device manager loads at start. Without
// "Serial" and "USB" the handheld has no cable link; "PowerManager" is the
// power driver ("PWR1:") that the platform's requests go through.
constexpr BuiltInDriver kDrivers[] = {
    {u"ExtConnDrv", u"extconn.dll", u"EXT", 1, 25},
    {u"FlshDrv", u"flashdrv.dll", u"DSK", 1, 2},
    {u"IrCOMM", u"ircomm.dll", u"COM", 3, 30},
    {u"IrDA", u"irsir.dll", u"IRS", 1, 28},
    {u"sdmmcloader", u"sdmmcldr.dll", u"SDL", 1, 22},
    {u"Serial", u"serial.dll", u"COM", 1, 10},
    {u"USB", u"usbfn.dll", u"UFN", 1, 12},
    {u"WaveDev", u"wavedev.dll", u"WAV", 1, 15},
    {u"GSM610", u"gsm610.dll", u"ACM", 1, 40},
    {u"NDIS", u"ndis.dll", u"NDS", 0, 20},
    {u"Battery", u"battdrvr.dll", u"BAT", 1, 1},
    {u"PowerManager", u"pm.dll", u"PWR", 1, 0},
};

// A Pocket PC shortcut file: the length of the command, "#", the command.
std::string Shortcut(const std::string& target) {
    return std::to_string(target.size()) + "#" + target;
}

}  // namespace

void ResetToFactory(ObjectStore& store) {
    // Built without a limit (every parent before its children, so nothing
    // here can fail), then given the store's own capacity.
    ObjectStore fresh(UINT64_MAX);
    FileStore& files = fresh.files;
    files.CreateDirectory(u"\\Windows");
    files.CreateDirectory(kStartupFolder);
    files.CreateDirectory(u"\\TEMP");
    files.CreateDirectory(u"\\My Documents");
    std::u16string startup(kStartupFolder);
    files.Put(startup + u"\\poutlook.lnk", Shortcut("\\Windows\\poutlook.exe"));
    files.Put(startup + u"\\Welcome.lnk", Shortcut("\\Windows\\welcome.exe"));

    Registry& reg = fresh.registry;
    RegKey machine = reg.Root(RegRoot::kLocalMachine);
    RegKey builtIn;
    reg.CreateKey(machine, kBuiltInDriversKey, &builtIn);
    for (const auto& driver : kDrivers) {
        RegKey key;
        reg.CreateKey(builtIn, driver.key, &key);
        reg.SetString(key, u"Dll", driver.dll);
        reg.SetString(key, u"Prefix", driver.prefix);
        reg.SetDword(key, u"Index", driver.index);
        reg.SetDword(key, u"Order", driver.order);
    }
    RegKey psm;
    reg.CreateKey(machine, kPsmAutoLoadKey, &psm);
    reg.SetString(psm, u"DriverPath", u"Drivers\\BuiltIn\\FlshDrv");
    reg.SetDword(psm, u"LoadFlags", 1);
    reg.SetDword(psm, u"BootPhase", 0);
    RegKey owner;
    reg.CreateKey(reg.Root(RegRoot::kCurrentUser), u"ControlPanel\\Owner", &owner);
    reg.SetString(owner, u"Name", u"");

    files.SetCapacity(store.files.Capacity());
    store.files.ReplaceContents(fresh.files);
    store.registry.ReplaceContents(fresh.registry);
}

std::unique_ptr<ObjectStore> MakeFactoryStore(uint64_t capacity) {
    auto store = std::make_unique<ObjectStore>(capacity);
    ResetToFactory(*store);
    return store;
}

}  // namespace nuva::sim
