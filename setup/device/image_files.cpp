#include "setup/device/image_files.h"

#include <algorithm>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "setup/device/image_catalogue.h"
#include "setup/link/desktop_file.h"
#include "setup/link/transfer.h"
#include "setup/resources/settings.h"

namespace nuva {
namespace {

// How much of the contents is summed between two looks at the stop request:
// small enough that a page closing mid-sum waits only a moment for it.
constexpr uint32_t kSumPieceBytes = 1024 * 1024;
// No image of the handheld's flash holds more: a larger file is not one.
constexpr uint64_t kLargestContents = 64ull * 1024 * 1024;

}  // namespace

SumOutcome SumContents(ImageFiles& files, const ContentsSum& what, std::stop_token stop) {
    SumOutcome outcome;
    outcome.result =
        what.count == 0 ? kResultOk : files.SumImageContents(what.path, what.count, outcome.sum, stop);
    if (outcome.result == kResultOk && what.identity) {
        outcome.identity = files.CheckContentsIdentity(what.path, stop);
    }
    return outcome;
}

LocatedImage InstalledImageFiles::LocateImage(bool highModel) {
    try {
        std::optional<std::string> path = FindUpdateImage(g_installDir, highModel);
        if (!path) {
            return {ImageLookup::kMissing, {}};
        }
        return {ImageLookup::kFound, std::move(*path)};
    } catch (const std::bad_alloc&) {
        // The path could not be held: the page says so instead of going on
        // without an image.
        return {ImageLookup::kOutOfMemory, {}};
    }
}

uint64_t InstalledImageFiles::CheckImageFile(const std::string& path, ImageHeader& header) {
    return nuva::CheckImageFile(path, header);
}

uint32_t InstalledImageFiles::SumImageContents(const std::string& path, uint32_t count, uint32_t& sum,
                                               std::stop_token stop) {
    DesktopFile file = DesktopFile::OpenForReading(path);
    if (!file.IsOpen() || !file.SeekTo(kImageHeaderSize)) {
        return kDesktopReadFailed;
    }
    // The byte sum of the whole is the wrapping sum of the sums of its pieces.
    uint32_t running = 0;
    for (uint32_t done = 0; done < count;) {
        if (stop.stop_requested()) {
            return kResultFail;
        }
        const uint32_t piece = std::min(count - done, kSumPieceBytes);
        uint32_t pieceSum = 0;
        const uint32_t result = SumFileRange(file, piece, pieceSum);
        if (result != kResultOk) {
            return result;
        }
        running += pieceSum;
        done += piece;
    }
    sum = running;
    return kResultOk;
}

RomIdentityError InstalledImageFiles::CheckContentsIdentity(const std::string& path, std::stop_token stop) {
    DesktopFile file = DesktopFile::OpenForReading(path);
    const std::optional<uint64_t> size = file.IsOpen() ? file.Size() : std::nullopt;
    if (!size || *size < kImageHeaderSize || *size - kImageHeaderSize > kLargestContents ||
        !file.SeekTo(kImageHeaderSize)) {
        return RomIdentityError::kTooShort;
    }
    std::vector<uint8_t> contents;
    try {
        contents.resize(static_cast<size_t>(*size - kImageHeaderSize));
    } catch (const std::bad_alloc&) {
        return RomIdentityError::kTooShort;
    }
    for (size_t done = 0; done < contents.size();) {
        if (stop.stop_requested()) {
            return RomIdentityError::kTooShort;
        }
        const size_t piece = std::min<size_t>(contents.size() - done, kSumPieceBytes);
        const std::optional<size_t> got = file.Read(contents.data() + done, piece);
        if (!got || *got == 0) {
            return RomIdentityError::kTooShort;  // the file shrank under us
        }
        done += *got;
    }
    RomIdentity identity;
    return ReadRomIdentity(contents.data(), contents.size(), identity);
}

}  // namespace nuva
