#include "operations/Sha256.h"

#include <cstring>
#include "operations/Sha256Blocks.h"

#if defined(_MSC_VER)
#include <intrin.h>
#include <immintrin.h>
#else
#include <cpuid.h>
#include <immintrin.h>
#endif

alignas(16) const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

const uint32_t kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

inline uint32_t RotateRight(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

bool ResolveExtensions() {
    static const bool available = CpuHasShaExtensions();
    return available;
}

bool ResolveAvx2() {
    static const bool available = CpuHasAvx2();
    return available;
}

inline uint32_t BigSigma0(uint32_t x) { return RotateRight(x, 2) ^ RotateRight(x, 13) ^ RotateRight(x, 22); }
inline uint32_t BigSigma1(uint32_t x) { return RotateRight(x, 6) ^ RotateRight(x, 11) ^ RotateRight(x, 25); }
inline uint32_t SmallSigma0(uint32_t x) { return RotateRight(x, 7) ^ RotateRight(x, 18) ^ (x >> 3); }
inline uint32_t SmallSigma1(uint32_t x) { return RotateRight(x, 17) ^ RotateRight(x, 19) ^ (x >> 10); }

// One round with the roles of the eight working variables passed in rotated order: `d` becomes
// the new e and `h` the new a, so eight calls with the arguments shifted by one bring every
// variable back to its own name. `wk` is the message word plus the round constant. `bc` holds
// b ^ c on entry and a ^ b on return, which is b ^ c of the next round.
inline void Round(uint32_t a, uint32_t b, uint32_t& d, uint32_t e, uint32_t f, uint32_t g, uint32_t& h, uint32_t& bc,
                  uint32_t wk) {
    h += wk + BigSigma1(e) + (g ^ (e & (f ^ g)));
    d += h;
    const uint32_t ab = a ^ b;
    h += BigSigma0(a) + ((ab & bc) ^ b);
    bc = ab;
}

// Message word t >= 16 in the 16-word ring: w[t mod 16] holds w[t-16] until it is replaced.
inline uint32_t NextWord(uint32_t (&w)[16], int i) {
    w[i & 15] += SmallSigma1(w[(i + 14) & 15]) + w[(i + 9) & 15] + SmallSigma0(w[(i + 1) & 15]);
    return w[i & 15];
}

} // namespace

