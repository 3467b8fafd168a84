#include "ReminderTestSupport.h"

#include "reminders/AddAlam.h"
#include "reminders/ModAlam.h"
#include "ui_BaseAlam.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTest>

namespace {
const QDate Monday(2026, 12, 7);
}

class AlamEditorTest : public AlamTest {
protected:
    void SetUp() override {
        AlamTest::SetUp();
        dlg = std::make_unique<TFormAddAlam>();
        ui = dlg->ui();
    }
    void TearDown() override {
        dlg.reset();
        AlamTest::TearDown();
    }
    // OK as the user presses it; the error box, if any, is recorded.
    void PressOK() { QTest::mouseClick(dlg->btnOK(), Qt::LeftButton); }
    bool Accepted() const { return dlg->result() == QDialog::Accepted; }

    TPinnedClock clock_{At("2026-12-07 10:15:20")};
    std::unique_ptr<TFormBaseAlam> dlg;
    Ui::TFormBaseAlam* ui = nullptr;
};

TEST_F(AlamEditorTest, NewDialogStartsAsOnceTodayAtNine) {
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("新建提醒"));
    dlg->show();
    EXPECT_EQ(dlg->focusWidget(), ui->edtHour);
    EXPECT_EQ(ui->edtHour->text(), QStringLiteral("9"));
    EXPECT_EQ(ui->edtMinute->text(), QStringLiteral("0"));
    EXPECT_EQ(ui->edtMonWeek->text(), QStringLiteral("1"));
    EXPECT_TRUE(ui->rbOnly->isChecked());
    EXPECT_EQ(ui->DBDay->date(), Monday);
    EXPECT_TRUE(ui->mmoNote->toPlainText().isEmpty());
    EXPECT_TRUE(ui->DBDay->isVisible());
    EXPECT_FALSE(ui->edtMonWeek->isVisible());
    EXPECT_FALSE(ui->pnlMonth->isVisible());
    EXPECT_EQ(ui->btnAlamContext->text(), QStringLiteral("设"));
    EXPECT_EQ(ui->btnAlamContext->toolTip(), QStringLiteral("预设提醒内容"));
    EXPECT_TRUE(dlg->btnOK()->isDefault());
    TFormModAlam mod;
    EXPECT_EQ(mod.windowTitle(), QStringLiteral("修改提醒"));
}

// The form is Chinese whatever the system's language: its dates too.
TEST_F(AlamEditorTest, ClockLineShowsDateTimeAndWeekdayFromTheFirstTickInChinese) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    EXPECT_TRUE(ui->LabNow->text().isEmpty());
    EXPECT_TRUE(ui->LabLabWeeks->text().isEmpty());
    EXPECT_EQ(dlg->tmr1()->interval(), 1000);
    EXPECT_TRUE(dlg->tmr1()->isActive());
    dlg->tmr1Timer();
    EXPECT_EQ(ui->LabNow->text(), QStringLiteral("2026年12月7日 10:15:20"));
    ui->DBDay->setDate(QDate(2026, 9, 25));
    ui->rbLunar->click();
    EXPECT_EQ(ui->LabLunarNext->text(), QStringLiteral("下次：2027年9月15日"));
    EXPECT_EQ(ui->LabLabWeeks->text(), QStringLiteral("星期一"));
    QStringList names;
    for (int d = 0; d < 7; ++d)
        names << TFormBaseAlam::WeekdayName(Monday.addDays(d));
    EXPECT_EQ(names,
              QStringList({"星期一", "星期二", "星期三", "星期四", "星期五", "星期六", "星期日"}));
}

TEST_F(AlamEditorTest, OnceReminderMustNotLieBeforeNow) {
    dlg->show();
    ui->mmoNote->setPlainText("开会");
    ui->edtHour->setText("10");
    ui->edtMinute->setText("15");
    PressOK();
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("设置的提醒时间不能早于现在时间！"));
    EXPECT_EQ(boxes_->Boxes().back().caption, QStringLiteral("错误"));
    EXPECT_FALSE(Accepted());
    EXPECT_EQ(AlamCount(), 0);

    clock_.Set(At("2026-12-07 10:15:00")); // the same instant passes
    PressOK();
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(AlamCount(), 1);
}

