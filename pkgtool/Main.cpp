// pkgtool: harvest a payload into an installation document, lint a document against its payload.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <string>
#include <vector>

#include "pkgtool/Harvest.h"
#include "pkgtool/Lint.h"
#include "pkgtool/PkgtoolCommandLine.h"
#include "shell/Text.h"

namespace {

// UTF-8 bytes whatever the stream is; a console is switched to UTF-8 for the write.
void WriteUtf8(DWORD stream, const std::wstring& text) {
    HANDLE out = ::GetStdHandle(stream);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || text.empty()) return;
    const std::string bytes = Utf8FromUtf16(text);
    DWORD mode = 0;
    const bool console = ::GetConsoleMode(out, &mode) != FALSE;
    const UINT previous = console ? ::GetConsoleOutputCP() : 0;
    if (console) ::SetConsoleOutputCP(CP_UTF8);
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!::WriteFile(out, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) || written == 0)
            break;
        done += written;
    }
    if (console) ::SetConsoleOutputCP(previous);
}

std::wstring Crlf(const std::wstring& text) {
    std::wstring result;
    for (wchar_t c : text) {
        if (c == L'\n') result += L"\r\n";
        else result.push_back(c);
    }
    return result;
}

int RunHarvest(const PkgtoolCommand& command) {
    HarvestOptions options;
    options.payload = command.target;
    options.feature = command.feature;
    options.destination = command.destination;
    const Harvest harvest = HarvestPayload(options.payload);
    for (const auto& error : harvest.errors) {
        WriteUtf8(STD_ERROR_HANDLE, L"pkgtool harvest: cannot read " + error.path + L" (error " +
                                        std::to_wstring(error.code) + (error.reason.empty() ? L"" : L": " + error.reason) +
                                        L"); it is not in the document\r\n");
    }
    if (harvest.errors.empty() || !harvest.files.empty() || !harvest.folders.empty())
        WriteUtf8(STD_OUTPUT_HANDLE, HarvestDocument(harvest, options));
    return harvest.errors.empty() ? kPkgtoolClean : kPkgtoolFindings;
}

int RunLint(const PkgtoolCommand& command) {
    LintOptions options;
    options.document = command.target;
    options.configuration = command.configuration;
    const std::vector<Finding> findings = LintPackage(options);
    std::wstring report;
    for (const auto& finding : findings) report += FormatFinding(finding) + L"\r\n";
    WriteUtf8(STD_OUTPUT_HANDLE, report);
    return findings.empty() ? kPkgtoolClean : kPkgtoolFindings;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    std::vector<std::wstring> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    const PkgtoolCommand command = ParsePkgtoolCommand(arguments);
    switch (command.kind) {
    case PkgtoolCommand::Kind::Help:
        WriteUtf8(STD_OUTPUT_HANDLE, Crlf(kPkgtoolUsage));
        return kPkgtoolClean;
    case PkgtoolCommand::Kind::Invalid:
        WriteUtf8(STD_ERROR_HANDLE, L"pkgtool: " + command.error + L"\r\n\r\n");
        WriteUtf8(STD_OUTPUT_HANDLE, Crlf(kPkgtoolUsage));
        return kPkgtoolBadCommandLine;
    default:
        break;
    }
    ::CoInitialize(nullptr);
    const int result = command.kind == PkgtoolCommand::Kind::Harvest ? RunHarvest(command) : RunLint(command);
    ::CoUninitialize();
    return result;
}
