#include "UntCalDav.h"

#include "common/UntBackground.h"

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
// The most of an answer we read, unpacked. An item of a listing (href, ETag, status) takes
// some 250 bytes and one with its calendar data a few KB (those come 100 at a time), so a
// listing of 200,000 items still fits: far more than any notebook holds. What a hostile
// server can make us keep is bounded by it.
constexpr qint64 MaxReplyBytes = 64 * 1024 * 1024;
// A multistatus nests seven deep; each level costs the XML reader and us a stack entry.
constexpr int MaxDepth = 64;
// An entry costs some 250 bytes even when empty; more than a 64 MB listing could really hold.
constexpr int MaxEntries = 250000;
// Servers name five component kinds at most; a list is kept only up to here.
constexpr int MaxComponents = 32;
// An href, ETag, status line, name or token, and a tag, comment or processing instruction:
// none a server writes comes near this.
constexpr qint64 MaxFieldBytes = 64 * 1024;
constexpr qint64 MaxMarkupBytes = 64 * 1024;
// One run of text or one CDATA section: the XML reader keeps all of it (as UTF-16) before it
// hands it on. An item's calendar data is one of these.
constexpr qint64 MaxItemBytes = 16 * 1024 * 1024;
constexpr int MaxRedirects = 5;

QString Unreadable() {
    return QStringLiteral("服务器的回答无法读懂");
}

QString TooLong() {
    return QStringLiteral("服务器的回答里有过长的内容，无法读懂");
}

QString NotCalDav() {
    return QStringLiteral("这个地址不是CalDAV服务器（它的回答不是日历服务器的格式）");
}

// An address as a message shows it: no user name, and not the length a hostile one may have.
QString Shown(const QUrl& url) {
    const QString text = url.toDisplayString(QUrl::RemoveUserInfo);
    return text.size() > 120 ? text.left(120) + QStringLiteral("…") : text;
}

// Scheme, host and port, with the scheme's default port filled in: the account's password
// goes nowhere else.
bool SameOrigin(const QUrl& a, const QUrl& b) {
    const QString scheme = a.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https")  ? 443
                            : scheme == QLatin1String("http") ? 80
                                                              : -1;
    return !a.host().isEmpty() && scheme == b.scheme().toLower() &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort) == b.port(defaultPort);
}

// Hands the XML reader a tag, comment, instruction or CDATA section only once all of it is
// there: given one in pieces, the reader scans it again from its start with each piece, and
// a few MB of one comment took minutes. Text goes on at once: the reader does not scan it
// again. A document type declaration is refused: a multistatus has none, and its entities
// are the classic way to make a reader blow up.
class TMarkupGate {
public:
    // Takes the next bytes; returns those the reader may have now.
    QByteArray Take(const QByteArray& chunk) {
        held_ += chunk;
        while (Error.isEmpty() && pos_ < held_.size()) {
            if (state_ == Text) {
                const qsizetype open = held_.indexOf('<', pos_);
                const qsizetype end = open < 0 ? held_.size() : open;
                textRun_ += end - pos_;
                pos_ = end;
                if (textRun_ > MaxItemBytes)
                    Error = TooLong();
                if (open < 0 || !Error.isEmpty())
                    break;
                textRun_ = 0;
                state_ = Opened;
                start_ = open;
                pos_ = open + 1;
            } else if (state_ == Opened) {
                Classify();
                if (state_ == Opened)
                    break; // not enough bytes yet to tell what it is
            } else if (state_ == Tag) {
                const char c = held_.at(pos_++);
                if (c == '"' || c == '\'') {
                    quote_ = c;
                    state_ = Quoted;
                } else if (c == '>') {
                    state_ = Text;
                }
            } else if (state_ == Quoted) {
                if (held_.at(pos_++) == quote_)
                    state_ = Tag;
            } else {
                const qsizetype close = held_.indexOf('>', pos_);
                if (close < 0) {
                    pos_ = held_.size();
                    break;
                }
                pos_ = close + 1;
                if (Closes(close))
                    state_ = Text;
            }
        }
        if (Error.isEmpty() && state_ != Text &&
            held_.size() - start_ > (state_ == CData ? MaxItemBytes : MaxMarkupBytes))
            Error = TooLong();
        if (!Error.isEmpty())
            return QByteArray();
        const qsizetype ready = state_ == Text ? held_.size() : start_;
        QByteArray out = held_.left(ready);
        held_.remove(0, ready);
        pos_ -= ready;
        if (state_ != Text)
            start_ -= ready;
        return out;
    }
    QString Error;

private:
    enum TState { Text, Opened, Tag, Quoted, Comment, CData, Instruction };

