// The command line: each switch is looked up on its own, in a fixed order, then the action's
// requirements are checked and every argument must be accounted for exactly once.
#include "shell/CommandLine.h"

#include <cstddef>
#include <string>
#include <vector>

#include "engine/InstallContext.h"
#include "security/AccessControl.h"
#include "shell/Console.h"
#include "shell/Log.h"

static const char kLogModule[] = ".\\CommandLine";

namespace {

struct CommandLineSwitch {
    const wchar_t* name;
    bool takesValue;
    const wchar_t* description;
};

// In the order in which they are registered and examined. A lookup knows only the switches
// registered before it and the one it looks for.
enum SwitchId : size_t {
    kLog, kInstall, kVerify, kUnInstall, kRepair, kUpgrade, kWait, kXml, kConfiguration, kQuarantine,
    kDirectory, kContent, kRealtimeSddl, kConfigSddl, kHelp, kSwitchCount
};

const CommandLineSwitch kSwitches[kSwitchCount] = {
    { L"l", true, L"Install Log File path" },
    { L"i", false, L"Install Action" },
    { L"vi", false, L"Verify Installation Action" },
    { L"u", false, L"UnInstall Action" },
    { L"r", false, L"Repair Action" },
    { L"iu", false, L"Install Upgrade" },
    { L"w", false, L"Wait For Service" },
    { L"x", true, L"XML file path" },
    { L"s", true, L"XML file path for Install (Configuraion)" },
    { L"q", true, L"Quarantine folder path" },
    { L"d", true, L"Install Directory" },
    { L"c", true, L"Content Path" },
    { L"sd1", true, L"Security Descriptor for verifying Realtime Scanning clients" },
    { L"sd2", true, L"Security Descriptor for verifying Configuration clients" },
    { L"h", false, L"Show Help" },
};

const wchar_t* const kUsageLines[] = {
    L"\nsyntax: installer.exe [<switch>...] -x <xmlconfig>",
    L"\nvalid switches:",
    L"\n  -i\tInstall Tarnex.",
    L"\n  -iu\tUpgrade Install Tarnex.",
    L"\n  -r\tRepair Tarnex.",
    L"\n  -d\tInstall Directory.",
    L"\n  -q\tQuarantine Directory path.",
    L"\n  -u\tUninstall Tarnex.",
    L"\n  -x\t<xmlconfig for Binary installation>",
    L"\n  -s\t<xmlconfig for Configuration>",
    L"\n  -c\t<Content Path>",
    L"\n  -l\t<Log File Path>",
    L"\n  -sd1\tSecurity Descriptor (in SDDL format) for verifying Realtime Scanning clients",
    L"\n  -sd2\tSecurity Descriptor (in SDDL format) for verifying Configuration clients",
    L"\n  -vi\tVerify whether installation/repair was successful.",
    L"\n  -h\tShow this help information\n",
    L"\n  -w\tWait for service to start after install\n",
    L"\n  Usage for Install    : Installer -i -x <xmlconfig for binaries> -s <xmlconfig for policies> -d <Install Directory> -c <Content Path> -sd1 <SD for Realtime Scanning clients> -sd2 <SD for Configuration clients>",
    L"\n  Usage for Repair     : Installer -r -x <xmlconfig for binaries> -s <xmlconfig for policies> -d <Install Directory> -c <Content Path> -sd1 <SD for Realtime Scanning clients> -sd2 <SD for Configuration clients>",
    L"\n  Usage for Upgrade    : Installer -iu -x <xmlconfig for binaries> -s <xmlconfig for policies> -c <Content Path> -sd1 <SD for Realtime Scanning clients> -sd2 <SD for Configuration clients>",
    L"\n  Usage for UnInstall  : Installer -u -x <xmlconfig for binaries>",
};

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// `text[begin, end)` equals `name`, ignoring ASCII case.
bool NameEquals(const std::wstring& text, size_t begin, size_t end, const wchar_t* name) {
    size_t i = begin;
    for (; *name != L'\0'; ++name, ++i) {
        if (i >= end || AsciiLower(text[i]) != AsciiLower(*name)) return false;
    }
    return i == end;
}

struct SwitchMatch {
    bool matched = false;
    size_t id = 0;
    bool attached = false;        // the value follows ":" or "=" in the same argument
    std::wstring attachedValue;
};

// Which of the first `known` switches `argument` names.
SwitchMatch MatchSwitch(const std::wstring& argument, size_t known) {
    SwitchMatch match;
    if (argument.empty() || (argument[0] != L'-' && argument[0] != L'/')) return match;
    const size_t separator = argument.find_first_of(L":=", 1);
    for (size_t id = 0; id < known; ++id) {
        const CommandLineSwitch& candidate = kSwitches[id];
        if (NameEquals(argument, 1, argument.size(), candidate.name)) {
            match.matched = true;
            match.id = id;
            return match;
        }
        if (candidate.takesValue && separator != std::wstring::npos && NameEquals(argument, 1, separator, candidate.name)) {
            match.matched = true;
            match.id = id;
            match.attached = true;
            match.attachedValue = argument.substr(separator + 1);
            return match;
        }
    }
    return match;
}

struct Occurrence {
    bool present = false;
    std::wstring value;
    size_t index = 0;   // of the switch argument
    bool attached = false;
};

class Parser {
public:
    explicit Parser(const std::vector<std::wstring>& arguments)
        : arguments_(arguments), accounted_(arguments.size() + 1, 0) {}

