// FnNUVAFlashSums: the byte sums of consecutive blocks of flash.
//
// Input: address, length, block size (12 bytes). Output: one 32-bit sum per
// block, the last block possibly shorter, each the ByteSum of its bytes from
// 0. The input block is freed here, as by the other exports. E_FAIL without
// output for a short input, a range or block size the agent does not serve
// (see FlashSumsCount), or no memory.

#include "agent/flash_sums.h"

#include <algorithm>
#include <type_traits>

#include "agent/platform_queries.h"
#include "formats/byte_sum.h"
#include "formats/le.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace nuva::agent {
namespace {

// Flash is copied out in pieces of this size to be summed.
constexpr uint32_t kPieceBytes = 16384;

}  // namespace
}  // namespace nuva::agent

using namespace nuva;
using namespace nuva::agent;

extern "C" NUVA_EXPORT HRESULT FnNUVAFlashSums(DWORD cbInput, BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                               IRAPIStream* /*stream*/) {
    if (pcbOutput != nullptr) {
        *pcbOutput = 0;
    }
    if (ppOutput != nullptr) {
        *ppOutput = nullptr;
    }
    if (pInput == nullptr || cbInput == 0 || IsBadReadPtr(pInput, cbInput) != FALSE) {
        return E_FAIL;
    }
    const bool complete = cbInput >= kFlashSumsRequestBytes;
    const uint32_t address = complete ? LoadLe32(pInput) : 0;
    const uint32_t length = complete ? LoadLe32(pInput + 4) : 0;
    const uint32_t blockBytes = complete ? LoadLe32(pInput + 8) : 0;
    LocalFree(pInput);
    if (!complete || pcbOutput == nullptr || ppOutput == nullptr) {
        return E_FAIL;
    }
    const uint32_t count = FlashSumsCount(address, length, blockBytes, QueryMemoryConfig());
    if (count == 0) {
        return E_FAIL;
    }
    auto* sums = static_cast<BYTE*>(LocalAlloc(LPTR, size_t{count} * 4));
    auto* piece = static_cast<BYTE*>(LocalAlloc(LPTR, kPieceBytes));
    if (sums == nullptr || piece == nullptr) {
        if (sums != nullptr) {
            LocalFree(sums);
        }
        if (piece != nullptr) {
            LocalFree(piece);
        }
        return E_FAIL;
    }
    uint32_t at = address;
    uint32_t left = length;
    for (uint32_t block = 0; block < count; ++block) {
        uint32_t inBlock = std::min(left, blockBytes);
        left -= inBlock;
        uint32_t sum = 0;
        while (inBlock > 0) {
            const uint32_t want = std::min(inBlock, kPieceBytes);
            // Whole bus words where the piece allows: a quarter of the
            // accesses of a byte-wise read.
            if (at % 4 == 0 && want % 4 == 0) {
                READ_REGISTER_BUFFER_ULONG(NUVA_KADDR(ULONG, at), reinterpret_cast<ULONG*>(piece), want / 4);
            } else {
                READ_REGISTER_BUFFER_UCHAR(NUVA_KADDR(UCHAR, at), piece, want);
            }
            sum = ByteSum(piece, want, sum);
            at += want;
            inBlock -= want;
        }
        StoreLe32(sums + size_t{block} * 4, sum);
    }
    LocalFree(piece);
    *ppOutput = sums;
    *pcbOutput = count * 4;
    return S_OK;
}

static_assert(std::is_same_v<decltype(&FnNUVAFlashSums), PFNRAPIEXTDLL>);
