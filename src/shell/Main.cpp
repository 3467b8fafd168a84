#include "Main.h"

#include "RecycleBin.h"
#include "ShowAlam.h"
#include "UntApplication.h"
#include "UntClockWatch.h"
#include "UntDueCheck.h"
#include "UntExchangeCommands.h"
#include "UntRunAtStartup.h"
#include "UntSearchHookup.h"
#include "UntSyncHookup.h"
#include "UntTodayLine.h"
#include "UntTray.h"
#include "common/UntClock.h"
#include "common/UntHandler.h"
#include "common/UntMenu.h"
#include "common/UntPublic.h"
#include "dialogs/BaseDlg.h"
#include "notepad/NotepadPage.h"
#include "reminders/RemindersPage.h"
#include "settings/Config.h"
#include "settings/Pass.h"
#include "storage/UException.h"
#include "storage/UntCompactDatabase.h"
#include "storage/UntDbAccess.h"
#include "ui_Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSessionManager>
#include <QThread>
#include <QTimer>

namespace {
const QString TrayTip = QStringLiteral("MorvaneQuillet软件");
} // namespace

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
    TRemindersPage* reminders = ui_->ts3;
    PopupMenu_ =
        MakeMenu(this, "PopupMenu",
                 {{"N10", QStringLiteral("新建提醒"), [reminders] { reminders->NAddAlamClick(); }},
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
                          {"N11", QStringLiteral("数据恢复"), [this] { N11Click(); }},
                          {"NRecycleBin", QStringLiteral("回收站…"),
                           [this] { ShowRecycleBin(this, ui_->ts3, ui_->ts2); }}});
    AddExchangeItems(pmSystem_, this, ui_->ts3, ui_->ts2);
    connect(ui_->btnSystem, &QPushButton::clicked, this,
            Handler(this, [this] { btnSystemClick(); }));
    connect(ui_->chk1, &QCheckBox::clicked, this, Handler(this, [this] { chk1Click(); }));

    // The desktop session asks before it ends, like every other close.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
        RunHandler(this, [&] {
            if (manager.allowsInteraction() && !FormCloseQuery())
                manager.cancel();
        });
    });

    AddTrayIcon();
    SetAlertTarget(this);
    dueCheck_ = std::make_unique<TDueCheck>(Clock::Now());
    connect(ui_->ts3, &TRemindersPage::ReminderMoved, this,
            [this](const QString& id) { dueCheck_->Forget(id); });
    tmr1_ = new QTimer(this);
    tmr1_->setObjectName(QStringLiteral("tmr1"));
    tmr1_->setSingleShot(true);
    tmr1_->setTimerType(Qt::PreciseTimer);
    connect(tmr1_, &QTimer::timeout, this, Handler(this, [this] {
                ArmTmr1(); // it keeps ticking in a box the check opens
                tmr1Timer();
                // Alerts it opened want a look every second; unless the program is ending.
                if (tmr1_->isActive() && !OpenAlerts().isEmpty())
                    ArmTmr1();
            }));
    // A jump of the clock is looked at at once, as a tick would have a second later.
    connect(TClockWatch::Instance(), &TClockWatch::Jumped, this, [this] {
        if (tmr1_->isActive())
            tmr1_->start(0);
    });
    ArmTmr1();
    auto* today = new TTodayLine(ui_->LabToday, this); // the bottom bar's date and its status
    connect(ui_->ts3, &TRemindersPage::HolidaysChanged, today, [today] { today->Reload(); });
    InstallSearchAll(ui_->pgc1, ui_->ts2, ui_->ts3);
}

void TFormMain::FormShow() {
    bool confirmed = false;
    try {
        confirmed = LoginConfirmed();
    } catch (...) {
        // Settings that cannot be read cannot say that no password is needed.
        RefuseLogin();
        throw;
    }
    if (!confirmed)
        RefuseLogin();
    ui_->ts2->LoadNotepad(true);
    ui_->ts3->ShowReminders();
    ui_->chk1->setChecked(IsRunAtStartup());
    SyncHookup(this)->Start();
}

void TFormMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        RunHandler(this, [this] { FormShow(); });
    }
}

void TFormMain::RefuseLogin() {
    if (loginRefused_)
        return;
    loginRefused_ = true;
    // Ending this way is not closing the window: no exit question and no compaction.
    closing_ = true;
    // quit() does nothing until the main loop runs, and this runs before it starts; a box
    // shown meanwhile runs a loop of its own that would swallow a single queued request.
    // So keep asking until the main loop has ended.
    tmrQuit_ = new QTimer(this);
    tmrQuit_->setInterval(0);
    connect(tmrQuit_, &QTimer::timeout, this, [this] {
        tmrQuit_->setInterval(100);
        // Open alerts refuse to close unless the program closes them itself.
        DismissAllAlerts();
        QCoreApplication::quit();
    });
    tmrQuit_->start();
}

