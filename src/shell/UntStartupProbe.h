#pragma once

// For the start-up benchmark of the test build: when QUILLET_TEST_STARTUP holds the monotonic
// clock (nanoseconds) at which the process was started, prints "paint <s> cpu <s>" once the
// main window has first been painted and "note <s> cpu <s>" once the root note is in the memo:
// the seconds since that moment and the processor seconds used; then ends the program.
void InstallStartupProbeFromEnvironment();
