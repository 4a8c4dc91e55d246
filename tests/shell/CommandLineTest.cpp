// The command line: lookup rules, per-action requirements, the count of accounted arguments,
// and a randomized run against a plain left-to-right reading of the arguments.
#include <gtest/gtest.h>

#include <windows.h>
#include <cwctype>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/InstallContext.h"
#include "security/AccessControl.h"
#include "shell/CommandLine.h"
#include "support/ArgumentVectors.h"
#include "support/TestFiles.h"

namespace {

const std::wstring kDefaultOas = L"O:BAG:BAD:(D;;0x001F0000;;;AN)(D;;0x001F0000;;;BG)(A;;0x001F0000;;;WD)";
const std::wstring kDefaultConfig = L"O:BAG:BAD:(A;;0x001F0000;;;BA)";
const std::wstring kSystemOnly = L"O:BAG:BAD:(A;;GA;;;SY)";
const std::wstring kUnknownSid = L"O:BAG:BAD:(A;;0x001F0000;;;QQ)";

ParsedCommandLine Parse(std::vector<std::wstring> arguments) {
    arguments.insert(arguments.begin(), L"installer.exe");
    return ParseCommandLine(arguments);
}

std::string Describe(const std::vector<std::wstring>& arguments) {
    std::string text;
    for (const std::wstring& argument : arguments) text += "[" + ToUtf8(argument.substr(0, 40)) + "]";
    return text;
}

TEST(CommandLineTest, AcceptsAndRejectsByTheLookupRulesAndTheActionTable) {
    struct Case {
        std::vector<std::wstring> arguments;
        bool valid;
        Action action;
        const wchar_t* document;    // null: not checked
        const wchar_t* directory;
        const wchar_t* content;
    };
    const Case cases[] = {
        // Prefix and case
        { { L"-I", L"-X", L"doc.xml", L"-D", L"dir", L"-C", L"content" }, true, Action::Install, L"doc.xml", L"dir", L"content" },
        { { L"/i", L"/x", L"doc.xml", L"/d", L"dir", L"/c", L"content" }, true, Action::Install, L"doc.xml", L"dir", L"content" },
        { { L"-c", L"content", L"-d", L"dir", L"-x", L"doc.xml", L"-i" }, true, Action::Install, L"doc.xml", L"dir", L"content" },
        // Attached values
        { { L"-i", L"-x:doc.xml", L"-d", L"dir", L"-c", L"content" }, true, Action::Install, L"doc.xml", L"dir", L"content" },
        { { L"-i", L"-x=doc.xml", L"-D:C:\\dir", L"/C=content" }, true, Action::Install, L"doc.xml", L"C:\\dir", L"content" },
        { { L"-i", L"-x:", L"-d", L"dir", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i:yes", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        // Action conflicts: the last of -i, -vi, -u, -r, -iu wins; -vi conflicts with none
        { { L"-i", L"-u", L"-x", L"doc.xml" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-vi", L"-u", L"-x", L"doc.xml" }, true, Action::UnInstall, L"doc.xml", L"", L"" },
        { { L"-u", L"-vi", L"-x", L"doc.xml" }, true, Action::UnInstall, L"doc.xml", L"", L"" },
        { { L"-i", L"-vi", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content" }, true, Action::Verify, L"doc.xml", L"dir", L"content" },
        { { L"-vi", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content" }, true, Action::Verify, L"doc.xml", L"dir", L"content" },
        { { L"-r", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content" }, true, Action::Repair, L"doc.xml", L"dir", L"content" },
        { { L"-i", L"-r", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-u", L"-r", L"-x", L"doc.xml" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-r", L"-iu", L"-x", L"doc.xml", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-u", L"-iu", L"-x", L"doc.xml" }, false, Action::None, nullptr, nullptr, nullptr },
        // Required and forbidden switches
        { { L"-u", L"-x", L"doc.xml", L"-d", L"dir" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-u", L"-x", L"doc.xml", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-iu", L"-x", L"doc.xml", L"-c", L"content" }, true, Action::Upgrade, L"doc.xml", L"", L"content" },
        { { L"-iu", L"-x", L"doc.xml", L"-c", L"content", L"-d", L"dir" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-iu", L"-x", L"doc.xml" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-r", L"-x", L"doc.xml", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-vi", L"-x", L"doc.xml", L"-d", L"dir" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"", L"-c", L"" }, true, Action::Install, L"doc.xml", L"", L"" },
        // -x: present, not empty, not beginning with "-"
        { { L"-i", L"-x", L"-d", L"dir", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-d", L"dir", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"", L"-d", L"dir", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"/doc.xml", L"-d", L"dir", L"-c", L"content" }, true, Action::Install, L"/doc.xml", L"dir", L"content" },
        { { L"-u", L"-x" }, false, Action::None, nullptr, nullptr, nullptr },
        // A value-taking switch takes the next argument whatever it is
        { { L"-l", L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-u", L"-x", L"doc.xml", L"-s", L"-d" }, true, Action::UnInstall, L"doc.xml", L"", L"" },
        // Every argument accounted for exactly once
        { { L"-i", L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"stray" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-z" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"--i" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-q" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-x", L"other.xml" }, false, Action::None, nullptr, nullptr, nullptr },
        // "-l" read once as the value of -s and once as a switch must not make up for the stray argument
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-s", L"-l", L"log", L"stray" }, false, Action::None, nullptr, nullptr, nullptr },
        // No action switch: -d, -c, -sd1, -sd2 are ignored and not counted
        { { L"-x", L"doc.xml" }, true, Action::None, L"doc.xml", L"", L"" },
        { { L"-x", L"doc.xml", L"-s", L"cfg.xml", L"-q", L"q", L"-l", L"log", L"-w" }, true, Action::None, L"doc.xml", L"", L"" },
        { { L"-x", L"doc.xml", L"-d", L"dir" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-x", L"doc.xml", L"-sd1", kDefaultOas }, false, Action::None, nullptr, nullptr, nullptr },
        { {}, false, Action::None, nullptr, nullptr, nullptr },
        { { L"" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-" }, false, Action::None, nullptr, nullptr, nullptr },
        // Help wins over everything
        { { L"-h" }, true, Action::Help, nullptr, nullptr, nullptr },
        { { L"/H", L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content" }, true, Action::Help, nullptr, nullptr, nullptr },
        { { L"-i", L"-u", L"junk", L"-h" }, true, Action::Help, nullptr, nullptr, nullptr },
        // Security descriptors
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-sd1" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-sd1", L"garbage" }, false, Action::None, nullptr, nullptr, nullptr },
        // An empty descriptor text would leave the engine's clients without a DACL.
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-sd1", L"" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-vi", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-sd2=" }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-sd2", kUnknownSid }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-i", L"-x", L"doc.xml", L"-d", L"dir", L"-c", L"content", L"-sd1", kDefaultOas, L"-sd2", kSystemOnly }, true, Action::Install, L"doc.xml", L"dir", L"content" },
        { { L"-u", L"-x", L"doc.xml", L"-sd1", kDefaultOas }, false, Action::None, nullptr, nullptr, nullptr },
        { { L"-u", L"-x", L"doc.xml", L"-sd2", kDefaultConfig }, false, Action::None, nullptr, nullptr, nullptr },
    };
    for (const Case& c : cases) {
        const ParsedCommandLine parsed = Parse(c.arguments);
        const std::string name = Describe(c.arguments);
        EXPECT_EQ(parsed.valid, c.valid) << name;
        EXPECT_EQ(parsed.showUsage, !c.valid || c.action == Action::Help) << name;
        if (c.valid) {
            EXPECT_EQ(parsed.action, c.action) << name;
        }
        if (c.document != nullptr) {
            EXPECT_EQ(parsed.installDocumentPath, c.document) << name;
        }
        if (c.directory != nullptr) {
            EXPECT_EQ(parsed.installDirectory, c.directory) << name;
        }
        if (c.content != nullptr) {
            EXPECT_EQ(parsed.contentPath, c.content) << name;
        }
    }
}

TEST(CommandLineTest, FillsPathsSettingsAndDescriptors) {
    ParsedCommandLine parsed = Parse({ L"-i", L"-x", L"doc.xml", L"-s", L"cfg.xml", L"-d", L"C:\\Program Files\\T", L"-c",
                                       L"C:\\content", L"-q", L"C:\\quarantine", L"-l", L"C:\\logs\\i.log", L"-w",
                                       L"-sd2", kSystemOnly });
    ASSERT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.configurationDocumentPath, L"cfg.xml");
    EXPECT_EQ(parsed.quarantineDirectory, L"C:\\quarantine");
    EXPECT_EQ(parsed.logFilePath, L"C:\\logs\\i.log");
    EXPECT_TRUE(parsed.waitForService);
    EXPECT_EQ(parsed.realtimeScanSddl, kDefaultOas);
    EXPECT_EQ(parsed.configurationSddl, kSystemOnly);
    EXPECT_TRUE(parsed.setsInstallDirectory && parsed.setsContentPath && parsed.setsRealtimeScanSddl &&
                parsed.setsConfigurationSddl);

    // UnInstall takes neither paths nor descriptors.
    parsed = Parse({ L"-u", L"-x", L"doc.xml" });
    ASSERT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.realtimeScanSddl, L"");
    EXPECT_EQ(parsed.configurationSddl, L"");
    EXPECT_FALSE(parsed.setsInstallDirectory || parsed.setsContentPath || parsed.setsRealtimeScanSddl ||
                 parsed.setsConfigurationSddl);
    EXPECT_FALSE(parsed.waitForService);

    // Upgrade takes the content path and the default descriptors, not the install directory.
    parsed = Parse({ L"-iu", L"-x", L"doc.xml", L"-c", L"C:\\content" });
    ASSERT_TRUE(parsed.valid);
    EXPECT_FALSE(parsed.setsInstallDirectory);
    EXPECT_TRUE(parsed.setsContentPath);
    EXPECT_EQ(parsed.configurationSddl, kDefaultConfig);
}

class CommandLineContextTest : public ::testing::Test {
protected:
    void SetUp() override { ResetInstallContext(); }
    void TearDown() override { ResetInstallContext(); }
};

TEST_F(CommandLineContextTest, OptionsFillTheInstallContext) {
    const wchar_t* argv[] = { L"installer.exe", L"-r", L"-x", L"doc.xml", L"-d", L"C:\\Inst", L"-c", L"C:\\Content",
                              L"-sd1", kSystemOnly.c_str(), L"-q", L"C:\\Q" };
    const CCommandLineOptions options(static_cast<int>(std::size(argv)), argv);
    ASSERT_TRUE(options.valid);
    EXPECT_EQ(options.action, Action::Repair);
    EXPECT_EQ(options.InstallDirectory(), L"C:\\Inst");
    EXPECT_EQ(options.QuarantineDirectory(), L"C:\\Q");
    const InstallContextData& context = InstallContext();
    EXPECT_EQ(context.installDirectory, L"C:\\Inst");
    EXPECT_EQ(context.contentPath, L"C:\\Content");
    EXPECT_EQ(context.realtimeScanSddl, kSystemOnly);
    EXPECT_EQ(context.configurationSddl, kDefaultConfig);
    EXPECT_EQ(context.backupDirectory, L"") << "-q is the action controller's";
}

// ---------------------------------------------------------------------------------------------
// Randomized: the parser against a plain reading of the arguments from left to right.

struct SwitchInfo {
    const wchar_t* name;
    bool takesValue;
};
const SwitchInfo kSwitchInfo[] = {
    { L"l", true }, { L"i", false }, { L"vi", false }, { L"u", false }, { L"r", false }, { L"iu", false },
    { L"w", false }, { L"x", true }, { L"s", true }, { L"q", true }, { L"d", true }, { L"c", true },
    { L"sd1", true }, { L"sd2", true }, { L"h", false },
};

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

// The switch an argument spells, and its attached value if any.
std::optional<std::pair<std::wstring, std::optional<std::wstring>>> Spelled(const std::wstring& argument) {
    if (argument.size() < 2 || (argument[0] != L'-' && argument[0] != L'/')) return std::nullopt;
    const std::wstring body = argument.substr(1);
    for (const SwitchInfo& info : kSwitchInfo) {
        if (Lower(body) == info.name) return std::make_pair(std::wstring(info.name), std::optional<std::wstring>());
    }
    const size_t separator = body.find_first_of(L":=");
    if (separator == std::wstring::npos) return std::nullopt;
    const std::wstring name = Lower(body.substr(0, separator));
    for (const SwitchInfo& info : kSwitchInfo) {
        if (info.takesValue && name == info.name) {
            return std::make_pair(name, std::optional<std::wstring>(body.substr(separator + 1)));
        }
    }
    return std::nullopt;
}

bool TakesValue(const std::wstring& name) {
    for (const SwitchInfo& info : kSwitchInfo) if (name == info.name) return info.takesValue;
    return false;
}

struct Reading {
    bool clean = false;               // every argument is a switch or its value, no switch twice
    bool valueLooksLikeSwitch = false;
    std::map<std::wstring, std::wstring> switches;
};

Reading ReadLeftToRight(const std::vector<std::wstring>& arguments) {
    Reading reading;
    for (size_t i = 1; i < arguments.size();) {
        const auto spelled = Spelled(arguments[i]);
        if (!spelled || reading.switches.count(spelled->first)) return reading;
        std::wstring value;
        if (spelled->second) {
            value = *spelled->second;
            i += 1;
        } else if (TakesValue(spelled->first)) {
            if (i + 1 >= arguments.size()) return reading;
            value = arguments[i + 1];
            if (Spelled(value)) reading.valueLooksLikeSwitch = true;
            i += 2;
        } else {
            i += 1;
        }
        reading.switches[spelled->first] = value;
    }
    reading.clean = true;
    return reading;
}

// What the per-action table makes of a clean reading without -h.
struct Expected {
    bool valid = false;
    Action action = Action::None;
};

Expected Judge(const Reading& reading) {
    Expected expected;
    auto has = [&](const wchar_t* name) { return reading.switches.count(name) != 0; };
    const bool install = has(L"i"), verify = has(L"vi"), uninstall = has(L"u"), repair = has(L"r"), upgrade = has(L"iu");
    if (uninstall && install) return expected;
    if (repair && (install || uninstall)) return expected;
    if (upgrade && (install || uninstall || repair)) return expected;
    Action action = Action::None;
    if (install) action = Action::Install;
    if (verify) action = Action::Verify;
    if (uninstall) action = Action::UnInstall;
    if (repair) action = Action::Repair;
    if (upgrade) action = Action::Upgrade;

    if (!has(L"x")) return expected;
    const std::wstring& document = reading.switches.at(L"x");
    if (document.empty() || document[0] == L'-') return expected;

    // R required, F forbidden, O optional, - ignored (and therefore not accounted: rejected when present)
    struct Row {
        const wchar_t* name;
        char install, uninstall, repair, upgrade, verify, none;
    };
    const Row table[] = {
        { L"d", 'R', 'F', 'R', 'F', 'R', '-' },
        { L"c", 'R', 'F', 'R', 'R', 'R', '-' },
        { L"sd1", 'O', 'F', 'O', 'O', 'O', '-' },
        { L"sd2", 'O', 'F', 'O', 'O', 'O', '-' },
    };
    for (const Row& row : table) {
        char rule = row.none;
        switch (action) {
        case Action::Install: rule = row.install; break;
        case Action::UnInstall: rule = row.uninstall; break;
        case Action::Repair: rule = row.repair; break;
        case Action::Upgrade: rule = row.upgrade; break;
        case Action::Verify: rule = row.verify; break;
        default: break;
        }
        const bool present = has(row.name);
        if (rule == 'R' && !present) return expected;
        if ((rule == 'F' || rule == '-') && present) return expected;
        if (present && std::wstring(row.name).rfind(L"sd", 0) == 0 &&
            (reading.switches.at(row.name).empty() || !IsValidSddl(reading.switches.at(row.name)))) {
            return expected;
        }
    }
    expected.valid = true;
    expected.action = action;
    return expected;
}

class ArgumentGenerator : public ArgumentVectorGenerator {
public:
    explicit ArgumentGenerator(unsigned seed) : random_(seed) {}

    std::vector<std::wstring> Next() {
        std::vector<std::wstring> arguments = { L"installer.exe" };
        if (Chance(2)) {
            AppendTemplate(arguments, { L"i", L"u", L"r", L"iu", L"vi", nullptr }, L"doc.xml");
            const int edits = Chance(2) ? 0 : 1 + Pick(2);
            for (int i = 0; i < edits; ++i) Edit(arguments, 4);
        } else {
            const int count = Pick(11);
            for (int i = 0; i < count; ++i) arguments.push_back(AnyArgument());
        }
        return arguments;
    }

private:
    int Pick(int bound) override { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

    // Texts the model judges: the two defaults, one descriptor of the system alone and one
    // whose account is unknown.
    bool OptionalValue(const wchar_t* name, std::wstring& value) override {
        if (!Chance(3)) return false;
        const std::wstring which = name;
        if (which == L"l") value = L"C:\\log.txt";
        else if (which == L"sd1") value = Chance(2) ? kDefaultOas : kSystemOnly;
        else value = Chance(4) ? kUnknownSid : kDefaultConfig;
        return true;
    }

    std::wstring Junk() override {
        switch (Pick(10)) {
        case 0: return L"";
        case 1: return std::wstring(10000, L'a');
        case 2: return L"-" + std::wstring(9999, L'x');
        case 3: return std::wstring(L"-") + wchar_t(0xD800);
        case 4: return std::wstring(L"/x:") + wchar_t(0xDFFF) + L"doc";
        case 5: return L"-";
        case 6: return L"/";
        case 7: return L"--i";
        case 8: return L"-zz";
        default: return std::wstring(1, wchar_t(0xDC00)) + L"stray";
        }
    }

    std::wstring Value() override {
        switch (Pick(12)) {
        case 0: return L"";
        case 1: return L"-d";
        case 2: return L"/i";
        case 3: return kDefaultOas;
        case 4: return kUnknownSid;
        case 5: return L"garbage";
        case 6: return std::wstring(10000, L'v');
        case 7: return std::wstring(L"C:\\") + wchar_t(0xD834) + L"x.xml";
        case 8: return kSystemOnly;
        default: return L"C:\\path" + std::to_wstring(Pick(100));
        }
    }

    std::wstring AnyArgument() override {
        switch (Pick(4)) {
        case 0: return Junk();
        case 1: return Value();
        default: {
            const SwitchInfo& info = kSwitchInfo[Pick(static_cast<int>(std::size(kSwitchInfo)))];
            if (info.takesValue && Chance(4)) return Switch(info.name) + (Chance(2) ? L":" : L"=") + Value();
            return Switch(info.name);
        }
        }
    }

    std::mt19937 random_;
};

TEST(CommandLineTest, RandomArgumentVectorsAreJudgedAsTheActionTableSays) {
    ArgumentGenerator generator(20240611u);
    int accepted = 0;
    int rejected = 0;
    for (int round = 0; round < 12000; ++round) {
        const std::vector<std::wstring> arguments = generator.Next();
        const ParsedCommandLine parsed = ParseCommandLine(arguments);
        const std::string name = Describe(arguments);
        ASSERT_EQ(parsed.showUsage, !parsed.valid || parsed.action == Action::Help) << name;
        if (parsed.action == Action::Help) {
            bool spelled = false;
            for (size_t i = 1; i < arguments.size(); ++i) {
                const auto switchName = Spelled(arguments[i]);
                spelled = spelled || (switchName && switchName->first == L"h");
            }
            ASSERT_TRUE(spelled) << name;
            continue;
        }
        const Reading reading = ReadLeftToRight(arguments);
        if (parsed.valid) {
            // Accepted: the arguments read cleanly and satisfy the table, with the same values.
            ++accepted;
            ASSERT_TRUE(reading.clean) << name;
            const Expected expected = Judge(reading);
            ASSERT_TRUE(expected.valid) << name;
            ASSERT_EQ(parsed.action, expected.action) << name;
            auto value = [&](const wchar_t* key) {
                auto found = reading.switches.find(key);
                return found == reading.switches.end() ? std::wstring() : found->second;
            };
            ASSERT_EQ(parsed.installDocumentPath, value(L"x")) << name;
            ASSERT_EQ(parsed.installDirectory, value(L"d")) << name;
            ASSERT_EQ(parsed.contentPath, value(L"c")) << name;
            ASSERT_EQ(parsed.configurationDocumentPath, value(L"s")) << name;
            ASSERT_EQ(parsed.quarantineDirectory, value(L"q")) << name;
            ASSERT_EQ(parsed.logFilePath, value(L"l")) << name;
            ASSERT_EQ(parsed.waitForService, reading.switches.count(L"w") != 0) << name;
            if (parsed.action == Action::UnInstall || parsed.action == Action::None) {
                ASSERT_EQ(parsed.realtimeScanSddl, L"") << name;
            } else {
                ASSERT_EQ(parsed.realtimeScanSddl, reading.switches.count(L"sd1") ? value(L"sd1") : kDefaultOas) << name;
                ASSERT_EQ(parsed.configurationSddl, reading.switches.count(L"sd2") ? value(L"sd2") : kDefaultConfig) << name;
            }
        } else {
            ++rejected;
            // Rejected although it reads cleanly: only when the table says so, or when a value
            // spells a switch (each switch is looked up on its own and may take it for one).
            if (reading.clean && !reading.valueLooksLikeSwitch && reading.switches.count(L"h") == 0) {
                ASSERT_FALSE(Judge(reading).valid) << name;
            }
        }
    }
    // The generator reaches both outcomes in quantity.
    EXPECT_GT(accepted, 1000);
    EXPECT_GT(rejected, 1000);
}

} // namespace
