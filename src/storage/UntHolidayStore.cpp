#include "UntHolidayStore.h"

#include "UException.h"
#include "UntConnection.h"
#include "UntCursor.h"
#include "UntDbAccess.h"
#include "UntSqlText.h"
#include "common/UntClock.h"
#include "common/UntHolidayIcs.h"
#include "common/UntWorkdays.h"

void LoadImportedHolidays(TConnection& connection) {
    QString text;
    TCursor c;
    c.Open(connection, QStringLiteral("select Days from HolidayYear order by Year"));
    for (c.First(); !c.Eof(); c.Next())
        text += c.AsString(0) + u'\n';
    Workdays::Reset();
    QString error;
    const QList<THolidayYear> years = Workdays::ParseYearsText(text, &error);
    // A damaged row must not keep the file from opening: the shipped schedule stays then.
    if (error.isEmpty())
        Workdays::Import(years);
}

QString ImportHolidays(const QString& path) {
    const THolidayFile file = ReadHolidayIcs(path);
    if (!file.Error.isEmpty())
        throw EAppError(file.Error);
    Workdays::Import(file.Years);
    QStringList said;
    DbAccess->Write([&](TConnection& connection) {
        const QString now = Clock::Now().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        for (const THolidayYear& year : file.Years) {
            connection.Exec(
                FormatSql(QStringLiteral("insert or replace into HolidayYear(Year,Days,Imported) "
                                         "values (%s,'%s','%s')"),
                          {SqlNum(year.Year), Workdays::YearsText({year.Year}), now}));
            int off = 0;
            int work = 0;
            for (const TDayStatus& day : year.Days)
                (day.Kind == dkHoliday ? off : work) += 1;
            said << QStringLiteral("%1年%2（休%3天、班%4天）")
                        .arg(year.Year)
                        .arg(year.Whole ? QStringLiteral("全年") : QStringLiteral("部分日子"))
                        .arg(off)
                        .arg(work);
        }
    });
    return QStringLiteral("已导入节假日安排：") + said.join(QStringLiteral("；")) +
           QStringLiteral("。");
}
