// SHA-256 block function on the x86 SHA extensions. This file alone is compiled for those
// instructions; Sha256 calls it only after CpuHasShaExtensions() said yes.
#include "operations/Sha256Blocks.h"

#include <immintrin.h>

namespace {

// Four rounds: message words `msg` plus the constants of group `group`.
inline void FourRounds(__m128i& abef, __m128i& cdgh, __m128i msg, int group) {
    __m128i words = _mm_add_epi32(msg, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * group)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
    words = _mm_shuffle_epi32(words, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, words);
}

// Completes the next four schedule words from the partial sums in `next` and the current words.
inline void Complete(__m128i& next, __m128i current, __m128i previous) {
    next = _mm_sha256msg2_epu32(_mm_add_epi32(next, _mm_alignr_epi8(current, previous, 4)), current);
}

inline void Partial(__m128i& older, __m128i current) { older = _mm_sha256msg1_epu32(older, current); }

} // namespace

void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* data, size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    // The round instructions keep the state as ABEF and CDGH.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i cdgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    dcba = _mm_shuffle_epi32(dcba, 0xB1);
    cdgh = _mm_shuffle_epi32(cdgh, 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, cdgh, 8);
    cdgh = _mm_blend_epi16(cdgh, dcba, 0xF0);

    for (; count > 0; --count, data += 64) {
        const __m128i savedAbef = abef;
        const __m128i savedCdgh = cdgh;
        const __m128i* block = reinterpret_cast<const __m128i*>(data);
        __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(block + 0), byteSwap);
        __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(block + 1), byteSwap);
        __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(block + 2), byteSwap);
        __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(block + 3), byteSwap);

        FourRounds(abef, cdgh, w0, 0);
        FourRounds(abef, cdgh, w1, 1);  Partial(w0, w1);
        FourRounds(abef, cdgh, w2, 2);  Partial(w1, w2);
        FourRounds(abef, cdgh, w3, 3);  Complete(w0, w3, w2); Partial(w2, w3);
        FourRounds(abef, cdgh, w0, 4);  Complete(w1, w0, w3); Partial(w3, w0);
        FourRounds(abef, cdgh, w1, 5);  Complete(w2, w1, w0); Partial(w0, w1);
        FourRounds(abef, cdgh, w2, 6);  Complete(w3, w2, w1); Partial(w1, w2);
        FourRounds(abef, cdgh, w3, 7);  Complete(w0, w3, w2); Partial(w2, w3);
        FourRounds(abef, cdgh, w0, 8);  Complete(w1, w0, w3); Partial(w3, w0);
        FourRounds(abef, cdgh, w1, 9);  Complete(w2, w1, w0); Partial(w0, w1);
        FourRounds(abef, cdgh, w2, 10); Complete(w3, w2, w1); Partial(w1, w2);
        FourRounds(abef, cdgh, w3, 11); Complete(w0, w3, w2); Partial(w2, w3);
        FourRounds(abef, cdgh, w0, 12); Complete(w1, w0, w3); Partial(w3, w0);
        FourRounds(abef, cdgh, w1, 13); Complete(w2, w1, w0);
        FourRounds(abef, cdgh, w2, 14); Complete(w3, w2, w1);
        FourRounds(abef, cdgh, w3, 15);

        abef = _mm_add_epi32(abef, savedAbef);
        cdgh = _mm_add_epi32(cdgh, savedCdgh);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    cdgh = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, cdgh, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(cdgh, feba, 8));
}
