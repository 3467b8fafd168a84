#pragma once

#include "UntSyncStore.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class TCalDavClient;
class TDbAccess;
struct TDavEntry;
struct TDavResult;

// The display names of the two collections on the server.
inline const QString RemindersCollectionName = QStringLiteral("Quillet 提醒");
inline const QString NotesCollectionName = QStringLiteral("Quillet 笔记");

// Two-way sync of the reminders and the notes with a CalDAV server. It runs on the interface
// thread: network answers arrive as events and the database work is cut into slices of a
// few milliseconds, each one transaction of the data file's side writer, committed on the
// writer's thread. What both sides agreed on is recorded as it happens, so a pass cut off
// anywhere loses nothing and the next pass finishes the work.
class TSyncEngine : public QObject {
    Q_OBJECT
public:
    explicit TSyncEngine(TDbAccess& db, QObject* parent = nullptr);
    ~TSyncEngine() override;

    // Reads the settings and, when sync is on, runs a pass now and then every interval.
    void Start();
    void Stop();
    // One pass now; while one runs, another follows it.
    void SyncNow();
    // Something changed here: a pass follows a few seconds later (when sync is on).
    void LocalChanged();
    // The pass that follows local changes: sends them first, and reads the server too only
    // when it refused a write because the item changed there, or after many writes.
    void SyncChanges();
    // The password read from the keyring (or typed), for this run only.
    void SetPassword(const QString& password) { password_ = password; }
    // New settings are stored (the keyring may take a while after the dialog closed): the
    // password typed, or empty when the stored one stays. Reconfigured follows.
    void SettingsStored(const QString& password);
    // Checks the account without changing anything: TestFinished reports what was found.
    void TestConnection(const TSyncSettings& settings, const QString& password);

    bool Running() const { return running_; }
    QString StateText() const { return state_; }
    int LastConflicts() const { return lastConflicts_; }
    void SetSliceBudget(int ms) { budgetMs_ = ms; }
    // How long a request may go without a byte from the server.
    void SetTimeout(int ms);
    // The longest slice of database work in the last pass, in milliseconds.
    double LongestSliceMs() const { return longestSliceMs_; }

    // "已同步 10:42", with the number of conflicts kept when there were any.
    static QString SyncedText(const QDateTime& at, int conflicts);

    // What the last pass could not take or send, one "“title”：why" each.
    QStringList Problems() const { return problems_; }

Q_SIGNALS:
    void StateChanged(const QString& text);
    void Finished(bool ok, const QString& message);
    // Once per pass that kept conflicting changes.
    void ConflictsKept(int count);
    void RemindersChanged();
    void NotesChanged();
    void TestFinished(bool ok, const QString& report);
    void Reconfigured();

private:
    struct TRemote {
        QString Href;
        QString ETag;
        QByteArray Data;
    };
    // A listing of a collection's items, sorted out.
    struct TListing {
        QStringList Changed; // href and tag, one line each
        QStringList Removed;
        QSet<QString> Listed;
        QString CTag;
    };
    struct TParsedGroup {
        TRemote Remote;
        TSyncGroup Group;
        QDateTime Changed;
        bool Ok = false;
        QString Why;
    };

    void Begin(bool changesFirst = false);
    void Discover(bool create, std::function<void(const QString& report)> found);
    void ListHome(const QString& home, bool create, bool retried,
                  std::function<void(const QString& report)> found);
    void Round();
    void SendRound();
    void PushBoth();
    void Fetch(int coll, bool retried, std::function<void()> next);
    // Every item of a collection without the sync report.
    void List(int coll, const QUrl& url, std::function<void()> next);
    void SortOut(int coll, std::vector<TDavEntry> entries, std::function<void(TListing&)> sorted);
    void FetchData(int coll, const QStringList& hrefs, const QStringList& removed,
                   const QString& newToken, const QString& ctag, std::function<void()> next);
    void Push(int coll, std::function<void()> next);
    void PushOne(int coll, const TSyncPending& pending);
    void ApplyReminder(const TRemote& remote);
    // A group as it arrives; a sub-group whose parent is not here yet waits for it.
    void TakeGroup(const TRemote& remote);
    void ApplyWithWaiting(const TParsedGroup& parsed);
    // The groups still waiting once everything has arrived: parents first.
    void ApplyGroups(std::function<void()> next);
    void ApplyGroup(const TParsedGroup& parsed);
    // False when a group must wait for its sub-groups (unless force).
    bool ApplyRemoved(int coll, const QString& href, bool force);
    void RemoveAll(int coll, const QStringList& hrefs, bool force, std::function<void()> next);
    // An object this program cannot show: kept as it is there. When it is one of ours (uid),
    // nothing here is written over it, and the user is told which and why.
    void KeepUnreadable(int coll, const TRemote& remote, const QString& uid = QString(),
                        const QString& title = QString(), const QString& why = QString());
    // The collection is gone from the server (wiped, deleted elsewhere): found or made again,
    // and everything here sent to it anew, once a pass.
    void CollectionGone(int coll);
    // A failure during discovery: reported to the connection test when one runs.
    void Failed(const QString& message);
    void Finish();
    void Conclude(const QDateTime& now); // once the time of the pass is recorded
    void Fail(const QString& message);
    void SetState(const QString& text);

    // Work queue and the barrier that runs `next` once all queued work and requests are done.
    void Queue(std::function<void()> work);
    // Answers are recorded before more requests go out.
    void QueueFirst(std::function<void()> work);
    void Then(std::function<void()> next);
    // Reads in queued steps, a page each, so that no slice holds a whole list: page(after)
    // handles one page and returns the key of its last row, or nothing when it was the last.
    template <typename Key>
    void InPages(const Key& first, std::function<std::optional<Key>(const Key&)> page);
    void Request(std::function<void(std::function<void(TDavResult&)>)> send,
                 std::function<void(TDavResult&)> done);
    void Pump();
    void RunSlice();
    void CheckIdle();

    QString CollHref(int coll) const { return coll_[coll].Href; }
    QDateTime ChangedAt(const QString& changed) const;

    TDbAccess& db_;
    TSyncStore store_;
    TCalDavClient* client_;
    QTimer interval_;
    QTimer soon_;
    QTimer pump_;
    QString password_;
    QString state_;
    bool running_ = false;
    bool rerun_ = false;
    bool started_ = false;
    // A slice's work stays within this (a frame is 16 ms); its commit runs elsewhere.
    int budgetMs_ = 6;
    double longestSliceMs_ = 0;
    int lastConflicts_ = 0;
    quint64 generation_ = 0; // answers of an abandoned pass are dropped

    // the pass
    TSyncSettings settings_;
    QString server_;
    TSyncCollState coll_[2];
    int round_ = 0;
    bool again_ = false;
    int written_ = 0; // objects written or deleted there this round
    int conflicts_ = 0;
    int skipped_ = 0;
    int refused_ = 0;
    // What this pass could not take or send, one "“title”：why" each; a pass with any does
    // not count as done.
    QStringList problems_;
    bool rediscovered_[2] = {false, false};
    bool remindersChanged_ = false;
    bool notesChanged_ = false;
    std::deque<std::function<void()>> work_;
    int requests_ = 0;
    std::function<void()> next_;
    // Sub-groups that arrived before their parent, by the parent's uid.
    std::multimap<QString, TParsedGroup> waiting_;
    // A read of changed objects failed: what arrived is still applied and kept, then the
    // pass fails with this.
    QString fetchError_;
    int fetched_ = 0;
    std::function<void(bool, const QString&)> testReport_;
};
