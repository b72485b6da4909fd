#include "handheld-sim/machine/handheld.h"

#include "formats/image_header.h"
#include "handheld-sim/machine/machine.h"
#include "handheld-sim/machine/screenshot.h"
#include "handheld-sim/machine/state_folder.h"
#include "platform/wince/nuva_platform.h"

namespace nuva::sim {
namespace {

std::unique_ptr<Handheld> Failed(CreateError code, const std::string& why, CreateError* error,
                                 std::string* detail) {
    if (error != nullptr) {
        *error = code;
    }
    if (detail != nullptr) {
        *detail = why;
    }
    return nullptr;
}

}  // namespace

std::array<uint8_t, 16> SupportedUuid(bool supported) {
    std::array<uint8_t, 16> uuid = {0x4E, 0x51, 0x37, 0x00, 0x20, 0x04, 0x11, 0x05, 0x00, 0x01};
    for (size_t i = 0; i < 6; ++i) {
        uuid[10 + i] = kHeaderKey[i];
    }
    if (!supported) {
        uuid[15] = static_cast<uint8_t>(uuid[15] ^ 0xFF);
    }
    return uuid;
}

const char* DescribePsmError(PsmError error) {
    switch (error) {
        case PsmError::kNone:
            return "no error";
        case PsmError::kNotMounted:
            return "the built-in storage is not mounted";
        case PsmError::kNoSpace:
            return "the built-in storage has no room left";
        case PsmError::kBadName:
            return "the file name is empty, too long or holds a \"\\\"";
        case PsmError::kNotFound:
            return "no such file in the built-in storage";
        case PsmError::kDamaged:
            return "the built-in storage holds a damaged record";
    }
    return "unknown built-in storage error";
}

const char* DescribeCreateError(CreateError error) {
    switch (error) {
        case CreateError::kNone:
            return "no error";
        case CreateError::kBadImage:
            return "the image is too short or does not fit the flash";
        case CreateError::kCannotRead:
            return "the image file cannot be read";
        case CreateError::kStateFolder:
            return "the state folder cannot be written";
        case CreateError::kBadState:
            return "the state folder is damaged";
        case CreateError::kHostRefused:
            return "the host refused the handheld's memory";
    }
    return "unknown error";
}

Handheld::Handheld(std::unique_ptr<Machine> machine) : machine_(std::move(machine)) {}

Handheld::~Handheld() = default;

std::unique_ptr<Handheld> Handheld::Create(const FactorySettings& settings, std::span<const uint8_t> image,
                                           const std::string& stateDir, CreateError* error,
                                           std::string* detail) {
    auto machine = std::make_unique<Machine>(settings, stateDir);
    std::string why;
    if (!machine->Ready(why)) {
        return Failed(CreateError::kHostRefused, why, error, detail);
    }
    CreateError loaded = machine->LoadImage(image, why);
    if (loaded != CreateError::kNone) {
        return Failed(loaded, why, error, detail);
    }
    if (!stateDir.empty()) {
        machine->KeepStateFolder();
        if (!machine->SaveState(&why)) {
            return Failed(CreateError::kStateFolder, why, error, detail);
        }
    }
    if (error != nullptr) {
        *error = CreateError::kNone;
    }
    return std::unique_ptr<Handheld>(new Handheld(std::move(machine)));
}

std::unique_ptr<Handheld> Handheld::CreateFromFile(const FactorySettings& settings,
                                                   const std::string& imagePath, const std::string& stateDir,
                                                   CreateError* error, std::string* detail) {
    std::vector<uint8_t> image;
    std::string why;
    // An image is at most the header and a whole flash.
    if (!ReadFileWhole(imagePath, kImageHeaderSize + (64u << 20), image, why)) {
        return Failed(CreateError::kCannotRead, why, error, detail);
    }
    return Create(settings, image, stateDir, error, detail);
}

std::unique_ptr<Handheld> Handheld::Open(const std::string& stateDir, CreateError* error,
                                         std::string* detail) {
    std::vector<uint8_t> text;
    std::string why;
    if (stateDir.empty() || !ReadFileWhole(stateDir + "/" + kConfigFile, 1u << 16, text, why)) {
        return Failed(CreateError::kBadState, stateDir.empty() ? "no state folder given" : why, error,
                      detail);
    }
    StateConfig config;
    if (!ParseStateConfig(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), config,
                          why)) {
        return Failed(CreateError::kBadState, std::string(kConfigFile) + ": " + why, error, detail);
    }
    auto machine = std::make_unique<Machine>(config.settings, stateDir);
    if (!machine->Ready(why)) {
        return Failed(CreateError::kHostRefused, why, error, detail);
    }
    CreateError loaded = machine->LoadState(config, why);
    if (loaded != CreateError::kNone) {
        return Failed(loaded, why, error, detail);
    }
    machine->KeepStateFolder();
    if (error != nullptr) {
        *error = CreateError::kNone;
    }
    return std::unique_ptr<Handheld>(new Handheld(std::move(machine)));
}

const FactorySettings& Handheld::Settings() const {
    return machine_->Settings();
}

