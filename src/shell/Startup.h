#pragma once

// The program's main routine: single objects, single instance, database, main window, loop.
// installTestHooks, when given, runs once the application exists (the test build's scripted
// boxes); the program users run passes none.
int RunQuillet(int& argc, char** argv, void (*installTestHooks)() = nullptr);
