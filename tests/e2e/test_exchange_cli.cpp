// The command line's exchanges, run through the real executable: exit codes, inputs that
// must change nothing, the running copy's lock, the login password, and a round trip.
#include "TestSupport.h"

#include "settings/UntPassHash.h"
#include "storage/UntDbAccess.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray DailyIcs = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//hand//EN\r\n"
                            "BEGIN:VEVENT\r\nUID:walk-1@hand\r\nDTSTAMP:20250101T000000Z\r\n"
                            "DTSTART:20250101T083000\r\nRRULE:FREQ=DAILY\r\n"
                            "SUMMARY:散步 'it''s' @#@\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";

void WriteFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QString Count(const TProgramRun& program, const QString& table) {
    return Sqlcipher(program.Data(),
                     SqlcipherUnlock + QStringLiteral("select count(*) from %1;\n").arg(table));
}

} // namespace

TEST(ExchangeCommandLine, ImportsRefuseDamageAndARunningCopyAndChangeNothing) {
    QTemporaryDir dir;
    TProgramRun program(dir.path() + "/a");
    const QString good = dir.path() + "/good.ics";
    WriteFile(good, DailyIcs);
    QString out;
    ASSERT_EQ(program.Run({"--import-ics", good}, &out), 0) << out;
    EXPECT_TRUE(out.contains(QStringLiteral("导入了1条提醒，跳过0条"))) << out;
    ASSERT_EQ(Count(program, "Alam"), "1");

    // Cut off mid-event: the parser's damage, not a missing file.
    const QString damaged = dir.path() + "/damaged.ics";
    WriteFile(damaged, DailyIcs.left(DailyIcs.indexOf("SUMMARY")));
    EXPECT_NE(program.Run({"--import-ics", damaged}, &out), 0);
    EXPECT_TRUE(out.startsWith("quillet: ") && out.count('\n') == 1) << out;
    EXPECT_NE(program.Run({"--import-ics", dir.path() + "/missing.ics"}, &out), 0);
    EXPECT_EQ(Count(program, "Alam"), "1");

    // A running copy holds the lock: the import is refused, even with a good file.
    const QByteArray lockPath = QFile::encodeName(program.Folder() + "/run/Brindlet");
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const QString other = dir.path() + "/other.ics";
    WriteFile(other, QByteArray(DailyIcs).replace("散步", "跑步").replace("walk-1", "run-1"));
    EXPECT_NE(program.Run({"--import-ics", other}, &out), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("正在运行"))) << out;
    QDir().mkpath(dir.path() + "/notes");
    WriteFile(dir.path() + "/notes/a.txt", "x");
    EXPECT_NE(program.Run({"--import-notes", dir.path() + "/notes"}, &out), 0);
    EXPECT_EQ(Count(program, "Alam"), "1");
    EXPECT_EQ(Count(program, "NoteType"), "0");
    // Exporting reads a snapshot beside the running copy, but only while that copy's locks on
    // the data file can be seen: nothing else makes sure its log is left alone.
    EXPECT_NE(program.Run({"--export-ics", dir.path() + "/unsure.ics"}, &out), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("无法确认"))) << out;
    EXPECT_FALSE(QFile::exists(dir.path() + "/unsure.ics"));
    {
        TConnection running;
        running.Open(program.Data(), DatabaseKey);
        running.UseWriteAheadLog();
        running.Exec("insert into AlamContext(ReMark) values('typed')");
        EXPECT_EQ(program.Run({"--export-ics", dir.path() + "/while.ics"}, &out), 0) << out;
        EXPECT_TRUE(ReadAll(dir.path() + "/while.ics").contains("FREQ=DAILY"));
        EXPECT_TRUE(QFile::exists(program.Data() + "-wal"));
    }
    ::close(fd);

    EXPECT_EQ(program.Run({"--import-ics", other}, &out), 0) << out;
    EXPECT_EQ(Count(program, "Alam"), "2");
    EXPECT_EQ(program.Run({"--export-ics"}, &out), 2) << "an option without its file";
}

// Next year's holiday schedule from the command line is kept in the data file; a calendar
// without holiday events is refused and changes nothing.
TEST(ExchangeCommandLine, AHolidayScheduleIsImportedAndKept) {
    QTemporaryDir dir;
    TProgramRun program(dir.path() + "/a");
    QString out;
    const QString plain = dir.path() + "/plain.ics";
    WriteFile(plain, DailyIcs);
    EXPECT_NE(program.Run({"--import-holidays", plain}, &out), 0);
    EXPECT_TRUE(out.startsWith("quillet: ")) << out;
    ASSERT_EQ(program.Run({"--import-holidays",
                           QStringLiteral(QUILLET_SOURCE_DIR "/tests/calendar/holidays-2027.ics")},
                          &out),
              0)
        << out;
    EXPECT_TRUE(out.contains(QStringLiteral("2027年全年"))) << out;
    EXPECT_EQ(Sqlcipher(program.Data(), SqlcipherUnlock +
                                            "select Year from HolidayYear where Days like "
                                            "'%2027-02-20\t班%';\n"),
              "2027");
}

TEST(ExchangeCommandLine, LoginPasswordIsAskedOnTheTerminal) {
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    QString out;
    ASSERT_EQ(program.Run({"--export-ics", dir.path() + "/first.ics"}, &out), 0) << out;
    Sqlcipher(program.Data(),
              SqlcipherUnlock + QStringLiteral("update SysSet set bPass=-1, PassWord='%1';\n")
                                    .arg(HashPassword("秘密")));
    const QString ics = dir.path() + "/b.ics";
    EXPECT_NE(program.Run({"--export-ics", ics}, &out), 0) << "no input, no password";
    EXPECT_NE(program.Run({"--export-ics", ics}, &out, "wrong\n"), 0);
    EXPECT_FALSE(QFile::exists(ics));
    EXPECT_EQ(program.Run({"--export-ics", ics}, &out, QString("秘密\n").toUtf8()), 0) << out;
    EXPECT_TRUE(QFile::exists(ics));
}

