#include "UntAlam.h"

#include "UntAlamBin.h"
#include "common/UntClock.h"
#include "common/UntThreadHeap.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlEngine.h"
#include "storage/UntSqlText.h"

#include <QSet>
#include <QTreeWidgetItem>
#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <utility>

TAlam* AlamData = nullptr;

namespace {

QString DateText(const QDateTime& moment) {
    return moment.date().toString(Qt::ISODate);
}

const QString ListBase =
    QStringLiteral(
        "select ID,IIf(ReDay=0,'仅一次',IIf(ReDay=1,'每天',IIf(ReDay=2,'每周',"
        "IIf(ReDay=4,'每年',IIf(ReDay=5,'农历每年',IIf(ReDay=6,'法定工作日','每月')))))),"
        "  ") +
    AlamTimeTextSql + QStringLiteral(",  Remark,IIF(bLook,'看过的','') from  Alam where 1=1   ");

// A yearly reminder falls on a day when its next day from there is that day, or is that day
// plus its days ahead (the notice); yearly days lie far further apart than 30 days.
QString YearlyOn(const QString& day) {
    return QStringLiteral(" (ReDay in (4,5) and NextYearly(ReDay,AlamDate,iMonWeek,%1) in (%1,"
                          "date(%1,'+'||AheadDays||' day')) ) ")
        .arg(day);
}

// Due in the minute the engine's Time() names, by kind: a one-off on its date, a daily one
// (not on an official holiday when it skips them), a weekly one whose digits hold today
// (Monday = 1; likewise), a monthly one on its day, a yearly one on its day or its notice
// day, a 法定工作日 one on an official workday. Ahead is the days left when it is the notice.
const QString DueQuery =
    QStringLiteral("select ID,ReDay,Remark,IIf(ReDay in (4,5) and NextYearly(ReDay,AlamDate,"
                   "iMonWeek,Date())<>Date(),AheadDays,0) as Ahead from Alam  where "
                   "Hour(Time())=iHour and Minute(Time())=iMinute  "
                   "and ((AlamDate=Date() and ReDay=0) or ((ReDay=1) or  (ReDay=2 and "
                   "InStr(CStr(iMonWeek),CStr(WeekDay(date(Date(),'-1 day'))))<>0 )) and "
                   "(SkipHolidays=0 or DayKind(Date())<>1) or  (ReDay=3 "
                   "and Day(Date())=iMonWeek ) or (ReDay=6 and IsWorkday(Date())=1) or") +
    YearlyOn(QStringLiteral("Date()")) + QStringLiteral(") ");

// A one-off reminder not seen is missed once its day has passed, or on its own day once the
// clock has moved past its hour. Both the filter "错过" and the status marks use this.
const QString MissedCondition =
    QStringLiteral("(AlamDate<Date() or (AlamDate=Date() and Hour(Time())>iHour)) and bLook=0 "
                   "and ReDay = 0 ");

QString FilterCondition(int filter) {
    switch (filter) {
    case 1:
        return QStringLiteral("and ((AlamDate=Date() and ReDay=0) or ") +
               QStringLiteral(
                   " (ReDay=2 and "
                   "InStr(CStr(iMonWeek),CStr(WeekDay(date(Date(),'-1 day'))))<>0 ) or ") +
               QStringLiteral(" (ReDay=3 and Day(Date())=iMonWeek ) or") +
               YearlyOn(QStringLiteral("Date()")) + QStringLiteral(")");
    case 2:
        return QStringLiteral("and ((AlamDate=date(Date(),'+1 day') and ReDay=0) or ") +
               QStringLiteral(
                   " (ReDay=2 and InStr(CStr(iMonWeek),CStr(WeekDay(date())))<>0 ) or ") +
               QStringLiteral(" (ReDay=3 and Day(date(Date(),'+1 day'))=iMonWeek ) or") +
               YearlyOn(QStringLiteral("date(Date(),'+1 day')")) + QStringLiteral(")");
    case 3:
        return QStringLiteral("and ") + MissedCondition;
    case 4: // 法定工作日 reminders are daily ones that know the holidays
        return QStringLiteral("and (ReDay = 1 or ReDay = 6) ");
    case 5:
        return QStringLiteral("and ReDay = 2 ");
    case 6:
        return QStringLiteral("and ReDay = 3 ");
    case 7:
        return QStringLiteral("and (ReDay = 4 or ReDay = 5) ");
    default:
        return QString();
    }
}

using TReadTexts = std::function<TRows(const QString&)>;

// The listing sql selects, its missed one-off reminders marked; the keys of those are read in
// one query instead of one count per row. Runs on any thread, reading through read.
TRows ListRowsFrom(const QString& sql, const TReadTexts& read) {
    TRows rows = read(sql);
    const auto once = [](const QStringList& row) { return row.at(1) == AlamOnceText; };
    if (std::none_of(rows.cbegin(), rows.cend(), once))
        return rows;
    QSet<QString> missed;
    for (const QStringList& row :
         read(QStringLiteral("select ID from Alam where ") + MissedCondition))
        missed.insert(row.at(0));
    for (QStringList& row : rows)
        if (once(row) && missed.contains(row.at(0)))
            row[4] = AlamMissedText;
    return rows;
}

QDateTime MinuteOf(const QDateTime& moment) {
    return QDateTime(moment.date(), QTime(moment.time().hour(), moment.time().minute()));
}

} // namespace