    void Classify() {
        static const QByteArray comment("!--"), cdata("![CDATA[");
        const QByteArray head = held_.mid(start_ + 1, cdata.size());
        if (head.startsWith('?')) {
            state_ = Instruction;
            pos_ = start_ + 2;
        } else if (!head.startsWith('!')) {
            state_ = Tag;
            pos_ = start_ + 1;
        } else if (head.startsWith(comment)) {
            state_ = Comment;
            pos_ = start_ + 1 + comment.size();
        } else if (head.startsWith(cdata)) {
            state_ = CData;
            pos_ = start_ + 1 + cdata.size();
        } else if (!comment.startsWith(head) && !cdata.startsWith(head)) {
            Error = Unreadable();
        }
    }

    // Whether the '>' at close ends the comment, section or instruction begun at start_.
    bool Closes(qsizetype close) const {
        const QByteArray before = held_.mid(close - 2, 2);
        switch (state_) {
        case Comment:
            return close >= start_ + 6 && before == "--";
        case CData:
            return close >= start_ + 11 && before == "]]";
        default:
            return close >= start_ + 3 && before.endsWith('?');
        }
    }

    QByteArray held_; // from the start of the unfinished markup on
    qsizetype pos_ = 0;
    qsizetype start_ = 0;
    TState state_ = Text;
    char quote_ = 0;
    qint64 textRun_ = 0;
};

// Parses a multistatus as its bytes arrive, keeping no more than the limits above allow.
class TMultistatusParser {
public:
    void Feed(const QByteArray& chunk) {
        if (Failed())
            return;
        const QByteArray ready = gate_.Take(chunk);
        if (!gate_.Error.isEmpty())
            return Fail(gate_.Error);
        xml_.addData(ready);
        Parse();
    }
    bool Failed() const {
        return !error_.isEmpty() ||
               (xml_.hasError() && xml_.error() != QXmlStreamReader::PrematureEndOfDocumentError);
    }
    // Once every byte is fed: what is wrong with the answer, or nothing.
    QString Problem() const {
        if (!error_.isEmpty())
            return error_;
        return Failed() || !complete_ ? Unreadable() : QString();
    }
    std::vector<TDavEntry> Entries;
    QString SyncToken;

private:
    struct TProps {
        TDavEntry e;
        int status = 200;
    };

    void Fail(const QString& error) {
        if (error_.isEmpty())
            error_ = error;
    }

    bool Inside(const QString& ns, const QString& name) const {
        for (const auto& p : path_)
            if (p.first == ns && p.second == name)
                return true;
        return false;
    }

    // The elements whose text is read; the text of any other is skipped, not kept.
    static bool Read(const QString& ns, const QString& name) {
        if (ns == DavNs)
            return name == QLatin1String("href") || name == QLatin1String("status") ||
                   name == QLatin1String("getetag") || name == QLatin1String("displayname") ||
                   name == QLatin1String("sync-token");
        return (ns == CalNs && name == QLatin1String("calendar-data")) ||
               (ns == CsNs && name == QLatin1String("getctag"));
    }

