#pragma once
// Digest texts as installation documents carry them.
#include <cstddef>
#include <cstdint>
#include <string>
#include "operations/Sha256.h"

// Two lower-case hexadecimal digits per byte.
std::wstring HexText(const uint8_t* bytes, size_t size);
std::wstring HexText(const Sha256::Digest& digest);
// The SHA-256 text of some bytes.
std::wstring Sha256Text(const std::string& bytes);
