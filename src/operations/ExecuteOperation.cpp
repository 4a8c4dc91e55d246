#include "operations/ExecuteOperation.h"

#include <vector>
#include "operations/FileHelpers.h"
#include "operations/NameRules.h"
#include "shell/Handles.h"
#include "shell/Log.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\ExecuteOperation";

namespace {
const size_t kCommandLineBuffer = 260;
}

std::wstring BuildExecuteCommandLine(const std::wstring& programDirectory, const std::wstring& source,
                                     const std::wstring& fileName) {
    // The program path is quoted so that a directory with blanks cannot start another program; a
    // double quote inside it would end the quoting early, so no command line is built from one.
    if ((programDirectory + source + fileName).find(L'"') != std::wstring::npos) return std::wstring();
    std::wstring commandLine = L"\"" + programDirectory + L"\\" + source + L"\\" + fileName + L"\" /q";
    if (commandLine.size() + 1 > kCommandLineBuffer) return std::wstring();
    return commandLine;
}

void ExecuteOperation::Bind(const XmlNode& node) {
    BindAttribute(node, L"source", source_);
    BindAttribute(node, L"platform", platform_);
    BindAttribute(node, L"sha256", sha256_);
    BindText(node, fileName_);
    RejectIfUnsafe(L"ExecuteOperation", L"name", fileName_, CheckRelativeName(fileName_));
    RejectIfUnsafe(L"ExecuteOperation", L"source", source_, CheckRelativeName(source_));
}

DWORD ExecuteOperation::Install() {
    FunctionScope scope(kLogModule, "ExecuteOperation::Install");
    std::wstring directory;
    // Without the program's own folder the path would point at the root of the current drive.
    const DWORD located = GetProgramDirectory(directory);
    if (located != ERROR_SUCCESS) return scope.Result(located);
    if ((directory + source_ + fileName_).find(L'"') != std::wstring::npos) return scope.Result(ERROR_INVALID_NAME);
    const std::wstring commandLine = BuildExecuteCommandLine(directory, source_, fileName_);
    if (commandLine.empty()) return scope.Result(ERROR_INSUFFICIENT_BUFFER);

    // CreateProcessW may write into the command line.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        return scope.Result(::GetLastError());
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    LOG(LogLevel::Detail, "%s %d", "Exit code from CRT installer", static_cast<int>(exitCode));
    return scope.Result(ERROR_SUCCESS);
}
