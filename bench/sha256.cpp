// Throughput of each SHA-256 block function, in memory (40960-byte chunks from one buffer) and
// through the file digest (ComputeFileDigest, 40960-byte reads of a file in the cache).
//
//   bench_sha256.exe [--path portable|sha|avx2|all] [--file <path>] [--runs <n>]
//
// Without --file it writes a 256 MiB file of pseudo-random bytes to the temp folder and deletes
// it at the end. Each figure is bytes over the measuring thread's processor time (see Now),
// measured for at least one second; the wall-clock rate is printed beside it. With
// several runs the paths take turns and the best and the median of each figure are printed.
// A path the processor lacks is reported and left out. Lines starting with "result" and "digest"
// are for scripts: "result <path> <memory|file> <MB/s processor time> <MB/s wall clock>" and
// "digest <path> <hex>" (the file's digest).
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "operations/FileDigest.h"
#include "operations/Sha256.h"
#include "shell/Handles.h"

namespace {

const size_t kChunk = 40960;
const DWORD kFileBlock = 1 << 20;
const int kFileBlocks = 256;
const double kMinimumSeconds = 1.0;
// Stops a measurement also after this much wall-clock time, should processor time not advance.
const double kMaximumWallSeconds = 30.0;

struct PathInfo { Sha256::Path path; const char* name; };
const PathInfo kPaths[] = {
    { Sha256::Path::Portable, "portable" },
    { Sha256::Path::Avx2, "avx2" },
    { Sha256::Path::ShaExtensions, "sha" },
};

bool Available(Sha256::Path path) {
    if (path == Sha256::Path::ShaExtensions) return Sha256::ShaExtensionsAvailable();
    if (path == Sha256::Path::Avx2) return Sha256::Avx2Available();
    return true;
}

void FillPseudoRandom(std::vector<unsigned char>& bytes, unsigned& state) {
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(state >> 24);
    }
}

bool WriteTestFile(const std::wstring& path) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::vector<unsigned char> block(kFileBlock);
    unsigned state = 12345;
    for (int i = 0; i < kFileBlocks; ++i) {
        FillPseudoRandom(block, state);
        DWORD written = 0;
        if (!::WriteFile(file.get(), block.data(), kFileBlock, &written, nullptr) || written != kFileBlock) return false;
    }
    return true;
}

// Processor time of this thread and wall-clock time, in seconds. In memory the processor time
// is user time alone (as openssl speed counts it: the kernel's share there is interrupts and
// switches to other work); the file digest counts the kernel's time too, which reads the file.
struct Clock {
    double processor;
    double wall;
};

