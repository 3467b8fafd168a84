#include "BaseAlam.h"

#include "AlamContext.h"
#include "UntAlam.h"
#include "UntAlamContext.h"
#include "common/UntClock.h"
#include "common/UntHandler.h"
#include "common/UntLunar.h"
#include "common/UntPublic.h"
#include "common/UntWorkdays.h"
#include "storage/UException.h"
#include "storage/UntSqlText.h"
#include "ui_BaseAlam.h"

#include <QKeyEvent>
#include <QLocale>
#include <QRegularExpressionValidator>

namespace {

// The value of a number field; fallback when it holds no number.
int FieldValue(const QLineEdit* edit, int fallback) {
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok);
    return ok ? value : fallback;
}

// Typed characters other than digits are dropped; keys without a character (arrows, Delete)
// and control keys (Backspace, Enter, Tab, Esc) go on.
bool DropsKey(QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    const QString text = static_cast<QKeyEvent*>(event)->text();
    if (text.isEmpty())
        return false;
    const QChar c = text.at(0);
    if (c.category() == QChar::Other_Control)
        return false;
    return !(c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

} // namespace

TFormBaseAlam::TFormBaseAlam(QWidget* parent)
    : TFormBaseDlg(parent), ui_(std::make_unique<Ui::TFormBaseAlam>()) {
    ui_->setupUi(Client());
    FormCreate();
}

TFormBaseAlam::~TFormBaseAlam() {
    // Focus leaves the fields while the dialog is being torn down; nothing may react then.
    for (QObject* field : {ui_->edtHour, ui_->edtMinute, ui_->edtMonWeek})
        field->removeEventFilter(this);
}

void TFormBaseAlam::FormCreate() {
    // The picker is narrow: the system's short date, in figures when it spells the month.
    QString dateFormat = QLocale::system().dateFormat(QLocale::ShortFormat);
    if (dateFormat.contains(QLatin1String("MMM")))
        dateFormat = QStringLiteral("yyyy-MM-dd");
    ui_->DBDay->setDisplayFormat(dateFormat);
    ui_->DBDay->setDate(Clock::Today());
    ui_->LabMonWord->hide();
    ui_->edtMonWeek->hide();
    ui_->LabModWordAlam->hide();
    ui_->pnlMonth->hide();
    ShowKindControls(true, false, false);
    // Every month with its leap month after it: which years have one is the calendar's
    // business, and a year without it rings in the ordinary month (ShowNextLunarDay says so).
    for (int month = 1; month <= 12; ++month)
        for (bool leap : {false, true})
            ui_->cbLunarMonth->addItem(LunarMonthText(month, leap),
                                       EncodeLunarMonthDay(month, 0, leap));
    ui_->cbLunarMonth->setMaxVisibleItems(ui_->cbLunarMonth->count());
    for (int day = 1; day <= 30; ++day)
        ui_->cbLunarDay->addItem(LunarDayText(day), day);

    // Pasted text must not bring in what typing cannot.
    const QRegularExpression digits(QStringLiteral("\\d{0,2}"));
    for (QLineEdit* field : {ui_->edtHour, ui_->edtMinute, ui_->edtMonWeek}) {
        field->setValidator(new QRegularExpressionValidator(digits, field));
        field->installEventFilter(this);
    }

    connect(ui_->rbOnly, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RunHandler(this, [this] { rbOnlyClick(); });
    });
    connect(ui_->rbDay, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RunHandler(this, [this] { rbDayClick(); });
    });
    connect(ui_->rbWeek, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RunHandler(this, [this] { rbWeekClick(); });
    });
    connect(ui_->rbMonth, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RunHandler(this, [this] { rbMonthClick(); });
    });
    connect(ui_->rbYear, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RunHandler(this, [this] { rbYearClick(); });
    });
    connect(ui_->rbLunar, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RunHandler(this, [this] { rbLunarClick(); });
    });
    connect(ui_->rbWorkday, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RunHandler(this, [this] { rbWorkdayClick(); });
    });
    connect(ui_->cbLunarMonth, qOverload<int>(&QComboBox::currentIndexChanged), this,
            Handler(this, [this] { cbLunarChange(); }));
    connect(ui_->cbLunarDay, qOverload<int>(&QComboBox::currentIndexChanged), this,
            Handler(this, [this] { cbLunarChange(); }));
    connect(ui_->edtHour, &QLineEdit::textChanged, this,
            Handler(this, [this] { edtHourChange(); }));
    connect(ui_->edtMinute, &QLineEdit::textChanged, this,
            Handler(this, [this] { edtMinuteChange(); }));
    connect(ui_->edtMonWeek, &QLineEdit::textChanged, this,
            Handler(this, [this] { edtMonWeekChange(); }));
    connect(ui_->btnAlamContext, &QPushButton::clicked, this,
            Handler(this, [this] { btnAlamContextClick(); }));

    // By keyboard the form reads as it is laid out: the time, how it repeats, the day, then the
    // text and the buttons. Tab leaves the text (a reminder has no use for tab characters).
    QWidget* order[] = {ui_->edtHour,      ui_->edtMinute,
                        ui_->rbOnly,       ui_->rbDay,
                        ui_->rbWeek,       ui_->rbMonth,
                        ui_->rbYear,       ui_->rbLunar,
                        ui_->rbWorkday,    ui_->DBDay,
                        ui_->edtMonWeek,   ui_->chk1,
                        ui_->chk2,         ui_->chk3,
                        ui_->chk4,         ui_->chk5,
                        ui_->chk6,         ui_->chk7,
                        ui_->cbLunarMonth, ui_->cbLunarDay,
                        ui_->spnAhead,     ui_->chkSkipHolidays,
                        ui_->mmoNote,      ui_->btnAlamContext,
                        btnOK(),           btnCancel()};
    ui_->mmoNote->setTabChangesFocus(true);
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    tmr1_.setInterval(1000);
    connect(&tmr1_, &QTimer::timeout, this, Handler(this, [this] { tmr1Timer(); }));
    tmr1_.start();
}