TEST_F(AlamEditorTest, OneMinuteLaterIsAcceptedAndStoredAsTyped) {
    dlg->show();
    ui->mmoNote->setPlainText("  开会\n");
    ui->edtHour->setText("10");
    ui->edtMinute->setText("16");
    PressOK();
    EXPECT_EQ(boxes_->Count(), 0);
    ASSERT_TRUE(Accepted());
    alam_.Load(QString::number(GetIntValue("select max(ID) from Alam")));
    EXPECT_EQ(alam_.ReDay, rdOnce);
    EXPECT_EQ(alam_.iHour, 10);
    EXPECT_EQ(alam_.iMinute, 16);
    EXPECT_EQ(alam_.iMonWeek, 1);
    EXPECT_EQ(alam_.AlamDate.date(), Monday);
    EXPECT_EQ(alam_.ReMark, QStringLiteral("  开会\n"));
}

TEST_F(AlamEditorTest, EmptyTextIsRefusedBeforeTheTimeCheck) {
    dlg->show(); // 9:00 today has passed too
    for (const QString& text : {QString(), QStringLiteral(" \n\t\r\n  ")}) {
        ui->mmoNote->setPlainText(text);
        PressOK();
        EXPECT_EQ(boxes_->LastText(), QStringLiteral("提醒内容不能为空！"));
    }
    EXPECT_EQ(boxes_->Count(), 2);
    EXPECT_FALSE(Accepted());
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(AlamCount(), 0);
}

TEST_F(AlamEditorTest, DailyReminderForAPastHourIsAccepted) {
    dlg->show();
    ui->rbDay->setChecked(true);
    ui->mmoNote->setPlainText("吃药");
    PressOK();
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(GetIntValue("select ReDay from Alam"), rdDaily);
}

TEST_F(AlamEditorTest, WeeklyNeedsADayAndStoresTheDigits) {
    dlg->show();
    ui->mmoNote->setPlainText("例会");
    QTest::mouseClick(ui->rbWeek, Qt::LeftButton);
    EXPECT_TRUE(ui->pnlMonth->isVisible());
    EXPECT_FALSE(ui->DBDay->isVisible());
    PressOK();
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("必须选择周几提醒！"));
    EXPECT_EQ(AlamCount(), 0);
    for (QCheckBox* box : {ui->chk5, ui->chk1, ui->chk3})
        QTest::mouseClick(box, Qt::LeftButton);
    PressOK();
    ASSERT_TRUE(Accepted());
    EXPECT_EQ(GetIntValue("select iMonWeek from Alam"), 135);
    EXPECT_EQ(GetIntValue("select ReDay from Alam"), rdWeekly);
}

TEST_F(AlamEditorTest, FieldsTakeOnlyDigitsAndClampTheirValues) {
    Retype(ui->edtHour, "4a-5");
    EXPECT_EQ(ui->edtHour->text(), QStringLiteral("23"));
    Retype(ui->edtMinute, "75");
    EXPECT_EQ(ui->edtMinute->text(), QStringLiteral("59"));
    Retype(ui->edtMinute, " 7");
    EXPECT_EQ(ui->edtMinute->text(), QStringLiteral("7"));
    QTest::mouseClick(ui->rbMonth, Qt::LeftButton);
    Retype(ui->edtMonWeek, "45");
    EXPECT_EQ(ui->edtMonWeek->text(), QStringLiteral("31"));
    for (const QString day : {"10", "20", "30"}) {
        Retype(ui->edtMonWeek, day);
        EXPECT_EQ(ui->edtMonWeek->text(), day);
    }
    Retype(ui->edtMonWeek, "x9");
    EXPECT_EQ(ui->edtMonWeek->text(), QStringLiteral("9"));
}

TEST_F(AlamEditorTest, EmptiedFieldsGetTheirDefaultsWhenLeft) {
    dlg->show();
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    QTest::mouseClick(ui->rbMonth, Qt::LeftButton);
    for (auto [edit, expected] : {std::pair{ui->edtHour, "0"}, std::pair{ui->edtMinute, "0"},
                                  std::pair{ui->edtMonWeek, "1"}}) {
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->clear();
        ui->mmoNote->setFocus();
        QTRY_VERIFY(ui->mmoNote->hasFocus());
        EXPECT_EQ(edit->text(), QString::fromUtf8(expected));
    }
}

