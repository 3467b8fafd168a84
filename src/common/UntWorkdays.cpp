#include "UntWorkdays.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QtDebug>
#include <algorithm>
#include <memory>
#include <mutex>

namespace {

const QString OffMark = QStringLiteral("休");
const QString WorkMark = QStringLiteral("班");
const QString YearMark = QStringLiteral("年");

struct TTable {
    QSet<int> known;
    QSet<int> imported;
    QHash<qint64, TDayStatus> days; // by Julian day
};

void Apply(TTable& table, const QList<THolidayYear>& years) {
    for (const THolidayYear& y : years) {
        if (y.Whole) {
            const qint64 last = QDate(y.Year, 12, 31).toJulianDay();
            for (qint64 d = QDate(y.Year, 1, 1).toJulianDay(); d <= last; ++d)
                table.days.remove(d);
            table.known.insert(y.Year);
        }
        for (auto day = y.Days.cbegin(); day != y.Days.cend(); ++day)
            if (day.key().year() == y.Year && day->Kind != dkOrdinary)
                table.days.insert(day.key().toJulianDay(), *day);
    }
}

std::shared_ptr<const TTable> Shipped() {
    auto table = std::make_shared<TTable>();
    QFile file(QStringLiteral(":/holidays/china-holidays.txt"));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("the shipped holiday schedule is missing from the resources");
        return table;
    }
    QString error;
    Apply(*table, Workdays::ParseYearsText(QString::fromUtf8(file.readAll()), &error));
    if (!error.isEmpty())
        qWarning("the shipped holiday schedule cannot be read: %s", qUtf8Printable(error));
    return table;
}

// The current table; read with std::atomic_load, replaced with std::atomic_store under
// writeLock so that two imports cannot lose each other's years.
std::shared_ptr<const TTable>& Slot() {
    static std::shared_ptr<const TTable> slot = Shipped();
    return slot;
}
std::mutex writeLock;

std::shared_ptr<const TTable> Table() {
    return std::atomic_load(&Slot());
}

} // namespace

namespace Workdays {

TDayStatus DayStatus(const QDate& day) {
    if (!day.isValid())
        return {};
    const auto table = Table();
    return table->days.value(day.toJulianDay());
}

TDayKind DayKind(const QDate& day) {
    if (!day.isValid())
        return dkOrdinary;
    const auto table = Table();
    const auto found = table->days.constFind(day.toJulianDay());
    return found == table->days.cend() ? dkOrdinary : found->Kind;
}

bool IsWorkday(const QDate& day) {
    switch (DayKind(day)) {
    case dkHoliday:
        return false;
    case dkMakeUpWork:
        return true;
    default:
        return day.isValid() && day.dayOfWeek() <= 5;
    }
}

bool IsYearKnown(int year) {
    return Table()->known.contains(year);
}

QList<int> KnownYears() {
    QList<int> years = Table()->known.values();
    std::sort(years.begin(), years.end());
    return years;
}

QString StatusText(const QDate& day) {
    const TDayStatus status = DayStatus(day);
    if (status.Kind == dkOrdinary)
        return QString();
    const QString mark = status.Kind == dkHoliday ? OffMark : WorkMark;
    return status.Holiday.isEmpty() ? mark : mark + u' ' + status.Holiday;
}

QString MissingScheduleText(const QDate& today) {
    if (!today.isValid() || today.month() < 11 || IsYearKnown(today.year() + 1))
        return QString();
    return QStringLiteral("%1年放假安排未导入").arg(today.year() + 1);
}

void Import(const QList<THolidayYear>& years) {
    const std::lock_guard<std::mutex> lock(writeLock);
    auto next = std::make_shared<TTable>(*Table());
    Apply(*next, years);
    for (const THolidayYear& y : years)
        next->imported.insert(y.Year);
    std::atomic_store(&Slot(), std::shared_ptr<const TTable>(std::move(next)));
}

QList<int> ImportedYears() {
    QList<int> years = Table()->imported.values();
    std::sort(years.begin(), years.end());
    return years;
}

void Reset() {
    const std::lock_guard<std::mutex> lock(writeLock);
    std::atomic_store(&Slot(), Shipped());
}

QString YearsText(const QList<int>& years) {
    QList<int> sorted = years;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    const auto table = Table();
    QString out;
    for (int year : sorted) {
        if (table->known.contains(year))
            out += QString::number(year) + u'\t' + YearMark + u'\n';
        const qint64 last = QDate(year, 12, 31).toJulianDay();
        for (qint64 d = QDate(year, 1, 1).toJulianDay(); d <= last; ++d) {
            const auto found = table->days.constFind(d);
            if (found == table->days.cend())
                continue;
            out += QDate::fromJulianDay(d).toString(Qt::ISODate) + u'\t' +
                   (found->Kind == dkHoliday ? OffMark : WorkMark);
            if (!found->Holiday.isEmpty())
                out += u'\t' + found->Holiday;
            out += u'\n';
        }
    }
    return out;
}

QList<THolidayYear> ParseYearsText(const QString& text, QString* error) {
    QMap<int, THolidayYear> years;
    const QStringList lines = text.split(u'\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList fields = line.split(u'\t');
        bool isYear = false;
        const int year = fields[0].size() == 4 ? fields[0].toInt(&isYear) : 0;
        if (isYear && fields.size() == 2 && fields[1] == YearMark) {
            years[year].Year = year;
            years[year].Whole = true;
            continue;
        }
        const QDate day =
            fields[0].size() == 10 ? QDate::fromString(fields[0], Qt::ISODate) : QDate();
        const bool off = fields.size() >= 2 && fields[1] == OffMark;
        const bool work = fields.size() >= 2 && fields[1] == WorkMark;
        if (!day.isValid() || !(off || work) || fields.size() > 3) {
            if (error)
                *error = QStringLiteral("第%1行无法读取：%2").arg(n + 1).arg(line);
            return {};
        }
        THolidayYear& y = years[day.year()];
        y.Year = day.year();
        y.Days.insert(day, {off ? dkHoliday : dkMakeUpWork, fields.value(2)});
    }
    if (error)
        error->clear();
    return years.values();
}

} // namespace Workdays
