#include "TestSupport.h"

#include "common/UntDateStamp.h"
#include "common/UntHandler.h"
#include "common/UntListRows.h"
#include "common/UntPublic.h"
#include "notepad/UntNote.h"
#include "shell/UntApplication.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

class ErrorTest : public DbTest {};

TEST_F(ErrorTest, FailedQueryIsShownAndLoggedAsThreeLines) {
    TPinnedClock clock(At("2026-03-05 14:07:09"));
    RunHandler(nullptr, [] { DbAccess->OpenQuery("select * from Missing"); });
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->Boxes()[0].kind, BoxKind::Error);
    EXPECT_EQ(boxes_->LastText(),
              QStringLiteral("数据库查询错误，请检查！\r\n详细信息：no such table: Missing"));
    EXPECT_EQ(CardException->UserMessage, QStringLiteral("数据库查询错误，请检查！"));
    EXPECT_EQ(CardException->SqlText, QStringLiteral("select * from Missing"));

    const QString path = AppDir() + "Log20260305.log";
    EXPECT_EQ(ErrorLogPath(QDate(2026, 3, 5)), path);
    const QByteArray log = ReadAll(path);
    EXPECT_EQ(QString::fromUtf8(log),
              QStringLiteral("2026-03-05 14:07:09：数据库查询错误，请检查！\r\n"
                             "详细信息：no such table: Missing\r\n"
                             "select * from Missing\r\n"));
    EXPECT_FALSE(log.startsWith("\xEF\xBB\xBF")); // no byte order mark
}

// Errors a user can meet are explained in Chinese; the headlines stay as they are.
TEST_F(ErrorTest, DiskFullAndReadOnlyAreExplainedAndAKeystrokeSaveShowsItsHeadline) {
    TNote note;
    RunHandler(nullptr, [&] { SaveNoteText(note, "0", "first"); });
    ASSERT_EQ(boxes_->Count(), 0);
    // The file may not grow by a page: the next long text finds the disk full.
    const int pages = GetIntValue("PRAGMA page_count");
    DbAccess->Connection.Exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages));
    RunHandler(nullptr, [&] { SaveNoteText(note, "0", QString(200000, QChar(0x5B57))); });
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->LastText(),
              QStringLiteral("数据库操作失败！\r\n详细信息：磁盘已满，数据无法写入"
                             "（database or disk is full）"));
    EXPECT_EQ(CardException->Message, QStringLiteral("database or disk is full"));
    EXPECT_TRUE(QString::fromUtf8(ReadAll(ErrorLogPath(QDate::currentDate())))
                    .contains("update NoteBook set ReMark=? where rowid=?"));

    DbAccess->Connection.Exec(QStringLiteral("PRAGMA query_only = 1"));
    RunHandler(nullptr, [] { ExecSql("delete from Alam"); });
    EXPECT_EQ(boxes_->LastText(),
              QStringLiteral("数据库操作失败！\r\n详细信息：文件是只读的，或没有写入的权限"
                             "（attempt to write a readonly database）"));
    // Anything else keeps the engine's text alone.
    EXPECT_EQ(ReadableDbError(1, "no such table: X"), QStringLiteral("no such table: X"));
}

TEST_F(ErrorTest, OneFilePerDayAndANewOneAfterMidnight) {
    TPinnedClock clock(At("2026-12-07 09:00:00"));
    WriteErrorLog("first");
    clock.Set(At("2026-12-07 23:59:59"));
    WriteErrorLog("second");
    clock.Set(At("2026-12-08 00:00:00"));
    WriteErrorLog("third");
    EXPECT_EQ(QString::fromUtf8(ReadAll(AppDir() + "Log20261207.log")),
              QStringLiteral("2026-12-07 09:00:00：first\r\n2026-12-07 23:59:59：second\r\n"));
    EXPECT_EQ(QString::fromUtf8(ReadAll(AppDir() + "Log20261208.log")),
              QStringLiteral("2026-12-08 00:00:00：third\r\n"));
}

TEST_F(ErrorTest, PlainErrorShowsItsMessageAloneAndLogsNothing) {
    RunHandler(nullptr, [] { throw EAppError(QStringLiteral("提醒内容不能为空！")); });
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->Boxes()[0].caption, QStringLiteral("错误"));
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("提醒内容不能为空！"));
    EXPECT_TRUE(QDir(AppDir()).entryList({"Log*"}).isEmpty());
}

TEST_F(ErrorTest, LogWriteFailureIsSilent) {
    SetAppDir(dir_->path() + "/missing/folder");
    EXPECT_NO_THROW(WriteErrorLog("lost"));
    EXPECT_EQ(boxes_->Count(), 0);
    SetAppDir(dir_->path());
}

