#include "agent/platform_queries.h"

#include <cstring>

#include "formats/image_header.h"
#include "formats/le.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace nuva::agent {
namespace {

constexpr int kMemoryConfigAttempts = 10;
constexpr DWORD kUnexpectedAnswerPauseMs = 5;
constexpr DWORD kPowerRequestBytes = 20;
constexpr DWORD kPowerMemoryAnswerBytes = 24;
constexpr size_t kInfoWord72 = 72;
constexpr size_t kInfoWord28 = 28;
constexpr size_t kInfoRomVersionBytes = 8;

using PowerInfoBlock = std::array<uint8_t, NUVA_POWER_INFO_BLOCK_SIZE>;

// The power driver, opened for one request and closed again.
class PowerDriver {
  public:
    PowerDriver()
        : handle_(CreateFileW(u"PWR1:", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~PowerDriver() {
        if (IsOpen()) {
            CloseHandle(handle_);
        }
    }
    PowerDriver(const PowerDriver&) = delete;
    PowerDriver& operator=(const PowerDriver&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

    // Sends the 20-byte request whose first word is `request`.
    bool Request(uint32_t request, uint8_t* answer, DWORD answerBytes) const {
        std::array<uint8_t, kPowerRequestBytes> input{};
        StoreLe32(input.data(), request);
        DWORD returned = 0;
        return DeviceIoControl(handle_, IOCTL_NUVA_POWER_DRIVER_REQUEST, input.data(), kPowerRequestBytes,
                               answer, answerBytes, &returned, nullptr) != FALSE;
    }

  private:
    HANDLE handle_;
};

bool IsModelCode(uint32_t code) {
    return code == NUVA_MEMORY_ADVANCED || code == NUVA_MEMORY_BASIC;
}

bool OemRequest(DWORD code, uint32_t selector, uint8_t* answer, DWORD answerBytes) {
    std::array<uint8_t, 4> input{};
    StoreLe32(input.data(), selector);
    DWORD returned = 0;
    return KernelIoControl(code, input.data(), static_cast<DWORD>(input.size()), answer, answerBytes,
                           &returned) != FALSE;
}

// The power driver's information block; false when the driver does not
// open or does not answer.
bool ReadPowerInfoBlock(PowerInfoBlock& block) {
    block.fill(0);
    const PowerDriver driver;
    return driver.IsOpen() &&
           driver.Request(NUVA_POWER_INFO_BLOCK, block.data(), static_cast<DWORD>(block.size()));
}

}  // namespace

bool ReadDeviceUuid(DeviceUuid& uuid) {
    uuid.fill(0);
    DWORD returned = 0;
    if (KernelIoControl(IOCTL_HAL_GET_UUID, nullptr, 0, uuid.data(), static_cast<DWORD>(uuid.size()),
                        &returned) == FALSE) {
        uuid.fill(0);
        return false;
    }
    return true;
}

bool HasModelSignature(const DeviceUuid& uuid) {
    constexpr size_t kSignatureAt = 10;
    constexpr size_t kSignatureBytes = 6;
    for (size_t i = 0; i < kSignatureBytes; ++i) {
        if (uuid[kSignatureAt + i] != kHeaderKey[i]) {
            return false;
        }
    }
    return true;
}

uint32_t QueryMemoryConfig() {
    for (int attempt = 0; attempt < kMemoryConfigAttempts; ++attempt) {
        std::array<uint8_t, 4> answer{};
        if (OemRequest(IOCTL_NUVA_PLATFORM_COMMAND, NUVA_COMMAND_MEMORY_CONFIG, answer.data(), 4)) {
            const uint32_t code = LoadLe32(answer.data());
            if (!IsModelCode(code)) {
                // The OEM layer answered with something else: give it a moment
                // and take the answer as it is (the caller reports 0 for it).
                Sleep(kUnexpectedAnswerPauseMs);
            }
            return code;
        }
        const PowerDriver driver;
        if (!driver.IsOpen()) {
            return 0;
        }
        std::array<uint8_t, kPowerMemoryAnswerBytes> reply{};
        if (driver.Request(NUVA_POWER_MEMORY_CONFIG, reply.data(), kPowerMemoryAnswerBytes)) {
            const uint32_t code = LoadLe32(reply.data());
            return IsModelCode(code) ? code : 0;
        }
    }
    return 0;
}

uint32_t QueryPlatformInfo() {
    std::array<uint8_t, 4> answer{};
    if (OemRequest(IOCTL_NUVA_PLATFORM_QUERY, NUVA_QUERY_PLATFORM_INFO, answer.data(), 4)) {
        return LoadLe32(answer.data());
    }
    PowerInfoBlock block{};
    if (!ReadPowerInfoBlock(block)) {
        return 0;
    }
    const uint32_t value = LoadLe32(block.data() + kInfoWord72);
    return value != 0 ? value : LoadLe32(block.data() + kInfoWord28);
}

std::array<char16_t, 8> QueryRomVersion() {
    std::array<char16_t, 8> text{};
    std::array<uint8_t, 16> answer{};
    size_t bytes = answer.size();
    if (!OemRequest(IOCTL_NUVA_PLATFORM_QUERY, NUVA_QUERY_ROM_VERSION, answer.data(),
                    static_cast<DWORD>(answer.size()))) {
        answer.fill(0);
        PowerInfoBlock block{};
        if (!ReadPowerInfoBlock(block)) {
            return text;
        }
        std::memcpy(answer.data(), block.data(), kInfoRomVersionBytes);
        bytes = kInfoRomVersionBytes;
    }
    for (size_t i = 0; i < bytes / 2; ++i) {
        text[i] = static_cast<char16_t>(LoadLe16(answer.data() + 2 * i));
    }
    return text;
}

}  // namespace nuva::agent
