// The agent's exports with input blocks from the cable, called as the
// handheld's RAPI service calls them: on a thread of an emulated handheld
// made once for the run, the input copied into a LocalAlloc block the export
// frees, the output block checked and freed after the call. The agent's
// sources are built into this program for the host (instrumented like the
// rest), so their calls into the core library reach the emulated handheld's
// directly; the library file the handheld loads is the same code built as a
// handheld program, which the sanitizers' imports would keep from loading.
// An export that faults, hangs, crashes the handheld or hands back an answer
// the flash, the file store or its own rules contradict is a finding.
// The restarting exports (WarmReset, ColdReset) read nothing of their input
// but whether there is one, and are left out.
//
// Input: one byte that chooses the export, then the input block.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "agent/flash_sums.h"
#include "formats/byte_sum.h"
#include "formats/device_info.h"
#include "formats/le.h"
#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/store/object_store.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"
#include "tools/imagegen/imagegen.h"

extern "C" {
HRESULT FnNUVAInfo(DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream*);
HRESULT FnNUVAReadFlash(DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream*);
HRESULT IsCheckSumOk(DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream*);
HRESULT FnNUVAShowString(DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream*);
HRESULT FnNUVAFlashSums(DWORD, BYTE*, DWORD*, BYTE**, IRAPIStream*);
}

namespace {

enum Export : uint8_t { kInfo, kReadFlash, kCheckSum, kShowString, kFlashSums, kExportCount };

// The handheld made for the run is an "Advanced" one (FactorySettings'
// default), which the agent learns from this code.
constexpr uint32_t kMemoryConfig = NUVA_MEMORY_ADVANCED;

constexpr PFNRAPIEXTDLL kExports[kExportCount] = {FnNUVAInfo, FnNUVAReadFlash, IsCheckSumOk, FnNUVAShowString,
                                                  FnNUVAFlashSums};

// The file IsCheckSumOk is asked about in the seeds, as the desktop leaves a
// part in \TEMP\.
constexpr char16_t kPartPath[] = u"\\TEMP\\0";
constexpr uint8_t kPart[] = {'N', 'U', 'V', 'A', 7, 0, 0xFF, 0x80};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "agent_fuzz: %s\n", what.c_str());
    std::abort();
}

// Made once and never destroyed: its program thread serves to the end.
nuva::sim::Handheld* g_handheld = nullptr;

// One program of the handheld, started once, runs every call on its thread,
// as the RAPI service's call thread does: a thread per input would cost more
// than the calls themselves. The handheld's own call thread cannot be used:
// it runs exports of libraries it loads from its store, and these exports
// are linked into this program. The thread waits for a call between inputs
// (a wait outside the core library, which the handheld does not see).
class ServingProgram {
  public:
    ServingProgram()
        : outer_([this] {
              g_handheld->RunAsProgram([this] { Serve(); });
              std::lock_guard<std::mutex> lock(mu_);
              ended_ = true;
              cv_.notify_all();
          }) {
        outer_.detach();
    }

    // False when the handheld went down during the call (or before it).
    bool Run(const std::function<void()>& call) {
        std::unique_lock<std::mutex> lock(mu_);
        call_ = &call;
        done_ = false;
        cv_.notify_all();
        cv_.wait(lock, [this] { return done_ || ended_; });
        return done_;
    }

  private:
    void Serve() {
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            cv_.wait(lock, [this] { return call_ != nullptr; });
            const std::function<void()>* call = call_;
            lock.unlock();
            (*call)();
            lock.lock();
            call_ = nullptr;
            done_ = true;
            cv_.notify_all();
        }
    }

    std::mutex mu_;
    std::condition_variable cv_;
    const std::function<void()>* call_ = nullptr;
    bool done_ = false;
    bool ended_ = false;
    std::thread outer_;
};

ServingProgram* g_program = nullptr;

struct Answer {
    HRESULT result = 0;
    std::vector<uint8_t> out;
};