// Portable C++: the rounds unrolled sixteen at a time, the message schedule computed on the fly
// in a ring of sixteen words.
void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t count) {
    uint32_t w[16];
    for (; count > 0; --count, data += 64) {
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        uint32_t bc = b ^ c;
        Round(a, b, d, e, f, g, h, bc, kSha256RoundConstants[0] + (w[0] = LoadBigEndian(data + 0)));
        Round(h, a, c, d, e, f, g, bc, kSha256RoundConstants[1] + (w[1] = LoadBigEndian(data + 4)));
        Round(g, h, b, c, d, e, f, bc, kSha256RoundConstants[2] + (w[2] = LoadBigEndian(data + 8)));
        Round(f, g, a, b, c, d, e, bc, kSha256RoundConstants[3] + (w[3] = LoadBigEndian(data + 12)));
        Round(e, f, h, a, b, c, d, bc, kSha256RoundConstants[4] + (w[4] = LoadBigEndian(data + 16)));
        Round(d, e, g, h, a, b, c, bc, kSha256RoundConstants[5] + (w[5] = LoadBigEndian(data + 20)));
        Round(c, d, f, g, h, a, b, bc, kSha256RoundConstants[6] + (w[6] = LoadBigEndian(data + 24)));
        Round(b, c, e, f, g, h, a, bc, kSha256RoundConstants[7] + (w[7] = LoadBigEndian(data + 28)));
        Round(a, b, d, e, f, g, h, bc, kSha256RoundConstants[8] + (w[8] = LoadBigEndian(data + 32)));
        Round(h, a, c, d, e, f, g, bc, kSha256RoundConstants[9] + (w[9] = LoadBigEndian(data + 36)));
        Round(g, h, b, c, d, e, f, bc, kSha256RoundConstants[10] + (w[10] = LoadBigEndian(data + 40)));
        Round(f, g, a, b, c, d, e, bc, kSha256RoundConstants[11] + (w[11] = LoadBigEndian(data + 44)));
        Round(e, f, h, a, b, c, d, bc, kSha256RoundConstants[12] + (w[12] = LoadBigEndian(data + 48)));
        Round(d, e, g, h, a, b, c, bc, kSha256RoundConstants[13] + (w[13] = LoadBigEndian(data + 52)));
        Round(c, d, f, g, h, a, b, bc, kSha256RoundConstants[14] + (w[14] = LoadBigEndian(data + 56)));
        Round(b, c, e, f, g, h, a, bc, kSha256RoundConstants[15] + (w[15] = LoadBigEndian(data + 60)));
        for (int t = 16; t < 64; t += 16) {
            const uint32_t* k = kSha256RoundConstants + t;
            Round(a, b, d, e, f, g, h, bc, k[0] + NextWord(w, 0));
            Round(h, a, c, d, e, f, g, bc, k[1] + NextWord(w, 1));
            Round(g, h, b, c, d, e, f, bc, k[2] + NextWord(w, 2));
            Round(f, g, a, b, c, d, e, bc, k[3] + NextWord(w, 3));
            Round(e, f, h, a, b, c, d, bc, k[4] + NextWord(w, 4));
            Round(d, e, g, h, a, b, c, bc, k[5] + NextWord(w, 5));
            Round(c, d, f, g, h, a, b, bc, k[6] + NextWord(w, 6));
            Round(b, c, e, f, g, h, a, bc, k[7] + NextWord(w, 7));
            Round(a, b, d, e, f, g, h, bc, k[8] + NextWord(w, 8));
            Round(h, a, c, d, e, f, g, bc, k[9] + NextWord(w, 9));
            Round(g, h, b, c, d, e, f, bc, k[10] + NextWord(w, 10));
            Round(f, g, a, b, c, d, e, bc, k[11] + NextWord(w, 11));
            Round(e, f, h, a, b, c, d, bc, k[12] + NextWord(w, 12));
            Round(d, e, g, h, a, b, c, bc, k[13] + NextWord(w, 13));
            Round(c, d, f, g, h, a, b, bc, k[14] + NextWord(w, 14));
            Round(b, c, e, f, g, h, a, bc, k[15] + NextWord(w, 15));
        }
        state[0] += a; state[1] += b; state[2] += c; state[3] += d;
        state[4] += e; state[5] += f; state[6] += g; state[7] += h;
    }
}

Sha256::Path ChooseSha256Path(Sha256::Path requested, bool shaExtensions, bool avx2) {
    switch (requested) {
    case Sha256::Path::Auto:
        return shaExtensions ? Sha256::Path::ShaExtensions : avx2 ? Sha256::Path::Avx2 : Sha256::Path::Portable;
    case Sha256::Path::ShaExtensions:
        return shaExtensions ? requested : Sha256::Path::Portable;
    case Sha256::Path::Avx2:
        return avx2 ? requested : Sha256::Path::Portable;
    default:
        return Sha256::Path::Portable;
    }
}

bool Sha256::ShaExtensionsAvailable() { return ResolveExtensions(); }
bool Sha256::Avx2Available() { return ResolveAvx2(); }

// Asking for a path the processor lacks falls back to the portable one, so ActivePath() tells
// what runs.
Sha256::Sha256(Path path) : path_(ChooseSha256Path(path, ShaExtensionsAvailable(), Avx2Available())) {
    std::memcpy(state_, kInitialState, sizeof(state_));
}

void Sha256::Blocks(const uint8_t* data, size_t count) {
    switch (path_) {
    case Path::ShaExtensions: Sha256BlocksShaExtensions(state_, data, count); break;
    case Path::Avx2: Sha256BlocksAvx2(state_, data, count); break;
    default: Sha256BlocksPortable(state_, data, count); break;
    }
}

