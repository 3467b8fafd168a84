#pragma once

#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class TFormMain;
}
class QMenu;
class QLabel;
class QTreeWidgetItem;
class QButtonGroup;
class QKeyEvent;
class QModelIndex;
class QStyleOptionViewItem;
class TCardTree;
class TDueMinutes;
class TTypingHint;

// The main window: the reminders tab, the notepad tab, the bottom bar and the tray icon.
// Its handlers are split by area: the frame in Main.cpp, the reminders tab and alerts in
// MainReminders.cpp, due reminders in MainAlerts.cpp, the notepad tab in MainNotepad.cpp, the
// login gate in MainSettings.cpp.
class TFormMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    Ui::TFormMain* ui() const { return ui_.get(); }

    // ---- frame
    bool AddTrayIcon();
    bool RemoveTrayIcon();
    void WMTrayIcon(QSystemTrayIcon::ActivationReason reason);
    void NShowFormClick();
    void NCloseClick();
    void btnSystemClick();
    void NOpenWWW2Click();
    void N15Click();
    void chk1Click();
    void tmrHintTimer();
    void Ndfdf1Click();
    void N11Click();
    bool IsRunAtStartup() const;
    QSystemTrayIcon* TrayIcon() const { return trayIcon_; }
    QMenu* PopupMenu() const { return PopupMenu_; }
    QMenu* pmSystem() const { return pmSystem_; }
    QLabel* statHintPanel() const;
    QTimer* tmrHint();

    // ---- reminders tab and alerts
    void rgAlamClick();
    void NAddAlamClick();
    void NModAlamClick();
    void NDelAlamClick();
    int FilterIndex() const;
    // Gives a row of lv1 the text colour of its repeat kind; runs each time the row is drawn.
    void lv1CustomDrawItem(const QModelIndex& index, QStyleOptionViewItem* option) const;
    QMenu* pmAlam() const { return pmAlam_; }
    QButtonGroup* rgAlam() const { return rgAlam_; }

    // ---- notepad tab
    TCardTree* NoteTree() const { return NoteTree_.get(); }
    QMenu* pmNoteType() const { return pmNoteType_; }
    void tvNoteClick();
    void mmoNoteChange();
    bool mmoNoteKeyDown(QKeyEvent* event);
    void btn2Click();
    void NAddNoteTypeClick();
    void NModNoteTypeClick();
    void NDelNoteTypeClick();
    void tvNoteEdited(QTreeWidgetItem* node, const QString& text);

    // ---- due reminders (MainAlerts.cpp)
    void tmr1Timer();
    void WMAlamDelete(int id);
    void WMAlamSeen(int id);
    void WMAlamSnooze(int id, int delay);
    QTimer* tmr1() { return &tmr1_; }

    // ---- settings and login
    // The login at start was not confirmed: the program is ending.
    bool LoginRefused() const { return loginRefused_; }

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

    // Area set-up, called by FormCreate and FormShow in their places.
    void SetupRemindersTab();
    void ShowReminders();
    void SetupNotepadTab();
    void LoadNotepad();
    void ShowRootNote();
    void FreeNotepad();
    // After a restore: the lists, the tree and the memo show the data now in the file.
    void ReloadAfterRestore();
    void ReloadNotepad();
    void LoginGate();
    void SetupAlerts();

    std::unique_ptr<Ui::TFormMain> ui_;
    bool shown_ = false;
    bool closing_ = false;

    // frame
    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* PopupMenu_ = nullptr;
    QMenu* pmSystem_ = nullptr;
    std::unique_ptr<TTypingHint> hint_;

    // reminders tab and alerts
    QMenu* pmAlam_ = nullptr;
    QButtonGroup* rgAlam_ = nullptr;

    // due reminders
    QTimer tmr1_;
    std::unique_ptr<TDueMinutes> dueMinutes_;
    bool dueCheckRunning_ = false;

    // notepad tab
    // Puts a stored text into the memo; a text the program puts there is not saved again.
    void SetNoteText(const QString& text);
    std::unique_ptr<TCardTree> NoteTree_;
    QMenu* pmNoteType_ = nullptr;
    bool settingNote_ = false;
    bool pressChangedGroup_ = false;

    // settings and login
    void RefuseLogin();
    bool loginRefused_ = false;
    QTimer tmrQuit_;
};

// Hides a minimised window when a tray icon can bring it back.
void HideTaskbarButton(QWidget* window);
// Whether the desktop offers a tray; tests can decide it (0 no, 1 yes, -1 ask the desktop).
bool TrayAvailable();
void OverrideTrayAvailable(int available);
// Writes (enable) or removes the run-at-login entry named name that starts data.
void SetRunAtStartup(const QString& name, const QString& data, bool enable);
// Where the run-at-login entry of that name lives.
QString RunAtStartupEntry(const QString& name);
// The program the run-at-login entry of that name starts; empty when there is none.
QString ReadRunAtStartup(const QString& name);
// The home page opened by "软件主页".
inline const QString HomePage = QStringLiteral("https://quillet.morvane.cn/");
// The folder of the safety copy made before a restore is AppDir.
inline const QString SafetyCopyName = QStringLiteral("tmpData.bat");
