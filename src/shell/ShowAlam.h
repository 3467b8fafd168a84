#pragma once

#include <QEvent>
#include <QWidget>
#include <memory>

namespace Ui {
class TFormShowAlam;
}
class QMenu;
class TDesktopNotification;

// What an alert asks of the main window; posted, so the alert has closed before the
// reminder and the list change.
enum AlamEventType {
    WM_ALAMDELETE = QEvent::User + 1,
    WM_ALAMSEEN = QEvent::User + 2,
    WM_ALAMSNOOZE = QEvent::User + 3,
};

class TAlamEvent : public QEvent {
public:
    TAlamEvent(AlamEventType type, int id, int delay = 0)
        : QEvent(static_cast<QEvent::Type>(type)), ID(id), Delay(delay) {}
    int ID;
    int Delay; // snooze delay index 0 to 4
};

// The alert event that event is; only for the three alert event types.
inline const TAlamEvent& AlamOf(const QEvent* event) {
    return *static_cast<const TAlamEvent*>(event);
}

// One due reminder, in the bottom right corner, above everything. It never touches the
// database: its buttons post TAlamEvents to the alert target (the main window).
class TFormShowAlam : public QWidget {
    Q_OBJECT
public:
    TFormShowAlam();
    ~TFormShowAlam() override;

    QString AlamID;
    bool IsRepeating = false;

    Ui::TFormShowAlam* ui() const { return ui_.get(); }
    QMenu* pm1() const { return pm1_; }
    TDesktopNotification* Notification() const { return notification_; }

    void btnOkSaveClick();
    void btnOkDelClick();
    void btnConClick();
    // N31Click ... N11Click: the snooze items, by delay index 0 to 4.
    void SnoozeClick(int delay);
    // Closed by the program itself (it is ending): nothing is posted.
    void Dismiss();
    // Shows the desktop notification that goes with the alert; its actions answer the alert.
    void NotifyDesktop();
    // Brings the alert in front of every window, with its snooze menu when asked.
    void BringToFront(bool snoozeMenu = false);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormShow();
    void Post(AlamEventType type, int delay = 0);

    std::unique_ptr<Ui::TFormShowAlam> ui_;
    QMenu* pm1_ = nullptr;
    TDesktopNotification* notification_ = nullptr;
    bool shown_ = false;
    bool finished_ = false;
};

// Opens one alert window for a due reminder and returns at once.
TFormShowAlam* ShowAlert(const QString& id, const QString& text, bool repeating);

// Where an alert of the given outer size goes in the screen area: its bottom right corner.
QPoint AlertPosition(const QRect& area, const QSize& outer);

// Closes every open alert without an answer, as the program ends.
void DismissAllAlerts();
// The data behind the open alerts was replaced: their buttons now only close them.
void ForgetOpenAlerts();

// Where alerts post their events.
void SetAlertTarget(QObject* target);

// The alerts now open, oldest first.
QList<TFormShowAlam*> OpenAlerts();
// Keeps open alerts usable above the modal dialog now open, if any.
void LiftAlertsAboveModalDialog();

// The number of chimes started in this run (a missing sound device stays silent).
int ChimesStarted();
