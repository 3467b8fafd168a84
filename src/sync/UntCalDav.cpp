#include "UntCalDav.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslError>
#include <QTimer>
#include <QXmlStreamReader>
#include <algorithm>
#include <functional>
#include <memory>

namespace {

const QString DavNs = QStringLiteral("DAV:");
const QString CalNs = QStringLiteral("urn:ietf:params:xml:ns:caldav");
const QString CsNs = QStringLiteral("http://calendarserver.org/ns/");
// About 2 ms of parsing.
constexpr qint64 ParsedPerTurn = 32 * 1024;

// Parses a multistatus as its bytes arrive.
class TMultistatusParser {
public:
    void Feed(const QByteArray& chunk) {
        xml_.addData(chunk);
        Parse();
    }
    bool Failed() const {
        return xml_.hasError() && xml_.error() != QXmlStreamReader::PrematureEndOfDocumentError;
    }
    std::vector<TDavEntry> Entries;
    QString SyncToken;

private:
    struct TProps {
        TDavEntry e;
        int status = 200;
    };

    bool Inside(const QString& ns, const QString& name) const {
        for (const auto& p : path_)
            if (p.first == ns && p.second == name)
                return true;
        return false;
    }

    static int StatusCode(const QString& line) {
        const QStringList parts = line.simplified().split(QLatin1Char(' '));
        return parts.size() >= 2 ? parts.at(1).toInt() : 0;
    }

    void Parse() {
        while (!xml_.atEnd()) {
            const auto token = xml_.readNext();
            if (token == QXmlStreamReader::StartElement) {
                const QString ns = xml_.namespaceUri().toString();
                const QString name = xml_.name().toString();
                path_.push_back({ns, name});
                text_.clear();
                if (ns == DavNs && name == QLatin1String("response"))
                    entry_ = TDavEntry();
                else if (ns == DavNs && name == QLatin1String("propstat"))
                    props_ = TProps();
                else if (ns == CalNs && name == QLatin1String("calendar") &&
                         Inside(DavNs, QStringLiteral("resourcetype")))
                    props_.e.IsCalendar = true;
                else if (ns == CalNs && name == QLatin1String("comp") &&
                         Inside(CalNs, QStringLiteral("supported-calendar-component-set")))
                    props_.e.Components
                        << xml_.attributes().value(QLatin1String("name")).toString();
                else if (ns == DavNs && name == QLatin1String("sync-collection") &&
                         Inside(DavNs, QStringLiteral("supported-report-set")))
                    props_.e.SyncReport = true;
            } else if (token == QXmlStreamReader::Characters) {
                text_ += xml_.text();
            } else if (token == QXmlStreamReader::EndElement) {
                const QString ns = path_.empty() ? QString() : path_.back().first;
                const QString name = path_.empty() ? QString() : path_.back().second;
                path_.pop_back();
                End(ns, name);
                text_.clear();
            }
        }
    }

    void End(const QString& ns, const QString& name) {
        const bool inProp = Inside(DavNs, QStringLiteral("propstat"));
        if (ns == DavNs) {
            if (name == QLatin1String("href")) {
                if (Inside(DavNs, QStringLiteral("current-user-principal")))
                    props_.e.PrincipalHref = text_.trimmed();
                else if (Inside(CalNs, QStringLiteral("calendar-home-set")))
                    props_.e.HomeHref = text_.trimmed();
                else if (!inProp && Inside(DavNs, QStringLiteral("response")))
                    entry_.Href = QUrl::fromPercentEncoding(text_.trimmed().toUtf8());
            } else if (name == QLatin1String("status")) {
                if (inProp)
                    props_.status = StatusCode(text_);
                else if (Inside(DavNs, QStringLiteral("response")))
                    entry_.Status = StatusCode(text_);
            } else if (name == QLatin1String("getetag")) {
                props_.e.ETag = text_.trimmed();
            } else if (name == QLatin1String("displayname")) {
                props_.e.DisplayName = text_;
            } else if (name == QLatin1String("propstat")) {
                if (props_.status >= 200 && props_.status < 300) {
                    TDavEntry& p = props_.e;
                    if (!p.ETag.isEmpty())
                        entry_.ETag = p.ETag;
                    if (!p.Data.isEmpty())
                        entry_.Data = p.Data;
                    if (!p.DisplayName.isEmpty())
                        entry_.DisplayName = p.DisplayName;
                    entry_.IsCalendar |= p.IsCalendar;
                    entry_.Components << p.Components;
                    if (!p.CTag.isEmpty())
                        entry_.CTag = p.CTag;
                    entry_.SyncReport |= p.SyncReport;
                    if (!p.PrincipalHref.isEmpty())
                        entry_.PrincipalHref = p.PrincipalHref;
                    if (!p.HomeHref.isEmpty())
                        entry_.HomeHref = p.HomeHref;
                }
            } else if (name == QLatin1String("response")) {
                Entries.push_back(std::move(entry_));
                entry_ = TDavEntry();
            } else if (name == QLatin1String("sync-token") && !inProp) {
                SyncToken = text_.trimmed();
            }
        } else if (ns == CalNs && name == QLatin1String("calendar-data")) {
            props_.e.Data = text_.toUtf8();
        } else if (ns == CsNs && name == QLatin1String("getctag")) {
            props_.e.CTag = text_.trimmed();
        }
    }

