#include "handheld-sim/machine/psm_storage.h"

#include <string>

#include "formats/byte_sum.h"
#include "formats/le.h"

namespace nuva::sim {
namespace {

constexpr uint32_t kMagic = 0x464D5350;  // "PSMF"
constexpr uint32_t kLive = 0xFFFFFFFF;
constexpr uint32_t kErasedWord = 0xFFFFFFFF;
constexpr uint32_t kHeaderBytes = 0x14;
constexpr uint32_t kMaxName = 255;

struct Record {
    uint32_t offset = 0;
    bool live = false;
    std::u16string name;
    std::span<const uint8_t> data;
};

char16_t Fold(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

uint64_t RecordBytes(uint64_t nameUnits, uint64_t dataBytes) {
    return (kHeaderBytes + nameUnits * 2 + dataBytes + 3) & ~uint64_t{3};
}

// Walks the records; `end` receives the offset where the list ends (where a
// new record goes) when the walk reached the end cleanly.
PsmError Walk(std::span<const uint8_t> region, std::vector<Record>& records, uint32_t& end) {
    records.clear();
    uint64_t off = 0;
    while (off + 4 <= region.size()) {
        const uint8_t* p = region.data() + off;
        uint32_t magic = LoadLe32(p);
        if (magic == kErasedWord) {
            break;
        }
        if (magic != kMagic || off + kHeaderBytes > region.size()) {
            return PsmError::kDamaged;
        }
        uint32_t state = LoadLe32(p + 4);
        uint32_t nameUnits = LoadLe32(p + 8);
        uint32_t dataBytes = LoadLe32(p + 12);
        uint64_t total = RecordBytes(nameUnits, dataBytes);
        if (nameUnits == 0 || nameUnits > kMaxName || total > region.size() - off ||
            (state != kLive && state != 0)) {
            return PsmError::kDamaged;
        }
        const uint8_t* name = p + kHeaderBytes;
        const uint8_t* data = name + nameUnits * 2;
        uint32_t sum = ByteSum(p + 8, 8);
        sum = ByteSum(name, nameUnits * 2, sum);
        sum = ByteSum(data, dataBytes, sum);
        if (sum != LoadLe32(p + 16)) {
            return PsmError::kDamaged;
        }
        Record record;
        record.offset = static_cast<uint32_t>(off);
        record.live = state == kLive;
        for (uint32_t i = 0; i < nameUnits; ++i) {
            record.name.push_back(static_cast<char16_t>(LoadLe16(name + 2 * i)));
        }
        record.data = std::span<const uint8_t>(data, dataBytes);
        records.push_back(std::move(record));
        off += total;
    }
    end = static_cast<uint32_t>(off < region.size() ? off : region.size());
    return PsmError::kNone;
}

// Programming clears bits only, as the flash does.
void Program(uint8_t* cell, uint8_t value) {
    *cell = static_cast<uint8_t>(*cell & value);
}

void ProgramLe32(uint8_t* cells, uint32_t value) {
    uint8_t bytes[4];
    StoreLe32(bytes, value);
    for (int i = 0; i < 4; ++i) {
        Program(cells + i, bytes[i]);
    }
}

}  // namespace

PsmError ReadPsm(std::span<const uint8_t> region, std::vector<PsmFile>& files) {
    files.clear();
    std::vector<Record> records;
    uint32_t end = 0;
    PsmError walked = Walk(region, records, end);
    for (const Record& record : records) {
        if (!record.live) {
            continue;
        }
        // A later live copy replaces an earlier one of the same name.
        for (auto it = files.begin(); it != files.end(); ++it) {
            if (SameName(it->name, record.name)) {
                files.erase(it);
                break;
            }
        }
        files.push_back({record.name, std::vector<uint8_t>(record.data.begin(), record.data.end())});
    }
    return walked;
}

PsmError WritePsm(std::span<uint8_t> region, std::u16string_view name, std::span<const uint8_t> data) {
    if (name.empty() || name.size() > kMaxName || name.find(u'\\') != std::u16string_view::npos) {
        return PsmError::kBadName;
    }
    std::vector<Record> records;
    uint32_t end = 0;
    PsmError walked = Walk(region, records, end);
    if (walked != PsmError::kNone) {
        return walked;
    }
    uint64_t total = RecordBytes(name.size(), data.size());
    if (total > region.size() - end) {
        return PsmError::kNoSpace;
    }
    for (uint64_t i = 0; i < total; ++i) {
        if (region[end + i] != 0xFF) {
            return PsmError::kDamaged;  // cells past the end of the list are not erased
        }
    }
    uint8_t* p = region.data() + end;
    uint8_t header[16];
    StoreLe32(header, kMagic);
    StoreLe32(header + 4, kLive);
    StoreLe32(header + 8, static_cast<uint32_t>(name.size()));
    StoreLe32(header + 12, static_cast<uint32_t>(data.size()));
    uint8_t* namePos = p + kHeaderBytes;
    for (size_t i = 0; i < name.size(); ++i) {
        uint8_t unit[2];
        StoreLe16(unit, static_cast<uint16_t>(name[i]));
        Program(namePos + 2 * i, unit[0]);
        Program(namePos + 2 * i + 1, unit[1]);
    }
    uint8_t* dataPos = namePos + name.size() * 2;
    for (size_t i = 0; i < data.size(); ++i) {
        Program(dataPos + i, data[i]);
    }
    uint32_t sum = ByteSum(header + 8, 8);
    sum = ByteSum(namePos, name.size() * 2, sum);
    sum = ByteSum(dataPos, data.size(), sum);
    ProgramLe32(p + 16, sum);
    ProgramLe32(p + 8, static_cast<uint32_t>(name.size()));
    ProgramLe32(p + 12, static_cast<uint32_t>(data.size()));
    // The magic goes last: until it is there, the list ends before this record.
    ProgramLe32(p, kMagic);
    for (const Record& record : records) {
        if (record.live && SameName(record.name, name)) {
            ProgramLe32(region.data() + record.offset + 4, 0);
        }
    }
    return PsmError::kNone;
}

}  // namespace nuva::sim
