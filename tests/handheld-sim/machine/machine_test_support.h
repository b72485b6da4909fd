// Helpers of the machine's tests: small ROM images, started handhelds, the
// test program and library, files of the store.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::sim::test {

using namespace std::chrono_literals;

// An image file (zero header, then contents of `contentBytes`) whose
// contents carry a valid ROM identity block covering all of them.
std::vector<uint8_t> SmallImage(const std::string& dateCode = "04100300", const std::string& version = "A03",
                                uint32_t osMajor = 4, uint32_t language = 0x0409,
                                uint32_t contentBytes = 0x8000);

// Settings of a supported Advanced handheld with a short boot.
FactorySettings TestSettings(bool advanced = true);

// A powered-on handheld that has started and launched its start-up
// programs (the test fails otherwise).
std::unique_ptr<Handheld> StartedHandheld(const FactorySettings& settings = TestSettings(),
                                          const std::vector<uint8_t>& image = SmallImage(),
                                          const std::string& stateDir = "");

std::vector<uint8_t> ReadHostFile(const std::string& path);

// The bytes of a file of the handheld's store; empty when missing.
std::vector<uint8_t> StoreFile(Handheld& handheld, const std::u16string& path);
bool StoreHas(Handheld& handheld, const std::u16string& path);
void PutStoreFile(Handheld& handheld, const std::u16string& path, const std::vector<uint8_t>& bytes);
void PutStoreText(Handheld& handheld, const std::u16string& path, const std::string& text);

// Puts the test program into \Windows\StartUp under `name`, with `script`.
void InstallTestProgram(Handheld& handheld, const std::string& script,
                        const std::u16string& name = u"Test.exe");

// A fresh temporary folder, removed with its contents when destroyed.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace nuva::sim::test
