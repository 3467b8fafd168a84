#include "UntSqlEngine.h"

#include "UntTextMatch.h"
#include "common/UntClock.h"
#include "common/UntLunar.h"
#include "common/UntWorkdays.h"

#include <QByteArrayView>
#include <QDate>
#include <QHash>
#include <QString>
#include <QVarLengthArray>
#include <cstdio>
#include <optional>
#include <sqlite3.h>

namespace {

// Per thread: the due check's moment on the interface thread is not the reader's.
thread_local QDateTime engineMoment;

// What Date() and Time() answer, as UTF-8.
struct TMomentTexts {
    QByteArray date;
    QByteArray time;
    explicit TMomentTexts(const QDateTime& moment)
        : date(moment.date().toString(Qt::ISODate).toUtf8()),
          time(moment.time().toString(QStringLiteral("HH:mm:ss")).toUtf8()) {}
};

// The moment of the running statement, read on first use; kept only while one runs.
// Per thread: searches run their statements off the interface thread.
thread_local std::optional<TMomentTexts> statementMoment;
thread_local bool inStatement = false;

TMomentTexts EngineNow() {
    if (engineMoment.isValid())
        return TMomentTexts(engineMoment);
    if (!inStatement)
        return TMomentTexts(Clock::Now());
    if (!statementMoment)
        statementMoment.emplace(Clock::Now());
    return *statementMoment;
}

QByteArrayView Utf8Arg(sqlite3_value* v) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return QByteArrayView(text, text ? sqlite3_value_bytes(v) : 0);
}

QString TextArg(sqlite3_value* v) {
    return QString::fromUtf8(Utf8Arg(v));
}

void ResultUtf8(sqlite3_context* ctx, QByteArrayView utf8) {
    sqlite3_result_text(ctx, utf8.data(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
}

void ResultText(sqlite3_context* ctx, const QString& text) {
    ResultUtf8(ctx, text.toUtf8());
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads between min and max decimal digits at text[at], moving at past them; -1 when fewer.
int Digits(QByteArrayView text, qsizetype& at, int min, int max) {
    int value = 0;
    int n = 0;
    while (n < max && at + n < text.size() && IsDigit(text[at + n]))
        value = value * 10 + (text[at + n++] - '0');
    if (n < min)
        return -1;
    at += n;
    return value;
}

// Dates are ISO text ("yyyy-MM-dd", optionally followed by a time of day). Parsed by hand:
// the listing calls this for every row.
QDate DateArg(sqlite3_value* v) {
    const QByteArrayView text = Utf8Arg(v);
    qsizetype at = 0;
    while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r')))
        ++at;
    const int year = Digits(text, at, 4, 4);
    if (year < 0 || at >= text.size() || text[at++] != '-')
        return {};
    const int month = Digits(text, at, 1, 2);
    if (month < 0 || at >= text.size() || text[at++] != '-')
        return {};
    const int day = Digits(text, at, 1, 2);
    if (day < 0)
        return {};
    return QDate(year, month, day);
}

// The time-of-day part of a time or date-time text (the first "h:mm" or "h:mm:ss" in it);
// midnight for a bare date.
QTime TimeArg(sqlite3_value* v) {
    const QByteArrayView text = Utf8Arg(v);
    for (qsizetype start = 0; start < text.size(); ++start) {
        // One or two digits for the hour, the longer tried first.
        for (int width = 2; width >= 1; --width) {
            qsizetype at = start;
            const int hour = Digits(text, at, width, width);
            if (hour < 0 || at >= text.size() || text[at++] != ':')
                continue;
            const int minute = Digits(text, at, 2, 2);
            if (minute < 0)
                continue;
            int second = 0;
            if (qsizetype s = at; s < text.size() && text[s++] == ':')
                if (const int n = Digits(text, s, 2, 2); n >= 0)
                    second = n;
            return QTime(hour, minute, second);
        }
    }
    return QTime(0, 0);
}

bool AnyNull(int argc, sqlite3_value** argv) {
    for (int i = 0; i < argc; ++i)
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL)
            return true;
    return false;
}

void FnDate(sqlite3_context* ctx, int, sqlite3_value**) {
    ResultUtf8(ctx, EngineNow().date);
}

void FnTime(sqlite3_context* ctx, int, sqlite3_value**) {
    ResultUtf8(ctx, EngineNow().time);
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
    // The listing asks for every row's; there are a few hundred month-days in all.
    thread_local QHash<int, QByteArray> texts;
    const int monthDay = sqlite3_value_int(argv[0]);
    auto text = texts.constFind(monthDay);
    if (text == texts.cend())
        text = texts.insert(monthDay, LunarMonthDayText(monthDay).toUtf8());
    ResultUtf8(ctx, *text);
}

// 1 = Sunday ... 7 = Saturday.
void FnWeekDay(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const QDate d = AnyNull(argc, argv) ? QDate() : DateArg(argv[0]);
    if (!d.isValid())
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, d.dayOfWeek() % 7 + 1);
}

// DayKind(d): 1 on an official day off (休), 2 on a make-up working day (班), else 0.
void FnDayKind(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const QDate d = AnyNull(argc, argv) ? QDate() : DateArg(argv[0]);
    if (!d.isValid())
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, Workdays::DayKind(d));
}

