#include "SyncTestSupport.h"

#include "common/UntAppDir.h"
#include "storage/UntSqlText.h"
#include "sync/UntSyncStore.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUuid>

namespace {

QString Script() {
    return QStringLiteral(QUILLET_SOURCE_DIR "/scripts/caldav-server.sh");
}

} // namespace

TRadicale::TRadicale(const QString& dir) : dir_(dir) {
    if (dir_.isEmpty()) {
        // In memory where there is a tmpfs: the server writes every object with fsync.
        const QString shm = QStringLiteral("/dev/shm");
        temp_ = QFileInfo(shm).isWritable()
                    ? std::make_unique<QTemporaryDir>(shm + "/quillet-caldav-XXXXXX")
                    : std::make_unique<QTemporaryDir>();
        dir_ = temp_->path();
        owned_ = true;
        Start();
    } else {
        url_ = QString::fromUtf8(ReadAll(dir_ + "/url")).trimmed();
    }
}

TRadicale::~TRadicale() {
    if (owned_)
        Stop();
}

bool TRadicale::Xandikos() {
    return qEnvironmentVariable("QUILLET_TEST_CALDAV_SERVER") == QLatin1String("xandikos");
}

TRadicale& TRadicale::ForTest(std::unique_ptr<TRadicale>& server) {
    if (!Xandikos())
        return Shared();
    server = std::make_unique<TRadicale>();
    return *server;
}

TRadicale& TRadicale::Shared() {
    static TRadicale server(qEnvironmentVariable("QUILLET_TEST_CALDAV_DIR"));
    return server;
}

void TRadicale::Start() {
    QStringList args = {Script(), "start", dir_};
    if (!url_.isEmpty())
        args << QString::number(QUrl(url_).port());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SERVER", Xandikos() ? "xandikos" : "radicale");
    p.setProcessEnvironment(env);
    p.start("bash", args);
    p.waitForFinished(20000);
    url_ = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    if (url_.isEmpty())
        ADD_FAILURE() << "the CalDAV server did not start: "
                      << p.readAllStandardError().toStdString();
}

void TRadicale::Stop() {
    QProcess::execute("bash", {Script(), "stop", dir_});
    // The server's port is free again once stop returns.
    QProcess::execute("bash", {"-c", "sleep 0.2"});
}

QString TRadicale::AddUser() {
    if (Xandikos())
        return QStringLiteral("user"); // its one user; it asks for no password
    const QString user = QStringLiteral("u") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    QFile users(dir_ + "/users");
    EXPECT_TRUE(users.open(QIODevice::Append));
    users.write((user + ":" + user + "-pw\n").toUtf8());
    return user;
}

TMachine::TMachine(const QString& url, const QString& user) {
    SetAppDir(dir_.path());
    db_.Connect();
    TSyncSettings s;
    s.Load(db_);
    s.Enabled = true;
    s.ServerUrl = url;
    s.UserName = user;
    s.PassWord = user + "-pw";
    s.Save(db_);
    engine_ = std::make_unique<TSyncEngine>(db_);
}

void TMachine::Close() {
    engine_.reset();
    db_.Disconnect();
}

void TMachine::Reopen() {
    SetAppDir(dir_.path());
    db_.Connect();
    engine_ = std::make_unique<TSyncEngine>(db_);
}

TMachine::~TMachine() {
    engine_.reset();
    db_.Disconnect();
}

bool TMachine::Sync(QString* message, int ms) {
    QSignalSpy finished(engine_.get(), &TSyncEngine::Finished);
    engine_->SyncNow();
    if (!WaitFor([&] { return finished.count() > 0; }, ms)) {
        if (message)
            *message = "timed out";
        return false;
    }
    if (message)
        *message = finished.first().at(1).toString();
    return finished.first().at(0).toBool();
}

void TMachine::Exec(const QString& sql) {
    TDbAccess* saved = DbAccess;
    DbAccess = &db_;
    ExecSql(sql);
    DbAccess = saved;
}

