// Command lines through the real CCommandLineOptions and main's start decision. Each case is a
// random argument vector (valid command lines of every action, then edited; or arguments at
// random, with hostile SDDL texts and log paths that name the input documents). Rules:
//  - the usage text is printed exactly when the command line is rejected or help is asked for;
//  - help ends with 0; a rejected command line or one without an action ends with 87; every
//    other one runs the main sequence, with a -x value that is a real argument, not empty and not
//    a switch;
//  - an accepted SDDL text converts to a security descriptor; the install context holds what the
//    options hold;
//  - the log main would write never names the installation or the configuration document.
#include <windows.h>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/InstallContext.h"
#include "fuzz/Campaign.h"
#include "security/AccessControl.h"
#include "shell/AVException.h"
#include "shell/CommandLine.h"
#include "shell/Log.h"
#include "shell/StartDecision.h"
#include "support/ArgumentVectors.h"

namespace {

const wchar_t* const kSwitchNames[] = {L"l", L"i", L"vi", L"u", L"r", L"iu", L"w", L"x",
                                       L"s", L"q", L"d", L"c", L"sd1", L"sd2", L"h"};

class Generator : public ArgumentVectorGenerator {
public:
    explicit Generator(Random random) : random_(std::move(random)) {}

    std::vector<std::wstring> Next() {
        std::vector<std::wstring> arguments = {L"installer.exe"};
        if (Pick(4) != 0) {
            AppendTemplate(arguments, {L"i", L"u", L"r", L"iu", L"vi", L"h", nullptr}, L"C:\\fuzz\\package.xml");
            const int edits = Pick(2) == 0 ? 0 : 1 + Pick(3);
            for (int i = 0; i < edits; ++i) Edit(arguments, 5);
        } else {
            const int count = Pick(12);
            for (int i = 0; i < count; ++i) arguments.push_back(AnyArgument());
        }
        return arguments;
    }

private:
    int Pick(int bound) override { return static_cast<int>(random_() % static_cast<uint64_t>(bound)); }

    bool OptionalValue(const wchar_t* name, std::wstring& value) override {
        if (!Chance(2)) return false;
        value = std::wstring(name) == L"l" ? LogPath() : Sddl();
        return true;
    }

    std::wstring Document() { return Chance(2) ? L"C:\\fuzz\\package.xml" : L"cfg.xml"; }

    // Texts that look like SDDL: the real shapes, their pieces shuffled, and the known hostile ones.
    std::wstring Sddl() {
        static const wchar_t* const kWhole[] = {
            L"O:BAG:BAD:(D;;0x001F0000;;;AN)(D;;0x001F0000;;;BG)(A;;0x001F0000;;;WD)",
            L"O:BAG:BAD:(A;;0x001F0000;;;BA)", L"O:BAG:BAD:(A;;GA;;;SY)", L"O:BAG:BAD:(A;;0x001F0000;;;QQ)",
            L"C::\\x", L"C::", L"O:C::", L"D:(A;;GA;;;C::)", L"O:BAG:BAD:(A;;GA;;;S-1-5-32-544)",
            L"D:P(A;OICI;GA;;;SY)", L"S:(AU;SAFA;GA;;;WD)", L"O:S-1-5-18", L"D:", L"", L"O:", L"(A;;GA;;;SY)",
            L"D:(A;;GA;;;SY", L"D:A;;GA;;;SY)", L"D:((A;;GA;;;SY))", L"O:BAO:BA", L"D:(A;;GA;;;;SY)",
        };
        static const wchar_t* const kPieces[] = {
            L"O:", L"G:", L"D:", L"S:", L"BA", L"SY", L"WD", L"AN", L"(", L")", L";", L"A", L"D", L"GA",
            L"0x001F0000", L"S-1-5-32-544", L"S-1-", L"::", L":", L"C", L"P", L"AI", L"OICI", L"\\", L" ",
            L"\t", L"\x7F", L"\xE9", L"\xD800",
        };
        if (Chance(2)) return kWhole[Pick(static_cast<int>(std::size(kWhole)))];
        std::wstring text;
        const int pieces = 1 + Pick(12);
        for (int i = 0; i < pieces; ++i) text += kPieces[Pick(static_cast<int>(std::size(kPieces)))];
        if (Chance(8)) text.insert(static_cast<size_t>(Pick(static_cast<int>(text.size()) + 1)), 1, wchar_t(L'A' + Pick(26)));
        if (Chance(6)) text.insert(static_cast<size_t>(Pick(static_cast<int>(text.size()) + 1)), L"::");
        return text;
    }