void Sha256::Update(const void* data, size_t size) {
    if (finished_ || size == 0) return;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    length_ += uint64_t(size);
    if (buffered_ > 0) {
        const size_t take = (64 - buffered_ < size) ? 64 - buffered_ : size;
        std::memcpy(buffer_ + buffered_, bytes, take);
        buffered_ += take;
        bytes += take;
        size -= take;
        if (buffered_ < 64) return;
        Blocks(buffer_, 1);
        buffered_ = 0;
    }
    const size_t whole = size / 64;
    if (whole > 0) {
        Blocks(bytes, whole);
        bytes += whole * 64;
        size -= whole * 64;
    }
    if (size > 0) {
        std::memcpy(buffer_, bytes, size);
        buffered_ = size;
    }
}

Sha256::Digest Sha256::Finish() {
    if (!finished_) {
        const uint64_t bits = length_ * 8;
        uint8_t tail[128] = {};
        std::memcpy(tail, buffer_, buffered_);
        tail[buffered_] = 0x80;
        const size_t tailLength = (buffered_ < 56) ? 64 : 128;
        for (int i = 0; i < 8; ++i) tail[tailLength - 1 - i] = uint8_t(bits >> (8 * i));
        Blocks(tail, tailLength / 64);
        buffered_ = 0;
        finished_ = true;
    }
    Digest digest{};
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = uint8_t(state_[i] >> 24);
        digest[4 * i + 1] = uint8_t(state_[i] >> 16);
        digest[4 * i + 2] = uint8_t(state_[i] >> 8);
        digest[4 * i + 3] = uint8_t(state_[i]);
    }
    return digest;
}

Sha256::Digest Sha256Of(const void* data, size_t size, Sha256::Path path) {
    Sha256 sha(path);
    sha.Update(data, size);
    return sha.Finish();
}

#if defined(_MSC_VER)
bool CpuHasShaExtensions() {
    int leaf0[4] = {};
    __cpuid(leaf0, 0);
    if (leaf0[0] < 7) return false;
    int leaf1[4] = {};
    int leaf7[4] = {};
    __cpuid(leaf1, 1);
    __cpuidex(leaf7, 7, 0);
    return (leaf1[2] & (1 << 19)) != 0 && (leaf7[1] & (1 << 29)) != 0;
}
#else
bool CpuHasShaExtensions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return sse41 && (ebx & (1u << 29)) != 0;
}
#endif

#if defined(_MSC_VER)
bool CpuHasAvx2() {
    int leaf0[4] = {};
    __cpuid(leaf0, 0);
    if (leaf0[0] < 7) return false;
    int leaf1[4] = {};
    __cpuid(leaf1, 1);
    const int osxsaveAndAvx = (1 << 27) | (1 << 28);
    if ((leaf1[2] & osxsaveAndAvx) != osxsaveAndAvx) return false;
    if ((_xgetbv(0) & 6) != 6) return false;
    int leaf7[4] = {};
    __cpuidex(leaf7, 7, 0);
    const int bmi1Avx2Bmi2 = (1 << 3) | (1 << 5) | (1 << 8);
    return (leaf7[1] & bmi1Avx2Bmi2) == bmi1Avx2Bmi2;
}
#else
bool CpuHasAvx2() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const unsigned osxsaveAndAvx = (1u << 27) | (1u << 28);
    if ((ecx & osxsaveAndAvx) != osxsaveAndAvx) return false;
    // XGETBV exists once OSXSAVE is set; this file is built with XSAVE enabled for it alone.
    if ((_xgetbv(0) & 6) != 6) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    const unsigned bmi1Avx2Bmi2 = (1u << 3) | (1u << 5) | (1u << 8);
    return (ebx & bmi1Avx2Bmi2) == bmi1Avx2Bmi2;
}
#endif
