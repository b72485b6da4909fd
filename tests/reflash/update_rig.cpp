#include "update_rig.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "formats/byte_sum.h"
#include "handheld-sim/store/object_store.h"

namespace nuva::reflash::test {

Rom MakeRom(imagegen::OsFamily os, const std::string& dateCode, const std::string& name) {
    imagegen::ImageSpec spec;
    spec.os = os;
    spec.dateCode = dateCode;
    spec.romName = name;
    Rom rom;
    rom.dateCode = dateCode;
    if (imagegen::MakeImageFile(spec, rom.file) != imagegen::ImageGenError::kNone ||
        rom.file.size() < kImageHeaderSize) {
        rom.file.clear();
        return rom;
    }
    rom.header = ImageHeader::FromFile(rom.file.data());
    return rom;
}

bool UpdateRig::Start(const Rom& rom, uint32_t bootMs, std::string* detail) {
    sim::FactorySettings settings;
    settings.uuid = sim::SupportedUuid();
    settings.bootMs = bootMs;
    handheld_ = sim::Handheld::Create(settings, rom.file, "", nullptr, detail);
    if (!handheld_) {
        return false;
    }
    handheld_->PowerOn();
    if (!handheld_->WaitUntilStarted(std::chrono::seconds(30)) ||
        handheld_->Status().rom.dateCode != rom.dateCode) {
        *detail = "the handheld did not start with its factory ROM";
        return false;
    }
    return true;
}

UpdateHandoff UpdateRig::Plan(const Rom& rom, PlanMode mode) {
    UpdateHandoff plan = PlanImageWrite(rom.header, handheld_->Status().rom.osMajor, mode);
    for (uint32_t i = 0; i < plan.Items && i < plan.parts.size(); ++i) {
        ImagePart& part = plan.parts[i];
        part.PartSum = ByteSum(rom.Contents() + part.ImageOffset, part.PartLength);
    }
    return plan;
}

bool UpdateRig::LeaveForFlasher(const Rom& rom, const UpdateHandoff& plan) {
    for (uint32_t i = 0; i < plan.Items && i < plan.parts.size(); ++i) {
        const ImagePart& part = plan.parts[i];
        if (part.ImageOffset + uint64_t{part.PartLength} > rom.ContentBytes() ||
            !PutFile(part.PartName.data(), {rom.Contents() + part.ImageOffset, part.PartLength})) {
            return false;
        }
    }
    auto handoff = WriteHandoffFile(plan);
    return LeaveFlasher() && PutFile(u"\\temp\\updinfo.ini", handoff);
}

bool UpdateRig::LeaveFlasher() {
    std::ifstream in(flasher_, std::ios::binary);
    std::vector<uint8_t> flasher{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (flasher.empty() || !PutFile(kFlasherPath, flasher)) {
        return false;
    }
    auto store = handheld_->Store();
    store.Files().Delete(u"\\Windows\\StartUp\\poutlook.lnk");
    store.Files().Delete(u"\\Windows\\StartUp\\Welcome.lnk");
    sim::RegKey drivers;
    if (store.Reg().OpenKey(store.Reg().Root(sim::RegRoot::kLocalMachine), sim::kBuiltInDriversKey,
                            &drivers) != sim::store_error::kSuccess) {
        return false;
    }
    store.Reg().DeleteKey(drivers, u"USB");
    store.Reg().DeleteKey(drivers, u"Serial");
    return true;
}

bool UpdateRig::PutFile(std::u16string_view path, std::span<const uint8_t> bytes) {
    auto store = handheld_->Store();
    return store.Files().Put(path, bytes) == sim::store_error::kSuccess;
}

bool UpdateRig::DeleteFile(std::u16string_view path) {
    auto store = handheld_->Store();
    return store.Files().Delete(path) == sim::store_error::kSuccess;
}

bool UpdateRig::HasFile(std::u16string_view path) {
    auto store = handheld_->Store();
    sim::EntryInfo info;
    return store.Files().Stat(path, &info) == sim::store_error::kSuccess;
}

std::vector<uint8_t> UpdateRig::FileBytes(std::u16string_view path) {
    auto store = handheld_->Store();
    std::vector<uint8_t> bytes;
    store.Files().Get(path, &bytes);
    return bytes;
}

uint64_t UpdateRig::RestartWarm() {
    uint64_t before = handheld_->Status().bootGeneration;
    handheld_->Reset(sim::ResetKind::kWarm);
    handheld_->WaitForRestart(before, std::chrono::seconds(10));
    return handheld_->Status().bootGeneration;
}

sim::HandheldStatus UpdateRig::WaitUntil(const std::function<bool(const sim::HandheldStatus&)>& done,
                                         std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    sim::HandheldStatus status = handheld_->Status();
    while (!done(status) && status.crashedReason.empty() && status.brickedReason.empty() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        status = handheld_->Status();
    }
    return status;
}

sim::HandheldStatus UpdateRig::WaitForStart(uint64_t generation, uint64_t starts,
                                            std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&](const sim::HandheldStatus& s) {
            return s.bootGeneration >= generation + starts && s.started && !s.restarting;
        },
        timeout);
}

std::string UpdateRig::CheckRunsRom(const Rom& rom) {
    sim::HandheldStatus status = handheld_->Status();
    if (!status.started) {
        return "the handheld has not started: " + status.brickedReason + status.crashedReason;
    }
    if (status.rom.dateCode != rom.dateCode) {
        return "the handheld runs ROM " + status.rom.dateCode + ", not " + rom.dateCode;
    }
    auto flash = handheld_->DumpFlash(kContentFlashOffset, rom.ContentBytes());
    auto mismatch = std::mismatch(flash.begin(), flash.end(), rom.Contents());
    if (flash.size() != rom.ContentBytes() || mismatch.first != flash.end()) {
        std::ostringstream text;
        text << "the flash differs from the image from content offset 0x" << std::hex
             << (mismatch.first - flash.begin());
        return text.str();
    }
    return {};
}

const sim::StartupRecord* UpdateRig::FlasherRecord(const sim::HandheldStatus& status) {
    for (const auto& record : status.startup) {
        if (record.name == u"Reflash.exe") {
            return &record;
        }
    }
    return nullptr;
}

}  // namespace nuva::reflash::test
