#include <gtest/gtest.h>

#include <random>

#include "formats/byte_sum.h"
#include "formats/le.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::sim {
namespace {

using namespace store_error;

// A factory store after some use: binary files, a nested folder, values of
// every kind including an empty name, an empty key, both roots.
std::unique_ptr<ObjectStore> UsedStore() {
    auto store = MakeFactoryStore(5'000'000);
    FileStore& files = store->files;
    std::vector<uint8_t> binary(70000);
    for (size_t i = 0; i < binary.size(); ++i) {
        binary[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    }
    EXPECT_EQ(files.Put(u"\\TEMP\\0", binary), kSuccess);
    EXPECT_EQ(files.Put(u"\\TEMP\\empty", ""), kSuccess);
    EXPECT_EQ(files.CreateDirectory(u"\\My Documents\\Caf\u00e9"), kSuccess);
    EXPECT_EQ(files.Put(u"\\My Documents\\Caf\u00e9\\Notes.TXT", "notes"), kSuccess);
    Registry& reg = store->registry;
    RegKey key;
    EXPECT_EQ(reg.CreateKey(reg.Root(RegRoot::kCurrentUser), u"Software\\Nuva\\Empty", &key), kSuccess);
    EXPECT_EQ(reg.CreateKey(reg.Root(RegRoot::kCurrentUser), u"Software\\Nuva", &key), kSuccess);
    EXPECT_EQ(reg.SetValue(key, u"", kRegBinary, std::vector<uint8_t>{1, 2, 3}), kSuccess);
    EXPECT_EQ(reg.SetValue(key, u"none", kRegNone, {}), kSuccess);
    EXPECT_EQ(reg.SetDword(reg.Root(RegRoot::kLocalMachine), u"AtRoot", 7), kSuccess);
    EXPECT_EQ(reg.DeleteKey(reg.Root(RegRoot::kLocalMachine), u"Drivers\\BuiltIn\\Serial"), kSuccess);
    return store;
}

void FixSum(std::vector<uint8_t>& blob) {
    StoreLe32(blob.data() + blob.size() - 4, ByteSum(blob.data(), blob.size() - 4));
}

TEST(StoreBlob, RoundTripKeepsEveryFileFolderKeyAndValue) {
    auto original = UsedStore();
    std::vector<uint8_t> blob = SaveStore(*original);

    ObjectStore loaded;
    OpenResult stale = loaded.files.Open(u"\\stale", kAccessWrite, 0, Disposition::kCreateNew);
    ASSERT_TRUE(stale.ok());
    std::string error;
    ASSERT_TRUE(LoadStore(blob, loaded, &error)) << error;
    EXPECT_FALSE(stale.file.IsOpen());
    // Saved again, the loaded store gives the very same bytes: nothing was
    // lost, reordered or added.
    EXPECT_EQ(SaveStore(loaded), blob);

    EXPECT_EQ(loaded.files.Capacity(), 5'000'000u);
    EXPECT_EQ(loaded.files.UsedBytes(), original->files.UsedBytes());
    std::vector<uint8_t> a, b;
    ASSERT_EQ(original->files.Get(u"\\TEMP\\0", &a), kSuccess);
    ASSERT_EQ(loaded.files.Get(u"\\temp\\0", &b), kSuccess);
    EXPECT_EQ(a, b);
    EntryInfo info;
    ASSERT_EQ(loaded.files.Stat(u"\\my documents\\CAF\u00c9\\notes.txt", &info), kSuccess);
    EXPECT_EQ(info.name, u"Notes.TXT");
    EXPECT_EQ(loaded.files.Stat(u"\\stale", nullptr), kFileNotFound);

    Registry& reg = loaded.registry;
    EXPECT_TRUE(reg.KeyExists(RegRoot::kCurrentUser, u"Software\\Nuva\\Empty"));
    EXPECT_FALSE(reg.KeyExists(RegRoot::kLocalMachine, u"Drivers\\BuiltIn\\Serial"));
    EXPECT_TRUE(reg.KeyExists(RegRoot::kLocalMachine, u"Drivers\\BuiltIn\\USB"));
    RegKey nuva;
    ASSERT_EQ(reg.OpenKey(reg.Root(RegRoot::kCurrentUser), u"Software\\Nuva", &nuva), kSuccess);
    RegValue value;
    ASSERT_EQ(reg.EnumValue(nuva, 0, &value), kSuccess);
    EXPECT_EQ(value.name, u"");
    EXPECT_EQ(value.type, kRegBinary);
    EXPECT_EQ(value.data, (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_EQ(reg.EnumValue(nuva, 1, &value), kSuccess);
    EXPECT_EQ(value.name, u"none");
    EXPECT_TRUE(value.data.empty());
    ASSERT_EQ(reg.QueryValue(reg.Root(RegRoot::kLocalMachine), u"AtRoot", &value), kSuccess);
    EXPECT_EQ(LoadLe32(value.data.data()), 7u);
}

TEST(StoreBlob, DamagedBlobsAreRefusedWithAReasonAndTheStoreIsKept) {
    auto original = UsedStore();
    const std::vector<uint8_t> blob = SaveStore(*original);
    ObjectStore target;
    ASSERT_EQ(target.files.Put(u"\\mine", "kept"), kSuccess);
    auto refused = [&target](std::vector<uint8_t> bad) {
        std::string error;
        bool loaded = LoadStore(bad, target, &error);
        EXPECT_FALSE(loaded);
        EXPECT_FALSE(error.empty());
        std::vector<uint8_t> mine;
        EXPECT_EQ(target.files.Get(u"\\mine", &mine), kSuccess) << "a refused load changed the store";
        return error;
    };

    EXPECT_NE(refused({}).find("not a saved handheld store"), std::string::npos);
    EXPECT_NE(refused(std::vector<uint8_t>(100, 0)).find("not a saved handheld store"), std::string::npos);
    // Every cut-off length.
    for (size_t size = 8; size < blob.size(); size += size < 400 ? 1 : 997) {
        refused(std::vector<uint8_t>(blob.begin(), blob.begin() + static_cast<long>(size)));
    }
    // A flipped bit anywhere is caught by the sum.
    for (size_t at : {size_t{20}, size_t{30}, blob.size() / 2, blob.size() - 5}) {
        std::vector<uint8_t> bad = blob;
        bad[at] ^= 0x10;
        EXPECT_FALSE(refused(bad).empty());
    }
    // Another version.
    std::vector<uint8_t> bad = blob;
    StoreLe32(bad.data() + 8, 2);
    FixSum(bad);
    EXPECT_NE(refused(bad).find("unknown version 2"), std::string::npos);
    // Counts and lengths that lie, with a sum made to match: refused by the
    // field checks, not by luck.
    bad = blob;
    StoreLe32(bad.data() + 24, 0xFFFFFFFF);  // the file count
    FixSum(bad);
    refused(bad);
    bad = blob;
    StoreLe32(bad.data() + 29, 0x7FFFFFFF);  // the first path's length
    FixSum(bad);
    EXPECT_NE(refused(bad).find("runs past the end"), std::string::npos);
    // Bytes left over after the registry.
    bad = blob;
    bad.insert(bad.end() - 4, {0, 0, 0, 0});
    StoreLe32(bad.data() + 12, static_cast<uint32_t>(bad.size()));
    FixSum(bad);
    EXPECT_NE(refused(bad).find("after the registry"), std::string::npos);
    // A capacity below the saved files.
    bad = blob;
    StoreLe32(bad.data() + 16, 1000);
    FixSum(bad);
    EXPECT_NE(refused(bad).find("error 112"), std::string::npos);
}

TEST(StoreBlob, DuplicateEntriesAreRefused) {
    ObjectStore store;
    ASSERT_EQ(store.files.Put(u"\\a", "1"), kSuccess);
    ASSERT_EQ(store.files.Put(u"\\b", "2"), kSuccess);
    std::vector<uint8_t> blob = SaveStore(store);
    // Rename "\b" to "\A" in place: same length, same case-folded name as "\a".
    // Entry 1 starts at 28: kind, u32 length 2, "\" "a", u32 size 1, "1".
    // Entry 2 follows at 28 + 1 + 4 + 4 + 4 + 1 = 42.
    ASSERT_EQ(LoadLe16(blob.data() + 42 + 1 + 4 + 2), u'b');
    StoreLe16(blob.data() + 42 + 1 + 4 + 2, u'A');
    FixSum(blob);
    ObjectStore target;
    std::string error;
    EXPECT_FALSE(LoadStore(blob, target, &error));
    EXPECT_NE(error.find("listed twice"), std::string::npos) << error;
}

TEST(StoreBlob, RandomDamageNeverCrashesTheLoader) {
    auto original = UsedStore();
    const std::vector<uint8_t> blob = SaveStore(*original);
    std::mt19937 rng(7);
    int refusedCount = 0;
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bad = blob;
        // Damage a few bytes of the structure (the front half holds every
        // header, path and count apart from the big file), then make the sum
        // match so that the field checks have to find it.
        for (int k = 0; k < 3; ++k) {
            bad[28 + rng() % 400] = static_cast<uint8_t>(rng());
        }
        FixSum(bad);
        ObjectStore target;
        std::string error;
        if (!LoadStore(bad, target, &error)) {
            EXPECT_FALSE(error.empty());
            ++refusedCount;
            continue;
        }
        // Damage that still reads as a store (a changed letter in a name or
        // in file contents) gives a store that saves and loads again.
        ObjectStore again;
        EXPECT_TRUE(LoadStore(SaveStore(target), again, &error)) << error;
    }
    // Most random damage breaks a name, a count or a length.
    EXPECT_GT(refusedCount, 150) << refusedCount;
}

}  // namespace
}  // namespace nuva::sim