// IsWorkday(d): 1 on an official workday, else 0 (see Workdays::IsWorkday).
void FnIsWorkday(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const QDate d = AnyNull(argc, argv) ? QDate() : DateArg(argv[0]);
    if (!d.isValid())
        return sqlite3_result_null(ctx);
    sqlite3_result_int(ctx, Workdays::IsWorkday(d) ? 1 : 0);
}

// WorkdayNote(d): what the list adds to a 法定工作日 reminder while the schedule it follows
// runs out: "（2027年起按周一至周五）" in a year without one, or from 1 November of a year whose
// next year has none yet; else empty.
void FnWorkdayNote(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const QDate d = AnyNull(argc, argv) ? QDate() : DateArg(argv[0]);
    if (!d.isValid())
        return sqlite3_result_null(ctx);
    int from = 0;
    if (!Workdays::IsYearKnown(d.year()))
        from = d.year();
    else if (d.month() >= 11 && !Workdays::IsYearKnown(d.year() + 1))
        from = d.year() + 1;
    ResultUtf8(ctx, from == 0 ? QByteArray()
                              : QStringLiteral("（%1年起按周一至周五）").arg(from).toUtf8());
}

// The decimal text of a number, as UTF-8; a text stays as it is.
QByteArray NumberText(sqlite3_value* v) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return QByteArray::number(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return QString::number(sqlite3_value_double(v), 'g', 15).toUtf8();
    default:
        return Utf8Arg(v).toByteArray();
    }
}

// " 0" to " 99": the hours, minutes and days the listing writes several times a row, handed
// to the engine without a copy each.
struct TSmallNumbers {
    char text[100][4] = {};
    TSmallNumbers() {
        for (int n = 0; n < 100; ++n)
            std::snprintf(text[n], sizeof text[n], " %d", n);
    }
    // The text of n with the leading blank or without, or null when n is not small.
    const char* Of(sqlite3_value* v, bool blank, int* size) const {
        if (sqlite3_value_type(v) != SQLITE_INTEGER)
            return nullptr;
        const qint64 n = sqlite3_value_int64(v);
        if (n < 0 || n >= 100)
            return nullptr;
        *size = (n < 10 ? 1 : 2) + (blank ? 1 : 0);
        return text[n] + (blank ? 0 : 1);
    }
};
const TSmallNumbers smallNumbers;

void FnCStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv))
        return sqlite3_result_null(ctx);
    int size = 0;
    if (const char* text = smallNumbers.Of(argv[0], false, &size))
        return sqlite3_result_text(ctx, text, size, SQLITE_STATIC);
    ResultUtf8(ctx, NumberText(argv[0]));
}

// Texts the per-row functions build, on the stack for the usual short ones.
using TShortText = QVarLengthArray<char, 64>;

void ResultShort(sqlite3_context* ctx, const TShortText& text) {
    sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Appends n in decimal, at least width digits (zero-padded).
void AppendNumber(TShortText& out, qint64 n, int width = 1) {
    char digits[24];
    int size = 0;
    quint64 u = n < 0 ? 0 - static_cast<quint64>(n) : static_cast<quint64>(n);
    do {
        digits[size++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    while (size < width)
        digits[size++] = '0';
    if (n < 0)
        out.append('-');
    while (size)
        out.append(digits[--size]);
}

// Decimal text with a leading blank for a number that is not negative.
void FnStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv))
        return sqlite3_result_null(ctx);
    int size = 0;
    if (const char* small = smallNumbers.Of(argv[0], true, &size))
        return sqlite3_result_text(ctx, small, size, SQLITE_STATIC);
    TShortText text;
    if (sqlite3_value_type(argv[0]) == SQLITE_INTEGER) {
        // The listing comes here two or three times a row: nothing allocated.
        const qint64 n = sqlite3_value_int64(argv[0]);
        if (n >= 0)
            text.append(' ');
        AppendNumber(text, n);
    } else {
        const QByteArray number = NumberText(argv[0]);
        if (!number.startsWith('-'))
            text.append(' ');
        text.append(number.constData(), number.size());
    }
    ResultShort(ctx, text);
}

bool TokenAt(QByteArrayView text, qsizetype at, char letter, int length) {
    if (at + length > text.size())
        return false;
    for (int i = 0; i < length; ++i)
        if ((text[at + i] | 0x20) != letter)
            return false;
    return true;
}

// Date formats with the tokens YYYY, MM, DD (any case).
void FnFormat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv))
        return sqlite3_result_null(ctx);
    const QDate d = DateArg(argv[0]);
    if (!d.isValid())
        return ResultUtf8(ctx, Utf8Arg(argv[0]));
    const QByteArrayView format = Utf8Arg(argv[1]);
    TShortText out;
    for (qsizetype at = 0; at < format.size();) {
        if (TokenAt(format, at, 'y', 4)) {
            AppendNumber(out, d.year(), 4);
            at += 4;
        } else if (TokenAt(format, at, 'm', 2)) {
            AppendNumber(out, d.month(), 2);
            at += 2;
        } else if (TokenAt(format, at, 'd', 2)) {
            AppendNumber(out, d.day(), 2);
            at += 2;
        } else {
            out.append(format[at++]);
        }
    }
    ResultShort(ctx, out);
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

