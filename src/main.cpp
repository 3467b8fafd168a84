#include "shell/Startup.h"

#ifdef QUILLET_TESTABLE
#include "shell/UntPublic.h"

// The build the end-to-end tests run: boxes and file dialogs answered from the environment.
int main(int argc, char** argv) {
    return RunQuillet(argc, argv, [] {
        InstallScriptedBoxesFromEnvironment();
        InstallScriptedFileDialogsFromEnvironment();
    });
}
#else
int main(int argc, char** argv) {
    return RunQuillet(argc, argv);
}
#endif
