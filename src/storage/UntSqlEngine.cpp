#include "UntSqlEngine.h"

#include "UntTextMatch.h"
#include "common/UntClock.h"
#include "common/UntLunar.h"

#include <QDate>
#include <QRegularExpression>
#include <QString>
#include <sqlite3.h>

namespace {

QDateTime engineMoment;

QDateTime EngineNow() {
    return engineMoment.isValid() ? engineMoment : Clock::Now();
}

QString TextArg(sqlite3_value* v) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                             sqlite3_value_bytes(v));
}

void ResultText(sqlite3_context* ctx, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_result_text(ctx, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
}

// Dates are ISO text ("yyyy-MM-dd", optionally followed by a time of day).
QDate DateArg(sqlite3_value* v) {
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d{4})-(\\d{1,2})-(\\d{1,2})"));
    const auto m = re.match(TextArg(v));
    if (!m.hasMatch())
        return {};
    return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

// The time-of-day part of a time or date-time text; midnight for a bare date.
QTime TimeArg(sqlite3_value* v) {
    static const QRegularExpression re(QStringLiteral("(\\d{1,2}):(\\d{2})(?::(\\d{2}))?"));
    const auto m = re.match(TextArg(v));
    if (!m.hasMatch())
        return QTime(0, 0);
    return QTime(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
}

bool AnyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL)
            return true;
    return false;
}

void FnDate(sqlite3_context* ctx, int, sqlite3_value**) {
    ResultText(ctx, EngineNow().date().toString(Qt::ISODate));
}

void FnTime(sqlite3_context* ctx, int, sqlite3_value**) {
    ResultText(ctx, EngineNow().time().toString(QStringLiteral("HH:mm:ss")));
}

void FnHour(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv))
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, TimeArg(argv[0]).hour());
}

void FnMinute(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv))
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, TimeArg(argv[0]).minute());
}

void FnDay(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const QDate d = AnyNull(argc, argv) ? QDate() : DateArg(argv[0]);
    if (!d.isValid())
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, d.day());
}

void FnMonth(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const QDate d = AnyNull(argc, argv) ? QDate() : DateArg(argv[0]);
    if (!d.isValid())
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, d.month());
}

// NextYearly(ReDay, AlamDate, iMonWeek, d): the first day on or after d on which a yearly
// reminder (kind 4 on AlamDate's month and day, kind 5 on the lunar month-day iMonWeek)
// falls; null for the other kinds and outside the calendar's range.
void FnNextYearly(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const int kind = sqlite3_value_int(argv[0]);
    const QDate from = sqlite3_value_type(argv[3]) == SQLITE_NULL ? QDate() : DateArg(argv[3]);
    QDate next;
    if (kind == 4 && sqlite3_value_type(argv[1]) != SQLITE_NULL)
        next = NextYearlyDay(DateArg(argv[1]), from);
    else if (kind == 5)
        next = NextLunarYearlyDay(sqlite3_value_int(argv[2]), from);
    if (!next.isValid())
        return sqlite3_result_null(ctx);
    ResultText(ctx, next.toString(Qt::ISODate));
}

// LunarText(monthDay): 815 -> "八月十五"; empty for a value that is no lunar month-day.
void FnLunarText(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv))
        return sqlite3_result_null(ctx);
    ResultText(ctx, LunarMonthDayText(sqlite3_value_int(argv[0])));
}

// 1 = Sunday ... 7 = Saturday.
void FnWeekDay(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const QDate d = AnyNull(argc, argv) ? QDate() : DateArg(argv[0]);
    if (!d.isValid())
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, d.dayOfWeek() % 7 + 1);
}

QString NumberText(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return QString::number(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return QString::number(sqlite3_value_double(v), 'g', 15);
    default:
        return TextArg(v);
    }
}

void FnCStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv))
        return sqlite3_result_null(ctx);
    ResultText(ctx, NumberText(argv[0]));
}

