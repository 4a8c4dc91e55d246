// Installation and configuration documents mutated from the samples, through the real loader,
// the embedded schemas and the binding (Deserialize, as main and the action controller call it).
// Rules for every case:
//  - the result is a bound tree (a Package with at least one Feature) or a refusal with a reason;
//    the one refusal without a reason is a document whose root element is not the root class's;
//  - the local file that external entities and DTDs name is never read: its access time stays
//    where the campaign set it, and its text appears in no bound field and no reason;
//  - no crash and no hang (a case over the timeout), and the process's private commit stays
//    under the bound (--memory-mib, default 1024) while the case runs.
// --replay <file> [--target package|configuration] runs one saved document.
#include <windows.h>
#include <objbase.h>
#include <cstdio>
#include <string>

#include "engine/Package.h"
#include "fuzz/Campaign.h"
#include "fuzz/DocumentMutator.h"
#include "policy/CPolicy.h"
#include "policy/CPolicyData.h"
#include "policy/Configuration.h"
#include "xml/Binding.h"
#include "support/TestFiles.h"

namespace {

const char kSecret[] = "FUZZSECRETMARKER";

// The file external entities name. Its last-access time is set far in the past before each
// case; a read moves it (the campaign checks first that a read of its own does).
class ForbiddenFileWatch {
public:
    explicit ForbiddenFileWatch(const std::wstring& directory) {
        path_ = directory + L"forbidden.txt";
        WriteFileBytes(path_, std::string(kSecret) + "\n");
        file_.path = Campaign::Utf8(path_);
        file_.url = "file:///" + file_.path;
        for (char& c : file_.url) if (c == '\\') c = '/';
    }
    const ForbiddenFile& File() const { return file_; }

    void Arm() {
        AgeLastAccess(path_);
        armed_ = LastAccess(path_);
    }
    bool Read() const { return LastAccess(path_) != armed_; }

