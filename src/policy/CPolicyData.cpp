// One policy value element: decides the registry value name, type word and data text, and hands
// them to a RegValue that writes or compares them.
#include "policy/CPolicyData.h"

#include <cwchar>
#include "engine/InstallContext.h"
#include "operations/RegistryHelpers.h"
#include "operations/RegistryOperation.h"
#include "policy/ExclusionList.h"
#include "policy/PolicyCommon.h"
#include "shell/Log.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\CPolicyData";

namespace {

const wchar_t kBackupDirectoryPolicy[] = L"AV_POLICY_BACKUP_DIRECTORY";

// A child text read with "%u"; a missing or unreadable child leaves the field as it was.
void BindChildUnsigned(const XmlNode& node, const wchar_t* child, unsigned long& field) {
    std::wstring text;
    BindChildText(node, child, text);
    unsigned int value = 0;
    if (swscanf(text.c_str(), L"%u", &value) == 1) field = value;
}

// The key that holds the copy of the backup directory the engine reads.
std::wstring GlobalBackupKeyPath() {
    return PolicyKeyPath(L"BULWARKGLOBAL", L"BULWARKGLOBAL");
}

// The document may spell a boolean "true" or "false"; the registry holds it as 1 or 0.
std::wstring BooleanData(const std::wstring& text) {
    if (text == L"true") return L"1";
    if (text == L"false") return L"0";
    return text;
}

} // namespace

void Exclusion::Bind(const XmlNode& node) {
    BindChildUnsigned(node, L"Flags", flags);
    BindChildUnsigned(node, L"Type", type);
    BindChildUnsigned(node, L"NumDays", numDays);
    BindChildText(node, L"Pattern", pattern);
}

void UnwantedFile::Bind(const XmlNode& node) {
    BindChildText(node, L"DetectionName", detectionName);
    BindChildText(node, L"FilePath", filePath);
}

CPolicyData::CPolicyData(std::wstring name, std::wstring valueText, std::wstring keepExisting, std::wstring keyPath)
    : name(std::move(name)), keepExisting(std::move(keepExisting)), valueText(std::move(valueText)),
      keyPath_(std::move(keyPath)) {}

void CPolicyData::Bind(const XmlNode& node) {
    BindName(node, name);
    BindAttribute(node, L"keepexisting", keepExisting);
    BindText(node, valueText);
    BindTextList(node, L"Integer", listItems);
    BindTextList(node, L"String", listItems);
    BindTextList(node, L"VirusType", listItems);
    BindChildren(node, exclusions);
    BindChildren(node, unwantedFiles);
}

DWORD CPolicyData::GetRegistryValue(std::wstring& type, std::wstring& data) const {
    switch (PolicyCatalogue::Instance().GetValueKind(name)) {
    case PolicyKindBoolean:
        type = L"DWORD";
        data = BooleanData(valueText);
        break;
    case PolicyKindNumber:
    case PolicyKindUnused2:
    case PolicyKindScanAction:
    case PolicyKindCacheType:
    case PolicyKindExtensionOption:
    case PolicyKindUnused8:
    case PolicyKindScanPriority:
    case PolicyKindDriverClassification:
        type = L"DWORD";
        data = valueText;
        break;
    case PolicyKindString: {
        type = L"SZ";
        const std::wstring& backupDirectory = InstallContext().backupDirectory;
        data = (!backupDirectory.empty() && name == kBackupDirectoryPolicy) ? backupDirectory : valueText;
        break;
    }
    case PolicyKindIntegerList:
    case PolicyKindVirusTypeList:
    case PolicyKindStringList:
        type = L"MULTI_SZ";
        data = JoinMultiSzText(listItems);
        break;
    case PolicyKindExclusionList: {
        std::vector<ExclusionRecord> records;
        records.reserve(exclusions.size());
        for (const auto& exclusion : exclusions) {
            records.push_back(ExclusionList::MakeExclusionRecord(exclusion->type, exclusion->flags, exclusion->numDays,
                                                                 exclusion->pattern));
        }
        type = L"MULTI_SZ";
        data = ExclusionList::ExclusionRegistryData(records, ProcessPatternEnvironment());
        break;
    }
    case PolicyKindUnwantedFileList: {
        std::vector<UnwantedFileRecord> records;
        records.reserve(unwantedFiles.size());
        for (const auto& file : unwantedFiles) {
            UnwantedFileRecord record;
            record.detectionName = file->detectionName;
            record.filePath = file->filePath;
            records.push_back(std::move(record));
        }
        type = L"MULTI_SZ";
        data = ExclusionList::UnwantedFileRegistryData(records);
        break;
    }
    default:
        return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

DWORD CPolicyData::Install() {
    FunctionScope scope(kLogModule, "CPolicyData::Install");
    const std::wstring keyPath = keyPath_;
    const std::wstring valueName = PolicyCatalogue::Instance().GetRegistryValueName(name);
    std::wstring type;
    std::wstring data;
    // An element the catalogue does not know keeps an empty type: its key is opened, nothing is written.
    GetRegistryValue(type, data);

    if (keepExisting == L"1") return scope.Result(ERROR_SUCCESS);

    RegValue value(keyPath, valueName, type, data, false);
    DWORD result = value.Install();
    if (result != ERROR_SUCCESS) {
        LOG(LogLevel::Error, "Failed to install Policy data.");
        return scope.Result(result);
    }

    if (name == kBackupDirectoryPolicy) {
        RegValue globalCopy(GlobalBackupKeyPath(), valueName, type, data, false);
        result = globalCopy.Install();
        if (result != ERROR_SUCCESS) {
            LOG(LogLevel::Error, "Failed to install Backup directory.");
            return scope.Result(result);
        }
    }
    return scope.Result(ERROR_SUCCESS);
}

DWORD CPolicyData::Verify() {
    const std::wstring valueName = PolicyCatalogue::Instance().GetRegistryValueName(name);
    std::wstring type;
    std::wstring data;
    GetRegistryValue(type, data);

    // The engine reads the backup directory from the global copy; that is the one verified.
    const std::wstring keyPath = name == kBackupDirectoryPolicy ? GlobalBackupKeyPath() : keyPath_;
    RegValue value(keyPath, valueName, type, data, false);
    return value.Verify();
}
