#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TRemindersPage;
}
class QButtonGroup;
class QMenu;
class QModelIndex;
class QTimer;
class QStyleOptionViewItem;

// The reminders tab: the list lv1, its filters rgAlam and its context menu pmAlam.
class TRemindersPage : public QWidget {
    Q_OBJECT
public:
    explicit TRemindersPage(QWidget* parent = nullptr);
    ~TRemindersPage() override;

    // Fills the list under filter 0, as at start.
    void ShowReminders();

    void rgAlamClick();
    // The list again under the chosen filter, after the data changed in the background (a
    // sync pass): read off this thread first, so that a long list does not hold up the
    // window, and brought in line in place once the rows are in.
    void ReloadSoon();
    void NAddAlamClick();
    void NModAlamClick();
    void NDelAlamClick();
    // The filter chosen now, 0 to 6.
    int FilterIndex() const;
    // Gives a row of lv1 the text colour of its repeat kind; runs each time the row is drawn.
    void lv1CustomDrawItem(const QModelIndex& index, QStyleOptionViewItem* option) const;

    // The list's side of what an alert asks: the row goes, is marked seen, or the list is
    // reloaded after the snooze.
    void WMAlamDelete(int id);
    void WMAlamSeen(int id);
    void WMAlamSnooze(int id, int delay);
    // The list under "全部提醒" with the reminder's row selected.
    void ShowReminderRow(int id);

Q_SIGNALS:
    // A reminder's time was changed: the due check may show it again.
    void ReminderMoved(const QString& id);
    // A holiday schedule was imported: what a day is (休, 班) may have changed.
    void HolidaysChanged();

private:
    std::unique_ptr<Ui::TRemindersPage> ui_;
    QMenu* pmAlam_ = nullptr;
    QButtonGroup* rgAlam_ = nullptr;
    QTimer* reload_ = nullptr;
};
