#include "tests/agent/agent_harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "formats/le.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::test {
namespace {

std::vector<uint8_t> ReadAgentLibrary() {
    std::ifstream in(NUVA_AGENT_DLL, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) {
        ADD_FAILURE() << "cannot read the built agent library " << NUVA_AGENT_DLL;
    }
    return bytes;
}

// Images take a moment to make; each kind is made once per test program.
const std::vector<uint8_t>& ImageFor(const imagegen::ImageSpec& spec) {
    static std::mutex mu;
    static std::map<std::string, std::vector<uint8_t>> images;
    const std::string key = std::to_string(static_cast<int>(spec.os)) + "/" +
                            std::to_string(static_cast<int>(spec.modelClass)) + "/" + spec.language + "/" +
                            spec.dateCode + "/" + spec.romName;
    std::lock_guard<std::mutex> lock(mu);
    auto found = images.find(key);
    if (found == images.end()) {
        std::vector<uint8_t> file;
        EXPECT_EQ(imagegen::MakeImageFile(spec, file), imagegen::ImageGenError::kNone);
        found = images.emplace(key, std::move(file)).first;
    }
    return found->second;
}

}  // namespace

std::vector<uint8_t> WideBlock(std::u16string_view text) {
    std::vector<uint8_t> block(2 * (text.size() + 1));
    for (size_t i = 0; i < text.size(); ++i) {
        StoreLe16(block.data() + 2 * i, static_cast<uint16_t>(text[i]));
    }
    return block;
}

std::vector<uint8_t> FlashRequest(uint32_t address, uint32_t length) {
    std::vector<uint8_t> block(8);
    StoreLe32(block.data(), address);
    StoreLe32(block.data() + 4, length);
    return block;
}

std::vector<uint8_t> ShowRequest(uint32_t frameBuffer, std::string_view text) {
    std::vector<uint8_t> block(8 + text.size() + 1);
    StoreLe32(block.data(), frameBuffer);
    std::copy(text.begin(), text.end(), block.begin() + 8);
    return block;
}

sim::FactorySettings AgentHandheld::Supported() {
    sim::FactorySettings settings;
    settings.uuid = sim::SupportedUuid(true);
    return settings;
}

AgentHandheld::AgentHandheld(const sim::FactorySettings& settings, const imagegen::ImageSpec& spec)
    : image_(ImageFor(spec)) {
    sim::CreateError error = sim::CreateError::kNone;
    std::string detail;
    handheld_ = sim::Handheld::Create(settings, image_, "", &error, &detail);
    if (handheld_ == nullptr) {
        ADD_FAILURE() << "the handheld was not made: " << sim::DescribeCreateError(error) << " " << detail;
        return;
    }
    handheld_->PowerOn();
    EXPECT_TRUE(handheld_->WaitUntilStarted(kStartTimeout)) << handheld_->Status().brickedReason;
    PutFile(u"\\Windows\\NUVA7INVOKE.DLL", ReadAgentLibrary());
}

AgentCall AgentHandheld::Call(std::u16string_view function, std::span<const uint8_t> input) {
    AgentCall call;
    call.result = handheld_->InvokeExport(u"NUVA7INVOKE", function, input, call.output, &call.detail);
    return call;
}

DeviceInfo AgentHandheld::Info() {
    const AgentCall call = Call(u"FnNUVAInfo", WideBlock(u"ALL"));
    EXPECT_EQ(call.result, S_OK) << call.detail;
    EXPECT_EQ(call.output.size(), kDeviceInfoSize);
    if (call.output.size() < kDeviceInfoSize) {
        return DeviceInfo{};
    }
    return ReadDeviceInfo(call.output.data());
}

void AgentHandheld::PutFile(std::u16string_view path, std::span<const uint8_t> contents) {
    auto store = handheld_->Store();
    ASSERT_EQ(store.Files().Put(path, contents), sim::store_error::kSuccess);
}

bool AgentHandheld::FileExists(std::u16string_view path) {
    auto store = handheld_->Store();
    sim::EntryInfo info;
    return store.Files().Stat(path, &info) == sim::store_error::kSuccess;
}

bool AgentHandheld::KeyExists(std::u16string_view path) {
    auto store = handheld_->Store();
    return store.Reg().KeyExists(sim::RegRoot::kLocalMachine, path);
}

HRESULT AgentHandheld::CallAndRestart(std::u16string_view function, std::span<const uint8_t> input) {
    const uint64_t generation = handheld_->Status().bootGeneration;
    const AgentCall call = Call(function, input);
    EXPECT_TRUE(handheld_->WaitForRestart(generation, kStartTimeout));
    EXPECT_TRUE(handheld_->WaitUntilStarted(kStartTimeout, generation));
    return call.result;
}

}  // namespace nuva::test