void TFormBaseAlam::FormShow() {
    ui_->edtHour->setFocus();
}

QString TFormBaseAlam::WeekdayName(const QDate& day) {
    static const char* const names[] = {"星期一", "星期二", "星期三", "星期四",
                                        "星期五", "星期六", "星期日"};
    return day.isValid() ? QString::fromUtf8(names[day.dayOfWeek() - 1]) : QString();
}

QString TFormBaseAlam::ChineseDateText(const QDate& day) {
    return day.isValid()
               ? QStringLiteral("%1年%2月%3日").arg(day.year()).arg(day.month()).arg(day.day())
               : QString();
}

void TFormBaseAlam::tmr1Timer() {
    const QDateTime now = Clock::Now();
    // The rest of the form is Chinese; an English system would make this "8 Dec 2026".
    ui_->LabNow->setText(ChineseDateText(now.date()) + QLatin1Char(' ') +
                         now.time().toString(QStringLiteral("HH:mm:ss")));
    ui_->LabLabWeeks->setText(WeekdayName(now.date()));
    ui_->LabLunarNow->setText(LunarDateText(now.date()));
    // 休 with the holiday's name, or 班 on a make-up working day.
    ui_->LabDayStatus->setText(Workdays::StatusText(now.date()));
    if (ui_->rbLunar->isChecked())
        ShowNextLunarDay(); // the time of day may have gone by meanwhile
}

// ---------------------------------------------------------------- repeat kind

void TFormBaseAlam::ShowKindControls(bool date, bool monthDay, bool weekdays, bool lunar,
                                     bool ahead) {
    ui_->LabDay->setVisible(date);
    ui_->DBDay->setVisible(date);
    ui_->LabMonWord->setVisible(monthDay);
    ui_->edtMonWeek->setVisible(monthDay);
    ui_->LabModWordAlam->setVisible(monthDay);
    ui_->pnlMonth->setVisible(weekdays);
    for (QWidget* w :
         {static_cast<QWidget*>(ui_->LabLunar), static_cast<QWidget*>(ui_->cbLunarMonth),
          static_cast<QWidget*>(ui_->cbLunarDay), static_cast<QWidget*>(ui_->LabLunarNext)})
        w->setVisible(lunar);
    ui_->LabLunarNote->setVisible(lunar && !ui_->LabLunarNote->text().isEmpty());
    ui_->LabAhead->setVisible(ahead);
    ui_->spnAhead->setVisible(ahead);
    ui_->LabAheadUnit->setVisible(ahead);
    ui_->chkSkipHolidays->setVisible(ui_->rbDay->isChecked() || ui_->rbWeek->isChecked());
}

void TFormBaseAlam::rbOnlyClick() {
    ShowKindControls(true, false, false);
    ui_->DBDay->setDate(Clock::Today());
}

void TFormBaseAlam::rbDayClick() {
    ShowKindControls(false, false, false);
}

void TFormBaseAlam::rbWeekClick() {
    ShowKindControls(false, false, true);
}

void TFormBaseAlam::rbMonthClick() {
    ShowKindControls(false, true, false);
    ui_->edtMonWeek->setMaxLength(2);
    ui_->edtMonWeek->setText(QStringLiteral("1"));
}

void TFormBaseAlam::rbYearClick() {
    ShowKindControls(true, false, false, false, true);
}

