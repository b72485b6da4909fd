// The installation's image files as the start checks reach them: where the
// update image of a model class is, the header of an image or backup file,
// and the byte sum of the contents behind that header. They sit behind one
// interface so that a test can fail any of them; InstalledImageFiles is the
// real one, over g_installDir, setup.ini and the files themselves.
//
// A sum reads up to the whole 26 MB of an image, so the pages run it beside
// the thread that drives them and stop it when they close first: a sum asked
// to stop gives up between two pieces of the file.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>

#include "formats/image_header.h"
#include "formats/result_codes.h"
#include "formats/rom_identity.h"

namespace nuva {

// Where the update image of a class stands.
enum class ImageLookup { kFound, kMissing, kOutOfMemory };
struct LocatedImage {
    ImageLookup status = ImageLookup::kMissing;
    std::string path;  // with kFound
};

// Contents a check still has to read: `count` bytes behind the header of
// `path`, which must sum to `expected` (nothing to sum when `count` is 0),
// and, with `identity`, the ROM identity block the contents carry, which
// must vouch for them as the handheld's start does.
struct ContentsSum {
    std::string path;
    uint32_t count = 0;
    uint32_t expected = 0;
    bool identity = false;
};

// What reading them gave: 0 with the sum (or nothing summed), or the failure
// code; and what the identity block said when it was asked.
struct SumOutcome {
    uint32_t result = kResultFail;
    uint32_t sum = 0;
    RomIdentityError identity = RomIdentityError::kNone;
};

// True when the contents could be read, add up to what was expected, and
// carry a sound identity block when one was asked for.
inline bool SumMatches(const ContentsSum& what, const SumOutcome& outcome) {
    return outcome.result == kResultOk && (what.count == 0 || outcome.sum == what.expected) &&
           (!what.identity || outcome.identity == RomIdentityError::kNone);
}

class ImageFiles {
  public:
    virtual ~ImageFiles() = default;

    // The update image setup.ini names for the "Advanced" (high) or the
    // "Basic" class.
    virtual LocatedImage LocateImage(bool highModel) = 0;
    // The file's length when its header is acceptable, else 0.
    virtual uint64_t CheckImageFile(const std::string& path, ImageHeader& header) = 0;
    // The ByteSum of `count` bytes of the file from offset 512: 0 with `sum`,
    // or a failure code when the file cannot be opened, ends before the range
    // does, or `stop` was requested first. May run on a thread of its own.
    virtual uint32_t SumImageContents(const std::string& path, uint32_t count, uint32_t& sum,
                                      std::stop_token stop) = 0;
    // The ROM identity block of the contents behind the header of `path`,
    // checked over those contents as the handheld checks its flash when it
    // starts: kNone when it vouches for them. A file that cannot be read, or
    // a stop requested first, reads as kTooShort.
    virtual RomIdentityError CheckContentsIdentity(const std::string& path, std::stop_token stop) = 0;
};

// Adds up what `what` names through `files`.
SumOutcome SumContents(ImageFiles& files, const ContentsSum& what, std::stop_token stop = {});

// The images of the installation in g_installDir, as setup.ini names them.
class InstalledImageFiles final : public ImageFiles {
  public:
    LocatedImage LocateImage(bool highModel) override;
    uint64_t CheckImageFile(const std::string& path, ImageHeader& header) override;
    uint32_t SumImageContents(const std::string& path, uint32_t count, uint32_t& sum,
                              std::stop_token stop) override;
    RomIdentityError CheckContentsIdentity(const std::string& path, std::stop_token stop) override;
};

}  // namespace nuva