TEST_F(AlamEditorTest, RepeatKindsResetTheDayAndTheDate) {
    dlg->show();
    QTest::mouseClick(ui->rbMonth, Qt::LeftButton);
    EXPECT_TRUE(ui->edtMonWeek->isVisible());
    EXPECT_FALSE(ui->pnlMonth->isVisible());
    ui->edtMonWeek->setText("15");
    QTest::mouseClick(ui->rbDay, Qt::LeftButton);
    EXPECT_FALSE(ui->edtMonWeek->isVisible());
    EXPECT_FALSE(ui->DBDay->isVisible());
    QTest::mouseClick(ui->rbMonth, Qt::LeftButton);
    EXPECT_EQ(ui->edtMonWeek->text(), QStringLiteral("1"));

    QTest::mouseClick(ui->rbOnly, Qt::LeftButton);
    ui->DBDay->setDate(QDate(2026, 12, 25));
    QTest::mouseClick(ui->rbOnly, Qt::LeftButton); // already checked: nothing happens
    EXPECT_EQ(ui->DBDay->date(), QDate(2026, 12, 25));
    QTest::mouseClick(ui->rbWeek, Qt::LeftButton);
    QTest::mouseClick(ui->rbOnly, Qt::LeftButton);
    EXPECT_EQ(ui->DBDay->date(), Monday);
    EXPECT_TRUE(ui->DBDay->isVisible());
}

TEST_F(AlamEditorTest, ModifyDialogShowsTheStoredReminder) {
    const QString weekly = AddAlam(rdWeekly, 7, 30, 135, Monday, "周报");
    const QString monthly = AddAlam(rdMonthly, 8, 0, 15, Monday, "房租");
    const QString once = AddAlam(rdOnce, 18, 45, 1, QDate(2026, 12, 24), "平安夜");
    {
        TFormModAlam mod;
        mod.AlamID = weekly;
        mod.show();
        EXPECT_TRUE(mod.ui()->rbWeek->isChecked());
        QStringList checked;
        for (QCheckBox* box : mod.ui()->pnlMonth->findChildren<QCheckBox*>())
            if (box->isChecked())
                checked << box->text();
        checked.sort();
        EXPECT_EQ(checked, QStringList({"周一", "周三", "周五"}));
        EXPECT_EQ(mod.ui()->edtHour->text(), QStringLiteral("7"));
        EXPECT_EQ(mod.ui()->edtMinute->text(), QStringLiteral("30"));
        EXPECT_EQ(mod.ui()->mmoNote->toPlainText(), QStringLiteral("周报"));
        EXPECT_EQ(mod.focusWidget(), mod.ui()->edtHour);
    }
    {
        TFormModAlam mod;
        mod.AlamID = monthly;
        mod.show();
        EXPECT_TRUE(mod.ui()->rbMonth->isChecked());
        EXPECT_EQ(mod.ui()->edtMonWeek->text(), QStringLiteral("15"));
    }
    {
        TFormModAlam mod;
        mod.AlamID = once;
        mod.show();
        EXPECT_TRUE(mod.ui()->rbOnly->isChecked());
        EXPECT_EQ(mod.ui()->DBDay->date(), QDate(2026, 12, 24));
        alam_.MarkSeen(once);
        mod.ui()->edtHour->setText("19");
        QTest::mouseClick(mod.btnOK(), Qt::LeftButton);
        EXPECT_EQ(mod.result(), QDialog::Accepted);
        EXPECT_EQ(GetIntValue("select iHour from Alam where ID=" + once), 19);
        EXPECT_EQ(GetIntValue("select bLook from Alam where ID=" + once), 0);
    }
    EXPECT_EQ(AlamCount(), 3);
}

TEST_F(AlamEditorTest, EnterSavesAndEscapeCancels) {
    WhenModal([](QDialog* d) {
        TypeText(d->findChild<QPlainTextEdit*>("mmoNote"), "下班");
        auto* hour = d->findChild<QLineEdit*>("edtHour");
        hour->setText("18");
        QTest::keyClick(hour, Qt::Key_Return);
    });
    EXPECT_EQ(ShowAddAlam(), int(mrOk));
    EXPECT_EQ(AlamCount(), 1);

    WhenModal([](QDialog* d) {
        d->findChild<QPlainTextEdit*>("mmoNote")->setPlainText("不存");
        d->findChild<QLineEdit*>("edtHour")->setText("20");
        QTest::keyClick(d->findChild<QLineEdit*>("edtHour"), Qt::Key_Escape);
    });
    EXPECT_EQ(ShowAddAlam(), int(mrCancel));
    EXPECT_EQ(AlamCount(), 1);
}

