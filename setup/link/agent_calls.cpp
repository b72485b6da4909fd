#include "setup/link/agent_calls.h"

#include <cstring>
#include <string>

#include "formats/byte_sum.h"
#include "formats/le.h"
#include "formats/result_codes.h"
#include "setup/link/transfer.h"
#include "setup/resources/settings.h"

namespace nuva {
namespace {

constexpr uint32_t kFail = kResultFail;

// An input block: allocated zero-filled and locked. Until it is handed to
// CeRapiInvoke it is ours and freed on the way out; from the call on it
// belongs to RAPI.
class InputBlock {
  public:
    InputBlock(const InputBlock&) = delete;
    InputBlock& operator=(const InputBlock&) = delete;
    InputBlock(InputBlock&& other) noexcept : handle_(other.handle_), data_(other.data_), size_(other.size_) {
        other.handle_ = nullptr;
        other.data_ = nullptr;
    }
    InputBlock& operator=(InputBlock&&) = delete;
    ~InputBlock() {
        if (handle_ != nullptr)
            LocalFree(handle_);
    }

    static InputBlock Allocate(size_t bytes) {
        InputBlock block;
        block.handle_ = LocalAlloc(LPTR, bytes);
        if (block.handle_ == nullptr)
            return block;
        block.data_ = static_cast<BYTE*>(LocalLock(block.handle_));
        if (block.data_ == nullptr) {
            LocalFree(block.handle_);
            block.handle_ = nullptr;
        }
        block.size_ = bytes;
        return block;
    }

    bool ok() const { return data_ != nullptr; }
    BYTE* data() const { return data_; }
    size_t size() const { return size_; }

    // RAPI frees the block once it has it.
    BYTE* HandOver() {
        handle_ = nullptr;
        return data_;
    }

  private:
    InputBlock() = default;
    HLOCAL handle_ = nullptr;
    BYTE* data_ = nullptr;
    size_t size_ = 0;
};

// What an export answered; the block is released when this goes.
struct OutputBlock {
    OutputBlock() = default;
    OutputBlock(const OutputBlock&) = delete;
    OutputBlock& operator=(const OutputBlock&) = delete;
    ~OutputBlock() {
        if (data != nullptr)
            LocalFree(LocalHandle(data));
    }
    DWORD size = 0;
    BYTE* data = nullptr;
};

uint32_t Invoke(const char16_t* function, DWORD passed, InputBlock* input, OutputBlock& output) {
    BYTE* block = input != nullptr ? input->HandOver() : nullptr;
    return static_cast<uint32_t>(
        CeRapiInvoke(kAgentLibrary, function, passed, block, &output.size, &output.data, nullptr, 0));
}

// The wide text "ALL" that FnNUVAInfo and ColdReset take: 16 bytes allocated,
// the four characters passed.
constexpr size_t kAllBlockBytes = 16;
constexpr DWORD kAllPassedBytes = 8;

void PutWide(BYTE* at, std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i)
        StoreLe16(at + 2 * i, static_cast<uint16_t>(text[i]));
    StoreLe16(at + 2 * text.size(), 0);
}

uint32_t CallWithAll(const char16_t* function, OutputBlock& output) {
    InputBlock input = InputBlock::Allocate(kAllBlockBytes);
    if (!input.ok())
        return kFail;
    PutWide(input.data(), u"ALL");
    return Invoke(function, kAllPassedBytes, &input, output);
}

}  // namespace

uint32_t QueryDeviceInfo(DeviceInfo* out) {
    OutputBlock output;
    const uint32_t result = CallWithAll(u"FnNUVAInfo", output);
    if (result != 0 || out == nullptr)
        return result;
    if (output.data == nullptr || output.size < kDeviceInfoSize)
        return kFail;
    *out = ReadDeviceInfo(output.data);
    return 0;
}

