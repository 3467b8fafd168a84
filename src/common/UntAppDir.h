#pragma once

#include <QString>

// The program's folder for its own files, with a trailing '/'.
QString AppDir();
// Sets AppDir once at start-up (and in tests).
void SetAppDir(const QString& dir);
// The executable's folder, or the per-user data folder when that is not writable or the
// program is installed (its desktop entry lies in ../share/applications).
QString ResolveAppDir();
// Whether this copy was installed by its package (its desktop entry lies in
// ../share/applications), rather than run from a plain folder.
bool IsInstalledCopy();
