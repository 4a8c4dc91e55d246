// Entry point: command line, log, document, action, exit code.
#include <windows.h>
#include <objbase.h>
#include <memory>
#include <string>

#include "engine/Package.h"
#include "engine/installer.h"
#include "shell/AVException.h"
#include "shell/CommandLine.h"
#include "shell/Log.h"
#include "shell/PhaseTimes.h"
#include "shell/StartDecision.h"
#include "xml/Binding.h"

static const char kLogModule[] = ".\\Main";

namespace {
const char kRuleLine[] = "###**********************************************************************************";

DWORD RunMainSequence(const CCommandLineOptions& options) {
    LOG(LogLevel::Information, "%s", "");
    LOG(LogLevel::Information, "%s", "");
    LOG(LogLevel::Information, kRuleLine);
    LOG(LogLevel::Information, "Beginning Tarnex Installation/Uninstallation sequence");
    LOG(LogLevel::Information, kRuleLine);

    ::CoInitialize(nullptr);
    DWORD result = ERROR_SUCCESS;
    {
        auto package = std::make_unique<Package>();
        std::wstring error;
        const std::wstring documentPath = options.InstallDocumentPath();
        bool loaded = false;
        {
            PhaseScope phase(Phase::Document);
            loaded = Deserialize(documentPath, *package, error);
        }
        if (!loaded) {
            LOG(LogLevel::Error, "Failed to deserialize %S. Error message : %S", documentPath.c_str(), error.c_str());
            result = ERROR_XML_PARSE_ERROR;
        } else {
            LOG(LogLevel::Detail, "Tarnex Version: %S", package->tarnexVersion.c_str());
            const std::wstring configuration = options.ConfigurationDocumentPath();
            const std::wstring quarantine = options.QuarantineDirectory();
            try {
                result = PerformAction(*package, options.action, configuration.empty() ? nullptr : &configuration,
                                       options.InstallDirectory(), options.ContentPath(),
                                       quarantine.empty() ? nullptr : &quarantine, options.waitForService);
            } catch (const AVException& exception) {
                result = exception.Code();
            }
        }
        // COM goes first; the bound package holds no COM object and is destroyed after it.
        ::CoUninitialize();
    }
    return result;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    StartPhaseTimes();
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    auto options = std::make_unique<CCommandLineOptions>(argc, argv);
    const StartDecision decision = DecideStart(*options);
    const std::wstring& logPath = decision.logPath;
    DWORD result = decision.exitCode;
    if (decision.runMainSequence) {
        InitializeLog(logPath);
        result = RunMainSequence(*options);
    } else if (options->valid && options->action == Action::Help) {
        LOG(LogLevel::Detail, "Displyed help");
    }

    LOG(LogLevel::Information, kRuleLine);
    LOG(LogLevel::Information, "Completed Tarnex Installation/Uninstallation sequence with result 0x%x\n",
        static_cast<unsigned>(result));
    LOG(LogLevel::Information, kRuleLine);
    UninitializeLog(logPath);
    options.reset();
    WritePhaseTimes();
    return static_cast<int>(result);
}