// One call as the RAPI service makes it: an empty input is no block at all.
Answer Call(Export which, std::span<const uint8_t> input) {
    Answer answer;
    const bool returned = g_program->Run([&] {
        BYTE* in = nullptr;
        if (!input.empty()) {
            in = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, static_cast<UINT>(input.size())));
            if (in == nullptr) {
                Fail("no handheld memory for the input block");
            }
            std::memcpy(in, input.data(), input.size());
        }
        DWORD outBytes = 0xFFFFFFFF;
        BYTE* outBlock = reinterpret_cast<BYTE*>(&answer);  // must be overwritten
        answer.result = kExports[which](static_cast<DWORD>(input.size()), in, &outBytes, &outBlock, nullptr);
        // Every export frees the block it was given (the service does not):
        // one kept is lost to the handheld's heap at every call. The heap
        // knows a freed block no more; the sanitizer's quarantine keeps the
        // address from being handed out again meanwhile.
        if (in != nullptr && LocalSize(in) != 0) {
            Fail("an export kept its input block");
        }
        if (outBlock == nullptr) {
            if (outBytes != 0) {
                Fail("an export gave an output size without a block");
            }
        } else {
            if (outBlock == reinterpret_cast<BYTE*>(&answer) || LocalSize(outBlock) < outBytes) {
                Fail("an export's output block is not a LocalAlloc block of its size");
            }
            answer.out.assign(outBlock, outBlock + outBytes);
            if (LocalFree(outBlock) != nullptr) {
                Fail("an export's output block could not be freed");
            }
        }
    });
    if (!returned) {
        Fail("the handheld went down during the call");
    }
    return answer;
}

uint32_t FlashBytes() {
    static const uint32_t bytes = g_handheld->FlashBytes();
    return bytes;
}

// The flash offset of a range the agent read, which must lie in one of the
// windows.
uint32_t FlashOffset(uint32_t address, uint32_t length) {
    for (const uint64_t window : {uint64_t{NUVA_FLASH_UNCACHED}, uint64_t{NUVA_FLASH_CACHED}}) {
        if (address >= window && uint64_t{address} + length <= window + FlashBytes()) {
            return static_cast<uint32_t>(address - window);
        }
    }
    Fail("the agent read outside the flash windows");
}

void CheckInfo(std::span<const uint8_t> input, const std::vector<uint8_t>& out) {
    if (out.size() != nuva::kDeviceInfoSize || input.size() < 8 || nuva::LoadLe16(input.data()) != u'A' ||
        nuva::LoadLe16(input.data() + 2) != u'L' || nuva::LoadLe16(input.data() + 4) != u'L' ||
        nuva::LoadLe16(input.data() + 6) != 0) {
        Fail("FnNUVAInfo answered an input that is not \"ALL\", or not with a DeviceInfo");
    }
    const nuva::DeviceInfo info = nuva::ReadDeviceInfo(out.data());
    if (info.Supported != 1 || uint64_t{info.FlashSizeMB} << 20 != FlashBytes()) {
        Fail("FnNUVAInfo described another handheld than this one");
    }
}

void CheckReadFlash(std::span<const uint8_t> input, const std::vector<uint8_t>& out) {
    if (input.size() < 8 || out.size() != size_t{nuva::LoadLe32(input.data() + 4)} + 4) {
        Fail("FnNUVAReadFlash answered with other than the bytes asked for and their sum");
    }
    const uint32_t length = static_cast<uint32_t>(out.size() - 4);
    if (nuva::LoadLe32(out.data() + length) != nuva::ByteSum(out.data(), length)) {
        Fail("FnNUVAReadFlash's sum is not the sum of the bytes it sent");
    }
    if (length == 0) {
        return;
    }
    const std::vector<uint8_t> flash =
        g_handheld->DumpFlash(FlashOffset(nuva::LoadLe32(input.data()), length), length);
    if (flash.size() != length || std::memcmp(flash.data(), out.data(), length) != 0) {
        Fail("FnNUVAReadFlash sent other bytes than the flash holds");
    }
}

void CheckFlashSums(std::span<const uint8_t> input, const std::vector<uint8_t>& out) {
    if (input.size() < 12) {
        Fail("FnNUVAFlashSums answered a request cut short");
    }
    const uint32_t address = nuva::LoadLe32(input.data());
    const uint32_t length = nuva::LoadLe32(input.data() + 4);
    const uint32_t block = nuva::LoadLe32(input.data() + 8);
    if (length == 0 || block == 0 || out.size() != 4 * ((uint64_t{length} + block - 1) / block)) {
        Fail("FnNUVAFlashSums answered with other than one sum per block");
    }
    const std::vector<uint8_t> flash = g_handheld->DumpFlash(FlashOffset(address, length), length);
    if (flash.size() != length) {
        Fail("the flash read back short");
    }
    for (size_t i = 0; i < out.size() / 4; ++i) {
        const size_t from = i * block;
        const size_t bytes = std::min<size_t>(block, length - from);
        if (nuva::LoadLe32(out.data() + 4 * i) != nuva::ByteSum(flash.data() + from, bytes)) {
            Fail("a sum of FnNUVAFlashSums is not the sum of its block of flash");
        }
    }
}

