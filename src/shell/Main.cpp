#include "Main.h"

#include "ShowAlam.h"
#include "UntApplication.h"
#include "UntPublic.h"
#include "dialogs/BaseDlg.h"
#include "notepad/UntTree.h"
#include "reminders/UntAlam.h"
#include "shell/UntDueCheck.h"
#include "shell/UntTypingHint.h"
#include "storage/UException.h"
#include "storage/UntCompactDatabase.h"
#include "storage/UntDbAccess.h"
#include "ui_Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QSaveFile>
#include <QScreen>
#include <QSessionManager>
#include <QStandardPaths>
#include <QTextStream>
#include <exception>

namespace {

const QString NotepadHint = QStringLiteral("点右键可以新建、修改和删除分组");
const QString TrayTip = QStringLiteral("MorvaneQuillet软件");
const QString BackupFilter = QStringLiteral("数据文件 (*.bat)");

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/quillet-%1.png").arg(size), QSize(size, size));
    return icon;
}

// Desktop entries quote an Exec path that holds blanks or reserved characters, and write
// '%' (a field code there) as "%%".
QString ExecValue(const QString& rawPath) {
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    QString path = rawPath;
    path.replace(QLatin1Char('%'), QStringLiteral("%%"));
    for (QChar c : path)
        if (reserved.contains(c)) {
            QString quoted = path;
            quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
                .replace(QLatin1Char('"'), QStringLiteral("\\\""))
                .replace(QLatin1Char('`'), QStringLiteral("\\`"))
                .replace(QLatin1Char('$'), QStringLiteral("\\$"));
            return QLatin1Char('"') + quoted + QLatin1Char('"');
        }
    return path;
}

QString ExecPath(QString value) {
    value.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
        value.endsWith(QLatin1Char('"'))) {
        value = value.mid(1, value.size() - 2);
        QString plain;
        for (int i = 0; i < value.size(); ++i) {
            if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size())
                ++i;
            plain += value.at(i);
        }
        return plain;
    }
    return value;
}

// The icon a desktop entry of this copy names. An installed copy has "quillet" in the icon
// theme; a copy run from a plain folder has none, so its icons are put into the user's icon
// folder and the entry names the largest by its full path.
QString EntryIcon() {
    if (IsInstalledCopy())
        return QStringLiteral("quillet");
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/icons/hicolor/");
    QString largest;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString path = base + QStringLiteral("%1x%1/apps/quillet.png").arg(size);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile::remove(path);
        if (!QFile::copy(QStringLiteral(":/icons/quillet-%1.png").arg(size), path))
            continue;
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
        largest = path;
    }
    return largest.isEmpty() ? QStringLiteral("quillet") : largest;
}

} // namespace

QString ReadRunAtStartup(const QString& name) {
    const QString entry = RunAtStartupEntry(name);
    QFile file(entry);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1String("Exec=")))
            return ExecPath(line.mid(5));
    }
    return QString();
}

// ---------------------------------------------------------------- global routines

namespace {
int trayOverride = -1;
}

bool TrayAvailable() {
    return trayOverride >= 0 ? trayOverride == 1 : QSystemTrayIcon::isSystemTrayAvailable();
}

void OverrideTrayAvailable(int available) {
    trayOverride = available;
}

void HideTaskbarButton(QWidget* window) {
    // Without a tray nothing could bring a hidden window back.
    if (TrayAvailable())
        window->hide();
}

QString RunAtStartupEntry(const QString& name) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

void SetRunAtStartup(const QString& name, const QString& data, bool enable) {
    const QString entry = RunAtStartupEntry(name);
    if (!enable) {
        QFile::remove(entry);
        return;
    }
    QDir().mkpath(QFileInfo(entry).absolutePath());
    QSaveFile file(entry);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    QTextStream out(&file);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << name << "\n"
        << "Exec=" << ExecValue(data) << "\n"
        << "Icon=" << EntryIcon() << "\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    file.commit();
}

// ---------------------------------------------------------------- creation and showing

TFormMain::TFormMain(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::TFormMain>()) {
    ui_->setupUi(this);
    setWindowIcon(ProgramIcon());
    resize(800, 520);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - frameGeometry().center() + pos());
    SetDialogOwner(this);
    FormCreate();
}

TFormMain::~TFormMain() {
    RemoveTrayIcon(); // FormDestroy
}

