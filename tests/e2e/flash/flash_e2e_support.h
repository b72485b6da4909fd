// Whole runs of nuva-flash against a running nuva-handheld: installation
// folders as Setup finds them (the program, the agent library, the flasher,
// setup.ini and the update images), factory ROMs (with user files in the
// built-in storage when asked), and nuva-flash as a child process whose
// output a test can wait for while it acts on the handheld.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/handheld_process.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

namespace flash_e2e {

using Bytes = std::vector<uint8_t>;

bool WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

// A field of the handheld's JSON status ("date_code", "version", ...).
std::string JsonField(const std::string& json, const std::string& key);

// A user file of the built-in storage.
struct StorageFile {
    std::u16string name;
    Bytes data;
};

// nuva-flash running as a child process, its standard output and error
// collected as they come.
class FlashRun {
  public:
    // `typed` is what stands on its standard input (then its end).
    FlashRun(const std::string& program, const std::vector<std::string>& args,
             const std::string& cableEndpoint, const std::string& typed = "");
    ~FlashRun();
    FlashRun(const FlashRun&) = delete;
    FlashRun& operator=(const FlashRun&) = delete;

    // Waits until the output holds `text`; false when the program ended or
    // time ran out first.
    bool WaitFor(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Waits for the program to end; its exit code (-1 when killed after
    // `limit`).
    int Finish(std::chrono::milliseconds limit = std::chrono::seconds(120));
    bool Running() const;
    std::string Output() const;

  private:
    void Collect(int fd);

    pid_t pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    bool closed_ = false;
    int exitCode_ = -1;
};

class FlashE2E : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const { return folder_->Join(name); }

    // An installation folder named `name` with the update images `high`
    // (HIMODEL) and `low` (LOWMODEL) and the extra setup.ini text.
    std::string MakeInstallation(const std::string& name, const nuva::imagegen::ImageSpec& high,
                                 const nuva::imagegen::ImageSpec& low, const std::string& extraIni = "");
    // The build's demo installation (A03, 04100300, Pocket PC 2003, EN for
    // both classes).
    static std::string DemoInstallation();

    // A factory ROM file of `spec`, with `storage` in the built-in storage.
    std::string FactoryRom(const std::string& name, const nuva::imagegen::ImageSpec& spec,
                           const std::vector<StorageFile>& storage = {});
    void StartHandheld(const std::string& rom, const std::vector<std::string>& options = {});

    // nuva-flash of `installation`, started against the handheld.
    std::unique_ptr<FlashRun> Flash(const std::string& installation, const std::vector<std::string>& args,
                                    const std::string& typed = "");
    // The same, run to its end: the exit code, with the output in `output`.
    int RunFlash(const std::string& installation, const std::vector<std::string>& args, std::string& output,
                 const std::string& typed = "");

    nuva::testing::CtlResult Ctl(const std::vector<std::string>& args);
    std::string Status();
    // "date_code version os_major" of the ROM the handheld reports.
    std::string RomIdentity();
    static std::string Identity(const nuva::imagegen::ImageSpec& spec);

    Bytes DumpFlash(uint32_t offset, uint32_t length);
    // The ROM contents of `spec`, as the flash must hold them from 0x40000.
    static Bytes Contents(const nuva::imagegen::ImageSpec& spec);
    std::vector<StorageFile> StorageFiles(uint32_t flashBytes, bool& readable);

    std::unique_ptr<nuva::testing::TempFolder> folder_;
    std::unique_ptr<nuva::testing::HandheldProcess> handheld_;
};

// The ROMs the tests use.
nuva::imagegen::ImageSpec Rom(nuva::imagegen::OsFamily os, const char* date, const char* name,
                              const char* language = "EN",
                              nuva::imagegen::ModelClass modelClass = nuva::imagegen::ModelClass::kAdvanced);
inline constexpr uint32_t kAdvancedFlashBytes = 48u * 1024 * 1024;

}  // namespace flash_e2e
