#include "policy/PolicyCommon.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include "shell/AVException.h"
#include "shell/LockScope.h"

namespace {

constexpr DWORD kInvalidPolicyType = 0xA7F40509;

// Element names and their identifiers. Each name once.
const PolicyNameRow kNameTable[] = {
    { L"AV_POLICY_PERFORMANCE_TRADEOFF", 1 },
    { L"AV_POLICY_FALSERISK_TRADEOFF", 2 },
    { L"AV_POLICY_CLQ_LOOKUP_LEVEL", 3 },
    { L"AV_POLICY_ENABLE_BEHAVIOURAL_DETECTION", 4 },
    { L"AV_POLICY_ENABLE_CLQ_FEEDBACK", 5 },
    { L"AV_POLICY_PRIMARY_ACTION_BEHAVIOUR", 6 },
    { L"AV_POLICY_SECONDARY_ACTION_BEHAVIOUR", 7 },
    { L"AV_POLICY_TIMEOUT", 8 },
    { L"AV_POLICY_ARCHIVE_TIMEOUT", 9 },
    { L"AV_POLICY_CONTEXTIDS", 11 },
    { L"AV_POLICY_EXCLUSION_FILE", 12 },
    { L"AV_POLICY_EXCLUSION_DETECTION", 13 },
    { L"AV_POLICY_EXCLUSION_BEHAVIOUR", 14 },
    { L"AV_POLICY_INCLUSION_PROCESS", 15 },
    { L"AV_POLICY_ARCHIVE_DECOMPOSITION_STATE", 16 },
    { L"AV_POLICY_REPAIR_BACKUP_FILES", 18 },
    { L"AV_POLICY_REPAIR_BACKUP_PUP", 19 },
    { L"AV_POLICY_REPAIR_BACKUP_BEHAVIOUR", 21 },
    { L"AV_POLICY_FAILED_BACKUP_ACTION", 22 },
    { L"AV_POLICY_SMOOTHWRITES_TIME", 23 },
    { L"AV_POLICY_SMOOTHWRITES_EXTN", 24 },
    { L"AV_POLICY_PRIMARY_ACTION_VIRUS", 25 },
    { L"AV_POLICY_SECONDARY_ACTION_VIRUS", 26 },
    { L"AV_POLICY_PRIMARY_ACTION_TROJAN", 27 },
    { L"AV_POLICY_SECONDARY_ACTION_TROJAN", 28 },
    { L"AV_POLICY_PRIMARY_ACTION_PUP", 29 },
    { L"AV_POLICY_SECONDARY_ACTION_PUP", 30 },
    { L"AV_POLICY_ENABLE_FILE_OAS", 31 },
    { L"AV_POLICY_STORAGE_CONFIG", 32 },
    { L"AV_POLICY_CPU_UTILIZATION", 33 },
    { L"AV_POLICY_IO_UTILIZATION", 34 },
    { L"AV_POLICY_CUSTOM_EXTENSION", 35 },
    { L"AV_POLICY_EXTENSION_OPTION", 36 },
    { L"AV_POLICY_DISABLE_DETECTION", 37 },
    { L"AV_POLICY_BEHAVIOURAL_SLIDER", 38 },
    { L"AV_POLICY_TRUSTED_PROCESS_LIST", 39 },
    { L"AV_POLICY_SCAN_PROCESS_ON_STARTUP", 40 },
    { L"AV_POLICY_DISABLE_SCAN_INCOMING", 41 },
    { L"AV_POLICY_DISABLE_SCAN_OUTGOING", 42 },
    { L"AV_POLICY_DISABLE_NETWORK_SCAN", 43 },
    { L"AV_POLICY_DISABLE_NETWORK_SCAN_REPAIR", 44 },
    { L"AV_POLICY_SCAN_MIME", 45 },
    { L"AV_POLICY_USE_DELETE_ON_REBOOT", 46 },
    { L"AV_POLICY_USE_SERVER_FLAG", 47 },
    { L"AV_POLICY_SET_ERASE_CACHE", 48 },
    { L"AV_POLICY_CACHE_TYPE", 49 },
    { L"AV_POLICY_KNOWN_GOOD_LONGEVITY", 50 },
    { L"AV_POLICY_REPORT_KNOWN_GOOD", 52 },
    { L"AV_POLICY_USE_UNBUFFERED_IO", 55 },
    { L"AV_POLICY_UNWANTED_FILES", 56 },
    { L"AV_POLICY_REPORT_CLEAN", 57 },
    { L"AV_POLICY_SCAN_BOOTSECTOR_ON_ENABLE", 58 },
    { L"AV_POLICY_ENABLE_PROGRAM_HEURISTICS", 59 },
    { L"AV_POLICY_ENABLE_MACRO_HEURISTICS", 60 },
    { L"AV_POLICY_PRIMARY_ACTION_ROOTKIT_OBSOLETE", 63 },
    { L"AV_POLICY_SECONDARY_ACTION_ROOTKIT_OBSOLETE", 64 },
    { L"AV_POLICY_SCAN_TRUSTED_INSTALLERS", 65 },
    { L"AV_POLICY_SCAN_ALL_FILES_IN_ARCHIVE", 66 },
    { L"AV_POLICY_ARCHIVE_DEPTH", 67 },
    { L"AV_POLICY_OAS_QUEUE_SIZE", 68 },
    { L"AV_POLICY_SYSTEM_STATE", 69 },
    { L"AV_POLICY_DELAY_STARTUP", 70 },
    { L"AV_POLICY_DELAY_PROCESS_SCAN", 71 },
    { L"AV_POLICY_PRIMARY_ACTION_SPYWARE", 72 },
    { L"AV_POLICY_SECONDARY_ACTION_SPYWARE", 73 },
    { L"AV_POLICY_PRIMARY_ACTION_ADWARE", 74 },
    { L"AV_POLICY_SECONDARY_ACTION_ADWARE", 75 },
    { L"AV_POLICY_PRIMARY_ACTION_REMOTEADMIN", 76 },
    { L"AV_POLICY_SECONDARY_ACTION_REMOTEADMIN", 77 },
    { L"AV_POLICY_PRIMARY_ACTION_DIALER", 78 },
    { L"AV_POLICY_SECONDARY_ACTION_DIALER", 79 },
    { L"AV_POLICY_PRIMARY_ACTION_PWDCRACKER", 80 },
    { L"AV_POLICY_SECONDARY_ACTION_PWDCRACKER", 81 },
    { L"AV_POLICY_PRIMARY_ACTION_JOKE", 82 },
    { L"AV_POLICY_SECONDARY_ACTION_JOKE", 83 },
    { L"AV_POLICY_PRIMARY_ACTION_KEYLOGGER", 84 },
    { L"AV_POLICY_SECONDARY_ACTION_KEYLOGGER", 85 },
    { L"AV_POLICY_BLOCK_NETSHARE_FOR_VIRUS", 86 },
    { L"AV_POLICY_BLOCK_NETSHARE_FOR_TROJAN", 87 },
    { L"AV_POLICY_BLOCK_NETSHARE_FOR_PUP", 88 },
    { L"AV_POLICY_SCAN_FILES_OPEN_FOR_BACKUP", 89 },
    { L"AV_POLICY_STATE_AT_BOOT_TIME", 90 },
    { L"AV_POLICY_PRIORITY", 91 },
    { L"AV_POLICY_SCAN_FLOPPY_ON_SHUTDOWN", 92 },
    { L"AV_POLICY_BACKUP_DIRECTORY", 93 },
    { L"AV_POLICY_MAX_BACKUP", 94 },
    { L"AV_POLICY_PRIMARY_ACTION_DEFAULT", 96 },
    { L"AV_POLICY_SECONDARY_ACTION_DEFAULT", 97 },
    { L"AV_POLICY_USE_CACHE", 98 },
    { L"AV_POLICY_USE_BOOT_DATS", 100 },
    { L"AV_POLICY_BOOT_DAT_INTERVAL", 101 },
    { L"AV_POLICY_PROXY_HOST_NAME", 102 },
    { L"AV_POLICY_PROXY_PORT", 103 },
    { L"AV_POLICY_PROXY_USERNAME", 104 },
    { L"AV_POLICY_PROXY_PASSWORD", 105 },
    { L"AV_POLICY_REPORT_PROGRESS", 106 },
    { L"AV_POLICY_REPORT_ERROR", 107 },
    { L"AV_POLICY_INITIAL_PAGE_PRIORITY", 108 },
    { L"AV_POLICY_INITIAL_THREAD_PRIORITY", 109 },
    { L"AV_POLICY_INITIAL_IO_PRIORITY", 110 },
    { L"AV_POLICY_ENABLE_MULTIPLE_HEURISTICS", 111 },
    { L"AV_POLICY_STEALTH_SCAN_COMPATIBLE", 112 },
    { L"AV_POLICY_ENABLE_STEALTH_SCAN", 113 },
    { L"AV_POLICY_STEALTH_SCAN_SENSITIVITY_LEVEL", 114 },
    { L"AV_POLICY_DENY_INFECTED_FLOPPY", 115 },
    { L"AV_POLICY_DRIVER_CLASSIFICATION", 116 },
    { L"AV_POLICY_AVSCAN_COMPATIBLE", 117 },
    { L"AV_POLICY_INTERNAL_POLICY", 118 },
    { L"AV_POLICY_TARGET_MEMORY_USAGE", 122 },
    { L"AV_POLICY_ENABLE_SCAN_ON_COPY", 123 },
};

// Identifier, value kind and registry value name ("" = the key's unnamed value).
const PolicyEntryRow kEntryTable[] = {
    { 1, PolicyKindNumber, L"perftradeoff" },
    { 2, PolicyKindNumber, L"falserisktradeoff" },
    { 3, PolicyKindNumber, L"clqlookuplevel" },
    { 4, PolicyKindBoolean, L"enablebehavioural" },
    { 5, PolicyKindBoolean, L"enableclqfeedback" },
    { 6, PolicyKindScanAction, L"primaryactionbehaviour" },
    { 7, PolicyKindScanAction, L"secondaryactionbehaviour" },
    { 8, PolicyKindNumber, L"scantimeout" },
    { 9, PolicyKindNumber, L"archivetimeout" },
    { 11, PolicyKindIntegerList, L"contextidlist" },
    { 12, PolicyKindExclusionList, L"exclusions" },
    { 13, PolicyKindStringList, L"exclusiondetection" },
    { 14, PolicyKindString, L"" },
    { 15, PolicyKindStringList, L"processinclusionlist" },
    { 16, PolicyKindBoolean, L"archivedecompositionstate" },
    { 18, PolicyKindBoolean, L"repairbackupfiles" },
    { 19, PolicyKindBoolean, L"repairbackuppup" },
    { 21, PolicyKindBoolean, L"" },
    { 22, PolicyKindBoolean, L"failedbackupaction" },
    { 23, PolicyKindNumber, L"smoothwritestime" },
    { 24, PolicyKindStringList, L"smoothwritesextn" },
    { 25, PolicyKindScanAction, L"primaryactionvirus" },
    { 26, PolicyKindScanAction, L"secondaryactionvirus" },
    { 27, PolicyKindScanAction, L"primaryactiontrojan" },
    { 28, PolicyKindScanAction, L"secondaryactiontrojan" },
    { 29, PolicyKindScanAction, L"primaryactionpup" },
    { 30, PolicyKindScanAction, L"secondaryactionpup" },
    { 31, PolicyKindBoolean, L"enablefileoas" },
    { 32, PolicyKindNumber, L"" },
    { 33, PolicyKindNumber, L"cpuutilization" },
    { 34, PolicyKindNumber, L"ioutilization" },
    { 35, PolicyKindStringList, L"customextension" },
    { 36, PolicyKindExtensionOption, L"extensionoption" },
    { 37, PolicyKindVirusTypeList, L"disabledetection" },
    { 38, PolicyKindNumber, L"behaviouralslider" },
    { 39, PolicyKindStringList, L"trustedprocesslist" },
    { 40, PolicyKindBoolean, L"scanprocessonstart" },
    { 41, PolicyKindBoolean, L"disablescanincoming" },
    { 42, PolicyKindBoolean, L"disablescanoutgoing" },
    { 43, PolicyKindBoolean, L"disablenetworkscan" },
    { 44, PolicyKindBoolean, L"disablenetworkscanrepair" },
    { 45, PolicyKindBoolean, L"scanmime" },
    { 46, PolicyKindBoolean, L"usedeleteonreboot" },
    { 47, PolicyKindBoolean, L"useserverflag" },
    { 48, PolicyKindBoolean, L"seterasecache" },
    { 49, PolicyKindCacheType, L"cachetype" },
    { 50, PolicyKindBoolean, L"knowngoodlongevity" },
    { 52, PolicyKindBoolean, L"reportknowngood" },
    { 55, PolicyKindBoolean, L"useunbufferedio" },
    { 56, PolicyKindUnwantedFileList, L"unwantedfiles" },
    { 57, PolicyKindBoolean, L"reportclean" },
    { 58, PolicyKindBoolean, L"scanbootsectoronstart" },
    { 59, PolicyKindBoolean, L"enableprogramheuristics" },
    { 60, PolicyKindBoolean, L"enablemacroheuristics" },
    { 63, PolicyKindScanAction, L"primaryactionrootkit" },
    { 64, PolicyKindScanAction, L"secondaryactionrootkit" },
    { 65, PolicyKindBoolean, L"scantrustedinstallers" },
    { 66, PolicyKindBoolean, L"scanallfilesinarchive" },
    { 67, PolicyKindNumber, L"archivedepth" },
    { 68, PolicyKindNumber, L"oasqueuesize" },
    { 69, PolicyKindIntegerList, L"systemstates" },
    { 70, PolicyKindNumber, L"delaystartup" },
    { 71, PolicyKindNumber, L"delayprocessscan" },
    { 72, PolicyKindScanAction, L"primaryactionspyware" },
    { 73, PolicyKindScanAction, L"secondaryactionspyware" },
    { 74, PolicyKindScanAction, L"primaryactionadware" },
    { 75, PolicyKindScanAction, L"secondaryactionadware" },
    { 76, PolicyKindScanAction, L"primaryactionremoteadmin" },
    { 77, PolicyKindScanAction, L"secondaryactionremoteadmin" },
    { 78, PolicyKindScanAction, L"primaryactiondialer" },
    { 79, PolicyKindScanAction, L"secondaryactiondialer" },
    { 80, PolicyKindScanAction, L"primaryactionpwdcracker" },
    { 81, PolicyKindScanAction, L"secondaryactionpwdcracker" },
    { 82, PolicyKindScanAction, L"primaryactionjoke" },
    { 83, PolicyKindScanAction, L"secondaryactionjoke" },
    { 84, PolicyKindScanAction, L"primaryactionkeylogger" },
    { 85, PolicyKindScanAction, L"secondaryactionkeylogger" },
    { 86, PolicyKindNumber, L"blocknetshareforvirus" },
    { 87, PolicyKindNumber, L"blocknetsharefortrojan" },
    { 88, PolicyKindNumber, L"blocknetshareforpup" },
    { 89, PolicyKindBoolean, L"scanfilesopenforbackup" },
    { 90, PolicyKindNumber, L"stateatboottime" },
    { 91, PolicyKindNumber, L"policypriority" },
    { 92, PolicyKindBoolean, L"scanfloppyonshutdown" },
    { 93, PolicyKindString, L"backupdirectory" },
    { 94, PolicyKindNumber, L"maxbackup" },
    { 96, PolicyKindScanAction, L"primaryactiondefault" },
    { 97, PolicyKindScanAction, L"secondaryactiondefault" },
    { 98, PolicyKindBoolean, L"usecache" },
    { 100, PolicyKindBoolean, L"usebootdats" },
    { 101, PolicyKindNumber, L"bootdatsinterval" },
    { 102, PolicyKindString, L"clqproxyhostname" },
    { 103, PolicyKindNumber, L"clqproxyport" },
    { 104, PolicyKindString, L"clqproxyusername" },
    { 105, PolicyKindString, L"clqproxypassword" },
    { 106, PolicyKindBoolean, L"reportprogress" },
    { 107, PolicyKindBoolean, L"reporterror" },
    { 108, PolicyKindScanPriority, L"initialpagepriority" },
    { 109, PolicyKindScanPriority, L"initialthreadpriority" },
    { 110, PolicyKindScanPriority, L"initialiopriority" },
    { 111, PolicyKindBoolean, L"enablemultipleheuristics" },
    { 112, PolicyKindBoolean, L"stealthscancompatible" },
    { 113, PolicyKindBoolean, L"enablestealthscan" },
    { 114, PolicyKindNumber, L"stealthscansensitivitylevel" },
    { 115, PolicyKindBoolean, L"denyinfectedfloppy" },
    { 116, PolicyKindDriverClassification, L"classifydriverasbad" },
    { 117, PolicyKindBoolean, L"avscancompatible" },
    { 118, PolicyKindString, L"internalpolicy" },
    { 122, PolicyKindNumber, L"targetmemoryusage" },
    { 123, PolicyKindBoolean, L"enablescanoncopy" },
};

// Guards the building of the catalogue. A function-local static, so it exists before any thread
// can ask for the catalogue.
class CatalogueLock {
public:
    CatalogueLock() { ::InitializeCriticalSection(&section_); }
    ~CatalogueLock() { ::DeleteCriticalSection(&section_); }
    CatalogueLock(const CatalogueLock&) = delete;
    CatalogueLock& operator=(const CatalogueLock&) = delete;
    CRITICAL_SECTION* get() { return &section_; }

private:
    CRITICAL_SECTION section_;
};

CatalogueLock& BuildLock() {
    static CatalogueLock lock;
    return lock;
}

std::atomic<PolicyCatalogue*> g_catalogue{ nullptr };
std::atomic<unsigned long> g_buildCount{ 0 };
std::atomic<void (*)()> g_buildHook{ nullptr };
bool g_exitHandlerRegistered = false;   // written under the build lock only

void DestroyCatalogue() {
    delete g_catalogue.exchange(nullptr);
}

[[noreturn]] void ThrowInvalidPolicyType(unsigned line) {
    throw AVException("Invalid policy type", kInvalidPolicyType, line, "PolicyCommon");
}

} // namespace