void Handheld::PowerOn() {
    machine_->PowerOn();
}
void Handheld::Reset(ResetKind kind) {
    machine_->Reset(kind);
}
bool Handheld::WaitUntilStarted(std::chrono::milliseconds timeout, uint64_t after) {
    return machine_->WaitUntilStarted(timeout, after);
}
bool Handheld::WaitUntilIdle(std::chrono::milliseconds timeout) {
    return machine_->WaitUntilIdle(timeout);
}
bool Handheld::WaitForRestart(uint64_t generation, std::chrono::milliseconds timeout) {
    return machine_->WaitForRestart(generation, timeout);
}
HandheldStatus Handheld::Status() const {
    return machine_->Status();
}
bool Handheld::Save(std::string* detail) {
    return machine_->SaveState(detail);
}

void Handheld::Plug(bool plugged) {
    machine_->Plug(plugged);
}
bool Handheld::LinkAvailable() const {
    return machine_->LinkAvailable();
}
uint64_t Handheld::LinkGeneration() const {
    return machine_->LinkGeneration();
}
bool Handheld::WaitForLinkChange(uint64_t seen, std::chrono::milliseconds timeout) {
    return machine_->WaitForLinkChange(seen, timeout);
}
void Handheld::SetLinkListener(std::function<void(bool available)> listener) {
    machine_->SetLinkListener(std::move(listener));
}

HRESULT Handheld::InvokeExport(std::u16string_view library, std::u16string_view function,
                               std::span<const uint8_t> input, std::vector<uint8_t>& output,
                               std::string* detail) {
    return machine_->InvokeExport(library, function, input, output, detail);
}

OSVERSIONINFOW Handheld::OsVersion() const {
    return machine_->OsVersion();
}

Handheld::StoreAccess Handheld::Store() {
    return StoreAccess(std::unique_lock<std::mutex>(machine_->StoreMutex()), machine_->Store().files,
                       machine_->Store().registry);
}

std::optional<std::u16string> Handheld::SpecialFolder(std::u16string_view name) {
    if (SameName(name, u"startup")) {
        return std::u16string(kStartupFolder);
    }
    return std::nullopt;
}

void Handheld::SetAc(bool online) {
    machine_->SetAc(online);
}
void Handheld::SetBattery(std::optional<uint8_t> percent) {
    machine_->SetBattery(percent);
}
std::optional<MessageBoxState> Handheld::MessageBox() const {
    return machine_->MessageBoxUp();
}
bool Handheld::PressOk() {
    return machine_->PressOk();
}

void Handheld::DeliverTick() {
    machine_->DeliverTick();
}
bool Handheld::WaitForMessageBox(std::chrono::milliseconds timeout) {
    return machine_->WaitForMessageBox(timeout);
}

std::vector<uint16_t> Handheld::Screen() const {
    return machine_->Screen();
}

bool Handheld::SaveScreenshot(const std::string& path, std::string* detail) const {
    std::vector<uint16_t> pixels = machine_->Screen();
    return WriteScreenPng(path, pixels, NUVA_SCREEN_WIDTH, NUVA_SCREEN_HEIGHT, detail);
}

FlashBank& Handheld::Flash() {
    return machine_->Flash();
}
void Handheld::WithFlash(const std::function<void(FlashBank&)>& body) {
    machine_->WithFlash(body);
}
std::vector<uint8_t> Handheld::DumpFlash(uint32_t offset, uint32_t length) const {
    return machine_->DumpFlash(offset, length);
}
uint32_t Handheld::FlashBytes() const {
    return machine_->FlashBytes();
}
uint32_t Handheld::RamBytes() const {
    return machine_->RamBytes();
}
void Handheld::FragmentRam(uint32_t calls) {
    machine_->FragmentRam(calls);
}
std::optional<uint32_t> Handheld::ReadRamWord(uint32_t kernelAddress) const {
    return machine_->ReadRamWord(kernelAddress);
}
std::vector<RegisterWrite> Handheld::RegisterWrites() const {
    return machine_->RegisterWrites();
}
std::optional<uint32_t> Handheld::RegisterValue(uint32_t address) const {
    return machine_->RegisterValue(address);
}

PsmError Handheld::PutPsmFile(std::u16string_view name, std::span<const uint8_t> data) {
    return machine_->PutPsmFile(name, data);
}

PsmError Handheld::ListPsmFiles(std::vector<PsmFile>& files) const {
    return machine_->ListPsmFiles(files);
}

PsmError Handheld::GetPsmFile(std::u16string_view name, std::vector<uint8_t>& data) const {
    data.clear();
    std::vector<PsmFile> files;
    PsmError error = machine_->ListPsmFiles(files);
    for (const PsmFile& file : files) {
        if (SameName(file.name, name)) {
            data = file.data;
            return PsmError::kNone;
        }
    }
    return error == PsmError::kNone ? PsmError::kNotFound : error;
}

ProgramEnd Handheld::RunAsProgram(const std::function<void()>& body) {
    return machine_->RunAsProgram(body);
}

}  // namespace nuva::sim
