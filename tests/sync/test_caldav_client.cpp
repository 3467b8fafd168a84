#include "TestSupport.h"
#include "sync/UntCalDav.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <optional>
#include <sched.h>
#include <sys/resource.h>

namespace {

struct TSeen {
    QByteArray method, path, authorization, body;
};

// Status line and headers, and the body a piece at a time (an empty piece ends it), so a
// huge one never sits in the test's memory. No head: the server keeps silent.
struct TAnswer {
    QByteArray head;
    std::function<QByteArray()> body = [] { return QByteArray(); };
};

std::function<QByteArray()> Once(const QByteArray& body) {
    return [body, sent = std::make_shared<bool>(false)] {
        return std::exchange(*sent, true) ? QByteArray() : body;
    };
}

QByteArray Header(const QByteArray& head, const QByteArray& name) {
    const qsizetype at = head.indexOf("\r\n" + name + ": ");
    return at < 0 ? QByteArray() : head.mid(at + name.size() + 4).split('\r').first();
}

// An HTTP server on 127.0.0.1 that closes the connection after each answer.
class TServer {
public:
    explicit TServer(std::function<TAnswer(const TSeen&)> answer) : answer_(std::move(answer)) {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            QTcpSocket* s = server_.nextPendingConnection();
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { Serve(s); });
        });
    }
    QString Url(const QString& path = QStringLiteral("/dav/")) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }
    std::vector<TSeen> Seen;

private:
    void Serve(QTcpSocket* s) {
        const QByteArray in = s->peek(s->bytesAvailable());
        const qsizetype end = in.indexOf("\r\n\r\n") + 4;
        const qsizetype length = Header(in.left(end), "Content-Length").toLongLong();
        if (end < 4 || in.size() < end + length)
            return;
        s->readAll();
        const QList<QByteArray> first = in.left(in.indexOf('\r')).split(' ');
        Seen.push_back({first.value(0), first.value(1), Header(in.left(end), "Authorization"),
                        in.mid(end, length)});
        const TAnswer answer = answer_(Seen.back());
        if (answer.head.isEmpty())
            return;
        s->write(answer.head + "\r\nConnection: close\r\n\r\n");
        const auto pump = [s, next = answer.body] {
            while (s->isOpen() && s->bytesToWrite() < 256 * 1024) {
                const QByteArray piece = next();
                if (piece.isEmpty())
                    return s->disconnectFromHost();
                s->write(piece);
            }
        };
        QObject::connect(s, &QTcpSocket::bytesWritten, s, pump);
        pump();
    }

    QTcpServer server_;
    std::function<TAnswer(const TSeen&)> answer_;
};

const QByteArray Head = "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\">";
const QByteArray Multistatus = "HTTP/1.1 207 Multi-Status\r\nContent-Type: application/xml";

// A multistatus of unit again and again, for about megabytes MB.
TAnswer Repeated(const QByteArray& unit, int megabytes) {
    auto left = std::make_shared<qint64>(qint64(megabytes) << 20);
    return {Multistatus, [unit, left, piece = std::make_shared<QByteArray>(Head)] {
                while (*left > 0 && piece->size() < 64 * 1024)
                    *piece += unit;
                *left -= piece->size();
                return std::exchange(*piece, QByteArray());
            }};
}