    // Log paths: plain ones, folders, and spellings of the two documents.
    std::wstring LogPath() {
        switch (Pick(9)) {
        case 0: return L"C:\\fuzz\\package.xml";
        case 1: return L"c:\\FUZZ\\PACKAGE.XML";
        case 2: return L"C:\\fuzz\\.\\package.xml";
        case 3: return L"C:\\fuzz\\sub\\..\\package.xml\\";
        case 4: return L"cfg.xml";
        case 5: return L".\\CFG.xml";
        case 6: return L"C:\\fuzz\\";
        case 7: return L"C:/fuzz/package.xml";
        default: return L"C:\\fuzz\\install.log";
        }
    }

    std::wstring Junk() override {
        switch (Pick(12)) {
        case 0: return L"";
        case 1: return std::wstring(static_cast<size_t>(1 + Pick(40000)), L'a');
        case 2: return L"-" + std::wstring(static_cast<size_t>(Pick(9999)), L'x');
        case 3: return std::wstring(L"-") + wchar_t(0xD800);
        case 4: return std::wstring(L"/x:") + wchar_t(0xDFFF) + L"doc";
        case 5: return L"-";
        case 6: return L"/";
        case 7: return L"--i";
        case 8: return L"-x:";
        case 9: return L"-sd1=" + Sddl();
        case 10: return std::wstring(L"-\x0130");   // a capital I with a dot: not ASCII
        default: return std::wstring(1, wchar_t(1 + Pick(0xFFFE))) + L"stray";
        }
    }

    std::wstring Value() override {
        switch (Pick(10)) {
        case 0: return L"";
        case 1: return L"-d";
        case 2: return L"/i";
        case 3: return Sddl();
        case 4: return LogPath();
        case 5: return Document();
        case 6: return std::wstring(static_cast<size_t>(1 + Pick(20000)), L'v');
        case 7: return std::wstring(L"C:\\") + wchar_t(0xD834) + L"x.xml";
        case 8: return L"\\\\?\\C:\\" + std::wstring(300, L'p');
        default: return L"C:\\path" + std::to_wstring(Pick(100));
        }
    }

    std::wstring AnyArgument() override {
        switch (Pick(4)) {
        case 0: return Junk();
        case 1: return Value();
        default: {
            const wchar_t* name = kSwitchNames[Pick(static_cast<int>(std::size(kSwitchNames)))];
            if (Chance(4)) return Switch(name) + (Chance(2) ? L":" : L"=") + Value();
            return Switch(name);
        }
        }
    }

    Random random_;
};

std::string Describe(const std::vector<std::wstring>& arguments) {
    std::string text;
    for (const std::wstring& argument : arguments) text += Campaign::Escaped(argument) + "\n";
    return text;
}

// Full path for comparison, without one trailing separator, in upper case.
std::wstring Normalised(const std::wstring& path) {
    if (path.empty()) return path;
    std::vector<wchar_t> buffer(path.size() + MAX_PATH + 1);
    const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    std::wstring full = length > 0 && length < buffer.size() ? std::wstring(buffer.data(), length) : path;
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    for (wchar_t& c : full) {
        if (c == L'/') c = L'\\';
        c = static_cast<wchar_t>(towupper(c));
    }
    return full;
}

// The -x value was given on the command line: as the argument after a switch, or attached.
bool GivenAsValue(const std::vector<std::wstring>& arguments, const std::wstring& value) {
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == value && i > 1) return true;
        const size_t separator = arguments[i].find_first_of(L":=");
        if (separator != std::wstring::npos && arguments[i].substr(separator + 1) == value) return true;
    }
    return false;
}

// Standard output goes to a file of its own, emptied before each case, so that the usage text
// a case prints can be compared.
class CapturedOutput {
public:
    CapturedOutput() {
        wchar_t directory[MAX_PATH];
        ::GetTempPathW(MAX_PATH, directory);
        path_ = std::wstring(directory) + L"fuzz_command_line_" + std::to_wstring(::GetCurrentProcessId()) + L".out";
        file_ = ::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        previous_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
    }
    ~CapturedOutput() {
        Release();
        if (file_ != INVALID_HANDLE_VALUE) ::CloseHandle(file_);
    }
    bool Ready() const { return file_ != INVALID_HANDLE_VALUE; }
    void Capture() {
        LARGE_INTEGER zero{};
        ::SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN);
        ::SetEndOfFile(file_);
        ::SetStdHandle(STD_OUTPUT_HANDLE, file_);
    }
    void Release() { ::SetStdHandle(STD_OUTPUT_HANDLE, previous_); }
    std::string Text() const {
        LARGE_INTEGER size{};
        ::GetFileSizeEx(file_, &size);
        std::string text(static_cast<size_t>(size.QuadPart), '\0');
        LARGE_INTEGER zero{};
        ::SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN);
        DWORD read = 0;
        if (!text.empty()) ::ReadFile(file_, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
        text.resize(read);
        return text;
    }

