#include "UntAlamIcs.h"

#include "UntAlam.h"
#include "common/UntBackground.h"
#include "common/UntClock.h"
#include "common/UntForeignText.h"
#include "common/UntPrivateFiles.h"
#include "common/UntPublic.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <libical/ical.h>
#include <memory>
#include <optional>

namespace {

struct BufferFree {
    void operator()(char* s) const { icalmemory_free_buffer(s); }
};
using Buffer = std::unique_ptr<char, BufferFree>;

QString Quoted(const QString& text) {
    QString line = text;
    line.replace(u'\n', u' ').replace(u'\r', u' ');
    if (line.size() > 40)
        line = line.left(40) + QStringLiteral("…");
    return QStringLiteral("“") + line + QStringLiteral("”");
}

QString Utf8(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

// The parser marks what it could not read. Empty values (common in exports of text fields
// left blank) and unknown parameters lose nothing; anything else is damage.
bool HasErrors(icalcomponent* c, QString* detail) {
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_XLICERROR_PROPERTY)) {
        const QString text = Utf8(icalproperty_get_xlicerror(p));
        icalparameter* type = icalproperty_get_first_parameter(p, ICAL_XLICERRORTYPE_PARAMETER);
        const icalparameter_xlicerrortype kind =
            type ? icalparameter_get_xlicerrortype(type) : ICAL_XLICERRORTYPE_NONE;
        if (kind == ICAL_XLICERRORTYPE_PARAMETERNAMEPARSEERROR ||
            kind == ICAL_XLICERRORTYPE_PARAMETERVALUEPARSEERROR ||
            (kind == ICAL_XLICERRORTYPE_VALUEPARSEERROR && text.startsWith(u"No value for")))
            continue;
        *detail = text;
        return true;
    }
    for (icalcomponent* k = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); k;
         k = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT))
        if (HasErrors(k, detail))
            return true;
    return false;
}

QString Key(const TAlamRecord& a) {
    QString day;
    switch (a.ReDay) {
    case rdOnce:
        day = a.AlamDate.toString(Qt::ISODate);
        break;
    case rdWeekly: // each chosen day once, in order
        for (int d = 1; d <= 7; ++d)
            if (QString::number(a.iMonWeek).contains(QChar(u'0' + d)))
                day += QString::number(d);
        break;
    case rdMonthly:
    case rdLunarYearly:
        day = QString::number(a.iMonWeek);
        break;
    case rdYearly:
        day = a.AlamDate.toString(QStringLiteral("MM-dd"));
        break;
    default:
        break;
    }
    return QStringLiteral("%1|%2|%3:%4|%5|%6|")
               .arg(a.ReDay)
               .arg(day)
               .arg(a.iHour)
               .arg(a.iMinute)
               .arg(a.AheadDays)
               .arg(a.SkipHolidays ? 1 : 0) +
           a.ReMark;
}

TComponent ParseCalendar(const QByteArray& raw) {
    QuietLibical();
    QByteArray data = raw;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const QByteArray head = data.trimmed().left(15).toUpper();
    if (head != "BEGIN:VCALENDAR")
        throw EAppError(QStringLiteral("这不是日历文件（iCalendar），没有导入任何提醒。"));
    if (data.contains('\0'))
        throw EAppError(QStringLiteral("日历文件已损坏，没有导入任何提醒。"));
    TComponent root(icalparser_parse_string(data.constData()));
    QString detail;
    if (!root)
        throw EAppError(QStringLiteral("日历文件已损坏（不完整），没有导入任何提醒。"));
    if (HasErrors(root.get(), &detail))
        throw EAppError(QStringLiteral("日历文件已损坏，没有导入任何提醒。\n详细信息：") + detail);
    const icalcomponent_kind kind = icalcomponent_isa(root.get());
    if (kind != ICAL_VCALENDAR_COMPONENT && kind != ICAL_XROOT_COMPONENT)
        throw EAppError(QStringLiteral("这不是日历文件（iCalendar），没有导入任何提醒。"));
    return root;
}

} // namespace

QString TImportSummary::Text() const {
    const QString head =
        QStringLiteral("导入了%1条提醒，跳过%2条").arg(Imported).arg(Skipped.size());
    const QString warning = Warning.isEmpty() ? QString() : u'\n' + Warning;
    if (Skipped.isEmpty())
        return head + QStringLiteral("。") + warning;
    return head + QStringLiteral("：\n") + Skipped.join(u'\n') + warning;
}