TEST(ExchangeCommandLine, ExportThenImportIntoAnotherDataFileKeepsRemindersAndNotes) {
    QTemporaryDir dir;
    TProgramRun first(dir.path() + "/first");
    TProgramRun second(dir.path() + "/second");
    const QString source = dir.path() + "/source";
    QDir().mkpath(source + "/工作");
    WriteFile(source + "/工作/计划.txt", "第一行\n'引号' @#@ 😀");
    WriteFile(dir.path() + "/in.ics", DailyIcs);
    QString out;
    ASSERT_EQ(first.Run({"--import-ics", dir.path() + "/in.ics"}, &out), 0) << out;
    ASSERT_EQ(first.Run({"--import-notes", source}, &out), 0) << out;
    ASSERT_EQ(first.Run({"--export-ics", dir.path() + "/out.ics"}, &out), 0) << out;
    ASSERT_EQ(first.Run({"--export-notes", dir.path() + "/out"}, &out), 0) << out;
    EXPECT_NE(first.Run({"--export-notes", dir.path() + "/out"}, &out), 0)
        << "a folder that is not empty is not written into";

    ASSERT_EQ(second.Run({"--import-ics", dir.path() + "/out.ics"}, &out), 0) << out;
    ASSERT_EQ(second.Run({"--import-notes", dir.path() + "/out"}, &out), 0) << out;
    const QString rows = SqlcipherUnlock +
                         "select ReDay, iHour, iMinute, ReMark from Alam;\n"
                         "select TypeName, ReMark from NoteType join NoteBook on TypeID=SelfIndex"
                         " order by SelfIndex;\n";
    EXPECT_EQ(Sqlcipher(second.Data(), rows), Sqlcipher(first.Data(), rows));
    const QString copied = Sqlcipher(second.Data(), rows);
    EXPECT_TRUE(copied.contains(QStringLiteral("散步 'it''s' @#@"))) << copied;
    EXPECT_TRUE(copied.contains(QStringLiteral("'引号' @#@ 😀"))) << copied;
    // Importing the same calendar again adds nothing.
    ASSERT_EQ(second.Run({"--import-ics", dir.path() + "/out.ics"}, &out), 0) << out;
    EXPECT_TRUE(out.contains(QStringLiteral("导入了0条提醒，跳过1条"))) << out;
    EXPECT_EQ(Count(second, "Alam"), "1");
}

// Under an ordinary umask the data file and its folder are the user's alone (tightened when
// an older run left them open), while an export is as the umask makes it. A data file
// encrypted with the login password by the sqlcipher tool opens only with that password.
TEST(ExchangeCommandLine, TheDataIsTheUsersAloneAndAPasswordKeyOpensOnlyWithThePassword) {
    const mode_t saved = ::umask(022);
    const auto back = qScopeGuard([saved] { ::umask(saved); });
    QTemporaryDir dir;
    TProgramRun program(dir.path() + "/a");
    QString out;
    ASSERT_EQ(program.Run({"--export-ics", dir.path() + "/first.ics"}, &out), 0) << out;
    auto mode = [](const QString& path) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 0777;
    };
    EXPECT_EQ(mode(program.Data()), 0600u);
    EXPECT_EQ(mode(dir.path() + "/first.ics"), 0644u);
    ::chmod(QFile::encodeName(program.Data()).constData(), 0644);
    ::chmod(QFile::encodeName(program.Folder()).constData(), 0755);

    const QString user = Sqlcipher(program.Data(), SqlcipherUnlock + "PRAGMA user_version;\n");
    const QString encrypted = dir.path() + "/encrypted.dat";
    Sqlcipher(program.Data(),
              SqlcipherUnlock + QStringLiteral("update SysSet set bPass=-1, PassWord='%1';\n"
                                               "ATTACH '%2' AS enc KEY '秘密';\n"
                                               "PRAGMA enc.cipher_page_size = 16384;\n"
                                               "SELECT sqlcipher_export('enc');\n"
                                               "PRAGMA enc.user_version = %3;\n")
                                    .arg(HashPassword("秘密"), encrypted, user.trimmed()));
    ASSERT_TRUE(QFile::remove(program.Data()) && QFile::rename(encrypted, program.Data()));
    const QByteArray before = ReadAll(program.Data());
    const QString ics = dir.path() + "/b.ics";
    EXPECT_NE(program.Run({"--export-ics", ics}, &out), 0) << "no input, no password";
    EXPECT_NE(program.Run({"--export-ics", ics}, &out, "wrong\n"), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("需要正确的登录密码"))) << out;
    EXPECT_EQ(ReadAll(program.Data()), before);
    EXPECT_FALSE(QFile::exists(ics));
    // One line of input opens the file and is the login.
    EXPECT_EQ(program.Run({"--export-ics", ics}, &out, QString("秘密\n").toUtf8()), 0) << out;
    EXPECT_TRUE(QFile::exists(ics));
    EXPECT_EQ(mode(program.Data()), 0600u);
    EXPECT_EQ(mode(program.Folder()), 0700u);
    QString log;
    for (const QString& name : QDir(program.Folder()).entryList({"Log*"}))
        log += QString::fromUtf8(ReadAll(program.Folder() + "/" + name));
    EXPECT_TRUE(log.contains(QStringLiteral("已改为只有本用户可以读写"))) << log.toStdString();
}
