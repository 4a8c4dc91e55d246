#pragma once
// The policy catalogue: for every policy value element of the configuration document, its
// identifier, the kind of value it holds (which decides the registry type and data form) and the
// registry value name it is stored under.
#include <windows.h>
#include <cstddef>
#include <map>
#include <string>

// Every policy lives below HKLM\SOFTWARE\Norvex\Coravel.
inline constexpr wchar_t kPolicyRootSubKey[] = L"SOFTWARE\\Norvex\\Coravel";

// "HKLM\SOFTWARE\Norvex\Coravel\<kind>\<key>".
std::wstring PolicyKeyPath(const std::wstring& kind, const std::wstring& key);
// The policy root itself, "HKLM\SOFTWARE\Norvex\Coravel".
std::wstring PolicyRootKeyPath();

enum PolicyValueKind : unsigned {
    PolicyKindBoolean = 0,
    PolicyKindNumber = 1,
    PolicyKindUnused2 = 2,
    PolicyKindString = 3,
    PolicyKindScanAction = 4,
    PolicyKindCacheType = 5,
    PolicyKindExtensionOption = 6,
    PolicyKindUnwantedFileList = 7,
    PolicyKindUnused8 = 8,
    PolicyKindIntegerList = 9,
    PolicyKindExclusionList = 10,
    PolicyKindVirusTypeList = 11,
    PolicyKindStringList = 12,
    PolicyKindScanPriority = 13,
    PolicyKindDriverClassification = 14,
    PolicyKindNotCatalogued = 15,
};

// One row of the constant name table: element name and policy identifier.
struct PolicyNameRow {
    const wchar_t* name;
    int id;
};

// One row of the constant entry table. The registry value name is empty for entries stored in
// their policy key's unnamed value.
struct PolicyEntryRow {
    int id;
    PolicyValueKind kind;
    const wchar_t* registryName;
};

template <typename Row>
struct PolicyTable {
    const Row* rows;
    size_t count;
    const Row* begin() const { return rows; }
    const Row* end() const { return rows + count; }
};

// The constant tables the catalogue is built from.
PolicyTable<PolicyNameRow> PolicyNameTable();
PolicyTable<PolicyEntryRow> PolicyEntryTable();

class PolicyCatalogue {
public:
    // The process's catalogue, built on the first call; safe against concurrent first calls.
    static PolicyCatalogue& Instance();

    // PolicyKindNotCatalogued for a name the catalogue does not know.
    PolicyValueKind GetValueKind(const std::wstring& elementName) const;
    // Empty for a name the catalogue does not know.
    std::wstring GetRegistryValueName(const std::wstring& elementName) const;
    // Both raise AVException "Invalid policy type" (0xA7F40509) for an identifier without entry;
    // GetValueKindById also for an entry of kind PolicyKindNotCatalogued.
    PolicyValueKind GetValueKindById(int id) const;
    std::wstring GetRegistryValueNameById(int id) const;

    size_t EntryCount() const { return entries_.size(); }
    size_t NameCount() const { return names_.size(); }

    // Tests only: the number of catalogues built so far in this process, a hook that runs while
    // a catalogue is being built (it may sleep or throw), and dropping the built catalogue so the
    // next Instance() builds again.
    static unsigned long BuildCountForTests();
    static void SetBuildHookForTests(void (*hook)());
    static void ResetForTests();

private:
    struct Entry {
        PolicyValueKind kind;
        const wchar_t* registryName;
    };

    PolicyCatalogue();

    std::map<std::wstring, int> names_;
    std::map<int, Entry> entries_;
};