    // Whether a read of the file shows in its access time here.
    bool SelfCheck() {
        Arm();
        const std::string text = ReadFileBytes(path_);
        const bool seen = !text.empty() && Read();
        Arm();
        return seen;
    }

private:
    std::wstring path_;
    ForbiddenFile file_;
    ULONGLONG armed_ = 0;
};

bool Holds(const std::wstring& text) { return text.find(L"FUZZSECRETMARKER") != std::wstring::npos; }

// Every text the bound package holds that a document text or attribute reaches.
bool PackageHoldsSecret(const Package& package) {
    if (Holds(package.tarnexVersion) || Holds(package.schemaVersion)) return true;
    for (const auto& feature : package.features) {
        if (Holds(feature->tag)) return true;
        for (const auto& file : feature->files) {
            if (Holds(file->FileName()) || Holds(file->Source()) || Holds(file->Destination())) return true;
        }
        for (const auto& executable : feature->executables) {
            if (Holds(executable->FileName()) || Holds(executable->Source())) return true;
        }
        for (const auto& directory : feature->directoryOperations) {
            if (Holds(directory->Path())) return true;
        }
    }
    return false;
}

bool ConfigurationHoldsSecret(const Configuration& configuration) {
    for (const auto* policies : {&configuration.oasPolicies, &configuration.odsPolicies, &configuration.globalPolicies}) {
        for (const auto& policy : *policies) {
            if (Holds(policy->key)) return true;
            for (const auto& value : policy->values) {
                if (Holds(value->name) || Holds(value->valueText)) return true;
                for (const auto& item : value->listItems) if (Holds(item)) return true;
                for (const auto& exclusion : value->exclusions) if (Holds(exclusion->pattern)) return true;
                for (const auto& unwanted : value->unwantedFiles) {
                    if (Holds(unwanted->detectionName) || Holds(unwanted->filePath)) return true;
                }
            }
        }
    }
    const InstallOverride& overrides = configuration.installOverride;
    return Holds(overrides.productId) || Holds(overrides.serviceStartMode) || Holds(overrides.contentMajorVersion) ||
           Holds(overrides.contentMinorVersion);
}

// The class of a refusal's reason, for the distribution.
std::string ReasonClass(const std::wstring& error) {
    if (error.empty()) return "refused: root element is not the root class (no reason)";
    if (error.find(L"exceeds the limit of") != std::wstring::npos) {
        const size_t of = error.find(L"limit of ");
        std::wstring what = error.substr(of + 9);
        const size_t space = what.find(L' ');
        what = space == std::wstring::npos ? what : what.substr(space + 1);
        return "refused: limit, " + Campaign::Utf8(what);
    }
    if (error.find(L"outside the document") != std::wstring::npos) return "refused: DOCTYPE names an outside resource";
    if (error.find(L"is refused:") != std::wstring::npos) return "refused: unsafe value in binding";
    if (error.find(L"well-formed") != std::wstring::npos) return "refused: not well-formed";
    if (error.find(L"Cannot open") != std::wstring::npos) return "refused: cannot open";
    return "refused: parser or schema reason";
}

struct CaseResult {
    std::string outcome;
    std::string failure;
};

CaseResult RunDocument(const std::wstring& path, bool configuration, ForbiddenFileWatch& watch) {
    CaseResult result;
    watch.Arm();
    std::wstring error;
    bool bound = false;
    bool secretBound = false;
    size_t features = 0;
    try {
        if (configuration) {
            Configuration root;
            bound = Deserialize(path, root, error);
            if (bound) secretBound = ConfigurationHoldsSecret(root);
        } else {
            Package root;
            bound = Deserialize(path, root, error);
            if (bound) {
                secretBound = PackageHoldsSecret(root);
                features = root.features.size();
            }
        }
    } catch (const std::exception& exception) {
        result.failure = std::string("exception left the load: ") + exception.what();
        return result;
    }
    if (watch.Read()) {
        result.failure = "the forbidden file was read";
    } else if (secretBound || Holds(error)) {
        result.failure = "the forbidden file's text reached the bound tree or the reason";
    } else if (bound && !configuration && features == 0) {
        result.failure = "a package bound without a feature";
    }
    result.outcome = bound ? (configuration ? "bound: configuration" : "bound: package") : ReasonClass(error);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    ::CoInitialize(nullptr);
    Campaign campaign("fuzz_documents", argc, argv, 300, 60);
    const std::wstring memory = campaign.Option(L"memory-mib");
    campaign.SetMemoryBound((memory.empty() ? 1024u : std::wcstoul(memory.c_str(), nullptr, 10)) * 1024ull * 1024ull);

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring work = std::wstring(temp) + L"fuzz_documents_" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
    ::CreateDirectoryW(work.c_str(), nullptr);
    ForbiddenFileWatch watch(work);
    const bool accessTimeWorks = watch.SelfCheck();
    std::printf("access-time check of the forbidden file: %s\n",
                accessTimeWorks ? "a read moves it" : "UNAVAILABLE here (text check only)");

    int status = 0;
    if (!campaign.ReplayFile().empty()) {
        const std::string bytes = ReadFileBytes(campaign.ReplayFile());
        const bool configuration = campaign.Target() == L"configuration" ||
                                   (campaign.Target().empty() && bytes.find("<Configuration") != std::string::npos);
        campaign.Begin(0, bytes, ".xml");
        const CaseResult result = RunDocument(campaign.ReplayFile(), configuration, watch);
        campaign.Outcome(result.failure.empty() ? result.outcome : "failed");
        if (!result.failure.empty()) campaign.Failure("rule", result.failure);
        status = campaign.Finish();
    } else {
        const std::vector<SeedDocument> seeds = LoadSeedDocuments(TestProgramDirectory() + L"fuzz_seeds");
        if (seeds.empty()) {
            std::printf("no seed documents under %s\n", Campaign::Utf8(TestProgramDirectory() + L"fuzz_seeds").c_str());
            return 2;
        }
        std::printf("%zu seed documents\n", seeds.size());
        const std::wstring path = work + L"case.xml";
        for (uint64_t index = campaign.First(); index < campaign.End(); ++index) {
            Random random = campaign.CaseRandom(index);
            const SeedDocument& seed = seeds[static_cast<size_t>(random() % seeds.size())];
            const MutatedDocument document = MutateDocument(seed, random, watch.File());
            campaign.Begin(index, document.bytes, ".xml");
            if (!WriteFileBytes(path, document.bytes)) {
                campaign.Outcome("failed");
                campaign.Failure("setup", "cannot write the case's document");
                continue;
            }
            const CaseResult result = RunDocument(path, document.configuration, watch);
            campaign.Outcome(result.failure.empty() ? result.outcome : "failed");
            if (!result.failure.empty()) campaign.Failure("rule", result.failure + " (" + document.mutations + ")");
        }
        ::DeleteFileW(path.c_str());
        status = campaign.Finish();
    }
    ::CoUninitialize();
    return status;
}