// Exceptions that escape a real event handler reach the reporter at the handler's boundary;
// the rest of the handler does not run and the program goes on.
TEST_F(ErrorTest, ExceptionsEscapingEventHandlersAreReportedAndAbortsDropped) {
    QPushButton button;
    bool after = false;
    QObject::connect(&button, &QPushButton::clicked, Handler(&button, [&] {
        throw EAppError(QStringLiteral("必须选择周几提醒！"));
        after = true;
    }));
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_FALSE(after);
    ASSERT_EQ(boxes_->Count(), 1);
    EXPECT_EQ(boxes_->LastText(), QStringLiteral("必须选择周几提醒！"));

    QPushButton quiet;
    QObject::connect(&quiet, &QPushButton::clicked, Handler(&quiet, [] { Abort(); }));
    quiet.show();
    QTest::mouseClick(&quiet, Qt::LeftButton);
    EXPECT_EQ(boxes_->Count(), 1);

    // A timer's handler too.
    QTimer::singleShot(0, Handler(nullptr, [] { ExecSql("delete from Nowhere"); }));
    QTest::qWait(20);
    ASSERT_EQ(boxes_->Count(), 2);
    EXPECT_TRUE(boxes_->LastText().startsWith(QStringLiteral("数据库操作失败！")));
}

TEST_F(ErrorTest, FillListViewTakesCaptionAndSubItemsAsText) {
    QTreeWidget view;
    view.setColumnCount(3);
    ExecSql("insert into Alam(iHour,ReMark) values(5,'x')");
    ExecSql("insert into Alam(iHour,ReMark) values(NULL,NULL)");
    FillListView(&view, [] { return ReadRows("select ID,iHour,ReMark from Alam order by ID"); });
    ASSERT_EQ(view.topLevelItemCount(), 2);
    EXPECT_EQ(view.topLevelItem(0)->text(1), QStringLiteral("5"));
    EXPECT_EQ(view.topLevelItem(0)->text(2), QStringLiteral("x"));
    EXPECT_EQ(view.topLevelItem(1)->text(1), QString());
    EXPECT_EQ(view.columnCount(), 3);
    FillListView(&view, [] { return ReadRows("select ID from Alam where 1<> 1 "); });
    EXPECT_EQ(view.topLevelItemCount(), 0);
    EXPECT_EQ(view.columnCount(), 3);
    FillListView(&view, [] { return ReadRows("select ID from Alam"); });
    EXPECT_EQ(view.topLevelItem(0)->columnCount(), 1);
    // A failing query leaves the view empty.
    EXPECT_THROW(FillListView(&view, [] { return ReadRows("select * from Nope"); }), EDBException);
    EXPECT_EQ(view.topLevelItemCount(), 0);
}

// The real question box: No is the default, so Enter answers No; Yes must be chosen.
TEST(MessageBoxes, QuestionDefaultsToNoAndCaptionsAreFixed) {
    QString seenCaption;
    auto press = [&](Qt::Key key) {
        QTimer::singleShot(0, [&, key] {
            QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
            QWidget* box = QApplication::activeModalWidget();
            seenCaption = box->windowTitle();
            QTest::keyClick(box, key);
        });
    };
    press(Qt::Key_Return);
    EXPECT_FALSE(AskYesNo(QStringLiteral("确定要退出程序吗？")));
    EXPECT_EQ(seenCaption, QStringLiteral("确认"));
    QTimer::singleShot(0, [] {
        QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr);
        qobject_cast<QMessageBox*>(QApplication::activeModalWidget())
            ->button(QMessageBox::Yes)
            ->click();
    });
    EXPECT_TRUE(AskYesNo(QStringLiteral("确定要退出程序吗？")));
    press(Qt::Key_Return);
    ShowError(QStringLiteral("x"));
    EXPECT_EQ(seenCaption, QStringLiteral("错误"));
}

// Qt's own texts are Chinese, whatever the system's language.
TEST(MessageBoxes, StandardButtonsAndFileDialogsAreChinese) {
    QStringList buttons;
    auto readAndClose = [&] {
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()));
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            buttons.clear();
            for (QAbstractButton* b : box->buttons())
                buttons << b->text().remove('&');
            buttons.sort();
            QTest::keyClick(box, Qt::Key_Escape);
        });
    };
    readAndClose();
    AskYesNo(QStringLiteral("确定要退出程序吗？"));
    EXPECT_EQ(buttons, QStringList({"否(N)", "是(Y)"}));
    readAndClose();
    ShowError(QStringLiteral("x"));
    EXPECT_EQ(buttons, QStringList({"确定"}));

    QStringList titles;
    auto readDialog = [&] {
        QTimer::singleShot(0, [&] {
            QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            titles << dialog->windowTitle() << dialog->labelText(QFileDialog::Accept);
            dialog->reject();
        });
    };
    readDialog();
    EXPECT_EQ(AskSaveFileName(nullptr, QStringLiteral("数据文件 (*.bat)")), QString());
    readDialog();
    EXPECT_EQ(AskOpenFileName(nullptr, QStringLiteral("数据文件 (*.bat)")), QString());
    EXPECT_EQ(titles, QStringList({"另存为", "保存(&S)", "打开", "打开(&O)"}));
}

TEST(DisplayTexts, LongTimeHasNoTimeZoneName) {
    const QString text = LongTimeText(QTime(10, 15, 20));
    EXPECT_TRUE(text.contains(QStringLiteral("15:20"))) << text;
    EXPECT_FALSE(text.contains(QDateTime::currentDateTime().timeZoneAbbreviation())) << text;
    EXPECT_EQ(text, text.trimmed());
    EXPECT_EQ(ShortDateText(QDate(2026, 12, 7)),
              QLocale::system().toString(QDate(2026, 12, 7), QLocale::ShortFormat));
}