// By keyboard alone: Tab from the minutes goes on through the form to the text and on to
// 确定 without typing a tab into the text; Enter there saves.
TEST_F(AlamEditorTest, TabGoesFromTheTimeThroughTheTextToOK) {
    QStringList visited;
    WhenModal([&](QDialog* d) {
        TypeText(d->findChild<QPlainTextEdit*>("mmoNote"), "下班");
        d->findChild<QLineEdit*>("edtHour")->setText("18");
        d->findChild<QLineEdit*>("edtMinute")->setFocus();
        for (int i = 0; i < 12 && !qobject_cast<QPushButton*>(d->focusWidget()); ++i) {
            QTest::keyClick(d->focusWidget(), Qt::Key_Tab);
            visited << d->focusWidget()->objectName();
        }
        if (auto* button = qobject_cast<QPushButton*>(d->focusWidget());
            button && button->text() == "设")
            QTest::keyClick(button, Qt::Key_Tab);
        QTest::keyClick(d->focusWidget(), Qt::Key_Return);
    });
    EXPECT_EQ(ShowAddAlam(), int(mrOk)) << visited.join(',').toStdString();
    EXPECT_EQ(visited.first(), "rbOnly");
    EXPECT_TRUE(visited.contains("mmoNote")) << visited.join(',').toStdString();
    EXPECT_EQ(ReadRows("select ReMark from Alam").value(0).value(0), QStringLiteral("下班"));
}

