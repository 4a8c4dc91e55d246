#include "fuzz/Campaign.h"
#include "support/TestFiles.h"

#include <psapi.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {
Campaign* g_campaign = nullptr;

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; *text; ++text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    return wide;
}

size_t PrivateCommit() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters))) return 0;
    return counters.PagefileUsage;
}

void Terminate() {
    if (g_campaign) g_campaign->SaveRunningInput("abort", "std::terminate: an exception left the case");
    std::fflush(stdout);
    ::TerminateProcess(::GetCurrentProcess(), 3);
}
} // namespace

std::string Campaign::Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
    }
    return out;
}

std::string Campaign::Escaped(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F && c != L'\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof(buffer), "\\u%04X", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

Campaign::Campaign(const char* name, int argc, wchar_t** argv, uint64_t defaultCount, unsigned defaultTimeoutSeconds)
    : name_(name), timeoutSeconds_(defaultTimeoutSeconds) {
    ::InitializeCriticalSection(&lock_);
    for (int i = 1; i < argc; ++i) {
        std::wstring key = argv[i];
        if (key.rfind(L"--", 0) != 0) continue;
        key = key.substr(2);
        std::wstring value = i + 1 < argc ? argv[i + 1] : L"";
        if (i + 1 < argc) ++i;
        options_[key] = value;
    }
    uint64_t count = defaultCount;
    if (!Option(L"seed").empty()) seed_ = std::wcstoull(Option(L"seed").c_str(), nullptr, 10);
    if (!Option(L"count").empty()) count = std::wcstoull(Option(L"count").c_str(), nullptr, 10);
    if (!Option(L"timeout").empty()) timeoutSeconds_ = static_cast<unsigned>(std::wcstoul(Option(L"timeout").c_str(), nullptr, 10));
    target_ = Option(L"target");
    replay_ = Option(L"replay");
    failures_ = Option(L"failures").empty() ? std::wstring(L"fuzz-failures") : Option(L"failures");
    first_ = 0;
    end_ = count;
    if (!Option(L"case").empty()) {
        first_ = std::wcstoull(Option(L"case").c_str(), nullptr, 10);
        end_ = first_ + 1;
    }
    if (!replay_.empty()) {
        first_ = 0;
        end_ = 1;
    }

    g_campaign = this;
    ULONG guarantee = 64 * 1024;
    ::SetThreadStackGuarantee(&guarantee);
    ::SetUnhandledExceptionFilter(&Campaign::OnUnhandledException);
    std::signal(SIGABRT, &Campaign::OnAbort);
    std::set_terminate(&Terminate);
    stop_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watchdog_ = ::CreateThread(nullptr, 0, &Campaign::Watchdog, this, 0, nullptr);
    began_ = ::GetTickCount64();
    std::printf("%s: seed %llu, cases %llu to %llu%s%s\n", name_.c_str(), static_cast<unsigned long long>(seed_),
                static_cast<unsigned long long>(first_), static_cast<unsigned long long>(end_ - 1),
                target_.empty() ? "" : ", target ", Utf8(target_).c_str());
    std::fflush(stdout);
}

Campaign::~Campaign() {
    if (stop_) ::SetEvent(stop_);
    if (watchdog_) {
        ::WaitForSingleObject(watchdog_, 5000);
        ::CloseHandle(watchdog_);
    }
    if (stop_) ::CloseHandle(stop_);
    g_campaign = nullptr;
    ::DeleteCriticalSection(&lock_);
}

std::wstring Campaign::Option(const std::wstring& name) const {
    const auto found = options_.find(name);
    return found == options_.end() ? std::wstring() : found->second;
}

Random Campaign::CaseRandom(uint64_t index) const {
    std::seed_seq sequence{static_cast<uint32_t>(seed_), static_cast<uint32_t>(seed_ >> 32),
                           static_cast<uint32_t>(index), static_cast<uint32_t>(index >> 32), 0x5eedu};
    return Random(sequence);
}

void Campaign::Begin(uint64_t index, const std::string& input, const char* extension) {
    ::EnterCriticalSection(&lock_);
    index_ = index;
    input_ = input;
    extension_ = extension;
    casePeakCommit_ = PrivateCommit();
    startTick_ = ::GetTickCount64();
    running_ = 1;
    ::LeaveCriticalSection(&lock_);
}

void Campaign::SetInput(const std::string& input, const char* extension) {
    ::EnterCriticalSection(&lock_);
    input_ = input;
    extension_ = extension;
    ::LeaveCriticalSection(&lock_);
}

void Campaign::Outcome(const std::string& outcome) {
    const size_t commit = PrivateCommit();
    ::EnterCriticalSection(&lock_);
    running_ = 0;
    if (commit > casePeakCommit_) casePeakCommit_ = commit;
    ::LeaveCriticalSection(&lock_);
    if (casePeakCommit_ > peakCommit_) peakCommit_ = casePeakCommit_;
    ++cases_;
    ++outcomes_[outcome];
    if (memoryBound_ != 0 && casePeakCommit_ > memoryBound_) {
        Failure("memory", "private commit of " + std::to_string(casePeakCommit_ >> 20) + " MiB passes the bound of " +
                              std::to_string(memoryBound_ >> 20) + " MiB");
    }
}

void Campaign::Failure(const std::string& kind, const std::string& reason) {
    ++failures_count_;
    ++failureKinds_[kind];
    const std::string saved = SaveRunningInput(kind, reason);
    std::printf("FAILURE %s in case %llu: %s\n  input saved as %s\n", kind.c_str(),
                static_cast<unsigned long long>(index_), reason.c_str(), saved.c_str());
    std::fflush(stdout);
}

std::string Campaign::SaveRunningInput(const std::string& kind, const std::string& reason) {
    ::CreateDirectoryW(failures_.c_str(), nullptr);
    const std::wstring base = failures_ + L"\\" + Widen(name_.c_str()) + (target_.empty() ? L"" : L"-" + target_) +
                              L"-seed" + std::to_wstring(seed_) + L"-case" + std::to_wstring(index_) + L"-" +
                              Widen(kind.c_str());
    WriteFileBytes(base + Widen(extension_.c_str()), input_);
    std::string replay = name_ + ".exe --seed " + std::to_string(seed_) + " --case " + std::to_string(index_);
    if (!target_.empty()) replay += " --target " + Utf8(target_);
    std::string note = "campaign " + name_ + "\nseed " + std::to_string(seed_) + "\ncase " + std::to_string(index_) +
                       "\nkind " + kind + "\nreason " + reason + "\ninput " + Utf8(base + Widen(extension_.c_str())) +
                       "\nreplay: " + replay + "\n";
    WriteFileBytes(base + L"-note.txt", note);
    return Utf8(base + Widen(extension_.c_str()));
}

int Campaign::Finish() {
    const double seconds = static_cast<double>(::GetTickCount64() - began_) / 1000.0;
    auto kind = [&](const char* name) {
        const auto found = failureKinds_.find(name);
        return static_cast<unsigned long long>(found == failureKinds_.end() ? 0 : found->second);
    };
    std::printf("%s: seed %llu, %llu cases in %.1f s, %llu failures (crashes %llu, hangs %llu, memory %llu), "
                "peak private commit %llu MiB\n",
                name_.c_str(), static_cast<unsigned long long>(seed_), static_cast<unsigned long long>(cases_), seconds,
                static_cast<unsigned long long>(failures_count_), kind("crash"), kind("hang"), kind("memory"),
                static_cast<unsigned long long>(peakCommit_ >> 20));
    for (const auto& entry : outcomes_) {
        std::printf("  %-48s %10llu\n", entry.first.c_str(), static_cast<unsigned long long>(entry.second));
    }
    for (const auto& entry : notes_) {
        std::printf("  (note) %-41s %10llu\n", entry.first.c_str(), static_cast<unsigned long long>(entry.second));
    }
    for (const auto& entry : failureKinds_) {
        std::printf("  FAILED %-41s %10llu\n", entry.first.c_str(), static_cast<unsigned long long>(entry.second));
    }
    std::fflush(stdout);
    return failures_count_ == 0 && cases_ > 0 ? 0 : 1;
}

DWORD WINAPI Campaign::Watchdog(void* self) {
    Campaign& campaign = *static_cast<Campaign*>(self);
    while (::WaitForSingleObject(campaign.stop_, 50) == WAIT_TIMEOUT) {
        if (!campaign.running_) continue;
        const size_t commit = PrivateCommit();
        if (commit > campaign.casePeakCommit_) campaign.casePeakCommit_ = commit;
        std::string kind;
        std::string reason;
        if (campaign.memoryBound_ != 0 && commit > campaign.memoryBound_ * 2) {
            kind = "memory";
            reason = "private commit of " + std::to_string(commit >> 20) + " MiB while the case ran";
        } else if (::GetTickCount64() - campaign.startTick_ > campaign.timeoutSeconds_ * 1000ull) {
            kind = "hang";
            reason = "the case ran longer than " + std::to_string(campaign.timeoutSeconds_) + " s";
        }
        if (kind.empty()) continue;
        ::EnterCriticalSection(&campaign.lock_);
        const std::string saved = campaign.SaveRunningInput(kind, reason);
        std::printf("FAILURE %s in case %llu: %s\n  input saved as %s\n", kind.c_str(),
                    static_cast<unsigned long long>(campaign.index_), reason.c_str(), saved.c_str());
        std::fflush(stdout);
        ::TerminateProcess(::GetCurrentProcess(), kind == "hang" ? 5 : 4);
    }
    return 0;
}

LONG WINAPI Campaign::OnUnhandledException(EXCEPTION_POINTERS* info) {
    char reason[64];
    std::snprintf(reason, sizeof(reason), "exception 0x%08lX", info && info->ExceptionRecord
                                                                  ? info->ExceptionRecord->ExceptionCode : 0ul);
    if (g_campaign) {
        const std::string saved = g_campaign->SaveRunningInput("crash", reason);
        std::printf("FAILURE crash in case %llu: %s\n  input saved as %s\n",
                    static_cast<unsigned long long>(g_campaign->index_), reason, saved.c_str());
        std::fflush(stdout);
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

void Campaign::OnAbort(int) {
    if (g_campaign) g_campaign->SaveRunningInput("abort", "abort()");
    std::fflush(stdout);
    ::TerminateProcess(::GetCurrentProcess(), 3);
}
