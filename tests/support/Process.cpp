#include "support/Process.h"

#include <thread>
#include "shell/Handles.h"
#include "support/TestFiles.h"

std::wstring ProcessResult::OutputText() const { return FromUtf8(output); }

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') { ++backslashes; continue; }
        if (c == L'"') quoted.append(backslashes * 2 + 1, L'\\');
        else quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

DWORD StartProgram(const std::wstring& program, const std::vector<std::wstring>& arguments, HANDLE output,
                   HANDLE errors, DWORD creationFlags, const std::wstring& workingDirectory, PROCESS_INFORMATION& info) {
    std::wstring commandLine = QuoteArgument(program);
    for (const auto& argument : arguments) commandLine += L" " + QuoteArgument(argument);
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');

    SECURITY_ATTRIBUTES inherit{ sizeof(inherit), nullptr, TRUE };
    UniqueFileHandle nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = output ? output : nul.get();
    startup.hStdError = errors ? errors : nul.get();
    info = PROCESS_INFORMATION{};
    if (!::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, TRUE, creationFlags, nullptr,
                          workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &info)) {
        return ::GetLastError();
    }
    return ERROR_SUCCESS;
}

ProcessResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& arguments, DWORD timeoutMs,
                         const std::wstring& workingDirectory) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{ sizeof(inherit), nullptr, TRUE };
    UniqueKernelHandle readPipe;
    UniqueKernelHandle writePipe;
    {
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        if (!::CreatePipe(&read, &write, &inherit, 0)) {
            result.startError = ::GetLastError();
            return result;
        }
        readPipe.reset(read);
        writePipe.reset(write);
    }
    ::SetHandleInformation(readPipe.get(), HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION info{};
    result.startError = StartProgram(program, arguments, writePipe.get(), nullptr, 0, workingDirectory, info);
    // Only the child holds the pipe's write end now: the reader sees its end when the child ends.
    writePipe.reset();
    if (result.startError != ERROR_SUCCESS) return result;
    result.started = true;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);

    std::thread reader([&] {
        char chunk[4096];
        DWORD read = 0;
        while (::ReadFile(readPipe.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) result.output.append(chunk, read);
    });
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 0xDEAD);
        ::WaitForSingleObject(process.get(), INFINITE);
    }
    ::GetExitCodeProcess(process.get(), &result.exitCode);
    reader.join();
    return result;
}

StartedProgram::StartedProgram(const std::wstring& program, const std::vector<std::wstring>& arguments,
                               bool suspended) {
    PROCESS_INFORMATION info{};
    startError_ = StartProgram(program, arguments, nullptr, nullptr, suspended ? CREATE_SUSPENDED : 0, L"", info);
    if (startError_ != ERROR_SUCCESS) return;
    process_ = info.hProcess;
    thread_ = info.hThread;
}

StartedProgram::~StartedProgram() {
    if (!process_) return;
    if (!Wait(0)) Kill();
    ::CloseHandle(thread_);
    ::CloseHandle(process_);
}

void StartedProgram::Resume() {
    if (thread_) ::ResumeThread(thread_);
}

bool StartedProgram::Wait(DWORD timeoutMs) {
    return process_ && ::WaitForSingleObject(process_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD StartedProgram::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (process_) ::GetExitCodeProcess(process_, &code);
    return code;
}

void StartedProgram::Kill() {
    if (!process_) return;
    ::TerminateProcess(process_, 0xDEAD);
    ::WaitForSingleObject(process_, INFINITE);
}

std::wstring InstallerPath() { return TestProgramDirectory() + L"installer.exe"; }
