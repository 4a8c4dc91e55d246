// The log call: trace filtering and message layouts (through recorders in place of the platform's
// trace entry points), the UTF-16 log file, formatting failures and the thread's last error.
#include <gtest/gtest.h>

#include <windows.h>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "shell/Handles.h"
#include "shell/Log.h"
#include "support/LogReader.h"
#include "support/TestFiles.h"
#include "support/TraceRecorder.h"

static const char kLogModule[] = ".\\LogTest";

namespace {

// {60AAB8E3-B6E6-E86D-C746-3979B0C0FC26}
const GUID kLogMessageGuid = { 0x60AAB8E3, 0xB6E6, 0xE86D, { 0xC7, 0x46, 0x39, 0x79, 0xB0, 0xC0, 0xFC, 0x26 } };
// {30117373-4BE1-4864-B804-A23F9C1DB6F0}
const GUID kControlGuid = { 0x30117373, 0x4BE1, 0x4864, { 0xB8, 0x04, 0xA2, 0x3F, 0x9C, 0x1D, 0xB6, 0xF0 } };
// {F065DF86-BD9A-C1D9-E420-76CE852FF94E}
const GUID kControllerGuid = { 0xF065DF86, 0xBD9A, 0xC1D9, { 0xE4, 0x20, 0x76, 0xCE, 0x85, 0x2F, 0xF9, 0x4E } };

constexpr TRACEHANDLE kRegistrationHandle = TraceRecorder::kRegistrationHandle;
constexpr TRACEHANDLE kLoggerHandle = TraceRecorder::kLoggerHandle;

std::string Bytes(const char* text) { return std::string(text, strlen(text) + 1); }
std::string Bytes(ULONG value) { return std::string(reinterpret_cast<const char*>(&value), sizeof(value)); }

// The provider registered with a recorder in place of the platform; a test plays the controller.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { recorder_.Install(); }

    void Register(const TraceHooks& hooks) { recorder_.Install(hooks); }
    ULONG Control(WMIDPREQUESTCODE request, UCHAR level, ULONG flags) { return recorder_.Control(request, level, flags); }
    void Enable(UCHAR level, ULONG flags) { recorder_.Enable(level, flags); }

    TraceRecorder recorder_;
};

TEST_F(TraceTest, RegistersTheProviderWithItsControlGuidAndUnregistersAtTheEnd) {
    EXPECT_TRUE(IsEqualGUID(recorder_.controlGuid, kControlGuid));
    EXPECT_EQ(recorder_.guidCount, 1u);
    EXPECT_TRUE(IsEqualGUID(recorder_.registeredGuid, kControlGuid));
    EXPECT_FALSE(recorder_.mofGiven);

    UninitializeLog(L"");
    ASSERT_EQ(recorder_.unregistered.size(), 1u);
    EXPECT_EQ(recorder_.unregistered[0], kRegistrationHandle);
    // Unregistered: the list is empty and nothing more is traced.
    Control(WMI_ENABLE_EVENTS, 6, 0x2);
    LOG(LogLevel::Error, "%s", "after the end");
    EXPECT_TRUE(recorder_.messages.empty());
}

TEST_F(TraceTest, TracesOnlyLevelsUpToTheEnabledOneAndOnlyWithFlagTwo) {
    struct Case {
        UCHAR enabledLevel;
        ULONG flags;
        unsigned highestTraced;   // 0: nothing
    };
    const Case cases[] = {
        { 4, 0x2, 4 },
        { 6, 0x2, 6 },
        { 1, 0x2, 1 },
        { 4, 0xFFFFFFFD, 0 },   // every flag but 0x2
        { 6, 0x1, 0 },
        { 0, 0x2, 0 },
    };
    for (const Case& c : cases) {
        Enable(c.enabledLevel, c.flags);
        recorder_.messages.clear();
        for (unsigned level = 1; level <= 6; ++level) InstallerDebugLog(".\\Package", level, level, "level %u", level);
        std::vector<ULONG> traced;
        for (const TraceMessageRecord& message : recorder_.messages) traced.push_back(*reinterpret_cast<const ULONG*>(message.arguments.at(1).data()));
        std::vector<ULONG> expected;
        for (unsigned level = 1; level <= c.highestTraced; ++level) expected.push_back(level);
        EXPECT_EQ(traced, expected) << "enabled at level " << int(c.enabledLevel) << " with flags 0x" << std::hex << c.flags;
    }

    // Disabled again: nothing, whatever the level.
    ASSERT_EQ(Control(WMI_DISABLE_EVENTS, 6, 0x2), 0u);
    recorder_.messages.clear();
    LOG(LogLevel::Fatal, "%s", "after disable");
    EXPECT_TRUE(recorder_.messages.empty());
}