// An event loop of its own: qWaitFor's naps would slow an answer read a piece per turn.
TDavResult Wait(const std::function<void(TCalDavClient::Callback)>& send) {
    std::optional<TDavResult> result;
    QEventLoop loop;
    send([&](TDavResult& r) {
        result = r;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    if (!result)
        loop.exec();
    EXPECT_TRUE(result.has_value()) << "no answer";
    return result.value_or(TDavResult());
}

TDavResult Propfind(TCalDavClient& client, const QUrl& url, const QByteArray& body = "<x/>") {
    return Wait([&](auto done) { client.Propfind(url, 1, body, done); });
}

qint64 StatusKb(const QByteArray& key) {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    const QByteArray text = status.readAll();
    return text.mid(text.indexOf(key) + key.size()).trimmed().split(' ').first().toLongLong();
}

} // namespace

TEST(CalDavClient, ThePasswordNeverGoesToAnotherServer) {
    TServer other([](const TSeen&) {
        return TAnswer{Multistatus, Once(Head + "</D:multistatus>")};
    });
    QByteArray to;
    TServer home([&](const TSeen&) { return TAnswer{"HTTP/1.1 307 Moved\r\nLocation: " + to}; });
    TCalDavClient client;
    client.SetAccount(QUrl(home.Url()), QStringLiteral("u"), QStringLiteral("secret"));
    const QString otherPlace = QUrl(other.Url()).authority();
    for (const QString& target :
         {other.Url(), QUrl(home.Url()).toString().replace("http:", "https:")}) {
        to = target.toUtf8();
        const TDavResult r = Propfind(client, client.Base());
        EXPECT_TRUE(!r.Ok() && r.Describe().contains(target) && r.Describe().contains("为安全起见"))
            << r.Describe();
    }
    for (const QString& href : {other.Url(), "//" + otherPlace + "/dav/"})
        EXPECT_TRUE(Propfind(client, client.Resolve(href)).Describe().contains("为安全起见"));
    EXPECT_EQ(home.Seen.size(), 2u);
    EXPECT_TRUE(other.Seen.empty()) << other.Seen.front().authorization.toStdString();
}

TEST(CalDavClient, ARedirectOnTheSameServerRepeatsTheRequest) {
    const QByteArray listing = Head + "<D:response><D:href>/new/a.ics</D:href></D:response>"
                                      "</D:multistatus>";
    TServer home([&](const TSeen& seen) {
        return seen.path == "/new/" ? TAnswer{Multistatus, Once(listing)}
                                    : TAnswer{"HTTP/1.1 301 Moved\r\nLocation: /new/"};
    });
    TCalDavClient client;
    client.SetAccount(QUrl(home.Url()), QStringLiteral("u"), QStringLiteral("secret"));
    const TDavResult r = Propfind(client, QUrl(home.Url("/old/")), "<propfind/>");
    ASSERT_TRUE(r.Ok()) << r.Describe();
    ASSERT_EQ(r.Entries.size(), 1u);
    EXPECT_EQ(r.Entries[0].Href, QStringLiteral("/new/a.ics"));
    ASSERT_EQ(home.Seen.size(), 2u);
    EXPECT_EQ(home.Seen[1].method + " " + home.Seen[1].body, "PROPFIND <propfind/>");
    EXPECT_FALSE(home.Seen[1].authorization.isEmpty());
    EXPECT_EQ(home.Seen[1].authorization, home.Seen[0].authorization);
}

// AddressSanitizer holds freed blocks back (256 MB of them) to catch late uses, so a peak
// there says nothing of what the program keeps.
#ifdef __SANITIZE_ADDRESS__
constexpr bool PeakTellsWhatIsKept = false;
#else
constexpr bool PeakTellsWhatIsKept = true;
#endif

TEST(CalDavClient, HostileAnswersAreRefusedInBoundedMemory) {
    const std::pair<std::function<TAnswer()>, const char*> cases[] = {
        {[] { return Repeated("<D:a>", 24); }, "无法读懂"},
        {[] { return Repeated("<D:x>" + QByteArray(1000, 'x') + "</D:x>", 70); }, "太大"},
    };
    for (const auto& [answer, says] : cases) {
        TServer home([&](const TSeen&) { return answer(); });
        TCalDavClient client;
        client.SetAccount(QUrl(home.Url()), QStringLiteral("u"), QStringLiteral("secret"));
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        ASSERT_TRUE(clear.open(QIODevice::WriteOnly) && clear.write("5") == 1); // peak := now
        clear.close();
        const qint64 before = StatusKb("VmRSS:");
        const TDavResult r = Propfind(client, client.Base());
        EXPECT_TRUE(r.Describe().contains(says)) << r.Describe();
        if (PeakTellsWhatIsKept) {
            EXPECT_LT(StatusKb("VmHWM:") - before, 24 * 1024);
        }
    }
}

TEST(CalDavClient, AnAnswerThatIsNoMultistatusIsNoCalDavServer) {
    for (const QByteArray status : {"200 OK", "207 Multi-Status"}) {
        TServer home([&](const TSeen&) {
            return TAnswer{"HTTP/1.1 " + status + "\r\nContent-Type: text/html",
                           Once("<!DOCTYPE html><html><body>Welcome</body></html>")};
        });
        TCalDavClient client;
        client.SetAccount(QUrl(home.Url()), QStringLiteral("u"), QStringLiteral("secret"));
        const TDavResult found = Propfind(client, client.Base());
        const TDavResult reported =
            Wait([&](auto done) { client.Report(client.Base(), 1, "<x/>", done); });
        for (const TDavResult& r : {found, reported})
            EXPECT_TRUE(!r.Ok() && r.Describe().contains("不是CalDAV服务器")) << r.Describe();
    }
}

// The thread Qt moves the bytes on never takes the processor from the interface thread in
// the middle of a keystroke: it runs as a batch thread at the lowest priority.
TEST(CalDavClient, QtsNetworkThreadYieldsToTheInterface) {
    TServer home([](const TSeen&) {
        return TAnswer{Multistatus, Once(Head + "</D:multistatus>")};
    });
    TCalDavClient client;
    client.SetAccount(QUrl(home.Url()), QStringLiteral("u"), QStringLiteral("secret"));
    ASSERT_TRUE(Propfind(client, client.Base()).Ok());
    int found = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        comm.open(QIODevice::ReadOnly);
        if (comm.readAll().trimmed() != "QNetworkAccessM")
            continue;
        ++found;
        EXPECT_EQ(sched_getscheduler(tid.toInt()), SCHED_BATCH);
        EXPECT_EQ(getpriority(PRIO_PROCESS, tid.toUInt()), 19);
    }
    EXPECT_GE(found, 1);
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), 0);
}

TEST(CalDavClient, TransportFailuresAreToldInChinese) {
    TServer silent([](const TSeen&) { return TAnswer{}; });
    TCalDavClient client;
    client.SetAccount(QUrl(silent.Url()), QStringLiteral("u"), QStringLiteral("secret"));
    client.SetTimeout(300);
    TDavResult r = Propfind(client, client.Base());
    EXPECT_TRUE(r.Describe().startsWith("连接超时") &&
                r.Describe().contains(QString::number(client.Timeout() / 1000.0) + "秒"))
        << r.Describe();

    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl gone(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort()));
    closed.close();
    client.SetAccount(gone, QStringLiteral("u"), QStringLiteral("secret"));
    r = Propfind(client, client.Base());
    EXPECT_TRUE(r.Describe().startsWith("服务器拒绝连接")) << r.Describe();
}
