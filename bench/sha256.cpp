// Throughput of the file digest on each SHA-256 block function: writes a 256 MiB file to the
// temp folder, digests it three times per path through ComputeFileDigest (40960-byte reads) and
// prints the best MB/s of each; the file is deleted at the end. For comparison it also prints the
// block function alone over the same number of bytes from one cache-resident 40960-byte buffer,
// the bound the file digest approaches when reading costs nothing.
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>
#include "operations/FileDigest.h"
#include "operations/Sha256.h"
#include "shell/Handles.h"

namespace {

const DWORD kChunk = 1 << 20;
const int kChunks = 256;
const int kRuns = 3;

bool WriteTestFile(const std::wstring& path) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::vector<unsigned char> chunk(kChunk);
    unsigned state = 12345;
    for (int i = 0; i < kChunks; ++i) {
        for (auto& byte : chunk) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<unsigned char>(state >> 24);
        }
        DWORD written = 0;
        if (!::WriteFile(file.get(), chunk.data(), kChunk, &written, nullptr) || written != kChunk) return false;
    }
    return true;
}

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

} // namespace

int wmain() {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"bench_sha256_" + std::to_wstring(::GetCurrentProcessId()) + L".bin";
    if (!WriteTestFile(path)) {
        std::printf("cannot write %ls\n", path.c_str());
        ::DeleteFileW(path.c_str());
        return 1;
    }
    const double megabytes = double(kChunk) * kChunks / 1e6;
    std::printf("file digest of %.0f MB (%d MiB), best of %d runs\n", megabytes, kChunks, kRuns);

    struct Variant { Sha256::Path path; const char* name; };
    const Variant variants[] = { { Sha256::Path::Portable, "portable" }, { Sha256::Path::ShaExtensions, "SHA extensions" } };
    int status = 0;
    std::string reference;
    for (const auto& variant : variants) {
        if (variant.path == Sha256::Path::ShaExtensions && !Sha256::ShaExtensionsAvailable()) {
            std::printf("%-15s not available on this processor\n", variant.name);
            continue;
        }
        double best = 0;
        for (int run = 0; run < kRuns; ++run) {
            Sha256::Digest digest{};
            LARGE_INTEGER start, end;
            ::QueryPerformanceCounter(&start);
            const DWORD result = ComputeFileDigest(path, digest, variant.path);
            ::QueryPerformanceCounter(&end);
            if (result != 0) {
                std::printf("%-15s digest failed with %lu\n", variant.name, result);
                status = 1;
                break;
            }
            std::string hex;
            char byte[3];
            for (auto b : digest) { std::snprintf(byte, sizeof(byte), "%02x", b); hex += byte; }
            if (reference.empty()) reference = hex;
            else if (hex != reference) { std::printf("%-15s digest differs: %s\n", variant.name, hex.c_str()); status = 1; }
            const double rate = megabytes / Seconds(start, end);
            if (rate > best) best = rate;
        }
        double memoryBest = 0;
        std::vector<unsigned char> buffer(40960, 0x5a);
        for (int run = 0; run < kRuns; ++run) {
            Sha256 sha(variant.path);
            LARGE_INTEGER start, end;
            ::QueryPerformanceCounter(&start);
            for (size_t done = 0; done < size_t(kChunk) * kChunks; done += buffer.size()) sha.Update(buffer.data(), buffer.size());
            sha.Finish();
            ::QueryPerformanceCounter(&end);
            const double rate = megabytes / Seconds(start, end);
            if (rate > memoryBest) memoryBest = rate;
        }
        std::printf("%-15s %8.1f MB/s file digest, %8.1f MB/s in memory\n", variant.name, best, memoryBest);
    }
    ::DeleteFileW(path.c_str());
    return status;
}
