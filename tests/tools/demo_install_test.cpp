// The demo installation folder as Setup sees it: setup.ini names images that
// exist, pass Setup's checks and are of the class they are named for, and
// the launcher and help keys are filled.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "formats/byte_sum.h"
#include "formats/rom_identity.h"
#include "setup/device/image_catalogue.h"
#include "setup/resources/profile.h"

namespace nuva {
namespace {

std::string DemoFolder() {
    return NUVA_DEMO_INSTALL_DIR;
}

TEST(DemoInstallation, ImagesNamedInSetupIniAreThereAndPassSetupsChecks) {
    std::string folder = DemoFolder();
    ASSERT_TRUE(std::filesystem::exists(folder + "setup.ini")) << folder;
    for (bool high : {true, false}) {
        SCOPED_TRACE(high ? "HIMODEL" : "LOWMODEL");
        std::optional<std::string> path = FindUpdateImage(folder, high);
        ASSERT_TRUE(path.has_value());
        ImageHeader header;
        uint64_t length = CheckImageFile(*path, header);
        EXPECT_EQ(length, kImageFileBytes2003);
        EXPECT_EQ(header.ModelByte(), high ? kModelByteAdvanced : kModelByteBasic);
        EXPECT_EQ(header.OsCode(), kOsCode2003);
        EXPECT_EQ(header.DateCode(), "04100300");
        EXPECT_EQ(header.RomName(), "A03");
        EXPECT_EQ(header.Kind(), 0);

        std::vector<uint8_t> contents(static_cast<size_t>(length - kImageHeaderSize));
        std::ifstream in(*path, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(kImageHeaderSize));
        in.read(reinterpret_cast<char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
        ASSERT_EQ(in.gcount(), static_cast<std::streamsize>(contents.size()));
        EXPECT_EQ(header.ByteCount(), contents.size());
        EXPECT_EQ(header.ByteSumField(), ByteSum(contents.data(), contents.size()));
        RomIdentity identity;
        ASSERT_EQ(ReadRomIdentity(contents.data(), contents.size(), identity), RomIdentityError::kNone);
        EXPECT_EQ(identity.Version, "A03");
        EXPECT_EQ(identity.OsMajor, 4u);
    }
}

TEST(DemoInstallation, LauncherAndHelpSettings) {
    std::string ini = DemoFolder() + "setup.ini";
    EXPECT_EQ(ReadProfileString(ini, "Setting", "MainProgram"), "Setup");
    EXPECT_EQ(ReadProfileString(ini, "Setting", "Language"), "EN");
    std::string help = ReadProfileString(ini, "0409", "Help");
    ASSERT_FALSE(help.empty());
    std::replace(help.begin(), help.end(), '\\', '/');
    EXPECT_TRUE(std::filesystem::exists(DemoFolder() + help)) << help;
    EXPECT_TRUE(std::filesystem::exists(DemoFolder() + "nuva-image"));
}

}  // namespace
}  // namespace nuva