Clock Now(bool withKernel) {
    FILETIME creation, exit, kernel, user;
    ::GetThreadTimes(::GetCurrentThread(), &creation, &exit, &kernel, &user);
    auto seconds = [](const FILETIME& t) { return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return { seconds(user) + (withKernel ? seconds(kernel) : 0.0), double(counter.QuadPart) / double(frequency.QuadPart) };
}

struct Rate {
    double processor = 0;  // MB/s
    double wall = 0;
};

Rate RateOf(double bytes, const Clock& start, const Clock& end) {
    Rate rate;
    rate.processor = end.processor > start.processor ? bytes / 1e6 / (end.processor - start.processor) : 0;
    rate.wall = end.wall > start.wall ? bytes / 1e6 / (end.wall - start.wall) : 0;
    return rate;
}

Rate InMemory(Sha256::Path path, const std::vector<unsigned char>& buffer) {
    Sha256 sha(path);
    double bytes = 0;
    const Clock start = Now(false);
    Clock now = start;
    do {
        for (int i = 0; i < 64; ++i) sha.Update(buffer.data(), buffer.size());
        bytes += 64.0 * double(buffer.size());
        now = Now(false);
    } while (now.processor - start.processor < kMinimumSeconds && now.wall - start.wall < kMaximumWallSeconds);
    sha.Finish();
    return RateOf(bytes, start, now);
}

// The file digest, repeated until a second of processor time has passed; false when it failed.
bool FileDigest(Sha256::Path path, const std::wstring& file, double fileBytes, Rate& rate, std::string& hex) {
    double bytes = 0;
    const Clock start = Now(true);
    Clock now = start;
    do {
        Sha256::Digest digest{};
        if (ComputeFileDigest(file, digest, path) != 0) return false;
        hex.clear();
        char text[3];
        for (auto b : digest) {
            std::snprintf(text, sizeof(text), "%02x", b);
            hex += text;
        }
        bytes += fileBytes;
        now = Now(true);
    } while (now.processor - start.processor < kMinimumSeconds && now.wall - start.wall < kMaximumWallSeconds);
    rate = RateOf(bytes, start, now);
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Best(const std::vector<double>& values) { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }

void Usage() { std::printf("usage: bench_sha256.exe [--path portable|sha|avx2|all] [--file <path>] [--runs <n>]\n"); }

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring only = L"all";
    std::wstring file;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--path" && i + 1 < argc) only = argv[++i];
        else if (arg == L"--file" && i + 1 < argc) file = argv[++i];
        else if (arg == L"--runs" && i + 1 < argc) runs = _wtoi(argv[++i]);
        else { Usage(); return 87; }
    }
    if (runs < 1 || (only != L"all" && only != L"portable" && only != L"sha" && only != L"avx2")) {
        Usage();
        return 87;
    }
    std::vector<PathInfo> chosen;
    for (const auto& info : kPaths) {
        std::wstring name(info.name, info.name + std::strlen(info.name));
        if (only != L"all" && only != name) continue;
        if (!Available(info.path)) {
            std::printf("%-9s not available on this processor\n", info.name);
            continue;
        }
        chosen.push_back(info);
    }
    if (chosen.empty()) return 0;

    const bool ownFile = file.empty();
    if (ownFile) {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        file = std::wstring(temp) + L"bench_sha256_" + std::to_wstring(::GetCurrentProcessId()) + L".bin";
        if (!WriteTestFile(file)) {
            std::printf("cannot write %ls\n", file.c_str());
            ::DeleteFileW(file.c_str());
            return 1;
        }
    }
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &attributes)) {
        std::printf("cannot read %ls\n", file.c_str());
        return 1;
    }
    const double fileBytes = double((uint64_t(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow);

    std::vector<unsigned char> buffer(kChunk);
    unsigned state = 777;
    FillPseudoRandom(buffer, state);

    struct Figures { std::vector<double> memory, memoryWall, file, fileWall; std::string digest; };
    std::vector<Figures> figures(chosen.size());
    int status = 0;
    for (int run = 0; run < runs && status == 0; ++run) {
        for (size_t p = 0; p < chosen.size(); ++p) {
            const Rate memory = InMemory(chosen[p].path, buffer);
            Rate onFile;
            std::string hex;
            if (!FileDigest(chosen[p].path, file, fileBytes, onFile, hex)) {
                std::printf("%-9s file digest failed\n", chosen[p].name);
                status = 1;
                break;
            }
            figures[p].memory.push_back(memory.processor);
            figures[p].memoryWall.push_back(memory.wall);
            figures[p].file.push_back(onFile.processor);
            figures[p].fileWall.push_back(onFile.wall);
            figures[p].digest = hex;
            std::printf("result %s memory %.1f %.1f\n", chosen[p].name, memory.processor, memory.wall);
            std::printf("result %s file %.1f %.1f\n", chosen[p].name, onFile.processor, onFile.wall);
            std::fflush(stdout);
        }
    }
    if (ownFile) ::DeleteFileW(file.c_str());
    if (status != 0) return status;

    std::printf("\nSHA-256 of %.0f MB, MB/s over processor time (wall clock in brackets); best and median of %d run%s\n",
                fileBytes / 1e6, runs, runs == 1 ? "" : "s");
    std::printf("%-9s %26s %26s\n", "path", "in memory best (wall) / median", "file best (wall) / median");
    for (size_t p = 0; p < chosen.size(); ++p) {
        const Figures& f = figures[p];
        std::printf("%-9s %7.1f (%6.1f) / %7.1f %7.1f (%6.1f) / %7.1f\n", chosen[p].name, Best(f.memory), Best(f.memoryWall),
                    Median(f.memory), Best(f.file), Best(f.fileWall), Median(f.file));
    }
    for (size_t p = 0; p < chosen.size(); ++p) {
        std::printf("digest %s %s\n", chosen[p].name, figures[p].digest.c_str());
        if (figures[p].digest != figures[0].digest) {
            std::printf("%s gives another digest than %s\n", chosen[p].name, chosen[0].name);
            status = 1;
        }
    }
    return status;
}