void TFormMain::FormCreate() {
    // Menus
    PopupMenu_ = MakeMenu(this, "PopupMenu",
                          {{"N10", QStringLiteral("新建提醒"), [this] { NAddAlamClick(); }},
                           {"NOpenWWW2", QStringLiteral("软件主页"), [this] { NOpenWWW2Click(); }},
                           {"N9", QString(), {}},
                           {"NShowForm", QStringLiteral("显示窗口"), [this] { NShowFormClick(); }},
                           {"NClose", QStringLiteral("关闭"), [this] { NCloseClick(); }}});
    pmSystem_ = MakeMenu(this, "pmSystem",
                         {{"NOpenWWW1", QStringLiteral("软件主页"), [this] { NOpenWWW2Click(); }},
                          {"N12", QString(), {}},
                          {"N15", QStringLiteral("软件设置"), [this] { N15Click(); }},
                          {"N7", QString(), {}},
                          {"Ndfdf1", QStringLiteral("数据备份"), [this] { Ndfdf1Click(); }},
                          {"N11", QStringLiteral("数据恢复"), [this] { N11Click(); }}});

    connect(ui_->btnSystem, &QPushButton::clicked, this, [this] { btnSystemClick(); });
    connect(ui_->chk1, &QCheckBox::clicked, this, [this] { chk1Click(); });

    hint_ = std::make_unique<TTypingHint>(ui_->statHint, NotepadHint);
    connect(tmrHint(), &QTimer::timeout, this, [this] { tmrHintTimer(); });
    tmrHint()->start();

    // The desktop session asks before it ends, like every other close.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        if (manager.allowsInteraction() && !FormCloseQuery())
            manager.cancel();
    });

    AddTrayIcon();
    SetupAlerts();
    SetupRemindersTab();
    SetupNotepadTab();
}

void TFormMain::FormShow() {
    LoginGate();
    LoadNotepad();
    ShowReminders();
    ui_->chk1->setChecked(IsRunAtStartup());
    ShowRootNote();
}

void TFormMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

// ---------------------------------------------------------------- tray and window states

bool TFormMain::AddTrayIcon() {
    if (trayIcon_)
        return true;
    trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
    trayIcon_->setToolTip(TrayTip);
    trayIcon_->setContextMenu(PopupMenu_);
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { WMTrayIcon(reason); });
    trayIcon_->show();
    return TrayAvailable();
}

bool TFormMain::RemoveTrayIcon() {
    if (!trayIcon_)
        return false;
    trayIcon_->hide();
    return true;
}

void TFormMain::WMTrayIcon(QSystemTrayIcon::ActivationReason reason) {
    // The context menu opens by itself on a right click; a single left click does nothing.
    if (reason == QSystemTrayIcon::DoubleClick)
        NShowFormClick();
}

void TFormMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                HideTaskbarButton(this);
        });
}

void TFormMain::NShowFormClick() {
    showNormal();
    raise();
    activateWindow();
}

void TFormMain::NCloseClick() {
    close();
}

void TFormMain::btnSystemClick() {
    pmSystem_->popup(QCursor::pos());
}

void TFormMain::NOpenWWW2Click() {
    OpenDocument(this, HomePage);
}

// ---------------------------------------------------------------- run at login

bool TFormMain::IsRunAtStartup() const {
    const QString exe = QCoreApplication::applicationFilePath();
    return ReadRunAtStartup(AppTitle) == exe;
}

void TFormMain::chk1Click() {
    SetRunAtStartup(AppTitle, QCoreApplication::applicationFilePath(), ui_->chk1->isChecked());
    // Show what was stored, not what was asked for.
    ui_->chk1->setChecked(IsRunAtStartup());
}

// ---------------------------------------------------------------- notepad hint

QLabel* TFormMain::statHintPanel() const {
    return hint_->Panel();
}

QTimer* TFormMain::tmrHint() {
    return hint_->Timer();
}

void TFormMain::tmrHintTimer() {
    hint_->Tick();
}

// ---------------------------------------------------------------- backup and restore

void TFormMain::Ndfdf1Click() {
    QString path = AskSaveFileName(this, BackupFilter);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".bat"), Qt::CaseInsensitive))
        path += QStringLiteral(".bat");
    BackupData(path);
}

void TFormMain::N11Click() {
    if (!AskYesNo(QStringLiteral("你确定要恢复数据吗？你做的操作可能会覆盖最新的数据！")))
        return;
    const QString path = AskOpenFileName(this, BackupFilter);
    if (path.isEmpty())
        return;
    // The chosen file is read and checked before the safety copy is written, so choosing
    // the safety copy undoes the last restore.
    std::exception_ptr failed;
    try {
        RestoreData(path, AppDir() + SafetyCopyName);
    } catch (...) {
        failed = std::current_exception();
    }
    if (failed) {
        // Whatever the file now holds, the views show it: nothing old is written back.
        ReportEscaped(this, [this] { ReloadAfterRestore(); });
        std::rethrow_exception(failed);
    }
    ReloadAfterRestore();
    WriteErrorLog(QStringLiteral("数据恢复！"));
}

void TFormMain::ReloadAfterRestore() {
    // An open alert names a reminder of the data that was replaced.
    ForgetOpenAlerts();
    AlamData->LoadList(ui_->lv1, FilterIndex());
    ReloadNotepad();
}

// ---------------------------------------------------------------- exit

bool TFormMain::FormCloseQuery() {
    return AskYesNo(QStringLiteral("确定要退出程序吗？"));
}

void TFormMain::FormClose() {
    FreeNotepad();
    if (DbAccess)
        DbAccess->Disconnect();
    CompactDatabase(TDbAccess::DatabasePath(), DatabaseKey);
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    closing_ = true;
    event->accept();
    tmrHint()->stop();
    tmr1_.stop();
    // The program closes its own alerts, or they would refuse to close and keep it running.
    DismissAllAlerts();
    FormClose();
    RemoveTrayIcon();
    QCoreApplication::quit();
}
