// The text parsers the documents feed, each against a model written from the rules it follows:
//   exclusion   exclusion texts (ParseExclusions) and whole exclusion lists (ExclusionRegistryData)
//   unwanted    unwanted-file texts and lists
//   version     version texts (CutVersionText, IsVersionGreater)
//   keypath     registry key paths (ParseKeyPath)
//   multisz     MULTI_SZ data texts (EncodeMultiSzText, DecodeMultiSz)
// --target all (default) runs --count cases of each.
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/Campaign.h"
#include "operations/FileDigest.h"
#include "operations/RegistryHelpers.h"
#include "policy/ExclusionList.h"
#include "shell/AVException.h"

namespace {

const DWORD kInvalidExclusion = 0xA7F40209;

class Texts {
public:
    explicit Texts(Random& random) : random_(random) {}
    size_t Pick(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(random_() % bound); }
    bool Chance(size_t oneIn) { return Pick(oneIn) == 0; }

    // A text made of pieces drawn from `alphabet` and some whole words.
    std::wstring From(const std::vector<std::wstring>& words, size_t maxPieces) {
        std::wstring text;
        const size_t pieces = Pick(maxPieces + 1);
        for (size_t i = 0; i < pieces; ++i) text += words[Pick(words.size())];
        return text;
    }

