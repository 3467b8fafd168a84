// End to end: the real executable, started in a temporary folder.
#include "TestSupport.h"

#include "storage/UntDbAccess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <csignal>

namespace {

class Program {
public:
    explicit Program(const QString& folder) : folder_(folder) {
        QDir().mkpath(folder + "/run");
        exe_ = folder + "/quillet";
        if (!QFile::exists(exe_))
            QFile::copy(QStringLiteral(QUILLET_EXE), exe_);
    }
    ~Program() {
        for (QProcess* p : processes_) {
            p->kill();
            p->waitForFinished(5000);
            delete p;
        }
    }
    QProcess* Start() {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", folder_ + "/run");
        env.insert("QUILLET_TEST_BOXLOG", BoxLog());
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(exe_, {});
        processes_.push_back(p);
        return p;
    }
    QString BoxLog() const { return folder_ + "/boxes.log"; }
    QString Boxes() const { return QString::fromUtf8(ReadAll(BoxLog())); }
    QString Data() const { return folder_ + "/bookkeep.dat"; }

private:
    QString folder_;
    QString exe_;
    std::vector<QProcess*> processes_;
};

bool WaitFor(const std::function<bool()>& condition, int ms = 15000) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(50);
    }
    return true;
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

} // namespace

TEST(Startup, RealProgramCreatesEncryptedDataAndRunsOncePerSession) {
    QTemporaryDir dir;
    Program program(dir.path());
    QProcess* first = program.Start();
    ASSERT_TRUE(first->waitForStarted());
    // The data file appears once the connection is made; the window follows.
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(program.Data()); }));
    QTest::qWait(500);
    EXPECT_EQ(first->state(), QProcess::Running) << first->readAll().toStdString();

    if (!QStandardPaths::findExecutable("sqlcipher").isEmpty()) {
        EXPECT_TRUE(Sqlcipher(program.Data(), "select count(*) from SysSet;\n")
                        .contains("not a database"));
        EXPECT_EQ(Sqlcipher(program.Data(),
                            "PRAGMA key='40718293561072';\nselect count(*) from SysSet;\n"),
                  QStringLiteral("1"));
    } else {
        ADD_FAILURE() << "the sqlcipher command-line tool is not installed";
    }

    QProcess* second = program.Start();
    ASSERT_TRUE(second->waitForFinished(15000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(program.Boxes(), QStringLiteral("提示|桌面Quillet软件已经运行!\n"));
    EXPECT_EQ(first->state(), QProcess::Running);

    ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
    ASSERT_TRUE(first->waitForFinished(5000));

    QProcess* third = program.Start();
    ASSERT_TRUE(third->waitForStarted());
    EXPECT_FALSE(third->waitForFinished(1500)) << third->readAll().toStdString();
    EXPECT_EQ(third->state(), QProcess::Running);
    EXPECT_EQ(program.Boxes().count('\n'), 1); // nothing new was shown
}

TEST(Startup, UnreadableDataFileIsReportedAndTheProgramEnds) {
    QTemporaryDir dir;
    Program program(dir.path());
    QFile junk(program.Data());
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    QProcess* p = program.Start();
    ASSERT_TRUE(p->waitForFinished(15000));
    EXPECT_TRUE(program.Boxes().startsWith(QStringLiteral("错误|数据库连接失败！\r\n详细信息：")))
        << program.Boxes().toStdString();
    EXPECT_EQ(ReadAll(program.Data()), QByteArray(4096, 'x'));
}