    // The first occurrence of switch `id`, scanning with the switches registered up to it.
    Occurrence Find(size_t id) const {
        Occurrence occurrence;
        const size_t count = arguments_.size();
        for (size_t i = 1; i < count; ++i) {
            const SwitchMatch match = MatchSwitch(arguments_[i], id + 1);
            if (!match.matched) continue;
            const bool valueFollows = kSwitches[match.id].takesValue && !match.attached;
            if (match.id == id) {
                occurrence.present = true;
                occurrence.index = i;
                occurrence.attached = match.attached;
                if (match.attached) occurrence.value = match.attachedValue;
                else if (valueFollows && i + 1 < count) occurrence.value = arguments_[i + 1];
                return occurrence;
            }
            if (valueFollows) ++i;   // another switch's value, whatever it looks like
        }
        return occurrence;
    }

    // Marks the arguments a switch stands for: the switch, and the next one when it carries the
    // value. A value-taking switch at the very end claims an argument that is not there.
    void Account(size_t id, const Occurrence& occurrence) {
        ++accounted_[occurrence.index];
        if (kSwitches[id].takesValue && !occurrence.attached) ++accounted_[occurrence.index + 1];
    }

    // Every argument stands for exactly one switch or value, and none is missing.
    bool EveryArgumentAccounted() const {
        for (size_t i = 1; i < arguments_.size(); ++i) {
            if (accounted_[i] != 1) return false;
        }
        return accounted_[arguments_.size()] == 0;
    }

private:
    const std::vector<std::wstring>& arguments_;
    std::vector<int> accounted_;   // per argument, and one past the end
};

enum class Rule { Required, Forbidden, Ignored };

// -d: required for Install, Repair and Verify, forbidden for UnInstall and Upgrade.
Rule DirectoryRule(Action action) {
    switch (action) {
    case Action::Install:
    case Action::Repair:
    case Action::Verify: return Rule::Required;
    case Action::UnInstall:
    case Action::Upgrade: return Rule::Forbidden;
    default: return Rule::Ignored;
    }
}

// -c: required for every action but UnInstall, which forbids it.
Rule ContentRule(Action action) {
    switch (action) {
    case Action::Install:
    case Action::Repair:
    case Action::Upgrade:
    case Action::Verify: return Rule::Required;
    case Action::UnInstall: return Rule::Forbidden;
    default: return Rule::Ignored;
    }
}

} // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
    ParsedCommandLine parsed;
    Parser parser(arguments);
    bool error = false;

    if (Occurrence log = parser.Find(kLog); log.present) {
        parsed.logFilePath = log.value;
        parser.Account(kLog, log);
    }

    // The action switches come before all others, so the later rules see the final action.
    const Occurrence install = parser.Find(kInstall);
    if (install.present) {
        parsed.action = Action::Install;
        parser.Account(kInstall, install);
    }
    if (Occurrence verify = parser.Find(kVerify); verify.present) {
        parsed.action = Action::Verify;
        parser.Account(kVerify, verify);
    }
    bool uninstallAccepted = false;
    if (Occurrence uninstall = parser.Find(kUnInstall); uninstall.present) {
        if (install.present) {
            error = true;
        } else {
            parsed.action = Action::UnInstall;
            parser.Account(kUnInstall, uninstall);
            uninstallAccepted = true;
        }
    }
    bool repairAccepted = false;
    if (Occurrence repair = parser.Find(kRepair); repair.present) {
        if (install.present || uninstallAccepted) {
            error = true;
        } else {
            parsed.action = Action::Repair;
            parser.Account(kRepair, repair);
            repairAccepted = true;
        }
    }
    if (Occurrence upgrade = parser.Find(kUpgrade); upgrade.present) {
        if (install.present || uninstallAccepted || repairAccepted) {
            error = true;
        } else {
            parsed.action = Action::Upgrade;
            parser.Account(kUpgrade, upgrade);
        }
    }

    if (Occurrence wait = parser.Find(kWait); wait.present) {
        parsed.waitForService = true;
        parser.Account(kWait, wait);
    }

    const Occurrence xml = parser.Find(kXml);
    if (xml.present && !xml.value.empty() && xml.value[0] != L'-') {
        parsed.installDocumentPath = xml.value;
        parser.Account(kXml, xml);
    } else {
        error = true;
    }

    if (Occurrence configuration = parser.Find(kConfiguration); configuration.present) {
        parsed.configurationDocumentPath = configuration.value;
        parser.Account(kConfiguration, configuration);
    }
    if (Occurrence quarantine = parser.Find(kQuarantine); quarantine.present) {
        parsed.quarantineDirectory = quarantine.value;
        parser.Account(kQuarantine, quarantine);
    }

    const Occurrence directory = parser.Find(kDirectory);
    switch (DirectoryRule(parsed.action)) {
    case Rule::Required:
        if (directory.present) {
            parsed.installDirectory = directory.value;
            parsed.setsInstallDirectory = true;
            parser.Account(kDirectory, directory);
        } else {
            error = true;
        }
        break;
    case Rule::Forbidden:
        if (directory.present) error = true;
        break;
    case Rule::Ignored:
        break;
    }

    const Occurrence content = parser.Find(kContent);
    switch (ContentRule(parsed.action)) {
    case Rule::Required:
        if (content.present) {
            parsed.contentPath = content.value;
            parsed.setsContentPath = true;
            parser.Account(kContent, content);
        } else {
            error = true;
        }
        break;
    case Rule::Forbidden:
        if (content.present) error = true;
        break;
    case Rule::Ignored:
        break;
    }

    // -sd1 and -sd2: forbidden for UnInstall; otherwise a valid SDDL text or the default. An empty
    // text converts to a descriptor without a DACL, which lets every client in: an empty value
    // (an unset variable in a script, most often) is refused like a text that does not convert.
    struct DescriptorSwitch {
        size_t id;
        std::wstring* field;
        bool* sets;
        std::wstring (*defaultText)();
    };
    const DescriptorSwitch descriptors[] = {
        { kRealtimeSddl, &parsed.realtimeScanSddl, &parsed.setsRealtimeScanSddl, &GetDefaultOASSecurityDescriptor },
        { kConfigSddl, &parsed.configurationSddl, &parsed.setsConfigurationSddl, &GetDefaultConfigSecurityDescriptor },
    };
    for (const DescriptorSwitch& descriptor : descriptors) {
        const Occurrence occurrence = parser.Find(descriptor.id);
        if (parsed.action == Action::None) continue;
        if (parsed.action == Action::UnInstall) {
            if (occurrence.present) error = true;
            continue;
        }
        if (!occurrence.present) {
            *descriptor.field = descriptor.defaultText();
            *descriptor.sets = true;
        } else if (!occurrence.value.empty() && IsValidSddl(occurrence.value)) {
            *descriptor.field = occurrence.value;
            *descriptor.sets = true;
            parser.Account(descriptor.id, occurrence);
        } else {
            error = true;
        }
    }

    parsed.valid = true;
    const Occurrence help = parser.Find(kHelp);
    if (help.present || error || !parser.EveryArgumentAccounted()) {
        parsed.showUsage = true;
        if (help.present) {
            parsed.valid = true;
            parsed.action = Action::Help;
        } else {
            parsed.valid = false;
        }
    }
    return parsed;
}

