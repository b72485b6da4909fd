#include "setup/link/transfer.h"

#include <algorithm>
#include <memory>
#include <new>
#include <thread>

#include "formats/byte_sum.h"
#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "platform/clock/clock.h"
#include "setup/link/device_access.h"
#include "setup/link/link_monitor.h"

namespace nuva {
namespace {

constexpr size_t kCopyBufferBytes = 32 * 1024;
constexpr size_t kSliceBufferBytes = 64 * 1024;  // four chunks read from the desktop file at once
constexpr size_t kSumBufferBytes = 32 * 1024;

std::unique_ptr<uint8_t[]> TryAllocate(size_t bytes) {
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

}  // namespace

int32_t CopyFileToDevice(const std::string& desktopPath, LPCWSTR devicePath) {
    DesktopFile source = DesktopFile::OpenForReading(desktopPath);
    if (!source.IsOpen())
        return kCopyFileFailed;

    // CREATE_NEW below refuses an existing file, so an old copy goes first.
    LockedCeDeleteFile(devicePath);
    DeviceFile target = DeviceFile::Create(devicePath, CREATE_NEW);
    if (!target.IsOpen())
        return kCopyFileFailed;

    const std::optional<uint64_t> size = source.Size();
    if (!size || *size == 0 || *size > UINT32_MAX)
        return kCopyFileFailed;

    auto buffer = TryAllocate(kCopyBufferBytes);
    if (!buffer)
        return kCopyFileFailed;

    const auto total = static_cast<uint32_t>(*size);
    uint32_t done = 0;
    while (done < total) {
        const uint32_t want = std::min(total - done, kTransferChunkBytes);
        const std::optional<size_t> got = source.Read(buffer.get(), want);
        // A file that ends before its size said (it shrank while being read)
        // would otherwise never finish.
        if (!got || *got == 0)
            return kCopyFileFailed;
        DWORD written = 0;
        if (!LockedCeWriteFile(target.get(), buffer.get(), static_cast<DWORD>(*got), &written) ||
            written != *got) {
            return kCopyFileFailed;
        }
        done += static_cast<uint32_t>(*got);
    }
    LockedCeSetEndOfFile(target.get());
    return 0;
}

uint32_t CopySliceToDevice(DesktopFile& file, MessageSink* window, uint32_t count, LPCWSTR devicePath,
                           uint32_t* sum) {
    if (count == 0)
        return kDeviceCopyFailed;
    DeviceFile target = DeviceFile::Create(devicePath, CREATE_ALWAYS);
    if (!target.IsOpen())
        return kDeviceCopyFailed;

    auto buffer = TryAllocate(kSliceBufferBytes);
    if (!buffer)
        return kNoTransferMemory;

    // With no time to pause (NUVA_TIME_SCALE=0) the pause would still give
    // the processor away once per chunk, and on a busy machine the next
    // chunk then waits for other work; every chunk already waits for the
    // handheld's answer, so nothing spins without it.
    const bool pause = ScaledMs(kChunkPauseMs).count() > 0;
    uint32_t running = 0;
    uint32_t done = 0;
    while (done < count) {
        // The desktop file is read a buffer at a time, never past the slice;
        // the handheld still gets it one 16 KB chunk per write.
        const std::optional<size_t> got =
            file.Read(buffer.get(), std::min<size_t>(count - done, kSliceBufferBytes));
        if (!got || *got == 0)
            return kDeviceCopyFailed;
        for (size_t at = 0; at < *got;) {
            const auto length = static_cast<DWORD>(std::min<size_t>(*got - at, kTransferChunkBytes));
            DWORD written = 0;
            if (!LockedCeWriteFile(target.get(), buffer.get() + at, length, &written) || written != length)
                return kDeviceCopyFailed;
            if (sum != nullptr)
                running = ByteSum(buffer.get() + at, written, running);
            at += written;
            done += written;
            PostIfAlive(window, WM_FILE_PROGRESS, done, count);
            if (pause)
                ScaledSleepMs(kChunkPauseMs);
        }
    }
    LockedCeSetEndOfFile(target.get());
    if (sum != nullptr)
        *sum = running;
    return 0;
}

uint32_t SumFileRange(DesktopFile& file, uint32_t count, uint32_t& sum) {
    auto buffer = TryAllocate(kSumBufferBytes);
    if (!buffer)
        return kNoTransferMemory;

    uint32_t running = 0;
    uint32_t done = 0;
    while (done < count) {
        const size_t want = std::min<size_t>(count - done, kSumBufferBytes);
        const std::optional<size_t> got = file.Read(buffer.get(), want);
        if (!got || *got == 0)
            return kDesktopReadFailed;
        running = ByteSum(buffer.get(), *got, running);
        done += static_cast<uint32_t>(*got);
    }
    sum = running;
    return 0;
}

bool AwaitLink(const std::atomic<int32_t>& connected, std::chrono::nanoseconds window) {
    // The window is the user's, in real time; the scaled clock could make
    // the wait vanish (NUVA_TIME_SCALE=0) and this loop spin.
    constexpr auto kPoll = std::chrono::milliseconds(10);
    const auto deadline = std::chrono::steady_clock::now() + window;
    while (connected.load() != 1) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

bool LinkStillUp(const std::atomic<int32_t>& connected) {
    constexpr uint32_t kPollMs = 100;
    for (uint32_t waited = 0; waited < kProbePeriodMs + 2 * kProbeRetryMs; waited += kPollMs) {
        if (connected.load() != 1)
            return false;
        ScaledSleepMs(kPollMs);
    }
    return connected.load() == 1;
}

}  // namespace nuva
