#include <gtest/gtest.h>

#include "formats/le.h"
#include "formats/text_encoding.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::sim {
namespace {

using namespace store_error;

std::u16string StringValue(const RegValue& value) {
    std::u16string text;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        char16_t c = LoadLe16(value.data.data() + i);
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return text;
}

// The agent's clean-up before a restart, done the way it does it: per
// driver, open the sub-key, enumerate value 0 and delete it until the
// enumeration fails, close, delete the sub-key; then the PSM auto-load key.
void RemoveDrivers(Registry& reg, std::initializer_list<std::u16string_view> names) {
    RegKey builtIn;
    ASSERT_EQ(reg.OpenKey(reg.Root(RegRoot::kLocalMachine), kBuiltInDriversKey, &builtIn), kSuccess);
    for (auto name : names) {
        RegKey driver;
        if (reg.OpenKey(builtIn, name, &driver) != kSuccess) {
            continue;
        }
        RegValue value;
        int rounds = 0;
        while (reg.EnumValue(driver, 0, &value) == kSuccess) {
            ASSERT_EQ(reg.DeleteValue(driver, value.name), kSuccess);
            ASSERT_LT(++rounds, 100) << "the enumeration never ends";
        }
        EXPECT_EQ(reg.EnumValue(driver, 0, &value), kNoMoreItems);
        driver.Reset();
        EXPECT_EQ(reg.DeleteKey(builtIn, name), kSuccess);
    }
}

TEST(Registry, KeysAndValuesMatchWithoutCaseInCreationOrder) {
    Registry reg;
    RegKey machine = reg.Root(RegRoot::kLocalMachine);
    RegKey key;
    bool created = false;
    ASSERT_EQ(reg.CreateKey(machine, u"Drivers\\BuiltIn\\Serial", &key, &created), kSuccess);
    EXPECT_TRUE(created);
    ASSERT_EQ(reg.CreateKey(machine, u"DRIVERS\\builtin\\SERIAL", &key, &created), kSuccess);
    EXPECT_FALSE(created);
    ASSERT_EQ(reg.SetString(key, u"Dll", u"serial.dll"), kSuccess);
    ASSERT_EQ(reg.SetDword(key, u"Index", 1), kSuccess);
    ASSERT_EQ(reg.SetDword(key, u"Order", 10), kSuccess);
    // Setting an existing value (in another spelling) keeps its place and name.
    ASSERT_EQ(reg.SetDword(key, u"INDEX", 2), kSuccess);

    RegValue value;
    ASSERT_EQ(reg.EnumValue(key, 0, &value), kSuccess);
    EXPECT_EQ(value.name, u"Dll");
    EXPECT_EQ(value.type, kRegSz);
    EXPECT_EQ(StringValue(value), u"serial.dll");
    EXPECT_EQ(value.data.size(), 22u);  // with the terminating zero
    ASSERT_EQ(reg.EnumValue(key, 1, &value), kSuccess);
    EXPECT_EQ(value.name, u"Index");
    ASSERT_EQ(value.data.size(), 4u);
    EXPECT_EQ(LoadLe32(value.data.data()), 2u);
    ASSERT_EQ(reg.EnumValue(key, 2, &value), kSuccess);
    EXPECT_EQ(value.name, u"Order");
    EXPECT_EQ(reg.EnumValue(key, 3, &value), kNoMoreItems);
    ASSERT_EQ(reg.QueryValue(key, u"dll", &value), kSuccess);
    EXPECT_EQ(StringValue(value), u"serial.dll");
    EXPECT_EQ(reg.QueryValue(key, u"Prefix", &value), kFileNotFound);
    EXPECT_EQ(reg.DeleteValue(key, u"Prefix"), kFileNotFound);

    RegKey opened;
    EXPECT_EQ(reg.OpenKey(machine, u"drivers\\BUILTIN\\serial", &opened), kSuccess);
    EXPECT_EQ(reg.OpenKey(machine, u"Drivers\\BuiltIn\\USB", &opened), kFileNotFound);
    EXPECT_EQ(reg.OpenKey(machine, u"Drivers\\\\BuiltIn", &opened), kInvalidParameter);
    EXPECT_EQ(reg.OpenKey(machine, std::u16string(256, u'k'), &opened), kInvalidParameter);
    // The two roots are separate trees.
    EXPECT_FALSE(reg.KeyExists(RegRoot::kCurrentUser, u"Drivers"));
    EXPECT_TRUE(reg.KeyExists(RegRoot::kLocalMachine, u"Drivers\\BuiltIn"));

    std::u16string name;
    RegKey drivers;
    ASSERT_EQ(reg.CreateKey(machine, u"Drivers\\BuiltIn\\Battery", &drivers), kSuccess);
    ASSERT_EQ(reg.OpenKey(machine, u"Drivers\\BuiltIn", &drivers), kSuccess);
    ASSERT_EQ(reg.EnumKey(drivers, 0, &name), kSuccess);
    EXPECT_EQ(name, u"Serial");
    ASSERT_EQ(reg.EnumKey(drivers, 1, &name), kSuccess);
    EXPECT_EQ(name, u"Battery");
    EXPECT_EQ(reg.EnumKey(drivers, 2, &name), kNoMoreItems);

    // Handles that are not handles of this registry.
    Registry other;
    EXPECT_EQ(reg.SetDword(RegKey(), u"x", 1), kInvalidHandle);
    EXPECT_EQ(reg.SetDword(other.Root(RegRoot::kLocalMachine), u"x", 1), kInvalidHandle);
}

TEST(Registry, DeletingKeysIsRecursiveAndKillsTheirHandles) {
    Registry reg;
    RegKey machine = reg.Root(RegRoot::kLocalMachine);
    RegKey psm;
    RegKey below;
    ASSERT_EQ(reg.CreateKey(machine, u"System\\StorageManager\\AutoLoad\\PSM", &psm), kSuccess);
    ASSERT_EQ(reg.CreateKey(psm, u"Sub\\Deeper", &below), kSuccess);
    ASSERT_EQ(reg.SetDword(psm, u"LoadFlags", 1), kSuccess);

    EXPECT_EQ(reg.DeleteKey(machine, u"System\\StorageManager\\AutoLoad\\psm"), kSuccess);
    EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine, u"System\\StorageManager\\AutoLoad\\PSM"));
    EXPECT_TRUE(reg.KeyExists(RegRoot::kLocalMachine, u"System\\StorageManager\\AutoLoad"));
    // Handles to the deleted key and to keys under it are dead.
    RegValue value;
    EXPECT_EQ(reg.QueryValue(psm, u"LoadFlags", &value), kKeyDeleted);
    EXPECT_EQ(reg.SetDword(psm, u"LoadFlags", 2), kKeyDeleted);
    EXPECT_EQ(reg.EnumValue(below, 0, &value), kKeyDeleted);
    EXPECT_EQ(reg.CreateKey(below, u"New", nullptr), kKeyDeleted);
    // Creating the key again makes a new, empty key; the old handle stays dead.
    RegKey again;
    ASSERT_EQ(reg.CreateKey(machine, u"System\\StorageManager\\AutoLoad\\PSM", &again), kSuccess);
    EXPECT_EQ(reg.EnumValue(again, 0, &value), kNoMoreItems);
    EXPECT_EQ(reg.QueryValue(psm, u"LoadFlags", &value), kKeyDeleted);

    EXPECT_EQ(reg.DeleteKey(machine, u"System\\Nothing"), kFileNotFound);
    EXPECT_EQ(reg.DeleteKey(machine, u"Nothing\\At\\All"), kFileNotFound);
    EXPECT_EQ(reg.DeleteKey(machine, u""), kInvalidParameter);
    EXPECT_EQ(reg.DeleteKey(psm, u"Sub"), kKeyDeleted);

    // Keys nest only so deep.
    std::u16string deep;
    for (int i = 0; i < 600; ++i) {
        deep += i == 0 ? u"k" : u"\\k";
    }
    EXPECT_EQ(reg.CreateKey(machine, deep, nullptr), kInvalidParameter);
    EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine, u"k"));
}