// A path the handheld's file system holds must have been summed from its
// bytes; what the agent cannot open it must refuse.
void CheckFileSum(std::span<const uint8_t> input, HRESULT result, const std::vector<uint8_t>& out) {
    std::u16string path;
    for (size_t i = 0; i + 2 <= input.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(nuva::LoadLe16(input.data() + i));
        if (c == u'\0') {
            break;
        }
        path.push_back(c);
    }
    std::vector<uint8_t> contents;
    uint32_t got = nuva::sim::store_error::kFileNotFound;
    {
        auto store = g_handheld->Store();
        if (store.Files().OpenFileCount() != 0) {
            Fail("IsCheckSumOk left a file open");
        }
        if (path.size() < 260 && 2 * path.size() + 2 <= input.size()) {
            got = store.Files().Get(path, &contents);
        }
    }
    if (result != S_OK) {
        if (got == nuva::sim::store_error::kSuccess && !contents.empty()) {
            Fail("IsCheckSumOk refused a file the handheld holds");
        }
        return;
    }
    if (got != nuva::sim::store_error::kSuccess || out.size() != 4 ||
        nuva::LoadLe32(out.data()) != nuva::ByteSum(contents.data(), contents.size())) {
        Fail("IsCheckSumOk answered other than the sum of the file's bytes");
    }
}

void CheckAnswer(Export which, std::span<const uint8_t> input, const Answer& answer) {
    if (answer.result != S_OK && answer.result != E_FAIL) {
        Fail("an export answered neither S_OK nor E_FAIL");
    }
    if (answer.result != S_OK && !answer.out.empty()) {
        Fail("a failed export handed back an output block");
    }
    if (which == kCheckSum) {
        CheckFileSum(input, answer.result, answer.out);
        return;
    }
    if (answer.result != S_OK) {
        return;
    }
    switch (which) {
        case kInfo:
            CheckInfo(input, answer.out);
            break;
        case kReadFlash:
            CheckReadFlash(input, answer.out);
            break;
        case kFlashSums:
            CheckFlashSums(input, answer.out);
            break;
        default:
            Fail("FnNUVAShowString answered S_OK");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    setenv("NUVA_TIME_SCALE", "0", 1);
    std::vector<uint8_t> image;
    if (nuva::imagegen::MakeImageFile(nuva::imagegen::ImageSpec{}, image) !=
        nuva::imagegen::ImageGenError::kNone) {
        Fail("the handheld's image was not made");
    }
    nuva::sim::FactorySettings settings;
    settings.advanced = true;  // kMemoryConfig
    settings.uuid = nuva::sim::SupportedUuid(true);
    nuva::sim::CreateError error = nuva::sim::CreateError::kNone;
    std::string detail;
    g_handheld = nuva::sim::Handheld::Create(settings, image, "", &error, &detail).release();
    if (g_handheld == nullptr) {
        Fail(std::string("the handheld was not made: ") + nuva::sim::DescribeCreateError(error) + " " +
             detail);
    }
    g_handheld->PowerOn();
    if (!g_handheld->WaitUntilStarted(std::chrono::seconds(60)) ||
        !g_handheld->WaitUntilIdle(std::chrono::seconds(60))) {
        Fail("the handheld did not start");
    }
    {
        auto store = g_handheld->Store();
        if (store.Files().Put(kPartPath, std::span<const uint8_t>(kPart)) !=
            nuva::sim::store_error::kSuccess) {
            Fail("the part could not be put on the handheld");
        }
    }
    g_program = new ServingProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return -1;
    }
    const auto which = static_cast<Export>(data[0] % kExportCount);
    const std::span<const uint8_t> input(data + 1, size - 1);
    // The sums of a long range served are the emulated bus reading every
    // byte of it (48 MB at most), which would slow every input down to the
    // pace of those few; such a request is not made. Refused requests of any
    // length still are, and so is every range up to one flash read.
    if (which == kFlashSums && input.size() >= nuva::agent::kFlashSumsRequestBytes &&
        nuva::LoadLe32(input.data() + 4) > nuva::agent::kMaxFlashRead &&
        nuva::agent::FlashSumsCount(nuva::LoadLe32(input.data()), nuva::LoadLe32(input.data() + 4),
                                    nuva::LoadLe32(input.data() + 8), kMemoryConfig) != 0) {
        return -1;
    }
    CheckAnswer(which, input, Call(which, input));
    return 0;
}