    static int StatusCode(const QByteArray& line) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        return parts.size() >= 2 ? parts.at(1).toInt() : 0;
    }

    void Parse() {
        while (!xml_.atEnd() && error_.isEmpty()) {
            const auto token = xml_.readNext();
            if (token == QXmlStreamReader::StartElement) {
                const QString ns = xml_.namespaceUri().toString();
                const QString name = xml_.name().toString();
                if (path_.empty() && (ns != DavNs || name != QLatin1String("multistatus")))
                    return Fail(NotCalDav());
                if (static_cast<int>(path_.size()) >= MaxDepth)
                    return Fail(QStringLiteral("服务器的回答层次太深，无法读懂"));
                path_.push_back({ns, name});
                text_.clear();
                reading_ = Read(ns, name);
                if (ns == DavNs && name == QLatin1String("response"))
                    entry_ = TDavEntry();
                else if (ns == DavNs && name == QLatin1String("propstat"))
                    props_ = TProps();
                else if (ns == CalNs && name == QLatin1String("calendar") &&
                         Inside(DavNs, QStringLiteral("resourcetype")))
                    props_.e.IsCalendar = true;
                else if (ns == CalNs && name == QLatin1String("comp") &&
                         Inside(CalNs, QStringLiteral("supported-calendar-component-set")))
                    AddComponent(xml_.attributes().value(QLatin1String("name")).toString());
                else if (ns == DavNs && name == QLatin1String("sync-collection") &&
                         Inside(DavNs, QStringLiteral("supported-report-set")))
                    props_.e.SyncReport = true;
            } else if (token == QXmlStreamReader::Characters) {
                if (!reading_)
                    continue;
                text_ += xml_.text().toUtf8();
                if (text_.size() > MaxFieldBytes && !path_.empty() &&
                    path_.back().second != QLatin1String("calendar-data"))
                    return Fail(TooLong());
            } else if (token == QXmlStreamReader::EndElement) {
                const QString ns = path_.empty() ? QString() : path_.back().first;
                const QString name = path_.empty() ? QString() : path_.back().second;
                path_.pop_back();
                End(ns, name);
                text_.clear();
                reading_ = false;
                complete_ = path_.empty();
            }
        }
    }

    void AddComponent(const QString& name) {
        QStringList& list = props_.e.Components;
        if (list.size() < MaxComponents && !list.contains(name))
            list << name;
    }

    void End(const QString& ns, const QString& name) {
        const bool inProp = Inside(DavNs, QStringLiteral("propstat"));
        if (ns == DavNs) {
            if (name == QLatin1String("href")) {
                if (Inside(DavNs, QStringLiteral("current-user-principal")))
                    props_.e.PrincipalHref = QString::fromUtf8(text_.trimmed());
                else if (Inside(CalNs, QStringLiteral("calendar-home-set")))
                    props_.e.HomeHref = QString::fromUtf8(text_.trimmed());
                else if (!inProp && Inside(DavNs, QStringLiteral("response")))
                    entry_.Href = QUrl::fromPercentEncoding(text_.trimmed());
            } else if (name == QLatin1String("status")) {
                if (inProp)
                    props_.status = StatusCode(text_);
                else if (Inside(DavNs, QStringLiteral("response")))
                    entry_.Status = StatusCode(text_);
            } else if (name == QLatin1String("getetag")) {
                props_.e.ETag = QString::fromUtf8(text_.trimmed());
            } else if (name == QLatin1String("displayname")) {
                props_.e.DisplayName = QString::fromUtf8(text_);
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
                    for (const QString& c : p.Components)
                        if (entry_.Components.size() < MaxComponents &&
                            !entry_.Components.contains(c))
                            entry_.Components << c;
                    if (!p.CTag.isEmpty())
                        entry_.CTag = p.CTag;
                    entry_.SyncReport |= p.SyncReport;
                    if (!p.PrincipalHref.isEmpty())
                        entry_.PrincipalHref = p.PrincipalHref;
                    if (!p.HomeHref.isEmpty())
                        entry_.HomeHref = p.HomeHref;
                }
            } else if (name == QLatin1String("response")) {
                if (static_cast<int>(Entries.size()) >= MaxEntries)
                    return Fail(QStringLiteral("服务器的回答条目太多，无法读懂"));
                Entries.push_back(std::move(entry_));
                entry_ = TDavEntry();
            } else if (name == QLatin1String("sync-token") && !inProp) {
                SyncToken = QString::fromUtf8(text_.trimmed());
            }
        } else if (ns == CalNs && name == QLatin1String("calendar-data")) {
            props_.e.Data = text_;
        } else if (ns == CsNs && name == QLatin1String("getctag")) {
            props_.e.CTag = QString::fromUtf8(text_.trimmed());
        }
    }

    TMarkupGate gate_;
    QXmlStreamReader xml_;
    std::vector<QPair<QString, QString>> path_;
    QByteArray text_; // UTF-8, as calendar data is kept: half the memory of a QString
    bool reading_ = false;
    bool complete_ = false;
    QString error_;
    TDavEntry entry_;
    TProps props_;
};

