#include "tests/setup/runs/run_fakes.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "formats/byte_sum.h"
#include "formats/image_header.h"
#include "formats/le.h"
#include "setup/resources/string_table.h"

namespace nuva::test {

void RecordingSink::Post(uint32_t message, uint32_t wParam, uint32_t lParam) {
    std::lock_guard lock(mutex_);
    posted_.push_back({message, wParam, lParam});
}

std::vector<Posted> RecordingSink::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(posted_, {});
}

bool RecordingSink::WaitFor(uint32_t message, int milliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(mutex_);
            for (const Posted& p : posted_) {
                if (p.message == message) {
                    return true;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

std::string WriteSmallImage(const std::string& name, uint8_t osCode, uint8_t model, size_t contentBytes) {
    ImageHeader header;
    header.SetText(header_offset::kMagic, "BREL", 4);
    header.SetText(header_offset::kDateCode, "04100300", 8);
    header.SetText(header_offset::kLanguageCode, "EN", 2);
    header.SetByte(header_offset::kModelByte, model);
    header.SetByte(header_offset::kOsCode, osCode);
    header.SetText(header_offset::kMarker, "NUVA7", 5);
    header.SetText(header_offset::kRomName, "A03", 8);
    auto stored = header.ToFile();
    std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
    std::string contents(contentBytes, '\x5A');
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return path;
}

std::string Text(uint32_t id) {
    return LoadString(id);
}

}  // namespace nuva::test
