// The saved form of a handheld's object store, so that an emulated handheld
// keeps its files and registry across runs of the emulator.
//
// Layout (little-endian):
//   "NUVASTOR"  u32 version (1)  u32 blob length  u32 capacity low  u32 capacity high
//   u32 entry count, then per entry, parents before children:
//       u8 kind (1 folder, 2 file)  text path  [file: u32 size, bytes]
//   u32 key count, then per key, parents before children (roots included):
//       u8 root (0 HKEY_LOCAL_MACHINE, 1 HKEY_CURRENT_USER)  text path ("" for the root)
//       u32 value count, then per value: text name  u32 type  u32 size, bytes
//   u32 ByteSum of every byte before it
// where a text is a u32 count of UTF-16 units followed by the units.
//
// Loading rebuilds the store through its own operations, so every name,
// path, duplicate and the capacity are checked as they are for programs.
#include <cstring>

#include "formats/byte_sum.h"
#include "formats/le.h"
#include "formats/text_encoding.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::sim {
namespace {

constexpr char kMagic[8] = {'N', 'U', 'V', 'A', 'S', 'T', 'O', 'R'};
constexpr uint32_t kVersion = 1;
constexpr uint8_t kKindFolder = 1;
constexpr uint8_t kKindFile = 2;

class Writer {
  public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U32(uint32_t v) {
        size_t at = bytes_.size();
        bytes_.resize(at + 4);
        StoreLe32(bytes_.data() + at, v);
    }
    void Text(std::u16string_view text) {
        U32(static_cast<uint32_t>(text.size()));
        for (char16_t c : text) {
            bytes_.push_back(static_cast<uint8_t>(c));
            bytes_.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    void Bytes(const std::vector<uint8_t>& data) {
        U32(static_cast<uint32_t>(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }
    // A u32 to be filled in later.
    size_t Placeholder() {
        U32(0);
        return bytes_.size() - 4;
    }
    void Patch(size_t at, uint32_t v) { StoreLe32(bytes_.data() + at, v); }
    std::vector<uint8_t>& bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
};

class Reader {
  public:
    Reader(std::span<const uint8_t> bytes, std::string* error) : bytes_(bytes), error_(error) {}

    bool AtEnd() const { return offset_ == bytes_.size(); }
    // Only over bytes already known to be there.
    void Skip(size_t count) { offset_ += count; }
    bool Fail(const std::string& what) {
        if (error_ != nullptr) {
            *error_ =
                "the saved handheld store is damaged: " + what + " (at byte " + std::to_string(offset_) + ")";
        }
        return false;
    }
    bool U8(uint8_t& v, const char* what) {
        if (!Need(1, what)) {
            return false;
        }
        v = bytes_[offset_++];
        return true;
    }
    bool U32(uint32_t& v, const char* what) {
        if (!Need(4, what)) {
            return false;
        }
        v = LoadLe32(bytes_.data() + offset_);
        offset_ += 4;
        return true;
    }
    bool Text(std::u16string& text, const char* what) {
        uint32_t units = 0;
        if (!U32(units, what) || !Need(static_cast<uint64_t>(units) * 2, what)) {
            return false;
        }
        text.resize(units);
        for (uint32_t i = 0; i < units; ++i) {
            text[i] = static_cast<char16_t>(LoadLe16(bytes_.data() + offset_ + 2 * i));
        }
        offset_ += static_cast<size_t>(units) * 2;
        return true;
    }
    bool Bytes(std::span<const uint8_t>& data, const char* what) {
        uint32_t size = 0;
        if (!U32(size, what) || !Need(size, what)) {
            return false;
        }
        data = bytes_.subspan(offset_, size);
        offset_ += size;
        return true;
    }

  private:
    bool Need(uint64_t count, const char* what) {
        if (count > bytes_.size() - offset_) {
            return Fail(std::string(what) + " runs past the end");
        }
        return true;
    }

    std::span<const uint8_t> bytes_;
    std::string* error_;
    size_t offset_ = 0;
};

void SaveFolder(const FileStore& files, const std::u16string& folder, Writer& out, uint32_t& count) {
    std::vector<EntryInfo> entries;
    if (files.List(folder.empty() ? u"\\" : folder, &entries) != store_error::kSuccess) {
        return;
    }
    for (const auto& entry : entries) {
        std::u16string path = folder + u"\\" + entry.name;
        if (entry.folder) {
            out.U8(kKindFolder);
            out.Text(path);
            ++count;
            SaveFolder(files, path, out, count);
            continue;
        }
        std::vector<uint8_t> data;
        if (files.Get(path, &data) != store_error::kSuccess) {
            continue;
        }
        out.U8(kKindFile);
        out.Text(path);
        out.Bytes(data);
        ++count;
    }
}

void SaveKey(const Registry& reg, RegRoot root, const std::u16string& path, Writer& out, uint32_t& count) {
    RegKey key;
    if (reg.OpenKey(reg.Root(root), path, &key) != store_error::kSuccess) {
        return;
    }
    out.U8(root == RegRoot::kCurrentUser ? 1 : 0);
    out.Text(path);
    size_t valueCount = out.Placeholder();
    uint32_t values = 0;
    RegValue value;
    while (reg.EnumValue(key, values, &value) == store_error::kSuccess) {
        out.Text(value.name);
        out.U32(value.type);
        out.Bytes(value.data);
        ++values;
    }
    out.Patch(valueCount, values);
    ++count;
    std::u16string child;
    for (uint32_t i = 0; reg.EnumKey(key, i, &child) == store_error::kSuccess; ++i) {
        SaveKey(reg, root, path.empty() ? child : path + u"\\" + child, out, count);
    }
}

std::string Describe(const std::u16string& text) {
    return "\"" + Utf8FromUtf16(text) + "\"";
}

bool LoadFiles(Reader& in, FileStore& files) {
    uint32_t count = 0;
    if (!in.U32(count, "the file count")) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t kind = 0;
        std::u16string path;
        if (!in.U8(kind, "a file entry") || !in.Text(path, "a file path")) {
            return false;
        }
        if (kind == kKindFolder) {
            if (uint32_t error = files.CreateDirectory(path); error != store_error::kSuccess) {
                return in.Fail("folder " + Describe(path) + " cannot be made (error " +
                               std::to_string(error) + ")");
            }
            continue;
        }
        if (kind != kKindFile) {
            return in.Fail("unknown entry kind " + std::to_string(kind));
        }
        std::span<const uint8_t> data;
        if (!in.Bytes(data, "file contents")) {
            return false;
        }
        if (files.Stat(path, nullptr) != store_error::kFileNotFound) {
            return in.Fail("file " + Describe(path) + " is listed twice or has no folder");
        }
        if (uint32_t error = files.Put(path, data); error != store_error::kSuccess) {
            return in.Fail("file " + Describe(path) + " cannot be made (error " + std::to_string(error) +
                           ")");
        }
    }
    return true;
}

bool LoadRegistry(Reader& in, Registry& reg) {
    uint32_t count = 0;
    if (!in.U32(count, "the key count")) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t root = 0;
        std::u16string path;
        if (!in.U8(root, "a key entry") || !in.Text(path, "a key path")) {
            return false;
        }
        if (root > 1) {
            return in.Fail("unknown registry root " + std::to_string(root));
        }
        RegKey key = reg.Root(root == 1 ? RegRoot::kCurrentUser : RegRoot::kLocalMachine);
        if (!path.empty()) {
            bool created = false;
            if (uint32_t error = reg.CreateKey(key, path, &key, &created); error != store_error::kSuccess) {
                return in.Fail("key " + Describe(path) + " cannot be made (error " + std::to_string(error) +
                               ")");
            }
            if (!created) {
                return in.Fail("key " + Describe(path) + " is listed twice");
            }
        }
        uint32_t values = 0;
        if (!in.U32(values, "a value count")) {
            return false;
        }
        for (uint32_t v = 0; v < values; ++v) {
            std::u16string name;
            uint32_t type = 0;
            std::span<const uint8_t> data;
            if (!in.Text(name, "a value name") || !in.U32(type, "a value type") ||
                !in.Bytes(data, "value data")) {
                return false;
            }
            if (reg.QueryValue(key, name, nullptr) != store_error::kFileNotFound) {
                return in.Fail("value " + Describe(name) + " of key " + Describe(path) + " is listed twice");
            }
            if (uint32_t error = reg.SetValue(key, name, type, data); error != store_error::kSuccess) {
                return in.Fail("value " + Describe(name) + " cannot be set (error " + std::to_string(error) +
                               ")");
            }
        }
    }
    return true;
}

}  // namespace

std::vector<uint8_t> SaveStore(const ObjectStore& store) {
    Writer out;
    for (char c : kMagic) {
        out.U8(static_cast<uint8_t>(c));
    }
    out.U32(kVersion);
    size_t length = out.Placeholder();
    uint64_t capacity = store.files.Capacity();
    out.U32(static_cast<uint32_t>(capacity));
    out.U32(static_cast<uint32_t>(capacity >> 32));

    size_t entryCount = out.Placeholder();
    uint32_t entries = 0;
    SaveFolder(store.files, u"", out, entries);
    out.Patch(entryCount, entries);

    size_t keyCount = out.Placeholder();
    uint32_t keys = 0;
    SaveKey(store.registry, RegRoot::kLocalMachine, u"", out, keys);
    SaveKey(store.registry, RegRoot::kCurrentUser, u"", out, keys);
    out.Patch(keyCount, keys);

    out.Patch(length, static_cast<uint32_t>(out.bytes().size() + 4));
    out.U32(ByteSum(out.bytes().data(), out.bytes().size()));
    return std::move(out.bytes());
}

bool LoadStore(std::span<const uint8_t> blob, ObjectStore& store, std::string* error) {
    // Magic, version, length, capacity, two counts and the sum.
    constexpr size_t kSmallest = sizeof kMagic + 4 * 7;
    if (blob.size() < kSmallest || std::memcmp(blob.data(), kMagic, sizeof kMagic) != 0) {
        return Reader(blob, error).Fail("it is not a saved handheld store");
    }
    // Everything but the trailing sum.
    Reader in(blob.first(blob.size() - 4), error);
    in.Skip(sizeof kMagic);
    uint32_t version = 0;
    uint32_t length = 0;
    uint32_t capacityLow = 0;
    uint32_t capacityHigh = 0;
    in.U32(version, "the version");
    if (version != kVersion) {
        return in.Fail("unknown version " + std::to_string(version));
    }
    in.U32(length, "the length");
    if (length != blob.size()) {
        return in.Fail("it says " + std::to_string(length) + " bytes but holds " +
                       std::to_string(blob.size()));
    }
    if (LoadLe32(blob.data() + blob.size() - 4) != ByteSum(blob.data(), blob.size() - 4)) {
        return in.Fail("its byte sum does not match");
    }
    in.U32(capacityLow, "the capacity");
    in.U32(capacityHigh, "the capacity");
    ObjectStore fresh((static_cast<uint64_t>(capacityHigh) << 32) | capacityLow);
    if (!LoadFiles(in, fresh.files) || !LoadRegistry(in, fresh.registry)) {
        return false;
    }
    if (!in.AtEnd()) {
        return in.Fail("unexpected bytes after the registry");
    }
    store.files.ReplaceContents(fresh.files);
    store.registry.ReplaceContents(fresh.registry);
    return true;
}

}  // namespace nuva::sim
