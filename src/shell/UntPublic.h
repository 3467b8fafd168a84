#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

class QTreeWidget;
class QWidget;

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

enum class BoxKind { Info, Question, Error };
enum BoxResult { BoxOK = 1, BoxYes = 6, BoxNo = 7 };

// Every message box of the program passes through this hook, so tests can read and answer
// them. It receives the kind, the caption and the text, and returns a BoxResult.
using MessageBoxHook = std::function<int(BoxKind, const QString& caption, const QString& text)>;
// Installs a hook; an empty one restores the real boxes. Returns the previous hook.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// The box itself, as the program shows it when no hook is installed.
int ShowRealBox(BoxKind kind, const QString& caption, const QString& text);

void ShowInfo(const QString& text);
bool AskYesNo(const QString& text);
void ShowError(const QString& text);

// Opens a file or web address with the desktop's handler; failures are silent.
void OpenDocument(QWidget* owner, const QString& target);

// Replaces the rows of a report-style list with the rows of a SELECT: column 0 is the row's
// caption, the other columns its sub-items; NULL is the empty text.
void FillListView(const QString& sql, QTreeWidget* view);

// For end-to-end runs of the real program: when QUILLET_TEST_BOXLOG names a file, every box
// is appended there ("caption|text" lines) instead of being shown, and questions are answered
// by QUILLET_TEST_ANSWER ("yes"; anything else answers No).
void InstallScriptedBoxesFromEnvironment();
// In such runs other windows that matter (alerts) are logged there too.
void LogScriptedWindow(const QString& caption, const QString& text);

// File dialogs, replaceable by tests like the boxes. Each returns the chosen path, or an empty
// text when the user cancelled. The save dialog never asks before overwriting.
using FileDialogHook = std::function<QString(bool save, const QString& filter)>;
FileDialogHook SetFileDialogHook(FileDialogHook hook);
QString AskSaveFileName(QWidget* owner, const QString& filter);
QString AskOpenFileName(QWidget* owner, const QString& filter);
// For end-to-end runs: QUILLET_TEST_FILES holds the answers of the file dialogs, in order,
// separated by '|'; once they are used up, every dialog is cancelled.
void InstallScriptedFileDialogsFromEnvironment();

// Dates and times as the user's system writes them: its short date, and its long time
// (without a time-zone name, which a clock line or a stamp in a note does not want).
QString ShortDateText(const QDate& day);
QString LongTimeText(const QTime& time);

class QMenu;
class QAbstractScrollArea;

// One item of a popup menu: its object name, caption and command; no caption makes a
// separator.
struct TMenuItem {
    const char* name;
    QString caption;
    std::function<void()> command;
};
// A popup menu of owner, named name, holding items in order.
QMenu* MakeMenu(QWidget* owner, const char* name, std::initializer_list<TMenuItem> items);
// Opens menu where view is right-clicked, selecting the row or node clicked first, and from
// the keyboard (Shift+F10, the menu key) beside the current row.
void PopUpOnRightClick(QAbstractScrollArea* view, QMenu* menu);
