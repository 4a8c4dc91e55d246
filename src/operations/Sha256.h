#pragma once
// SHA-256 as FIPS 180-4 defines it. Three block functions chosen at run time: the x86 SHA
// extensions when the processor has them (with SSE4.1), else AVX2 with BMI1/BMI2 when the
// processor has them and the operating system saves the YMM state, else a portable one.
#include <array>
#include <cstddef>
#include <cstdint>

class Sha256 {
public:
    enum class Path { Auto, Portable, ShaExtensions, Avx2 };
    using Digest = std::array<uint8_t, 32>;

    explicit Sha256(Path path = Path::Auto);
    void Update(const void* data, size_t size);
    // Gives the digest; later updates are ignored.
    Digest Finish();

    Path ActivePath() const { return path_; }
    // Whether this processor can run the SHA-extension path.
    static bool ShaExtensionsAvailable();
    // Whether this processor and operating system can run the AVX2 path.
    static bool Avx2Available();

private:
    void Blocks(const uint8_t* data, size_t count);

    Path path_;
    uint32_t state_[8];
    uint8_t buffer_[64];
    size_t buffered_ = 0;
    uint64_t length_ = 0;
    bool finished_ = false;
};

Sha256::Digest Sha256Of(const void* data, size_t size, Sha256::Path path = Sha256::Path::Auto);
