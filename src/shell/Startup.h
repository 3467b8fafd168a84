#pragma once

#include <QString>

// The program's main routine: single objects, single instance, database, main window, loop.
// installTestHooks, when given, runs once the application exists (the test build's scripted
// boxes); the program users run passes none.
int RunQuillet(int& argc, char** argv, void (*installTestHooks)() = nullptr);

struct TExchangeRequest;
// A command-line exchange, run without windows: the data file opened as the program opens
// it, the login password asked on the terminal. Its exit code; results on standard output,
// a refusal or an error as one line on standard error.
int RunExchange(int& argc, char** argv, const TExchangeRequest& request);