void TAlam::Add() {
    SqlText = AddStatement();
    ExecSql(SqlText);
}

QString TAlam::AddStatement(bool seen) const {
    // Days ahead only for the yearly kinds, the holidays' skip only when a daily or weekly
    // reminder asks for it; the seen mark only from an import.
    const bool skip = CanSkipHolidays(ReDay) && SkipHolidays;
    const QString pattern =
        QStringLiteral("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark") +
        (HasAheadDays() ? QStringLiteral(",AheadDays") : QString()) +
        (skip ? QStringLiteral(",SkipHolidays") : QString()) +
        (seen ? QStringLiteral(",bLook") : QString()) +
        QStringLiteral(")  values(%s,%s,%s,%s,'%s','%s'") +
        (HasAheadDays() ? QStringLiteral(",%s") : QString()) +
        (skip ? QStringLiteral(",1") : QString()) + (seen ? QStringLiteral(",1") : QString()) +
        QStringLiteral(") ");
    if (HasAheadDays())
        return FormatSql(pattern,
                         {SqlNum(iHour), SqlNum(iMinute), SqlNum(iMonWeek), SqlNum(ReDay),
                          DateText(AlamDate), ReMark, SqlNum(qBound(0, AheadDays, MaxAheadDays))});
    return FormatSql(pattern, {SqlNum(iHour), SqlNum(iMinute), SqlNum(iMonWeek), SqlNum(ReDay),
                               DateText(AlamDate), ReMark});
}

QString AlamFilterCondition(int filter) {
    return FilterCondition(filter);
}

// The rows of a prefetch and their list items, made on its thread too; the items are the
// view's once handed over, and freed here otherwise.
struct TAlam::TListRead {
    TRows rows;
    QList<QTreeWidgetItem*> items;
    TListRead() = default;
    TListRead(TListRead&& other) noexcept
        : rows(std::move(other.rows)), items(std::exchange(other.items, {})) {}
    TListRead& operator=(TListRead&&) = delete;
    ~TListRead() { qDeleteAll(items); }
    QList<QTreeWidgetItem*> TakeItems() { return std::exchange(items, {}); }
};

struct TAlam::TPrefetch {
    int filter;
    QDateTime minute;
    qint64 changes;
    std::future<TListRead> read;
};

TAlam::TAlam() = default;
TAlam::TAlam(TAlam&&) noexcept = default;
TAlam& TAlam::operator=(TAlam&&) noexcept = default;

