#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

class TReadConnection;

// One place where the query was found.
struct TSearchHit {
    enum Kind { Note, Group, Reminder };
    Kind kind = Note;
    int Id = 0;       // the group's SelfIndex (a note, a group name) or the reminder's ID
    int Ordinal = 0;  // which occurrence in its text, from 0
    int Position = 0; // in the stored text, in characters (UTF-16 units)
    int Length = 0;
    QString Where;     // "根目录->工作->项目A", or "提醒" and the reminder's time
    QString Line;      // the line around the match
    int LineStart = 0; // the match within Line
    int LineLength = 0;
};

struct TSearchOutcome {
    int Total = 0;          // every match, also those past the limit
    bool Completed = false; // false when cancelled
};

// The most hits a search hands out; the count goes on past it.
constexpr int SearchHitLimit = 1000;

// Searches every note, group name and reminder text with one statement on the reader
// connection, handing out the hits in batches as they are found. Runs on any thread.
TSearchOutcome SearchAll(TReadConnection& reader, const QString& query, bool caseSensitive,
                         const std::function<void(QList<TSearchHit>&&)>& onHits,
                         const std::atomic<bool>* cancel = nullptr,
                         const std::function<void()>& eachRow = {});

// The position and length (UTF-16) of the ordinal-th occurrence of query in text, matched
// as SearchAll matches; false when there are fewer.
bool FindOccurrence(const QString& text, const QString& query, bool caseSensitive, int ordinal,
                    int* position, int* length);

// Runs searches off the interface thread, newest first: starting a search cancels the one
// before, and nothing of an older search is handed out once a newer one has started. The
// callbacks run on the interface thread.
class TSearchRunner : public QObject {
public:
    explicit TSearchRunner(TReadConnection& reader, QObject* parent = nullptr);
    ~TSearchRunner() override;

    std::function<void(quint64 generation, const QList<TSearchHit>& hits)> OnHits;
    std::function<void(quint64 generation, int total)> OnFinished;
    std::function<void(quint64 generation, const QString& message, const QString& sql)> OnFailed;
    // Runs on the searching thread for each row read (tests slow a search down with it).
    std::function<void(quint64 generation)> EachRow;

    quint64 Start(const QString& query, bool caseSensitive);
    void Cancel();
    // Reads every text once ahead of the search being typed, when the data changed since it
    // was last read (or the window was closed): a search then finds its pages decrypted.
    // Nothing happens while a search runs; a search started meanwhile stops it.
    void ReadAhead();
    quint64 Generation() const { return generation_; }
    bool Busy() const { return running_ > 0; }

private:
    bool Current(quint64 generation) const { return generation == generation_; }
    // Runs job on the searching thread with a cancel flag of its own, which Cancel sets.
    void Launch(std::function<void(const std::atomic<bool>* cancel)> job);
    void Work(); // the searching thread: the jobs in turn, one at a time

    TReadConnection& reader_;
    // Handed over under a lock of this class's own, which a thread sanitizer can follow
    // (it cannot see into Qt's thread pool).
    std::thread worker_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool quit_ = false;
    quint64 generation_ = 0;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::atomic<int> running_{0};
    // The reader's state when the read ahead last ran through: its opening, its data_version.
    std::pair<quint64, qint64> readAhead_{0, -1};
};
