// The note store's statements and the save that follows each change of the memo.
#include "NotepadTestSupport.h"

#include "notepad/UntNote.h"
#include "storage/UException.h"
#include "storage/UntCompactDatabase.h"

#include <QFile>

class NoteStoreTest : public DbTest {
protected:
    TNote note_;
};

TEST_F(NoteStoreTest, EachOperationBuildsItsStatement) {
    EXPECT_FALSE(note_.Exists(QStringLiteral("3")));
    EXPECT_EQ(note_.SqlText, QStringLiteral("select count(TypeID) from NoteBook where TypeID= 3 "));

    note_.TypeID = 3;
    note_.ReMark = QStringLiteral("第一行\n'引号' @#@ 结束");
    note_.SqlText = QStringLiteral("kept");
    note_.Add();
    EXPECT_EQ(note_.SqlText, QStringLiteral("kept")); // Add writes through the cursor only
    EXPECT_TRUE(note_.Exists(QStringLiteral("3")));

    note_ = TNote();
    note_.Load(QStringLiteral("3"));
    EXPECT_EQ(note_.SqlText, QStringLiteral("select * from NoteBook where TypeID=3 "));
    EXPECT_EQ(note_.TypeID, 3);
    EXPECT_EQ(note_.ReMark, QStringLiteral("第一行\n'引号' @#@ 结束"));

    note_.ReMark = QStringLiteral("改过");
    note_.Update();
    EXPECT_EQ(note_.SqlText, QStringLiteral("select * from NoteBook where TypeId=3"));
    EXPECT_EQ(StoredNote(3), QStringLiteral("改过"));
    EXPECT_EQ(CountRows(QStringLiteral("select count(*) from NoteBook")), 1);

    note_.Delete(QStringLiteral("3"));
    EXPECT_EQ(note_.SqlText, QStringLiteral("delete from NoteBook where TypeID=3"));
    EXPECT_FALSE(HasNote(3));

    // A group without a row, or with a null text, reads as empty.
    note_.Load(QStringLiteral("4"));
    EXPECT_EQ(note_.TypeID, 4);
    EXPECT_TRUE(note_.ReMark.isEmpty());
    DbAccess->Connection.Exec(QStringLiteral("insert into NoteBook(TypeID) values (5)"));
    note_.ReMark = QStringLiteral("x");
    note_.Load(QStringLiteral("5"));
    EXPECT_TRUE(note_.ReMark.isEmpty());
}

TEST_F(NoteStoreTest, SavingWritesOnlyWhatChanged) {
    EXPECT_FALSE(SaveNoteText(note_, QStringLiteral("0"), QStringLiteral(" \n\t")));
    EXPECT_FALSE(HasNote(0));
    EXPECT_TRUE(SaveNoteText(note_, QStringLiteral("0"), QStringLiteral(" a")));
    EXPECT_EQ(StoredNote(0), QStringLiteral(" a"));
    EXPECT_FALSE(SaveNoteText(note_, QStringLiteral("0"), QStringLiteral(" a")));
    EXPECT_TRUE(SaveNoteText(note_, QStringLiteral("0"), QStringLiteral(" A")));
    EXPECT_TRUE(SaveNoteText(note_, QStringLiteral("0"), QString()));
    EXPECT_TRUE(HasNote(0));
    EXPECT_EQ(StoredNote(0), QString());
    EXPECT_EQ(CountRows(QStringLiteral("select count(*) from NoteBook")), 1);
}

TEST_F(NoteStoreTest, FailedWritesRaiseAndLeaveTheRowAlone) {
    InsertNote(1, QStringLiteral("原文"));
    DbAccess->Connection.Exec(QStringLiteral(
        "create trigger refuse before update on NoteBook begin select raise(abort, 'no'); end"));
    EXPECT_ANY_THROW(SaveNoteText(note_, QStringLiteral("1"), QStringLiteral("新文")));
    EXPECT_EQ(StoredNote(1), QStringLiteral("原文"));
    DbAccess->Connection.Exec(QStringLiteral("drop table NoteBook"));
    EXPECT_THROW(note_.Exists(QStringLiteral("1")), EDBException);
}

TEST_F(NoteStoreTest, BackupAndCompactionCarryTheLatestKeystroke) {
    QString text;
    for (int i = 0; i < 300; ++i) {
        text += QStringLiteral("第%1行 of a long note\n").arg(i);
        SaveNoteText(note_, QStringLiteral("0"), text);
    }
    // The copy is taken while the connection is open, with the log not yet written back.
    const QString copy = dir_->path() + QStringLiteral("/backup.bat");
    BackupData(copy);
    ASSERT_FALSE(QFile::exists(copy + QStringLiteral("-wal")));
    {
        TConnection alone;
        alone.Open(copy, DatabaseKey);
        TCursor cursor;
        cursor.Open(alone, QStringLiteral("select ReMark from NoteBook where TypeID=0"));
        ASSERT_FALSE(cursor.Eof());
        EXPECT_EQ(cursor.AsString(0), text);
        cursor.Open(alone, QStringLiteral("PRAGMA integrity_check"));
        EXPECT_EQ(cursor.AsString(0), QStringLiteral("ok"));
    }

    SaveNoteText(note_, QStringLiteral("0"), text + QStringLiteral("!"));
    DbAccess->Disconnect();
    EXPECT_TRUE(CompactDatabase(DataPath(), DatabaseKey));
    DbAccess->Connect();
    EXPECT_EQ(StoredNote(0), text + QStringLiteral("!"));
}
