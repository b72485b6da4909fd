#include "machine_test_support.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "formats/rom_identity.h"

namespace nuva::sim::test {

std::vector<uint8_t> SmallImage(const std::string& dateCode, const std::string& version, uint32_t osMajor,
                                uint32_t language, uint32_t contentBytes) {
    std::vector<uint8_t> image(512 + contentBytes);
    for (size_t i = 512; i < image.size(); ++i) {
        image[i] = static_cast<uint8_t>((i * 131 + 7) >> 3);
    }
    RomIdentity identity;
    identity.DateCode = dateCode;
    identity.Version = version;
    identity.OsMajor = osMajor;
    identity.LanguageId = language;
    identity.CoveredLength = contentBytes;
    EXPECT_TRUE(StampRomIdentity(image.data() + 512, contentBytes, identity));
    return image;
}

FactorySettings TestSettings(bool advanced) {
    FactorySettings settings;
    settings.advanced = advanced;
    settings.uuid = SupportedUuid(true);
    settings.bootMs = 200;
    return settings;
}

std::unique_ptr<Handheld> StartedHandheld(const FactorySettings& settings, const std::vector<uint8_t>& image,
                                          const std::string& stateDir) {
    CreateError error = CreateError::kNone;
    std::string detail;
    auto handheld = Handheld::Create(settings, image, stateDir, &error, &detail);
    EXPECT_NE(handheld, nullptr) << detail;
    if (handheld == nullptr) {
        return nullptr;
    }
    handheld->PowerOn();
    EXPECT_TRUE(handheld->WaitUntilStarted(10s)) << handheld->Status().brickedReason;
    // The start-up folder was read: what a test puts there next runs only
    // at the next start.
    EXPECT_TRUE(handheld->WaitUntilIdle(10s));
    return handheld;
}

std::vector<uint8_t> ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> StoreFile(Handheld& handheld, const std::u16string& path) {
    std::vector<uint8_t> bytes;
    handheld.Store().Files().Get(path, &bytes);
    return bytes;
}

bool StoreHas(Handheld& handheld, const std::u16string& path) {
    EntryInfo info;
    return handheld.Store().Files().Stat(path, &info) == store_error::kSuccess;
}

void PutStoreFile(Handheld& handheld, const std::u16string& path, const std::vector<uint8_t>& bytes) {
    auto store = handheld.Store();
    size_t slash = path.rfind(u'\\');
    if (slash != std::u16string::npos && slash > 0) {
        store.Files().CreateDirectory(path.substr(0, slash));
    }
    ASSERT_EQ(store.Files().Put(path, bytes), store_error::kSuccess);
}

void PutStoreText(Handheld& handheld, const std::u16string& path, const std::string& text) {
    PutStoreFile(handheld, path, std::vector<uint8_t>(text.begin(), text.end()));
}

void InstallTestProgram(Handheld& handheld, const std::string& script, const std::u16string& name) {
    PutStoreText(handheld, u"\\test\\script.txt", script);
    PutStoreFile(handheld, u"\\Windows\\StartUp\\" + name, ReadHostFile(NUVA_TEST_PROGRAM));
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nuva-machine-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    EXPECT_NE(made, nullptr);
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace nuva::sim::test
