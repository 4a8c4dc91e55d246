#include "shell/StartDecision.h"

#include "operations/FileHelpers.h"
#include "shell/Log.h"

std::wstring UsableLogPath(const CCommandLineOptions& options) {
    const std::wstring logPath = options.LogFilePath();
    const std::wstring file = LogFilePathOf(logPath);
    if (IsSameFile(file, options.InstallDocumentPath()) || IsSameFile(file, options.ConfigurationDocumentPath())) {
        return std::wstring();
    }
    return logPath;
}

StartDecision DecideStart(const CCommandLineOptions& options) {
    StartDecision decision;
    decision.logPath = UsableLogPath(options);
    if (options.valid && options.action == Action::Help) {
        decision.exitCode = ERROR_SUCCESS;
    } else if (!options.valid || options.action == Action::None) {
        decision.exitCode = ERROR_INVALID_PARAMETER;
    } else {
        decision.runMainSequence = true;
    }
    return decision;
}
