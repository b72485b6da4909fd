// Moving files onto the handheld: the whole-file copy used for the agent
// library and the flasher, the copy of one byte range of an open desktop file
// with progress (the image parts), and the byte sum of such a range, which
// the handheld must confirm for every part.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/rapi/rapi.h"
#include "setup/link/desktop_file.h"
#include "setup/link/message_sink.h"

namespace nuva {

inline constexpr uint32_t kTransferChunkBytes = 16384;
// The pause after every chunk of a slice, which keeps a long transfer from
// starving the handheld's other work on the cable.
inline constexpr uint32_t kChunkPauseMs = 100;

// Copies a whole desktop file to the handheld, replacing any file of that
// name there (deleted first, then created anew). Returns 0, or -1 when any
// step fails: the desktop file cannot be opened or read, is empty, or the
// device file cannot be created or written. An empty desktop file leaves an
// empty device file behind.
int32_t CopyFileToDevice(const std::string& desktopPath, LPCWSTR devicePath);

// Copies `count` bytes from the current position of `file` to the device
// file `devicePath` (created, or truncated when it exists), in chunks of
// 16 KB with a 100 ms pause after each. After every chunk, posts
// WM_FILE_PROGRESS (bytes done, count) to `window` while it is alive.
// Returns 0; 0x80000001 for a zero count, a device file that cannot be
// created, or a read or write that fails or comes up short; 0x80002001 when
// the transfer buffer cannot be had. With `sum`, it also receives the
// ByteSum of the bytes sent (only on success), so that the caller has the
// sum the handheld must confirm without reading the range a second time.
uint32_t CopySliceToDevice(DesktopFile& file, MessageSink* window, uint32_t count, LPCWSTR devicePath,
                           uint32_t* sum = nullptr);

// The ByteSum of `count` bytes from the current position of `file`, stored in
// `sum`. Returns 0; 0xA0000001 when the file fails or ends before the range
// does (`sum` is then left alone); 0x80002001 without a buffer.
uint32_t SumFileRange(DesktopFile& file, uint32_t count, uint32_t& sum);

// How a transfer of the parts treats a cable that drops. With no window (the
// default) a drop ends the transfer, as it always has. With one, the transfer
// waits that long (real time) for the link to come back, has the handheld
// confirm again, by their sums, the parts it had confirmed, and goes on with
// the first part that is not confirmed; each drop gets the whole window.
struct LinkGrace {
    std::chrono::nanoseconds window{0};
    // Told what the transfer does about a drop, in a sentence; called on the
    // transfer's thread.
    std::function<void(const std::string&)> note;

    bool Enabled() const { return window.count() > 0; }
};

// Waits up to `window` of real time for `connected` to read 1; true when it
// does. The window is real time because it is the user's patience with a
// cable, not a duration of the handheld's.
bool AwaitLink(const std::atomic<int32_t>& connected, std::chrono::nanoseconds window);

// After a step on the handheld failed: gives the connection monitor the time
// of a probe and its retries to notice a cable that has gone, and returns
// whether `connected` still reads 1. A failure on a link that is down is the
// link's, not the step's.
bool LinkStillUp(const std::atomic<int32_t>& connected);

}  // namespace nuva