TEST_F(AlamEditorTest, TextWithQuoteAndSeparatorIsSavedListedAndEditedUnchanged) {
    const QString text = QStringLiteral("Tom's 提醒 @#@ '); drop table Alam; --");
    dlg->show();
    dlg->ui()->rbDay->setChecked(true);
    ui->mmoNote->setPlainText(text);
    PressOK();
    ASSERT_TRUE(Accepted());
    alam_.LoadList(&view_, 0);
    ASSERT_EQ(view_.topLevelItemCount(), 1);
    EXPECT_EQ(view_.topLevelItem(0)->text(3), text);
    const QString id = view_.topLevelItem(0)->text(0);
    WhenModal([&](QDialog* d) {
        auto* note = d->findChild<QPlainTextEdit*>("mmoNote");
        EXPECT_EQ(note->toPlainText(), text);
        note->appendPlainText("'@#@'");
        QTest::mouseClick(d->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    });
    ASSERT_EQ(ShowModAlam(id), int(mrOk));
    alam_.Load(id);
    EXPECT_EQ(alam_.ReMark, text + "\n'@#@'");
    EXPECT_EQ(AlamCount(), 1);
}

TEST_F(AlamEditorTest, ModifyingAReminderDeletedMeanwhileKeepsWhatWasTyped) {
    const QString id = AddAlam(rdDaily, 8, 0, 1, Monday, QStringLiteral("旧的"));
    bool stayedOpen = false;
    WhenModal([&](QDialog* d) {
        d->findChild<QPlainTextEdit*>("mmoNote")->setPlainText(QStringLiteral("新写的"));
        alam_.Delete(id); // its alert deleted it meanwhile
        QTest::mouseClick(d->findChild<QPushButton*>("btnOK"), Qt::LeftButton); // No
        stayedOpen = d->isVisible() && AlamCount() == 0;
        QTest::mouseClick(d->findChild<QPushButton*>("btnOK"), Qt::LeftButton); // Yes
    });
    boxes_->AnswerNo();
    boxes_->AnswerYes();
    EXPECT_EQ(ShowModAlam(id), int(mrOk));
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(boxes_->Count(), 2);
    EXPECT_EQ(boxes_->Boxes()[0].kind, BoxKind::Question);
    ASSERT_EQ(AlamCount(), 1);
    DbAccess->OpenQuery(QStringLiteral("select ReMark, iHour from Alam"));
    EXPECT_EQ(DbAccess->MainCursor.AsString(0), QStringLiteral("新写的"));
    EXPECT_EQ(DbAccess->MainCursor.AsInteger(1), 8);
}

TEST_F(AlamEditorTest, FailedLoadIsReportedAndTheDialogStillOpens) {
    QString hour;
    WhenModal([&](QDialog* d) {
        hour = d->findChild<QLineEdit*>("edtHour")->text();
        d->reject();
    });
    EXPECT_EQ(ShowModAlam("404"), int(mrCancel));
    EXPECT_EQ(hour, QStringLiteral("9"));
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_TRUE(boxes_->LastText().startsWith(QStringLiteral("数据库查询错误，请检查！")));
}

TEST_F(AlamEditorTest, YearlyKindsShowTheirControlsAndSave) {
    dlg->show();
    dlg->tmr1Timer();
    EXPECT_EQ(ui->LabLunarNow->text(), QStringLiteral("农历十月廿九"));
    ui->rbYear->click();
    EXPECT_TRUE(ui->DBDay->isVisible());
    EXPECT_TRUE(ui->spnAhead->isVisible());
    EXPECT_FALSE(ui->cbLunarMonth->isVisible());
    EXPECT_EQ(ui->spnAhead->maximum(), 30);
    ui->DBDay->setDate(QDate(2024, 2, 29));
    ui->spnAhead->setValue(3);
    ui->mmoNote->setPlainText(QStringLiteral("生日"));
    PressOK();
    ASSERT_TRUE(Accepted()) << boxes_->LastText();
    alam_.Load(QString::number(GetIntValue(QStringLiteral("select max(ID) from Alam"))));
    EXPECT_EQ(alam_.ReDay, rdYearly);
    EXPECT_EQ(alam_.AlamDate.date(), QDate(2024, 2, 29));
    EXPECT_EQ(alam_.AheadDays, 3);
}

// 法定工作日 is a kind of its own; 节假日不提醒 belongs to the daily and weekly kinds, is
// stored with them, shown in the list and read back by 修改提醒. The clock line says 休.
TEST_F(AlamEditorTest, WorkdayKindAndSkippingHolidaysAreStoredListedAndShownAgain) {
    clock_.Set(At("2026-10-01 08:00:00"));
    dlg->show();
    dlg->tmr1Timer();
    EXPECT_EQ(ui->LabDayStatus->text(), QStringLiteral("休 国庆节"));
    EXPECT_FALSE(ui->chkSkipHolidays->isVisible());
    ui->rbWorkday->click();
    EXPECT_FALSE(ui->DBDay->isVisible());
    EXPECT_FALSE(ui->chkSkipHolidays->isVisible());
    ui->mmoNote->setPlainText(QStringLiteral("打卡"));
    PressOK();
    ASSERT_TRUE(Accepted()) << boxes_->LastText();

    dlg = std::make_unique<TFormAddAlam>();
    ui = dlg->ui();
    dlg->show();
    ui->rbWeek->click();
    ui->chk1->setChecked(true);
    ASSERT_TRUE(ui->chkSkipHolidays->isVisible());
    ui->chkSkipHolidays->setChecked(true);
    ui->mmoNote->setPlainText(QStringLiteral("周会"));
    PressOK();
    ASSERT_TRUE(Accepted()) << boxes_->LastText();
    EXPECT_EQ(ReadRows("select ReDay, SkipHolidays, ReMark from Alam order by ID"),
              TRows({{"6", "0", "打卡"}, {"2", "1", "周会"}}));
    const TRows listed = AlamData->ListRows(4); // 每天 holds the workday kind too
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0][1], QStringLiteral("法定工作日"));
    EXPECT_TRUE(
        AlamData->ListRows(5).value(0).value(2).endsWith(QStringLiteral("（节假日不提醒）")));

    TFormModAlam mod;
    mod.AlamID = ReadRows("select max(ID) from Alam").value(0).value(0);
    mod.show();
    EXPECT_TRUE(mod.ui()->rbWeek->isChecked());
    EXPECT_TRUE(mod.ui()->chkSkipHolidays->isChecked());
}