TEST(Registry, FactoryDriverCleanupLeavesOnlyTheKeysItDoesNotName) {
    auto store = MakeFactoryStore();
    Registry& reg = store->registry;
    const std::initializer_list<std::u16string_view> removed = {
        u"ExtConnDrv", u"FlshDrv", u"IrCOMM",  u"IrDA",   u"sdmmcloader",
        u"Serial",     u"USB",     u"WaveDev", u"GSM610", u"NDIS"};
    RegKey builtIn;
    ASSERT_EQ(reg.OpenKey(reg.Root(RegRoot::kLocalMachine), kBuiltInDriversKey, &builtIn), kSuccess);
    for (auto name : removed) {
        RegKey driver;
        ASSERT_EQ(reg.OpenKey(builtIn, name, &driver), kSuccess) << Utf8FromUtf16(name);
        RegValue value;
        for (const char16_t* field : {u"Dll", u"Prefix", u"Index", u"Order"}) {
            EXPECT_EQ(reg.QueryValue(driver, field, &value), kSuccess)
                << Utf8FromUtf16(name) << " " << Utf8FromUtf16(field);
        }
    }
    RegKey psm;
    RegValue psmValue;
    ASSERT_EQ(reg.OpenKey(reg.Root(RegRoot::kLocalMachine), kPsmAutoLoadKey, &psm), kSuccess);
    EXPECT_EQ(reg.EnumValue(psm, 0, &psmValue), kSuccess);

    RemoveDrivers(reg, removed);
    // Run twice, as the agent does: the second pass finds nothing to do.
    RemoveDrivers(reg, removed);
    for (auto name : removed) {
        EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine,
                                   std::u16string(kBuiltInDriversKey) + u"\\" + std::u16string(name)))
            << Utf8FromUtf16(name);
    }
    EXPECT_TRUE(reg.KeyExists(RegRoot::kLocalMachine, u"Drivers\\BuiltIn\\Battery"));
    EXPECT_TRUE(reg.KeyExists(RegRoot::kLocalMachine, u"Drivers\\BuiltIn\\PowerManager"));

    ASSERT_EQ(reg.DeleteKey(reg.Root(RegRoot::kLocalMachine), kPsmAutoLoadKey), kSuccess);
    EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine, kPsmAutoLoadKey));
    EXPECT_EQ(reg.EnumValue(psm, 0, &psmValue), kKeyDeleted);
}

