// Result codes that cross module borders, with the values the programs of the
// system agree on.
#pragma once

#include <cstdint>

namespace nuva {

// Agent exports and the hand-over file.
inline constexpr uint32_t kResultOk = 0;
inline constexpr uint32_t kResultFail = 0x80004005;  // E_FAIL

// The desktop's device link.
inline constexpr int32_t kCopyFileFailed = -1;              // CopyFileToDevice, InstallAgent, PlaceReflash
inline constexpr uint32_t kDeviceCopyFailed = 0x80000001;   // a device copy failed
inline constexpr uint32_t kPartNotConfirmed = 0x80001001;   // the handheld did not confirm a part's sum
inline constexpr uint32_t kNoTransferMemory = 0x80002001;   // no memory for a transfer buffer
inline constexpr uint32_t kDesktopReadFailed = 0xA0000001;  // a desktop file read failed

// The flasher's flash routines.
inline constexpr uint32_t kFlashOk = 0;
inline constexpr uint32_t kFlashWriteTimeout = 17;
inline constexpr uint32_t kFlashEraseTimeout = 34;
// The flasher's buffer allocation failed (the run restarts the handheld).
inline constexpr uint32_t kFlasherNoMemory = 0x80000001;

}  // namespace nuva
