#include "UntAlam.h"

#include "common/UntClock.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QSet>
#include <algorithm>
#include <iterator>

TAlam* AlamData = nullptr;

namespace {

QString DateText(const QDateTime& moment) {
    return moment.date().toString(Qt::ISODate);
}

const QString ListBase = QStringLiteral(
    "select ID,IIf(ReDay=0,'仅一次',IIf(ReDay=1,'每天',IIf(ReDay=2,'每周','每月'))),  "
    "IIf(ReDay=0,Format(AlamDate,'YYYY-MM-DD')||' '||Str(iHour)||'时'||Str(iMinute)||'分',  "
    "IIf(ReDay=1,Str(iHour)||'时'||Str(iMinute)||'分',  "
    "IIF(ReDay=2,'每周'||Str(iMonWeek)||' '||Str(iHour)||'时'||Str(iMinute)||'分',  "
    "'每月'||Str(iMonWeek)||'号 '||Str(iHour)||'时'||Str(iMinute)||'分' ))),  "
    "Remark,IIF(bLook,'看过的','') from  Alam where 1=1   ");

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
               QStringLiteral(" (ReDay=3 and Day(Date())=iMonWeek ) )");
    case 2:
        return QStringLiteral("and ((AlamDate=date(Date(),'+1 day') and ReDay=0) or ") +
               QStringLiteral(
                   " (ReDay=2 and InStr(CStr(iMonWeek),CStr(WeekDay(date())))<>0 ) or ") +
               QStringLiteral(" (ReDay=3 and Day(date(Date(),'+1 day'))=iMonWeek ) )");
    case 3:
        return QStringLiteral("and ") + MissedCondition;
    case 4:
        return QStringLiteral("and ReDay = 1 ");
    case 5:
        return QStringLiteral("and ReDay = 2 ");
    case 6:
        return QStringLiteral("and ReDay = 3 ");
    default:
        return QString();
    }
}

// The keys of every missed reminder, read in one query instead of one count per row.
QSet<QString> MissedKeys() {
    DbAccess->OpenQuery(QStringLiteral("select ID from Alam where ") + MissedCondition);
    TCursor& cursor = DbAccess->MainCursor;
    QSet<QString> keys;
    keys.reserve(cursor.RecordCount());
    for (cursor.First(); !cursor.Eof(); cursor.Next())
        keys.insert(cursor.AsString(0));
    cursor.Close();
    return keys;
}

} // namespace

void TAlam::Add() {
    SqlText = FormatSql(QStringLiteral("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,"
                                       "ReMark)  values(%s,%s,%s,%s,'%s','%s') "),
                        {SqlNum(iHour), SqlNum(iMinute), SqlNum(iMonWeek), SqlNum(ReDay),
                         DateText(AlamDate), ReMark});
    ExecSql(SqlText);
}

TRows TAlam::ListRows(int filter) {
    SqlText = ListBase + FilterCondition(filter);
    TRows rows = ReadRows(SqlText);
    const auto once = [](const QStringList& row) { return row.at(1) == AlamOnceText; };
    if (std::none_of(rows.cbegin(), rows.cend(), once))
        return rows;
    const QSet<QString> missed = MissedKeys();
    for (QStringList& row : rows)
        if (once(row) && missed.contains(row.at(0)))
            row[4] = AlamMissedText;
    return rows;
}

void TAlam::LoadList(QTreeWidget* view, int filter) {
    FillListView(view, [&] { return ListRows(filter); });
}

void TAlam::Delete(const QString& id) {
    SqlText = FormatSql(QStringLiteral("delete from Alam where ID=%s "), {id});
    ExecSql(SqlText);
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
}

void TAlam::Update(const QString& id) {
    SqlText = FormatSql(QStringLiteral("update Alam set iHour=%s,iMinute=%s,iMonWeek=%s,ReDay=%s,  "
                                       "AlamDate='%s',Remark='%s',bLook=0 where ID=%s  "),
                        {SqlNum(iHour), SqlNum(iMinute), SqlNum(iMonWeek), SqlNum(ReDay),
                         DateText(AlamDate), ReMark, id});
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
