#pragma once

#include <QString>

// Notes are private: every file and folder this process creates is for its user alone,
// whatever the umask (the data file, its log, backups, the safety copy, the key cache).
// Called once, first thing.
void KeepNewFilesPrivate();

// What an export is meant for is sharing: the file, or the folder and all in it, gets the
// mode the user's own umask gives new files and folders.
void ShareLikeUserFiles(const QString& path);

// Takes group and other permissions away from an existing file or folder (not following a
// link). True when it had any and they were taken away.
bool MakePrivate(const QString& path);