void TFormBaseAlam::rbLunarClick() {
    // The lunar row says the day; a Gregorian date has no say in a lunar reminder.
    ShowKindControls(false, false, false, true, true);
    // Until the user picks one, the lunar date of the date chosen so far is offered.
    if (!lunarChosen_) {
        const TLunarDate day = SolarToLunar(ui_->DBDay->date());
        if (day.IsValid())
            PickLunar(EncodeLunarMonthDay(day.month, day.day, day.leap));
    }
    ShowNextLunarDay();
}

void TFormBaseAlam::rbWorkdayClick() {
    ShowKindControls(false, false, false);
}

void TFormBaseAlam::PickLunar(int monthDay) {
    const bool wasPicking = pickingLunar_;
    pickingLunar_ = true;
    const int month = ui_->cbLunarMonth->findData(
        EncodeLunarMonthDay(LunarMonthOf(monthDay), 0, LunarLeapOf(monthDay)));
    ui_->cbLunarMonth->setCurrentIndex(qMax(0, month));
    ui_->cbLunarDay->setCurrentIndex(qMax(0, ui_->cbLunarDay->findData(LunarDayOf(monthDay))));
    pickingLunar_ = wasPicking;
}

int TFormBaseAlam::LunarMonthDay() const {
    if (ui_->cbLunarMonth->currentIndex() < 0 || ui_->cbLunarDay->currentIndex() < 0)
        return 0;
    return ui_->cbLunarMonth->currentData().toInt() + ui_->cbLunarDay->currentData().toInt();
}

void TFormBaseAlam::cbLunarChange() {
    if (pickingLunar_)
        return;
    lunarChosen_ = true;
    ShowNextLunarDay();
}

QDate TFormBaseAlam::NextLunarRing() const {
    const QDateTime now = Clock::Now();
    const QTime at(qBound(0, FieldValue(ui_->edtHour, 0), 23),
                   qBound(0, FieldValue(ui_->edtMinute, 0), 59));
    // Today's day counts only while its minute is still to come.
    const QDate from =
        Clock::LocalMoment(now.date(), at) < now ? now.date().addDays(1) : now.date();
    return NextLunarYearlyDay(LunarMonthDay(), from);
}

void TFormBaseAlam::ShowNextLunarDay() {
    const int monthDay = LunarMonthDay();
    const QDate today = Clock::Today();
    const QDate next = NextLunarRing();
    const TLunarDate rings = SolarToLunar(next);
    ui_->LabLunarNext->setText(next.isValid() ? QStringLiteral("下次：") + ChineseDateText(next)
                                              : QString());
    QString note;
    if (rings.IsValid()) {
        const QString year = rings.year == SolarToLunar(today).year ? QStringLiteral("今年")
                                                                    : QStringLiteral("明年");
        const QString ringsOn = LunarMonthText(rings.month, rings.leap) + LunarDayText(rings.day);
        if (LunarLeapOf(monthDay) && !rings.leap)
            note = year + QStringLiteral("没有%1，在%2提醒")
                              .arg(LunarMonthText(LunarMonthOf(monthDay), true), ringsOn);
        else if (rings.day != LunarDayOf(monthDay))
            note = year + QStringLiteral("%1没有%2，在%3提醒")
                              .arg(LunarMonthText(rings.month, rings.leap),
                                   LunarDayText(LunarDayOf(monthDay)), ringsOn);
    }
    ui_->LabLunarNote->setText(note);
    ui_->LabLunarNote->setVisible(ui_->rbLunar->isChecked() && !note.isEmpty());
}

void TFormBaseAlam::ShowYearly(const TAlam& alam) {
    if (alam.ReDay == rdYearly) {
        ui_->rbYear->setChecked(true);
    } else if (alam.ReDay == rdLunarYearly) {
        PickLunar(alam.iMonWeek);
        lunarChosen_ = true;
        ui_->rbLunar->setChecked(true);
        ShowNextLunarDay();
    } else {
        return;
    }
    ui_->spnAhead->setValue(alam.AheadDays);
}

// ---------------------------------------------------------------- number fields

bool TFormBaseAlam::edtHourKeyPress(QEvent* event) const {
    return DropsKey(event);
}

bool TFormBaseAlam::edtMonWeekKeyPress(QEvent* event) const {
    return ui_->rbMonth->isChecked() && DropsKey(event);
}

void TFormBaseAlam::edtHourChange() {
    if (FieldValue(ui_->edtHour, 0) > 23)
        ui_->edtHour->setText(QStringLiteral("23"));
    else if (ui_->rbLunar->isChecked())
        ShowNextLunarDay();
}

void TFormBaseAlam::edtMinuteChange() {
    if (FieldValue(ui_->edtMinute, 0) > 59)
        ui_->edtMinute->setText(QStringLiteral("59"));
    else if (ui_->rbLunar->isChecked())
        ShowNextLunarDay();
}

