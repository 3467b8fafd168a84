#pragma once

#include <QString>

struct TProgress;

// Notes to and from a folder of text files: each group a folder, its note a UTF-8 text file
// inside it, the root's note at the top, and an index file with the exact names. The layout
// is described in the README.

// What an export or import did: Groups folders/groups, Notes text files/notes, and one line
// for a box or the command line.
struct TNoteFolderResult {
    int Groups = 0;
    int Notes = 0;
    QString Text;
    int FirstGroup = 0; // of an import: the first group it made, 0 when none
};

// The index file at the top of an exported folder.
inline const QString NoteIndexFileName = QStringLiteral("quillet-notes.json");

// The line break of this platform's text files.
QString NativeLineBreak();

// Writes the whole group tree into dir, which must be empty or not exist yet; it appears
// whole or not at all. Line breaks in the files are lineBreak. Throws EAppError.
// progress, when given, is advanced and its cancel obeyed (EAbort), as in both below.
TNoteFolderResult ExportNotes(const QString& dir, const QString& lineBreak = NativeLineBreak(),
                              TProgress* progress = nullptr);

// Adds the folder's groups and notes under the group parentGroup (0 = the root), in one
// transaction; nothing there is overwritten. The folder is an exported one (its index gives
// the exact names and texts) or any folder of .txt/.md files. Links, special files (pipes,
// sockets, devices) and files over 4 MB are left out, never opened, and named in Text.
// Throws EAppError, changing nothing, when the folder cannot be read.
TNoteFolderResult ImportNotes(const QString& dir, int parentGroup, TProgress* progress = nullptr);

// name as a file name every common file system accepts (not yet made unique).
QString SafeFileName(const QString& name);
