#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

// One <response> of a WebDAV multistatus, with the properties the sync reads.
struct TDavEntry {
    QString Href;
    int Status = 200; // 404 for a member a sync report lists as removed
    QString ETag;
    QByteArray Data; // calendar-data
    QString DisplayName;
    bool IsCalendar = false;
    QStringList Components; // supported-calendar-component-set
    QString CTag;
    bool SyncReport = false; // offers the sync-collection report
    QString PrincipalHref;
    QString HomeHref;
};

struct TDavResult {
    int Status = 0;
    // Transport failure (no answer, certificate, timeout) or an answer refused as unsafe or
    // unreadable, in words for the user.
    QString Error;
    QString ETag;
    std::vector<TDavEntry> Entries;
    QString SyncToken;
    bool Ok() const { return Error.isEmpty() && Status >= 200 && Status < 300; }
    // What to tell the user about a failed request.
    QString Describe() const;
};

// A CalDAV client on the interface thread's event loop: every request is asynchronous and
// its multistatus answer is parsed as it arrives, so no single step takes long.
class TCalDavClient : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(TDavResult&)>;

    explicit TCalDavClient(QObject* parent = nullptr);
    ~TCalDavClient() override;

    void SetAccount(const QUrl& base, const QString& user, const QString& password);
    QUrl Base() const { return base_; }
    // A server's href: a request to it fails unless it is on the base's scheme, host and port.
    QUrl Resolve(const QString& href) const { return base_.resolved(QUrl(href)); }
    // How long a request may go without a byte from the server.
    void SetTimeout(int ms) { timeoutMs_ = ms; }
    int Timeout() const { return timeoutMs_; }

    void Propfind(const QUrl& url, int depth, const QByteArray& body, Callback done);
    void Report(const QUrl& url, int depth, const QByteArray& body, Callback done);
    // An empty ifMatch creates: the write succeeds only when nothing is there yet.
    void Put(const QUrl& url, const QByteArray& ics, const QString& ifMatch, Callback done);
    void Delete(const QUrl& url, const QString& ifMatch, Callback done);
    void MkCalendar(const QUrl& url, const QString& displayName, const QString& component,
                    Callback done);
    void AbortAll();
    int InFlight() const { return static_cast<int>(replies_.size()); }

    // XML-escapes a text for a request body.
    static QByteArray Xml(const QString& text);

private:
    using THeaders = QList<QPair<QByteArray, QByteArray>>;
    void Send(const QByteArray& verb, const QUrl& url, const QByteArray& body,
              const THeaders& headers, Callback done, int redirects = 0);

    QNetworkAccessManager* network_;
    QUrl base_;
    QByteArray authorization_;
    std::vector<QNetworkReply*> replies_;
    int timeoutMs_ = 30000;
    // Qt's thread that moves the bytes yields to the interface, as the sync's other threads.
    bool networkYielded_ = false;
    // Counts AbortAll calls, so that a refusal queued before one is dropped.
    quint64 aborts_ = 0;
};
