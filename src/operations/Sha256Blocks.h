#pragma once
// The two block functions behind Sha256: each consumes `count` 64-byte blocks into `state`.
#include <cstddef>
#include <cstdint>

// The 64 round constants of FIPS 180-4, aligned for 16-byte loads.
extern const uint32_t kSha256RoundConstants[64];

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t count);
// Needs the SHA extensions and SSE4.1; the caller checks Sha256::ShaExtensionsAvailable() first.
void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* data, size_t count);
// CPUID: leaf 7 EBX bit 29 (SHA) and leaf 1 ECX bit 19 (SSE4.1).
bool CpuHasShaExtensions();
