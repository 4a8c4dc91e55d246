#include "pkgtool/PkgtoolCommandLine.h"

const wchar_t kPkgtoolUsage[] =
    L"pkgtool: tools for the authors of installer.exe packages.\n"
    L"\n"
    L"  pkgtool harvest <payload dir> [--feature <tag>] [--destination <text>]\n"
    L"      Writes an installation document for every file and folder of the payload to\n"
    L"      standard output (UTF-8): one FileOperation per file with its SHA-256, one\n"
    L"      DirectoryOperation per sub-folder. --feature names the Feature (default Main);\n"
    L"      --destination is the folder the payload goes to (default $INSTALL_PATH).\n"
    L"  pkgtool lint <document> [--config <configuration document>]\n"
    L"      Checks the document against the schema installer.exe carries and against the\n"
    L"      payload in the document's folder (where installer.exe runs from), and the\n"
    L"      exclusion texts of the configuration document. One line per finding.\n"
    L"  pkgtool -h\n"
    L"\n"
    L"Exit codes: 0 clean, 1 findings (or payload files that could not be read), 87 bad command line.\n";

namespace {

PkgtoolCommand Refuse(const std::wstring& error) {
    PkgtoolCommand command;
    command.error = error;
    return command;
}

} // namespace

PkgtoolCommand ParsePkgtoolCommand(const std::vector<std::wstring>& arguments) {
    if (arguments.empty()) return Refuse(L"no command given");
    const std::wstring& verb = arguments[0];
    if (arguments.size() == 1 && (verb == L"-h" || verb == L"--help" || verb == L"/?" || verb == L"help")) {
        PkgtoolCommand command;
        command.kind = PkgtoolCommand::Kind::Help;
        return command;
    }
    PkgtoolCommand command;
    if (verb == L"harvest") command.kind = PkgtoolCommand::Kind::Harvest;
    else if (verb == L"lint") command.kind = PkgtoolCommand::Kind::Lint;
    else return Refuse(L"unknown command \"" + verb + L"\"");

    const bool harvest = command.kind == PkgtoolCommand::Kind::Harvest;
    bool haveFeature = false;
    bool haveDestination = false;
    bool haveConfiguration = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const bool option = argument.size() > 1 && argument[0] == L'-';
        if (!option) {
            if (!command.target.empty()) return Refuse(L"more than one " + std::wstring(harvest ? L"payload folder" : L"document"));
            if (argument.empty()) return Refuse(L"an empty path");
            command.target = argument;
            continue;
        }
        std::wstring* field = nullptr;
        bool* seen = nullptr;
        if (harvest && argument == L"--feature") { field = &command.feature; seen = &haveFeature; }
        else if (harvest && argument == L"--destination") { field = &command.destination; seen = &haveDestination; }
        else if (!harvest && argument == L"--config") { field = &command.configuration; seen = &haveConfiguration; }
        else return Refuse(L"unknown option \"" + argument + L"\" for " + verb);
        if (*seen) return Refuse(argument + L" given twice");
        if (i + 1 >= arguments.size() || arguments[i + 1].empty()) return Refuse(argument + L" needs a value");
        *field = arguments[++i];
        *seen = true;
    }
    if (command.target.empty()) return Refuse(harvest ? L"no payload folder given" : L"no document given");
    if (harvest && !haveFeature) command.feature = L"Main";
    return command;
}