void TFormBaseAlam::edtMonWeekChange() {
    if (FieldValue(ui_->edtMonWeek, 31) > 31)
        ui_->edtMonWeek->setText(QStringLiteral("31"));
}

void TFormBaseAlam::edtHourExit() {
    if (IsBlank(ui_->edtHour->text()))
        ui_->edtHour->setText(QStringLiteral("0"));
}

void TFormBaseAlam::edtMinuteExit() {
    if (IsBlank(ui_->edtMinute->text()))
        ui_->edtMinute->setText(QStringLiteral("0"));
}

void TFormBaseAlam::edtMonWeekExit() {
    if (IsBlank(ui_->edtMonWeek->text()))
        ui_->edtMonWeek->setText(QStringLiteral("1"));
}

bool TFormBaseAlam::eventFilter(QObject* watched, QEvent* event) {
    bool used = false;
    RunHandler(this, [&] {
        if (event->type() == QEvent::KeyPress) {
            if (watched == ui_->edtHour || watched == ui_->edtMinute)
                used = edtHourKeyPress(event);
            else if (watched == ui_->edtMonWeek)
                used = edtMonWeekKeyPress(event);
        } else if (event->type() == QEvent::FocusOut) {
            if (watched == ui_->edtHour)
                edtHourExit();
            else if (watched == ui_->edtMinute)
                edtMinuteExit();
            else if (watched == ui_->edtMonWeek)
                edtMonWeekExit();
        }
    });
    return used || TFormBaseDlg::eventFilter(watched, event);
}

// ---------------------------------------------------------------- preset text

void TFormBaseAlam::btnAlamContextClick() {
    QString text;
    if (PickAlamContext(text) == mrOk)
        ui_->mmoNote->setPlainText(text);
}

// ---------------------------------------------------------------- checking and saving

void TFormBaseAlam::CheckInput() {
    CheckReminderText(ui_->mmoNote->toPlainText());
    if (ui_->rbOnly->isChecked()) {
        const int hour = qBound(0, FieldValue(ui_->edtHour, 0), 23);
        const int minute = qBound(0, FieldValue(ui_->edtMinute, 0), 59);
        const QDateTime moment = Clock::LocalMoment(ui_->DBDay->date(), QTime(hour, minute));
        if (Clock::Now() > moment)
            throw EAppError(QStringLiteral("设置的提醒时间不能早于现在时间！"));
    }
    if (ui_->rbWeek->isChecked()) {
        bool any = false;
        for (const QCheckBox* box :
             {ui_->chk1, ui_->chk2, ui_->chk3, ui_->chk4, ui_->chk5, ui_->chk6, ui_->chk7})
            any = any || box->isChecked();
        if (!any)
            throw EAppError(QStringLiteral("必须选择周几提醒！"));
    }
}

void TFormBaseAlam::StoreInto(TAlam& alam) const {
    if (ui_->rbDay->isChecked())
        alam.ReDay = rdDaily;
    else if (ui_->rbWeek->isChecked())
        alam.ReDay = rdWeekly;
    else if (ui_->rbMonth->isChecked())
        alam.ReDay = rdMonthly;
    else if (ui_->rbYear->isChecked())
        alam.ReDay = rdYearly;
    else if (ui_->rbLunar->isChecked())
        alam.ReDay = rdLunarYearly;
    else if (ui_->rbWorkday->isChecked())
        alam.ReDay = rdWorkdays;
    else
        alam.ReDay = rdOnce;
    alam.SkipHolidays = CanSkipHolidays(alam.ReDay) && ui_->chkSkipHolidays->isChecked();
    alam.iHour = FieldValue(ui_->edtHour, 0);
    alam.iMinute = FieldValue(ui_->edtMinute, 0);
    if (ui_->rbWeek->isChecked()) {
        QString days;
        const QCheckBox* boxes[] = {ui_->chk1, ui_->chk2, ui_->chk3, ui_->chk4,
                                    ui_->chk5, ui_->chk6, ui_->chk7};
        for (int i = 0; i < 7; ++i)
            if (boxes[i]->isChecked())
                days += QChar(u'1' + i);
        alam.iMonWeek = days.toInt();
    } else if (ui_->rbLunar->isChecked()) {
        alam.iMonWeek = LunarMonthDay();
    } else {
        alam.iMonWeek = FieldValue(ui_->edtMonWeek, 1);
    }
    QDate day = ui_->DBDay->date();
    // A lunar reminder's date is the first day it rings, as a calendar file gives it.
    if (ui_->rbLunar->isChecked()) {
        const QDate next = NextLunarRing();
        if (next.isValid())
            day = next;
    }
    alam.AlamDate = QDateTime(day, QTime(0, 0));
    alam.ReMark = ui_->mmoNote->toPlainText();
    alam.AheadDays = ui_->spnAhead->value();
}
