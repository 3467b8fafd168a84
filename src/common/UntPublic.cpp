#include "UntPublic.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

MessageBoxHook boxHook;

} // namespace

// The system message box: application-modal for questions and errors; the information box
// leaves the other windows usable but still waits for its answer.
int ShowRealBox(BoxKind kind, const QString& caption, const QString& text) {
    // While a modal dialog is open, a box that does not belong to it is blocked by it: it
    // could be neither clicked nor reached by the keyboard, and the dialog would never end.
    QWidget* dialog = QApplication::activeModalWidget();
    // Held by a guard: the dialog owns the box and may go first.
    QPointer<QMessageBox> box = new QMessageBox(dialog);
    const auto dispose = qScopeGuard([&box] { delete box.data(); });
    box->setWindowTitle(caption);
    box->setText(text);
    switch (kind) {
    case BoxKind::Info:
        box->setIcon(QMessageBox::Information);
        box->setStandardButtons(QMessageBox::Ok);
        break;
    case BoxKind::Question:
        box->setIcon(QMessageBox::Question);
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
        break;
    case BoxKind::Error:
        box->setIcon(QMessageBox::Critical);
        box->setStandardButtons(QMessageBox::Ok);
        break;
    }
    box->setWindowFlag(Qt::WindowStaysOnTopHint, kind != BoxKind::Info);
    if (kind == BoxKind::Info && !dialog) {
        box->setWindowModality(Qt::NonModal);
        QEventLoop loop;
        QObject::connect(box, &QMessageBox::finished, &loop, &QEventLoop::quit);
        QObject::connect(box, &QObject::destroyed, &loop, &QEventLoop::quit);
        box->show();
        box->raise();
        box->activateWindow();
        loop.exec();
        return BoxOK;
    }
    // Inside a dialog the information box holds only that dialog, so its OK cannot be
    // pressed again underneath; the windows the dialog leaves usable stay usable.
    if (kind == BoxKind::Info)
        box->setWindowModality(Qt::WindowModal);
    QPointer<QWidget> focus = QApplication::focusWidget();
    const int answer = box->exec();
    if (focus)
        focus->setFocus();
    return answer == QMessageBox::Yes ? BoxYes : (kind == BoxKind::Question ? BoxNo : BoxOK);
}

namespace {

int Box(BoxKind kind, const QString& caption, const QString& text) {
    return boxHook ? boxHook(kind, caption, text) : ShowRealBox(kind, caption, text);
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

namespace {

// The file list's kinds and modification dates in Chinese; the file system model writes them
// in the system's language.
class TChineseFileColumns : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files || role != Qt::DisplayRole)
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        if (index.column() == 2) {
            if (files->isDir(source))
                return QStringLiteral("文件夹");
            const QString suffix = files->fileInfo(source).suffix().toUpper();
            return suffix.isEmpty() ? QStringLiteral("文件") : suffix + QStringLiteral(" 文件");
        }
        if (index.column() == 3)
            return QLocale(QLocale::Chinese, QLocale::China)
                .toString(files->lastModified(source), QLocale::ShortFormat);
        return QIdentityProxyModel::data(index, role);
    }
};

// Qt's own dialog rather than the desktop's, so that it speaks Chinese like the rest of the
// program whatever the desktop's language.
void MakeOwnDialog(QFileDialog& dialog, QFileDialog::AcceptMode mode, const QString& name) {
    dialog.setObjectName(name);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setProxyModel(new TChineseFileColumns(&dialog));
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint);
}

// A folder to export into may be a new one, typed into the name field: the parent must exist.
class TFolderDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    QString Chosen;

protected:
    void accept() override {
        const QStringList chosen = selectedFiles();
        if (acceptMode() == AcceptSave && chosen.size() == 1 && !QFileInfo::exists(chosen[0]) &&
            QFileInfo(QFileInfo(chosen[0]).absolutePath()).isDir()) {
            Chosen = chosen[0];
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

QString AskFileName(QWidget* owner, QFileDialog::AcceptMode mode, const QString& filter,
                    const QString& title, const QString& name) {
    QFileDialog dialog(owner, title, QString(), filter);
    if (mode == QFileDialog::AcceptOpen)
        dialog.setNameFilters({filter, QStringLiteral("所有文件 (*)")});
    // "日历文件 (*.ics)": a name typed as "我的提醒" is saved as "我的提醒.ics", which the
    // import's list then shows.
    static const QRegularExpression suffix(QStringLiteral("\\(\\*\\.(\\w+)"));
    if (const QRegularExpressionMatch m = suffix.match(filter); m.hasMatch())
        dialog.setDefaultSuffix(m.captured(1));
    MakeOwnDialog(dialog, mode,
                  mode == QFileDialog::AcceptSave ? QStringLiteral("dlgSave1")
                                                  : QStringLiteral("dlgOpen1"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    if (!name.isEmpty())
        dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace

QString AskSaveFileName(QWidget* owner, const QString& filter, const QString& title,
                        const QString& name) {
    if (fileHook)
        return fileHook(true, filter);
    return AskFileName(owner, QFileDialog::AcceptSave, filter, title, name);
}

QString AskOpenFileName(QWidget* owner, const QString& filter, const QString& title) {
    if (fileHook)
        return fileHook(false, filter);
    return AskFileName(owner, QFileDialog::AcceptOpen, filter, title, QString());
}

QString FileErrorText(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入这里的权限");
    case EROFS:
        return QStringLiteral("这个位置是只读的");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘已满");
    case ENOENT:
        return QStringLiteral("所在的文件夹不存在");
    case EEXIST:
        return QStringLiteral("同名的文件已存在");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString AskFolderName(QWidget* owner, bool save, const QString& title) {
    if (fileHook)
        return fileHook(save, FolderFilter);
    TFolderDialog dialog(owner, title);
    MakeOwnDialog(dialog, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen,
                  save ? QStringLiteral("dlgFolderSave") : QStringLiteral("dlgFolderOpen"));
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setLabelText(QFileDialog::Accept,
                        save ? QStringLiteral("导出(&S)") : QStringLiteral("选择(&O)"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("文件夹："));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    if (!dialog.Chosen.isEmpty())
        return dialog.Chosen;
    return dialog.selectedFiles().isEmpty() ? QString() : dialog.selectedFiles().constFirst();
}
