#include "SyncTestSupport.h"
#include "storage/UntSqlText.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

struct TResult {
    int code = -1;
    QString output;
};

TResult RunCommand(TProgramRun& run, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess* p = run.Start(QString(), {}, {}, arguments);
    p->write(input);
    p->closeWriteChannel();
    TResult r;
    if (!p->waitForFinished(60000))
        return r;
    r.code = p->exitCode();
    r.output = QString::fromLocal8Bit(p->readAll());
    return r;
}

} // namespace

TEST(SyncCommandLine, SetUpThenSyncAndRefusedWhileACopyRuns) {
    TRadicale& server = TRadicale::Shared();
    const QString user = server.AddUser();
    QTemporaryDir dir;
    TProgramRun run(dir.path());
    {
        TMachine here(server.Url(), user);
        here.Exec(FormatSql("insert into NoteType(SelfIndex,ParentIndex,TypeName) values "
                            "(701,0,'%s')",
                            {QStringLiteral("命令行的组")}));
        here.Close();
        ASSERT_TRUE(QFile::copy(here.Path(), run.Data()));
    }

    TResult r = RunCommand(run, {"--sync-setup", server.Url(), user}, (user + "-wrong\n").toUtf8());
    EXPECT_EQ(r.code, 0) << r.output.toStdString();
    r = RunCommand(run, {"--sync"});
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(r.output.trimmed().count('\n'), 0) << "one line: " << r.output.toStdString();

    r = RunCommand(run, {"--sync-setup", server.Url(), user}, (user + "-pw\n").toUtf8());
    EXPECT_EQ(r.code, 0) << r.output.toStdString();
    r = RunCommand(run, {"--sync"});
    EXPECT_EQ(r.code, 0) << r.output.toStdString();

    TMachine there(server.Url(), user);
    ASSERT_TRUE(there.Sync());
    EXPECT_FALSE(there.UidOfGroup(QStringLiteral("命令行的组")).isEmpty());

    // While the program runs, the command changes nothing.
    QProcess* copy = run.Start();
    ASSERT_TRUE(copy->waitForStarted());
    QThread::msleep(1500);
    const QByteArray before = ReadAll(run.Data());
    r = RunCommand(run, {"--sync-setup", "https://127.0.0.1:1/", "other"}, "x\n");
    EXPECT_NE(r.code, 0);
    EXPECT_TRUE(r.output.contains("running")) << r.output.toStdString();
    r = RunCommand(run, {"--sync"});
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(ReadAll(run.Data()), before);
}
