// The agent's exports with input blocks from the cable, called as the
// handheld's RAPI service calls them: the built agent library lies in
// \Windows\ of an emulated handheld made once for the run, and every input
// is one call of one export. An export that faults, hangs or hands back an
// output block the rules forbid brings the handheld down, which is a finding.
// The restarting exports (WarmReset, ColdReset) read nothing of their input
// and are left out.
//
// Input: one byte that chooses the export, then the input block.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formats/byte_sum.h"
#include "formats/device_info.h"
#include "formats/le.h"
#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/store/object_store.h"
#include "tools/imagegen/imagegen.h"

namespace {

constexpr HRESULT kOk = 0;
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);

constexpr const char16_t* kExports[] = {u"FnNUVAInfo", u"FnNUVAReadFlash", u"IsCheckSumOk",
                                        u"FnNUVAShowString"};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "agent_fuzz: %s\n", what.c_str());
    std::abort();
}

std::unique_ptr<nuva::sim::Handheld> g_handheld;

std::vector<uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(std::u16string_view path, std::span<const uint8_t> bytes) {
    auto store = g_handheld->Store();
    if (store.Files().Put(path, bytes) != nuva::sim::store_error::kSuccess) {
        Fail("a file could not be put on the handheld");
    }
}

// What each export must have answered, whatever its input.
void CheckAnswer(size_t which, std::span<const uint8_t> input, HRESULT result,
                 const std::vector<uint8_t>& out) {
    if (result != kOk && result != kFail) {
        Fail("an export answered neither S_OK nor E_FAIL");
    }
    if (result != kOk && !out.empty()) {
        Fail("a failed export handed back an output block");
    }
    if (result != kOk) {
        return;
    }
    switch (which) {
        case 0:
            if (out.size() != nuva::kDeviceInfoSize || input.size() < 8 ||
                nuva::LoadLe16(input.data()) != u'A' || nuva::LoadLe16(input.data() + 6) != 0) {
                Fail("FnNUVAInfo answered an input that is not \"ALL\", or not with a DeviceInfo");
            }
            break;
        case 1: {
            if (input.size() < 8 || out.size() != size_t{nuva::LoadLe32(input.data() + 4)} + 4) {
                Fail("FnNUVAReadFlash answered with other than the bytes asked for and their sum");
            }
            const size_t length = out.size() - 4;
            if (nuva::LoadLe32(out.data() + length) != nuva::ByteSum(out.data(), length)) {
                Fail("FnNUVAReadFlash's sum is not the sum of the bytes it sent");
            }
            break;
        }
        case 2:
            if (out.size() != 4) {
                Fail("IsCheckSumOk answered with other than a sum");
            }
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
    settings.uuid = nuva::sim::SupportedUuid(true);
    nuva::sim::CreateError error = nuva::sim::CreateError::kNone;
    std::string detail;
    g_handheld = nuva::sim::Handheld::Create(settings, image, "", &error, &detail);
    if (g_handheld == nullptr) {
        Fail(std::string("the handheld was not made: ") + nuva::sim::DescribeCreateError(error) + " " +
             detail);
    }
    g_handheld->PowerOn();
    if (!g_handheld->WaitUntilStarted(std::chrono::seconds(60))) {
        Fail("the handheld did not start");
    }
    const std::vector<uint8_t> agent = ReadFile(NUVA_AGENT_DLL);
    if (agent.empty()) {
        Fail("the agent library " NUVA_AGENT_DLL " cannot be read");
    }
    Put(u"\\Windows\\NUVA7INVOKE.DLL", agent);
    // A part as the desktop leaves it, for IsCheckSumOk to find.
    const uint8_t part[] = {'N', 'U', 'V', 'A', 7, 0, 0xFF, 0x80};
    Put(u"\\TEMP\\0", part);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return -1;
    }
    const size_t which = data[0] % std::size(kExports);
    const std::span<const uint8_t> input(data + 1, size - 1);
    std::vector<uint8_t> out;
    std::string detail;
    const HRESULT result = g_handheld->InvokeExport(u"NUVA7INVOKE", kExports[which], input, out, &detail);
    if (result == nuva::sim::kInvokeLinkDropped || result == nuva::sim::kInvokeBadLibrary ||
        result == nuva::sim::kInvokeLibraryNotFound || result == nuva::sim::kInvokeExportNotFound) {
        Fail("the call did not return: " + detail);
    }
    CheckAnswer(which, input, result, out);
    return 0;
}
