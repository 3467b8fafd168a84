#include "UntSyncEngine.h"

#include "UntCalDav.h"
#include "UntSyncIcs.h"
#include "common/UntClock.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSchema.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <algorithm>
#include <map>

namespace {

// Requests in flight at once: as many as the network layer opens connections to one server,
// for a request queued there would spend its timeout waiting.
constexpr int MaxInFlight = 6;
// Items per calendar-multiget.
constexpr int FetchBatch = 100;
// Entries of a listing sorted out per queued step.
constexpr size_t ListedPerStep = 500;
// Items looked up per queued step (about 40 µs each in a large file).
constexpr int ComparedPerStep = 25;
// Rounds per pass: another follows when the server changed something meanwhile, kept a
// written tag to itself, or many objects were written. A few writes are not confirmed: the
// next pass sees them listed with the tags already known, and the pass after a keystroke is
// spared two more listings of every collection.
constexpr int MaxRounds = 4;
constexpr int ConfirmAbove = 100;
// A change here is sent this long after the last keystroke.
constexpr int AfterChangeMs = 5000;

const QString ConflictPrefix = QStringLiteral("（冲突）");
const QString ConflictCopySuffix = QStringLiteral("（冲突副本）");

const QByteArray XmlHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

QByteArray EncodedPath(const QString& path) {
    return QUrl::toPercentEncoding(path, "/:@!$&'()*+,;=-._~");
}

bool IsLoopback(const QUrl& url) {
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    QHostAddress address;
    return address.setAddress(host) && address.isLoopback();
}

QString Normalised(const QString& server) {
    QUrl url = QUrl::fromUserInput(server.trimmed());
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url.toString();
}

} // namespace

TSyncEngine::TSyncEngine(TDbAccess& db, QObject* parent)
    : QObject(parent), db_(db), store_(db), client_(new TCalDavClient(this)) {
    pump_.setSingleShot(true);
    pump_.setInterval(0);
    connect(&pump_, &QTimer::timeout, this, &TSyncEngine::RunSlice);
    soon_.setSingleShot(true);
    soon_.setInterval(AfterChangeMs);
    connect(&soon_, &QTimer::timeout, this, &TSyncEngine::SyncChanges);
    connect(&interval_, &QTimer::timeout, this, &TSyncEngine::SyncNow);
}

TSyncEngine::~TSyncEngine() {
    ++generation_;
    client_->AbortAll();
    store_.Rollback();
}

QString TSyncEngine::SyncedText(const QDateTime& at, int conflicts) {
    QString text = QStringLiteral("已同步 ") + at.toString(QStringLiteral("HH:mm"));
    if (conflicts > 0)
        text += QStringLiteral("（保留了%1处冲突）").arg(conflicts);
    return text;
}

void TSyncEngine::Start() {
    TSyncSettings s;
    s.Load(db_);
    started_ = s.Enabled;
    if (!s.Enabled) {
        Stop();
        return;
    }
    interval_.start(std::max(1, s.Interval) * 60 * 1000);
    SyncNow();
}

void TSyncEngine::Stop() {
    started_ = false;
    interval_.stop();
    soon_.stop();
}

void TSyncEngine::LocalChanged() {
    if (started_)
        soon_.start();
}

void TSyncEngine::SyncNow() {
    Begin();
}

void TSyncEngine::SyncChanges() {
    Begin(true);
}

void TSyncEngine::SetTimeout(int ms) {
    client_->SetTimeout(ms);
}

void TSyncEngine::SettingsStored(const QString& password) {
    if (!password.isEmpty())
        password_ = password;
    Q_EMIT Reconfigured();
}

void TSyncEngine::SetState(const QString& text) {
    state_ = text;
    Q_EMIT StateChanged(text);
}

