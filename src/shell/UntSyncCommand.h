#pragma once

#include <QString>

// quillet --sync-setup URL USER (the password on standard input) and quillet --sync (one
// pass). Both need the data file to themselves and the login password when one is set;
// the result is the exit status, anything but success explained on standard error.
int RunSyncCommand(int& argc, char** argv, bool setup, const QString& url, const QString& user);
