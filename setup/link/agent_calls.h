// The desktop side of the agent library's exports: each operation builds the
// input block the export expects, calls it through CeRapiInvoke (block mode,
// no stream), checks what came back and turns everything into one result
// code: 0, E_FAIL (0x80004005), or the code CeRapiInvoke returned, unchanged.
//
// Input blocks come from LocalAlloc and belong to RAPI from the call on;
// every output block is released here once read. These calls are not made
// under DeviceAccessLock.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/device_info.h"
#include "platform/rapi/rapi.h"

namespace nuva {

// The handheld's library, as RAPI names it (it looks in \Windows\ and adds
// ".dll").
inline constexpr const char16_t* kAgentLibrary = u"NUVA7INVOKE";

// FnNUVAInfo. With `out`, copies the handheld's record into it; without, the
// call only tells whether the agent answers. An answer too short to hold a
// record fails when a record was asked for.
uint32_t QueryDeviceInfo(DeviceInfo* out);

// FnNUVAReadFlash: `count` bytes of flash from `address` into `buffer`. The
// answer must be exactly the bytes and their ByteSum, else E_FAIL.
uint32_t ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count);

// FnNUVAFlashSums: the ByteSums of the blocks of `blockBytes` that cover
// `length` bytes of flash from `address` (the last one may be shorter), in
// `sums`. The answer must hold exactly one sum per block, else E_FAIL.
uint32_t ReadFlashBlockSums(uint32_t address, uint32_t length, uint32_t blockBytes,
                            std::vector<uint32_t>& sums);

// FnNUVAShowString: clears the handheld's screen at frame-buffer `first` and
// draws `text` there. The export always answers E_FAIL, so callers ignore
// the result.
uint32_t ShowDeviceText(const char* text, uint32_t first, uint32_t second);

// ColdReset: the handheld restarts cold and the link drops.
uint32_t ColdResetDevice();

// The selector that makes WarmReset remove the handheld's driver keys before
// it restarts (the restart into the flasher).
inline constexpr int kWarmResetCleanup = 1;
// WarmReset: selector 1 sends the cleanup request, any other none.
uint32_t WarmResetDevice(int selector);

// IsCheckSumOk: 0 when the handheld's ByteSum of the file `devicePath`
// equals `expectedSum`, else E_FAIL (or the call's own failure).
uint32_t VerifyDeviceFile(LPCWSTR devicePath, uint32_t expectedSum);

// Copies the agent library that lies beside the running program to the
// handheld's \Windows\ folder. Returns 0 or -1.
int32_t InstallAgent();

}  // namespace nuva
