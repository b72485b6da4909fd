// The folder a handheld lives in between runs of the emulator:
//
//   handheld.conf     the factory settings and the power state, as text
//   flash.bin         every flash cell (48 or 32 MB)
//   store.bin         the object store (files and registry), as the store
//                     saves it
//   reserved-ram.bin  the reserved RAM block (its cold-start words decide
//                     the next start), kept as battery-backed RAM keeps it
//
// handheld.conf holds one "key=value" per line ("#" starts a comment):
//   class=advanced|basic, uuid=<32 hex digits>, language=<hex LANGID, 0 for
//   the ROM's>, platform_command=on|off, platform_query=on|off,
//   boot_ms=<decimal>, ac=on|off, battery=<0-100>|none.
// Every key must be there exactly once; anything else is refused.
//
// Every file is written whole under a temporary name and then renamed, so a
// stop of the emulator in the middle never leaves a half-written file under
// its real name. (The files are not synced to the disk: a power cut of the
// host may lose the last save.)
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "handheld-sim/machine/handheld.h"

namespace nuva::sim {

inline constexpr const char* kConfigFile = "handheld.conf";
inline constexpr const char* kFlashFile = "flash.bin";
inline constexpr const char* kStoreFile = "store.bin";
inline constexpr const char* kReservedRamFile = "reserved-ram.bin";

struct StateConfig {
    FactorySettings settings;
    bool ac = true;
    std::optional<uint8_t> battery = 100;
};

std::string FormatStateConfig(const StateConfig& config);
bool ParseStateConfig(std::string_view text, StateConfig& config, std::string& error);

// Creates the folder (and its parents) when missing.
bool MakeFolder(const std::string& path, std::string& error);
bool WriteFileWhole(const std::string& path, std::span<const uint8_t> bytes, std::string& error);
// Refuses files longer than `limit` bytes.
bool ReadFileWhole(const std::string& path, size_t limit, std::vector<uint8_t>& bytes, std::string& error);

}  // namespace nuva::sim
