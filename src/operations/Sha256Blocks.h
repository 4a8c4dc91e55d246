#pragma once
// The block functions behind Sha256: each consumes `count` 64-byte blocks into `state`.
#include <cstddef>
#include <cstdint>
#include "operations/Sha256.h"

// The 64 round constants of FIPS 180-4, aligned for 16-byte loads.
extern const uint32_t kSha256RoundConstants[64];

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* data, size_t count);
// Needs the SHA extensions and SSE4.1; the caller checks Sha256::ShaExtensionsAvailable() first.
void Sha256BlocksShaExtensions(uint32_t state[8], const uint8_t* data, size_t count);
// Needs AVX2, BMI1 and BMI2 with the YMM state saved by the OS; the caller checks
// Sha256::Avx2Available() first.
void Sha256BlocksAvx2(uint32_t state[8], const uint8_t* data, size_t count);

// CPUID: leaf 7 EBX bit 29 (SHA) and leaf 1 ECX bit 19 (SSE4.1).
bool CpuHasShaExtensions();
// CPUID: leaf 1 ECX bits 27 (OSXSAVE) and 28 (AVX), leaf 7 EBX bits 3 (BMI1), 5 (AVX2) and 8 (BMI2);
// XGETBV(0): bits 1 and 2 (the OS saves the XMM and YMM registers).
bool CpuHasAvx2();

// The block function a Sha256 runs: the requested one when the processor has it, Auto's choice
// (SHA extensions, else AVX2, else portable) for Auto, and the portable one for a requested
// path the processor lacks.
Sha256::Path ChooseSha256Path(Sha256::Path requested, bool shaExtensions, bool avx2);
