// Why an operation may not proceed: the reasons a ReasonDialog lists, and
// the battery rule of every button that commits to writing the handheld.
#pragma once

#include <cstdint>

namespace nuva {

// The reasons a ReasonDialog lists; any number may be set.
struct ReasonFlags {
    bool noAcPower = false;
    bool lowBattery = false;
    bool language = false;
    bool sameRom = false;
    bool downgrade = false;
    bool otherDevice = false;
    bool diskSpace = false;
};

// The battery rule: at least 40 %, compared unsigned, so a handheld that
// reports no level (0xFFFFFFFF) passes.
inline constexpr uint32_t kMinimumBatteryPercent = 40;
inline bool BatteryEnough(uint32_t batteryPercent) {
    return batteryPercent >= kMinimumBatteryPercent;
}

}  // namespace nuva
