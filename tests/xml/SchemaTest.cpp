// What the two embedded schemas accept and reject, shown on small documents and the samples.
#include <gtest/gtest.h>

#include "support/TestFiles.h"
#include "xml/XmlDocument.h"
#include "xml/XmlTestSupport.h"

namespace {

struct Case {
    const char* what;
    bool valid;
    std::wstring document;
};

void ExpectVerdicts(const wchar_t* schemaName, const std::vector<Case>& cases) {
    TempDir dir(L"schema");
    int index = 0;
    for (const auto& c : cases) {
        const std::wstring path = WriteDocument(dir, L"case" + std::to_wstring(index++) + L".xml", c.document);
        std::wstring error;
        const bool loaded = LoadValidated(schemaName, path, error);
        EXPECT_EQ(c.valid, loaded) << c.what << (loaded ? "" : ": ") << ToUtf8(error);
        if (!loaded) {
            EXPECT_FALSE(error.empty()) << c.what;
        }
    }
}

// ---- installation documents ----

std::wstring Package(const std::wstring& features, const std::wstring& attributes = L"schemaVersion=\"1.1\" TarnexVersion=\"5.2\"") {
    return L"<?xml version=\"1.0\"?><Package " + attributes + L">" + features + L"</Package>";
}
std::wstring Feature(const std::wstring& content) { return Package(L"<Feature tag=\"T\">" + content + L"</Feature>"); }
std::wstring File(const std::wstring& attributes) {
    return L"<FileOperation " + attributes + L">a.dll</FileOperation>";
}
std::wstring Sha() { return L"sha256=\"" + Digest() + L"\""; }
std::wstring Driver(const std::wstring& content) { return Feature(L"<Driver>" + content + L"</Driver>"); }
std::wstring Inf() { return L"<InfFile " + Sha() + L">d.inf</InfFile>"; }
std::wstring Sys() { return L"<SysFile " + Sha() + L">d.sys</SysFile>"; }
std::wstring Value(const std::wstring& attributes) {
    return Feature(L"<RegistryOperation operation=\"create\"><RegKey key=\"HKLM\\S\"><RegValue " + attributes +
                   L"/></RegKey></RegistryOperation>");
}
std::wstring Service(const std::wstring& start, const std::wstring& restart) {
    return Feature(L"<Service><ServiceFile>s.exe</ServiceFile><ServiceName>S</ServiceName><DisplayName>D</DisplayName>"
                   L"<Description>x</Description><DependOnService></DependOnService>" + start + restart + L"</Service>");
}
const std::wstring kRestart = L"<FailureRestart><ResetPeriod>1</ResetPeriod><RestartCount>2</RestartCount>"
                              L"<RestartDelay>3</RestartDelay></FailureRestart>";

TEST(InstallSchema, AcceptsAndRejects) {
    const std::wstring copy = L"operation=\"copy\" " + Sha();
    ExpectVerdicts(L"install.xsd", {
        {"minimal package", true, Feature(L"")},
        {"every kind in order", true,
         Feature(L"<Driver>" + Inf() + Sys() + Sys() + L"</Driver>" + File(copy) +
                 L"<DirectoryOperation operation=\"create\">C:\\d</DirectoryOperation>"
                 L"<RegistryOperation operation=\"delete\"/>"
                 L"<ExecuteOperation source=\"redist\" " + Sha() + L">crt.exe</ExecuteOperation>") },
        {"no feature", false, Package(L"")},
        {"feature without tag", false, Package(L"<Feature/>")},
        {"package without TarnexVersion", false, Package(L"<Feature tag=\"T\"/>", L"schemaVersion=\"1\"")},
        {"package without schemaVersion", false, Package(L"<Feature tag=\"T\"/>", L"TarnexVersion=\"1\"")},
        {"schemaVersion not a decimal", false, Package(L"<Feature tag=\"T\"/>", L"schemaVersion=\"v1\" TarnexVersion=\"1\"")},
        {"undeclared element", false, Feature(L"<Bogus/>")},
        {"undeclared attribute", false, Feature(File(copy + L" owner=\"me\""))},
        {"file operation move", false, Feature(File(L"operation=\"move\" " + Sha()))},
        {"file operation without digest", false, Feature(File(L"operation=\"copy\""))},
        {"file operation without operation", false, Feature(File(Sha()))},
        {"digest of 63 characters", false, Feature(File(L"operation=\"copy\" sha256=\"" + std::wstring(63, L'A') + L"\""))},
        {"digest of 66 characters", false, Feature(File(L"operation=\"copy\" sha256=\"" + std::wstring(66, L'A') + L"\""))},
        {"digest not hexadecimal", false, Feature(File(L"operation=\"copy\" sha256=\"" + std::wstring(64, L'G') + L"\""))},
        {"all optional file attributes", true, Feature(File(copy + L" platform=\"x86\" source=\"s\" destination=\"$INSTALL_PATH\""))},
        {"platform ia64", false, Feature(File(copy + L" platform=\"ia64\""))},
        {"execute without source", false, Feature(L"<ExecuteOperation " + Sha() + L">crt.exe</ExecuteOperation>")},
        {"directory operation copy", false, Feature(L"<DirectoryOperation operation=\"copy\">C:\\d</DirectoryOperation>")},
        {"registry operation update", false, Feature(L"<RegistryOperation operation=\"update\"/>")},
        {"file before driver", false, Feature(File(copy) + L"<Driver>" + Inf() + Sys() + L"</Driver>")},
        {"service before file", false, Feature(L"<Service/>" + File(copy))},
        {"directory before file", false,
         Feature(L"<DirectoryOperation operation=\"create\">C:\\d</DirectoryOperation>" + File(copy))},
        {"driver without sys file", false, Driver(Inf())},
        {"driver without inf file", false, Driver(Sys())},
        {"driver with two inf files", false, Driver(Inf() + Inf() + Sys())},
        {"driver sys before inf", false, Driver(Sys() + Inf())},
        {"reg value of every type", true,
         Feature(L"<RegistryOperation operation=\"create\"><RegKey key=\"HKLM\\S\">"
                 L"<RegValue type=\"DWORD\" name=\"a\" data=\"1\" keepexisting=\"true\"/>"
                 L"<RegValue type=\"SZ\" name=\"b\" data=\"$CONFIG_SD\" platform=\"x64\"/>"
                 L"<RegValue type=\"MULTI_SZ\" name=\"c\" data=\"a\\0b\" keepexisting=\"0\"/>"
                 L"</RegKey></RegistryOperation>")},
        {"reg value type QWORD", false, Value(L"type=\"QWORD\" name=\"a\" data=\"1\"")},
        {"reg value without data", false, Value(L"type=\"SZ\" name=\"a\"")},
        {"reg value without name", false, Value(L"type=\"SZ\" data=\"a\"")},
        {"reg value keepexisting yes", false, Value(L"type=\"SZ\" name=\"a\" data=\"b\" keepexisting=\"yes\"")},
        {"reg value with content", false,
         Feature(L"<RegistryOperation operation=\"create\"><RegKey key=\"K\"><RegValue type=\"SZ\" name=\"a\" data=\"b\">x</RegValue>"
                 L"</RegKey></RegistryOperation>")},
        {"reg key without key", false, Feature(L"<RegistryOperation operation=\"create\"><RegKey/></RegistryOperation>")},
        {"complete service", true, Service(L"<Start>2</Start>", kRestart)},
        {"service start not a number", false, Service(L"<Start>two</Start>", kRestart)},
        {"service without failure restart", false, Service(L"<Start>2</Start>", L"")},
        {"service children out of order", false, Service(kRestart, L"<Start>2</Start>")},
        {"failure restart without delay", false,
         Service(L"<Start>2</Start>", L"<FailureRestart><ResetPeriod>1</ResetPeriod><RestartCount>2</RestartCount></FailureRestart>")},
    });
}

TEST(InstallSchema, SamplePackageIsValidAndTheInvalidSampleIsNot) {
    std::wstring error;
    EXPECT_TRUE(LoadValidated(L"install.xsd", FixturePath(L"package.xml"), error)) << ToUtf8(error);
    EXPECT_FALSE(LoadValidated(L"install.xsd", FixturePath(L"invalid-package.xml"), error));
}

// ---- configuration documents ----

std::wstring Configuration(const std::wstring& content, const std::wstring& attributes = L"schemaVersion=\"1.1\"") {
    return L"<?xml version=\"1.0\"?><Configuration " + attributes + L">" + content + L"</Configuration>";
}
std::wstring Policy(const std::wstring& element, const std::wstring& key, const std::wstring& values) {
    return L"<" + element + L" key=\"" + key + L"\">" + values + L"</" + element + L">";
}
std::wstring Oas(const std::wstring& values) { return Configuration(Policy(L"OASPolicy", L"DEFAULT", values)); }
std::wstring Ods(const std::wstring& values) { return Configuration(Policy(L"ODSPolicy", L"DEFAULT", values)); }
std::wstring Global(const std::wstring& values) { return Configuration(Policy(L"GlobalPolicy", L"GLOBAL", values)); }
std::wstring V(const std::wstring& name, const std::wstring& content) { return L"<" + name + L">" + content + L"</" + name + L">"; }
std::wstring Exclusions(const std::wstring& exclusion) {
    return Oas(V(L"AV_POLICY_EXCLUSION_FILE", L"<Exclusion>" + exclusion + L"</Exclusion>"));
}

TEST(ConfigurationSchema, AcceptsAndRejects) {
    const std::wstring override_ = L"<InstallOverride/>";
    ExpectVerdicts(L"nvxcrvconfig.xsd", {
        {"root only", true, Configuration(L"")},
        {"root without schemaVersion", false, Configuration(L"", L"")},
        {"empty policies of each kind and an override", true,
         Configuration(Policy(L"OASPolicy", L"A1", L"") + Policy(L"OASPolicy", L"A1", L"") + Policy(L"ODSPolicy", L"B", L"") +
                       Policy(L"GlobalPolicy", L"GLOBAL", L"") + Policy(L"GlobalPolicy", L"BULWARKGLOBAL", L"") + override_)},
        {"ODS before OAS", false, Configuration(Policy(L"ODSPolicy", L"B", L"") + Policy(L"OASPolicy", L"A", L""))},
        {"global before ODS", false, Configuration(Policy(L"GlobalPolicy", L"GLOBAL", L"") + Policy(L"ODSPolicy", L"B", L""))},
        {"override before a policy", false, Configuration(override_ + Policy(L"GlobalPolicy", L"GLOBAL", L""))},
        {"two overrides", false, Configuration(override_ + override_)},
        {"undeclared element", false, Configuration(L"<Bogus/>")},
        {"policy key with a lower-case letter", false, Configuration(Policy(L"OASPolicy", L"DEFAULt", L""))},
        {"policy key empty", false, Configuration(Policy(L"ODSPolicy", L"", L""))},
        {"policy key with a space", false, Configuration(Policy(L"ODSPolicy", L"A B", L""))},
        {"policy without key", false, Configuration(L"<OASPolicy/>")},
        {"global key other", false, Configuration(Policy(L"GlobalPolicy", L"DEFAULT", L""))},
        {"global key lower case", false, Configuration(Policy(L"GlobalPolicy", L"global", L""))},
        // Admission by group.
        {"ODS-only value in OAS", false, Oas(V(L"AV_POLICY_USE_CACHE", L"1"))},
        {"ODS-only value in ODS", true, Ods(V(L"AV_POLICY_USE_CACHE", L"1"))},
        {"OAS-only value in ODS", false, Ods(V(L"AV_POLICY_ENABLE_FILE_OAS", L"1"))},
        {"global value in OAS", false, Oas(V(L"AV_POLICY_SCAN_PROCESS_ON_STARTUP", L"1"))},
        {"OAS value in global", false, Global(V(L"AV_POLICY_TIMEOUT", L"1"))},
        {"value admitted by no group", false, Oas(V(L"AV_POLICY_STORAGE_CONFIG", L"1"))},
        {"driver classification admitted by no group", false, Global(V(L"AV_POLICY_DRIVER_CLASSIFICATION", L"1"))},
        {"uncatalogued global value", true, Global(V(L"AV_POLICY_CLQ_SERVER_IP", L"10.0.0.1"))},
        {"uncatalogued global value in ODS", false, Ods(V(L"AV_POLICY_CLQ_SERVER_IP", L"10.0.0.1"))},
        {"uncatalogued OAS value in ODS", false, Ods(V(L"AV_POLICY_ENABLE_COOKIE_SCANNING_OBSOLETE", L"1"))},
        {"uncatalogued cookie actions", true,
         Ods(V(L"AV_POLICY_PRIMARY_ACTION_COOKIE_OBSOLETE", L"1") + V(L"AV_POLICY_SECONDARY_ACTION_COOKIE_OBSOLETE", L"2") +
             V(L"AV_POLICY_REPAIR_BACKUP_COOKIE_OBSOLETE", L"false"))},
        {"behaviour action in ODS", false, Ods(V(L"AV_POLICY_PRIMARY_ACTION_BEHAVIOUR", L"1"))},
        {"value twice", false, Oas(V(L"AV_POLICY_TIMEOUT", L"1") + V(L"AV_POLICY_TIMEOUT", L"2"))},
        {"values in any order", true, Oas(V(L"AV_POLICY_TIMEOUT", L"1") + V(L"AV_POLICY_ARCHIVE_DEPTH", L"2") + V(L"AV_POLICY_CONTEXTIDS", L""))},
        {"value in lower case", false, Oas(V(L"av_policy_timeout", L"1"))},
        {"value with keepexisting", false, Configuration(L"<OASPolicy key=\"A\"><AV_POLICY_TIMEOUT keepexisting=\"true\">1</AV_POLICY_TIMEOUT></OASPolicy>")},
        // Value types.
        {"boolean yes", false, Oas(V(L"AV_POLICY_ENABLE_FILE_OAS", L"yes"))},
        {"boolean true", true, Oas(V(L"AV_POLICY_ENABLE_FILE_OAS", L"true"))},
        {"number negative", false, Oas(V(L"AV_POLICY_TIMEOUT", L"-1"))},
        {"number text", false, Oas(V(L"AV_POLICY_TIMEOUT", L"ten"))},
        {"range1to5 at 0", false, Oas(V(L"AV_POLICY_PERFORMANCE_TRADEOFF", L"0"))},
        {"range1to5 at 1 and 5", true, Oas(V(L"AV_POLICY_PERFORMANCE_TRADEOFF", L"1") + V(L"AV_POLICY_BEHAVIOURAL_SLIDER", L"5"))},
        {"range1to5 at 6", false, Oas(V(L"AV_POLICY_FALSERISK_TRADEOFF", L"6"))},
        {"range0to5 at 0", true, Oas(V(L"AV_POLICY_CLQ_LOOKUP_LEVEL", L"0"))},
        {"range0to5 at 6", false, Oas(V(L"AV_POLICY_CLQ_LOOKUP_LEVEL", L"6"))},
        {"range2toFFFF at 1", false, Global(V(L"AV_POLICY_TARGET_MEMORY_USAGE", L"1"))},
        {"range2toFFFF at 65535", true, Global(V(L"AV_POLICY_TARGET_MEMORY_USAGE", L"65535"))},
        {"range2toFFFF at 65536", false, Global(V(L"AV_POLICY_TARGET_MEMORY_USAGE", L"65536"))},
        {"scan action 5", true, Oas(V(L"AV_POLICY_SECONDARY_ACTION_DEFAULT", L"5"))},
        {"scan action 6", false, Oas(V(L"AV_POLICY_PRIMARY_ACTION_VIRUS", L"6"))},
        {"cache type 3", false, Global(V(L"AV_POLICY_CACHE_TYPE", L"3"))},
        {"extension option 4", false, Oas(V(L"AV_POLICY_EXTENSION_OPTION", L"4"))},
        {"scan priority 4", false, Ods(V(L"AV_POLICY_INITIAL_IO_PRIORITY", L"4"))},
        {"string value", true, Global(V(L"AV_POLICY_PROXY_HOST_NAME", L"proxy &amp; more"))},
        // Lists.
        {"integer list", true, Oas(V(L"AV_POLICY_CONTEXTIDS", L"<Integer>1</Integer><Integer>2</Integer>"))},
        {"integer list negative item", false, Oas(V(L"AV_POLICY_CONTEXTIDS", L"<Integer>-2</Integer>"))},
        {"integer list with a String", false, Oas(V(L"AV_POLICY_CONTEXTIDS", L"<String>a</String>"))},
        {"list with text", false, Oas(V(L"AV_POLICY_CONTEXTIDS", L"1"))},
        {"virus types 0 and 14", true, Oas(V(L"AV_POLICY_DISABLE_DETECTION", L"<VirusType>0</VirusType><VirusType>14</VirusType>"))},
        {"virus type 15", false, Oas(V(L"AV_POLICY_DISABLE_DETECTION", L"<VirusType>15</VirusType>"))},
        {"string list", true, Global(V(L"AV_POLICY_SMOOTHWRITES_EXTN", L"<String>doc</String><String/>"))},
        {"date exclusion", true, Exclusions(L"<Flags>0</Flags><Type>0</Type><NumDays>30</NumDays>")},
        {"pattern exclusion", true, Exclusions(L"<Flags>65537</Flags><Type>3</Type><Pattern>*.log</Pattern>")},
        {"exclusion without either", true, Exclusions(L"<Flags>0</Flags><Type>4</Type>")},
        {"exclusion type 5", false, Exclusions(L"<Flags>0</Flags><Type>5</Type>")},
        {"exclusion without flags", false, Exclusions(L"<Type>0</Type><NumDays>3</NumDays>")},
        {"exclusion without type", false, Exclusions(L"<Flags>0</Flags><Pattern>a</Pattern>")},
        {"exclusion type before flags", false, Exclusions(L"<Type>0</Type><Flags>0</Flags>")},
        {"exclusion with days and pattern", false, Exclusions(L"<Flags>0</Flags><Type>3</Type><NumDays>1</NumDays><Pattern>a</Pattern>")},
        {"exclusion flags beyond 32 bits", false, Exclusions(L"<Flags>4294967296</Flags><Type>0</Type>")},
        {"unwanted file", true,
         Oas(V(L"AV_POLICY_UNWANTED_FILES", L"<UnwantedFile><DetectionName>T</DetectionName><FilePath>C:\\x.exe</FilePath></UnwantedFile>"))},
        {"unwanted file without path", false,
         Oas(V(L"AV_POLICY_UNWANTED_FILES", L"<UnwantedFile><DetectionName>T</DetectionName></UnwantedFile>"))},
        // Overrides.
        {"override in order", true,
         Configuration(L"<InstallOverride><dwProductID>1</dwProductID><ServiceStartMode>0</ServiceStartMode>"
                       L"<dwContentMajorVersion>7</dwContentMajorVersion><dwContentMinorVersion>-1</dwContentMinorVersion></InstallOverride>")},
        {"override out of order", false,
         Configuration(L"<InstallOverride><ServiceStartMode>0</ServiceStartMode><dwProductID>1</dwProductID></InstallOverride>")},
        {"override not a number", false, Configuration(L"<InstallOverride><dwProductID>abc</dwProductID></InstallOverride>")},
    });
}

TEST(ConfigurationSchema, SampleConfigurationIsValid) {
    std::wstring error;
    EXPECT_TRUE(LoadValidated(L"nvxcrvconfig.xsd", FixturePath(L"configuration.xml"), error)) << ToUtf8(error);
}

} // namespace
