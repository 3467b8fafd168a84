#include "shell/Startup.h"
#include "shell/UntCommandLine.h"

int main(int argc, char** argv) {
    if (const std::optional<int> exitCode = HandleCommandLine(argc, argv))
        return *exitCode;
    return RunQuillet(argc, argv);
}
