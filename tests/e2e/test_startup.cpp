// End to end: the real executable, started in a temporary folder.
#include "TestSupport.h"

#include "shell/UntInstanceChannel.h"
#include "shell/UntInstanceLock.h"
#include "storage/UntDbAccess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

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
    // It might be encrypted with a login password: a wrong one is refused, and giving up
    // reports the file.
    QProcess* p = program.Start({}, {"QUILLET_TEST_PASSWORDS=wrong"});
    ASSERT_TRUE(p->waitForFinished(15000));
    const QString boxes = program.Boxes();
    const qsizetype refused = boxes.indexOf(QStringLiteral("|密码输入错误!\n"));
    EXPECT_TRUE(refused > 0 &&
                boxes.indexOf(QStringLiteral("\n错误|数据库连接失败！\r\n详细信息：")) > refused)
        << boxes.toStdString();
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

// Without XDG_RUNTIME_DIR the lock and its socket must not take a name in the shared temporary
// folder that another user could make first. In process, with the folders pointed at the test's.
TEST(Startup, WithoutARuntimeFolderLockAndSocketAreInAFolderOfTheUsersOwn) {
    QTemporaryDir dir;
    const QProcessEnvironment before = QProcessEnvironment::systemEnvironment();
    const auto restore = qScopeGuard([&] {
        for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR", "XDG_CACHE_HOME"}) {
            if (before.contains(name))
                qputenv(name, before.value(name).toLocal8Bit());
            else
                qunsetenv(name);
        }
    });
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(dir.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.path() + "/cache"));
    auto mode = [](const QString& path) {
        struct stat st;
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777)
                                                                      : -1;
    };
    const QString own = "quillet-" + QString::number(::geteuid());
    const QString tmp = dir.path() + "/" + own;
    const QString cache = dir.path() + "/cache/" + own;

    // A link put there, or another user's folder, is not used; the user's cache is.
    const QString elsewhere = dir.path() + "/elsewhere";
    ASSERT_TRUE(QDir().mkdir(elsewhere));
    ASSERT_EQ(::chmod(QFile::encodeName(elsewhere).constData(), 0755), 0);
    ASSERT_TRUE(QFile::link(elsewhere, tmp));
    EXPECT_EQ(TInstanceLock::LockPath("Brindlet"), cache + "/Brindlet");
    EXPECT_EQ(mode(cache), 0700);
    EXPECT_EQ(mode(elsewhere), 0755);
    ASSERT_TRUE(QFile::remove(tmp));
    ASSERT_TRUE(QDir().mkdir(tmp));
    if (::chown(QFile::encodeName(tmp).constData(), 65534, 65534) == 0) { // when run as root
        EXPECT_EQ(TInstanceLock::LockPath("Brindlet"), cache + "/Brindlet");
    }

    // A folder of the user's own that others may enter is closed to them.
    ASSERT_EQ(::chown(QFile::encodeName(tmp).constData(), ::geteuid(), ::getegid()), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(tmp).constData(), 0755), 0);
    const TInstanceLock first("Brindlet");
    EXPECT_EQ(mode(tmp), 0700);
    EXPECT_TRUE(QFile::exists(tmp + "/Brindlet"));
    EXPECT_TRUE(TInstanceLock("Brindlet").HeldByOther());

    // A second start finds the first through the socket beside the lock.
    TInstanceChannel channel("Brindlet");
    ASSERT_TRUE(channel.Listen());
    EXPECT_TRUE(QFile::exists(tmp + "/Brindlet.socket"));
    QStringList received;
    QObject::connect(&channel, &TInstanceChannel::Received,
                     [&](const TInstanceMessage& m) { received = m.Arguments; });
    std::future<bool> sent = std::async(std::launch::async, [] {
        return TInstanceChannel::Send("Brindlet", {TInstanceMessageType::Activate, {"x"}});
    });
    EXPECT_TRUE(WaitFor([&] { return !received.isEmpty(); }));
    EXPECT_TRUE(sent.get());
    EXPECT_EQ(received, QStringList{"x"});
}
