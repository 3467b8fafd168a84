#pragma once

#include "reminders/UntAlamIcs.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class TConnection;
class TDbAccess;

// The two collections on the server.
enum TSyncColl { scReminders = 0, scNotes = 1 };

// The sync settings (the one row of SyncSet).
struct TSyncSettings {
    bool Enabled = false;
    QString ServerUrl;
    QString UserName;
    QString PassWord; // only when no keyring holds it
    bool InKeyring = false;
    int Interval = 5;       // minutes
    bool PlainHttp = false; // the user accepted plain HTTP to a remote host
    QString LastSync;

    void Load(TDbAccess& db);
    void Save(TDbAccess& db) const;
};

// One reminder as the sync sees it: every column that travels, known by its UID (the row
// number is each file's own).
struct TSyncReminder : TAlamRecord {
    QString Uid;
    // The content two sides compare; the same on every machine for the same values.
    QString Hash() const;
};

// One group with its note.
struct TSyncGroup {
    QString Uid;
    QString Name;
    QString ParentUid; // empty for the root
    QString Note;
    QString Hash() const;
};

// What both sides last agreed on for one item.
struct TSyncItem {
    QString Uid;
    QString Href;
    QString ETag;
    QString Hash; // content last agreed on; "-" for an item this program cannot show
    QString Sent; // content of a write whose answer has not been recorded yet
};

struct TSyncCollState {
    QString Server; // the account the state belongs to
    QString Href;
    bool SyncReport = false;
    QString SyncToken;
    QString CTag;
};

// A row changed since it was last agreed on; Changed is the program's local time.
struct TSyncPending {
    QString Uid;
    QString Changed;
};

// The local side of the sync: reads and writes the program's tables by UID, and the sync's
// own state, through the data file's side writer. Every call runs on the interface thread
// and is short; a call made while a commit runs waits for it.
class TSyncStore {
public:
    explicit TSyncStore(TDbAccess& db) : db_(db) {}

    std::optional<TSyncReminder> Reminder(const QString& uid);
    // Inserts or rewrites the reminder of that UID.
    void PutReminder(const TSyncReminder& r);
    void DeleteReminder(const QString& uid);

    std::optional<TSyncGroup> Group(const QString& uid);
    // Inserts or rewrites the group of that UID with its note; a parent not known here
    // puts it under the root.
    void PutGroup(const TSyncGroup& g);
    // Deletes the group and its note; false when it still has sub-groups here.
    bool DeleteGroup(const QString& uid);
    bool HasChildGroups(const QString& uid);
    // The root, or a group row with that uid (its note is not read).
    bool HasGroup(const QString& uid);
    // A new group beside uid's, named and noted as given; returns its UID.
    QString AddSiblingGroup(const QString& uid, const QString& name, const QString& note);

    std::optional<TSyncItem> Item(int coll, const QString& uid);
    std::optional<TSyncItem> ItemByHref(int coll, const QString& href);
    // The places of items agreed on with a tag, in order, at most count after `after`.
    QStringList AgreedHrefs(int coll, const QString& after, int count);
    void SaveItem(int coll, const TSyncItem& item);
    void DropItem(int coll, const QString& uid);

    std::vector<TSyncPending> Pending(int coll);
    // At most count entries after the row `after`; *last gets the last row read.
    std::vector<TSyncPending> Pending(int coll, qint64 after, int count, qint64* last);
    std::optional<TSyncPending> PendingOf(int coll, const QString& uid);
    // Changes whenever a change is noted here; cheap enough to ask every few seconds.
    QString PendingMark();
    void DropPending(int coll, const QString& uid);
    void MarkPending(int coll, const QString& uid);

    TSyncCollState CollState(int coll);
    void SaveCollState(int coll, const TSyncCollState& state);
    // Forgets everything agreed with a server: every row goes up again on the next sync.
    void ResetFor(const QString& server);
    // The time of the last pass that finished (SyncSet.LastSync).
    void SaveLastSync(const QString& at);

    void Begin();
    // The commit runs on the side writer's thread; done(error) follows on this thread.
    void CommitInBackground(std::function<void(const QString& error)> done);
    bool Committing() const;
    // Another writer's large transaction is being filled (an import).
    bool WritingAside() const;
    // The collection's state and every item agreed with it are forgotten, and every local
    // object of it is pending again.
    void ForgetCollection(int coll);
    // The server's copy of an object that holds more than this program shows (its location,
    // say); an empty data forgets it.
    void SaveCopy(int coll, const QString& uid, const QByteArray& data);
    QByteArray Copy(int coll, const QString& uid);
    void Rollback();
    bool InTransaction() const { return inTransaction_; }

    static QString NewUid();

private:
    TConnection& Conn();
    void Exec(const QString& sql);
    TDbAccess& db_;
    bool inTransaction_ = false;
};
