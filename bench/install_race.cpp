// Benchmark: installer.exe against an NSIS installer of the same payload, and installer.exe alone
// on payloads of different shapes. Run by scripts/bench-install.sh (which builds the NSIS
// installer with makensis on the Linux side between the two steps):
//
//   bench_install_race.exe prepare <dir> <files> <bytes> <folders>
//       lays out <dir>\payload\dNN\fileNNNNN.bin (random bytes), <dir>\package.xml with the
//       files' real SHA-256 digests, <dir>\race.nsi, and a copy of installer.exe in <dir>.
//   bench_install_race.exe race <dir> <nsis setup.exe> <rounds>
//       alternates, round by round, installer.exe install (-l), verify, uninstall and the NSIS
//       install (/S), uninstall; prints each figure's median and spread and the ratios.
//   bench_install_race.exe alone <dir> <label>
//       installer.exe install and uninstall of the package in <dir>: seconds and peak working set.
//
// installer.exe runs with INSTALLER_PHASE_TIMES set, so that each run reports where its time
// went (document, directories, copy, digest, delete, log, other); the race prints the medians,
// and the time from CreateProcess to the program's entry point as "start".
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>
#include "operations/FileDigest.h"
#include "operations/Sha256.h"
#include "shell/Handles.h"
#include "shell/ProgramDirectory.h"
#include "shell/Text.h"

namespace {

const wchar_t kReferenceKey[] = L"SOFTWARE\\Norvex\\Coravel";

bool WriteAll(HANDLE file, const void* data, size_t size) {
    DWORD written = 0;
    return ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

bool WriteText(const std::wstring& path, const std::string& text) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    return file && WriteAll(file.get(), text.data(), text.size());
}

// Incompressible, reproducible content.
void Fill(uint8_t* data, size_t size, uint64_t& state) {
    for (size_t i = 0; i + 8 <= size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        memcpy(data + i, &state, 8);
    }
    for (size_t i = size & ~size_t(7); i < size; ++i) data[i] = static_cast<uint8_t>(state >> (i % 8 * 8));
}

// Writes `size` random bytes to `path` in pieces of at most 4 MiB; the digest of what was written.
bool WriteRandomFile(const std::wstring& path, uint64_t size, uint64_t& state, std::string& digest) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    if (!file) return false;
    static std::vector<uint8_t> buffer(4u << 20);
    Sha256 sha;
    for (uint64_t done = 0; done < size;) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - done));
        Fill(buffer.data(), piece, state);
        sha.Update(buffer.data(), piece);
        if (!WriteAll(file.get(), buffer.data(), piece)) return false;
        done += piece;
    }
    digest = Utf8FromUtf16(DigestText(sha.Finish()));
    return true;
}


int Prepare(const std::wstring& dir, int files, uint64_t bytes, int folders) {
    if (::SHCreateDirectoryExW(nullptr, (dir + L"\\content").c_str(), nullptr) != ERROR_SUCCESS) return 1;
    for (int d = 0; d < folders; ++d) {
        wchar_t name[32];
        swprintf(name, 32, L"\\payload\\d%02d", d);
        if (::SHCreateDirectoryExW(nullptr, (dir + name).c_str(), nullptr) != ERROR_SUCCESS) return 1;
    }
    std::string document =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Package schemaVersion=\"1.0\" TarnexVersion=\"1.0.0.1600\">\n"
        "  <Feature tag=\"Bulk\">\n";
    uint64_t state = 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(files);
    const uint64_t base = bytes / static_cast<uint64_t>(files);
    const uint64_t remainder = bytes % static_cast<uint64_t>(files);
    for (int i = 0; i < files; ++i) {
        char folder[16];
        char file[32];
        // Folder by folder, as a package lists its files (and as makensis stores them).
        snprintf(folder, sizeof(folder), "d%02d", static_cast<int>(static_cast<int64_t>(i) * folders / files));
        snprintf(file, sizeof(file), "file%05d.bin", i);
        const uint64_t size = base + (static_cast<uint64_t>(i) < remainder ? 1 : 0);
        std::string digest;
        const std::wstring path = dir + L"\\payload\\" + std::wstring(folder, folder + strlen(folder)) + L"\\" + std::wstring(file, file + strlen(file));
        if (!WriteRandomFile(path, size, state, digest)) return 1;
        document += std::string("    <FileOperation operation=\"copy\" source=\"payload\\") + folder +
                    "\" destination=\"$INSTALL_PATH\\" + folder + "\" sha256=\"" + digest + "\">" + file +
                    "</FileOperation>\n";
    }
    document += "  </Feature>\n</Package>\n";
    // The same payload for makensis: stored, not compressed; the uninstaller removes the folder.
    const std::string nsi =
        "Unicode true\r\nTarget amd64-unicode\r\nSetCompress off\r\nName \"Race\"\r\nOutFile \"setup.exe\"\r\n"
        "InstallDir \"C:\\bench\\nsis\"\r\nRequestExecutionLevel admin\r\n"
        "Section\r\n  SetOutPath \"$INSTDIR\"\r\n  File /r \"payload\\*.*\"\r\n"
        "  WriteUninstaller \"$INSTDIR\\uninstall.exe\"\r\nSectionEnd\r\n"
        "Section \"Uninstall\"\r\n  RMDir /r \"$INSTDIR\"\r\nSectionEnd\r\n";
    if (!WriteText(dir + L"\\package.xml", document) || !WriteText(dir + L"\\race.nsi", nsi)) return 1;
    std::wstring own;
    if (GetProgramDirectory(own) != ERROR_SUCCESS ||
        !::CopyFileW((own + L"installer.exe").c_str(), (dir + L"\\installer.exe").c_str(), FALSE)) {
        return 1;
    }
    wprintf(L"prepared %ls: %d files, %llu bytes, %d folders\n", dir.c_str(), files,
            static_cast<unsigned long long>(bytes), folders);
    return 0;
}

