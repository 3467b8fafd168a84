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

TEST(Startup, RealProgramCreatesEncryptedDataAndRunsOncePerSession) {
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    QProcess* first = program.Start();
    ASSERT_TRUE(first->waitForStarted());
    // The data file appears once the connection is made; the window follows.
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(program.Data()); }));
    QTest::qWait(500);
    EXPECT_EQ(first->state(), QProcess::Running) << first->readAll().toStdString();

    if (!QStandardPaths::findExecutable("sqlcipher").isEmpty()) {
        EXPECT_TRUE(
            Sqlcipher(program.Data(), "select count(*) from SysSet;\n").contains("not a database"));
        EXPECT_EQ(Sqlcipher(program.Data(), SqlcipherUnlock + "select count(*) from SysSet;\n"),
                  QStringLiteral("1"));
    } else {
        ADD_FAILURE() << "the sqlcipher command-line tool is not installed";
    }

    QProcess* second = program.Start();
    ASSERT_TRUE(second->waitForFinished(15000));
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(program.Boxes(), QStringLiteral("提示|桌面Quillet软件已经运行!\n"));
    EXPECT_EQ(first->state(), QProcess::Running);

    first->kill(); // SIGKILL
    ASSERT_TRUE(first->waitForFinished(5000));

    QProcess* third = program.Start();
    ASSERT_TRUE(third->waitForStarted());
    EXPECT_FALSE(third->waitForFinished(1500)) << third->readAll().toStdString();
    EXPECT_EQ(third->state(), QProcess::Running);
    EXPECT_EQ(program.Boxes().count('\n'), 1); // nothing new was shown
}

TEST(Startup, UnreadableDataFileIsReportedAndTheProgramEnds) {
    QTemporaryDir dir;
    TProgramRun program(dir.path());
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

TEST(Startup, VersionAnswersWithoutDisplayLockOrDataFile) {
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb"); // any window would fail without a display
    env.insert("XDG_RUNTIME_DIR", dir.path() + "/run");
    p.setProcessEnvironment(env);
    p.start(program.Folder() + "/quillet", {"--version"});
    ASSERT_TRUE(p.waitForFinished(15000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().startsWith("quillet "));
    EXPECT_FALSE(QFile::exists(program.Data()));
    EXPECT_TRUE(QDir(dir.path() + "/run").isEmpty()) << "no lock file";
}

TEST(Startup, InstalledCopyKeepsItsDataPerUserEvenInAWritableFolder) {
    QTemporaryDir dir;
    const QString prefix = dir.path() + "/usr";
    QDir().mkpath(prefix + "/share/applications");
    QFile entry(prefix + "/share/applications/quillet.desktop");
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.close();
    TProgramRun program(prefix + "/bin");
    const QString data = dir.path() + "/home-data/Quillet/bookkeep.dat";
    QProcess* p = program.Start({}, {"XDG_DATA_HOME=" + dir.path() + "/home-data"});
    ASSERT_TRUE(p->waitForStarted());
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(data); })) << p->readAll().toStdString();
    EXPECT_FALSE(QFile::exists(program.Data()));
}
