#pragma once
// Installation and configuration documents mutated from the sample documents: attributes dropped,
// duplicated or given junk values, elements duplicated, reordered, nested deeply or repeated as
// siblings up to and past the element limit, texts of 1 MB, CDATA, internal and exponential
// entities, external entities and DTDs that name a local file, encodings and byte-order marks,
// truncation, NUL bytes and flipped bytes.
#include <string>
#include <vector>
#include "fuzz/Campaign.h"

struct SeedDocument {
    std::string name;
    std::string text;            // UTF-8
    bool configuration = false;  // root element Configuration (else Package)
};

// The *.xml documents of `directory` (fixture templates have their placeholders filled in).
std::vector<SeedDocument> LoadSeedDocuments(const std::wstring& directory);

struct MutatedDocument {
    std::string bytes;
    std::string mutations;   // what was done, for the distribution and the saved note
    bool configuration = false;
};

// The local file that external entities and DTDs name: it must never be read.
struct ForbiddenFile {
    std::string url;   // file:///C:/... form
    std::string path;  // C:\... form
};

// The forbidden file's last-access time, and setting it far into the past, so that a read of the
// file by anyone shows as a change of that time.
ULONGLONG LastAccess(const std::wstring& path);
void AgeLastAccess(const std::wstring& path);

MutatedDocument MutateDocument(const SeedDocument& seed, Random& random, const ForbiddenFile& forbidden);
