#include "formats/byte_sum.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nuva {

uint32_t ByteSum(const void* data, size_t count, uint32_t start) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint64_t total = start;
#if defined(__SSE2__)
    // PSADBW against zero adds eight bytes into one 64-bit lane; four
    // independent accumulators keep the loads flowing at memory speed.
    __m128i acc0 = _mm_setzero_si128();
    __m128i acc1 = _mm_setzero_si128();
    __m128i acc2 = _mm_setzero_si128();
    __m128i acc3 = _mm_setzero_si128();
    const __m128i zero = _mm_setzero_si128();
    while (count >= 64) {
        acc0 = _mm_add_epi64(acc0, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), zero));
        acc1 = _mm_add_epi64(acc1,
                             _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), zero));
        acc2 = _mm_add_epi64(acc2,
                             _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), zero));
        acc3 = _mm_add_epi64(acc3,
                             _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), zero));
        p += 64;
        count -= 64;
    }
    __m128i acc = _mm_add_epi64(_mm_add_epi64(acc0, acc1), _mm_add_epi64(acc2, acc3));
    uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
    total += lanes[0] + lanes[1];
#endif
    while (count > 0) {
        total += *p++;
        --count;
    }
    return static_cast<uint32_t>(total);
}

}  // namespace nuva
