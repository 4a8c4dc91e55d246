#include "pkgtool/PkgtoolRun.h"

#include "shell/Handles.h"
#include "support/Process.h"
#include "support/TestFiles.h"

std::vector<std::wstring> ToolRun::Lines() const {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find(L'\n', start);
        if (end == std::wstring::npos) end = output.size();
        std::wstring line = output.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string ToolRun::Describe() const {
    return "exit code " + std::to_string(exitCode) + (started ? "" : " (not started)") + "\n--- stdout ---\n" +
           ToUtf8(output) + "\n--- stderr ---\n" + ToUtf8(errors);
}

std::wstring PkgtoolPath() { return TestProgramDirectory() + L"pkgtool.exe"; }

ToolRun RunTool(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    ToolRun run;
    TempDir streams(L"streams");
    const std::wstring outPath = streams / L"out";
    const std::wstring errPath = streams / L"err";
    {
        SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
        UniqueFileHandle out(::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        UniqueFileHandle err(::CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out || !err) return run;
        PROCESS_INFORMATION info{};
        if (StartProgram(program, arguments, out.get(), err.get(), 0, L"", info) != ERROR_SUCCESS) return run;
        run.started = true;
        UniqueKernelHandle process(info.hProcess);
        UniqueKernelHandle thread(info.hThread);
        if (::WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.get(), 0xDEAD);
            ::WaitForSingleObject(process.get(), INFINITE);
        }
        ::GetExitCodeProcess(process.get(), &run.exitCode);
    }
    run.outputBytes = ReadFileBytes(outPath);
    run.output = FromUtf8(run.outputBytes);
    run.errors = FromUtf8(ReadFileBytes(errPath));
    return run;
}

long LineOfMarker(const std::wstring& text, const std::wstring& marker) {
    const size_t at = text.find(marker);
    if (at == std::wstring::npos) return 0;
    long line = 1;
    for (size_t i = 0; i < at; ++i)
        if (text[i] == L'\n') ++line;
    return line;
}
