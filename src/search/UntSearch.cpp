#include "UntSearch.h"

#include "reminders/UntAlam.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntTextMatch.h"

#include <QElapsedTimer>
#include <QHash>

namespace {

const QString RootCaption = QStringLiteral("根目录");

// Group rows first (every one: the paths need them), then the notes and the reminder texts
// that hold the query. The query is bound, never part of the text.
const QString SearchSql =
    QStringLiteral("select * from (select 0,SelfIndex,ParentIndex,TypeName,TextHas(TypeName,?1,?2) "
                   "from NoteType where SelfIndex<>0 order by SelfIndex) "
                   "union all select * from (select 1,TypeID,0,ReMark,1 from NoteBook "
                   "where TextHas(ReMark,?1,?2) order by TypeID) "
                   "union all select * from (select 2,ID,") +
    AlamTimeTextSql +
    QStringLiteral(",ReMark,1 from Alam where TextHas(ReMark,?1,?2) order by ID)");

// Reads what a search reads, so that its pages are in the reader's cache.
const QString ReadAheadSql =
    QStringLiteral("select (select sum(length(ReMark)) from NoteBook)+"
                   "(select sum(length(ReMark)) from Alam)+(select count(TypeName) from NoteType)");

// How much of a long line is shown around a match, in bytes of text.
constexpr qsizetype ContextBefore = 60;
constexpr qsizetype ContextAfter = 160;
const QString Ellipsis = QStringLiteral("…");

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Length of the line break ending just before byte i (0 when none).
int BreakBefore(QByteArrayView t, qsizetype i) {
    if (i <= 0)
        return 0;
    if (t[i - 1] == '\n' || t[i - 1] == '\r')
        return 1;
    if (i >= 3 && t[i - 3] == '\xE2' && t[i - 2] == '\x80' &&
        (t[i - 1] == '\xA8' || t[i - 1] == '\xA9'))
        return 3;
    return 0;
}

// Length of the line break starting at byte i (0 when none).
int BreakAt(QByteArrayView t, qsizetype i) {
    if (i >= t.size())
        return 0;
    if (t[i] == '\n' || t[i] == '\r')
        return 1;
    if (i + 2 < t.size() && t[i] == '\xE2' && t[i + 1] == '\x80' &&
        (t[i + 2] == '\xA8' || t[i + 2] == '\xA9'))
        return 3;
    return 0;
}

QString ShowBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("↵"));
    for (QChar c : {QChar(u'\r'), QChar(u'\n'), QChar(0x2028), QChar(0x2029)})
        text.replace(c, QStringLiteral("↵"));
    return text;
}

// The line around the match [begin, end), clipped on long lines; the match shows its line
// breaks as arrows.
void FillLine(TSearchHit& hit, QByteArrayView t, qsizetype begin, qsizetype end) {
    qsizetype start = begin;
    while (start > 0 && begin - start < ContextBefore && !BreakBefore(t, start))
        --start;
    while (start < begin && IsContinuation(t[start]))
        ++start;
    const bool clippedBefore = start > 0 && !BreakBefore(t, start);
    qsizetype stop = end;
    while (stop < t.size() && stop - end < ContextAfter && !BreakAt(t, stop))
        ++stop;
    while (stop > end && stop < t.size() && IsContinuation(t[stop]))
        --stop;
    const bool clippedAfter = stop < t.size() && !BreakAt(t, stop);
    const QString before =
        (clippedBefore ? Ellipsis : QString()) + QString::fromUtf8(t.data() + start, begin - start);
    const QString match = ShowBreaks(QString::fromUtf8(t.data() + begin, end - begin));
    hit.Line = before + match + QString::fromUtf8(t.data() + end, stop - end) +
               (clippedAfter ? Ellipsis : QString());
    hit.LineStart = static_cast<int>(before.size());
    hit.LineLength = static_cast<int>(match.size());
}

class TCollector {
public:
    TCollector(const QString& query, bool caseSensitive,
               const std::function<void(QList<TSearchHit>&&)>& onHits,
               const std::atomic<bool>* cancel, const std::function<void()>& eachRow)
        : matcher_(query, caseSensitive), onHits_(onHits), cancel_(cancel), eachRow_(eachRow) {
        sinceFlush_.start();
    }

