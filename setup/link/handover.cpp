#include "setup/link/handover.h"

#include <algorithm>
#include <array>
#include <string>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "formats/message_ids.h"
#include "formats/result_codes.h"
#include "setup/link/agent_calls.h"
#include "setup/link/desktop_file.h"
#include "setup/link/device_access.h"
#include "setup/link/transfer.h"
#include "setup/resources/settings.h"

namespace nuva {
namespace {

// A part's device path up to its terminator; empty when the field has none
// or holds nothing.
std::u16string PartPath(const ImagePart& part) {
    const auto end = std::find(part.PartName.begin(), part.PartName.end(), u'\0');
    if (end == part.PartName.end())
        return {};
    return std::u16string(part.PartName.begin(), end);
}

// The handheld's start-up folder, without a trailing "\"; empty when the
// handheld does not say.
std::u16string StartupFolder() {
    std::array<WCHAR, 260> buffer{};
    const DWORD length =
        LockedCeGetSpecialFolderPath(CSIDL_STARTUP, static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0 || length >= buffer.size())
        return {};
    return std::u16string(buffer.data(), length);
}

}  // namespace

uint32_t TransferImageParts(MessageSink* window, const std::string& imagePath, UpdateHandoff& plan,
                            uint32_t handheldMemoryConfig, const std::atomic<int32_t>& keepGoing,
                            const LinkGrace& grace) {
    DesktopFile image = DesktopFile::OpenForReading(imagePath);
    if (!image.IsOpen())
        return kDeviceCopyFailed;
    if (plan.Items > kMaxImageParts)
        return kDeviceCopyFailed;

    uint32_t total = plan.TotalBytes;
    uint32_t done = 0;
    PostIfAlive(window, WM_OVERALL_PROGRESS, done, total);

    if (handheldMemoryConfig == kMemoryConfigAdvanced) {
        if (image.SeekTo(0))
            CopySliceToDevice(image, window, kFillerBytes, kFillerPath);
        total += kFillerBytes;
        done = kFillerBytes;
        PostIfAlive(window, WM_OVERALL_PROGRESS, done, total);
    }

    const uint32_t doneBeforeParts = done;
    auto note = [&grace](const std::string& text) {
        if (grace.note)
            grace.note(text);
    };
    // The link went while part `index` was due. True when it came back in
    // the grace window, with `index` at the first part the handheld does not
    // confirm now.
    auto regain = [&](uint32_t& index) {
        for (;;) {
            note("The link dropped during part " + std::to_string(index) + "; waiting for it to come back.");
            if (!AwaitLink(keepGoing, grace.window)) {
                note("The link did not come back in time.");
                return false;
            }
            uint32_t resume = index;
            for (uint32_t j = 0; j < index; ++j) {
                if (VerifyDeviceFile(PartPath(plan.parts[j]).c_str(), plan.parts[j].PartSum) != 0) {
                    resume = j;
                    break;
                }
            }
            if (keepGoing.load() != 1)
                continue;  // gone again while the parts were checked
            for (uint32_t j = resume; j < index; ++j)
                plan.parts[j].PartSum = 0;
            note(resume == 0
                     ? std::string("The link is back: the copy starts again with part 0.")
                     : "The link is back: the handheld confirms parts 0 to " + std::to_string(resume - 1) +
                           " by their sums; the copy goes on with part " + std::to_string(resume) + ".");
            index = resume;
            done = doneBeforeParts;
            for (uint32_t j = 0; j < index; ++j)
                done += plan.parts[j].PartLength;
            PostIfAlive(window, WM_OVERALL_PROGRESS, done, total);
            return true;
        }
    };

    for (uint32_t index = 0; index < plan.Items; ++index) {
        // Stopping here must not look like success: the parts left are not
        // on the handheld, and the link may be back before anyone checks.
        if (keepGoing.load() != 1) {
            if (!grace.Enabled() || !regain(index))
                return kDeviceCopyFailed;
        }

        ImagePart& part = plan.parts[index];
        const std::u16string path = PartPath(part);
        if (path.empty())
            return kDeviceCopyFailed;
        const uint64_t fileOffset = uint64_t{part.ImageOffset} + kImageHeaderSize;

        uint32_t code = 0;
        int attempts = 0;
        bool confirmed = false;
        while (attempts < kPartAttempts && !confirmed) {
            if (attempts > 0 && keepGoing.load() != 1)
                break;
            ++attempts;
            if (!image.SeekTo(fileOffset))
                return kDesktopReadFailed;
            // The sum is of the very bytes sent, taken as they pass.
            uint32_t sum = 0;
            code = CopySliceToDevice(image, window, part.PartLength, path.c_str(), &sum);
            if (code != 0)
                continue;

            if (VerifyDeviceFile(path.c_str(), sum) == 0) {
                part.PartSum = sum;
                confirmed = true;
            } else {
                code = kPartNotConfirmed;
            }
        }
        if (!confirmed && grace.Enabled() && !LinkStillUp(keepGoing)) {
            // The link, not the part, failed: the part starts over once the
            // link is back, with all its attempts.
            if (!regain(index))
                return kDeviceCopyFailed;
            --index;
            continue;
        }
        if (!confirmed)
            return attempts == kPartAttempts ? code : kDeviceCopyFailed;

        done += part.PartLength;
        PostIfAlive(window, WM_OVERALL_PROGRESS, done, total);
    }
    return 0;
}

void RemoveStartupShortcuts() {
    const std::u16string folder = StartupFolder();
    if (folder.empty())
        return;
    LockedCeDeleteFile((folder + u"\\poutlook.lnk").c_str());
    LockedCeDeleteFile((folder + u"\\Welcome.lnk").c_str());
}

int32_t PlaceReflash() {
    const std::string programFolder = InstallDirOf(RunningProgramPath());
    if (programFolder.empty())
        return kCopyFileFailed;
    const std::u16string startup = StartupFolder();
    if (startup.empty())
        return kCopyFileFailed;
    return CopyFileToDevice(programFolder + "Reflash.exe", (startup + u"\\Reflash.exe").c_str());
}

uint32_t WriteUpdateInfo(const UpdateHandoff& plan) {
    const std::array<uint8_t, kHandoffFileSize> bytes = WriteHandoffFile(plan);

    DeviceFile file = DeviceFile::Create(kUpdateInfoPath, CREATE_NEW);
    if (!file.IsOpen())
        return kResultFail;

    bool same = false;
    DWORD written = 0;
    if (LockedCeWriteFile(file.get(), bytes.data(), kHandoffFileSize, &written) &&
        written == kHandoffFileSize && LockedCeSetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0) {
        std::array<uint8_t, kHandoffFileSize> back{};
        DWORD read = 0;
        same = LockedCeReadFile(file.get(), back.data(), kHandoffFileSize, &read) &&
               read == kHandoffFileSize && back == bytes;
    }
    file.Close();
    if (same)
        return 0;
    LockedCeDeleteFile(kUpdateInfoPath);
    return kResultFail;
}

}  // namespace nuva