    std::wstring Number() {
        static const std::vector<std::wstring> kNumbers = {
            L"0", L"1", L"2", L"3", L"4", L"5", L"-1", L"65535", L"65536", L"65537", L"65539", L"4294967295",
            L"4294967296", L"99999999999999999999", L"+3", L" 3", L"3 ", L"03", L"0x3", L"", L"-32768", L"-65533", L"a"};
        return kNumbers[Pick(kNumbers.size())];
    }

private:
    Random& random_;
};

std::vector<std::wstring> SplitDroppingEmpty(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> pieces;
    std::wstring current;
    for (wchar_t c : text) {
        if (c == separator) {
            if (!current.empty()) pieces.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) pieces.push_back(current);
    return pieces;
}

std::string Show(const std::vector<std::wstring>& texts) {
    std::string out;
    for (const std::wstring& text : texts) out += Campaign::Escaped(text) + "\n";
    return out;
}

// ---- exclusions ----

const std::vector<std::wstring> kExclusionWords = {L"|", L"||", L"0", L"1", L"3", L"4", L"7", L"65539", L"-1", L">",
                                                   L">>", L"a", L"*.log", L"C:\\Temp\\", L"\\\\srv\\share", L"tmp",
                                                   L" ", L"\xE9", L"%SystemRoot%", L"x>y"};

std::string ExclusionCase(Campaign& campaign, Random& random) {
    Texts texts(random);
    std::vector<std::wstring> items;
    const size_t count = texts.Pick(4);
    // Well-formed texts with a model answer, and texts pieced together at random.
    bool modelled = true;
    bool expectAccept = true;
    for (size_t i = 0; i < count; ++i) {
        if (texts.Chance(2)) {
            const uint32_t type = static_cast<uint32_t>(texts.Pick(7));
            const std::wstring third = texts.Chance(5) ? L">>" : texts.From(kExclusionWords, 3);
            const std::wstring text = std::to_wstring(type) + L"|" + std::to_wstring(texts.Pick(70000)) + L"|" + third;
            const std::vector<std::wstring> pieces = SplitDroppingEmpty(text, L'|');
            if (pieces.size() != 3 || type > 4) expectAccept = false;
            if (pieces.size() == 3 && type == 3 && SplitDroppingEmpty(pieces[2], L'>').empty()) expectAccept = false;
            items.push_back(text);
        } else {
            items.push_back(texts.From(kExclusionWords, 8));
            if (SplitDroppingEmpty(items.back(), L'|').size() != 3) expectAccept = false;
            else modelled = false;
        }
    }
    campaign.SetInput(Show(items), ".txt");
    try {
        const ExclusionRecordList list = ExclusionList::ParseExclusions(items);
        if (modelled && !expectAccept) return "accepted texts the rules refuse";
        if (list.count != items.size() || list.records.size() != items.size() || list.size != 16) return "wrong count";
        for (const ExclusionRecord& record : list.records) {
            if (record.size != 32 || record.type < 0 || record.type > 4) return "a record outside the types";
            if ((record.type >= 3) != record.pattern.has_value()) return "pattern present for the wrong type";
            if (record.pattern && (record.pattern->empty() || record.pattern->find(L'|') != std::wstring::npos ||
                                   (record.type == 3 && record.pattern->find(L'>') != std::wstring::npos))) {
                return "a pattern the rules do not give";
            }
            // What is written out parses back to the same record.
            const ExclusionRecordList again = ExclusionList::ParseExclusions({ExclusionList::FormatExclusion(record)});
            const ExclusionRecord& back = again.records.at(0);
            if (back.type != record.type || back.flags != record.flags || back.days != record.days ||
                back.pattern != record.pattern) {
                return "a record does not survive its own text";
            }
        }
        campaign.Outcome("exclusion texts: accepted");
    } catch (const AVException& exception) {
        if (exception.Code() != kInvalidExclusion) return "AVException with another code";
        if (modelled && expectAccept) return "refused texts the rules accept";
        campaign.Outcome("exclusion texts: refused");
    }
    return {};
}

std::string ExclusionListCase(Campaign& campaign, Random& random, const PatternEnvironment& environment) {
    Texts texts(random);
    std::vector<ExclusionRecord> records;
    const size_t count = texts.Pick(5);
    bool expectAccept = true;
    std::vector<std::wstring> shown;
    for (size_t i = 0; i < count; ++i) {
        static const unsigned long kTypes[] = {0, 1, 2, 3, 4, 5, 65536, 65539, 0xFFFFFFFFul};
        const unsigned long type = kTypes[texts.Pick(std::size(kTypes))];
        const unsigned long flags = static_cast<unsigned long>(texts.Pick(3) == 0 ? 65537 : texts.Pick(5));
        const unsigned long days = static_cast<unsigned long>(texts.Pick(100000));
        std::wstring pattern = texts.From({L"a", L"*.log", L"|", L">", L"C:", L"\\", L"Temp", L"\\\\srv\\s", L"%TEMP%"}, 4);
        records.push_back(ExclusionList::MakeExclusionRecord(type, flags, days, pattern));
        shown.push_back(std::to_wstring(type) + L"," + std::to_wstring(flags) + L"," + std::to_wstring(days) + L"," + pattern);
        // A type beyond 4 (65539 included: the text form keeps the low 16 bits, the choice of
        // the third piece looks at the whole type) has no third piece.
        if (type > 4) expectAccept = false;
        if (type == 3 || type == 4) {
            if (pattern.empty() || pattern.find(L'|') != std::wstring::npos) expectAccept = false;
            if (type == 3 && SplitDroppingEmpty(pattern, L'>').empty()) expectAccept = false;
        }
    }
    campaign.SetInput(Show(shown), ".txt");
    try {
        const std::wstring data = ExclusionList::ExclusionRegistryData(records, environment);
        if (!expectAccept) return "a list the rules refuse was written: " + Campaign::Escaped(data);
        std::vector<std::wstring> items;
        size_t start = 0;
        for (size_t at; !data.empty() && (at = data.find(L"\\0", start)) != std::wstring::npos; start = at + 2) {
            items.push_back(data.substr(start, at - start));
        }
        if (!data.empty()) items.push_back(data.substr(start));
        if (items.size() != records.size()) return "the list has another number of items";
        for (size_t i = 0; i < items.size(); ++i) {
            const std::wstring head = std::to_wstring(records[i].type & 0xFFFF) + L"|" + std::to_wstring(records[i].flags) + L"|";
            if (items[i].compare(0, head.size(), head) != 0) return "an item does not begin with its type and flags";
        }
        campaign.Outcome("exclusion lists: written");
    } catch (const AVException& exception) {
        if (exception.Code() != kInvalidExclusion) return "AVException with another code";
        if (expectAccept) return "a list the rules accept was refused";
        campaign.Outcome("exclusion lists: refused");
    }
    return {};
}

// ---- unwanted files ----

std::string UnwantedCase(Campaign& campaign, Random& random) {
    Texts texts(random);
    std::vector<std::wstring> items;
    const size_t count = texts.Pick(5);
    for (size_t i = 0; i < count; ++i) items.push_back(texts.From({L"|", L"Test", L"C:\\x.exe", L"A|B", L"", L" ", L"\xE9"}, 5));
    campaign.SetInput(Show(items), ".txt");
    const UnwantedFileRecordList list = ExclusionList::ParseUnwantedFiles(items);
    if (list.count != items.size() || list.records.size() != items.size()) return "wrong count";
    for (size_t i = 0; i < items.size(); ++i) {
        std::optional<std::wstring> name;
        std::optional<std::wstring> path;
        if (items[i].empty() || items[i][0] != L'|') {
            const std::vector<std::wstring> pieces = SplitDroppingEmpty(items[i], L'|');
            if (!pieces.empty()) name = pieces[0];
            if (pieces.size() > 1) path = pieces[1];
        }
        if (list.records[i].detectionName != name || list.records[i].filePath != path) return "record differs from the rules";
        const std::wstring text = ExclusionList::FormatUnwantedFile(list.records[i]);
        const UnwantedFileRecordList again = ExclusionList::ParseUnwantedFiles({text});
        if (ExclusionList::FormatUnwantedFile(again.records.at(0)) != text) return "an item does not survive its own text";
    }
    std::vector<UnwantedFileRecord> records;
    for (const UnwantedFileRecord& record : list.records) records.push_back(record);
    const std::wstring data = ExclusionList::UnwantedFileRegistryData(records);
    size_t separators = 0;
    for (size_t at = 0; (at = data.find(L"\\0", at)) != std::wstring::npos; at += 2) ++separators;
    if (!records.empty() && separators != records.size() - 1) return "the list has another number of items";
    campaign.Outcome(records.empty() ? "unwanted files: empty list" : "unwanted files: written");
    return {};
}

// ---- versions ----

std::string VersionCase(Campaign& campaign, Random& random) {
    Texts texts(random);
    const std::vector<std::wstring> words = {L".", L"..", L"1", L"2", L"10", L"9", L"0", L"4294967295", L"4294967296",
                                             L"-1", L" ", L"+", L"a", L"b", L"1575", L"007", L"\xE9"};
    std::wstring raw = texts.From(words, 14);
    if (texts.Chance(2)) {
        // Mostly dotted numbers, as version resources hold them.
        raw.clear();
        const size_t fields = 1 + texts.Pick(8);
        for (size_t i = 0; i < fields; ++i) raw += (i ? L"." : L"") + texts.From(words, 2);
    }
    const std::wstring first = texts.From(words, 9);
    const std::wstring second = texts.Chance(4) ? first : texts.From(words, 9);
    campaign.SetInput(Show({raw, first, second}), ".txt");

    // The cut: the text between the fifth-last and the last dot.
    std::vector<size_t> dots;
    for (size_t i = 0; i < raw.size(); ++i) if (raw[i] == L'.') dots.push_back(i);
    std::wstring cut;
    const DWORD result = CutVersionText(raw, cut);
    if (dots.size() < 5) {
        if (result != 777) return "a text of fewer than five dots was cut";
    } else {
        const size_t from = dots[dots.size() - 5] + 1;
        const std::wstring expected = raw.substr(from, dots.back() - from);
        if (result != ERROR_SUCCESS || cut != expected) return "the cut differs from the rules";
    }

    auto fields = [](const std::wstring& text) {
        std::vector<uint32_t> out;
        std::wstring rest = text;
        for (int i = 0; i < 4; ++i) {
            const size_t dot = rest.find(L'.');
            // The conversion of each field is the C library's own (its overflow rules differ
            // between libraries); the model is the cutting into fields.
            const std::wstring field = dot == std::wstring::npos ? rest : rest.substr(0, dot);
            out.push_back(static_cast<uint32_t>(std::wcstoul(field.c_str(), nullptr, 10)));
            if (dot != std::wstring::npos) rest = rest.substr(dot + 1);
        }
        return out;
    };
    const std::vector<uint32_t> a = fields(first);
    const std::vector<uint32_t> b = fields(second);
    int expected = 0;
    for (int i = 0; i < 4; ++i) {
        if (a[i] != b[i]) {
            expected = b[i] > a[i] ? 1 : 0;
            break;
        }
    }
    const int greater = IsVersionGreater(first, second);
    if (greater != expected) return "IsVersionGreater differs from the rules";
    if (greater == 1 && IsVersionGreater(second, first) != 0) return "both versions greater than each other";
    campaign.Outcome(result == 777 ? "versions: not cut (777)" : "versions: cut");
    return {};
}

// ---- registry key paths ----

std::string KeyPathCase(Campaign& campaign, Random& random) {
    Texts texts(random);
    std::wstring path = texts.Chance(2) ? std::wstring() : std::wstring(texts.Chance(4) ? L"HKEY_USERS" : L"HKLM") + L"\\";
    path += texts.From({L"HKLM", L"HKCR", L"HKCC", L"HKU", L"HKCU", L"hklm", L"HKEY_LOCAL_MACHINE",
                                          L"\\", L"SOFTWARE", L"HK", L"LM", L" ", L"/", L"\xE9", std::wstring(1, L'\0')}, 6);
    campaign.SetInput(Show({path}), ".txt");
    HKEY root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234));
    std::wstring subKey = L"untouched";
    const DWORD result = ParseKeyPath(path, root, subKey);
    const size_t slash = path.find(L'\\');
    struct RootName { const wchar_t* name; HKEY key; };
    const RootName roots[] = {{L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKCR", HKEY_CLASSES_ROOT}, {L"HKCC", HKEY_CURRENT_CONFIG},
                              {L"HKU", HKEY_USERS}, {L"HKCU", HKEY_CURRENT_USER}};
    HKEY expected = nullptr;
    if (slash != std::wstring::npos) {
        for (const RootName& name : roots) if (path.substr(0, slash) == name.name) expected = name.key;
    }
    if (!expected) {
        if (result != ERROR_NO_MATCH) return "a path without a known root parsed";
        if (slash == std::wstring::npos && subKey != L"untouched") return "a path without a backslash changed the sub-key";
        campaign.Outcome("key paths: 1169");
    } else {
        if (result != ERROR_SUCCESS || root != expected || subKey != path.substr(slash + 1)) return "differs from the rules";
        campaign.Outcome("key paths: parsed");
    }
    return {};
}

// ---- MULTI_SZ ----

std::string MultiSzCase(Campaign& campaign, Random& random) {
    Texts texts(random);
    std::wstring text = texts.From({L"\\0", L"\\", L"0", L"a", L"exe", L"\\\\0", L"\xE9", L" "}, 12);
    if (texts.Chance(200)) text = std::wstring(16383 + texts.Pick(3), L'm');
    campaign.SetInput(Show({text}), ".txt");
    const std::wstring units = EncodeMultiSzText(text);
    // One NUL for each "\0" pair read from the left, then two NULs.
    std::wstring expected;
    std::vector<std::wstring> strings;
    std::wstring current;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'0') {
            expected.push_back(L'\0');
            if (!current.empty()) strings.push_back(current);
            current.clear();
            ++i;
        } else {
            expected.push_back(text[i]);
            current.push_back(text[i]);
        }
    }
    if (!current.empty()) strings.push_back(current);
    expected.append(2, L'\0');
    if (units != expected) return "the encoded units differ from the rules";
    const std::vector<std::wstring> decoded =
        DecodeMultiSz(reinterpret_cast<const BYTE*>(units.data()), units.size() * sizeof(wchar_t));
    if (decoded != strings) return "the decoded strings differ from the non-empty strings of the text";
    campaign.Outcome(strings.empty() ? "multi-sz: no strings" : "multi-sz: strings");
    return {};
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    Campaign campaign("fuzz_parsers", argc, argv, 20000, 20);
    const std::wstring target = campaign.Target().empty() ? std::wstring(L"all") : campaign.Target();
    const std::vector<std::wstring> all = {L"exclusion", L"unwanted", L"version", L"keypath", L"multisz"};
    std::vector<std::wstring> targets;
    if (target == L"all") targets = all;
    else targets.push_back(target);
    const PatternEnvironment environment = ProcessPatternEnvironment();

    for (const std::wstring& name : targets) {
        campaign.SetReplayTarget(name);
        const uint64_t stream = static_cast<uint64_t>(std::find(all.begin(), all.end(), name) - all.begin());
        for (uint64_t index = campaign.First(); index < campaign.End(); ++index) {
            // Each target has its own stream of cases for the same seed.
            Random random = campaign.CaseRandom(index * 8 + stream);
            campaign.Begin(index, std::string(), ".txt");
            std::string failure;
            try {
                if (name == L"exclusion") {
                    failure = random() % 2 ? ExclusionCase(campaign, random) : ExclusionListCase(campaign, random, environment);
                } else if (name == L"unwanted") {
                    failure = UnwantedCase(campaign, random);
                } else if (name == L"version") {
                    failure = VersionCase(campaign, random);
                } else if (name == L"keypath") {
                    failure = KeyPathCase(campaign, random);
                } else if (name == L"multisz") {
                    failure = MultiSzCase(campaign, random);
                } else {
                    std::printf("unknown target %s\n", Campaign::Utf8(name).c_str());
                    return 2;
                }
            } catch (const std::exception& exception) {
                failure = std::string("exception: ") + exception.what();
            }
            if (!failure.empty()) {
                campaign.Outcome("failed");
                campaign.Failure("rule", Campaign::Utf8(name) + ": " + failure);
            }
        }
    }
    return campaign.Finish();
}
