#include "UntHolidayIcs.h"

#include "UntForeignText.h"
#include "UntIcal.h"
#include "UntPublic.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <libical/ical.h>
#include <memory>
#include <vector>

namespace {

const QString NothingImported = QStringLiteral("，没有导入放假安排。");

// Longer than any holiday period, even 2020's extended Spring Festival: an event this long is
// no holiday (a "休" note across a season, say).
constexpr qint64 LongestPeriod = 31;

QString Utf8(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

struct TEnglishName {
    const char* english;
    const char* chinese;
};
const TEnglishName EnglishNames[] = {
    {"New Year's Day", "元旦"},         {"Spring Festival", "春节"},
    {"Tomb-sweeping Day", "清明节"},    {"Qingming Festival", "清明节"},
    {"Labour Day", "劳动节"},           {"Labor Day", "劳动节"},
    {"Dragon Boat Festival", "端午节"}, {"Mid-autumn Festival", "中秋节"},
    {"National Day", "国庆节"},
};

// The name the State Council's notices, and so our bar, use.
QString NoticeName(const QString& text) {
    static const QRegularExpression edges(QStringLiteral("^[\\s·:：\\-—_]+|[\\s·:：\\-—_]+$"));
    static const QRegularExpression period(QStringLiteral("(假期|假日|放假)$"));
    QString name = text.simplified();
    name.remove(edges);
    name.remove(period);
    if (name == u"清明" || name == u"端午" || name == u"中秋")
        return name + u'节';
    for (const TEnglishName& e : EnglishNames)
        if (name.compare(QLatin1String(e.english), Qt::CaseInsensitive) == 0)
            return QString::fromUtf8(e.chinese);
    return name;
}

TDayKind KindOfWord(const QString& word) {
    static const QRegularExpression work(
        QStringLiteral("^(班|上班|补班|调休上班|workday|working day)$"),
        QRegularExpression::CaseInsensitiveOption);
    return work.match(word).hasMatch() ? dkMakeUpWork : dkHoliday;
}

QString XValue(icalcomponent* event, const char* name) {
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_X_PROPERTY))
        if (qstricmp(icalproperty_get_x_name(p), name) == 0)
            return Utf8(icalproperty_get_x(p)).trimmed();
    return QString();
}

// 休 or 班 and the holiday's name, from the summary's mark, else from the properties some
// feeds carry it in; dkOrdinary for an event that is no holiday schedule's.
TDayStatus MarkOf(icalcomponent* event) {
    static const QRegularExpression bracketed(
        QStringLiteral("^(.*?)\\s*[(（\\[【]\\s*(休|班|放假|休息|上班|补班|调休上班|holiday|"
                       "workday|working day|day off)\\s*[)）\\]】]$"),
        QRegularExpression::CaseInsensitiveOption);
    // Alternatives that end alike are tried longest first at each place.
    static const QRegularExpression trailing(
        QStringLiteral("^(.*?)[\\s·:：\\-]*(调休上班|补班|上班|放假|休息|假期|调休|班|休)$"));
    const QString summary = Utf8(icalcomponent_get_summary(event)).simplified();
    for (const QRegularExpression* form : {&bracketed, &trailing})
        if (const QRegularExpressionMatch m = form->match(summary); m.hasMatch())
            return {KindOfWord(m.captured(2)), NoticeName(m.captured(1))};
    const QString special = XValue(event, "X-APPLE-SPECIAL-DAY");
    if (special.compare(QLatin1String("WORK-HOLIDAY"), Qt::CaseInsensitive) == 0)
        return {dkHoliday, NoticeName(summary)};
    if (special.compare(QLatin1String("ALTERNATE-WORKDAY"), Qt::CaseInsensitive) == 0)
        return {dkMakeUpWork, NoticeName(summary)};
    const QString description = Utf8(icalcomponent_get_description(event)).trimmed();
    if (description == u"休" ||
        description.compare(QLatin1String("Holiday"), Qt::CaseInsensitive) == 0)
        return {dkHoliday, NoticeName(summary)};
    if (description == u"班" ||
        description.compare(QLatin1String("Workday"), Qt::CaseInsensitive) == 0)
        return {dkMakeUpWork, NoticeName(summary)};
    return {};
}

// The day a start or end falls on in Beijing, whose days the schedule names.
QDate BeijingDay(icaltimetype t) {
    if (!t.is_date && icaltime_is_utc(t))
        t = icaltime_add(t, icaldurationtype_from_int(8 * 3600));
    return QDate(t.year, t.month, t.day);
}

struct TEvent {
    QDate first;
    QDate last;
    TDayStatus mark;
};

