#pragma once
// Harvest: an installation document made from a payload folder, one FileOperation per file with
// its real digest and one DirectoryOperation per sub-folder, in the order the schema requires.
#include <windows.h>
#include <string>
#include <vector>

struct HarvestOptions {
    std::wstring payload;        // the folder installer.exe will run from
    std::wstring feature = L"Main";
    std::wstring destination;    // empty: files go to the install directory ("$INSTALL_PATH")
};

struct HarvestedFile {
    std::wstring folder;         // below the payload, "" or "bin" or "bin\x64"
    std::wstring name;
    std::wstring sha256;         // lower-case hexadecimal
};

// A file or folder that could not be read, with the Win32 code and, where the code alone does
// not say it, why.
struct HarvestError {
    std::wstring path;
    DWORD code = 0;
    std::wstring reason;
};

struct Harvest {
    std::vector<HarvestedFile> files;    // folder by folder, names sorted within a folder
    std::vector<std::wstring> folders;   // every sub-folder, a parent before its children
    std::vector<HarvestError> errors;
};

// Walks the payload folder. A payload folder that cannot be listed is itself an error.
Harvest HarvestPayload(const std::wstring& payload);

// The document text of a harvest (UTF-16; the caller writes it as UTF-8).
std::wstring HarvestDocument(const Harvest& harvest, const HarvestOptions& options);

// Text escaped for an XML attribute value or element text.
std::wstring EscapeXml(const std::wstring& text);

// Why a file name cannot be written into a document (an unpaired surrogate, a character XML
// forbids); empty when it can.
std::wstring UnwritableName(const std::wstring& name);