uint32_t ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) {
    if (buffer == nullptr && count != 0)
        return kFail;
    InputBlock input = InputBlock::Allocate(8);
    if (!input.ok())
        return kFail;
    StoreLe32(input.data(), address);
    StoreLe32(input.data() + 4, count);

    OutputBlock output;
    const uint32_t result = Invoke(u"FnNUVAReadFlash", 8, &input, output);
    if (result != 0)
        return result;
    if (output.data == nullptr)
        return kFail;
    if (static_cast<uint64_t>(output.size) != static_cast<uint64_t>(count) + 4)
        return kFail;
    if (count != 0)
        std::memcpy(buffer, output.data, count);
    return ByteSum(buffer, count, 0) == LoadLe32(output.data + count) ? 0 : kFail;
}

uint32_t ReadFlashBlockSums(uint32_t address, uint32_t length, uint32_t blockBytes,
                            std::vector<uint32_t>& sums) {
    sums.clear();
    if (length == 0 || blockBytes == 0)
        return kFail;
    const uint64_t count = (uint64_t{length} + blockBytes - 1) / blockBytes;
    InputBlock input = InputBlock::Allocate(12);
    if (!input.ok())
        return kFail;
    StoreLe32(input.data(), address);
    StoreLe32(input.data() + 4, length);
    StoreLe32(input.data() + 8, blockBytes);

    OutputBlock output;
    const uint32_t result = Invoke(u"FnNUVAFlashSums", 12, &input, output);
    if (result != 0)
        return result;
    if (output.data == nullptr || static_cast<uint64_t>(output.size) != count * 4)
        return kFail;
    sums.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < sums.size(); ++i)
        sums[i] = LoadLe32(output.data + 4 * i);
    return 0;
}

uint32_t ShowDeviceText(const char* text, uint32_t first, uint32_t second) {
    if (text == nullptr)
        return kFail;
    const size_t length = std::strlen(text);
    // Header, text and terminator must fit a DWORD size with room to spare.
    if (length > UINT32_MAX / 2)
        return kFail;
    const size_t size = ((length + 8) & ~size_t{3}) + 8;
    InputBlock input = InputBlock::Allocate(size);
    if (!input.ok())
        return kFail;
    std::memset(input.data(), 0, size);
    StoreLe32(input.data(), first);
    StoreLe32(input.data() + 4, second);
    std::memcpy(input.data() + 8, text, length + 1);

    OutputBlock output;
    return Invoke(u"FnNUVAShowString", static_cast<DWORD>(size), &input, output);
}

uint32_t ColdResetDevice() {
    OutputBlock output;
    return CallWithAll(u"ColdReset", output);
}

uint32_t WarmResetDevice(int selector) {
    OutputBlock output;
    if (selector != kWarmResetCleanup)
        return Invoke(u"WarmReset", 0, nullptr, output);
    InputBlock input = InputBlock::Allocate(4);
    if (!input.ok())
        return kFail;
    StoreLe32(input.data(), 1);
    return Invoke(u"WarmReset", 4, &input, output);
}

uint32_t VerifyDeviceFile(LPCWSTR devicePath, uint32_t expectedSum) {
    if (devicePath == nullptr)
        return kFail;
    const std::u16string_view path(devicePath);
    if (path.size() > UINT32_MAX / 4)
        return kFail;
    const size_t size = (((path.size() + 1) & ~size_t{3}) + 8) * 2;
    InputBlock input = InputBlock::Allocate(size);
    if (!input.ok())
        return kFail;
    PutWide(input.data(), path);

    OutputBlock output;
    const uint32_t result = Invoke(u"IsCheckSumOk", static_cast<DWORD>(size), &input, output);
    if (result != 0)
        return result;
    if (output.data == nullptr || output.size < 4)
        return kFail;
    return LoadLe32(output.data) == expectedSum ? 0 : kFail;
}

int32_t InstallAgent() {
    const std::string folder = InstallDirOf(RunningProgramPath());
    if (folder.empty())
        return kCopyFileFailed;
    return CopyFileToDevice(folder + "NUVA7INVOKE.DLL", u"\\Windows\\NUVA7INVOKE.DLL");
}

}  // namespace nuva