std::wstring PolicyRootKeyPath() {
    return std::wstring(L"HKLM\\") + kPolicyRootSubKey;
}

std::wstring PolicyKeyPath(const std::wstring& kind, const std::wstring& key) {
    return PolicyRootKeyPath() + L"\\" + kind + L"\\" + key;
}

PolicyTable<PolicyNameRow> PolicyNameTable() {
    return { kNameTable, sizeof(kNameTable) / sizeof(kNameTable[0]) };
}

PolicyTable<PolicyEntryRow> PolicyEntryTable() {
    return { kEntryTable, sizeof(kEntryTable) / sizeof(kEntryTable[0]) };
}

PolicyCatalogue::PolicyCatalogue() {
    for (const PolicyEntryRow& row : PolicyEntryTable()) entries_.emplace(row.id, Entry{ row.kind, row.registryName });
    // emplace keeps the first identifier of a name listed twice.
    for (const PolicyNameRow& row : PolicyNameTable()) names_.emplace(row.name, row.id);
}

PolicyCatalogue& PolicyCatalogue::Instance() {
    PolicyCatalogue* catalogue = g_catalogue.load(std::memory_order_acquire);
    if (catalogue) return *catalogue;

    CriticalSectionScope guard(*BuildLock().get());
    catalogue = g_catalogue.load(std::memory_order_acquire);
    if (catalogue) return *catalogue;

    std::unique_ptr<PolicyCatalogue> built(new PolicyCatalogue());
    if (void (*hook)() = g_buildHook.load()) hook();
    if (!g_exitHandlerRegistered) {
        std::atexit(&DestroyCatalogue);
        g_exitHandlerRegistered = true;
    }
    ++g_buildCount;
    catalogue = built.release();
    g_catalogue.store(catalogue, std::memory_order_release);
    return *catalogue;
}

