// Whole-program runs of installer.exe with mutated documents, as an administrator's tooling
// would start them: each run by CreateProcessW, killed after the timeout, its full 32-bit exit
// code recorded. Mostly the verify action (-vi) with a mutated installation document and a
// mutated configuration document; some runs add a hostile -l or -sd1.
// Rules: no run ends with an exception code (0xC0000005, 0xC0000409, 0xC00000FD, 0xC0000374,
// 0x80000003 or any other 0xC0000000 code) or abort(); no run outlives the timeout; the documents
// are unchanged on disk afterwards; the file the documents' external entities name is not read.
// --replay <package.xml> [--config <configuration.xml>] runs one saved document.
#include <windows.h>
#include <cstdio>
#include <string>

#include "fuzz/Campaign.h"
#include "fuzz/DocumentMutator.h"
#include "support/TestFiles.h"

namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

struct RunResult {
    bool timedOut = false;
    DWORD exitCode = 0;
    bool started = false;
    DWORD startError = 0;
};

RunResult Run(const std::wstring& program, const std::wstring& commandLine, const std::wstring& errorPath,
              DWORD timeoutMs) {
    RunResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE null = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, nullptr);
    HANDLE error = ::CreateFileW(errorPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = null;
    startup.hStdError = error;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (::CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                         &startup, &process)) {
        result.started = true;
        if (::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_TIMEOUT) {
            result.timedOut = true;
            ::TerminateProcess(process.hProcess, 0xDEAD);
            ::WaitForSingleObject(process.hProcess, 10000);
        }
        ::GetExitCodeProcess(process.hProcess, &result.exitCode);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    } else {
        result.startError = ::GetLastError();
    }
    if (null != INVALID_HANDLE_VALUE) ::CloseHandle(null);
    if (error != INVALID_HANDLE_VALUE) ::CloseHandle(error);
    return result;
}

bool IsExceptionCode(DWORD code) {
    return code == 0x80000003 || (code & 0xF0000000u) == 0xC0000000u;
}

char Hex(unsigned value) { return "0123456789ABCDEF"[value & 0xF]; }