    bool Row(const TRowView& row) {
        if (eachRow_)
            eachRow_();
        const int kind = static_cast<int>(row.Integer(0));
        const int id = static_cast<int>(row.Integer(1));
        if (kind == 0) {
            groups_.insert(id, {static_cast<int>(row.Integer(2)), row.Text(3)});
            if (row.Integer(4))
                namedHits_.append(id);
            return true;
        }
        FlushGroupNames();
        if (kind == 1) {
            if (id != 0 && !groups_.contains(id))
                return true; // a note without its group cannot be shown
            Matches(TSearchHit::Note, id, Path(id), row.Utf8(3));
        } else {
            const QString time = row.Text(2);
            Matches(TSearchHit::Reminder, id,
                    QStringLiteral("提醒") +
                        (time.startsWith(QLatin1Char(' ')) ? QString() : QStringLiteral(" ")) +
                        time,
                    row.Utf8(3));
        }
        return !Cancelled();
    }

    void Finish() {
        FlushGroupNames();
        Flush();
    }
    int Total() const { return total_; }

private:
    struct Group {
        int parent = 0;
        QString name;
    };

    bool Cancelled() const { return cancel_ && *cancel_; }

    // Group names are looked at once every group is known, so that each path is whole.
    void FlushGroupNames() {
        for (int id : std::as_const(namedHits_))
            Matches(TSearchHit::Group, id, Path(id), groups_.value(id).name.toUtf8());
        namedHits_.clear();
    }

    // ‘根目录->A->B’; a group whose parent is unknown stands under the root, as in the tree.
    QString Path(int id) {
        if (id == 0)
            return RootCaption;
        if (const auto at = paths_.constFind(id); at != paths_.constEnd())
            return *at;
        QString path = groups_.value(id).name;
        int up = groups_.value(id).parent;
        for (int depth = 0; up != 0 && groups_.contains(up) && depth < groups_.size(); ++depth) {
            path = groups_.value(up).name + QStringLiteral("->") + path;
            up = groups_.value(up).parent;
        }
        path = RootCaption + QStringLiteral("->") + path;
        paths_.insert(id, path);
        return path;
    }

    void Matches(TSearchHit::Kind kind, int id, const QString& where, QByteArrayView text) {
        qsizetype from = 0;
        qsizetype counted = 0; // bytes whose UTF-16 length is in position
        qsizetype position = 0;
        for (int ordinal = 0;; ++ordinal) {
            const TTextMatcher::Span span = matcher_.Find(text, from);
            if (!span.Found())
                return;
            ++total_;
            if (hitsGiven_ < SearchHitLimit) {
                position += Utf16Length(text.sliced(counted, span.begin - counted));
                counted = span.begin;
                TSearchHit hit;
                hit.kind = kind;
                hit.Id = id;
                hit.Ordinal = ordinal;
                hit.Position = static_cast<int>(position);
                hit.Length =
                    static_cast<int>(Utf16Length(text.sliced(span.begin, span.end - span.begin)));
                hit.Where = where;
                FillLine(hit, text, span.begin, span.end);
                batch_.append(std::move(hit));
                ++hitsGiven_;
                // The first hits are shown at once, the rest in few batches: each one repaints the
                // list.
                const int flushMs = hitsGiven_ == batch_.size() ? 4 : 30;
                if (batch_.size() >= 100 || sinceFlush_.elapsed() >= flushMs)
                    Flush();
            } else if ((total_ & 0xFFF) == 0 && Cancelled()) {
                return;
            }
            from = span.end;
        }
    }

    void Flush() {
        if (!batch_.isEmpty() && !Cancelled())
            onHits_(std::move(batch_));
        batch_.clear();
        sinceFlush_.restart();
    }

    TTextMatcher matcher_;
    const std::function<void(QList<TSearchHit>&&)>& onHits_;
    const std::atomic<bool>* cancel_;
    const std::function<void()>& eachRow_;
    QHash<int, Group> groups_;
    QHash<int, QString> paths_;
    QList<int> namedHits_;
    QList<TSearchHit> batch_;
    QElapsedTimer sinceFlush_;
    int total_ = 0;
    int hitsGiven_ = 0;
};

} // namespace

