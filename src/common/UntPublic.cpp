#include "UntPublic.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <memory>

namespace {

MessageBoxHook boxHook;

// The system message box: application-modal for questions and errors; the information box
// leaves the other windows usable but still waits for its answer.
int RealBox(BoxKind kind, const QString& caption, const QString& text) {
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(text);
    switch (kind) {
    case BoxKind::Info:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case BoxKind::Question:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    case BoxKind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    box.setWindowFlag(Qt::WindowStaysOnTopHint, kind != BoxKind::Info);
    if (kind == BoxKind::Info) {
        box.setWindowModality(Qt::NonModal);
        QEventLoop loop;
        QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
        box.show();
        box.raise();
        box.activateWindow();
        loop.exec();
        return BoxOK;
    }
    QPointer<QWidget> focus = QApplication::focusWidget();
    const int answer = box.exec();
    if (focus)
        focus->setFocus();
    return answer == QMessageBox::Yes ? BoxYes : (kind == BoxKind::Question ? BoxNo : BoxOK);
}

int Box(BoxKind kind, const QString& caption, const QString& text) {
    return boxHook ? boxHook(kind, caption, text) : RealBox(kind, caption, text);
}

} // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    MessageBoxHook previous = std::move(boxHook);
    boxHook = std::move(hook);
    return previous;
}

void ShowInfo(const QString& text) {
    Box(BoxKind::Info, QStringLiteral("提示"), text);
}

bool AskYesNo(const QString& text) {
    return Box(BoxKind::Question, QStringLiteral("确认"), text) == BoxYes;
}

void ShowError(const QString& text) {
    Box(BoxKind::Error, QStringLiteral("错误"), text);
}

void OpenDocument(QWidget*, const QString& target) {
    const QUrl url =
        QFileInfo::exists(target) ? QUrl::fromLocalFile(target) : QUrl::fromUserInput(target);
    QDesktopServices::openUrl(url);
}

namespace {
QString scriptedLog;
}

void LogScriptedWindow(const QString& caption, const QString& text) {
    if (scriptedLog.isEmpty())
        return;
    QFile file(scriptedLog);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write((caption + QLatin1Char('|') + text + QLatin1Char('\n')).toUtf8());
}

void InstallScriptedBoxesFromEnvironment() {
    const QString log = qEnvironmentVariable("QUILLET_TEST_BOXLOG");
    if (log.isEmpty())
        return;
    scriptedLog = log;
    const bool yes = qEnvironmentVariable("QUILLET_TEST_ANSWER") == QLatin1String("yes");
    SetMessageBoxHook([yes](BoxKind kind, const QString& caption, const QString& text) {
        LogScriptedWindow(caption, text);
        if (kind != BoxKind::Question)
            return int(BoxOK);
        return int(yes ? BoxYes : BoxNo);
    });
}

namespace {
FileDialogHook fileHook;
}

FileDialogHook SetFileDialogHook(FileDialogHook hook) {
    FileDialogHook previous = std::move(fileHook);
    fileHook = std::move(hook);
    return previous;
}

void InstallScriptedFileDialogsFromEnvironment() {
    if (!qEnvironmentVariableIsSet("QUILLET_TEST_FILES"))
        return;
    auto answers = std::make_shared<QStringList>(
        qEnvironmentVariable("QUILLET_TEST_FILES").split(QLatin1Char('|')));
    SetFileDialogHook([answers](bool, const QString&) {
        return answers->isEmpty() ? QString() : answers->takeFirst();
    });
}

QString AskSaveFileName(QWidget* owner, const QString& filter) {
    if (fileHook)
        return fileHook(true, filter);
    return QFileDialog::getSaveFileName(owner, QString(), QString(), filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString AskOpenFileName(QWidget* owner, const QString& filter) {
    if (fileHook)
        return fileHook(false, filter);
    return QFileDialog::getOpenFileName(owner, QString(), QString(), filter);
}