TAlam::~TAlam() {
    DropPrefetch();
}

std::optional<TAlam::TListRead> TAlam::TakePrefetch(int filter) {
    if (!prefetch_)
        return std::nullopt;
    const std::unique_ptr<TPrefetch> prefetch = std::move(prefetch_);
    try {
        TListRead read = prefetch->read.get();
        if (prefetch->filter == filter && prefetch->minute == MinuteOf(Clock::Now()) &&
            prefetch->changes == DbAccess->Changes())
            return read;
    } catch (const std::exception&) {
        // Read again here; a failure there is reported as this read's.
    }
    return std::nullopt;
}

TRows TAlam::ListRows(int filter) {
    SqlText = ListBase + FilterCondition(filter);
    if (std::optional<TListRead> read = TakePrefetch(filter))
        return std::move(read->rows);
    return ListRowsFrom(SqlText, [](const QString& sql) { return ReadRows(sql); });
}

void TAlam::PrefetchList(int filter, bool items) {
    DropPrefetch();
    TReadConnection* reader = &DbAccess->Reader;
    const auto read = [reader](const QString& sql) {
        TRows rows;
        const bool complete = reader->ReadRows(sql, {}, [&rows](const TRowView& row) {
            rows.append(row.Texts());
            return true;
        });
        if (!complete)
            throw std::runtime_error("the read was stopped");
        return rows;
    };
    try {
        prefetch_.reset(new TPrefetch{
            filter, MinuteOf(Clock::Now()), DbAccess->Changes(),
            std::async(std::launch::async, [read, items, sql = ListBase + FilterCondition(filter)] {
                TListRead list;
                if (items)
                    PrepareThreadHeap(16 << 20);
                list.rows = ListRowsFrom(sql, read);
                if (items)
                    list.items = ListItems(list.rows);
                return list;
            })});
    } catch (const std::system_error&) {
        // No thread to spare: the list is read when it is shown.
    }
}

