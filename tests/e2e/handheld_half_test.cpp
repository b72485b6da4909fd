// The handheld half of an update, end to end and for real through the cable:
// a running nuva-handheld with an older factory ROM, and the driver program
// that copies an image's parts to it through Setup's device link, places the
// flasher, writes the hand-over and restarts it. The handheld must run the
// flasher without a cable link, come back cold with the new ROM, hold the
// image in its flash byte for byte, and keep or lose its built-in storage as
// the generation rule says.
//
// nuva-handheld ctl has no command that puts a file into the built-in storage
// of a running handheld, so the storage is seeded where the handheld keeps
// it: in the flash cells behind the ROM, through the factory flash contents
// the handheld is made with. It is read back the same way, from a flash dump.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "formats/image_header.h"
#include "handheld-sim/machine/psm_storage.h"
#include "tests/support/handheld_process.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

namespace nuva {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kImageFlashOffset = 0x40000;
// Room for the seeded storage files in the factory flash contents; the rest
// of the region is left erased.
constexpr uint32_t kSeededRegionBytes = 64 * 1024;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The value of `key` in the status JSON of nuva-handheld: a string's text,
// or the literal (true, false, null, a number). Every key the status has is
// unique across its nested objects.
std::optional<std::string> JsonField(const std::string& json, const std::string& key) {
    const std::string tag = "\"" + key + "\":";
    const size_t at = json.find(tag);
    if (at == std::string::npos)
        return std::nullopt;
    size_t i = at + tag.size();
    std::string value;
    if (i < json.size() && json[i] == '"') {
        for (++i; i < json.size() && json[i] != '"'; ++i) {
            if (json[i] == '\\' && i + 1 < json.size())
                ++i;
            value += json[i];
        }
        if (i >= json.size())
            return std::nullopt;
        return value;
    }
    while (i < json.size() && json[i] != ',' && json[i] != '}')
        value += json[i++];
    return value;
}

// The rest of the driver's line that starts the report `label` ("before:" or
// "after:"), or "" when it did not print one.
std::string ReportLine(const std::string& out, const std::string& label) {
    const size_t at = out.find(" " + label + " ");
    if (at == std::string::npos)
        return "";
    const size_t start = out.find_first_not_of(' ', at + label.size() + 1);
    const size_t end = out.find('\n', start);
    return out.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string Identity(const imagegen::ImageSpec& spec) {
    return "date_code=" + spec.dateCode + " version=" + spec.romName +
           " os_major=" + std::to_string(imagegen::OsMajor(spec.os));
}

// One look at the handheld while the driver runs.
struct Sample {
    uint64_t generation = 0;
    std::string running;
    bool link = false;
    bool desktopConnected = false;
};

struct StorageFile {
    std::u16string name;
    Bytes data;
};

class HandheldHalfTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // ctest sets the scale; a run by hand gets the same.
        ::setenv("NUVA_TIME_SCALE", "0.01", 0);
    }
    void TearDown() override { handheld_.reset(); }

    std::string Path(const std::string& name) const { return folder_.Join(name); }