TEST(FactoryStore, HoldsTheFoldersShortcutsAndKeysOfANewHandheldAndComesBack) {
    auto store = MakeFactoryStore(1234567);
    FileStore& files = store->files;
    for (const char16_t* folder : {u"\\Windows", u"\\Windows\\StartUp", u"\\TEMP", u"\\My Documents"}) {
        EntryInfo info;
        ASSERT_EQ(files.Stat(folder, &info), kSuccess) << Utf8FromUtf16(folder);
        EXPECT_TRUE(info.folder);
    }
    std::vector<uint8_t> data;
    ASSERT_EQ(files.Get(u"\\Windows\\StartUp\\poutlook.lnk", &data), kSuccess);
    EXPECT_EQ(std::string(data.begin(), data.end()), "21#\\Windows\\poutlook.exe");
    ASSERT_EQ(files.Get(u"\\Windows\\StartUp\\Welcome.lnk", &data), kSuccess);
    EXPECT_EQ(std::string(data.begin(), data.end()), "20#\\Windows\\welcome.exe");
    EXPECT_EQ(files.Capacity(), 1234567u);

    // What an update leaves, then a cold start.
    ASSERT_EQ(files.Delete(u"\\Windows\\StartUp\\poutlook.lnk"), kSuccess);
    ASSERT_EQ(files.Put(u"\\Windows\\StartUp\\Reflash.exe", "flasher"), kSuccess);
    ASSERT_EQ(files.Put(u"\\TEMP\\0", std::string(1000, 'p')), kSuccess);
    ASSERT_EQ(
        store->registry.DeleteKey(store->registry.Root(RegRoot::kLocalMachine), u"Drivers\\BuiltIn\\USB"),
        kSuccess);
    OpenResult held = files.Open(u"\\TEMP\\0", kAccessRead, 0, Disposition::kOpenExisting);
    ASSERT_TRUE(held.ok());
    ResetToFactory(*store);

    EXPECT_FALSE(held.file.IsOpen());
    EXPECT_EQ(files.Stat(u"\\TEMP\\0", nullptr), kFileNotFound);
    EXPECT_EQ(files.Stat(u"\\Windows\\StartUp\\Reflash.exe", nullptr), kFileNotFound);
    EXPECT_EQ(files.Stat(u"\\Windows\\StartUp\\poutlook.lnk", nullptr), kSuccess);
    EXPECT_TRUE(store->registry.KeyExists(RegRoot::kLocalMachine, u"Drivers\\BuiltIn\\USB"));
    EXPECT_EQ(files.Capacity(), 1234567u);
    EXPECT_EQ(files.UsedBytes(), 24u + 23u);
}

}  // namespace
}  // namespace nuva::sim
