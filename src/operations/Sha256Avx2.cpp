// SHA-256 block function for processors with AVX2 and BMI1/BMI2 but without the SHA extensions.
// This file alone is compiled for those instructions; Sha256 calls it only after CpuHasAvx2()
// said yes.
//
// Two blocks go through the message schedule at once, one in each 128-bit lane, four words per
// step. Each step's words plus the round constants are stored in a small buffer; the rounds run
// in scalar registers (the rotations become RORX, Ch uses ANDN). The rounds of the first block
// are interleaved with the schedule steps, those of the second block then read the buffer only.
#include "operations/Sha256Blocks.h"

#include <immintrin.h>

// Every helper stays in this unnamed namespace and nothing here calls an inline function of a
// shared header: a copy with external linkage built for AVX2 could be the one the linker keeps
// for callers on processors without it.
namespace {

inline uint32_t RotateRight(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

// One round with the working variables passed in rotated order (see the portable function):
// `d` becomes the new e and `h` the new a. `ab` carries a ^ b of this round out as b ^ c of the
// next one, which saves one operation in the majority.
inline void Round(uint32_t a, uint32_t b, uint32_t& d, uint32_t e, uint32_t f, uint32_t g, uint32_t& h, uint32_t& bc,
                  uint32_t wk) {
    const uint32_t sigma1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
    // (e & f) and (~e & g) share no bits, so they can be added instead of or-ed.
    h += wk + (e & f) + (~e & g) + sigma1;
    d += h;
    const uint32_t sigma0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
    const uint32_t ab = a ^ b;
    h += sigma0 + ((ab & bc) ^ b);
    bc = ab;
}

// Sixteen rounds of one block from the stored words; `wk` points at the block's first word of
// the first of four groups, each group's words eight further on than the one before.
inline void SixteenRounds(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e, uint32_t& f, uint32_t& g,
                          uint32_t& h, uint32_t& bc, const uint32_t* wk) {
    Round(a, b, d, e, f, g, h, bc, wk[0]);
    Round(h, a, c, d, e, f, g, bc, wk[1]);
    Round(g, h, b, c, d, e, f, bc, wk[2]);
    Round(f, g, a, b, c, d, e, bc, wk[3]);
    Round(e, f, h, a, b, c, d, bc, wk[8]);
    Round(d, e, g, h, a, b, c, bc, wk[9]);
    Round(c, d, f, g, h, a, b, bc, wk[10]);
    Round(b, c, e, f, g, h, a, bc, wk[11]);
    Round(a, b, d, e, f, g, h, bc, wk[16]);
    Round(h, a, c, d, e, f, g, bc, wk[17]);
    Round(g, h, b, c, d, e, f, bc, wk[18]);
    Round(f, g, a, b, c, d, e, bc, wk[19]);
    Round(e, f, h, a, b, c, d, bc, wk[24]);
    Round(d, e, g, h, a, b, c, bc, wk[25]);
    Round(c, d, f, g, h, a, b, bc, wk[26]);
    Round(b, c, e, f, g, h, a, bc, wk[27]);
}

inline void FourRounds(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, uint32_t& e, uint32_t& f, uint32_t& g,
                       uint32_t& h, uint32_t& bc, const uint32_t* wk) {
    Round(a, b, d, e, f, g, h, bc, wk[0]);
    Round(h, a, c, d, e, f, g, bc, wk[1]);
    Round(g, h, b, c, d, e, f, bc, wk[2]);
    Round(f, g, a, b, c, d, e, bc, wk[3]);
}

// The next four schedule words of both blocks from the sixteen before them, w[t-16..t-1] in
// x0..x3 (four words of each block per register, first block in the low lane).
inline __m256i NextFourWords(__m256i x0, __m256i x1, __m256i x2, __m256i x3) {
    // w[t-7] and w[t-15] for the four new words.
    const __m256i w7 = _mm256_alignr_epi8(x3, x2, 4);
    const __m256i w15 = _mm256_alignr_epi8(x1, x0, 4);
    // sigma0(x) = (x ror 7) ^ (x ror 18) ^ (x >> 3)
    const __m256i s0 = _mm256_xor_si256(
        _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi32(w15, 7), _mm256_slli_epi32(w15, 25)),
                         _mm256_xor_si256(_mm256_srli_epi32(w15, 18), _mm256_slli_epi32(w15, 14))),
        _mm256_srli_epi32(w15, 3));
    __m256i sum = _mm256_add_epi32(_mm256_add_epi32(x0, w7), s0);

