#include "TestSupport.h"

#include "common/UntClock.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSchema.h"
#include "storage/UntSqlText.h"

#include <QFile>

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

TBoxRecorder::TBoxRecorder() {
    previous_ =
        SetMessageBoxHook([this](BoxKind kind, const QString& caption, const QString& text) {
            boxes_.push_back({kind, caption, text});
            if (onBox_)
                onBox_(boxes_.back());
            if (real_)
                return ShowRealBox(kind, caption, text);
            if (kind != BoxKind::Question)
                return int(BoxOK);
            if (answers_.empty())
                return int(BoxNo);
            const int answer = answers_.front();
            answers_.pop_front();
            return answer;
        });
}

TBoxRecorder::~TBoxRecorder() {
    SetMessageBoxHook(std::move(previous_));
}

void TBoxRecorder::AnswerYes(int times) {
    for (int i = 0; i < times; ++i)
        answers_.push_back(BoxYes);
}

void TBoxRecorder::AnswerNo(int times) {
    for (int i = 0; i < times; ++i)
        answers_.push_back(BoxNo);
}

TPinnedClock::TPinnedClock(const QDateTime& moment) {
    Clock::SetNow(moment);
}
TPinnedClock::~TPinnedClock() {
    Clock::Reset();
}
void TPinnedClock::Set(const QDateTime& moment) {
    Clock::SetNow(moment);
}

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

QString DbTest::DataPath() const {
    return TDbAccess::DatabasePath();
}

void DbTest::Reconnect() {
    DbAccess->Disconnect();
    DbAccess->Connect();
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

#include "notepad/NotepadPage.h"
#include "notepad/UntNote.h"
#include "reminders/RemindersPage.h"
#include "reminders/UntAlam.h"
#include "reminders/UntAlamContext.h"
#include "settings/UntConfig.h"
#include "shell/Main.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

TRemindersPage* RemindersPageOf(const TFormMain* main) {
    return main->findChild<TRemindersPage*>();
}

TNotepadPage* NotepadPageOf(const TFormMain* main) {
    return main->findChild<TNotepadPage*>();
}

void TypeText(QWidget* w, const QString& text) {
    for (const QChar c : text) {
        if (c == QLatin1Char(' '))
            QTest::keyClick(w, Qt::Key_Space); // with its key code, as widgets that act on it want
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

void Retype(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    TypeText(edit, text);
}

QPointer<QTimer> WhenModalWidget(std::function<bool(QWidget*)> accepted,
                                 std::function<void(QWidget*)> f, QWidget* over, int ms) {
    auto* poll = new QTimer(qApp);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        // As a user would: once the dialog has the focus (a window is activated a moment
        // after it shows), or after a while on a display that never activates it.
        if (modal && modal != over && accepted(modal) &&
            (modal->isActiveWindow() || started->elapsed() > 1000)) {
            poll->stop();
            poll->deleteLater();
            f(modal);
            return;
        }
        if (started->elapsed() > ms) {
            poll->stop();
            poll->deleteLater();
            ADD_FAILURE() << "the expected dialog did not open";
            if (auto* other = qobject_cast<QDialog*>(modal); other && other != over)
                other->reject();
        }
    });
    poll->start(10);
    return poll;
}

bool WaitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(20);
    }
    return true;
}

QMessageBox* WaitForRealBox(const QString& text, int ms) {
    QMessageBox* found = nullptr;
    WaitFor(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w);
                    box && box->isVisible() && box->text() == text)
                    found = box;
            return found != nullptr;
        },
        ms);
    return found;
}

void UserClick(QWidget* w) {
    QWidget* window = w->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                      w->mapTo(window, w->rect().center()));
}

void AnswerRealBoxLater(const QString& text, bool byKey) {
    QTimer::singleShot(0, [text, byKey] {
        QPointer<QMessageBox> box = WaitForRealBox(text);
        if (!box) {
            ADD_FAILURE() << "no box: " << text;
            return;
        }
        if (byKey)
            QTest::keyClick(box->windowHandle(), Qt::Key_Return);
        else if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            UserClick(ok);
        else
            UserClick(box->button(QMessageBox::No));
        if (!WaitFor([&] { return !box || !box->isVisible(); }, 2000)) {
            ADD_FAILURE() << "the box could not be answered: " << text;
            box->done(0);
        }
    });
}

TProgramRun::TProgramRun(const QString& folder, const QString& executable) : folder_(folder) {
    QDir().mkpath(folder + "/run");
    exe_ = folder + "/quillet";
    if (!QFile::exists(exe_))
        QFile::copy(executable, exe_);
}