TEST_F(TraceTest, ControlCallbackRejectsOtherRequests) {
    for (WMIDPREQUESTCODE request : { WMI_GET_ALL_DATA, WMI_GET_SINGLE_INSTANCE, WMI_SET_SINGLE_INSTANCE, WMI_SET_SINGLE_ITEM,
                                      WMI_ENABLE_COLLECTION, WMI_DISABLE_COLLECTION, WMI_REGINFO, WMI_EXECUTE_METHOD }) {
        EXPECT_EQ(Control(request, 6, 0x2), static_cast<ULONG>(ERROR_INVALID_PARAMETER)) << request;
    }
    // None of them enabled the provider.
    LOG(LogLevel::Fatal, "%s", "still disabled");
    EXPECT_TRUE(recorder_.messages.empty());
}

TEST_F(TraceTest, MessageTenCarriesSourceLineAndTextWithTheirTerminators) {
    Enable(6, 0x2);
    SetLastError(ERROR_FILE_NOT_FOUND);
    InstallerDebugLog(".\\Package", 4242, LogLevel::Information, "Feature %S: %d of %s", L"Core", 3, "five");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    InstallerDebugLog(nullptr, 7, LogLevel::Information, "%s", "no source");

    ASSERT_EQ(recorder_.messages.size(), 2u);
    const TraceMessageRecord& message = recorder_.messages[0];
    EXPECT_EQ(message.logger, kLoggerHandle);
    EXPECT_EQ(message.flags, 0x2Bu);
    EXPECT_TRUE(IsEqualGUID(message.guid, kLogMessageGuid));
    EXPECT_EQ(message.number, 10);
    const std::vector<std::string> expected = { Bytes(".\\Package"), Bytes(ULONG(4242)), Bytes("Feature Core: 3 of five") };
    EXPECT_EQ(message.arguments, expected);

    const std::vector<std::string> missingSource = { std::string("NULL", 5), Bytes(ULONG(7)), Bytes("no source") };
    EXPECT_EQ(recorder_.messages[1].arguments, missingSource);
}

TEST_F(TraceTest, SizeMismatchSendsMessageElevenAtWarningLevel) {
    FormattedLogText mismatch;
    mismatch.measuredSize = 0x1F;
    mismatch.writtenSize = 0;

    Enable(3, 0x2);
    WriteLogMessage(".\\Package", 12, LogLevel::Error, mismatch);
    ASSERT_EQ(recorder_.messages.size(), 2u);
    EXPECT_EQ(recorder_.messages[0].number, 10);
    const TraceMessageRecord& eleven = recorder_.messages[1];
    EXPECT_EQ(eleven.number, 11);
    EXPECT_EQ(eleven.flags, 0x2Bu);
    EXPECT_TRUE(IsEqualGUID(eleven.guid, kLogMessageGuid));
    const std::vector<std::string> sizes = { Bytes(ULONG(0x1F)), Bytes(ULONG(0)) };
    EXPECT_EQ(eleven.arguments, sizes);

    // Enabled below warning level: message 11 stays out, the error message itself goes.
    Enable(2, 0x2);
    recorder_.messages.clear();
    WriteLogMessage(".\\Package", 12, LogLevel::Error, mismatch);
    ASSERT_EQ(recorder_.messages.size(), 1u);
    EXPECT_EQ(recorder_.messages[0].number, 10);
}