// The lunar row starts at the lunar date of the date chosen so far; what the user picks there
// is kept whatever happens to that date. Every month can be picked as a leap month; a year
// without it rings in the ordinary month, and the form says so.
TEST_F(AlamEditorTest, LunarChoiceIsTheUsersOwnAndOffersEveryLeapMonth) {
    dlg->show();
    ui->rbLunar->click();
    EXPECT_EQ(ui->cbLunarMonth->currentText() + ui->cbLunarDay->currentText(),
              QStringLiteral("十月廿九")); // today
    ui->edtHour->setText("11");
    EXPECT_EQ(ui->LabLunarNext->text(), QStringLiteral("下次：2026年12月7日"));
    ui->edtHour->setText("9"); // gone by today
    EXPECT_NE(ui->LabLunarNext->text(), QStringLiteral("下次：2026年12月7日"));

    ui->rbYear->click();
    ui->DBDay->setDate(QDate(2025, 7, 25)); // 闰六月初一
    ui->rbLunar->click();
    EXPECT_FALSE(ui->DBDay->isVisible());
    EXPECT_TRUE(ui->cbLunarMonth->isVisible());
    EXPECT_TRUE(ui->spnAhead->isVisible());
    EXPECT_EQ(ui->cbLunarMonth->currentText(), QStringLiteral("闰六月"));
    EXPECT_EQ(ui->cbLunarDay->currentText(), QStringLiteral("初一"));
    EXPECT_EQ(ui->cbLunarDay->count(), 30);
    EXPECT_EQ(ui->cbLunarMonth->count(), 24);
    for (int i = 0; i < ui->cbLunarMonth->count(); i += 2)
        EXPECT_EQ(ui->cbLunarMonth->itemText(i + 1), "闰" + ui->cbLunarMonth->itemText(i));

    // This 腊月 has 29 days: New Year's Eve is its 廿九.
    ui->cbLunarMonth->setCurrentIndex(ui->cbLunarMonth->findText(QStringLiteral("腊月")));
    ui->cbLunarDay->setCurrentIndex(ui->cbLunarDay->findText(QStringLiteral("三十")));
    EXPECT_EQ(ui->LabLunarNext->text(), QStringLiteral("下次：2027年2月5日"));
    EXPECT_EQ(ui->LabLunarNote->text(), QStringLiteral("今年腊月没有三十，在腊月廿九提醒"));

    // 2026 and 2027 have no 闰四月: picked all the same, it rings on 四月初八.
    ui->cbLunarMonth->setCurrentIndex(ui->cbLunarMonth->findText(QStringLiteral("闰四月")));
    ui->cbLunarDay->setCurrentIndex(ui->cbLunarDay->findText(QStringLiteral("初八")));
    EXPECT_EQ(ui->LabLunarNext->text(), QStringLiteral("下次：2027年5月13日"));
    EXPECT_TRUE(ui->LabLunarNote->isVisible());
    EXPECT_EQ(ui->LabLunarNote->text(), QStringLiteral("明年没有闰四月，在四月初八提醒"));

    ui->DBDay->setDate(QDate(2026, 9, 25));
    ui->rbYear->click();
    EXPECT_FALSE(ui->LabLunarNote->isVisible());
    ui->DBDay->setDate(QDate(2028, 1, 1));
    ui->rbLunar->click();
    EXPECT_EQ(ui->cbLunarMonth->currentText(), QStringLiteral("闰四月"));
    EXPECT_EQ(ui->cbLunarDay->currentText(), QStringLiteral("初八"));
    EXPECT_TRUE(ui->LabLunarNote->isVisible());

    ui->spnAhead->setValue(5);
    ui->mmoNote->setPlainText(QStringLiteral("浴佛"));
    PressOK();
    ASSERT_TRUE(Accepted()) << boxes_->LastText();
    const QString id = QString::number(GetIntValue(QStringLiteral("select max(ID) from Alam")));
    alam_.Load(id);
    EXPECT_EQ(alam_.ReDay, rdLunarYearly);
    EXPECT_EQ(alam_.iMonWeek, 10408);
    EXPECT_EQ(alam_.AheadDays, 5);
    EXPECT_EQ(alam_.AlamDate.date(), QDate(2027, 5, 13)); // the first day it rings
}

TEST_F(AlamEditorTest, ModifyShowsAStoredLeapMonthReminder) {
    alam_.AheadDays = 7;
    const QString id = AddAlam(rdLunarYearly, 8, 30, 10601, QDate(2025, 7, 25), "闰月");
    alam_.AheadDays = 0;
    WhenModal([](QDialog* d) {
        EXPECT_TRUE(d->findChild<QRadioButton*>("rbLunar")->isChecked());
        EXPECT_EQ(d->findChild<QComboBox*>("cbLunarMonth")->currentText(),
                  QStringLiteral("闰六月"));
        EXPECT_EQ(d->findChild<QComboBox*>("cbLunarDay")->currentText(), QStringLiteral("初一"));
        EXPECT_EQ(d->findChild<QSpinBox*>("spnAhead")->value(), 7);
        EXPECT_EQ(d->findChild<QDateEdit*>("DBDay")->date(), QDate(2025, 7, 25));
        EXPECT_EQ(d->findChild<QLabel*>("LabLunarNote")->text(),
                  QStringLiteral("明年没有闰六月，在六月初一提醒"));
        d->reject();
    });
    EXPECT_EQ(ShowModAlam(id), int(mrCancel));
}
