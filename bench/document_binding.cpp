// Where the time goes in large installation documents: the limit check on the bytes, the parser,
// the schema validation and the binding, for documents of growing size up to the document limits,
// and how fast documents beyond the limits are refused.
//
//   bench_document_binding.exe [--quick]
//
// Each phase is timed on its own: "limits" is the byte check alone; "parse" a load without a
// schema; "validate" the load with the schema less the parse; "bind" the binding of the loaded tree alone; "total" one whole
// Deserialize, as main runs it. Figures are wall-clock milliseconds, the fastest of three runs; "commit" is the peak
// private commit of the process so far.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <cstdio>
#include <functional>
#include <string>

#include "engine/Package.h"
#include "xml/Binding.h"
#include "xml/DocumentLimits.h"
#include "xml/XmlDocument.h"

namespace {

// The fastest of three runs: the machine is shared, and the least disturbed run is the one that
// shows the work itself.
double Milliseconds(const std::function<void()>& work) {
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        LARGE_INTEGER frequency, start, end;
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        work();
        ::QueryPerformanceCounter(&end);
        const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        if (run == 0 || ms < best) best = ms;
    }
    return best;
}

size_t PeakCommitMiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakPagefileUsage >> 20;
}

void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

const std::string kDigest(64, 'A');

std::string FileOperations(size_t count) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Package schemaVersion=\"1.1\" TarnexVersion=\"5.2.0.118\">\n"
                       "<Feature tag=\"Engine\">\n";
    text.reserve(count * 140 + 200);
    for (size_t i = 0; i < count; ++i) {
        text += "<FileOperation operation=\"copy\" sha256=\"" + kDigest + "\">f" + std::to_string(i) + ".dll</FileOperation>\n";
    }
    return text + "</Feature>\n</Package>\n";
}

// `elements` FileOperation elements, each with its two required attributes and `attributes` more
// (which the schema does not declare).
std::string ManyAttributes(size_t elements, size_t attributes) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Package schemaVersion=\"1.1\" TarnexVersion=\"5.2.0.118\">\n"
                       "<Feature tag=\"Engine\">\n";
    for (size_t e = 0; e < elements; ++e) {
        text += "<FileOperation operation=\"copy\" sha256=\"" + kDigest + "\"";
        for (size_t a = 0; a < attributes; ++a) text += " a" + std::to_string(a) + "=\"v\"";
        text += ">f.dll</FileOperation>\n";
    }
    return text + "</Feature>\n</Package>\n";
}

std::string Nested(size_t depth) {
    std::string text = "<Package schemaVersion=\"1.1\" TarnexVersion=\"1\">";
    for (size_t i = 0; i < depth; ++i) text += "<Feature tag=\"n\">";
    for (size_t i = 0; i < depth; ++i) text += "</Feature>";
    return text + "</Package>";
}

std::string Exponential(int levels) {
    std::string subset = "<!ENTITY l0 \"lollollollollollollollollollol\">";
    for (int i = 1; i <= levels; ++i) {
        subset += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) subset += "&l" + std::to_string(i - 1) + ";";
        subset += "\">";
    }
    return "<!DOCTYPE Package [" + subset + "]><Package schemaVersion=\"1.1\" TarnexVersion=\"1\"><Feature tag=\"t\">"
           "<DirectoryOperation operation=\"create\">&l" + std::to_string(levels) + ";</DirectoryOperation></Feature></Package>";
}

void Measure(const char* name, const std::string& bytes, const std::wstring& path) {
    WriteWholeFile(path, bytes);
    std::wstring limitsReason;
    const double limits = Milliseconds([&] { limitsReason = CheckDocumentLimits(bytes); });

    std::wstring error;
    bool parsed = false;
    const double parse = Milliseconds([&] {
        XmlDocument document;
        parsed = document.LoadFile(path, error);
    });
    bool valid = false;
    bool bound = false;
    size_t files = 0;
    double loadValidated = 0;
    double bind = 0;
    {
        XmlDocument document;
        XmlNode root;
        loadValidated = Milliseconds([&] {
            valid = DeserializeDocument(path, L"install.xsd", L"Package", root, document, error);
        });
        if (valid) {
            bind = Milliseconds([&] {
                Package package;
                TakeBindingRejection();
                package.Bind(root);
                bound = TakeBindingRejection().empty();
                files = 0;
                for (const auto& feature : package.features) files += feature->files.size();
            });
        }
    }
    const double all = Milliseconds([&] {
        Package package;
        Deserialize(path, package, error);
    });
    std::string outcome = bound ? "bound, " + std::to_string(files) + " files" : "refused";
    if (!limitsReason.empty()) outcome = "refused by the limits";
    else if (!parsed) outcome += " (not well-formed)";
    else if (!valid) outcome += " (invalid)";
    std::printf("%-34s %6.1f MB  limits %8.1f  parse %9.1f  validate %9.1f  bind %9.1f  total %9.1f ms  commit %4zu MiB  %s\n",
                name, static_cast<double>(bytes.size()) / 1e6, limits, parse,
                parsed && limitsReason.empty() ? loadValidated - parse : 0.0,
                bind, all, PeakCommitMiB(), outcome.c_str());
    std::fflush(stdout);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool quick = argc > 1 && std::wstring(argv[1]) == L"--quick";
    ::CoInitialize(nullptr);
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"bench_document_binding.xml";

    std::printf("Installation documents: time of each phase (one run each)\n");
    for (size_t count : {1000u, 10000u, 30000u, 60000u}) {
        Measure(("FileOperation x " + std::to_string(count)).c_str(), FileOperations(count), path);
    }
    if (!quick) {
        Measure("FileOperation x 99990 (limit)", FileOperations(99990), path);
        Measure("512 attributes x 1 element", ManyAttributes(1, 510), path);
        Measure("512 attributes x 900 elements", ManyAttributes(900, 510), path);
        Measure("512 attributes x 2500 elements", ManyAttributes(2500, 510), path);
    }
    std::printf("\nDocuments beyond the limits\n");
    Measure("17 MiB of FileOperation", FileOperations(17u * 1024 * 1024 / 110), path);
    Measure("100,002 elements", FileOperations(100000), path);
    Measure("nesting 101", Nested(100), path);
    Measure("nesting 100,000", Nested(100000), path);
    Measure("513 attributes", ManyAttributes(1, 511), path);
    Measure("exponential entities, 10 levels", Exponential(9), path);
    ::DeleteFileW(path.c_str());
    ::CoUninitialize();
    return 0;
}
