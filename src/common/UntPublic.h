#pragma once

#include <QString>
#include <functional>

class QWidget;

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
// title says what is saved or opened; the save dialog suggests name and gives a name typed
// without a suffix the filter's; the open dialog also offers every file.
QString AskSaveFileName(QWidget* owner, const QString& filter, const QString& title = QString(),
                        const QString& name = QString());
QString AskOpenFileName(QWidget* owner, const QString& filter, const QString& title = QString());
// A folder, through the same hook (its filter is FolderFilter): one to write into when save,
// else one to read.
inline const QString FolderFilter = QStringLiteral("folder");
QString AskFolderName(QWidget* owner, bool save, const QString& title = QString());
// Why a file could not be written or made, in Chinese, from the system's error number.
QString FileErrorText(int error);
// For end-to-end runs: QUILLET_TEST_FILES holds the answers of the file dialogs, in order,
// separated by '|'; once they are used up, every dialog is cancelled.
void InstallScriptedFileDialogsFromEnvironment();
