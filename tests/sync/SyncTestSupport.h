#pragma once

#include "TestSupport.h"
#include "storage/UntDbAccess.h"
#include "sync/UntSyncEngine.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

// A Radicale on 127.0.0.1: the one .ci/run started (QUILLET_TEST_CALDAV_DIR) or a private
// one in a temporary folder. Users are added to its password file as tests need them.
// With QUILLET_TEST_CALDAV_SERVER=xandikos the tests run against a Xandikos instead, a new
// one for each test (it knows one user only).
class TRadicale {
public:
    // dir empty: a private server in a temporary folder.
    explicit TRadicale(const QString& dir = QString());
    ~TRadicale();
    static TRadicale& Shared();
    // The server a two-machine test runs against: the shared Radicale, or a Xandikos of the
    // test's own while server holds it.
    static TRadicale& ForTest(std::unique_ptr<TRadicale>& server);
    static bool Xandikos();
    QString Url() const { return url_; }
    // A new user of its own; the password is the name + "-pw".
    QString AddUser();
    void Stop();
    void Start();

private:
    QString dir_;
    QString url_;
    bool owned_ = false;
    std::unique_ptr<QTemporaryDir> temp_;
};

// One machine: its own data file and sync engine, set up for a server and user.
class TMachine {
public:
    TMachine(const QString& url, const QString& user);
    ~TMachine();
    TDbAccess& Db() { return db_; }
    QString Dir() const { return dir_.path(); }
    // Lets another process use the data file, and takes it back.
    void Close();
    void Reopen();
    TSyncEngine& Engine() { return *engine_; }
    QString Path() const { return dir_.path() + "/bookkeep.dat"; }
    // One pass; true when it succeeded. message gets the failure text.
    bool Sync(QString* message = nullptr, int ms = 60000);
    // A statement as a user's edit would run it (through the program's access object).
    void Exec(const QString& sql);
    // Every reminder and group with its note, one sorted line each.
    QStringList Snapshot();
    static QStringList SnapshotOf(TDbAccess& db);
    QString UidOfReminder(const QString& text);
    QString UidOfGroup(const QString& name);
    int Count(const QString& sql);

private:
    QTemporaryDir dir_;
    TDbAccess db_;
    std::unique_ptr<TSyncEngine> engine_;
};

// Between a machine and the server: each answer is let through a while after it came, one
// at a time, as from a server busy with others.
class TSlowServer {
public:
    TSlowServer(const QUrl& server, int waitMs);
    QString Url() const;
    // Done with every answer, even those to requests given up on.
    bool Idle() const { return clock_.elapsed() >= busyUntil_; }

private:
    void Relay(QTcpSocket* in);

    QUrl server_;
    int waitMs_;
    QTcpServer listener_;
    QElapsedTimer clock_;
    qint64 busyUntil_ = 0;
};
