// The installation's image files as the pages read them: the identity block
// of an image's contents, read from the file as the handheld reads its flash.
#include "setup/device/image_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "formats/image_header.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

namespace nuva {
namespace {

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(InstalledImageFiles, TheIdentityBlockVouchesForTheContentsWhateverTheHeaderCounts) {
    testing::TempFolder folder;
    imagegen::ImageSpec spec;
    spec.withSum = false;  // a header that counts nothing: no sum to go by
    std::vector<uint8_t> image;
    ASSERT_EQ(imagegen::MakeImageFile(spec, image), imagegen::ImageGenError::kNone);
    InstalledImageFiles files;

    const std::string sound = folder.path() + "/sound.nb0";
    Write(sound, image);
    EXPECT_EQ(files.CheckContentsIdentity(sound, {}), RomIdentityError::kNone);

    // One byte of the contents changed: the block no longer adds up.
    std::vector<uint8_t> damaged = image;
    damaged[kImageHeaderSize + 0x200000] ^= 0x01;
    const std::string bad = folder.path() + "/damaged.nb0";
    Write(bad, damaged);
    EXPECT_EQ(files.CheckContentsIdentity(bad, {}), RomIdentityError::kContentSum);

    // The block itself overwritten, and the contents cut short.
    std::vector<uint8_t> blank = image;
    std::fill_n(blank.begin() + kImageHeaderSize + kRomIdentityContentOffset, kRomIdentitySize, 0xFF);
    Write(bad, blank);
    EXPECT_EQ(files.CheckContentsIdentity(bad, {}), RomIdentityError::kNoBlock);
    Write(bad,
          std::vector<uint8_t>(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(image.size() / 2)));
    EXPECT_EQ(files.CheckContentsIdentity(bad, {}), RomIdentityError::kTooShort);

    // No file, a header alone, and a read asked to stop first.
    EXPECT_EQ(files.CheckContentsIdentity(folder.path() + "/missing.nb0", {}), RomIdentityError::kTooShort);
    Write(bad, std::vector<uint8_t>(image.begin(), image.begin() + kImageHeaderSize));
    EXPECT_EQ(files.CheckContentsIdentity(bad, {}), RomIdentityError::kTooShort);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(files.CheckContentsIdentity(sound, stop.get_token()), RomIdentityError::kTooShort);
}

}  // namespace
}  // namespace nuva
