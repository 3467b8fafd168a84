#include "UntPublic.h"

#include "storage/UntDbAccess.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QUrl>
#include <memory>

namespace {

QString appDir;
MessageBoxHook boxHook;

QString WithSlash(QString dir) {
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

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

QString AppDir() {
    return appDir;
}

void SetAppDir(const QString& dir) {
    appDir = WithSlash(dir);
}

QString ResolveAppDir() {
    const QString exeDir = QCoreApplication::applicationDirPath();
    // An installed copy keeps its data per user even where it could write beside itself
    // (root and /usr/bin): nothing may appear in a folder the package owns.
    if (!IsInstalledCopy() && QFileInfo(exeDir).isWritable())
        return WithSlash(exeDir);
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(data);
    return WithSlash(data);
}

bool IsInstalledCopy() {
    return QFileInfo::exists(QCoreApplication::applicationDirPath() +
                             QStringLiteral("/../share/applications/quillet.desktop"));
}

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

void FillListView(const QString& sql, QTreeWidget* view) {
    view->clear();
    DbAccess->OpenQuery(sql);
    TCursor& cursor = DbAccess->MainCursor;
    view->setUpdatesEnabled(false);
    QList<QTreeWidgetItem*> items;
    items.reserve(cursor.RecordCount());
    const int columns = cursor.FieldCount();
    for (cursor.First(); !cursor.Eof(); cursor.Next()) {
        QStringList texts;
        texts.reserve(columns);
        for (int c = 0; c < columns; ++c)
            texts << cursor.AsString(c);
        items << new QTreeWidgetItem(texts);
    }
    view->addTopLevelItems(items);
    view->setUpdatesEnabled(true);
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
QString AskFileName(QWidget* owner, QFileDialog::AcceptMode mode, const QString& filter) {
    QFileDialog dialog(owner, QString(), QString(), filter);
    dialog.setObjectName(mode == QFileDialog::AcceptSave ? QStringLiteral("dlgSave1")
                                                         : QStringLiteral("dlgOpen1"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    dialog.setProxyModel(new TChineseFileColumns(&dialog));
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace

QString AskSaveFileName(QWidget* owner, const QString& filter) {
    if (fileHook)
        return fileHook(true, filter);
    return AskFileName(owner, QFileDialog::AcceptSave, filter);
}

QString AskOpenFileName(QWidget* owner, const QString& filter) {
    if (fileHook)
        return fileHook(false, filter);
    return AskFileName(owner, QFileDialog::AcceptOpen, filter);
}

QString ShortDateText(const QDate& day) {
    return QLocale::system().toString(day, QLocale::ShortFormat);
}

QString LongTimeText(const QTime& time) {
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.replace(zone, QStringLiteral(" "));
    return QLocale::system().toString(time, format.trimmed());
}

QMenu* MakeMenu(QWidget* owner, const char* name, std::initializer_list<TMenuItem> items) {
    auto* menu = new QMenu(owner);
    menu->setObjectName(QLatin1String(name));
    for (const TMenuItem& item : items) {
        QAction* action = item.caption.isEmpty()
                              ? menu->addSeparator()
                              : menu->addAction(item.caption, owner, item.command);
        action->setObjectName(QLatin1String(item.name));
    }
    return menu;
}

namespace {

// Opens a view's menu from the keyboard (Shift+F10, the menu key) beside its current row.
// Context-menu events the platform makes of the menu key are dropped, so the menu opens once.
class TMenuKeys : public QObject {
public:
    TMenuKeys(QAbstractScrollArea* view, QMenu* menu) : QObject(menu), view_(view), menu_(menu) {
        view->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ContextMenu &&
            static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard)
            return true;
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool menuKey =
                key->key() == Qt::Key_Menu ||
                (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
            if (menuKey) {
                QRect row;
                if (auto* items = qobject_cast<QAbstractItemView*>(view_))
                    row = items->visualRect(items->currentIndex());
                const QPoint at =
                    row.isValid() ? row.bottomLeft() : view_->viewport()->rect().center();
                menu_->popup(view_->viewport()->mapToGlobal(at));
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QAbstractScrollArea* view_;
    QMenu* menu_;
};

} // namespace

void PopUpOnRightClick(QAbstractScrollArea* view, QMenu* menu) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(view, &QWidget::customContextMenuRequested, menu,
                     [view, menu](const QPoint& at) {
                         // The command acts on what the user clicked: that row or node is selected
                         // first.
                         if (auto* items = qobject_cast<QAbstractItemView*>(view)) {
                             const QModelIndex index = items->indexAt(at);
                             if (index.isValid())
                                 items->setCurrentIndex(index);
                         }
                         menu->popup(view->viewport()->mapToGlobal(at));
                     });
    new TMenuKeys(view, menu);
}