// The days an event takes: DTEND (or DTSTART plus DURATION) is exclusive at midnight.
bool DaysOf(icalcomponent* event, QDate* first, QDate* last) {
    const icaltimetype start = icalcomponent_get_dtstart(event);
    if (icaltime_is_null_time(start))
        return false;
    *first = BeijingDay(start);
    if (!first->isValid())
        return false;
    *last = *first;
    const icaltimetype end = icalcomponent_get_dtend(event);
    if (!icaltime_is_null_time(end)) {
        const QDate day = BeijingDay(end);
        const bool midnight = end.is_date || (end.hour == 0 && end.minute == 0 && end.second == 0);
        if (day.isValid() && (midnight ? day.addDays(-1) : day) > *first)
            *last = midnight ? day.addDays(-1) : day;
    }
    return first->daysTo(*last) < LongestPeriod;
}

QString ErrorIn(icalcomponent* event) {
    icalproperty* p = icalcomponent_get_first_property(event, ICAL_XLICERROR_PROPERTY);
    return p ? Utf8(icalproperty_get_xlicerror(p)) : QString();
}

THolidayFile Refused(const QString& why) {
    THolidayFile file;
    file.Error = why;
    return file;
}

} // namespace

QList<int> THolidayFile::CoveredYears() const {
    QList<int> years;
    for (const THolidayYear& y : Years)
        if (std::any_of(y.Days.cbegin(), y.Days.cend(),
                        [](const TDayStatus& s) { return s.Kind == dkHoliday; }))
            years << y.Year;
    return years;
}

THolidayFile ReadHolidayIcs(const QString& path) {
    QFile file(path);
    errno = 0;
    QByteArray data;
    if (file.open(QIODevice::ReadOnly))
        data = file.readAll();
    if (!file.isOpen() || file.error() != QFileDevice::NoError)
        return Refused(QStringLiteral("无法读取日历文件：") + path + u'\n' +
                       (errno ? FileErrorText(errno) : file.errorString()));
    return ParseHolidayIcs(data);
}

THolidayFile ParseHolidayIcs(const QByteArray& raw) {
    static const bool quiet = [] {
        icalerror_set_errors_are_fatal(0);
        return true;
    }();
    (void)quiet;
    const QByteArray data = DecodeForeignText(raw).toUtf8();
    if (data.trimmed().left(15).toUpper() != "BEGIN:VCALENDAR")
        return Refused(QStringLiteral("这不是日历文件（iCalendar）") + NothingImported);
    if (data.contains('\0'))
        return Refused(QStringLiteral("日历文件已损坏") + NothingImported);
    TComponent root(icalparser_parse_string(data.constData()));
    if (!root)
        return Refused(QStringLiteral("日历文件已损坏（不完整）") + NothingImported);

    const QList<icalcomponent*> found = CalendarEvents(root.get());
    std::vector<TEvent> events;
    for (icalcomponent* e : found) {
        if (icalcomponent_get_status(e) == ICAL_STATUS_CANCELLED)
            continue;
        TEvent event;
        event.mark = MarkOf(e);
        if (event.mark.Kind == dkOrdinary)
            continue;
        // Feeds carry properties of their own that the parser marks (a stray TIMEZONE-ID, say);
        // in a holiday's event such a mark may hide a day of the schedule.
        if (const QString error = ErrorIn(e); !error.isEmpty())
            return Refused(QStringLiteral("日历文件已损坏") + NothingImported +
                           QStringLiteral("\n详细信息：") + error);
        if (DaysOf(e, &event.first, &event.last))
            events.push_back(event);
    }
    // Where periods overlap (国庆节 over 中秋节), the shorter one names the day.
    std::stable_sort(events.begin(), events.end(), [](const TEvent& a, const TEvent& b) {
        return a.first.daysTo(a.last) < b.first.daysTo(b.last);
    });
    QMap<int, THolidayYear> years;
    for (const TEvent& e : events) {
        for (QDate day = e.first; day <= e.last; day = day.addDays(1)) {
            THolidayYear& year = years[day.year()];
            year.Year = day.year();
            const auto known = year.Days.constFind(day);
            if (known == year.Days.cend())
                year.Days.insert(day, e.mark);
            else if (known->Kind != e.mark.Kind)
                return Refused(
                    QStringLiteral("日历文件把%1同时定为休和班").arg(day.toString(Qt::ISODate)) +
                    NothingImported);
        }
    }
    THolidayFile file;
    for (THolidayYear& y : years) {
        y.Whole = y.Days.value(QDate(y.Year, 1, 1)).Kind == dkHoliday;
        file.Years << y;
    }
    if (file.CoveredYears().isEmpty())
        return Refused(QStringLiteral("日历文件里没有放假安排（名称带“休”或“班”的事件）") +
                       NothingImported);
    return file;
}
