#pragma once
// pkgtool's command line: "harvest <payload dir> [--feature <tag>] [--destination <text>]" and
// "lint <document> [--config <configuration document>]".
#include <string>
#include <vector>

struct PkgtoolCommand {
    enum class Kind { Invalid, Help, Harvest, Lint };
    Kind kind = Kind::Invalid;
    std::wstring target;          // payload folder or document
    std::wstring feature;         // harvest
    std::wstring destination;     // harvest
    std::wstring configuration;   // lint
    std::wstring error;           // why the command line is refused
};

// `arguments` without the program name.
PkgtoolCommand ParsePkgtoolCommand(const std::vector<std::wstring>& arguments);

extern const wchar_t kPkgtoolUsage[];

// Exit codes.
constexpr int kPkgtoolClean = 0;
constexpr int kPkgtoolFindings = 1;
constexpr int kPkgtoolBadCommandLine = 87;