// A transfer Qt gave up on, in words for the user.
QString TransportError(const QNetworkReply* reply, int timeoutMs) {
    switch (reply->error()) {
    // Our own aborts say why before they abort: this is the transfer timeout.
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return QStringLiteral("连接超时：服务器在%1秒内没有回答，它可能太慢或太忙")
            .arg(timeoutMs / 1000.0);
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("找不到服务器“%1”，请检查地址和网络").arg(reply->url().host());
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("服务器拒绝连接：地址或端口不对，或服务器没有运行");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("服务器中途断开了连接");
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("网络不通，连不上服务器");
    default:
        return QStringLiteral("网络错误（%1）").arg(reply->errorString());
    }
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A 207 whose body is XML, or says nothing of its type.
bool IsMultistatus(const QNetworkReply* reply) {
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 207)
        return false;
    const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    return type.isEmpty() || type.contains(QLatin1String("xml"), Qt::CaseInsensitive);
}

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
    ++aborts_;
    const std::vector<QNetworkReply*> open = std::move(replies_);
    replies_.clear();
    for (QNetworkReply* reply : open) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void TCalDavClient::Send(const QByteArray& verb, const QUrl& url, const QByteArray& body,
                         const THeaders& headers, Callback done, int redirects) {
    // The request carries the account's password: an href or a redirect that leads to
    // another server is not followed, whatever that server is.
    if (!SameOrigin(url, base_)) {
        QTimer::singleShot(0, this, [this, aborts = aborts_, url, done] {
            if (aborts != aborts_)
                return;
            TDavResult result;
            result.Error =
                QStringLiteral("服务器给出的地址（%1）不在这个账户的服务器上，为安全起见没有访问")
                    .arg(Shown(url));
            done(result);
        });
        return;
    }
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", authorization_);
    request.setRawHeader("User-Agent", "Quillet");
    for (const auto& h : headers)
        request.setRawHeader(h.first, h.second);
    request.setTransferTimeout(timeoutMs_);
    // Qt would follow a redirect anywhere with our Authorization header, and turn a PROPFIND
    // moved by 301 into a GET: redirects are followed here, by the same request.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = network_->sendCustomRequest(request, verb, body);
    replies_.push_back(reply);
    // A long answer (every item of a collection) is parsed a piece per turn of the event
    // loop, each a turn of its own: the network layer's turn that brought the bytes has
    // unpacked them already (servers compress). The answer is handed on once the reply has
    // finished and every piece is parsed.
    struct TReading {
        bool finished = false;
        bool waiting = false; // a later turn is asked for
        bool handedOn = false;
        qint64 received = 0;
        QString refusal; // why we ended the transfer ourselves
        QString sslProblem;
        TMultistatusParser parser;
    };
    auto reading = std::make_shared<TReading>();
    const bool multistatus = verb == "PROPFIND" || verb == "REPORT";
    const auto handOn = [this, reply, reading, multistatus, verb, url, body, headers, done,
                         redirects] {
        replies_.erase(std::remove(replies_.begin(), replies_.end(), reply), replies_.end());
        reply->deleteLater();
        TDavResult result;
        result.Status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.ETag = QString::fromUtf8(reply->rawHeader("ETag"));
        const bool success = result.Status >= 200 && result.Status < 300;
        if (!reading->sslProblem.isEmpty()) {
            result.Error = reading->sslProblem;
        } else if (!reading->refusal.isEmpty()) {
            result.Error = reading->refusal;
        } else if (result.Status == 0 ||
                   (multistatus && success && reply->error() != QNetworkReply::NoError)) {
            // The second: a listing cut off (timeout, connection lost), said as such.
            result.Error = TransportError(reply, timeoutMs_);
        } else if (IsRedirect(result.Status) && reply->hasRawHeader("Location")) {
            const QUrl target = url.resolved(QUrl(QString::fromUtf8(reply->rawHeader("Location"))));
            if (!SameOrigin(target, url))
                result.Error =
                    QStringLiteral("服务器把请求转到了另一个地址（%1），为安全起见没有跟随")
                        .arg(Shown(target));
            else if (redirects >= MaxRedirects)
                result.Error = QStringLiteral("服务器把请求转址太多次，没有结果");
            else
                return Send(verb, target, body, headers, done, redirects + 1);
        } else if (multistatus && success) {
            result.Error = IsMultistatus(reply) ? reading->parser.Problem() : NotCalDav();
            if (result.Error.isEmpty()) {
                result.Entries = std::move(reading->parser.Entries);
                result.SyncToken = reading->parser.SyncToken;
            }
        }
        done(result);
    };
    // Ends the transfer with a reason; the turn its finishing asks for hands that on.
    const auto refuse = [reading](QNetworkReply* reply, const QString& why) {
        if (reading->refusal.isEmpty())
            reading->refusal = why;
        reply->abort();
    };
    const QString tooBig = QStringLiteral("服务器的回答太大（超过%1 MB），为安全起见没有读完")
                               .arg(MaxReplyBytes / (1024 * 1024));
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
    *turn = [this, guard = QPointer<QNetworkReply>(reply), multistatus, handOn, reading, later,
             refuse, tooBig, self = std::weak_ptr(turn)] {
        // Gone or taken by AbortAll: nothing is handed on.
        if (reading->handedOn || !guard ||
            std::find(replies_.begin(), replies_.end(), guard.data()) == replies_.end())
            return;
        QNetworkReply* reply = guard.data();
        // Every answer is taken off the reply as it comes, read or dropped, so none piles up.
        if (reply->bytesAvailable() > 0) {
            const QByteArray chunk = reply->read(ParsedPerTurn);
            reading->received += chunk.size();
            if (reading->received > MaxReplyBytes) {
                refuse(reply, tooBig);
            } else if (multistatus && IsMultistatus(reply)) {
                reading->parser.Feed(chunk);
                // Nothing more of it will be read: stop the download.
                if (reading->parser.Failed())
                    refuse(reply, reading->parser.Problem());
            }
            // A refused reply has finished (aborting finishes it) and is handed on now.
            if (reading->refusal.isEmpty() && reply->bytesAvailable() > 0)
                return later(self.lock());
        }
        if (reading->finished) {
            reading->handedOn = true;
            handOn();
        }
    };
    // Only as much as one turn parses is taken from the network at a time. Qt 6.4 starts a
    // request with a body (all of ours) a turn later and forgets a limit set before that, so
    // it is set again then: without it a fast server filled memory with what we had not read.
    reply->setReadBufferSize(ParsedPerTurn);
    QTimer::singleShot(0, reply, [reply] { reply->setReadBufferSize(ParsedPerTurn); });
    connect(reply, &QNetworkReply::readyRead, this, [later, turn] { later(turn); });
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, refuse, tooBig] {
        if (reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > MaxReplyBytes)
            refuse(reply, tooBig);
    });
    // A body Qt cannot unpack (a compression bomb) is reported, but the reply is never finished.
    connect(reply, &QNetworkReply::errorOccurred, this,
            [reply, refuse](QNetworkReply::NetworkError code) {
                const int status =
                    reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                if (code == QNetworkReply::UnknownContentError && status >= 200 && status < 300)
                    refuse(reply, QStringLiteral("服务器的回答无法解压（可能过大或已损坏）"));
            });
    // Certificate problems are reported as they are; they are never ignored.
    connect(reply, &QNetworkReply::sslErrors, this, [reading](const QList<QSslError>& errors) {
        QStringList texts;
        for (const QSslError& e : errors)
            texts << e.errorString();
        reading->sslProblem = QStringLiteral("证书有问题：") + texts.join(QStringLiteral("；"));
    });
    connect(reply, &QNetworkReply::finished, this, [this, reading, later, turn] {
        // Qt starts its network thread for the first request, after it was sent.
        if (!networkYielded_)
            networkYielded_ = YieldThreadsNamed("QNetworkAccessM") > 0;
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