    // sigma1 of w[t-2] and w[t-1], each word doubled into a 64-bit lane so that a 64-bit shift
    // gives the rotation in its low half; the results land in words 0 and 2 of each lane.
    const __m256i lowTwo = _mm256_setr_epi8(0, 1, 2, 3, 8, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1,
                                            0, 1, 2, 3, 8, 9, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i highTwo = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3, 8, 9, 10, 11,
                                             -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 3, 8, 9, 10, 11);
    auto sigma1Pairs = [](__m256i doubled) {
        return _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi32(doubled, 10), _mm256_srli_epi64(doubled, 17)),
                                _mm256_srli_epi64(doubled, 19));
    };
    // Words 0 and 1 need w[t-2], w[t-1] = words 2 and 3 of x3.
    sum = _mm256_add_epi32(sum, _mm256_shuffle_epi8(sigma1Pairs(_mm256_shuffle_epi32(x3, 0xFA)), lowTwo));
    // Words 2 and 3 need the two words just completed.
    sum = _mm256_add_epi32(sum, _mm256_shuffle_epi8(sigma1Pairs(_mm256_shuffle_epi32(sum, 0x50)), highTwo));
    return sum;
}

inline __m256i LoadPair(const uint8_t* first, const uint8_t* second, __m256i byteSwap) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second));
    return _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1), byteSwap);
}

// Stores the four words of each block plus the round constants of group `group`.
inline void StoreWithConstants(uint32_t* wk, __m256i words, int group) {
    const __m256i k = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * group)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 8 * group), _mm256_add_epi32(words, k));
}

inline void AddToState(uint32_t state[8], uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f,
                       uint32_t g, uint32_t h) {
    state[0] += a; state[1] += b; state[2] += c; state[3] += d;
    state[4] += e; state[5] += f; state[6] += g; state[7] += h;
}

} // namespace

void Sha256BlocksAvx2(uint32_t state[8], const uint8_t* data, size_t count) {
    // Words plus constants for two blocks: per group of four rounds, four words of the first
    // block followed by four of the second.
    alignas(32) uint32_t wk[128];
    const __m256i byteSwap = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                              3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    while (count > 0) {
        // A last odd block goes through the schedule in both lanes; the second lane is unused.
        const bool pair = count > 1;
        const uint8_t* second = pair ? data + 64 : data;
        __m256i x0 = LoadPair(data, second, byteSwap);
        __m256i x1 = LoadPair(data + 16, second + 16, byteSwap);
        __m256i x2 = LoadPair(data + 32, second + 32, byteSwap);
        __m256i x3 = LoadPair(data + 48, second + 48, byteSwap);
        StoreWithConstants(wk, x0, 0);
        StoreWithConstants(wk, x1, 1);
        StoreWithConstants(wk, x2, 2);
        StoreWithConstants(wk, x3, 3);

        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        uint32_t bc = b ^ c;
        // The first block's rounds of group n - 4 run beside the schedule step of group n.
        for (int group = 4; group < 16; group += 4) {
            x0 = NextFourWords(x0, x1, x2, x3);
            StoreWithConstants(wk, x0, group);
            FourRounds(a, b, c, d, e, f, g, h, bc, wk + 8 * (group - 4));
            x1 = NextFourWords(x1, x2, x3, x0);
            StoreWithConstants(wk, x1, group + 1);
            FourRounds(e, f, g, h, a, b, c, d, bc, wk + 8 * (group - 3));
            x2 = NextFourWords(x2, x3, x0, x1);
            StoreWithConstants(wk, x2, group + 2);
            FourRounds(a, b, c, d, e, f, g, h, bc, wk + 8 * (group - 2));
            x3 = NextFourWords(x3, x0, x1, x2);
            StoreWithConstants(wk, x3, group + 3);
            FourRounds(e, f, g, h, a, b, c, d, bc, wk + 8 * (group - 1));
        }
        SixteenRounds(a, b, c, d, e, f, g, h, bc, wk + 8 * 12);
        AddToState(state, a, b, c, d, e, f, g, h);
        if (!pair) break;

        a = state[0]; b = state[1]; c = state[2]; d = state[3];
        e = state[4]; f = state[5]; g = state[6]; h = state[7];
        bc = b ^ c;
        for (int group = 0; group < 16; group += 4) SixteenRounds(a, b, c, d, e, f, g, h, bc, wk + 8 * group + 4);
        AddToState(state, a, b, c, d, e, f, g, h);
        data += 128;
        count -= 2;
    }
}
