// Benchmark: install, verify and uninstall a package of 2,000 files (200 MiB in all) with
// installer.exe, and print the seconds each action takes.
//
// The package (payload in 20 sub-directories, an installation document with the files' real
// SHA-256 digests, and a copy of installer.exe from this program's own directory) is generated
// in the temp folder and removed afterwards.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "operations/Sha256.h"
#include "shell/Handles.h"
#include "shell/Text.h"

namespace {

const int kFileCount = 2000;
const int kDirectoryCount = 20;
const uint64_t kTotalBytes = 200ull * 1024 * 1024;

std::wstring OwnDirectory() {
    wchar_t buffer[MAX_PATH * 4] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(MAX_PATH * 4));
    std::wstring path(buffer, length);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring Hex(const Sha256::Digest& digest) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (uint8_t byte : digest) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
}

bool WriteBytes(const std::wstring& path, const void* data, size_t size) {
    UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
    if (!file) return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

// Incompressible, reproducible content.
void Fill(std::vector<uint8_t>& buffer, uint64_t& state) {
    for (size_t i = 0; i + 8 <= buffer.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        memcpy(&buffer[i], &state, 8);
    }
    for (size_t i = buffer.size() & ~size_t(7); i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(state >> (i % 8));
}

wchar_t* Name(wchar_t* buffer, size_t size, const wchar_t* format, int number) {
    swprintf(buffer, size, format, number);
    return buffer;
}

// Lays out the payload and writes the document; false when something cannot be written.
bool MakePackage(const std::wstring& package) {
    std::string document =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Package schemaVersion=\"1.0\" TarnexVersion=\"1.0.0.1600\">\n"
        "  <Feature tag=\"Bulk\">\n";
    std::vector<uint8_t> buffer;
    uint64_t state = 0x9E3779B97F4A7C15ull;
    const uint64_t base = kTotalBytes / kFileCount;
    const uint64_t remainder = kTotalBytes % kFileCount;
    wchar_t directoryName[32];
    wchar_t fileName[32];
    for (int d = 0; d < kDirectoryCount; ++d) {
        const std::wstring directory = package + L"\\payload\\" + Name(directoryName, 32, L"d%02d", d);
        if (::SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr) != ERROR_SUCCESS) return false;
    }
    for (int i = 0; i < kFileCount; ++i) {
        const std::wstring directory = Name(directoryName, 32, L"d%02d", i % kDirectoryCount);
        const std::wstring name = Name(fileName, 32, L"file%04d.bin", i);
        buffer.resize(static_cast<size_t>(base + (static_cast<uint64_t>(i) < remainder ? 1 : 0)));
        Fill(buffer, state);
        if (!WriteBytes(package + L"\\payload\\" + directory + L"\\" + name, buffer.data(), buffer.size())) return false;
        document += "    <FileOperation operation=\"copy\" source=\"payload\\" + Utf8FromUtf16(directory) +
                    "\" destination=\"$INSTALL_PATH\\" + Utf8FromUtf16(directory) + "\" sha256=\"" +
                    Utf8FromUtf16(Hex(Sha256Of(buffer.data(), buffer.size()))) + "\">" + Utf8FromUtf16(name) + "</FileOperation>\n";
    }
    document += "  </Feature>\n</Package>\n";
    return WriteBytes(package + L"\\package.xml", document.data(), document.size());
}

// Runs installer.exe with its report discarded; the full exit code, or a failure to start.
bool Run(const std::wstring& installer, const std::wstring& arguments, DWORD& exitCode) {
    std::wstring commandLine = L"\"" + installer + L"\" " + arguments;
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
    if (!::CreateProcessW(installer.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &info))
        return false;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    return ::GetExitCodeProcess(process.get(), &exitCode) != FALSE;
}

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring Quote(const std::wstring& path) { return L"\"" + path + L"\""; }

} // namespace

int wmain() {
    UniqueKey reference;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvex\\Coravel\\Install_Reference", 0, KEY_READ,
                        reference.put()) == ERROR_SUCCESS) {
        wprintf(L"An installation is already recorded on this machine; run the benchmark on a clean one.\n");
        return 1;
    }

    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring root = std::wstring(temp) + L"bench_install_" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring package = root + L"\\package";
    const std::wstring installDirectory = root + L"\\installed";
    const std::wstring content = root + L"\\content";
    const std::wstring log = root + L"\\installer.log";
    const std::wstring installer = package + L"\\installer.exe";

    int status = 0;
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    const bool made = ::SHCreateDirectoryExW(nullptr, content.c_str(), nullptr) == ERROR_SUCCESS &&
                      MakePackage(package) &&
                      ::CopyFileW((OwnDirectory() + L"installer.exe").c_str(), installer.c_str(), FALSE);
    ::QueryPerformanceCounter(&end);
    if (!made) {
        wprintf(L"Could not lay out the package in %ls (error %lu).\n", root.c_str(), ::GetLastError());
        status = 1;
    } else {
        wprintf(L"package: %d files, %llu bytes, laid out in %.2f s\n", kFileCount,
                static_cast<unsigned long long>(kTotalBytes), Seconds(start, end));
        struct Step { const wchar_t* name; std::wstring arguments; };
        const std::wstring document = Quote(package + L"\\package.xml");
        const Step steps[] = {
            {L"install", L"-i -x " + document + L" -d " + Quote(installDirectory) + L" -c " + Quote(content) +
                             L" -l " + Quote(log)},
            {L"verify", L"-vi -x " + document + L" -d " + Quote(installDirectory) + L" -c " + Quote(content) +
                            L" -l " + Quote(log)},
            {L"uninstall", L"-u -x " + document + L" -l " + Quote(log)},
        };
        for (const Step& step : steps) {
            DWORD exitCode = 0;
            ::QueryPerformanceCounter(&start);
            const bool ran = Run(installer, step.arguments, exitCode);
            ::QueryPerformanceCounter(&end);
            if (!ran) {
                wprintf(L"%-9ls could not start installer.exe (error %lu)\n", step.name, ::GetLastError());
                status = 1;
                break;
            }
            wprintf(L"%-9ls %8.2f s  (exit code %lu)\n", step.name, Seconds(start, end), exitCode);
            if (exitCode != 0) {
                status = 1;
                break;
            }
        }
    }

    // Leave the machine as it was: the package, and whatever a failed step left behind.
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norvex\\Coravel\\Install_Reference");
    std::vector<wchar_t> from(root.begin(), root.end());
    from.push_back(L'\0');
    from.push_back(L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.data();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR;
    ::SHFileOperationW(&operation);
    return status;
}
