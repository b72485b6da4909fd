// Helpers shared by the device link tests: a scratch folder for desktop
// files, byte patterns, and a sink that records what was posted to it.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "setup/link/message_sink.h"

namespace link_test {

using Bytes = std::vector<uint8_t>;

// Bytes that differ from their neighbours, so a shifted or short copy shows.
inline Bytes Pattern(size_t size, uint32_t seed = 1) {
    Bytes out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

class ScratchDir {
  public:
    ScratchDir() {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        path_ =
            std::filesystem::temp_directory_path() / ("nuva-link-" + std::string(info->test_suite_name()) +
                                                      "-" + info->name() + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const auto file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file.string();
    }
    std::string Path(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

inline Bytes ReadDesktopFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Posted {
    uint32_t message;
    uint32_t wParam;
    uint32_t lParam;
    bool operator==(const Posted&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Posted& p) {
    return os << std::hex << "{0x" << p.message << ", " << std::dec << p.wParam << ", " << p.lParam << "}";
}

class RecordingSink : public nuva::MessageSink {
  public:
    void Post(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        std::lock_guard hold(lock_);
        posted_.push_back({message, wParam, lParam});
    }
    bool IsAlive() const override { return alive_; }
    void Destroy() { alive_ = false; }
    std::vector<Posted> Posts() const {
        std::lock_guard hold(lock_);
        return posted_;
    }
    std::vector<Posted> Posts(uint32_t message) const {
        std::vector<Posted> out;
        for (const Posted& p : Posts()) {
            if (p.message == message)
                out.push_back(p);
        }
        return out;
    }

  private:
    mutable std::mutex lock_;
    std::vector<Posted> posted_;
    std::atomic<bool> alive_{true};
};

}  // namespace link_test