int TMachine::Count(const QString& sql) {
    TCursor c;
    c.Open(db_.Connection, sql);
    return c.Eof() ? 0 : static_cast<int>(c.AsInteger(0));
}

QStringList TMachine::Snapshot() {
    return SnapshotOf(db_);
}

QStringList TMachine::SnapshotOf(TDbAccess& db) {
    TSyncStore store(db);
    QStringList lines;
    TCursor c;
    c.Open(db.Connection, "select Uid from Alam");
    for (c.First(); !c.Eof(); c.Next()) {
        const auto r = store.Reminder(c.AsString(0));
        lines << QStringLiteral("R|%1|%2|%3:%4|%5|%6|%7|%8|%9")
                     .arg(r->Uid)
                     .arg(r->ReDay)
                     .arg(r->iHour)
                     .arg(r->iMinute)
                     .arg(r->iMonWeek)
                     .arg(r->AheadDays)
                     .arg(r->AlamDate.toString(Qt::ISODate))
                     .arg(r->bLook)
                     .arg(r->ReMark);
    }
    c.Open(db.Connection, "select Uid from NoteType where SelfIndex<>0");
    QStringList uids = {QStringLiteral("quillet-notes-root")};
    for (c.First(); !c.Eof(); c.Next())
        uids << c.AsString(0);
    for (const QString& uid : uids) {
        const auto g = store.Group(uid);
        lines << QStringLiteral("G|%1|%2|%3|%4").arg(g->Uid, g->Name, g->ParentUid, g->Note);
    }
    lines.sort();
    return lines;
}

QString TMachine::UidOfReminder(const QString& text) {
    TCursor c;
    c.Open(db_.Connection, FormatSql("select Uid from Alam where ReMark='%s'", {text}));
    return c.Eof() ? QString() : c.AsString(0);
}

QString TMachine::UidOfGroup(const QString& name) {
    TCursor c;
    c.Open(db_.Connection, FormatSql("select Uid from NoteType where TypeName='%s'", {name}));
    return c.Eof() ? QString() : c.AsString(0);
}

TSlowServer::TSlowServer(const QUrl& server, int waitMs) : server_(server), waitMs_(waitMs) {
    clock_.start();
    listener_.listen(QHostAddress::LocalHost);
    QObject::connect(&listener_, &QTcpServer::newConnection, [this] {
        while (QTcpSocket* in = listener_.nextPendingConnection())
            Relay(in);
    });
}

QString TSlowServer::Url() const {
    QUrl url(server_);
    url.setPort(listener_.serverPort());
    return url.toString();
}

void TSlowServer::Relay(QTcpSocket* in) {
    auto* out = new QTcpSocket(in);
    out->connectToHost(server_.host(), static_cast<quint16>(server_.port()));
    struct TState {
        bool asked = false, holding = false, ended = false;
        QByteArray held;
    };
    auto state = std::make_shared<TState>();
    QObject::connect(in, &QTcpSocket::readyRead, out, [in, out, state] {
        out->write(in->readAll());
        state->asked = true;
    });
    // The first bytes of each answer wait for their turn; the rest follow them.
    QObject::connect(out, &QTcpSocket::readyRead, in, [this, in, out, state] {
        state->held += out->readAll();
        if (state->holding)
            return;
        if (!state->asked) {
            in->write(std::exchange(state->held, QByteArray()));
            return;
        }
        state->asked = false;
        state->holding = true;
        const qint64 now = clock_.elapsed();
        busyUntil_ = std::max(now, busyUntil_) + waitMs_;
        QTimer::singleShot(busyUntil_ - now, in, [in, state] {
            state->holding = false;
            in->write(std::exchange(state->held, QByteArray()));
            if (state->ended)
                in->disconnectFromHost();
        });
    });
    QObject::connect(out, &QTcpSocket::disconnected, in, [in, state] {
        state->ended = true;
        if (!state->holding)
            in->disconnectFromHost();
    });
    QObject::connect(in, &QTcpSocket::disconnected, in, &QObject::deleteLater);
}
