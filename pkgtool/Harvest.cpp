#include "pkgtool/Harvest.h"

#include <algorithm>
#include "operations/FileDigest.h"
#include "shell/Handles.h"

namespace {

bool NameLess(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    return folder.empty() ? name : folder + L"\\" + name;
}

void Walk(const std::wstring& payload, const std::wstring& folder, Harvest& harvest) {
    const std::wstring directory = folder.empty() ? payload : payload + L"\\" + folder;
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(::FindFirstFileW((directory + L"\\*").c_str(), &data));
    if (!find) {
        harvest.errors.push_back({directory, ::GetLastError()});
        return;
    }
    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A linked folder may lead back above itself: it is reported, not followed.
        if (folder && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            harvest.errors.push_back({directory + L"\\" + name, ERROR_CANT_ACCESS_FILE, L"a linked folder, not followed"});
            continue;
        }
        (folder ? folders : files).push_back(name);
    } while (::FindNextFileW(find.get(), &data));
    const DWORD end = ::GetLastError();
    if (end != ERROR_NO_MORE_FILES) harvest.errors.push_back({directory, end});
    std::sort(files.begin(), files.end(), NameLess);
    std::sort(folders.begin(), folders.end(), NameLess);

    for (const auto& name : files) {
        const std::wstring path = directory + L"\\" + name;
        const std::wstring unwritable = UnwritableName(name);
        if (!unwritable.empty()) {
            harvest.errors.push_back({path, ERROR_INVALID_NAME, L"its name holds " + unwritable});
            continue;
        }
        Sha256::Digest digest{};
        if (ComputeFileDigest(path, digest) != ERROR_SUCCESS) {
            // The digest's own code is 2 whatever went wrong; ask the system why.
            UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
            const DWORD code = file ? ERROR_READ_FAULT : ::GetLastError();
            harvest.errors.push_back({path, code});
            continue;
        }
        harvest.files.push_back({folder, name, DigestText(digest)});
    }
    for (const auto& name : folders) {
        const std::wstring child = Join(folder, name);
        const std::wstring unwritable = UnwritableName(name);
        if (!unwritable.empty()) {
            harvest.errors.push_back({directory + L"\\" + name, ERROR_INVALID_NAME, L"its name holds " + unwritable});
            continue;
        }
        harvest.folders.push_back(child);
        Walk(payload, child, harvest);
    }
}

} // namespace

Harvest HarvestPayload(const std::wstring& payload) {
    Harvest harvest;
    std::wstring root = payload;
    while (root.size() > 3 && (root.back() == L'\\' || root.back() == L'/')) root.pop_back();
    const DWORD attributes = ::GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        harvest.errors.push_back({root, ::GetLastError()});
        return harvest;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        harvest.errors.push_back({root, ERROR_DIRECTORY});
        return harvest;
    }
    Walk(root, L"", harvest);
    return harvest;
}

std::wstring EscapeXml(const std::wstring& text) {
    std::wstring escaped;
    escaped.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'&': escaped += L"&amp;"; break;
        case L'<': escaped += L"&lt;"; break;
        case L'>': escaped += L"&gt;"; break;
        case L'"': escaped += L"&quot;"; break;
        case L'\'': escaped += L"&apos;"; break;
        // Attribute values lose tabs and line breaks to blanks unless written as references.
        case L'\t': escaped += L"&#9;"; break;
        case L'\n': escaped += L"&#10;"; break;
        case L'\r': escaped += L"&#13;"; break;
        default: escaped.push_back(c);
        }
    }
    return escaped;
}

std::wstring UnwritableName(const std::wstring& name) {
    for (size_t i = 0; i < name.size(); ++i) {
        const wchar_t c = name[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
                ++i;
                continue;
            }
            return L"an unpaired surrogate";
        }
        if (c >= 0xDC00 && c <= 0xDFFF) return L"an unpaired surrogate";
        if ((c < 0x20 && c != L'\t' && c != L'\n' && c != L'\r') || c == 0xFFFE || c == 0xFFFF)
            return L"a character XML cannot hold";
    }
    return L"";
}

std::wstring HarvestDocument(const Harvest& harvest, const HarvestOptions& options) {
    const std::wstring base = options.destination.empty() ? L"$INSTALL_PATH" : options.destination;
    std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";
    // No path in the comment: a comment may not hold "--", which a folder name may.
    text += L"<!-- Harvested by pkgtool. Set TarnexVersion to the engine's release before shipping. -->\r\n";
    text += L"<Package schemaVersion=\"1.1\" TarnexVersion=\"1.0.0.0\">\r\n";
    text += L"  <Feature tag=\"" + EscapeXml(options.feature) + L"\">\r\n";
    for (const auto& file : harvest.files) {
        text += L"    <FileOperation operation=\"copy\"";
        if (!file.folder.empty()) text += L" source=\"" + EscapeXml(file.folder) + L"\"";
        if (!file.folder.empty()) text += L" destination=\"" + EscapeXml(base + L"\\" + file.folder) + L"\"";
        else if (!options.destination.empty()) text += L" destination=\"" + EscapeXml(options.destination) + L"\"";
        text += L" sha256=\"" + file.sha256 + L"\">" + EscapeXml(file.name) + L"</FileOperation>\r\n";
    }
    for (const auto& folder : harvest.folders) {
        text += L"    <DirectoryOperation operation=\"create\">" + EscapeXml(base + L"\\" + folder) +
                L"</DirectoryOperation>\r\n";
    }
    text += L"  </Feature>\r\n</Package>\r\n";
    return text;
}
