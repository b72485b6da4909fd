// A small model of the handheld for the flasher's core: the flash bank
// behind the flash windows, RAM behind the RAM windows, platform registers
// that remember what was written, files in memory, a heap and a screen that
// records its texts. It checks the rules the real handheld enforces on the
// flasher: no access to an address nothing backs, and no system call while
// a flash chip is not in read-array mode.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "handheld-sim/flash/flash_bank.h"
#include "reflash/flash_port.h"
#include "reflash/programmer.h"

namespace nuva::reflash::test {

inline constexpr uint32_t kRoutineArea = 0x87FEC004;
inline constexpr uint32_t kReservedBlock = 0xA7FCE000;

struct RegisterWrite {
    uint32_t address;
    uint32_t value;
};

class ModelBus final : public FlashPort {
  public:
    explicit ModelBus(uint32_t flashBytes = 8u << 20, sim::FlashTiming timing = {});

    sim::FlashBank& Bank() { return bank_; }

    uint32_t Read32(uint32_t address) override;
    void Write32(uint32_t address, uint32_t value) override;
    void Read32s(uint32_t address, uint32_t* words, uint32_t count) override;
    void Write32s(uint32_t address, const uint32_t* words, uint32_t count) override;
    void Write8(uint32_t address, uint8_t value) override;
    void Mark(char c) override { marks += c; }

    // RAM by kernel address (either window); unwritten RAM reads 0.
    uint8_t RamByte(uint32_t address) const;
    uint32_t RamWord(uint32_t address) const;
    void SetRamWord(uint32_t address, uint32_t value);

    // The user pulls the battery at the flash read numbered `powerLossAtRead`
    // (counted in `flashReads`; 0: never): the bank is reset and the read
    // throws PowerLost, ending whatever the flasher was doing, as the power
    // loss ends the flasher on the handheld.
    uint64_t powerLossAtRead = 0;
    uint64_t flashReads = 0;

    std::string marks;
    // When set: "erase <offset>" for every block erase started, "restart" for
    // every restart line pull, in order.
    std::vector<std::string>* events = nullptr;
    std::vector<RegisterWrite> registerWrites;
    int restarts = 0;                 // restart line pulls (arm, then fire)
    std::vector<std::string> faults;  // accesses to nothing

  private:
    bool FlashOffset(uint32_t address, uint32_t* offset) const;
    bool RamOffset(uint32_t address, uint32_t* offset) const;
    bool IsRegister(uint32_t address) const;

    sim::FlashBank bank_;
    std::unordered_map<uint32_t, std::vector<uint8_t>> ramPages_;
    std::map<uint32_t, uint32_t> registers_;
};

struct PowerLost {};

class RecordingScreen final : public FlasherScreen {
  public:
    void Text(uint16_t colour, std::string_view text) override;
    void Glyphs(uint16_t colour, std::string_view piece) override { Text(colour, piece); }
    void Home() override { text += "<home>"; }
    void Clear() override { text += "<clear>"; }

    std::string text;                            // everything, in order
    std::string statusText;                      // what was drawn in the status colour
    std::vector<std::string>* events = nullptr;  // when set: every text too

    // When set, texts drawn while a chip of this bank is not in read-array
    // mode are noted in `busyTexts`: the flasher formats its texts through
    // the C runtime, which runs from flash, so on the handheld such a text
    // would crash it.
    const sim::FlashBank* bank = nullptr;
    std::vector<std::string> busyTexts;
};

class ModelSystem final : public FlasherSystem {
  public:
    explicit ModelSystem(ModelBus& bus) : bus_(bus) {}

    bool Open(const char16_t* path) override;
    bool Size(uint32_t* bytes) override;
    bool Read(uint8_t* buffer, uint32_t count, uint32_t* done) override;
    void Close() override;
    bool Delete(const char16_t* path) override;
    uint8_t* AllocateHeapBuffer() override;
    bool AllocateContiguousBuffer(uint32_t* physical) override;
    void MaskInterrupts() override;

    std::map<std::u16string, std::vector<uint8_t>> files;
    std::vector<std::u16string> deleted;
    std::vector<uint32_t> readSizes;  // every Read's requested count
    int failReadAt = -1;              // the Read call (counted from 0) that fails
    size_t heapLimit = 64;            // heap blocks to be had
    size_t heapAllocations = 0;
    bool contiguousAvailable = true;
    bool interruptsMasked = false;
    std::vector<std::string> violations;  // system calls made while the flash was busy

  private:
    void CheckFlashIdle(const char* call);

    ModelBus& bus_;
    std::vector<std::unique_ptr<uint8_t[]>> heap_;
    const std::vector<uint8_t>* open_ = nullptr;
    uint32_t position_ = 0;
};

// A part of `bytes` bytes whose contents depend on `seed` and the offset.
std::vector<uint8_t> PartBytes(uint32_t bytes, uint32_t seed);

}  // namespace nuva::reflash::test