QByteArray AlamsToIcs(const QList<TAlamRecord>& alams, const QDateTime& now, QStringList* skipped,
                      TProgress* progress) {
    QuietLibical();
    TComponent calendar(icalcomponent_new_vcalendar());
    for (const char* line :
         {"PRODID:-//Quillet//Quillet 1.0//ZH", "VERSION:2.0", "CALSCALE:GREGORIAN"})
        icalcomponent_add_property(calendar.get(), icalproperty_new_from_string(line));
    for (const TAlamRecord& a : alams) {
        if (progress) {
            progress->Check();
            ++progress->Done;
        }
        TEventForm form;
        form.LunarDaysAsEvents = true;
        std::vector<TComponent> events = AlamToEvents(a, now, form);
        if (events.empty() && skipped)
            *skipped << Quoted(a.ReMark) + QStringLiteral("：永远不会到期");
        for (TComponent& event : events)
            icalcomponent_add_component(calendar.get(), event.release());
    }
    Buffer text(icalcomponent_as_ical_string_r(calendar.get()));
    return QByteArray(text.get());
}

QList<TAlamRecord> IcsToAlams(const QByteArray& data, const QDateTime& now, TImportSummary* summary,
                              TProgress* progress) {
    bool replaced = false;
    TComponent root = ParseCalendar(DecodeForeignText(data, &replaced).toUtf8());
    if (replaced)
        summary->Warning = QStringLiteral("文件既不是UTF-8也不是GB18030文本，"
                                          "无法识别的字符已替换为“\uFFFD”。");
    const QList<icalcomponent*> events = CalendarEvents(root.get(), true);
    if (progress)
        progress->Total = events.size();
    // A lunar reminder's later days are copies of its first: read only when that one is not
    // in the file (another program dropped it), and then once.
    QSet<QString> uids;
    for (icalcomponent* e : events)
        uids.insert(Utf8(icalcomponent_get_uid(e)));
    QList<TAlamRecord> alams;
    for (icalcomponent* e : events) {
        if (progress) {
            progress->Check();
            ++progress->Done;
        }
        if (const QString of = CopyOf(e); !of.isEmpty()) {
            if (uids.contains(of))
                continue;
            uids.insert(of);
        }
        TAlamRecord a;
        QString title;
        const QString why = EventToAlam(e, {now, true}, &a, &title);
        if (!why.isEmpty()) {
            summary->Skipped << (IsBlank(title) ? QStringLiteral("（无标题）") : Quoted(title)) +
                                    QStringLiteral("：") + why;
            continue;
        }
        // Only the yearly kinds have days ahead.
        if (a.ReDay != rdYearly && a.ReDay != rdLunarYearly)
            a.AheadDays = 0;
        alams << a;
    }
    return alams;
}

TAlamRecord AlamRecordAt(const TCursor& cursor) {
    TAlamRecord a;
    a.ID = cursor.AsInteger(QStringLiteral("ID"));
    a.iHour = static_cast<int>(cursor.AsInteger(QStringLiteral("iHour")));
    a.iMinute = static_cast<int>(cursor.AsInteger(QStringLiteral("iMinute")));
    a.iMonWeek = static_cast<int>(cursor.AsInteger(QStringLiteral("iMonWeek")));
    a.ReDay = static_cast<int>(cursor.AsInteger(QStringLiteral("ReDay")));
    a.AlamDate = cursor.AsDateTime(QStringLiteral("AlamDate")).date();
    a.ReMark = cursor.AsString(QStringLiteral("ReMark"));
    a.bLook = cursor.AsBoolean(QStringLiteral("bLook"));
    if (const int ahead = cursor.FieldIndex(QStringLiteral("AheadDays")); ahead >= 0)
        a.AheadDays = static_cast<int>(cursor.AsInteger(ahead));
    // Another kind may keep an old choice in the column; it counts for daily and weekly only.
    if (const int skip = cursor.FieldIndex(QStringLiteral("SkipHolidays")); skip >= 0)
        a.SkipHolidays = CanSkipHolidays(a.ReDay) && cursor.AsInteger(skip) != 0;
    return a;
}