TEST_F(TraceTest, OwnMessagesOfOtherModulesUseTheirGuidUnderTheSameEnableTest) {
    Enable(6, 0x2);
    TraceOwnMessage(kControllerGuid, 10, 6, "Install", nullptr);
    ASSERT_EQ(recorder_.messages.size(), 1u);
    const TraceMessageRecord& message = recorder_.messages[0];
    EXPECT_TRUE(IsEqualGUID(message.guid, kControllerGuid));
    EXPECT_EQ(message.number, 10);
    EXPECT_EQ(message.flags, 0x2Bu);
    const std::vector<std::string> texts = { Bytes("Install"), std::string("NULL", 5) };
    EXPECT_EQ(message.arguments, texts);

    Enable(5, 0x2);
    TraceOwnMessage(kControllerGuid, 11, 6, "a", "b");
    Enable(6, 0x1);
    TraceOwnMessage(kControllerGuid, 11, 6, "a", "b");
    EXPECT_EQ(recorder_.messages.size(), 1u);
}

TEST_F(TraceTest, WithoutTraceMessageTheFallbackSendsOneEventWithTheMessageNumberFirst) {
    TraceHooks hooks = TraceRecorder::Hooks();
    hooks.traceMessage = nullptr;
    hooks.traceMessageVa = nullptr;
    UninitializeLog(L"");
    Register(hooks);
    Enable(6, 0x2);

    const ULONG line = __LINE__; LOG(LogLevel::Information, "%s", "fallback");
    EXPECT_TRUE(recorder_.messages.empty());
    ASSERT_EQ(recorder_.events.size(), 1u);
    const TraceEventRecord& event = recorder_.events[0];
    EXPECT_EQ(event.header.Flags, 0x001A0000u);
    EXPECT_EQ(event.header.Class.Type, 0xFF);
    EXPECT_EQ(event.header.Class.Level, 0xFF);
    EXPECT_EQ(event.header.Class.Version, 0xFFFF);
    EXPECT_EQ(event.header.Size, sizeof(EVENT_TRACE_HEADER) + 4 * sizeof(MOF_FIELD));
    EXPECT_TRUE(IsEqualGUID(event.guid, kLogMessageGuid));
    const USHORT number = 10;
    const std::vector<std::string> fields = { std::string(reinterpret_cast<const char*>(&number), 2), Bytes(kLogModule),
                                              Bytes(line), Bytes("fallback") };
    EXPECT_EQ(event.fields, fields);
}

ULONG CallFallback(USHORT number, ...) {
    va_list args;
    va_start(args, number);
    const ULONG result = TraceMessageFallbackVa(kLoggerHandle, 0x2B, &kLogMessageGuid, number, args);
    va_end(args);
    return result;
}

TEST_F(TraceTest, FallbackJoinsEightArgumentsIntoOneFieldAndDropsOversizedOnes) {
    TraceHooks hooks = TraceRecorder::Hooks();
    hooks.traceMessage = nullptr;
    UninitializeLog(L"");
    Register(hooks);

    char a[] = "a", b[] = "bb", c[] = "c", d[] = "d", e[] = "e", f[] = "f", g[] = "g", h[] = "hh";
    CallFallback(3, a, SIZE_T(1), b, SIZE_T(2), c, SIZE_T(1), d, SIZE_T(1), e, SIZE_T(1), f, SIZE_T(1), g, SIZE_T(1),
                 h, SIZE_T(2), static_cast<PVOID>(nullptr), SIZE_T(0));
    ASSERT_EQ(recorder_.events.size(), 1u);
    ASSERT_EQ(recorder_.events[0].fields.size(), 2u);
    EXPECT_EQ(recorder_.events[0].fields[1], "abbcdefghh");

    CallFallback(3, a, SIZE_T(1), b, SIZE_T(2), c, SIZE_T(1), d, SIZE_T(1), e, SIZE_T(1), f, SIZE_T(1), g, SIZE_T(1),
                 static_cast<PVOID>(nullptr), SIZE_T(0));
    ASSERT_EQ(recorder_.events.size(), 2u);
    EXPECT_EQ(recorder_.events[1].fields.size(), 8u);

    std::vector<char> big(8193, 'x');
    EXPECT_NE(CallFallback(3, big.data(), SIZE_T(big.size()), static_cast<PVOID>(nullptr), SIZE_T(0)), 0u);
    EXPECT_EQ(recorder_.events.size(), 2u);
}

// ---------------------------------------------------------------------------------------------
// The log file

class LogFileTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::wstring& path : opened_) UninitializeLog(path);
    }
    void Open(const std::wstring& path) {
        opened_.push_back(path);
        InitializeLog(path);
    }
    void Close(const std::wstring& path) { UninitializeLog(path); }

    TempDir dir_{ L"log" };
    std::vector<std::wstring> opened_;
};

TEST_F(LogFileTest, RecordHasTimeModuleSourceLineAndMessage) {
    const std::wstring path = dir_ / L"install.log";
    Open(path);
    EXPECT_FALSE(FileExists(path)) << "the stream opens with the first record";
    InstallerDebugLog(".\\Package", 42, LogLevel::Detail, "Copying %S to %s (%d)", L"a.dll", "C:\\x", -5);
    InstallerDebugLog(".\\Package", 43, LogLevel::Information, "");
    Close(path);

    const std::string bytes = ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
    const std::wstring log = ReadLogText(path);
    const std::string narrow(log.begin(), log.end());   // ASCII only here
    const std::string afterBom = narrow.substr(1);
    const std::regex record(
        "^[0-3][0-9]/[01][0-9]/[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9] InstallHelper\\.cpp: \\.\\\\Package: 42: "
        "Copying a\\.dll to C:\\\\x \\(-5\\)\r\n"
        "[0-3][0-9]/[01][0-9]/[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9] InstallHelper\\.cpp: \\.\\\\Package: 43: \r\n$");
    EXPECT_TRUE(std::regex_match(afterBom, record)) << afterBom;
}

TEST_F(LogFileTest, PathWithLettersOutsideTheNarrowSetIsLoggedWhole) {
    const std::wstring path = dir_ / L"install.log";
    Open(path);
    // Cyrillic and CJK letters have no narrow form in the run-time's default locale.
    const std::wstring target = L"C:\\\u041f\u0440\u043e\u0433\u0440\\\u5b89\u88c5.dll";
    InstallerDebugLog(".\\FileOperation", 7, LogLevel::Detail, "Copying file at reboot, from %S to %S (%s %d%%)",
                      L"a.dll", target.c_str(), "narrow", 50);
    Close(path);

    const std::vector<std::wstring> records = LogRecords(ReadLogText(path));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(RecordAfterHead(records[0]),
              L".\\FileOperation: 7: Copying file at reboot, from a.dll to " + target + L" (narrow 50%)");
}

TEST_F(LogFileTest, EveryOpeningAppendsWithItsOwnByteOrderMark) {
    const std::wstring path = dir_ / L"install.log";
    Open(path);
    LOG(LogLevel::Information, "%s", "first run");
    Close(path);
    Open(path);
    LOG(LogLevel::Information, "%s", "second run");
    Close(path);

    const std::vector<std::wstring> records = LogRecords(ReadLogText(path));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0][0], wchar_t(0xFEFF));
    EXPECT_EQ(records[1][0], wchar_t(0xFEFF)) << "second BOM in the middle of the file";
    EXPECT_NE(records[0].find(L": first run"), std::wstring::npos);
    EXPECT_NE(records[1].find(L": second run"), std::wstring::npos);
}

TEST_F(LogFileTest, SettingsAreAppliedOnceUntilTheSinkCloses) {
    const std::wstring first = dir_ / L"first.log";
    const std::wstring second = dir_ / L"second.log";
    Open(first);
    Open(second);
    LOG(LogLevel::Information, "%s", "where");
    Close(first);
    EXPECT_TRUE(FileExists(first));
    EXPECT_FALSE(FileExists(second));
    // Closed: nothing reopens the file.
    LOG(LogLevel::Information, "%s", "after close");
    EXPECT_EQ(LogRecords(ReadLogText(first)).size(), 1u);
}

TEST_F(LogFileTest, CreatesMissingDirectoriesAndDropsOneTrailingSeparator) {
    struct Case {
        std::wstring given;
        std::wstring file;
    };
    const Case cases[] = {
        { dir_ / L"a\\b\\install.log", dir_ / L"a\\b\\install.log" },
        { dir_ / L"c\\d\\install.log\\", dir_ / L"c\\d\\install.log" },
        { dir_ / L"e.log/", dir_ / L"e.log" },
    };
    for (const Case& c : cases) {
        Open(c.given);
        LOG(LogLevel::Information, "%s", "deep");
        Close(c.given);
        const std::string bytes = ReadFileBytes(c.file);
        ASSERT_GE(bytes.size(), 2u) << ToUtf8(c.given);
        EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
    }
}