private:
    std::wstring path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE previous_ = nullptr;
};

const char* ActionName(Action action) {
    switch (action) {
    case Action::Install: return "install";
    case Action::UnInstall: return "uninstall";
    case Action::Repair: return "repair";
    case Action::Upgrade: return "upgrade";
    case Action::Help: return "help";
    case Action::Verify: return "verify";
    case Action::None: return "none";
    }
    return "unknown";
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    Campaign campaign("fuzz_command_line", argc, argv, 3000, 20);
    CapturedOutput output;
    if (!output.Ready()) {
        std::printf("cannot open a file for standard output\n");
        return 2;
    }
    const std::string usage = Campaign::Utf8(UsageText());

    for (uint64_t index = campaign.First(); index < campaign.End(); ++index) {
        Generator generator(campaign.CaseRandom(index));
        const std::vector<std::wstring> arguments = generator.Next();
        campaign.Begin(index, Describe(arguments), ".txt");
        std::vector<const wchar_t*> argvCase;
        for (const std::wstring& argument : arguments) argvCase.push_back(argument.c_str());

        ResetInstallContext();
        output.Capture();
        std::string failure;
        std::string outcome;
        try {
            CCommandLineOptions options(static_cast<int>(argvCase.size()), argvCase.data());
            const StartDecision decision = DecideStart(options);
            output.Release();
            const std::string printed = output.Text();
            const bool helpOrRejected = !options.valid || options.action == Action::Help;
            if (helpOrRejected ? printed != usage : !printed.empty()) {
                failure = helpOrRejected ? "the usage text is not printed as it is written" : "output without a reason";
            } else if (options.valid && options.action == Action::Help) {
                if (decision.runMainSequence || decision.exitCode != ERROR_SUCCESS) failure = "help does not end with 0";
                outcome = "help: 0";
            } else if (!options.valid || options.action == Action::None) {
                if (decision.runMainSequence || decision.exitCode != ERROR_INVALID_PARAMETER) failure = "not 87";
                outcome = options.valid ? "no action: 87" : "rejected: 87";
            } else {
                outcome = std::string("runs: ") + ActionName(options.action);
                const std::wstring document = options.InstallDocumentPath();
                const InstallContextData& context = InstallContext();
                if (!decision.runMainSequence) {
                    failure = "an accepted command line does not run";
                } else if (document.empty() || document[0] == L'-' || !GivenAsValue(arguments, document)) {
                    failure = "-x value \"" + Campaign::Escaped(document) + "\" accepted";
                } else if (options.action != Action::UnInstall &&
                           (context.realtimeScanSddl != options.RealtimeScanSddl() ||
                            context.configurationSddl != options.ConfigurationSddl() ||
                            options.RealtimeScanSddl().empty() || options.ConfigurationSddl().empty())) {
                    failure = "the install context's descriptors differ from the options'";
                } else if (options.action != Action::UnInstall && options.action != Action::Upgrade &&
                           context.installDirectory != options.InstallDirectory()) {
                    failure = "the install context's directory differs from -d";
                }
                if (failure.empty() && options.action != Action::UnInstall) {
                    for (const std::wstring& sddl : {options.RealtimeScanSddl(), options.ConfigurationSddl()}) {
                        SecurityDescriptorHolder holder;
                        try {
                            AccessControl::ConvertSddlToSecurityDescriptor(sddl, holder);
                        } catch (const AVException&) {
                            failure = "accepted SDDL \"" + Campaign::Escaped(sddl) + "\" does not convert";
                        }
                    }
                }
                if (failure.empty() && !decision.logPath.empty()) {
                    const std::wstring log = Normalised(LogFilePathOf(decision.logPath));
                    if (log == Normalised(document) ||
                        (!options.ConfigurationDocumentPath().empty() && log == Normalised(options.ConfigurationDocumentPath()))) {
                        failure = "the log \"" + Campaign::Escaped(decision.logPath) + "\" names an input document";
                    }
                }
                if (failure.empty()) {
                    outcome += decision.logPath.empty() ? ", no log" : ", log";
                    if (!options.LogFilePath().empty() && decision.logPath.empty()) outcome += " (names a document)";
                }
            }
        } catch (const AVException& exception) {
            output.Release();
            failure = std::string("AVException left the parse: ") + exception.what();
        } catch (const std::exception& exception) {
            output.Release();
            failure = std::string("exception: ") + exception.what();
        }
        campaign.Outcome(failure.empty() ? outcome : "failed");
        if (!failure.empty()) campaign.Failure("rule", failure);
    }
    return campaign.Finish();
}