QList<TAlamRecord> ReadAlams(int filter, TProgress* progress) {
    QList<TAlamRecord> alams;
    DbAccess->Reader.ReadRows(
        QStringLiteral("select ID,iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark,bLook,AheadDays,"
                       "SkipHolidays from Alam where 1=1 ") +
            AlamFilterCondition(filter) + QStringLiteral(" order by ID"),
        {},
        [&alams](const TRowView& row) {
            TAlamRecord a;
            a.ID = row.Integer(0);
            a.iHour = static_cast<int>(row.Integer(1));
            a.iMinute = static_cast<int>(row.Integer(2));
            a.iMonWeek = static_cast<int>(row.Integer(3));
            a.ReDay = static_cast<int>(row.Integer(4));
            a.AlamDate = TCursor::ToDateTime(row.Text(5)).date();
            a.ReMark = row.Text(6);
            a.bLook = row.Integer(7) != 0;
            // Only the yearly kinds use days ahead; the column may keep an old value for others.
            if (a.ReDay == rdYearly || a.ReDay == rdLunarYearly)
                a.AheadDays = static_cast<int>(row.Integer(8));
            a.SkipHolidays = CanSkipHolidays(a.ReDay) && row.Integer(9) != 0; // likewise
            alams << a;
            return true;
        },
        progress ? &progress->Cancelled : nullptr);
    if (progress)
        progress->Check();
    return alams;
}

TExchangeResult ExportIcs(const QString& path, int filter, TProgress* progress) {
    TExchangeResult result;
    const QList<TAlamRecord> alams = ReadAlams(filter, progress);
    if (progress)
        progress->Total = alams.size();
    const QByteArray text = AlamsToIcs(alams, Clock::Now(), &result.Skipped, progress);
    result.Count = static_cast<int>(alams.size() - result.Skipped.size());
    const bool replacing = QFileInfo::exists(path); // a file replaced keeps its mode
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw EAppError(QStringLiteral("无法写入日历文件：") + path + QStringLiteral("\n") +
                        (errno ? FileErrorText(errno) : file.errorString()));
    if (!replacing)
        ShareLikeUserFiles(path);
    result.Text = QStringLiteral("导出了%1条提醒到日历文件：%2")
                      .arg(result.Count)
                      .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
    if (!result.Skipped.isEmpty())
        result.Text += QStringLiteral("\n未导出%1条：").arg(result.Skipped.size()) +
                       result.Skipped.join(QStringLiteral("；"));
    return result;
}

TImportSummary ImportIcs(const QString& path, TProgress* progress) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EAppError(QStringLiteral("无法读取日历文件：") + path + QStringLiteral("\n") +
                        file.errorString());
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EAppError(QStringLiteral("无法读取日历文件：") + path + QStringLiteral("\n") +
                        file.errorString());
    TImportSummary summary;
    const QList<TAlamRecord> incoming = IcsToAlams(data, Clock::Now(), &summary, progress);

    // Quillet's own files name the reminder in UID and X-QUILLET-ID, but another data file
    // has other reminders under the same keys: a reminder counts as there already when one
    // with the same kind, day, time and text exists.
    QSet<QString> present;
    for (const TAlamRecord& a : ReadAlams(0, progress))
        present.insert(Key(a));
    QStringList statements;
    TAlam alam;
    for (const TAlamRecord& a : incoming) {
        const QString key = Key(a);
        if (present.contains(key)) {
            summary.Skipped << Quoted(a.ReMark) + QStringLiteral("：已有相同的提醒");
            continue;
        }
        present.insert(key);
        alam.iHour = a.iHour;
        alam.iMinute = a.iMinute;
        alam.iMonWeek = a.iMonWeek;
        alam.ReDay = a.ReDay;
        alam.AlamDate = QDateTime(a.AlamDate, QTime(0, 0));
        alam.ReMark = a.ReMark;
        alam.AheadDays = a.AheadDays;
        alam.SkipHolidays = a.SkipHolidays;
        for (const QString& piece : SplitBatch(alam.AddStatement(a.bLook)))
            if (!IsBlank(piece))
                statements << piece;
        ++summary.Imported;
    }
    if (progress)
        progress->Total = progress->Done + statements.size();
    if (!statements.isEmpty())
        DbAccess->WriteAside([&](TConnection& connection) { // one transaction: all or nothing
            for (const QString& statement : statements) {
                if (progress) {
                    progress->Check();
                    ++progress->Done;
                }
                connection.Exec(statement);
            }
        });
    return summary;
}