TProgramRun::~TProgramRun() {
    for (QProcess* p : processes_) {
        const qint64 pid = p->processId();
        p->kill();
        p->waitForFinished(5000);
        // What libfaketime shares is left behind by a killed process.
        if (pid > 0)
            for (const char* name : {"faketime_shm_", "sem.faketime_sem_"})
                QFile::remove("/dev/shm/" + QLatin1String(name) + QString::number(pid));
        delete p;
    }
}

void TProgramRun::CreateDataWithReminders(const QStringList& reminders) const {
    CreateDatabase(Data(), DatabaseKey);
    TConnection c;
    c.Open(Data(), DatabaseKey);
    for (const QString& reminder : reminders) {
        const QString time = reminder.section(QLatin1Char(' '), 0, 0);
        c.Exec(FormatSql(QStringLiteral("Insert into Alam(iHour,iMinute,iMonWeek,ReDay,"
                                        "AlamDate,ReMark)  values(%s,%s,1,0,'2026-12-07','%s') "),
                         {time.section(QLatin1Char(':'), 0, 0), time.section(QLatin1Char(':'), 1),
                          reminder.section(QLatin1Char(' '), 1)}));
    }
}

QProcess* TProgramRun::Start(const QString& answer, const QStringList& extraEnvironment,
                             const QStringList& arguments) {
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", folder_ + "/run");
    env.insert("XDG_CONFIG_HOME", folder_ + "/config");
    env.insert("XDG_CACHE_HOME", folder_ + "/cache");
    env.insert("QUILLET_TEST_BOXLOG", BoxLog());
    env.insert("QUILLET_TEST_ANSWER", answer);
    for (const QString& assignment : extraEnvironment) {
        const int eq = assignment.indexOf('=');
        env.insert(assignment.left(eq), assignment.mid(eq + 1));
    }
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setWorkingDirectory(folder_); // where a file dialog opens
    p->start(exe_, arguments);
    processes_.push_back(p);
    return p;
}

int TProgramRun::Run(const QStringList& arguments, QString* output, const QByteArray& input) {
    QProcess* p = Start(QString(), QStringList(), arguments);
    p->write(input);
    p->closeWriteChannel();
    p->waitForFinished(30000);
    if (output)
        *output = QString::fromUtf8(p->readAll());
    return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
}

QStringList FakeTimeAt(const QString& when) {
    for (const QString& arch : QDir(QStringLiteral("/usr/lib")).entryList(QDir::Dirs)) {
        const QString library = "/usr/lib/" + arch + "/faketime/libfaketime.so.1";
        if (QFile::exists(library))
            return {"LD_PRELOAD=" + library, "FAKETIME=@" + when, "FAKETIME_DONT_FAKE_MONOTONIC=1"};
    }
    ADD_FAILURE() << "libfaketime is not installed; run scripts/setup.sh";
    return {};
}

QString Sqlcipher(const QString& file, const QString& script) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start("sqlcipher", {file});
    p.write(script.toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(15000);
    return QString::fromUtf8(p.readAll()).trimmed();
}

int LocksOn(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    // "1: POSIX  ADVISORY  READ 8977 fe:00:10952783 1073741826 1073742335"; " -> " lines wait.
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return 0;
    int count = 0;
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields.at(1) != "->" &&
            fields.at(5).split(':').value(2).toULongLong() == st.st_ino)
            ++count;
    }
    return count;
}

struct TTestSingles {
    TNote note;
    TConfig config;
    TAlamContext alamContext;
    TAlam alam;
    TTestSingles() {
        NoteData = &note;
        ConfigData = &config;
        AlamContextData = &alamContext;
        AlamData = &alam;
    }
    ~TTestSingles() {
        AlamData = nullptr;
        AlamContextData = nullptr;
        ConfigData = nullptr;
        NoteData = nullptr;
    }
};

std::shared_ptr<TTestSingles> MakeTestSingles() {
    return std::make_shared<TTestSingles>();
}

void MainWindowTest::Restart(bool waitForNote) {
    boxes_->AnswerYes();
    main_->close();
    main_.reset();
    DbAccess->Connect();
    main_ = std::make_unique<TFormMain>();
    main_->show();
    if (waitForNote) {
        EXPECT_TRUE(WaitFor([&] { return !NotepadPageOf(Main())->NoteLoading(); }));
    }
}

void MainWindowTest::SetUp() {
    DbTest::SetUp();
    if (HasFatalFailure())
        return;
    singles_ = MakeTestSingles();
    main_ = std::make_unique<TFormMain>();
    main_->show();
    EXPECT_TRUE(WaitFor([&] { return !NotepadPageOf(Main())->NoteLoading(); }));
}

void MainWindowTest::TearDown() {
    if (main_) {
        boxes_->AnswerYes(5);
        main_->close();
        main_.reset();
    }
    singles_.reset();
    DbTest::TearDown();
}
