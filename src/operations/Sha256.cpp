#include "operations/Sha256.h"

#include <cstring>
#include "operations/Sha256Blocks.h"

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
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

} // namespace

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t count) {
    uint32_t w[64];
    for (; count > 0; --count, data += 64) {
        for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian(data + 4 * t);
        for (int t = 16; t < 64; ++t) {
            const uint32_t s0 = RotateRight(w[t - 15], 7) ^ RotateRight(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const uint32_t s1 = RotateRight(w[t - 2], 17) ^ RotateRight(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            const uint32_t s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
            const uint32_t choose = (e & f) ^ (~e & g);
            const uint32_t t1 = h + s1 + choose + kSha256RoundConstants[t] + w[t];
            const uint32_t s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
            const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
            const uint32_t t2 = s0 + majority;
            h = g; g = f; f = e; e = d + t1;
            d = c; c = b; b = a; a = t1 + t2;
        }
        state[0] += a; state[1] += b; state[2] += c; state[3] += d;
        state[4] += e; state[5] += f; state[6] += g; state[7] += h;
    }
}

bool Sha256::ShaExtensionsAvailable() { return ResolveExtensions(); }

// Auto picks the extension path when the processor has it; asking for the extension path on a
// processor without it falls back to the portable one, so ActivePath() tells what runs.
Sha256::Sha256(Path path) : path_(path) {
    if (path_ == Path::Auto || path_ == Path::ShaExtensions) {
        path_ = ShaExtensionsAvailable() ? Path::ShaExtensions : Path::Portable;
    }
    std::memcpy(state_, kInitialState, sizeof(state_));
}

void Sha256::Blocks(const uint8_t* data, size_t count) {
    if (path_ == Path::ShaExtensions) Sha256BlocksShaExtensions(state_, data, count);
    else Sha256BlocksPortable(state_, data, count);
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
