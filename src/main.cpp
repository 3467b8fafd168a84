#include "common/UntPrivateFiles.h"
#include "shell/Startup.h"
#include "shell/UntCommandLine.h"

#ifdef QUILLET_TESTABLE
#include "common/UntPublic.h"
#include "settings/Pass.h"
#include "shell/UntStartupProbe.h"
#endif

int main(int argc, char** argv) {
    KeepNewFilesPrivate();
    if (const std::optional<int> exitCode = HandleCommandLine(argc, argv))
        return *exitCode;
    if (const std::optional<TExchangeRequest> request = ExchangeRequestOf(ArgumentsOf(argc, argv)))
        return RunExchange(argc, argv, *request);
#ifdef QUILLET_TESTABLE
    // The build the end-to-end tests run: boxes and file dialogs answered from the environment,
    // and the start-up benchmark's timing.
    return RunQuillet(argc, argv, [] {
        InstallScriptedBoxesFromEnvironment();
        InstallScriptedFileDialogsFromEnvironment();
        InstallScriptedPasswordsFromEnvironment();
        InstallStartupProbeFromEnvironment();
    });
#else
    return RunQuillet(argc, argv);
#endif
}
