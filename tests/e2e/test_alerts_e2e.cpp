// End to end: the real program, its clock set by libfaketime, shows a due reminder.
#include "TestSupport.h"

#include "storage/UntSchema.h"

#include <QProcess>

TEST(AlertsEndToEnd, ReminderForTenOClockShowsWithinTheMinute) {
    const QStringList clock = FakeTimeAt("2026-12-07 09:59:50");
    if (clock.isEmpty())
        return;
    QTemporaryDir dir;
    TProgramRun program(dir.path());
    program.CreateDataWithReminders({"10:00 十点开会", "10:01 十点零一"});
    QProcess* p = program.Start({}, clock);
    ASSERT_TRUE(p->waitForStarted());
    EXPECT_TRUE(WaitFor([&] { return program.Boxes().contains("提醒|十点开会"); }, 30000))
        << program.Boxes() << QString::fromUtf8(p->readAll());
    EXPECT_FALSE(program.Boxes().contains("十点零一")); // not its minute yet
    EXPECT_EQ(p->state(), QProcess::Running);
}
