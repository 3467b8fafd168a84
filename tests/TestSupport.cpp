#include "TestSupport.h"

#include "shell/UntClock.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"

#include <QFile>

void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

TBoxRecorder::TBoxRecorder() {
    previous_ = SetMessageBoxHook([this](BoxKind kind, const QString& caption, const QString& text) {
        boxes_.push_back({kind, caption, text});
        if (onBox_)
            onBox_(boxes_.back());
        if (kind != BoxKind::Question)
            return int(BoxOK);
        if (answers_.empty())
            return int(BoxNo);
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    });
}

TBoxRecorder::~TBoxRecorder() { SetMessageBoxHook(std::move(previous_)); }

void TBoxRecorder::AnswerYes(int times) {
    for (int i = 0; i < times; ++i)
        answers_.push_back(BoxYes);
}

void TBoxRecorder::AnswerNo(int times) {
    for (int i = 0; i < times; ++i)
        answers_.push_back(BoxNo);
}

TPinnedClock::TPinnedClock(const QDateTime& moment) { Clock::SetNow(moment); }
TPinnedClock::~TPinnedClock() { Clock::Reset(); }
void TPinnedClock::Set(const QDateTime& moment) { Clock::SetNow(moment); }

QDateTime At(const QString& isoDateTime) {
    return QDateTime::fromString(isoDateTime, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void DbTest::SetUp() {
    dir_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir_->isValid());
    SetAppDir(dir_->path());
    if (!CardException)
        CardException = new TCardException; // lives for the whole test run
    boxes_ = std::make_unique<TBoxRecorder>();
    db_ = std::make_unique<TDbAccess>();
    DbAccess = db_.get();
    DbAccess->Connect();
    ASSERT_TRUE(DbAccess->Connection.IsOpen()) << boxes_->LastText().toStdString();
}

void DbTest::TearDown() {
    DbAccess = nullptr;
    db_.reset();
    boxes_.reset();
    Clock::Reset();
    dir_.reset();
}

QString DbTest::DataPath() const { return TDbAccess::DatabasePath(); }

void DbTest::Reconnect() {
    DbAccess->Disconnect();
    DbAccess->Connect();
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