    QXmlStreamReader xml_;
    std::vector<QPair<QString, QString>> path_;
    QString text_;
    TDavEntry entry_;
    TProps props_;
};

} // namespace

QString TDavResult::Describe() const {
    if (!Error.isEmpty())
        return Error;
    switch (Status) {
    case 401:
        return QStringLiteral("用户名或密码不对");
    case 403:
        return QStringLiteral("服务器拒绝访问（403）");
    case 404:
        return QStringLiteral("服务器上没有这个地址（404）");
    default:
        return QStringLiteral("服务器回答 %1").arg(Status);
    }
}

TCalDavClient::TCalDavClient(QObject* parent)
    : QObject(parent), network_(new QNetworkAccessManager(this)) {}

TCalDavClient::~TCalDavClient() {
    AbortAll();
}

void TCalDavClient::SetAccount(const QUrl& base, const QString& user, const QString& password) {
    base_ = base;
    if (!base_.path().endsWith(QLatin1Char('/')))
        base_.setPath(base_.path() + QLatin1Char('/'));
    authorization_ = "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
}

QByteArray TCalDavClient::Xml(const QString& text) {
    return text.toHtmlEscaped().toUtf8();
}

void TCalDavClient::AbortAll() {
    const std::vector<QNetworkReply*> open = std::move(replies_);
    replies_.clear();
    for (QNetworkReply* reply : open) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void TCalDavClient::Send(const QByteArray& verb, const QUrl& url, const QByteArray& body,
                         const QList<QPair<QByteArray, QByteArray>>& headers, Callback done) {
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", authorization_);
    request.setRawHeader("User-Agent", "Quillet");
    for (const auto& h : headers)
        request.setRawHeader(h.first, h.second);
    request.setTransferTimeout(30000);
    QNetworkReply* reply = network_->sendCustomRequest(request, verb, body);
    replies_.push_back(reply);
    auto parser = std::make_shared<TMultistatusParser>();
    auto sslProblem = std::make_shared<QString>();
    const bool multistatus = verb == "PROPFIND" || verb == "REPORT";
    const auto handOn = [this, reply, parser, sslProblem, multistatus, done] {
        replies_.erase(std::remove(replies_.begin(), replies_.end(), reply), replies_.end());
        reply->deleteLater();
        TDavResult result;
        result.Status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.ETag = QString::fromUtf8(reply->rawHeader("ETag"));
        if (!sslProblem->isEmpty()) {
            result.Error = *sslProblem;
        } else if (result.Status == 0) {
            result.Error = reply->errorString();
        } else if (multistatus && result.Status == 207) {
            if (parser->Failed())
                result.Error = QStringLiteral("服务器的回答无法读懂");
            result.Entries = std::move(parser->Entries);
            result.SyncToken = parser->SyncToken;
        }
        done(result);
    };
    // A long answer (every item of a collection) is parsed a piece per turn of the event
    // loop, each a turn of its own: the network layer's turn that brought the bytes has
    // unpacked them already (servers compress). The answer is handed on once the reply has
    // finished and every piece is parsed.
    struct TReading {
        bool finished = false;
        bool waiting = false; // a later turn is asked for
        bool handedOn = false;
    };
    auto reading = std::make_shared<TReading>();
    auto turn = std::make_shared<std::function<void()>>();
    // The reply's connections own the turn; one asked for runs only while it lives.
    auto later = [this, reading](const std::shared_ptr<std::function<void()>>& turn) {
        if (reading->waiting)
            return;
        reading->waiting = true;
        QTimer::singleShot(0, this, [reading, next = std::weak_ptr(turn)] {
            reading->waiting = false;
            if (const auto run = next.lock())
                (*run)();
        });
    };
    *turn = [this, guard = QPointer<QNetworkReply>(reply), parser, multistatus, handOn, reading,
             later, self = std::weak_ptr(turn)] {
        // Gone or taken by AbortAll: nothing is handed on.
        if (reading->handedOn || !guard ||
            std::find(replies_.begin(), replies_.end(), guard.data()) == replies_.end())
            return;
        QNetworkReply* reply = guard.data();
        if (multistatus &&
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 207 &&
            reply->bytesAvailable() > 0) {
            parser->Feed(reply->read(ParsedPerTurn));
            if (reply->bytesAvailable() > 0)
                return later(self.lock());
        }
        if (reading->finished) {
            reading->handedOn = true;
            handOn();
        }
    };
    if (multistatus) {
        // Only as much as one turn parses is taken from the network at a time.
        reply->setReadBufferSize(ParsedPerTurn);
        connect(reply, &QNetworkReply::readyRead, this, [later, turn] { later(turn); });
    }
    // Certificate problems are reported as they are; they are never ignored.
    connect(reply, &QNetworkReply::sslErrors, this, [sslProblem](const QList<QSslError>& errors) {
        QStringList texts;
        for (const QSslError& e : errors)
            texts << e.errorString();
        *sslProblem = QStringLiteral("证书有问题：") + texts.join(QStringLiteral("；"));
    });
    connect(reply, &QNetworkReply::finished, this, [reading, later, turn] {
        reading->finished = true;
        later(turn);
    });
}

void TCalDavClient::Propfind(const QUrl& url, int depth, const QByteArray& body, Callback done) {
    Send("PROPFIND", url, body,
         {{"Depth", QByteArray::number(depth)}, {"Content-Type", "application/xml; charset=utf-8"}},
         std::move(done));
}

void TCalDavClient::Report(const QUrl& url, int depth, const QByteArray& body, Callback done) {
    Send("REPORT", url, body,
         {{"Depth", QByteArray::number(depth)}, {"Content-Type", "application/xml; charset=utf-8"}},
         std::move(done));
}

void TCalDavClient::Put(const QUrl& url, const QByteArray& ics, const QString& ifMatch,
                        Callback done) {
    QList<QPair<QByteArray, QByteArray>> headers = {
        {"Content-Type", "text/calendar; charset=utf-8"}};
    if (ifMatch.isEmpty())
        headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
    else
        headers.append(qMakePair(QByteArray("If-Match"), ifMatch.toUtf8()));
    Send("PUT", url, ics, headers, std::move(done));
}

void TCalDavClient::Delete(const QUrl& url, const QString& ifMatch, Callback done) {
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!ifMatch.isEmpty())
        headers.append(qMakePair(QByteArray("If-Match"), ifMatch.toUtf8()));
    Send("DELETE", url, QByteArray(), headers, std::move(done));
}

void TCalDavClient::MkCalendar(const QUrl& url, const QString& displayName,
                               const QString& component, Callback done) {
    const QByteArray body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<C:mkcalendar xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\">"
        "<D:set><D:prop><D:displayname>" +
        Xml(displayName) + "</D:displayname><C:supported-calendar-component-set><C:comp name=\"" +
        Xml(component) +
        "\"/></C:supported-calendar-component-set></D:prop></D:set>"
        "</C:mkcalendar>";
    Send("MKCALENDAR", url, body, {{"Content-Type", "application/xml; charset=utf-8"}},
         std::move(done));
}