    // The update image as a file; its bytes are kept in `bytes`.
    std::string WriteImage(const imagegen::ImageSpec& spec, Bytes& bytes) {
        EXPECT_EQ(imagegen::MakeImageFile(spec, bytes), imagegen::ImageGenError::kNone);
        const std::string path = Path("update.nb0");
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    // The factory flash contents: the ROM image, then erased cells up to the
    // built-in storage region, which holds `storage`.
    std::string WriteFactoryRom(const imagegen::ImageSpec& spec, const std::vector<StorageFile>& storage) {
        Bytes bytes;
        EXPECT_EQ(imagegen::MakeImageFile(spec, bytes), imagegen::ImageGenError::kNone);
        const size_t regionAt = kImageHeaderSize + (sim::kPsmFlashOffset - kImageFlashOffset);
        EXPECT_LE(bytes.size(), regionAt);
        bytes.resize(regionAt + kSeededRegionBytes, 0xFF);
        const std::span<uint8_t> region(bytes.data() + regionAt, kSeededRegionBytes);
        for (const StorageFile& file : storage) {
            EXPECT_EQ(sim::WritePsm(region, file.name, file.data), sim::PsmError::kNone);
        }
        const std::string path = Path("factory.nb0");
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    void StartHandheld(const std::string& rom, const char* modelClass) {
        handheld_ = std::make_unique<testing::HandheldProcess>(NUVA_HANDHELD_PROGRAM, Path("hh"));
        std::string error;
        ASSERT_TRUE(handheld_->Start(rom, {"--class", modelClass},
                                     {{"NUVA_TIME_SCALE", ::getenv("NUVA_TIME_SCALE")}}, error))
            << error;
        ::setenv("NUVA_LINK", handheld_->CableEndpoint().c_str(), 1);
    }

    std::string Status() const {
        const testing::CtlResult result = handheld_->Ctl({"status", "--json"});
        EXPECT_EQ(result.exitCode, 0) << result.out;
        return result.out;
    }

    Bytes DumpFlash(uint32_t offset, uint32_t length) {
        const std::string target = Path("flash.dump");
        std::filesystem::remove(target);
        const testing::CtlResult result = handheld_->Ctl(
            {"dump-flash", target, "--offset", std::to_string(offset), "--length", std::to_string(length)});
        EXPECT_EQ(result.exitCode, 0) << result.out;
        return ReadFile(target);
    }

    // The built-in storage's files, as the region in flash holds them now.
    std::vector<sim::PsmFile> StorageFiles(uint32_t flashBytes, sim::PsmError& error) {
        const Bytes region = DumpFlash(sim::kPsmFlashOffset, flashBytes - sim::kPsmFlashOffset);
        std::vector<sim::PsmFile> files;
        error = sim::ReadPsm(region, files);
        return files;
    }

    // Runs the driver on `imagePath` against the handheld and watches the
    // handheld's status until the driver ends. While the flasher runs, its
    // screen is saved to `flasherScreenshot` at every look, so that the
    // picture left is the last one seen.
    testing::CtlResult RunDriver(const std::string& imagePath, std::vector<Sample>& samples,
                                 const std::string& flasherScreenshot) {
        std::atomic<bool> done{false};
        testing::CtlResult driver;
        const auto start = Clock::now();
        std::thread run([&] {
            driver = testing::RunProgram(NUVA_HALF_DRIVER, {imagePath});
            done = true;
        });
        while (!done) {
            const std::string json = Status();
            Sample sample;
            sample.generation = std::stoull(JsonField(json, "boot_generation").value_or("0"));
            const std::string running = JsonField(json, "running").value_or("null");
            sample.running = running == "null" ? "" : running;
            sample.link = JsonField(json, "link") == "true";
            sample.desktopConnected = JsonField(json, "desktop_connected") == "true";
            samples.push_back(sample);
            if (sample.running == "Reflash.exe")
                handheld_->Ctl({"screenshot", flasherScreenshot});
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        run.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        RecordProperty("driver_seconds", std::to_string(seconds));
        std::printf("driver wall time %.2f s, %zu status samples\n%s", seconds, samples.size(),
                    driver.out.c_str());
        return driver;
    }

    // The whole handheld half, checked for what every update must give: the
    // driver's reports before and after, no cable link at any moment of the
    // start in which the flasher ran, the handheld started cold with the new
    // ROM, the image in flash byte for byte, the start-up folder as the
    // factory made it, and the screen saved beside the test.
    void UpdateAndCheck(const imagegen::ImageSpec& factory, const imagegen::ImageSpec& update,
                        const char* modelClass, uint32_t flashBytes, const std::vector<StorageFile>& storage,
                        const std::string& artefactName) {
        Bytes image;
        const std::string imagePath = WriteImage(update, image);
        ASSERT_NO_FATAL_FAILURE(StartHandheld(WriteFactoryRom(factory, storage), modelClass));
        sim::PsmError error = sim::PsmError::kNone;
        ASSERT_EQ(StorageFiles(flashBytes, error).size(), storage.size()) << "the storage was not seeded";
        ASSERT_EQ(error, sim::PsmError::kNone) << sim::DescribePsmError(error);

        const std::string artefacts = std::string(NUVA_ARTEFACT_DIR) + "/" + artefactName;
        std::filesystem::remove(artefacts + "_flasher.png");
        std::vector<Sample> samples;
        const testing::CtlResult driver = RunDriver(imagePath, samples, artefacts + "_flasher.png");
        ASSERT_EQ(driver.exitCode, 0) << driver.out << handheld_->Log();
        EXPECT_EQ(ReportLine(driver.out, "before:"), Identity(factory)) << driver.out;
        EXPECT_EQ(ReportLine(driver.out, "after:"), Identity(update)) << driver.out;

        std::set<uint64_t> flasherStarts;
        for (const Sample& s : samples) {
            if (s.running == "Reflash.exe")
                flasherStarts.insert(s.generation);
        }
        ASSERT_EQ(flasherStarts.size(), 1u)
            << "the flasher was seen running in " << flasherStarts.size() << " starts of the handheld";
        size_t flasherSamples = 0;
        for (const Sample& s : samples) {
            if (flasherStarts.count(s.generation) == 0)
                continue;
            ++flasherSamples;
            EXPECT_FALSE(s.link) << "the cable link was up in the start that ran the flasher";
            EXPECT_FALSE(s.desktopConnected);
        }
        RecordProperty("flasher_status_samples", std::to_string(flasherSamples));

        const std::string status = Status();
        EXPECT_EQ(JsonField(status, "started"), "true") << status;
        EXPECT_EQ(JsonField(status, "link"), "true") << status;
        EXPECT_EQ(JsonField(status, "bricked"), "null") << status;
        EXPECT_EQ(JsonField(status, "crashed"), "null") << status;
        EXPECT_EQ(JsonField(status, "message_box"), "null") << status;
        EXPECT_EQ(JsonField(status, "date_code"), update.dateCode) << status;
        EXPECT_EQ(JsonField(status, "version"), update.romName) << status;
        EXPECT_EQ(JsonField(status, "os_major"), std::to_string(imagegen::OsMajor(update.os))) << status;
        EXPECT_GT(std::stoull(JsonField(status, "boot_generation").value_or("0")), *flasherStarts.begin());

        const uint32_t contentBytes = imagegen::ContentBytes(update.os);
        ASSERT_EQ(image.size(), kImageHeaderSize + contentBytes);
        const Bytes flash = DumpFlash(kImageFlashOffset, contentBytes);
        ASSERT_EQ(flash.size(), contentBytes);
        EXPECT_TRUE(std::equal(flash.begin(), flash.end(), image.begin() + kImageHeaderSize))
            << "the flash does not hold the image";

        // A cold start brings back the factory files: the flasher is gone
        // from the start-up folder and the shortcuts are back.
        const testing::CtlResult startup = handheld_->Ctl({"ls", "\\Windows\\StartUp"});
        EXPECT_EQ(startup.out.find("Reflash.exe"), std::string::npos) << startup.out;
        EXPECT_NE(startup.out.find("Welcome.lnk"), std::string::npos) << startup.out;

        EXPECT_TRUE(std::filesystem::exists(artefacts + "_flasher.png"));
        const std::string screenshot = artefacts + "_end.png";
        std::filesystem::remove(screenshot);
        ASSERT_EQ(handheld_->Ctl({"screenshot", screenshot}).exitCode, 0);
        const Bytes png = ReadFile(screenshot);
        ASSERT_GE(png.size(), 24u);
        EXPECT_TRUE(std::equal(png.begin(), png.begin() + 8,
                               Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}.begin()));
        // IHDR: width 240, height 320, big-endian.
        EXPECT_EQ(Bytes(png.begin() + 16, png.begin() + 24), (Bytes{0, 0, 0, 240, 0, 0, 1, 64}));
        RecordProperty("screenshot", screenshot);
    }

    testing::TempFolder folder_{"nuva-half"};
    std::unique_ptr<testing::HandheldProcess> handheld_;
};

std::vector<StorageFile> UserFiles() {
    Bytes contacts(3000);
    for (size_t i = 0; i < contacts.size(); ++i)
        contacts[i] = static_cast<uint8_t>(i * 7 + 3);
    const std::string note = "call the office before noon";
    return {{u"Contacts.cdb", contacts}, {u"Note.txt", Bytes(note.begin(), note.end())}};
}

imagegen::ImageSpec Spec(imagegen::OsFamily os, imagegen::ModelClass modelClass, const char* date,
                         const char* name) {
    imagegen::ImageSpec spec;
    spec.os = os;
    spec.modelClass = modelClass;
    spec.dateCode = date;
    spec.romName = name;
    return spec;
}

TEST_F(HandheldHalfTest, SameGenerationUpdateKeepsTheBuiltInStorage) {
    const auto factory = Spec(imagegen::OsFamily::k2003, imagegen::ModelClass::kBasic, "01150300", "A01");
    const auto update = Spec(imagegen::OsFamily::k2003, imagegen::ModelClass::kBasic, "04100300", "A03");
    const std::vector<StorageFile> storage = UserFiles();
    const uint32_t flashBytes = 32u << 20;

    UpdateAndCheck(factory, update, "basic", flashBytes, storage, "handheld_half_same_generation");

    sim::PsmError error = sim::PsmError::kNone;
    const std::vector<sim::PsmFile> kept = StorageFiles(flashBytes, error);
    EXPECT_EQ(error, sim::PsmError::kNone) << sim::DescribePsmError(error);
    ASSERT_EQ(kept.size(), storage.size());
    for (size_t i = 0; i < storage.size(); ++i) {
        EXPECT_TRUE(kept[i].name == storage[i].name);
        EXPECT_EQ(kept[i].data, storage[i].data);
    }
}

TEST_F(HandheldHalfTest, CrossGenerationUpdateErasesTheBuiltInStorage) {
    const auto factory = Spec(imagegen::OsFamily::k2002, imagegen::ModelClass::kAdvanced, "11200200", "A02");
    const auto update = Spec(imagegen::OsFamily::k2003, imagegen::ModelClass::kAdvanced, "04100300", "A03");
    const uint32_t flashBytes = 48u << 20;

    UpdateAndCheck(factory, update, "advanced", flashBytes, UserFiles(), "handheld_half_cross_generation");

    // Not only the files: the whole region is erased.
    const Bytes region = DumpFlash(sim::kPsmFlashOffset, flashBytes - sim::kPsmFlashOffset);
    ASSERT_EQ(region.size(), flashBytes - sim::kPsmFlashOffset);
    EXPECT_EQ(std::count(region.begin(), region.end(), uint8_t{0xFF}), static_cast<ptrdiff_t>(region.size()))
        << "the built-in storage region is not erased";
}

}  // namespace
}  // namespace nuva