TEST_F(LogFileTest, ExistingDirectoryOrUncreatableDirectoryGivesNoFile) {
    const std::wstring blocker = dir_ / L"file.txt";
    ASSERT_TRUE(WriteFileBytes(blocker, "x"));
    const std::wstring paths[] = { dir_.Path(), dir_.Path() + L"\\", blocker + L"\\sub\\install.log" };
    for (const std::wstring& path : paths) {
        Open(path);
        SetLastError(4321);
        LOG(LogLevel::Information, "%s", "nowhere");
        EXPECT_EQ(GetLastError(), 4321u);
        Close(path);
    }
    EXPECT_EQ(ReadFileBytes(blocker), "x");
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(FindFirstFileW((dir_.Path() + L"\\*").c_str(), &data));
    ASSERT_TRUE(find);
    std::vector<std::wstring> names;
    do {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) names.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    EXPECT_EQ(names, std::vector<std::wstring>{ L"file.txt" });
}

TEST_F(LogFileTest, RecordThatCannotOpenTheFileIsDroppedAndTheNextOneRetries) {
    const std::wstring path = dir_ / L"locked.log";
    Open(path);
    UniqueFileHandle locked(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(locked);
    LOG(LogLevel::Information, "%s", "dropped");
    locked.reset();
    LOG(LogLevel::Information, "%s", "kept");
    Close(path);

    const std::vector<std::wstring> records = LogRecords(ReadLogText(path));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0][0], wchar_t(0xFEFF));
    EXPECT_NE(records[0].find(L": kept"), std::wstring::npos);
}

TEST_F(LogFileTest, SizeMismatchAddsTheMismatchRecord) {
    const std::wstring path = dir_ / L"install.log";
    Open(path);
    FormattedLogText mismatch;
    mismatch.measuredSize = 0x1F;
    mismatch.writtenSize = 0;
    WriteLogMessage(".\\Package", 12, LogLevel::Error, mismatch);
    Close(path);

    const std::vector<std::wstring> records = LogRecords(ReadLogText(path));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(RecordAfterHead(records[0]), L".\\Package: 12: ");
    EXPECT_EQ(RecordAfterHead(records[1]), L".\\PackageActual Log Buffer Size was 1f. But only 0bytes were written.");
}

TEST_F(LogFileTest, FunctionScopeLogsEntryAndExitWithTheCallersLines) {
    const std::wstring path = dir_ / L"install.log";
    Open(path);
    unsigned entryLine = 0;
    unsigned resultLine = 0;
    {
        FunctionScope scope(".\\Package", "Package::Install"); entryLine = __LINE__;
        scope.Result(1603); resultLine = __LINE__;
    }
    {
        FunctionScope scope(".\\Service", "Service::StartTheService", true);
        scope.Result(0x1F);
    }
    { FunctionScope scope(".\\Feature", "Feature::InstallCore"); }
    Close(path);

    std::vector<std::wstring> bodies;
    for (const std::wstring& record : LogRecords(ReadLogText(path))) bodies.push_back(RecordAfterHead(record));
    ASSERT_EQ(bodies.size(), 6u);
    EXPECT_EQ(bodies[0], L".\\Package: " + std::to_wstring(entryLine) + L": Entered function Package::Install");
    EXPECT_EQ(bodies[1], L".\\Package: " + std::to_wstring(resultLine) + L": Exiting function Package::Install with result 1603");
    EXPECT_NE(bodies[2].find(L": Entered function Service::StartTheService"), std::wstring::npos);
    EXPECT_NE(bodies[3].find(L": Exiting function Service::StartTheService with result 0x1f"), std::wstring::npos);
    EXPECT_NE(bodies[5].find(L": Exiting function Feature::InstallCore"), std::wstring::npos);
    EXPECT_EQ(bodies[5].find(L"with result"), std::wstring::npos);
}

// ---------------------------------------------------------------------------------------------
// Formatting and the caller's state

FormattedLogText Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormattedLogText text = FormatLogText(format, args);
    va_end(args);
    return text;
}