// Decimal text with a leading blank for a number that is not negative.
void FnStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv))
        return sqlite3_result_null(ctx);
    const QString text = NumberText(argv[0]);
    ResultText(ctx, text.startsWith(QLatin1Char('-')) ? text : QLatin1Char(' ') + text);
}

// Date formats with the tokens YYYY, MM, DD (any case).
void FnFormat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv))
        return sqlite3_result_null(ctx);
    const QDate d = DateArg(argv[0]);
    if (!d.isValid())
        return ResultText(ctx, TextArg(argv[0]));
    QString out = TextArg(argv[1]);
    out.replace(QStringLiteral("yyyy"), QString::number(d.year()).rightJustified(4, u'0'),
                Qt::CaseInsensitive);
    out.replace(QStringLiteral("mm"), QString::number(d.month()).rightJustified(2, u'0'),
                Qt::CaseInsensitive);
    out.replace(QStringLiteral("dd"), QString::number(d.day()).rightJustified(2, u'0'),
                Qt::CaseInsensitive);
    ResultText(ctx, out);
}

bool Truth(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
        return false;
    case SQLITE_INTEGER:
        return sqlite3_value_int64(v) != 0;
    case SQLITE_FLOAT:
        return sqlite3_value_double(v) != 0.0;
    default: {
        const QString t = TextArg(v).trimmed();
        bool ok = false;
        const double n = t.toDouble(&ok);
        return ok ? n != 0.0 : t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    }
    }
}

void FnIIf(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_value(ctx, Truth(argv[0]) ? argv[1] : argv[2]);
}

// TextHas(text, query, caseSensitive): 1 when text holds query (see TTextMatcher). The
// matcher is built once per statement and kept with the query argument.
void FnTextHas(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return sqlite3_result_int(ctx, 0);
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const QByteArrayView text(bytes, sqlite3_value_bytes(argv[0]));
    auto* matcher = static_cast<TTextMatcher*>(sqlite3_get_auxdata(ctx, 1));
    if (!matcher) {
        sqlite3_set_auxdata(ctx, 1, new TTextMatcher(TextArg(argv[1]), Truth(argv[2])),
                            [](void* p) { delete static_cast<TTextMatcher*>(p); });
        matcher = static_cast<TTextMatcher*>(sqlite3_get_auxdata(ctx, 1));
    }
    if (!matcher) // the query is not a constant of the statement: nothing to keep it with
        return sqlite3_result_int(ctx,
                                  TTextMatcher(TextArg(argv[1]), Truth(argv[2])).Contains(text));
    sqlite3_result_int(ctx, matcher->Contains(text));
}

// Date() and Time() count as deterministic: every statement is stepped to its end as soon as
// it is prepared, inside one moment, so the engine may work them out once per statement
// instead of once per row (the due check over 10,000 reminders depends on it).
struct Function {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
    bool deterministic;
};

const Function functions[] = {
    {"Date", 0, FnDate, true},
    {"Time", 0, FnTime, true},
    {"Hour", 1, FnHour, true},
    {"Minute", 1, FnMinute, true},
    {"Day", 1, FnDay, true},
    {"WeekDay", 1, FnWeekDay, true},
    {"CStr", 1, FnCStr, true},
    {"Str", 1, FnStr, true},
    {"Format", 2, FnFormat, true},
    {"IIf", 3, FnIIf, true},
    {"Month", 1, FnMonth, true},
    {"NextYearly", 4, FnNextYearly, true},
    {"LunarText", 1, FnLunarText, true},
    {"TextHas", 3, FnTextHas, true},
};

} // namespace

int RegisterEngineFunctions(sqlite3* db) {
    for (const Function& f : functions) {
        const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        const int rc = sqlite3_create_function_v2(db, f.name, f.args, flags, nullptr, f.fn, nullptr,
                                                  nullptr, nullptr);
        if (rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

TEngineMoment::TEngineMoment(const QDateTime& moment) {
    engineMoment = moment;
}

TEngineMoment::~TEngineMoment() {
    engineMoment = QDateTime();
}
