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
class QKeyEvent;
class TCardTree;

// The main window: the reminders tab, the notepad tab, the bottom bar and the tray icon.
// Its handlers are split by area: the frame in Main.cpp, the reminders tab and alerts in
// MainReminders.cpp, the notepad tab in MainNotepad.cpp, the login gate in MainSettings.cpp.
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
    QLabel* statHintPanel() const { return statHintPanel_; }
    QTimer* tmrHint() { return &tmrHint_; }

    // ---- reminders tab and alerts
    void rgAlamClick();
    void NAddAlamClick();
    void NModAlamClick();
    void NDelAlamClick();
    int FilterIndex() const;

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

protected:
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
    void LoginGate();

    std::unique_ptr<Ui::TFormMain> ui_;
    bool shown_ = false;
    bool closing_ = false;

    // frame
    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* PopupMenu_ = nullptr;
    QMenu* pmSystem_ = nullptr;
    QLabel* statHintPanel_ = nullptr;
    QTimer tmrHint_;

    // reminders tab and alerts
    QMenu* pmAlam_ = nullptr;

    // notepad tab
    // Puts a stored text into the memo; a text the program puts there is not saved again.
    void SetNoteText(const QString& text);
    std::unique_ptr<TCardTree> NoteTree_;
    QMenu* pmNoteType_ = nullptr;
    bool settingNote_ = false;
    bool pressChangedGroup_ = false;
};

// Hides a minimised window when a tray icon can bring it back.
void HideTaskbarButton(QWidget* window);
// Writes (enable) or removes the run-at-login entry named name that starts data.
void SetRunAtStartup(const QString& name, const QString& data, bool enable);
// Where the run-at-login entry of that name lives.
QString RunAtStartupEntry(const QString& name);
// The home page opened by "软件主页".
inline const QString HomePage = QStringLiteral("https://quillet.morvane.cn/");
// The folder of the safety copy made before a restore is AppDir.
inline const QString SafetyCopyName = QStringLiteral("tmpData.bat");