TEST(LogFormatTest, MeasuresAndFormatsWithMicrosoftConversions) {
    FormattedLogText text = Format("%S|%s|%d|%x|%hs", L"wide", "narrow", -3, 0x5b9u, "short");
    EXPECT_EQ(text.text, "wide|narrow|-3|5b9|short");
    EXPECT_EQ(text.measuredSize, static_cast<int>(text.text.size()) + 1);
    EXPECT_EQ(text.writtenSize, text.measuredSize);

    text = Format("");
    EXPECT_EQ(text.text, "");
    EXPECT_EQ(text.measuredSize, 1);
    EXPECT_EQ(text.writtenSize, 1);

    // Not measurable: an empty message and no mismatch.
    text = Format(nullptr);
    EXPECT_EQ(text.text, "");
    EXPECT_EQ(text.measuredSize, text.writtenSize);
}

TEST(LogFormatTest, UnnarrowableArgumentFallsBackToUtf16WithoutAMismatch) {
    FormattedLogText text = Format("%S|%s|%c|%ls|%hs", L"\u5b89", "n", 'c', L"\u0416", "h");
    EXPECT_TRUE(text.wide);
    EXPECT_EQ(text.wideText, L"\u5b89|n|c|\u0416|h");
    EXPECT_EQ(text.text, "\xE5\xAE\x89|n|c|\xD0\x96|h");
    EXPECT_EQ(text.measuredSize, text.writtenSize);
}

void __cdecl MarkerHandler(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) {}

TEST(LogFormatTest, BadFormatIsSurvivedAndTheCallersHandlerAndLastErrorComeBack) {
    const _invalid_parameter_handler before = _set_invalid_parameter_handler(&MarkerHandler);
    for (DWORD error : { DWORD(0), DWORD(ERROR_ACCESS_DENIED), DWORD(0xE0000101) }) {
        SetLastError(error);
        InstallerDebugLog(kLogModule, __LINE__, LogLevel::Error, nullptr);
        EXPECT_EQ(GetLastError(), error);
        SetLastError(error);
        LOG(LogLevel::Information, "%s %S %d", "fine", L"text", 5);
        EXPECT_EQ(GetLastError(), error);
    }
    EXPECT_EQ(_set_invalid_parameter_handler(before), &MarkerHandler);
}

TEST(LogTextTest, RecordPiecesAndPathRules) {
    EXPECT_EQ(LogRecordBody(".\\Driver", 7, "text"), ".\\Driver: 7: text\r\n");
    EXPECT_EQ(LogRecordBody(".\\Driver", 7, ""), ".\\Driver: 7: \r\n");
    EXPECT_EQ(MismatchRecordBody(".\\Driver", 300, 299), ".\\DriverActual Log Buffer Size was 12c. But only 12bbytes were written.\r\n");

    SYSTEMTIME time = {};
    time.wYear = 2009;
    time.wMonth = 3;
    time.wDay = 5;
    time.wHour = 7;
    time.wMinute = 8;
    time.wSecond = 9;
    EXPECT_EQ(LogTimestamp(time), "05/03/09 07:08:09");
    time.wYear = 2024;
    time.wMonth = 12;
    time.wDay = 31;
    time.wHour = 23;
    time.wMinute = 59;
    time.wSecond = 58;
    EXPECT_EQ(LogTimestamp(time), "31/12/24 23:59:58");

    struct Case {
        const wchar_t* given;
        const wchar_t* file;
        const wchar_t* directory;
    };
    const Case cases[] = {
        { L"C:\\logs\\a.log", L"C:\\logs\\a.log", L"C:\\logs\\" },
        { L"C:\\logs\\a.log\\", L"C:\\logs\\a.log", L"C:\\logs\\" },
        { L"a.log/", L"a.log", L"" },
        { L"C:/logs/a.log", L"C:/logs/a.log", L"" },
        { L"logs\\a.log\\\\", L"logs\\a.log\\", L"logs\\a.log\\" },
        { L"logs\\a.log", L"logs\\a.log", L"logs\\" },
    };
    for (const Case& c : cases) {
        const std::wstring file = LogFilePathOf(c.given);
        EXPECT_EQ(file, c.file) << ToUtf8(c.given);
        EXPECT_EQ(LogDirectoryOf(file), c.directory) << ToUtf8(c.given);
    }
}

} // namespace
