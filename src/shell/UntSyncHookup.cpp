#include "UntSyncHookup.h"

#include "common/UntHandler.h"
#include "notepad/NotepadPage.h"
#include "reminders/RemindersPage.h"
#include "storage/UntDbAccess.h"
#include "sync/SyncSetup.h"
#include "sync/UntSyncEngine.h"
#include "sync/UntSyncPassword.h"
#include "sync/UntSyncStore.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QTimer>

namespace {

QAction* AddItem(QWidget* owner, QMenu* menu, const char* name, const QString& caption,
                 std::function<void()> command, QAction* before = nullptr) {
    auto* action = new QAction(caption, menu);
    action->setObjectName(QString::fromLatin1(name));
    QObject::connect(action, &QAction::triggered, owner, Handler(owner, std::move(command)));
    menu->insertAction(before, action);
    return action;
}

} // namespace

TSyncHookup::TSyncHookup(QWidget* window)
    : QObject(window), window_(window), labSync_(new QLabel(window)),
      tmrChanges_(new QTimer(this)) {
    setObjectName(QStringLiteral("SyncHookup"));
    if (auto* pmSystem = window->findChild<QMenu*>(QStringLiteral("pmSystem"))) {
        pmSystem->addSeparator()->setObjectName(QStringLiteral("NSyncSep"));
        AddItem(window, pmSystem, "NSyncSetup", QStringLiteral("同步设置…"),
                [this] { NSyncSetupClick(); });
        AddItem(window, pmSystem, "NSyncNow", QStringLiteral("立即同步"),
                [this] { NSyncNowClick(); });
    }
    if (auto* popup = window->findChild<QMenu*>(QStringLiteral("PopupMenu"))) {
        QAction* before = nullptr;
        for (QAction* action : popup->actions())
            if (action->objectName() == QLatin1String("N9"))
                before = action;
        AddItem(
            window, popup, "NSyncNow2", QStringLiteral("立即同步"), [this] { NSyncNowClick(); },
            before);
    }
    labSync_->setObjectName(QStringLiteral("LabSync"));
    labSync_->hide();
    if (auto* bar = window->findChild<QWidget*>(QStringLiteral("pnl1")))
        if (auto* layout = qobject_cast<QHBoxLayout*>(bar->layout()))
            layout->insertWidget(1, labSync_);

    // The stores' triggers note every change; a look at that list now and then is all it
    // takes to follow changes made anywhere in the program.
    tmrChanges_->setInterval(2000);
    connect(tmrChanges_, &QTimer::timeout, this, Handler(this, [this] { CheckLocalChanges(); }));
    // The last chance before the data file closes, whichever way the program ends.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { Stop(); });
}

TSyncHookup::~TSyncHookup() = default;

TSyncHookup* SyncHookup(QWidget* window) {
    if (auto* hookup = window->findChild<TSyncHookup*>(QString(), Qt::FindDirectChildrenOnly))
        return hookup;
    return new TSyncHookup(window);
}

TSyncPause::~TSyncPause() {
    RunHandler(window_, [this] { SyncHookup(window_)->Start(); });
}

void TSyncHookup::MakeEngine() {
    engine_ = std::make_unique<TSyncEngine>(*DbAccess);
    TSyncEngine* engine = engine_.get();
    connect(engine, &TSyncEngine::StateChanged, labSync_, &QLabel::setText);
    connect(engine, &TSyncEngine::Finished, this, Handler(this, [this, engine] {
                // Which items did not go and why: the line itself has room for the count only.
                labSync_->setToolTip(engine->Problems().join(u'\n'));
                if (DbAccess && DbAccess->Connection.IsOpen())
                    pendingSeen_ = TSyncStore(*DbAccess).PendingMark();
            }));
    // Started once the settings are really stored: the keyring answers after the dialog closed.
    connect(engine, &TSyncEngine::Reconfigured, this, Handler(this, [this] { Start(); }));
    // The list is read again off this thread and filled in an event of its own, so that it
    // and the tree (the longest pauses a pass causes) never come in one piece. The tree is
    // not: until it is reloaded, the memo could save its old text over the synced one.
    connect(engine, &TSyncEngine::RemindersChanged, this,
            Handler(this,
                    [this] {
                        if (auto* page = window_->findChild<TRemindersPage*>())
                            page->ReloadSoon();
                    }),
            Qt::QueuedConnection);
    connect(engine, &TSyncEngine::NotesChanged, this, Handler(this, [this] {
                // The tree and the memo show what the file now holds, or the memo's next save
                // would write an old text over the synced one.
                if (auto* page = window_->findChild<TNotepadPage*>())
                    page->ReloadNotepad(true);
            }));
}

void TSyncHookup::Start() {
    if (!DbAccess || !DbAccess->Connection.IsOpen())
        return;
    if (!engine_)
        MakeEngine();
    TSyncSettings settings;
    settings.Load(*DbAccess);
    labSync_->setVisible(settings.Enabled);
    if (!settings.Enabled) {
        engine_->Stop();
        tmrChanges_->stop();
        return;
    }
    pendingSeen_ = TSyncStore(*DbAccess).PendingMark();
    tmrChanges_->start();
    TSyncEngine* engine = engine_.get();
    ReadSyncPassword(settings, engine, [this, engine](bool ok, const QString& password) {
        RunHandler(this, [&] {
            if (ok)
                engine->SetPassword(password);
            engine->Start();
        });
    });
}

void TSyncHookup::Stop() {
    tmrChanges_->stop();
    engine_.reset();
}

void TSyncHookup::CheckLocalChanges() {
    if (!engine_ || engine_->Running() || !DbAccess || !DbAccess->Connection.IsOpen())
        return;
    const QString mark = TSyncStore(*DbAccess).PendingMark();
    if (mark == pendingSeen_)
        return;
    pendingSeen_ = mark;
    engine_->LocalChanged();
}

void TSyncHookup::NSyncSetupClick() {
    if (!engine_)
        MakeEngine();
    TFormSyncSetup dialog(*DbAccess, *engine_, window_);
    dialog.exec(); // OK stores the settings; the engine's Reconfigured starts the sync
}

void TSyncHookup::NSyncNowClick() {
    TSyncSettings settings;
    settings.Load(*DbAccess);
    if (!settings.Enabled) {
        NSyncSetupClick();
        return;
    }
    if (!engine_ || !tmrChanges_->isActive())
        Start();
    else
        engine_->SyncNow();
}
