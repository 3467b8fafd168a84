#pragma once

struct sqlite3;

// Registers the engine functions the program's statements rely on: Date(), Time(), Hour,
// Minute, Day, Month, WeekDay, CStr, Str, Format and IIf, for yearly reminders NextYearly
// and LunarText, TextHas (the search across notes), and DayKind and IsWorkday (China's
// official schedule of holidays and make-up working days). Date() and Time() read the
// program's clock. Returns an SQLite result code.
int RegisterEngineFunctions(sqlite3* db);

class QString;

// The statement as the engine runs it: every IIf(c,a,b) becomes a CASE that tests c as IIf
// does, so only the chosen value is worked out (the reminder list nests five of them per
// row). Literals, quoted names and comments are left as they are.
QString ShortCircuitIIf(const QString& sql);

class QDateTime;

// While alive, the engine's Date() and Time() on this thread answer for the given moment
// instead of the program's clock (the due check asks about a minute that a late tick is
// catching up on); other threads' statements still read the clock.
class TEngineMoment {
public:
    explicit TEngineMoment(const QDateTime& moment);
    ~TEngineMoment();
    TEngineMoment(const TEngineMoment&) = delete;
    TEngineMoment& operator=(const TEngineMoment&) = delete;
};

// While alive, the engine's Date() and Time() read the clock at most once: every row of one
// statement sees the same moment, and a long listing does not pay for a clock reading per
// row. An explicit TEngineMoment still wins.
class TStatementClock {
public:
    TStatementClock();
    ~TStatementClock();
    TStatementClock(const TStatementClock&) = delete;
    TStatementClock& operator=(const TStatementClock&) = delete;

private:
    bool outer_;
};