double Seconds(LONGLONG counts) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counts) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

struct RunResult {
    bool started = false;
    DWORD exitCode = 0;
    double seconds = 0;
    LONGLONG launched = 0;     // counter just before CreateProcessW
    SIZE_T peakWorkingSet = 0;
};

// Runs a program with its output discarded and waits for it. With `watchMemory`, the child's peak
// working set is read every few milliseconds while it runs (Wine keeps no figure for a process
// that has ended) and once more at the end; the largest reading is the peak.
RunResult Run(const std::wstring& program, const std::wstring& arguments, bool watchMemory) {
    RunResult run;
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueFileHandle nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = nul.get();
    startup.hStdError = nul.get();
    PROCESS_INFORMATION info{};
    run.launched = Now();
    if (!::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        return run;
    }
    run.started = true;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    auto readPeak = [&] {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        if (::GetProcessMemoryInfo(process.get(), &counters, sizeof(counters))) {
            run.peakWorkingSet = std::max(run.peakWorkingSet, counters.PeakWorkingSetSize);
        }
    };
    while (::WaitForSingleObject(process.get(), watchMemory ? 5 : INFINITE) == WAIT_TIMEOUT) readPeak();
    run.seconds = Seconds(Now() - run.launched);
    if (watchMemory) readPeak();
    ::GetExitCodeProcess(process.get(), &run.exitCode);
    return run;
}