const wchar_t* UsageText() {
    static const std::wstring text = [] {
        std::wstring all;
        for (const wchar_t* line : kUsageLines) all += line;
        return all;
    }();
    return text.c_str();
}

CCommandLineOptions::CCommandLineOptions(int argc, const wchar_t* const* argv) {
    std::vector<std::wstring> arguments;
    for (int i = 0; argv != nullptr && i < argc; ++i) arguments.emplace_back(argv[i] != nullptr ? argv[i] : L"");
    const ParsedCommandLine parsed = ParseCommandLine(arguments);

    if (parsed.showUsage) {
        for (const wchar_t* line : kUsageLines) ConsoleWrite(line);
    }
    if (!parsed.valid) LOG(LogLevel::Error, "InValid Command Line Arguments.");

    InstallContextData& context = InstallContext();
    if (parsed.setsInstallDirectory) context.installDirectory = parsed.installDirectory;
    if (parsed.setsContentPath) context.contentPath = parsed.contentPath;
    if (parsed.setsRealtimeScanSddl) context.realtimeScanSddl = parsed.realtimeScanSddl;
    if (parsed.setsConfigurationSddl) context.configurationSddl = parsed.configurationSddl;

    installDirectory_ = parsed.installDirectory;
    installDocumentPath_ = parsed.installDocumentPath;
    configurationDocumentPath_ = parsed.configurationDocumentPath;
    contentPath_ = parsed.contentPath;
    realtimeScanSddl_ = parsed.realtimeScanSddl;
    configurationSddl_ = parsed.configurationSddl;
    quarantineDirectory_ = parsed.quarantineDirectory;
    logFilePath_ = parsed.logFilePath;
    waitForService = parsed.waitForService;
    action = parsed.action;
    valid = parsed.valid;
}