bool TAlam::Prefetched() const {
    return prefetch_ &&
           prefetch_->read.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

void TAlam::DropPrefetch() {
    if (prefetch_ && prefetch_->read.valid())
        prefetch_->read.wait();
    prefetch_.reset();
}

void TAlam::LoadList(QTreeWidget* view, int filter) {
    SqlText = ListBase + FilterCondition(filter);
    if (std::optional<TListRead> read = TakePrefetch(filter)) {
        // Items are made ahead only for the start-up's read.
        return FillListView(view, read->items.size() == read->rows.size() ? read->TakeItems()
                                                                          : ListItems(read->rows));
    }
    FillListView(view, [&] { return ListRows(filter); });
}

void TAlam::RefreshList(QTreeWidget* view, int filter) {
    RefreshListView(view, ListRows(filter));
}

void TAlam::Delete(const QString& id) {
    SqlText = FormatSql(QStringLiteral("delete from Alam where ID=%s "), {id});
    DbAccess->Write(
        [this, &id](TConnection& connection) {
            PutReminderInBin(connection, id);
            connection.Exec(SqlText);
        },
        SqlText);
}

void TAlam::Load(const QString& id) {
    SqlText = FormatSql(QStringLiteral("select * from Alam where ID=%s "), {id});
    DbAccess->OpenQuery(SqlText);
    const TCursor& cursor = DbAccess->MainCursor;
    if (cursor.Eof())
        throw EDBException(QStringLiteral("the query returned no row"),
                           QStringLiteral("数据库查询错误，请检查！"), SqlText);
    iHour = static_cast<int>(cursor.AsInteger(QStringLiteral("iHour")));
    iMinute = static_cast<int>(cursor.AsInteger(QStringLiteral("iMinute")));
    iMonWeek = static_cast<int>(cursor.AsInteger(QStringLiteral("iMonWeek")));
    ReDay = static_cast<int>(cursor.AsInteger(QStringLiteral("ReDay")));
    AlamDate = cursor.AsDateTime(QStringLiteral("AlamDate"));
    ReMark = cursor.AsString(QStringLiteral("ReMark"));
    AheadDays = static_cast<int>(cursor.AsInteger(QStringLiteral("AheadDays")));
    SkipHolidays = cursor.AsBoolean(QStringLiteral("SkipHolidays"));
}

bool TAlam::HasAheadDays() const {
    return ReDay == rdYearly || ReDay == rdLunarYearly;
}

void TAlam::Update(const QString& id) {
    // The other kinds leave AheadDays alone: nothing reads it for them.
    if (HasAheadDays()) {
        SqlText = FormatSql(
            QStringLiteral("update Alam set iHour=%s,iMinute=%s,iMonWeek=%s,ReDay=%s,  "
                           "AlamDate='%s',Remark='%s',bLook=0,AheadDays=%s where ID=%s  "),
            {SqlNum(iHour), SqlNum(iMinute), SqlNum(iMonWeek), SqlNum(ReDay), DateText(AlamDate),
             ReMark, SqlNum(qBound(0, AheadDays, MaxAheadDays)), id});
    } else {
        SqlText =
            FormatSql(QStringLiteral("update Alam set iHour=%s,iMinute=%s,iMonWeek=%s,ReDay=%s,  "
                                     "AlamDate='%s',Remark='%s',bLook=0 where ID=%s  "),
                      {SqlNum(iHour), SqlNum(iMinute), SqlNum(iMonWeek), SqlNum(ReDay),
                       DateText(AlamDate), ReMark, id});
    }
    if (CanSkipHolidays(ReDay)) // the choice is the daily and weekly kinds' own
        SqlText += BatchSeparator +
                   FormatSql(QStringLiteral("update Alam set SkipHolidays=%s where ID=%s"),
                             {SqlNum(SkipHolidays ? 1 : 0), id});
    ExecSql(SqlText);
}

bool TAlam::Exists(const QString& id) {
    SqlText = FormatSql(QStringLiteral("select count(ID) from Alam where ID=%s "), {id});
    return GetIntValue(SqlText) >= 1;
}

void TAlam::MarkSeen(const QString& id) {
    SqlText = FormatSql(QStringLiteral("update Alam set bLook=1 where ID=%s"), {id});
    ExecSql(SqlText);
}

void TAlam::Reschedule(const QString& id, int delayIndex) {
    static const int delayMinutes[] = {3, 5, 10, 30, 60};
    const int last = static_cast<int>(std::size(delayMinutes)) - 1;
    QDateTime moment = Clock::Now().addSecs(60 * delayMinutes[qBound(0, delayIndex, last)]);
    moment.setTime(QTime(moment.time().hour(), moment.time().minute())); // seconds dropped
    SqlText = FormatSql(
        QStringLiteral("update Alam set AlamDate='%s',iHour=%s,iMinute=%s where ID=%s  "),
        {DateText(moment), SqlNum(moment.time().hour()), SqlNum(moment.time().minute()), id});
    ExecSql(SqlText);
}

QList<TDueAlam> TAlam::DueList(const QDateTime& minute) {
    {
        TEngineMoment at(minute);
        DbAccess->OpenSideQuery(DueQuery);
    }
    TCursor& due = DbAccess->SideCursor;
    QList<TDueAlam> alams;
    for (due.First(); !due.Eof(); due.Next()) {
        const qint64 ahead = due.AsInteger(QStringLiteral("Ahead"));
        QString text = due.AsString(QStringLiteral("Remark"));
        if (ahead > 0)
            text = QStringLiteral("还有%1天：").arg(ahead) + text;
        alams.append({due.AsString(QStringLiteral("ID")), text,
                      due.AsInteger(QStringLiteral("ReDay")) != rdOnce});
    }
    return alams;
}
