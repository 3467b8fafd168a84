#pragma once

#include <QSystemTrayIcon>
#include <QWidget>
#include <memory>

namespace Ui {
class TFormMain;
}
class QMenu;
class QTimer;
class TDueCheck;

// The main window, a frame: the reminders page (ts3) and the notepad page (ts2) on its tabs,
// the bottom bar, the tray icon, the due check and the way out.
class TFormMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    bool AddTrayIcon();
    bool RemoveTrayIcon();
    void WMTrayIcon(QSystemTrayIcon::ActivationReason reason);
    void NShowFormClick();
    void NCloseClick();
    void btnSystemClick();
    void NOpenWWW2Click();
    void N15Click();
    void chk1Click();
    void Ndfdf1Click();
    void N11Click();
    bool IsRunAtStartup() const;
    void tmr1Timer();
    // The login at start was not confirmed: the program is ending.
    bool LoginRefused() const { return loginRefused_; }
    // Ends the program as a confirmed close does, without asking (the session or the system
    // asked it to end): open boxes, dialogs and menus are closed first, then the notes are
    // stored, the log moved into the data file and the file compacted.
    void EndWithoutAsking();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void RefuseLogin();
    void EndRun();
    // Starts tmr1 for its next tick: the next second 0 of the clock, or a second.
    void ArmTmr1();

    std::unique_ptr<Ui::TFormMain> ui_;
    bool shown_ = false;
    bool closing_ = false;
    bool loginRefused_ = false;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* PopupMenu_ = nullptr;
    QMenu* pmSystem_ = nullptr;
    QTimer* tmr1_ = nullptr;
    QTimer* tmrQuit_ = nullptr;
    QTimer* tmrEnd_ = nullptr;
    std::unique_ptr<TDueCheck> dueCheck_;
};

// The home page opened by "软件主页".
inline const QString HomePage = QStringLiteral("https://quillet.morvane.cn/");