bool DeleteTree(const std::wstring& path) {
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    std::vector<wchar_t> from(path.begin(), path.end());
    from.push_back(L'\0');
    from.push_back(L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.data();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR;
    return ::SHFileOperationW(&operation) == 0 && ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::wstring Quote(const std::wstring& path) { return L"\"" + path + L"\""; }

// Where the phase report of installer.exe goes; emptied before each run.
std::wstring PhaseFile() {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"installer-phases.txt";
}

// The phase report of the last run, in seconds, with "start" the time from CreateProcessW to the
// program's entry point. Empty when the run wrote none.
std::map<std::string, double> ReadPhases(const RunResult& run) {
    std::map<std::string, double> phases;
    FILE* file = _wfopen(PhaseFile().c_str(), L"rb");
    if (!file) return phases;
    char line[1024] = {};
    const size_t length = fread(line, 1, sizeof(line) - 1, file);
    fclose(file);
    line[length] = '\0';
    std::map<std::string, long long> counts;
    for (char* item = strtok(line, " \r\n"); item; item = strtok(nullptr, " \r\n")) {
        char* equals = strchr(item, '=');
        if (!equals) continue;
        *equals = '\0';
        counts[item] = _atoi64(equals + 1);
    }
    const double frequency = static_cast<double>(counts["frequency"]);
    if (frequency <= 0) return phases;
    for (const auto& [name, value] : counts) {
        if (name != "start" && name != "end" && name != "frequency") phases[name] = static_cast<double>(value) / frequency;
    }
    phases["start"] = static_cast<double>(counts["start"] - run.launched) / frequency;
    phases["end"] = run.seconds - static_cast<double>(counts["end"] - run.launched) / frequency;
    return phases;
}

struct Paths {
    std::wstring dir, installer, document, installDirectory, content, log;
};

Paths PathsOf(const std::wstring& dir) {
    Paths p;
    p.dir = dir;
    p.installer = dir + L"\\installer.exe";
    p.document = dir + L"\\package.xml";
    p.installDirectory = L"C:\\bench\\ours";
    p.content = dir + L"\\content";
    p.log = dir + L"\\installer.log";
    return p;
}

std::wstring Arguments(const Paths& p, const wchar_t* action) {
    const std::wstring a(action);
    if (a == L"-u") return L"-u -x " + Quote(p.document) + L" -l " + Quote(p.log);
    return a + L" -x " + Quote(p.document) + L" -d " + Quote(p.installDirectory) + L" -c " + Quote(p.content) +
           L" -l " + Quote(p.log);
}

// One run of installer.exe with its phase report; false when it did not start or failed.
bool RunOurs(const Paths& p, const wchar_t* action, RunResult& run, std::map<std::string, double>& phases,
             bool watchMemory) {
    ::DeleteFileW(PhaseFile().c_str());
    run = Run(p.installer, Arguments(p, action), watchMemory);
    if (!run.started || run.exitCode != 0) {
        wprintf(L"installer.exe %ls: %ls %lu\n", action, run.started ? L"exit code" : L"could not start, error",
                run.started ? run.exitCode : ::GetLastError());
        return false;
    }
    phases = ReadPhases(run);
    return true;
}

struct Stats {
    double median = 0, low = 0, high = 0;
};

Stats StatsOf(std::vector<double> values) {
    Stats s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.low = values.front();
    s.high = values.back();
    return s;
}

void CleanUp(const Paths& p) {
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kReferenceKey);
    DeleteTree(p.installDirectory);
    DeleteTree(L"C:\\bench\\nsis");
}

const char* const kPhaseOrder[] = { "start", "document", "directories", "copy", "digest", "delete", "log", "other", "end" };

void PrintPhases(const wchar_t* action, const std::vector<std::map<std::string, double>>& runs) {
    if (runs.empty() || runs.front().empty()) return;
    wprintf(L"  %-9ls", action);
    double total = 0;
    for (const char* name : kPhaseOrder) {
        std::vector<double> values;
        for (const auto& run : runs) {
            const auto found = run.find(name);
            if (found != run.end()) values.push_back(found->second);
        }
        const double median = StatsOf(values).median;
        total += median;
        wprintf(L" %11.3f", median);
    }
    wprintf(L" %8.3f\n", total);
}

void PrintPhaseHeader() {
    wprintf(L"  %-9ls", L"seconds");
    for (const char* name : kPhaseOrder) wprintf(L" %11hs", name);
    wprintf(L" %8ls\n", L"sum");
}

int Race(const std::wstring& dir, const std::wstring& nsisSetup, int rounds) {
    const Paths p = PathsOf(dir);
    CleanUp(p);
    const wchar_t* const ourActions[] = { L"-i", L"-vi", L"-u" };
    const wchar_t* const ourNames[] = { L"install", L"verify", L"uninstall" };
    std::vector<double> ours[3], nsis[2], installRatios, uninstallRatios;
    std::vector<std::map<std::string, double>> phases[3];
    const std::wstring nsisDirectory = L"C:\\bench\\nsis";
    for (int round = 1; round <= rounds; ++round) {
        double our[3] = {}, their[2] = {};
        // Odd rounds start with installer.exe, even rounds with the NSIS installer.
        for (int turn = 0; turn < 2; ++turn) {
            if ((turn == 0) == (round % 2 == 1)) {
                for (int a = 0; a < 3; ++a) {
                    RunResult run;
                    std::map<std::string, double> phase;
                    if (!RunOurs(p, ourActions[a], run, phase, false)) { CleanUp(p); return 1; }
                    our[a] = run.seconds;
                    phases[a].push_back(phase);
                }
            } else {
                const RunResult install = Run(nsisSetup, L"/S /D=" + nsisDirectory, false);
                if (!install.started || install.exitCode != 0) {
                    wprintf(L"NSIS install: exit code %lu\n", install.exitCode);
                    CleanUp(p);
                    return 1;
                }
                // In place (_?=): the uninstaller otherwise copies itself to the temp folder,
                // starts the copy and ends at once.
                const RunResult uninstall =
                    Run(nsisDirectory + L"\\uninstall.exe", L"/S _?=" + nsisDirectory, false);
                if (!uninstall.started || uninstall.exitCode != 0) {
                    wprintf(L"NSIS uninstall: exit code %lu\n", uninstall.exitCode);
                    CleanUp(p);
                    return 1;
                }
                their[0] = install.seconds;
                their[1] = uninstall.seconds;
                DeleteTree(nsisDirectory);   // the uninstaller that ran in place stays behind
            }
        }
        for (int a = 0; a < 3; ++a) ours[a].push_back(our[a]);
        for (int a = 0; a < 2; ++a) nsis[a].push_back(their[a]);
        installRatios.push_back(our[0] / their[0]);
        uninstallRatios.push_back(our[2] / their[1]);
        wprintf(L"round %d: ours install %.2f verify %.2f uninstall %.2f | NSIS install %.2f uninstall %.2f\n", round,
                our[0], our[1], our[2], their[0], their[1]);
        fflush(stdout);
    }
    CleanUp(p);

    wprintf(L"\nRace, %d alternating rounds, seconds: median (min-max)\n", rounds);
    wprintf(L"  %-10ls %-22ls %-22ls %ls\n", L"", L"installer.exe", L"NSIS", L"ratio of medians (per-round range)");
    const Stats ourInstall = StatsOf(ours[0]), ourVerify = StatsOf(ours[1]), ourUninstall = StatsOf(ours[2]);
    const Stats theirInstall = StatsOf(nsis[0]), theirUninstall = StatsOf(nsis[1]);
    const Stats installRatio = StatsOf(installRatios), uninstallRatio = StatsOf(uninstallRatios);
    wprintf(L"  %-10ls %5.2f (%4.2f-%4.2f)     %5.2f (%4.2f-%4.2f)     %.2f (%.2f-%.2f)\n", L"install", ourInstall.median,
            ourInstall.low, ourInstall.high, theirInstall.median, theirInstall.low, theirInstall.high,
            ourInstall.median / theirInstall.median, installRatio.low, installRatio.high);
    wprintf(L"  %-10ls %5.2f (%4.2f-%4.2f)     %5.2f (%4.2f-%4.2f)     %.2f (%.2f-%.2f)\n", L"uninstall",
            ourUninstall.median, ourUninstall.low, ourUninstall.high, theirUninstall.median, theirUninstall.low,
            theirUninstall.high, ourUninstall.median / theirUninstall.median, uninstallRatio.low, uninstallRatio.high);
    wprintf(L"  %-10ls %5.2f (%4.2f-%4.2f)\n", L"verify", ourVerify.median, ourVerify.low, ourVerify.high);

    wprintf(L"\nWhere installer.exe's time goes, median seconds per phase (start: CreateProcess to entry point;\n"
            L"end: last phase report to the parent seeing the exit)\n");
    PrintPhaseHeader();
    for (int a = 0; a < 3; ++a) PrintPhases(ourNames[a], phases[a]);
    return 0;
}

int Alone(const std::wstring& dir, const std::wstring& label) {
    const Paths p = PathsOf(dir);
    CleanUp(p);
    RunResult install, uninstall;
    std::map<std::string, double> installPhases, uninstallPhases;
    const bool ok = RunOurs(p, L"-i", install, installPhases, true) && RunOurs(p, L"-u", uninstall, uninstallPhases, true);
    CleanUp(p);
    if (!ok) return 1;
    wprintf(L"growth %-22ls install %7.2f s  peak %7.1f MiB | uninstall %7.2f s  peak %7.1f MiB\n", label.c_str(),
            install.seconds, install.peakWorkingSet / 1048576.0, uninstall.seconds,
            uninstall.peakWorkingSet / 1048576.0);
    PrintPhaseHeader();
    PrintPhases(L"install", { installPhases });
    PrintPhases(L"uninstall", { uninstallPhases });
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ::SetEnvironmentVariableW(L"INSTALLER_PHASE_TIMES", PhaseFile().c_str());
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"prepare" && argc == 6) {
        return Prepare(argv[2], _wtoi(argv[3]), _wcstoui64(argv[4], nullptr, 10), _wtoi(argv[5]));
    }
    if (mode == L"race" && argc == 5) {
        UniqueKey reference;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kReferenceKey, 0, KEY_READ, reference.put()) == ERROR_SUCCESS) {
            wprintf(L"An installation is already recorded on this machine; run the benchmark on a clean one.\n");
            return 1;
        }
        return Race(argv[2], argv[3], _wtoi(argv[4]));
    }
    if (mode == L"alone" && argc == 4) return Alone(argv[2], argv[3]);
    wprintf(L"usage: bench_install_race.exe prepare <dir> <files> <bytes> <folders>\n"
            L"       bench_install_race.exe race <dir> <nsis setup.exe> <rounds>\n"
            L"       bench_install_race.exe alone <dir> <label>\n");
    return 87;
}