QDateTime TSyncEngine::ChangedAt(const QString& changed) const {
    const QDateTime at = QDateTime::fromString(changed, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return at.isValid() ? at : QDateTime(QDate(2000, 1, 1), QTime(0, 0));
}

// ---------------------------------------------------------------- work queue

void TSyncEngine::Queue(std::function<void()> work) {
    work_.push_back(std::move(work));
    Pump();
}

void TSyncEngine::QueueFirst(std::function<void()> work) {
    work_.push_front(std::move(work));
    Pump();
}

void TSyncEngine::Then(std::function<void()> next) {
    next_ = std::move(next);
    Pump();
}

void TSyncEngine::Request(std::function<void(std::function<void(TDavResult&)>)> send,
                          std::function<void(TDavResult&)> done) {
    ++requests_;
    const quint64 generation = generation_;
    send([this, generation, done](TDavResult& result) {
        if (generation != generation_)
            return;
        --requests_;
        done(result);
        Pump();
    });
}

void TSyncEngine::Pump() {
    if (running_ && !pump_.isActive())
        pump_.start();
}

void TSyncEngine::RunSlice() {
    // A slice begins only once the last one's commit is done; its end pumps again.
    if (!running_ || store_.Committing())
        return;
    if (store_.WritingAside()) {
        // A large import holds the writer's lock on a thread of its own: starting a slice now
        // would wait for it here, on the interface thread.
        pump_.start(50);
        return;
    }
    pump_.setInterval(0);
    QElapsedTimer timer;
    timer.start();
    try {
        while (running_ && !work_.empty() && requests_ < MaxInFlight) {
            if (!store_.InTransaction())
                store_.Begin();
            std::function<void()> work = std::move(work_.front());
            work_.pop_front();
            work();
            if (timer.nsecsElapsed() / 1e6 >= budgetMs_)
                break;
        }
    } catch (const std::exception& e) {
        store_.Rollback();
        Fail(QString::fromUtf8(e.what()));
        return;
    }
    longestSliceMs_ = std::max(longestSliceMs_, timer.nsecsElapsed() / 1e6);
    if (store_.InTransaction()) {
        // Writing the log may wait for the disk (for as long as it is busy with other
        // writes): that happens on the side writer's thread.
        store_.CommitInBackground([this, self = QPointer<TSyncEngine>(this),
                                   generation = generation_](const QString& error) {
            if (!self)
                return;
            if (!error.isEmpty() && generation == generation_)
                return Fail(error);
            // A pass begun meanwhile waits for this commit too.
            Pump();
            CheckIdle();
        });
        return;
    }
    if (!work_.empty() && requests_ < MaxInFlight)
        Pump();
    CheckIdle();
}

void TSyncEngine::CheckIdle() {
    if (running_ && work_.empty() && requests_ == 0 && next_ && !store_.Committing()) {
        std::function<void()> next = std::move(next_);
        next_ = nullptr;
        next();
    }
}

template <typename Key>
void TSyncEngine::InPages(const Key& first, std::function<std::optional<Key>(const Key&)> page) {
    // Only the queued steps own the reader: a pass that stops half way frees it with its queue.
    auto step = std::make_shared<std::function<void(const Key&)>>();
    *step = [this, page, self = std::weak_ptr(step)](const Key& after) {
        if (const std::optional<Key> last = page(after))
            Queue([step = self.lock(), next = *last] { (*step)(next); });
    };
    Queue([step, first] { (*step)(first); });
}

// ---------------------------------------------------------------- the pass

void TSyncEngine::Fail(const QString& message) {
    if (!running_)
        return;
    ++generation_;
    client_->AbortAll();
    store_.Rollback();
    work_.clear();
    next_ = nullptr;
    requests_ = 0;
    waiting_.clear();
    running_ = false;
    SetState(QStringLiteral("同步失败：") + message);
    Q_EMIT Finished(false, message);
    if (remindersChanged_)
        Q_EMIT RemindersChanged();
    if (notesChanged_)
        Q_EMIT NotesChanged();
    rerun_ = false;
}

void TSyncEngine::Begin(bool changesFirst) {
    // A pass asked for while one runs follows it.
    if (running_) {
        rerun_ = true;
        return;
    }
    running_ = true;
    ++generation_;
    round_ = 0;
    conflicts_ = 0;
    skipped_ = 0;
    refused_ = 0;
    problems_.clear();
    rediscovered_[0] = rediscovered_[1] = false;
    remindersChanged_ = notesChanged_ = false;
    longestSliceMs_ = 0;
    work_.clear();
    requests_ = 0;
    next_ = nullptr;
    waiting_.clear();
    fetchError_.clear();
    fetched_ = 0;
    SetState(QStringLiteral("同步中…"));
    try {
        settings_.Load(db_);
    } catch (const std::exception& e) {
        return Fail(QString::fromUtf8(e.what()));
    }
    if (settings_.ServerUrl.trimmed().isEmpty())
        return Fail(QStringLiteral("还没有设置同步服务器"));
    server_ = Normalised(settings_.ServerUrl);
    const QUrl url(server_);
    if (url.scheme() == QLatin1String("http") && !IsLoopback(url) && !settings_.PlainHttp)
        return Fail(QStringLiteral("未加密的地址只能用于本机，或在设置中确认后使用"));
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return Fail(QStringLiteral("服务器地址无效"));
    // Not kept anywhere (no keyring, and the user would not have it in the file): the one
    // typed in this run.
    const QString password =
        settings_.InKeyring || settings_.PassWord.isEmpty() ? password_ : settings_.PassWord;
    client_->SetAccount(url, settings_.UserName, password);
    Queue([this] {
        coll_[scReminders] = store_.CollState(scReminders);
        coll_[scNotes] = store_.CollState(scNotes);
        if (coll_[scReminders].Server != server_) {
            // Another account: everything here goes there as new.
            store_.ResetFor(server_);
            coll_[scReminders] = store_.CollState(scReminders);
            coll_[scNotes] = store_.CollState(scNotes);
        }
    });
    Then([this, changesFirst] {
        if (coll_[scReminders].Href.isEmpty() || coll_[scNotes].Href.isEmpty())
            Discover(true, [this](const QString&) { Round(); });
        else if (changesFirst)
            SendRound();
        else
            Round();
    });
}

void TSyncEngine::TestConnection(const TSyncSettings& settings, const QString& password) {
    if (running_) {
        Q_EMIT TestFinished(false, QStringLiteral("正在同步，请稍后再试"));
        return;
    }
    const QUrl url(Normalised(settings.ServerUrl));
    if (!url.isValid() ||
        (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http"))) {
        Q_EMIT TestFinished(false, QStringLiteral("服务器地址无效"));
        return;
    }
    running_ = true;
    ++generation_;
    work_.clear();
    requests_ = 0;
    client_->SetAccount(url, settings.UserName, password);
    const quint64 generation = generation_;
    // Failures of the probe end here and never touch the state line.
    auto conclude = [this, generation](bool ok, const QString& report) {
        if (generation != generation_)
            return;
        running_ = false;
        next_ = nullptr;
        testReport_ = nullptr;
        Q_EMIT TestFinished(ok, report);
    };
    testReport_ = [conclude](bool ok, const QString& report) { conclude(ok, report); };
    Discover(false, [conclude](const QString& report) { conclude(true, report); });
}

void TSyncEngine::Discover(bool create, std::function<void(const QString&)> found) {
    const QByteArray body =
        XmlHead + "<D:propfind xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\">"
                  "<D:prop><D:current-user-principal/><C:calendar-home-set/>"
                  "<D:resourcetype/></D:prop></D:propfind>";
    const QUrl base = client_->Base();
    Request([this, base, body](auto done) { client_->Propfind(base, 0, body, done); },
            [this, create, found, body](TDavResult& r) {
                if (!r.Ok())
                    return Failed(r.Describe());
                QString home, principal;
                for (const TDavEntry& e : r.Entries) {
                    if (!e.HomeHref.isEmpty())
                        home = e.HomeHref;
                    if (!e.PrincipalHref.isEmpty())
                        principal = e.PrincipalHref;
                }
                if (!home.isEmpty())
                    return ListHome(home, create, false, found);
                if (principal.isEmpty())
                    return ListHome(client_->Base().path(), create, false, found);
                Request(
                    [this, principal, body](auto done) {
                        client_->Propfind(client_->Resolve(principal), 0, body, done);
                    },
                    [this, create, found, principal](TDavResult& p) {
                        if (!p.Ok())
                            return Failed(p.Describe());
                        QString homeSet = principal;
                        for (const TDavEntry& e : p.Entries)
                            if (!e.HomeHref.isEmpty())
                                homeSet = e.HomeHref;
                        ListHome(homeSet, create, false, found);
                    });
            });
}

void TSyncEngine::Failed(const QString& message) {
    if (testReport_) {
        auto report = std::move(testReport_);
        testReport_ = nullptr;
        report(false, message);
        return;
    }
    Fail(message);
}

void TSyncEngine::ListHome(const QString& home, bool create, bool retried,
                           std::function<void(const QString&)> found) {
    const QByteArray body =
        XmlHead + "<D:propfind xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\" "
                  "xmlns:CS=\"http://calendarserver.org/ns/\"><D:prop><D:resourcetype/>"
                  "<D:displayname/><C:supported-calendar-component-set/>"
                  "<D:supported-report-set/><CS:getctag/></D:prop></D:propfind>";
    const QString homePath = QUrl::fromPercentEncoding(home.toUtf8());
    Request(
        [this, homePath, body](auto done) {
            client_->Propfind(client_->Resolve(QString::fromLatin1(EncodedPath(homePath))), 1, body,
                              done);
        },
        [this, homePath, create, retried, found](TDavResult& r) {
            if (!r.Ok())
                return Failed(r.Describe());
            int calendars = 0;
            TDavEntry match[2];
            bool have[2] = {false, false};
            const QString names[2] = {RemindersCollectionName, NotesCollectionName};
            for (const TDavEntry& e : r.Entries) {
                if (!e.IsCalendar)
                    continue;
                ++calendars;
                for (int c = 0; c < 2; ++c)
                    if (!have[c] && e.DisplayName == names[c]) {
                        match[c] = e;
                        have[c] = true;
                    }
            }
            if (!create) {
                QString report = QStringLiteral("连接成功：找到%1个日历。").arg(calendars);
                for (int c = 0; c < 2; ++c)
                    report += QStringLiteral("“%1”%2。")
                                  .arg(names[c], have[c] ? QStringLiteral("已存在")
                                                         : QStringLiteral("将在第一次同步时建立"));
                return found(report);
            }
            if ((!have[0] || !have[1]) && !retried) {
                const char* components[2] = {"VEVENT", "VJOURNAL"};
                for (int c = 0; c < 2; ++c) {
                    if (have[c])
                        continue;
                    QString path = homePath;
                    if (!path.endsWith(QLatin1Char('/')))
                        path += QLatin1Char('/');
                    path += TSyncStore::NewUid() + QLatin1Char('/');
                    const QString component = QString::fromLatin1(components[c]);
                    const QString name = names[c];
                    Request(
                        [this, path, name, component](auto done) {
                            client_->MkCalendar(
                                client_->Resolve(QString::fromLatin1(EncodedPath(path))), name,
                                component, done);
                        },
                        [this](TDavResult& m) {
                            if (!m.Ok())
                                Failed(QStringLiteral("无法在服务器上建立日历：") + m.Describe());
                        });
                }
                return Then([this, homePath, found] { ListHome(homePath, true, true, found); });
            }
            if (!have[0] || !have[1])
                return Failed(QStringLiteral("服务器上没有同步用的日历"));
            Queue([this, match] {
                for (int c = 0; c < 2; ++c) {
                    if (coll_[c].Href != match[c].Href) {
                        // Another collection than the one agreed with (made again after a
                        // wipe): what was agreed there says nothing of what is here.
                        if (!coll_[c].Href.isEmpty())
                            store_.ForgetCollection(c);
                        coll_[c].Href = match[c].Href;
                        coll_[c].SyncToken.clear();
                        coll_[c].CTag.clear();
                    }
                    coll_[c].Server = server_;
                    coll_[c].SyncReport = match[c].SyncReport;
                    store_.SaveCollState(c, coll_[c]);
                }
            });
            Then([found] { found(QString()); });
        });
}

void TSyncEngine::Round() {
    if (++round_ > MaxRounds) {
        if (again_)
            problems_ << QStringLiteral("有修改在服务器上被别处一再改动，没能上传");
        return Finish();
    }
    again_ = false;
    written_ = 0;
    Fetch(scReminders, false, [this] { Fetch(scNotes, false, [this] { PushBoth(); }); });
}

// Another round follows when the server refused a write (the item changed there) or after
// many writes, to confirm them; and after any write to a collection read by its sync report:
// its token must pass our own new items, or a server that reports changes as a difference
// between two states never tells of them once another machine deletes them.
void TSyncEngine::PushBoth() {
    Push(scReminders, [this] {
        Push(scNotes, [this] {
            const bool reported = coll_[scReminders].SyncReport || coll_[scNotes].SyncReport;
            if (again_ || written_ > ConfirmAbove || (written_ > 0 && reported))
                Round();
            else
                Finish();
        });
    });
}

// Reading a large collection's changes costs the server a look at every item in it, so a
// pass for a few local changes only writes them; If-Match still stops it at any item that
// changed there, and then a whole round follows.
void TSyncEngine::SendRound() {
    ++round_;
    again_ = false;
    written_ = 0;
    PushBoth();
}

void TSyncEngine::Finish() {
    const QDateTime now = Clock::Now();
    Queue([this, now] {
        try {
            store_.SaveLastSync(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        } catch (const std::exception&) {
            // Only the time shown next start is lost.
        }
    });
    Then([this, now] { Conclude(now); });
}

void TSyncEngine::Conclude(const QDateTime& now) {
    running_ = false;
    lastConflicts_ = conflicts_;
    const bool done = problems_.isEmpty();
    QString state = done ? SyncedText(now, conflicts_)
                         : QStringLiteral("同步未完成：%1项没能同步").arg(problems_.size());
    SetState(state);
    if (remindersChanged_)
        Q_EMIT RemindersChanged();
    if (notesChanged_)
        Q_EMIT NotesChanged();
    if (conflicts_ > 0)
        Q_EMIT ConflictsKept(conflicts_);
    Q_EMIT Finished(done, problems_.join(u'\n'));
    if (rerun_) {
        rerun_ = false;
        QTimer::singleShot(0, this, &TSyncEngine::SyncNow);
    }
}

// ---------------------------------------------------------------- fetching

void TSyncEngine::Fetch(int coll, bool retried, std::function<void()> next) {
    const QUrl url = client_->Resolve(QString::fromLatin1(EncodedPath(CollHref(coll))));
    if (coll_[coll].SyncReport) {
        const QString token = coll_[coll].SyncToken;
        const QByteArray body =
            XmlHead + "<D:sync-collection xmlns:D=\"DAV:\">" +
            (token.isEmpty() ? QByteArray("<D:sync-token/>")
                             : "<D:sync-token>" + TCalDavClient::Xml(token) + "</D:sync-token>") +
            "<D:sync-level>1</D:sync-level><D:prop><D:getetag/></D:prop></D:sync-collection>";
        Request([this, url, body](auto done) { client_->Report(url, 1, body, done); },
                [this, coll, retried, next, token](TDavResult& r) {
                    if (!r.Ok() && !token.isEmpty() && !retried &&
                        (r.Status == 403 || r.Status == 409 || r.Status == 400)) {
                        // The server forgot the token: start over with a full listing.
                        coll_[coll].SyncToken.clear();
                        return Fetch(coll, true, next);
                    }
                    if (r.Status == 404)
                        return CollectionGone(coll);
                    if (!r.Ok())
                        return Fail(r.Describe());
                    SortOut(coll, std::move(r.Entries),
                            [this, coll, next, token = r.SyncToken](TListing& l) {
                                FetchData(coll, l.Changed, l.Removed, token, QString(), next);
                            });
                });
        return;
    }
    // Without the report, the collection's tag tells whether anything changed there; only
    // then is every item listed.
    const QByteArray body =
        XmlHead + "<D:propfind xmlns:D=\"DAV:\" xmlns:CS=\"http://calendarserver.org/ns/\">"
                  "<D:prop><CS:getctag/></D:prop></D:propfind>";
    Request([this, url, body](auto done) { client_->Propfind(url, 0, body, done); },
            [this, coll, url, next](TDavResult& r) {
                if (r.Status == 404)
                    return CollectionGone(coll);
                if (!r.Ok())
                    return Fail(r.Describe());
                for (const TDavEntry& e : r.Entries)
                    if (!e.CTag.isEmpty() && e.CTag == coll_[coll].CTag)
                        return FetchData(coll, {}, {}, QString(), e.CTag, next);
                List(coll, url, next);
            });
}

void TSyncEngine::List(int coll, const QUrl& url, std::function<void()> next) {
    const QByteArray body =
        XmlHead + "<D:propfind xmlns:D=\"DAV:\" xmlns:CS=\"http://calendarserver.org/ns/\">"
                  "<D:prop><D:getetag/><CS:getctag/></D:prop></D:propfind>";
    Request([this, url, body](auto done) { client_->Propfind(url, 1, body, done); },
            [this, coll, next](TDavResult& r) {
                if (!r.Ok())
                    return Fail(r.Describe());
                SortOut(coll, std::move(r.Entries), [this, coll, next](TListing& l) {
                    // Items agreed on before and no longer listed were deleted there.
                    auto listing = std::make_shared<TListing>(std::move(l));
                    InPages<QString>(
                        QString(),
                        [this, coll, listing](const QString& after) -> std::optional<QString> {
                            const int count = static_cast<int>(ListedPerStep);
                            const QStringList agreed = store_.AgreedHrefs(coll, after, count);
                            for (const QString& href : agreed)
                                if (!listing->Listed.contains(href))
                                    listing->Removed << href;
                            return agreed.size() == count ? std::optional(agreed.last())
                                                          : std::nullopt;
                        });
                    Then([this, coll, next, listing] {
                        FetchData(coll, listing->Changed, listing->Removed, QString(),
                                  listing->CTag, next);
                    });
                });
            });
}

void TSyncEngine::SortOut(int coll, std::vector<TDavEntry> entries,
                          std::function<void(TListing&)> sorted) {
    // A listing may name every item of a collection (the first one always does): it is
    // sorted out in queued steps, like the rest of the work.
    const QString collPath = CollHref(coll);
    auto all = std::make_shared<std::vector<TDavEntry>>(std::move(entries));
    auto listing = std::make_shared<TListing>();
    for (size_t start = 0; start < all->size(); start += ListedPerStep)
        Queue([all, listing, start, collPath] {
            const size_t end = std::min(start + ListedPerStep, all->size());
            for (size_t i = start; i < end; ++i) {
                const TDavEntry& e = (*all)[i];
                if (e.Href == collPath || e.Href.endsWith(QLatin1Char('/'))) {
                    if (!e.CTag.isEmpty())
                        listing->CTag = e.CTag;
                } else if (e.Status == 404) {
                    listing->Removed << e.Href;
                } else {
                    listing->Changed << e.Href + QLatin1Char('\n') + e.ETag;
                    listing->Listed.insert(e.Href);
                }
            }
        });
    Then([listing, sorted] { sorted(*listing); });
}

void TSyncEngine::FetchData(int coll, const QStringList& listed, const QStringList& removed,
                            const QString& newToken, const QString& ctag,
                            std::function<void()> next) {
    // Only what differs from what was last agreed on is read.
    auto wanted = std::make_shared<QStringList>();
    for (int start = 0; start < listed.size(); start += ComparedPerStep)
        Queue([this, coll, listed, start, wanted] {
            for (int i = start; i < std::min<int>(start + ComparedPerStep, listed.size()); ++i) {
                const QString& line = listed.at(i);
                const int cut = line.indexOf(QLatin1Char('\n'));
                const QString href = line.left(cut);
                const QString etag = line.mid(cut + 1);
                const auto item = store_.ItemByHref(coll, href);
                if (!item || item->ETag != etag || etag.isEmpty())
                    *wanted << href;
            }
        });
    Then([this, coll, wanted, removed, newToken, ctag, next] {
        const QUrl url = client_->Resolve(QString::fromLatin1(EncodedPath(CollHref(coll))));
        for (int start = 0; start < wanted->size(); start += FetchBatch) {
            QByteArray body = XmlHead +
                              "<C:calendar-multiget xmlns:D=\"DAV:\" "
                              "xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:prop><D:getetag/>"
                              "<C:calendar-data/></D:prop>";
            for (int i = start; i < std::min<int>(start + FetchBatch, wanted->size()); ++i)
                body += "<D:href>" + EncodedPath(wanted->at(i)) + "</D:href>";
            body += "</C:calendar-multiget>";
            Queue([this, coll, url, body] {
                if (!fetchError_.isEmpty())
                    return;
                Request([this, url, body](auto done) { client_->Report(url, 1, body, done); },
                        [this, coll](TDavResult& r) {
                            // A slow server may answer some reads and not others: what came is
                            // kept, so that each pass gets further than the last.
                            if (!r.Ok()) {
                                if (fetchError_.isEmpty())
                                    fetchError_ = r.Describe();
                                return;
                            }
                            for (TDavEntry& e : r.Entries) {
                                if (e.Status == 404 || e.Data.isEmpty())
                                    continue;
                                ++fetched_;
                                TRemote remote{e.Href, e.ETag, std::move(e.Data)};
                                if (coll == scReminders)
                                    Queue([this, remote] { ApplyReminder(remote); });
                                else
                                    Queue([this, remote] { TakeGroup(remote); });
                            }
                        });
            });
        }
        Then([this, coll, removed, newToken, ctag, next] {
            if (!fetchError_.isEmpty()) {
                // The listing stays unconfirmed: the next pass asks again for what is missing.
                return Fail(
                    fetchError_ +
                    QStringLiteral("。收到的%1项已保存，下次同步接着取其余的").arg(fetched_));
            }
            auto afterRemovals = [this, coll, newToken, ctag, next] {
                // Everything listed is applied: the server's token now stands.
                Queue([this, coll, newToken, ctag] {
                    if (!newToken.isEmpty())
                        coll_[coll].SyncToken = newToken;
                    if (!ctag.isEmpty())
                        coll_[coll].CTag = ctag;
                    store_.SaveCollState(coll, coll_[coll]);
                });
                Then(next);
            };
            auto removals = [this, coll, removed, afterRemovals] {
                RemoveAll(coll, removed, false, afterRemovals);
            };
            if (coll == scNotes)
                ApplyGroups(removals);
            else
                removals();
        });
    });
}

void TSyncEngine::RemoveAll(int coll, const QStringList& hrefs, bool force,
                            std::function<void()> next) {
    if (hrefs.isEmpty())
        return next();
    // A group whose sub-groups were deleted there as well goes after them; one that keeps
    // sub-groups here comes back.
    auto deferred = std::make_shared<QStringList>();
    for (const QString& href : hrefs)
        Queue([this, coll, href, force, deferred] {
            if (!ApplyRemoved(coll, href, force))
                *deferred << href;
        });
    const int count = hrefs.size();
    Then([this, coll, deferred, count, next] {
        if (deferred->isEmpty())
            return next();
        RemoveAll(coll, *deferred, deferred->size() == count, next);
    });
}

void TSyncEngine::TakeGroup(const TRemote& remote) {
    TParsedGroup p;
    p.Remote = remote;
    p.Ok = GroupFromIcs(remote.Data, p.Group, p.Changed, p.Why);
    p.Remote.Data.clear();
    const QString& parent = p.Group.ParentUid;
    if (p.Ok && !parent.isEmpty() && !store_.HasGroup(parent)) {
        waiting_.emplace(parent, std::move(p));
        return;
    }
    ApplyWithWaiting(p);
}

void TSyncEngine::ApplyWithWaiting(const TParsedGroup& parsed) {
    ApplyGroup(parsed);
    const auto [from, to] = waiting_.equal_range(parsed.Group.Uid);
    for (auto it = from; it != to; ++it)
        Queue([this, child = std::move(it->second)] { ApplyWithWaiting(child); });
    waiting_.erase(from, to);
}

void TSyncEngine::ApplyGroups(std::function<void()> next) {
    // Whose parent never came: a parent's parent may have, so parents still go first.
    auto parsed = std::make_shared<std::vector<TParsedGroup>>();
    for (auto& [parent, p] : waiting_)
        parsed->push_back(std::move(p));
    waiting_.clear();
    Then([this, parsed, next] {
        std::map<QString, size_t> byUid;
        for (size_t i = 0; i < parsed->size(); ++i)
            byUid[(*parsed)[i].Group.Uid] = i;
        std::vector<int> depth(parsed->size(), 0);
        for (size_t i = 0; i < parsed->size(); ++i) {
            QString parent = (*parsed)[i].Group.ParentUid;
            int d = 0;
            for (auto it = byUid.find(parent); it != byUid.end() && d < 1000;
                 it = byUid.find((*parsed)[it->second].Group.ParentUid))
                ++d;
            depth[i] = d;
        }
        std::vector<size_t> order(parsed->size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return depth[a] < depth[b]; });
        for (size_t i : order)
            Queue([this, parsed, i] { ApplyGroup((*parsed)[i]); });
        Then(next);
    });
}

// ---------------------------------------------------------------- applying what came

void TSyncEngine::KeepUnreadable(int coll, const TRemote& remote, const QString& uid,
                                 const QString& title, const QString& why) {
    ++skipped_;
    TSyncItem item;
    item.Uid = uid.isEmpty() ? QStringLiteral("href:") + remote.Href : uid;
    item.Href = remote.Href;
    item.ETag = remote.ETag;
    item.Hash = QStringLiteral("-");
    store_.SaveItem(coll, item);
    if (!uid.isEmpty() &&
        (coll == scReminders ? store_.Reminder(uid).has_value() : store_.Group(uid).has_value()))
        problems_ << QStringLiteral("“%1”：别处的修改这里无法表示（%2），两边都未改动")
                         .arg(title.isEmpty() ? uid : title, why);
}

void TSyncEngine::CollectionGone(int coll) {
    if (rediscovered_[coll])
        return Fail(QStringLiteral("服务器上的同步日历不见了，也无法重新建立"));
    rediscovered_[coll] = true;
    // What was agreed with the vanished collection means nothing now: nothing here is taken
    // for deleted there, and everything here goes up again.
    Queue([this, coll] {
        store_.ForgetCollection(coll);
        coll_[coll] = store_.CollState(coll);
    });
    Then([this] { Discover(true, [this](const QString&) { Round(); }); });
}

void TSyncEngine::ApplyReminder(const TRemote& remote) {
    TSyncReminder theirs;
    QDateTime theirTime;
    QString why;
    if (!ReminderFromIcs(remote.Data, theirs, theirTime, why) || theirs.Uid.isEmpty())
        return KeepUnreadable(scReminders, remote, theirs.Uid, theirs.ReMark, why);
    const QString uid = theirs.Uid;
    // What another program keeps there beside the reminder is written back with it.
    store_.SaveCopy(scReminders, uid, ForeignParts(remote.Data));
    const auto item = store_.Item(scReminders, uid);
    const auto mine = store_.Reminder(uid);
    const auto pending = store_.PendingOf(scReminders, uid);
    const QString theirHash = theirs.Hash();
    QString base = item ? item->Hash : QString();
    if (item && !item->Sent.isEmpty() && theirHash == item->Sent)
        base = item->Sent; // our own write, whose answer was lost
    const QString myHash = mine ? mine->Hash() : QString();
    bool localChanged = pending && (mine ? myHash != base : item.has_value());
    if (!item && mine)
        localChanged = myHash != theirHash;
    const bool remoteChanged = theirHash != base;
    auto agree = [&](const QString& hash) {
        store_.SaveItem(scReminders, {uid, remote.Href, remote.ETag, hash, QString()});
    };
    if (!localChanged || (mine && myHash == theirHash) || !mine) {
        // Unchanged here, the same change on both sides, or deleted here while changed there
        // (it comes back).
        if (!mine || myHash != theirHash) {
            if (mine || remoteChanged || !pending) {
                store_.PutReminder(theirs);
                remindersChanged_ = true;
            } else {
                // Deleted here and unchanged there: the deletion goes up.
                store_.SaveItem(scReminders, {uid, remote.Href, remote.ETag, base, QString()});
                return;
            }
        }
        agree(theirHash);
        store_.DropPending(scReminders, uid);
        return;
    }
    if (!remoteChanged) {
        store_.SaveItem(scReminders, {uid, remote.Href, remote.ETag, base, QString()});
        return;
    }
    // Changed on both sides: the later change wins, the other is kept beside it.
    ++conflicts_;
    remindersChanged_ = true;
    const bool theirsLater =
        !theirTime.isValid() || theirTime >= ChangedAt(pending ? pending->Changed : QString());
    TSyncReminder copy = theirsLater ? *mine : theirs;
    copy.Uid = TSyncStore::NewUid();
    copy.ReMark = ConflictPrefix + copy.ReMark;
    store_.PutReminder(copy);
    agree(theirHash);
    if (theirsLater) {
        store_.PutReminder(theirs);
        store_.DropPending(scReminders, uid);
    }
}

void TSyncEngine::ApplyGroup(const TParsedGroup& p) {
    if (!p.Ok || p.Group.Uid.isEmpty())
        return KeepUnreadable(scNotes, p.Remote);
    const TSyncGroup& theirs = p.Group;
    const QString uid = theirs.Uid;
    const auto item = store_.Item(scNotes, uid);
    const auto mine = store_.Group(uid);
    const auto pending = store_.PendingOf(scNotes, uid);
    const QString theirHash = theirs.Hash();
    QString base = item ? item->Hash : QString();
    if (item && !item->Sent.isEmpty() && theirHash == item->Sent)
        base = item->Sent;
    const QString myHash = mine ? mine->Hash() : QString();
    bool localChanged = pending && (mine ? myHash != base : item.has_value());
    if (!item && mine)
        localChanged = myHash != theirHash;
    const bool remoteChanged = theirHash != base;
    const TSyncItem agreed{uid, p.Remote.Href, p.Remote.ETag, theirHash, QString()};
    if (!localChanged || (mine && myHash == theirHash) || !mine) {
        if (!mine || myHash != theirHash) {
            if (mine || remoteChanged || !pending) {
                store_.PutGroup(theirs);
                notesChanged_ = true;
            } else {
                store_.SaveItem(scNotes, {uid, p.Remote.Href, p.Remote.ETag, base, QString()});
                return;
            }
        }
        store_.SaveItem(scNotes, agreed);
        store_.DropPending(scNotes, uid);
        return;
    }
    if (!remoteChanged) {
        store_.SaveItem(scNotes, {uid, p.Remote.Href, p.Remote.ETag, base, QString()});
        return;
    }
    notesChanged_ = true;
    const bool theirsLater =
        !p.Changed.isValid() || p.Changed >= ChangedAt(pending ? pending->Changed : QString());
    const TSyncGroup& loser = theirsLater ? *mine : theirs;
    const TSyncGroup& winner = theirsLater ? theirs : *mine;
    if (loser.Note != winner.Note && !loser.Note.isEmpty()) {
        // Both texts stay: the other one in a sibling group.
        ++conflicts_;
        store_.AddSiblingGroup(uid, loser.Name + ConflictCopySuffix, loser.Note);
    }
    store_.SaveItem(scNotes, agreed);
    if (theirsLater) {
        store_.PutGroup(theirs);
        store_.DropPending(scNotes, uid);
    }
}

bool TSyncEngine::ApplyRemoved(int coll, const QString& href, bool force) {
    const auto item = store_.ItemByHref(coll, href);
    if (!item)
        return true;
    const QString uid = item->Uid;
    if (item->Hash == QLatin1String("-")) {
        store_.DropItem(coll, uid);
        return true;
    }
    QString myHash;
    bool present = false;
    if (coll == scReminders) {
        if (const auto mine = store_.Reminder(uid)) {
            present = true;
            myHash = mine->Hash();
        }
    } else if (const auto mine = store_.Group(uid)) {
        present = true;
        myHash = mine->Hash();
    }
    if (!present) {
        store_.DropItem(coll, uid);
        store_.DropPending(coll, uid);
        return true;
    }
    const bool changedHere = store_.PendingOf(coll, uid) && myHash != item->Hash;
    const bool keepsChildren = coll == scNotes && store_.HasChildGroups(uid);
    if (keepsChildren && !force && !changedHere)
        return false;
    store_.DropItem(coll, uid);
    if (changedHere || keepsChildren || uid == RootGroupUid) {
        // Changed here (or still holding sub-groups): it goes up again as new.
        store_.MarkPending(coll, uid);
        return true;
    }
    if (coll == scReminders) {
        store_.DeleteReminder(uid);
        remindersChanged_ = true;
    } else {
        store_.DeleteGroup(uid);
        notesChanged_ = true;
    }
    store_.DropPending(coll, uid);
    return true;
}

// ---------------------------------------------------------------- sending what changed here

void TSyncEngine::Push(int coll, std::function<void()> next) {
    InPages<qint64>(0, [this, coll](const qint64& after) -> std::optional<qint64> {
        qint64 last = after;
        const std::vector<TSyncPending> pending = store_.Pending(coll, after, 200, &last);
        for (const TSyncPending& p : pending)
            Queue([this, coll, p] { PushOne(coll, p); });
        return pending.size() == 200 ? std::optional(last) : std::nullopt;
    });
    Then(next);
}

void TSyncEngine::PushOne(int coll, const TSyncPending& pending) {
    const QString uid = pending.Uid;
    auto item = store_.Item(coll, uid);
    QString hash;
    QString title = uid; // what the user is told it is
    QByteArray ics;
    const QDateTime changed = ChangedAt(pending.Changed);
    if (coll == scReminders) {
        if (const auto mine = store_.Reminder(uid)) {
            title = mine->ReMark;
            hash = mine->Hash();
            ics = ReminderToIcs(*mine, changed, store_.Copy(scReminders, uid));
        }
    } else if (const auto mine = store_.Group(uid)) {
        hash = mine->Hash();
        ics = GroupToIcs(*mine, changed);
    }
    if (hash.isEmpty()) {
        // Deleted here.
        if (!item) {
            store_.DropPending(coll, uid);
            return;
        }
        const TSyncItem gone = *item;
        ++written_;
        Request(
            [this, gone](auto done) {
                client_->Delete(client_->Resolve(QString::fromLatin1(EncodedPath(gone.Href))),
                                gone.ETag, done);
            },
            [this, coll, gone](TDavResult& r) {
                if (r.Status == 412)
                    return void(again_ = true); // changed there meanwhile: it comes back
                if (!r.Ok() && r.Status != 404)
                    return Fail(r.Describe());
                QueueFirst([this, coll, gone] {
                    store_.DropItem(coll, gone.Uid);
                    if (coll == scReminders ? !store_.Reminder(gone.Uid) : !store_.Group(gone.Uid))
                        store_.DropPending(coll, gone.Uid);
                });
            });
        return;
    }
    if (item && item->Hash == hash && item->Sent.isEmpty() && !item->ETag.isEmpty()) {
        store_.DropPending(coll, uid);
        return;
    }
    if (item && item->Hash == QLatin1String("-")) {
        // There it holds what this program cannot show: never written over from here.
        problems_ << QStringLiteral("“%1”：这里的修改没有上传，以免覆盖别处无法在这里显示的内容")
                         .arg(title);
        return;
    }
    TSyncItem sending = item ? *item : TSyncItem{uid, QString(), QString(), QString(), QString()};
    if (sending.Href.isEmpty())
        sending.Href = CollHref(coll) + uid + QStringLiteral(".ics");
    sending.Sent = hash;
    // Recorded before the request leaves, so an answer lost to a crash is recognised.
    store_.SaveItem(coll, sending);
    ++written_;
    Request(
        [this, sending, ics](auto done) {
            client_->Put(client_->Resolve(QString::fromLatin1(EncodedPath(sending.Href))), ics,
                         sending.ETag, done);
        },
        [this, coll, sending, hash](TDavResult& r) {
            if (r.Status == 412 || (r.Status == 404 && !sending.ETag.isEmpty()))
                return void(again_ = true); // changed or deleted there meanwhile
            if (r.Error.isEmpty() && (r.Status == 400 || r.Status == 403 || r.Status == 413 ||
                                      r.Status == 415 || r.Status == 422)) {
                // The server refuses this one object; the others still go, and it is tried
                // again next time.
                ++refused_;
                problems_
                    << QStringLiteral("“%1”：服务器拒收（%2）").arg(sending.Uid).arg(r.Status);
                return;
            }
            if (!r.Ok())
                return Fail(r.Describe());
            if (r.ETag.isEmpty())
                again_ = true; // the next round reads the tag the server gave it
            QueueFirst([this, coll, sending, hash, etag = r.ETag] {
                TSyncItem agreed = sending;
                agreed.ETag = etag;
                agreed.Hash = hash;
                agreed.Sent.clear();
                store_.SaveItem(coll, agreed);
                QString now;
                if (coll == scReminders) {
                    if (const auto mine = store_.Reminder(sending.Uid))
                        now = mine->Hash();
                } else if (const auto mine = store_.Group(sending.Uid)) {
                    now = mine->Hash();
                }
                if (now == hash)
                    store_.DropPending(coll, sending.Uid);
            });
        });
}
