#pragma once

// The program's main routine: single objects, single instance, database, main window, loop.
int RunQuillet(int& argc, char** argv);