void FnIIfCondition(sqlite3_context* ctx, int, sqlite3_value** argv) {
    sqlite3_result_int(ctx, Truth(argv[0]) ? 1 : 0);
}

// Past a literal, quoted name or comment starting at i; i itself when none starts there.
qsizetype SkipQuoted(const QString& s, qsizetype i) {
    const qsizetype n = s.size();
    const QChar c = s.at(i);
    const QChar next = i + 1 < n ? s.at(i + 1) : QChar();
    if (c == u'-' && next == u'-') {
        const qsizetype end = s.indexOf(QLatin1Char('\n'), i);
        return end < 0 ? n : end + 1;
    }
    if (c == u'/' && next == u'*') {
        const qsizetype end = s.indexOf(QLatin1String("*/"), i + 2);
        return end < 0 ? n : end + 2;
    }
    if (c != u'\'' && c != u'"' && c != u'`' && c != u'[')
        return i;
    const QChar close = c == u'[' ? QChar(u']') : c;
    for (qsizetype j = i + 1; j < n; ++j) {
        if (s.at(j) != close)
            continue;
        if (close != u']' && j + 1 < n && s.at(j + 1) == close) {
            ++j; // a doubled quote stands for itself
            continue;
        }
        return j + 1;
    }
    return n;
}

bool IsNameChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

QString ShortCircuit(const QString& s, qsizetype from, qsizetype to) {
    QString out;
    qsizetype copied = from;
    for (qsizetype i = from; i < to;) {
        const qsizetype past = SkipQuoted(s, i);
        if (past != i) {
            i = past;
            continue;
        }
        const bool call = i + 3 < to &&
                          QStringView(s).mid(i, 3).compare(u"iif", Qt::CaseInsensitive) == 0 &&
                          (i == 0 || !IsNameChar(s.at(i - 1))) && !IsNameChar(s.at(i + 3));
        qsizetype open = i + 3;
        while (call && open < to && s.at(open).isSpace())
            ++open;
        if (!call || open >= to || s.at(open) != u'(') {
            ++i;
            continue;
        }
        // The three arguments, split at the commas outside parentheses.
        QList<qsizetype> cuts{open + 1};
        int depth = 0;
        qsizetype close = -1;
        for (qsizetype j = open + 1; j < to && close < 0;) {
            const qsizetype skipped = SkipQuoted(s, j);
            if (skipped != j) {
                j = skipped;
                continue;
            }
            const QChar c = s.at(j);
            if (c == u'(') {
                ++depth;
            } else if (c == u')') {
                if (depth-- == 0)
                    close = j;
            } else if (c == u',' && depth == 0) {
                cuts << j + 1;
            }
            ++j;
        }
        if (close < 0 || cuts.size() != 3) { // not IIf's shape: the engine says what is wrong
            ++i;
            continue;
        }
        out += QStringView(s).mid(copied, i - copied);
        out += QLatin1String("(CASE WHEN IIfCondition(") + ShortCircuit(s, cuts[0], cuts[1] - 1) +
               QLatin1String(") THEN ") + ShortCircuit(s, cuts[1], cuts[2] - 1) +
               QLatin1String(" ELSE ") + ShortCircuit(s, cuts[2], close) + QLatin1String(" END)");
        i = copied = close + 1;
    }
    out += QStringView(s).mid(copied, to - copied);
    return out;
}

// Date() and Time() count as deterministic: every statement is stepped to its end as soon as
// it is prepared, inside one moment, so the engine may work them out once per statement
// instead of once per row (the due check over 10,000 reminders depends on it). DayKind and
// IsWorkday answer differently once a schedule is imported, even while another thread's
// statement runs; the flag only lets the engine keep one answer per statement, which is right
// either way. Never put them in an index or a CHECK: an import would leave those stale.
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
    {"IIfCondition", 1, FnIIfCondition, true},
    {"Month", 1, FnMonth, true},
    {"NextYearly", 4, FnNextYearly, true},
    {"LunarText", 1, FnLunarText, true},
    {"TextHas", 3, FnTextHas, true},
    {"DayKind", 1, FnDayKind, true},
    {"IsWorkday", 1, FnIsWorkday, true},
    {"WorkdayNote", 1, FnWorkdayNote, true},
};

} // namespace

QString ShortCircuitIIf(const QString& sql) {
    if (!sql.contains(QLatin1String("iif"), Qt::CaseInsensitive))
        return sql;
    return ShortCircuit(sql, 0, sql.size());
}

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

TStatementClock::TStatementClock() : outer_(!inStatement) {
    if (outer_) {
        inStatement = true;
        statementMoment.reset();
    }
}

TStatementClock::~TStatementClock() {
    if (outer_) {
        inStatement = false;
        statementMoment.reset();
    }
}
