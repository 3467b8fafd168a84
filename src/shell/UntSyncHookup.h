#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLabel;
class QTimer;
class QWidget;
class TSyncEngine;

// The main window's side of the sync: its menu items, the state in the bottom bar, the
// views reloaded after a pass brought changes, and a pass soon after changes made here.
// It finds the window's parts by their names, so the window only starts and stops it.
class TSyncHookup : public QObject {
    Q_OBJECT
public:
    explicit TSyncHookup(QWidget* window);
    ~TSyncHookup() override;

    // After the login: reads the settings (and the password) and starts when sync is on.
    void Start();
    // Before the data file closes: a pass under way is abandoned, it resumes next time.
    void Stop();
    void NSyncSetupClick();
    void NSyncNowClick();
    TSyncEngine* Engine() const { return engine_.get(); }

private:
    void MakeEngine();
    void CheckLocalChanges();

    QWidget* window_;
    QLabel* labSync_;
    QTimer* tmrChanges_;
    std::unique_ptr<TSyncEngine> engine_;
    QString pendingSeen_;
};

// The hookup of the main window, made on first use.
TSyncHookup* SyncHookup(QWidget* window);

// Sync stops while the data file is replaced and starts again afterwards.
class TSyncPause {
public:
    explicit TSyncPause(QWidget* window) : window_(window) { SyncHookup(window_)->Stop(); }
    ~TSyncPause();
    TSyncPause(const TSyncPause&) = delete;
    TSyncPause& operator=(const TSyncPause&) = delete;

private:
    QWidget* window_;
};