TSearchOutcome SearchAll(TReadConnection& reader, const QString& query, bool caseSensitive,
                         const std::function<void(QList<TSearchHit>&&)>& onHits,
                         const std::atomic<bool>* cancel, const std::function<void()>& eachRow) {
    TSearchOutcome outcome;
    if (query.isEmpty()) {
        outcome.Completed = true;
        return outcome;
    }
    TCollector collector(query, caseSensitive, onHits, cancel, eachRow);
    const bool ran = reader.ReadRows(
        SearchSql, {query, caseSensitive ? 1 : 0},
        [&](const TRowView& row) { return collector.Row(row); }, cancel);
    if (!ran)
        return outcome;
    collector.Finish();
    outcome.Total = collector.Total();
    outcome.Completed = !(cancel && *cancel);
    return outcome;
}

bool FindOccurrence(const QString& text, const QString& query, bool caseSensitive, int ordinal,
                    int* position, int* length) {
    const TTextMatcher matcher(query, caseSensitive);
    const QByteArray utf8 = text.toUtf8();
    qsizetype from = 0;
    for (int k = 0;; ++k) {
        const TTextMatcher::Span span = matcher.Find(utf8, from);
        if (!span.Found())
            return false;
        if (k == ordinal) {
            *position = static_cast<int>(Utf16Length(QByteArrayView(utf8).first(span.begin)));
            *length = static_cast<int>(
                Utf16Length(QByteArrayView(utf8).sliced(span.begin, span.end - span.begin)));
            return true;
        }
        from = span.end;
    }
}

// ---------------------------------------------------------------- TSearchRunner

TSearchRunner::TSearchRunner(TReadConnection& reader, QObject* parent)
    : QObject(parent), reader_(reader) {}

TSearchRunner::~TSearchRunner() {
    Cancel();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
    if (worker_.joinable())
        worker_.join(); // after the jobs still waiting, each told to stop
}

void TSearchRunner::Cancel() {
    ++generation_;
    if (cancel_)
        *cancel_ = true;
    cancel_.reset();
}

void TSearchRunner::Launch(std::function<void(const std::atomic<bool>* cancel)> job) {
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    cancel_ = cancel;
    ++running_;
    std::function<void()> run = [this, cancel, job = std::move(job)] {
        job(cancel.get());
        --running_;
    };
    if (!worker_.joinable()) {
        try {
            worker_ = std::thread([this] { Work(); });
        } catch (...) {
            run(); // no thread to be had: search here
            return;
        }
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(run));
    }
    wake_.notify_one();
}

void TSearchRunner::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // One search at a time: a newer one waits only until the older one sees its cancel.
        wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
        if (jobs_.empty())
            return;
        const std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}

void TSearchRunner::ReadAhead() {
    if (running_ > 0)
        return;
    Launch([this](const std::atomic<bool>* cancel) {
        try {
            std::pair<quint64, qint64> state;
            reader_.ReadRows(
                QStringLiteral("PRAGMA data_version"), {},
                [&](const TRowView& row) {
                    state = {reader_.Openings(), row.Integer(0)};
                    return true;
                },
                cancel);
            if (state != readAhead_ &&
                reader_.ReadRows(
                    ReadAheadSql, {}, [](const TRowView&) { return true; }, cancel))
                readAhead_ = state;
        } catch (const std::exception&) {
            // The search itself meets the same fault and reports it.
        }
    });
}

quint64 TSearchRunner::Start(const QString& query, bool caseSensitive) {
    Cancel();
    const quint64 generation = generation_;
    Launch([this, generation, query, caseSensitive](const std::atomic<bool>* cancel) {
        auto hand = [&](auto&& call) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, call = std::move(call)] {
                    if (Current(generation))
                        call();
                },
                Qt::QueuedConnection);
        };
        try {
            const TSearchOutcome outcome = SearchAll(
                reader_, query, caseSensitive,
                [&](QList<TSearchHit>&& hits) {
                    hand([this, generation, hits = std::move(hits)] {
                        if (OnHits)
                            OnHits(generation, hits);
                    });
                },
                cancel,
                [&] {
                    if (EachRow)
                        EachRow(generation);
                });
            if (outcome.Completed && !*cancel)
                hand([this, generation, total = outcome.Total] {
                    if (OnFinished)
                        OnFinished(generation, total);
                });
        } catch (const EDBException& e) {
            hand([this, generation, message = e.Message(), sql = e.SqlText] {
                if (OnFailed)
                    OnFailed(generation, message, sql);
            });
        } catch (const std::exception& e) {
            hand([this, generation, message = QString::fromUtf8(e.what())] {
                if (OnFailed)
                    OnFailed(generation, message, QString());
            });
        }
    });
    return generation;
}