PolicyValueKind PolicyCatalogue::GetValueKind(const std::wstring& elementName) const {
    const auto found = names_.find(elementName);
    if (found == names_.end()) return PolicyKindNotCatalogued;
    return GetValueKindById(found->second);
}

std::wstring PolicyCatalogue::GetRegistryValueName(const std::wstring& elementName) const {
    const auto found = names_.find(elementName);
    if (found == names_.end()) return std::wstring();
    return GetRegistryValueNameById(found->second);
}

PolicyValueKind PolicyCatalogue::GetValueKindById(int id) const {
    const auto found = entries_.find(id);
    if (found == entries_.end() || found->second.kind == PolicyKindNotCatalogued) ThrowInvalidPolicyType(__LINE__);
    return found->second.kind;
}

std::wstring PolicyCatalogue::GetRegistryValueNameById(int id) const {
    const auto found = entries_.find(id);
    if (found == entries_.end()) ThrowInvalidPolicyType(__LINE__);
    return found->second.registryName;
}

unsigned long PolicyCatalogue::BuildCountForTests() {
    return g_buildCount.load();
}

void PolicyCatalogue::SetBuildHookForTests(void (*hook)()) {
    g_buildHook.store(hook);
}

void PolicyCatalogue::ResetForTests() {
    CriticalSectionScope guard(*BuildLock().get());
    DestroyCatalogue();
}