bool TFormMain::AddTrayIcon() {
    if (trayIcon_)
        return true;
    trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
    trayIcon_->setToolTip(TrayTip);
    trayIcon_->setContextMenu(PopupMenu_);
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                RunHandler(this, [&] { WMTrayIcon(reason); });
            });
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
    // The context menu opens by itself on a right click; a single left click does nothing in
    // an XEmbed tray. A StatusNotifier host's click (its one activation) shows the window.
    if (reason == QSystemTrayIcon::DoubleClick ||
        (reason == QSystemTrayIcon::Trigger && TrayIsStatusNotifier()))
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

void TFormMain::N15Click() {
    ShowConfigDialog();
}

bool TFormMain::IsRunAtStartup() const {
    return RunsAtStartup(AppTitle, QCoreApplication::applicationFilePath());
}

void TFormMain::chk1Click() {
    SetRunAtStartup(AppTitle, QCoreApplication::applicationFilePath(), ui_->chk1->isChecked());
    // Show what was stored, not what was asked for.
    ui_->chk1->setChecked(IsRunAtStartup());
}

void TFormMain::Ndfdf1Click() {
    BackupCommand(this);
}

void TFormMain::N11Click() {
    // After a restore, even a failed one, the views show what the file holds: nothing old is
    // written back, and an open alert names a reminder of the replaced data.
    const TSyncPause pause(this);
    RestoreCommand(
        this,
        [this] {
            ForgetOpenAlerts();
            ui_->ts3->rgAlamClick();
            ui_->ts2->ReloadNotepad();
        },
        AskBackupPassword);
}

void TFormMain::tmr1Timer() {
    dueCheck_->Tick(this);
}

void TFormMain::ArmTmr1() {
    // Nothing falls due before the next second 0. Open alerts are the exception: a modal
    // dialog opened over them must let them through within a second; and where jumps of the
    // clock go unseen, only a look every second notices them.
    if (OpenAlerts().isEmpty() && TClockWatch::Instance()->SeesSystemJumps())
        tmr1_->start(MsToNextMinute(Clock::Now()));
    else
        tmr1_->start(1000);
}

bool TFormMain::event(QEvent* event) {
    switch (static_cast<int>(event->type())) {
    case WM_ALAMDELETE:
        RunHandler(this, [&] { ui_->ts3->WMAlamDelete(AlamOf(event).ID); });
        return true;
    case WM_ALAMSEEN:
        RunHandler(this, [&] { ui_->ts3->WMAlamSeen(AlamOf(event).ID); });
        return true;
    case WM_ALAMSNOOZE:
        RunHandler(this, [&] { ui_->ts3->WMAlamSnooze(AlamOf(event).ID, AlamOf(event).Delay); });
        return true;
    default:
        return QWidget::event(event);
    }
}

bool TFormMain::FormCloseQuery() {
    return AskYesNo(QStringLiteral("确定要退出程序吗？"));
}

void TFormMain::FormClose() {
    SyncHookup(this)->Stop();
    ui_->ts2->FreeNotepad();
    const QString key = DbAccess ? DbAccess->Key() : DatabaseKey;
    if (DbAccess)
        DbAccess->Disconnect();
    CompactDatabase(TDbAccess::DatabasePath(), key);
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    bool confirmed = false;
    RunHandler(this, [&] { confirmed = FormCloseQuery(); });
    if (!confirmed) {
        event->ignore();
        return;
    }
    event->accept();
    EndRun();
}

void TFormMain::EndRun() {
    closing_ = true;
    tmr1_->stop();
    // The program closes its own alerts, or they would refuse to close and keep it running.
    DismissAllAlerts();
    RunHandler(this, [this] { FormClose(); });
    RemoveTrayIcon();
    QCoreApplication::quit();
}

void TFormMain::EndWithoutAsking() {
    if (closing_ || tmrEnd_)
        return;
    // Whoever opened a box, a dialog or a menu goes on with the data once its loop returns, so
    // each is closed (as if cancelled) and the end runs from the main loop alone.
    tmrEnd_ = new QTimer(this);
    tmrEnd_->setInterval(0);
    connect(tmrEnd_, &QTimer::timeout, this, [this] {
        tmrEnd_->setInterval(20);
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
            return;
        }
        if (QWidget* modal = QApplication::activeModalWidget()) {
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
            return;
        }
        if (QThread::currentThread()->loopLevel() > 1)
            return;
        tmrEnd_->stop();
        if (closing_)
            return; // the login was refused meanwhile: that end is under way
        EndRun();
        close();
    });
    tmrEnd_->start();
}