std::string CodeText(DWORD code) {
    if (code < 0x10000) return std::to_string(code);
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) text.push_back(Hex(code >> shift));
    return text;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    Campaign campaign("fuzz_runs", argc, argv, 40, 120);
    const std::wstring timeoutOption = campaign.Option(L"run-timeout");
    const DWORD runTimeoutMs = (timeoutOption.empty() ? 30u : std::wcstoul(timeoutOption.c_str(), nullptr, 10)) * 1000u;
    const std::wstring program = TestProgramDirectory() + L"installer.exe";

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring work = std::wstring(temp) + L"fuzz_runs_" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    ::CreateDirectoryW(work.c_str(), nullptr);
    ::CreateDirectoryW((work + L"install").c_str(), nullptr);
    ::CreateDirectoryW((work + L"content").c_str(), nullptr);
    const std::wstring forbiddenPath = work + L"forbidden.txt";
    WriteFileBytes(forbiddenPath, "FUZZSECRETMARKER\n");
    ForbiddenFile forbidden;
    forbidden.path = Campaign::Utf8(forbiddenPath);
    forbidden.url = "file:///" + forbidden.path;
    for (char& c : forbidden.url) if (c == '\\') c = '/';

    std::vector<SeedDocument> packages;
    std::vector<SeedDocument> configurations;
    for (const SeedDocument& seed : LoadSeedDocuments(TestProgramDirectory() + L"fuzz_seeds")) {
        (seed.configuration ? configurations : packages).push_back(seed);
    }
    if (campaign.ReplayFile().empty() && (packages.empty() || configurations.empty())) {
        std::printf("no seed documents under %s\n", Campaign::Utf8(TestProgramDirectory() + L"fuzz_seeds").c_str());
        return 2;
    }

    const std::wstring packagePath = work + L"package.xml";
    const std::wstring configurationPath = work + L"configuration.xml";
    const std::wstring errorPath = work + L"stderr.txt";
    for (uint64_t index = campaign.First(); index < campaign.End(); ++index) {
        Random random = campaign.CaseRandom(index);
        std::string package;
        std::string configuration;
        std::string mutations;
        if (!campaign.ReplayFile().empty()) {
            package = ReadFileBytes(campaign.ReplayFile());
            configuration = campaign.Option(L"config").empty() ? configurations.empty() ? std::string() : configurations[0].text
                                                                : ReadFileBytes(campaign.Option(L"config"));
        } else {
            const MutatedDocument mutatedPackage = MutateDocument(packages[random() % packages.size()], random, forbidden);
            package = mutatedPackage.bytes;
            mutations = mutatedPackage.mutations;
            const SeedDocument& seed = configurations[random() % configurations.size()];
            if (random() % 2) {
                const MutatedDocument mutatedConfiguration = MutateDocument(seed, random, forbidden);
                configuration = mutatedConfiguration.bytes;
                mutations += "| " + mutatedConfiguration.mutations;
            } else {
                configuration = seed.text;
            }
        }
        campaign.Begin(index, package, ".xml");
        if (!WriteFileBytes(packagePath, package) || !WriteFileBytes(configurationPath, configuration)) {
            campaign.Outcome("failed");
            campaign.Failure("setup", "cannot write the documents");
            continue;
        }

        // The documents under other spellings that open them too.
        std::wstring packageSpelling = packagePath;
        switch (random() % 6) {
        case 0: packageSpelling += L"/"; break;
        case 1: packageSpelling = work + L"INSTALL\\..\\PACKAGE.XML"; break;
        default: break;
        }
        std::wstring line = Quoted(program) + L" -vi -x " + Quoted(packageSpelling) + L" -s " + Quoted(configurationPath) +
                            L" -d " + Quoted(work + L"install") + L" -c " + Quoted(work + L"content");
        switch (random() % 8) {
        case 0: line += L" -l " + Quoted(work + L"run.log"); break;
        case 1: line += L" -l " + Quoted(packagePath); break;           // the log must not go into the document
        case 2: line += L" -l " + Quoted(configurationPath); break;
        case 3: line += L" -sd1 C::\\x"; break;
        default: break;
        }
        AgeLastAccess(forbiddenPath);
        const ULONGLONG armed = LastAccess(forbiddenPath);
        // Wine's process creation now and then fails on a loaded machine (1359, an internal
        // error) before the program exists: such a start is tried again, and counted.
        RunResult result = Run(program, line, errorPath, runTimeoutMs);
        for (int attempt = 1; attempt < 4 && !result.started; ++attempt) {
            ::Sleep(200 * attempt);
            campaign.Note("installer.exe started again after error " + std::to_string(result.startError));
            result = Run(program, line, errorPath, runTimeoutMs);
        }
        const std::string errorText = ReadFileBytes(errorPath);

        std::string failure;
        std::string kind = "rule";
        if (!result.started) {
            failure = "installer.exe did not start (error " + std::to_string(result.startError) + ")";
            kind = "setup";
        } else if (result.timedOut) {
            failure = "the run outlived " + std::to_string(runTimeoutMs / 1000) + " s and was killed";
            kind = "hang";
        } else if (IsExceptionCode(result.exitCode)) {
            failure = "the run ended with exception code " + CodeText(result.exitCode);
            kind = "crash";
        } else if (errorText.find("terminate it in an unusual way") != std::string::npos ||
                   errorText.find("abort") != std::string::npos) {
            failure = "the run aborted (exit code " + CodeText(result.exitCode) + ")";
            kind = "crash";
        } else if (ReadFileBytes(packagePath) != package || ReadFileBytes(configurationPath) != configuration) {
            failure = "a document changed on disk";
        } else if (LastAccess(forbiddenPath) != armed) {
            failure = "the forbidden file was read";
        }
        campaign.Outcome(failure.empty() ? "exit " + CodeText(result.exitCode) : "failed");
        if (!failure.empty()) {
            campaign.SetInput(package, ".xml");
            campaign.Failure(kind, failure + " (" + mutations + "), command line: " + Campaign::Escaped(line));
            const std::wstring failures = campaign.Option(L"failures").empty() ? L"fuzz-failures" : campaign.Option(L"failures");
            WriteFileBytes(failures + L"\\fuzz_runs-seed" + std::to_wstring(campaign.Seed()) + L"-case" +
                               std::to_wstring(index) + L"-configuration.xml",
                           configuration);
        }
    }
    return campaign.Finish();
}
