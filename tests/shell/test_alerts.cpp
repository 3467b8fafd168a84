#include "TestSupport.h"

#include "common/UntWorkdays.h"
#include "reminders/RemindersPage.h"
#include "reminders/UntAlam.h"
#include "shell/Main.h"
#include "shell/RecycleBin.h"
#include "shell/ShowAlam.h"
#include "shell/UntApplication.h"
#include "shell/UntDueCheck.h"
#include "storage/UntDbAccess.h"
#include "storage/UntHolidayStore.h"
#include "ui_ShowAlam.h"
#include <QTreeWidget>

#include "reminders/AddAlam.h"
#include "storage/UException.h"
#include "ui_BaseAlam.h"

#include <QDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <ctime>

namespace {

QList<QDateTime> Minutes(std::initializer_list<const char*> texts) {
    QList<QDateTime> list;
    for (const char* t : texts) { // wall-clock readings
        const QDateTime local = At(QString::fromLatin1(t));
        list << QDateTime(local.date(), local.time(), Qt::UTC);
    }
    return list;
}

// Records what alerts post.
class TEventLog : public QObject {
public:
    struct Posted {
        int type, id, delay;
    };
    std::vector<Posted> posted;
    bool event(QEvent* e) override {
        if (e->type() >= QEvent::User + 1 && e->type() <= QEvent::User + 3) {
            auto* a = static_cast<TAlamEvent*>(e);
            posted.push_back({int(e->type()), a->ID, a->Delay});
            return true;
        }
        return QObject::event(e);
    }
};

void CloseAllAlerts() {
    for (TFormShowAlam* a : OpenAlerts()) {
        a->btnOkSaveClick();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

TEST(DueMinutes, EveryMinuteOfTheRunIsCheckedOnceByTheFirstTickThatSeesIt) {
    TDueMinutes due(At("2026-12-07 09:59:30"));
    EXPECT_TRUE(due.Tick(At("2026-12-07 09:59:31")).isEmpty()); // the start minute had begun
    EXPECT_TRUE(due.Tick(At("2026-12-07 09:59:59")).isEmpty());
    EXPECT_EQ(due.Tick(At("2026-12-07 10:00:00")), Minutes({"2026-12-07 10:00:00"}));
    EXPECT_TRUE(due.Tick(At("2026-12-07 10:00:00")).isEmpty()); // a second tick in second 0
    EXPECT_TRUE(due.Tick(At("2026-12-07 10:00:59")).isEmpty());
    // The second-0 tick of 10:01 never came: it is checked late, then 10:02.
    EXPECT_EQ(due.Tick(At("2026-12-07 10:02:01")),
              Minutes({"2026-12-07 10:01:00", "2026-12-07 10:02:00"}));
    // Five skipped minutes are caught up; a longer sleep is not replayed.
    EXPECT_EQ(due.Tick(At("2026-12-07 10:07:30")).size(), 5);
    EXPECT_EQ(due.Tick(At("2026-12-07 11:00:05")), Minutes({"2026-12-07 11:00:00"}));
    // Across midnight.
    TDueMinutes night(At("2026-12-07 23:59:10"));
    EXPECT_EQ(night.Tick(At("2026-12-08 00:00:01")), Minutes({"2026-12-08 00:00:00"}));
}

TEST(DueMinutes, ClockSetBackNeverShowsAMinuteTwice) {
    TDueMinutes due(At("2026-12-07 10:00:30"));
    EXPECT_EQ(due.Tick(At("2026-12-07 10:01:00")).size(), 1);
    EXPECT_TRUE(due.Tick(At("2026-12-07 10:00:59")).isEmpty());
    EXPECT_TRUE(due.Tick(At("2026-12-07 10:01:00")).isEmpty());
    EXPECT_EQ(due.Tick(At("2026-12-07 10:02:00")).size(), 1);
    // A large step back (the clock was wrong) starts afresh.
    EXPECT_EQ(due.Tick(At("2026-12-07 08:00:00")), Minutes({"2026-12-07 08:00:00"}));
    EXPECT_EQ(due.Tick(At("2026-12-07 08:01:00")), Minutes({"2026-12-07 08:01:00"}));
}

// Between minutes the due check sleeps until the next second 0; a clock that jumps is looked
// at at once, so the minute it jumps into is checked all the same. Alerts are lifted above a
// modal dialog within a second, so while one is open it looks every second.
TEST_F(MainWindowTest, DueCheckSleepsUntilSecondZeroAndLooksAgainWhenTheClockJumps) {
    ExecSql("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
            " values(10,0,1,0,'2026-12-07','十点开会') ");
    QTimer* tmr1 = Child<QTimer>(Main(), "tmr1");
    TPinnedClock clock(At("2026-12-07 09:59:50"));
    EXPECT_TRUE(WaitFor(
        [&] { return tmr1->remainingTime() > 9000 && tmr1->remainingTime() <= 10000; }, 2000))
        << tmr1->remainingTime();
    clock.Set(At("2026-12-07 10:00:00"));
    ASSERT_TRUE(WaitFor([] { return !OpenAlerts().isEmpty(); }, 2000));
    EXPECT_EQ(OpenAlerts()[0]->ui()->mmo1->toPlainText(), QStringLiteral("十点开会"));
    EXPECT_LE(tmr1->remainingTime(), 1000);
    CloseAllAlerts();
}

class AlertTest : public MainWindowTest {
protected:
    void SetUp() override {
        clock_ = std::make_unique<TPinnedClock>(At("2026-12-07 09:59:50")); // a Monday
        MainWindowTest::SetUp();
        Child<QTimer>(Main(), "tmr1")->stop(); // ticks are driven by the test
    }
    void TearDown() override {
        CloseAllAlerts();
        MainWindowTest::TearDown();
        clock_.reset();
    }
    void Reminder(int hour, int minute, int reDay, int monWeek, const QString& date,
                  const QString& text) {
        ExecSql(QStringLiteral("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
                               " values(%1,%2,%3,%4,'%5','%6') ")
                    .arg(hour)
                    .arg(minute)
                    .arg(monWeek)
                    .arg(reDay)
                    .arg(date, text));
    }
    // Ticks at the given moment; the texts of the alerts opened by it.
    QStringList TickAt(const QString& moment) {
        const int before = OpenAlerts().size();
        clock_->Set(At(moment));
        RunHandler(nullptr, [&] { Main()->tmr1Timer(); });
        QStringList texts;
        for (TFormShowAlam* a : OpenAlerts().mid(before))
            texts << a->ui()->mmo1->toPlainText();
        return texts;
    }
    std::unique_ptr<TPinnedClock> clock_;
};

TEST_F(AlertTest, OnlyATickEnteringANewMinuteQueriesTheDatabase) {
    Reminder(10, 0, 1, 1, "2026-12-01", "每天十点");
    DbAccess->SideCursor.Close();
    EXPECT_TRUE(TickAt("2026-12-07 09:59:58").isEmpty());
    EXPECT_FALSE(DbAccess->SideCursor.Active()); // no query ran
    EXPECT_EQ(TickAt("2026-12-07 10:00:00"), QStringList({"每天十点"}));
    EXPECT_TRUE(DbAccess->SideCursor.Active());
    DbAccess->SideCursor.Close();
    EXPECT_TRUE(TickAt("2026-12-07 10:00:00").isEmpty()); // same second 0 again: shown once
    EXPECT_TRUE(TickAt("2026-12-07 10:00:31").isEmpty());
    EXPECT_FALSE(DbAccess->SideCursor.Active());
}

TEST_F(AlertTest, ASkippedSecondZeroIsCaughtUpWithThatMinutesReminders) {
    Reminder(10, 1, 0, 1, "2026-12-07", "十点零一");
    Reminder(10, 2, 0, 1, "2026-12-07", "十点零二");
    EXPECT_TRUE(TickAt("2026-12-07 10:00:59").isEmpty());
    EXPECT_EQ(TickAt("2026-12-07 10:02:01"), QStringList({"十点零一", "十点零二"}));
}

TEST_F(AlertTest, DueByKind) {
    Reminder(10, 0, 0, 1, "2026-12-07", "一次今天");
    Reminder(10, 0, 0, 1, "2026-12-08", "一次明天");
    Reminder(10, 0, 2, 135, "2026-12-01", "周一三五");
    Reminder(10, 0, 3, 31, "2026-12-01", "每月31号");
    Reminder(10, 0, 3, 7, "2026-12-01", "每月7号");
    Reminder(10, 1, 1, 1, "2026-12-01", "别的分钟");
    // Monday 2026-12-07: two alert windows for one minute, plus the weekly and monthly 7.
    QStringList monday = TickAt("2026-12-07 10:00:00");
    monday.sort();
    QStringList expected = {"一次今天", "周一三五", "每月7号"};
    expected.sort();
    EXPECT_EQ(monday, expected);

    // The weekly one is due on Monday, Wednesday and Friday only.
    QStringList weekly;
    for (int day = 8; day <= 13; ++day) {
        const QStringList shown =
            TickAt(QStringLiteral("2026-12-%1 10:00:00").arg(day, 2, 10, QChar('0')));
        if (shown.contains("周一三五"))
            weekly << QString::number(day);
        CloseAllAlerts();
    }
    EXPECT_EQ(weekly, QStringList({"9", "11"})); // Wednesday and Friday
    // Day 31 never comes in a 30-day month; it does in December.
    EXPECT_FALSE(TickAt("2026-11-30 10:00:00").contains("每月31号"));
    EXPECT_TRUE(TickAt("2026-12-31 10:00:00").contains("每月31号"));
}

TEST_F(AlertTest, AlertWindowLooksAsItShould) {
    TFormShowAlam* once = ShowAlert("7", "会议\n带上文件", false);
    EXPECT_EQ(once->windowTitle(), QStringLiteral("提醒"));
    EXPECT_EQ(once->size(), QSize(292, 198));
    EXPECT_TRUE(once->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(once->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(once->windowFlags() & Qt::WindowSystemMenuHint);
    EXPECT_EQ(once->ui()->btnOkSave->text(), QStringLiteral("看到了并保留"));
    EXPECT_TRUE(once->ui()->btnOkDel->isVisible());
    EXPECT_TRUE(once->ui()->btnCon->isVisible());
    EXPECT_EQ(once->ui()->btnOkSave->x(), 197);
    EXPECT_EQ(once->ui()->btnOkDel->x(), 103);
    EXPECT_EQ(once->ui()->btnCon->x(), 9);
    EXPECT_TRUE(once->ui()->mmo1->isReadOnly());
    EXPECT_EQ(once->ui()->mmo1->font().pixelSize(), 17);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(once->frameGeometry().top(), screen.height() - once->frameGeometry().height() - 27);
    EXPECT_EQ(once->frameGeometry().left(), screen.width() - once->frameGeometry().width() - 2);
    QStringList items;
    for (QAction* a : once->pm1()->actions())
        items << a->text();
    EXPECT_EQ(items, QStringList({"3分钟后再提醒", "5分钟后再提醒", "10分钟后再提醒",
                                  "30分钟后再提醒", "1小时后再提醒"}));

    TFormShowAlam* daily = ShowAlert("8", "喝水", true);
    EXPECT_EQ(daily->ui()->btnOkSave->text(), QStringLiteral("看到了"));
    EXPECT_FALSE(daily->ui()->btnOkDel->isVisible());
    EXPECT_FALSE(daily->ui()->btnCon->isVisible());
    EXPECT_EQ(daily->pos(), once->pos()); // stacked at the same spot

    // The roll-in ends with the chime.
    const int chimes = ChimesStarted();
    EXPECT_TRUE(WaitFor([&] { return ChimesStarted() >= chimes + 1; }, 2000));
}

TEST_F(AlertTest, LongTextGetsAScrollBarOnlyWhenItDoesNotFit) {
    TFormShowAlam* shortText = ShowAlert("1", "喝水", true);
    TFormShowAlam* longText = ShowAlert("2", QString(40, QChar(0x5B57)).repeated(12), true);
    QTest::qWait(50);
    EXPECT_FALSE(shortText->ui()->mmo1->verticalScrollBar()->isVisible());
    QScrollBar* bar = longText->ui()->mmo1->verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_FALSE(longText->ui()->mmo1->horizontalScrollBar()->isVisible());
}

TEST_F(AlertTest, ButtonsAndKeysPostTheirEventsAndClose) {
    TEventLog log;
    SetAlertTarget(&log);
    auto press = [](TFormShowAlam* a, int key) {
        a->activateWindow();
        QTest::keyClick(a, Qt::Key(key));
        QCoreApplication::sendPostedEvents();
    };
    TFormShowAlam* a = ShowAlert("11", "x", false);
    EXPECT_EQ(a->focusWidget(), a->ui()->btnOkSave);
    press(a, Qt::Key_Return);
    ASSERT_EQ(log.posted.size(), 1u);
    EXPECT_EQ(log.posted[0].type, int(WM_ALAMSEEN));
    EXPECT_EQ(log.posted[0].id, 11);

    press(ShowAlert("12", "x", false), Qt::Key_Escape);
    ASSERT_EQ(log.posted.size(), 2u);
    EXPECT_EQ(log.posted[1].type, int(WM_ALAMDELETE));
    EXPECT_EQ(log.posted[1].id, 12);

    TFormShowAlam* repeating = ShowAlert("13", "x", true);
    press(repeating, Qt::Key_Escape);
    EXPECT_TRUE(OpenAlerts().contains(repeating)); // Esc does nothing here
    repeating->ui()->btnOkSave->click();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(log.posted.size(), 2u); // "看到了" posts nothing
    EXPECT_FALSE(OpenAlerts().contains(repeating));

    for (int delay = 0; delay < 5; ++delay) {
        TFormShowAlam* s = ShowAlert("14", "x", false);
        s->pm1()->actions().at(delay)->trigger();
        QCoreApplication::sendPostedEvents();
        ASSERT_EQ(log.posted.size(), 3u + delay);
        EXPECT_EQ(log.posted.back().type, int(WM_ALAMSNOOZE));
        EXPECT_EQ(log.posted.back().delay, delay);
        EXPECT_FALSE(OpenAlerts().contains(s));
    }
    // The window system's close request does not lose an alert.
    TFormShowAlam* kept = ShowAlert("15", "x", false);
    kept->close();
    EXPECT_TRUE(kept->isVisible());
    SetAlertTarget(Main());
}

TEST_F(AlertTest, ADueReminderOpensAndWorksAboveAModalDialog) {
    TEventLog log;
    Reminder(10, 0, 0, 1, "2026-12-07", "编辑时到期");
    bool opened = false, clicked = false;
    QDialog editor(Main());
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(QApplication::activeModalWidget() == &editor);
        opened = TickAt("2026-12-07 10:00:00") == QStringList({"编辑时到期"});
        if (opened) {
            TFormShowAlam* alert = OpenAlerts().back();
            SetAlertTarget(&log);
            QTest::qWait(300); // the roll-in is over
            // A click through the window system, which refuses windows a modal dialog blocks.
            QWindow* window = alert->windowHandle();
            const QPoint centre =
                alert->ui()->btnOkSave->mapTo(alert, alert->ui()->btnOkSave->rect().center());
            QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre);
            QCoreApplication::sendPostedEvents();
            clicked = log.posted.size() == 1;
        }
        editor.reject();
    });
    editor.exec();
    SetAlertTarget(Main());
    EXPECT_TRUE(opened);
    EXPECT_TRUE(clicked);
}

// What the main window does with the alert's answers.
class AlertAnswerTest : public AlertTest {
protected:
    QTreeWidget* List() { return Child<QTreeWidget>(Main(), "lv1"); }
    QStringList Column(int c) {
        QStringList texts;
        for (int r = 0; r < List()->topLevelItemCount(); ++r)
            texts << List()->topLevelItem(r)->text(c);
        return texts;
    }
    void Answer(TFormShowAlam* alert, const std::function<void(TFormShowAlam*)>& press) {
        press(alert);
        QCoreApplication::sendPostedEvents(); // the posted event reaches the main window
    }
    void Reload() { AlamData->LoadList(List(), RemindersPageOf(Main())->FilterIndex()); }
};

TEST_F(AlertAnswerTest, KeepMarksSeenAndDeleteRemovesEveryRowOfTheReminder) {
    Reminder(10, 0, 0, 1, "2026-12-07", "留着");
    Reminder(10, 0, 0, 1, "2026-12-07", "删掉");
    Reload();
    ASSERT_EQ(List()->topLevelItemCount(), 2);
    const QStringList shown = TickAt("2026-12-07 10:00:00");
    ASSERT_EQ(shown.size(), 2);
    TFormShowAlam* keep = OpenAlerts().at(shown.indexOf("留着"));
    TFormShowAlam* drop = OpenAlerts().at(shown.indexOf("删掉"));
    const QString keepId = keep->AlamID, dropId = drop->AlamID;

    Answer(keep, [](TFormShowAlam* a) { a->ui()->btnOkSave->click(); });
    EXPECT_EQ(GetIntValue("select bLook from Alam where ID=" + keepId), 1);
    EXPECT_EQ(List()->topLevelItem(Column(0).indexOf(keepId))->text(4), QStringLiteral("看过的"));

    Answer(drop, [](TFormShowAlam* a) {
        a->activateWindow();
        QTest::keyClick(a, Qt::Key_Escape);
    });
    EXPECT_EQ(GetIntValue("select count(*) from Alam where ID=" + dropId), 0);
    EXPECT_EQ(Column(0), QStringList({keepId}));
}

// Esc on an alert deletes a one-off reminder; from the recycle bin it comes back whole, and,
// its moment being past and unseen, its alert opens again at once.
TEST_F(AlertAnswerTest, AReminderDeletedByItsAlertComesBackFromTheBinAndIsDueAgain) {
    Reminder(10, 0, 0, 1, "2026-12-07", "误删的提醒");
    Reload();
    ASSERT_EQ(TickAt("2026-12-07 10:00:00"), QStringList({"误删的提醒"}));
    Answer(OpenAlerts().back(), [](TFormShowAlam* a) {
        a->activateWindow();
        QTest::keyClick(a, Qt::Key_Escape);
    });
    ASSERT_EQ(GetIntValue("select count(*) from Alam"), 0);
    clock_->Set(At("2026-12-07 10:03:00"));
    WhenModal<TFormRecycleBin>([](TFormRecycleBin* form) {
        auto* list = form->findChild<QTreeWidget*>(QStringLiteral("lvBin"));
        ASSERT_EQ(list->topLevelItemCount(), 1);
        EXPECT_TRUE(list->topLevelItem(0)->text(2).contains(QStringLiteral("10时")));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        UserClick(form->findChild<QPushButton*>(QStringLiteral("btnRestore")));
    });
    RunHandler(nullptr, [&] {
        Child<QMenu>(Main(), "pmSystem")
            ->findChild<QAction*>(QStringLiteral("NRecycleBin"))
            ->trigger();
    });
    EXPECT_EQ(ReadRows("select iHour, iMinute, ReDay, AlamDate, ReMark, bLook from Alam"),
              TRows({{"10", "0", "0", "2026-12-07", "误删的提醒", "0"}}));
    EXPECT_EQ(Column(3), QStringList({"误删的提醒"}));
    ASSERT_FALSE(OpenAlerts().isEmpty());
    TFormShowAlam* again = OpenAlerts().back();
    EXPECT_EQ(again->ui()->mmo1->toPlainText(), QStringLiteral("误删的提醒"));
    EXPECT_EQ(again->AlamID, QString::number(GetIntValue("select ID from Alam")));
}

TEST_F(AlertAnswerTest, SnoozeAtTwoMinutesToMidnightMovesToTheNextDayAndReloads) {
    Reminder(23, 58, 0, 1, "2026-12-07", "睡前");
    Reload();
    ASSERT_EQ(TickAt("2026-12-07 23:58:00"), QStringList({"睡前"}));
    TFormShowAlam* alert = OpenAlerts().back();
    const QString id = alert->AlamID;
    ExecSql("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark)  "
            "values(8,0,1,1,'2026-12-07','列表刷新后才出现') ");
    Answer(alert, [](TFormShowAlam* a) { a->pm1()->actions().at(0)->trigger(); });
    DbAccess->OpenQuery("select * from Alam where ID=" + id);
    EXPECT_EQ(DbAccess->MainCursor.AsString("AlamDate"), QStringLiteral("2026-12-08"));
    EXPECT_EQ(DbAccess->MainCursor.AsInteger("iHour"), 0);
    EXPECT_EQ(DbAccess->MainCursor.AsInteger("iMinute"), 1);
    EXPECT_EQ(List()->topLevelItemCount(), 2); // reloaded under the current filter
    // And it falls due again at 00:01.
    EXPECT_EQ(TickAt("2026-12-08 00:01:00"), QStringList({"睡前"}));
}

TEST_F(AlertAnswerTest, RepeatingReminderAlertChangesNothing) {
    Reminder(10, 0, 1, 1, "2026-12-01", "每天十点");
    Reload();
    ASSERT_EQ(TickAt("2026-12-07 10:00:00"), QStringList({"每天十点"}));
    TFormShowAlam* alert = OpenAlerts().back();
    Answer(alert, [](TFormShowAlam* a) { a->ui()->btnOkSave->click(); });
    EXPECT_EQ(GetIntValue("select count(*) from Alam where bLook=0 and iHour=10"), 1);
    EXPECT_EQ(Column(4), QStringList({""}));
}

// Alerts go on working inside the delete question's own loop, and may delete or reload the
// row it asks about.
TEST_F(AlertAnswerTest, AlertAnsweredInsideTheDeleteQuestionThenYes) {
    Reminder(10, 0, 0, 1, "2026-12-07", "甲");
    Reminder(11, 0, 0, 1, "2026-12-07", "乙");
    Reminder(12, 0, 0, 1, "2026-12-07", "丙");
    Reload();
    boxes_->ShowRealBoxes();
    for (const bool snooze : {false, true}) {
        const int row = Column(3).indexOf(snooze ? "乙" : "甲");
        List()->setCurrentItem(List()->topLevelItem(row));
        const QString id = List()->topLevelItem(row)->text(0);
        const QString question = QStringLiteral("确实要删除 ") +
                                 List()->topLevelItem(row)->text(2) +
                                 QStringLiteral(" 的提醒吗？\n（可从回收站恢复）");
        QTimer::singleShot(0, [&] {
            QPointer<QMessageBox> box = WaitForRealBox(question);
            ASSERT_TRUE(box);
            TFormShowAlam* alert = ShowAlert(id, QStringLiteral("到了"), false);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(alert));
            QTest::qWait(300); // rolled in
            if (snooze)
                alert->SnoozeClick(0); // the list is reloaded
            else
                UserClick(alert->ui()->btnOkDel);
            EXPECT_TRUE(WaitFor([&] {
                return GetIntValue("select count(*) from Alam where iHour=10 and ID=" + id) ==
                       (snooze ? 1 : 0);
            }));
            UserClick(box->button(QMessageBox::Yes));
            if (WaitFor([&] { return !box->isVisible(); }, 2000))
                return;
            ADD_FAILURE() << "the question could not be answered";
            box->done(QMessageBox::Yes);
        });
        RunHandler(nullptr, [&] { RemindersPageOf(Main())->NDelAlamClick(); });
        EXPECT_FALSE(Column(0).contains(id));
        EXPECT_EQ(GetIntValue("select count(*) from Alam where ID=" + id), 0);
    }
    boxes_->ShowRealBoxes(false);
    EXPECT_EQ(Column(3), QStringList({"丙"}));
    EXPECT_EQ(GetIntValue("select count(*) from Alam"), 1);
}

// Berlin moves its clocks on 2027-03-28 (02:00 -> 03:00) and 2027-10-31 (03:00 -> 02:00).
class BerlinTest : public AlertAnswerTest {
protected:
    void SetUp() override {
        oldTz_ = qgetenv("TZ");
        hadTz_ = qEnvironmentVariableIsSet("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
        AlertAnswerTest::SetUp();
    }
    void TearDown() override {
        AlertAnswerTest::TearDown();
        if (hadTz_)
            qputenv("TZ", oldTz_);
        else
            qunsetenv("TZ");
        tzset();
    }
    // A moment named with its offset, which tells the two 02:30s of October apart.
    static QDateTime Berlin(const char* iso) {
        return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toLocalTime();
    }
    QStringList Tick(const char* iso) {
        const int before = OpenAlerts().size();
        clock_->Set(Berlin(iso));
        RunHandler(nullptr, [&] { Main()->tmr1Timer(); });
        QStringList texts;
        for (TFormShowAlam* a : OpenAlerts().mid(before))
            texts << a->ui()->mmo1->toPlainText();
        return texts;
    }
    QByteArray oldTz_;
    bool hadTz_ = false;
};

TEST_F(BerlinTest, EditorDueCheckAndSnoozeAcrossBothClockChanges) {
    // The editor takes 02:30 of the spring-forward day as 03:00, the first moment after the gap.
    {
        TFormAddAlam editor;
        editor.ui()->DBDay->setDate(QDate(2027, 3, 28));
        editor.ui()->edtHour->setText("2");
        editor.ui()->edtMinute->setText("30");
        editor.ui()->mmoNote->setPlainText("x");
        for (const char* now : {"2027-03-25T12:00:00+01:00", "2027-03-28T03:00:00+02:00"}) {
            clock_->Set(Berlin(now));
            EXPECT_NO_THROW(editor.CheckInput()) << now;
        }
        clock_->Set(Berlin("2027-03-28T03:01:00+02:00"));
        EXPECT_THROW(editor.CheckInput(), EAppError);
        // In the repeated hour a time still to come on the clock is accepted.
        editor.ui()->DBDay->setDate(QDate(2027, 10, 31));
        clock_->Set(Berlin("2027-10-31T02:10:00+01:00"));
        EXPECT_NO_THROW(editor.CheckInput());
    }

    // Reminders inside the gap fall due at the first minute after it.
    Reminder(2, 30, 0, 1, "2027-03-28", "一次两点半");
    Reminder(2, 30, 1, 1, "2027-03-01", "每天两点半");
    EXPECT_TRUE(Tick("2027-03-28T01:59:00+01:00").isEmpty());
    EXPECT_EQ(Tick("2027-03-28T03:00:00+02:00"), QStringList({"一次两点半", "每天两点半"}));
    CloseAllAlerts();

    // In October the daily one is shown once, not again when 02:30 comes round a second time;
    // a snooze into the repeated hour falls due 3 minutes later, on the second 02:01.
    Reminder(2, 58, 0, 1, "2027-10-31", "再次提醒");
    EXPECT_TRUE(Tick("2027-10-31T02:29:00+02:00").isEmpty());
    EXPECT_EQ(Tick("2027-10-31T02:30:00+02:00"), QStringList({"每天两点半"}));
    for (const char* t : {"02:40", "02:50", "02:55"})
        Tick(QStringLiteral("2027-10-31T%1:00+02:00").arg(t).toLatin1().constData());
    ASSERT_EQ(Tick("2027-10-31T02:58:00+02:00"), QStringList({"再次提醒"}));
    Answer(OpenAlerts().back(), [](TFormShowAlam* a) { a->SnoozeClick(0); });
    DbAccess->OpenQuery("select AlamDate, iHour, iMinute from Alam where ReMark='再次提醒'");
    EXPECT_EQ(DbAccess->MainCursor.AsString(0), QStringLiteral("2027-10-31"));
    EXPECT_EQ(DbAccess->MainCursor.AsInteger(1), 2);
    EXPECT_EQ(DbAccess->MainCursor.AsInteger(2), 1);
    QStringList second;
    for (QDateTime t = Berlin("2027-10-31T02:59:00+02:00");
         t <= Berlin("2027-10-31T03:01:00+01:00"); t = t.addSecs(60)) {
        clock_->Set(t);
        const int before = OpenAlerts().size();
        Main()->tmr1Timer();
        for (TFormShowAlam* a : OpenAlerts().mid(before))
            second << a->ui()->mmo1->toPlainText();
    }
    EXPECT_EQ(second, QStringList({"再次提醒"}));
}

// The official schedule decides: a 法定工作日 reminder rings on a make-up Saturday and not on a
// holiday Monday, a daily one that skips holidays likewise; an imported year's schedule
// changes what rings then, and stays in the data file.
TEST_F(AlertTest, WorkdayRemindersFollowTheOfficialScheduleAndAnImportedYear) {
    Reminder(9, 0, 6, 1, "2026-09-01", "上班打卡");
    ExecSql("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark,SkipHolidays) "
            "values(9,0,1,1,'2026-09-01','吃药',1)");
    EXPECT_TRUE(TickAt("2026-10-05 09:00:00").isEmpty()); // Monday, 国庆节
    EXPECT_EQ(TickAt("2026-10-10 09:00:00"), QStringList({"上班打卡", "吃药"})); // Saturday, 班
    EXPECT_EQ(TickAt("2026-10-17 09:00:00"), QStringList({"吃药"}));             // Saturday
    CloseAllAlerts();
    // 2027 is not known yet: Monday to Friday.
    EXPECT_EQ(TickAt("2027-01-31 09:00:00"), QStringList({"吃药"})); // Sunday
    EXPECT_EQ(TickAt("2027-02-08 09:00:00"), QStringList({"上班打卡", "吃药"}));
    CloseAllAlerts();
    EXPECT_TRUE(
        ImportHolidays(QStringLiteral(QUILLET_SOURCE_DIR "/tests/calendar/holidays-2027.ics"))
            .contains(QStringLiteral("2027年全年")));
    Workdays::Reset(); // as at the next start, which reads the imported year from the file
    LoadImportedHolidays(DbAccess->Connection);
    EXPECT_EQ(TickAt("2027-02-20 09:00:00"), QStringList({"上班打卡", "吃药"})); // Saturday, 班
    EXPECT_TRUE(TickAt("2027-02-09 09:00:00").isEmpty());                        // 春节
    CloseAllAlerts();
    Workdays::Reset();
}

TEST_F(AlertTest, LunarYearlyFiresOnceOnItsDayAndOnItsNoticeDay) {
    ExecSql(QStringLiteral("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark,"
                           "AheadDays)  values(9,5,815,5,'2026-09-25','赏月',3) "));
    EXPECT_EQ(TickAt("2026-09-22 09:05:00"), QStringList({"还有3天：赏月"}));
    ASSERT_EQ(OpenAlerts().size(), 1);
    EXPECT_EQ(OpenAlerts().front()->ui()->btnOkSave->text(), QStringLiteral("看到了"));
    EXPECT_FALSE(OpenAlerts().front()->ui()->btnOkDel->isVisibleTo(OpenAlerts().front()));
    CloseAllAlerts();
    EXPECT_TRUE(TickAt("2026-09-22 09:05:40").isEmpty());
    EXPECT_TRUE(TickAt("2026-09-24 09:05:00").isEmpty());
    // The tick of 09:05 came late: the minute is caught up, once.
    EXPECT_TRUE(TickAt("2026-09-25 09:04:00").isEmpty());
    EXPECT_EQ(TickAt("2026-09-25 09:06:02"), QStringList({"赏月"}));
    EXPECT_TRUE(TickAt("2026-09-25 09:07:00").isEmpty());
}

TEST_F(AlertTest, AFailingDueCheckShowsOneBoxAtATimeAndResumesAfterIt) {
    ExecSql("drop table Alam");
    int ticksInsideBox = 0;
    boxes_->OnBox([&](const TBoxRecorder::Box&) {
        // The timer keeps ticking in the box's loop, minute after minute.
        if (boxes_->Count() == 1)
            for (const char* at : {"2026-12-07 10:01:00", "2026-12-07 10:02:00"}) {
                ++ticksInsideBox;
                TickAt(at);
            }
    });
    TickAt("2026-12-07 10:00:00");
    EXPECT_EQ(ticksInsideBox, 2);
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_TRUE(boxes_->LastText().startsWith(QStringLiteral("数据库查询错误，请检查！")));
    TickAt("2026-12-07 10:03:00"); // answered: the check runs (and fails) again
    EXPECT_EQ(boxes_->Count(), 2);
}

TEST(AlertPlacement, BottomRightOfTheAvailableAreaWhereverItLies) {
    const QRect area(1920, 100, 1280, 980); // a primary screen right of another one
    const QSize outer(294, 230);
    const QRect placed(AlertPosition(area, outer), outer);
    EXPECT_TRUE(area.contains(placed));
    EXPECT_EQ(area.right() - placed.right(), 2);
    EXPECT_EQ(area.bottom() - placed.bottom(), 27);
}
