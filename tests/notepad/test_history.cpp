// Earlier versions of the notes and the recycle bin: what a slip, a sync or a delete took
// comes back whole.
#include "NotepadTestSupport.h"

#include "common/UntPacked.h"
#include "notepad/NoteHistory.h"
#include "notepad/NotepadPage.h"
#include "notepad/UntMemoText.h"
#include "notepad/UntNoteBin.h"
#include "notepad/UntNoteHistory.h"
#include "notepad/UntTree.h"
#include "shell/Main.h"
#include "shell/RecycleBin.h"
#include "storage/UntDbAccess.h"
#include "storage/UntRecycleBin.h"
#include "storage/UntSchema.h"

#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextCursor>
#include <QTreeWidget>
#include <map>

namespace {

// CR LF, a no-break space and an emoji: what a byte-for-byte restore must keep.
const QString Awkward = QStringLiteral("第一行\r\n价格\u00a0100 元 \U0001F600\r\n\r\n末行");

TConnection& Conn() {
    return DbAccess->Connection;
}

QList<qint64> Ids(const QString& uid) {
    QList<qint64> ids;
    for (const NoteHistory::TVersion& v : NoteHistory::List(Conn(), uid))
        ids << v.ID;
    return ids;
}

class HistoryTest : public DbTest {};

} // namespace

TEST_F(HistoryTest, EveryVersionUnpacksExactlyInAnyOrderAndDamageIsNoticed) {
    const QString uid = QStringLiteral("g1");
    QStringList texts;
    QString text = Awkward.repeated(200);
    for (int i = 0; i < 6; ++i) {
        text.insert(i * 700, QStringLiteral("改动%1\r\n").arg(i));
        texts.prepend(text); // newest first, as listed
        EXPECT_TRUE(NoteHistory::Keep(Conn(), uid, text, At("2026-12-07 10:00:00").addSecs(i * 60),
                                      QDateTime()));
    }
    EXPECT_FALSE(NoteHistory::Keep(Conn(), uid, text, At("2026-12-07 11:00:00"), QDateTime()));
    const QList<qint64> ids = Ids(uid);
    ASSERT_EQ(ids.size(), texts.size());
    for (const int i : {3, 0, 5, 4, 1, 2}) {
        NoteHistory::TReader fresh(Conn(), uid); // from nothing held, each time
        EXPECT_EQ(fresh.Text(ids.at(i)), texts.at(i)) << i;
    }
    // Older versions hold little more than their changes.
    EXPECT_LT(GetIntValue("select sum(length(Data)) from NoteVersion where Base<>0"),
              GetIntValue("select length(Data) from NoteVersion where Base=0"));

    const QByteArray bytes = texts.at(1).toUtf8();
    EXPECT_FALSE(Unpack(PackAgainst(bytes, texts.at(0).toUtf8()), texts.at(2).toUtf8()));
    ExecSql(QStringLiteral("update NoteVersion set Data=X'00112233' where ID=%1").arg(ids.at(2)));
    NoteHistory::TReader reader(Conn(), uid);
    EXPECT_EQ(reader.Text(ids.at(1)), texts.at(1));
    EXPECT_THROW(reader.Text(ids.at(4)), EEngineError);
}

// A simulated month and more of versions, from 100 days ago to now, each day a burst of
// typing (one a minute, each text gone within a minute) that ends in a text that stood.
TEST_F(HistoryTest, ThinningKeepsWhatThePolicyPromises) {
    const QDateTime now = At("2026-12-07 18:00:00");
    InsertGroup(1, 0, QStringLiteral("工作"));
    const QString uid = StoredText("select Uid from NoteType where SelfIndex=1");
    struct TExpect {
        QString text;
        bool kept;
    };
    std::map<QDateTime, TExpect> made;
    QString text = QStringLiteral("开头\n").repeated(500);
    int n = 0;
    for (int day = 100; day >= 0; --day) {
        const QDateTime start = now.addDays(-day).addSecs(-8 * 3600);
        for (int minute = 0; minute < 4; ++minute) {
            const QDateTime taken = start.addSecs(minute * 60);
            text.insert((n * 37) % text.size(), QStringLiteral("第%1次").arg(n));
            ++n;
            NoteHistory::Keep(Conn(), uid, text, taken, taken.addSecs(-30));
            const qint64 age = taken.secsTo(now);
            const bool stood = minute == 3; // the next one comes a day later
            made[taken] = {text, age <= 86400 || (age <= 30 * 86400 && stood) ||
                                     (age <= 90 * 86400 && minute == 3)};
        }
    }
    NoteHistory::Thin(Conn(), now);
    NoteHistory::TReader reader(Conn(), uid);
    int kept = 0;
    for (const NoteHistory::TVersion& v : NoteHistory::List(Conn(), uid)) {
        ASSERT_TRUE(made.count(v.Taken)) << v.Taken.toString();
        EXPECT_TRUE(made[v.Taken].kept) << v.Taken.toString();
        EXPECT_EQ(reader.Text(v.ID), made[v.Taken].text) << v.Taken.toString();
        ++kept;
    }
    int promised = 0;
    for (const auto& [taken, expect] : made)
        promised += expect.kept ? 1 : 0;
    EXPECT_EQ(kept, promised);
    // Nothing older than 90 days, and versions of a group that is gone go too.
    EXPECT_EQ(CountRows("select count(*) from NoteVersion where Taken<'2026-09-08'"), 0);
    ExecSql("delete from NoteType");
    NoteHistory::Thin(Conn(), now);
    EXPECT_EQ(CountRows("select count(*) from NoteVersion"), 0);
}

TEST_F(HistoryTest, AGroupWithItsSubtreeGoesToTheBinAndComesBackWithEveryNote) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    InsertGroup(2, 1, QStringLiteral("项目"));
    InsertGroup(3, 2, QStringLiteral("会议"));
    InsertGroup(4, 0, QStringLiteral("别的"));
    InsertNote(2, Awkward);
    InsertNote(3, QStringLiteral("会议记录"));
    const QString uid2 = StoredText("select Uid from NoteType where SelfIndex=2");
    NoteHistory::Keep(Conn(), uid2, QStringLiteral("旧的"), At("2026-12-07 09:00:00"), QDateTime());
    DbAccess->Write([](TConnection& c) { PutGroupInBin(c, 2); });
    EXPECT_EQ(CountRows("select count(*) from NoteType"), 2);
    EXPECT_EQ(CountRows("select count(*) from NoteBook"), 0);
    ASSERT_EQ(RecycleBin::List(Conn()).size(), 1);
    EXPECT_EQ(RecycleBin::List(Conn()).first().Place, QStringLiteral("根目录->工作"));
    NoteHistory::Thin(Conn(), At("2026-12-07 10:00:00")); // its versions stay while it is binned

    // Its parent is gone meanwhile and its old index taken: it comes back under the root.
    ExecSql("delete from NoteType where SelfIndex=1");
    InsertGroup(2, 0, QStringLiteral("新的"));
    int top = 0;
    DbAccess->Write([&](TConnection& c) { top = RestoreGroup(c, RecycleBin::List(c).first().ID); });
    EXPECT_EQ(
        ReadRows(QStringLiteral("select t.TypeName, p.TypeName, b.ReMark from NoteType t left "
                                "join NoteType p on p.SelfIndex=t.ParentIndex left join "
                                "NoteBook b on b.TypeID=t.SelfIndex where t.SelfIndex>=%1 "
                                "order by t.SelfIndex")
                     .arg(top)),
        TRows({{"项目", "", Awkward}, {"会议", "项目", "会议记录"}}));
    EXPECT_EQ(StoredText(QStringLiteral("select Uid from NoteType where SelfIndex=%1").arg(top)),
              uid2);
    EXPECT_EQ(Ids(uid2).size(), 1);
    EXPECT_TRUE(RecycleBin::List(Conn()).isEmpty());
    EXPECT_EQ(CountRows("select count(*) from SyncPending where Coll=1 and Uid='" + uid2 + "'"), 1);
}

namespace {

class HistoryWindowTest : public MainWindowTest {
protected:
    QTreeWidget* Tree() const { return Child<QTreeWidget>(Main(), "tvNote"); }
    QPlainTextEdit* Memo() const { return Child<QPlainTextEdit>(Main(), "mmoNote"); }
};

} // namespace

// Select all and type: the text that stood comes back from 历史版本 byte for byte, and what
// the restore replaced is a version in its turn.
TEST_F(HistoryWindowTest, ASelectAllSlipIsUndoneFromTheHistory) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    InsertNote(1, Awkward);
    Restart();
    Child<QTabWidget>(Main(), "pgc1")->setCurrentIndex(1);
    Tree()->setCurrentItem(NodeOf(Tree(), 1));
    ASSERT_EQ(ExactPlainText(Memo()), Awkward);
    Memo()->setFocus();
    QTest::keyClick(Memo(), Qt::Key_A, Qt::ControlModifier);
    TypeText(Memo(), QStringLiteral("糟"));
    ASSERT_EQ(StoredNote(1), QStringLiteral("糟"));

    bool listed = false;
    WhenModal<TFormNoteHistory>([&](TFormNoteHistory* form) {
        auto* list = Child<QTreeWidget>(form, "lvVersions");
        listed = list->topLevelItemCount() == 2;
        list->setCurrentItem(list->topLevelItem(1)); // the text before the slip
        EXPECT_TRUE(Child<QLabel>(form, "lblDiff")->text().contains(QStringLiteral("4 行")));
        UserClick(Child<QPushButton>(form, "btnRestore"));
    });
    QTest::keyClick(Memo(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(listed);
    EXPECT_EQ(StoredNote(1), Awkward);
    EXPECT_EQ(ExactPlainText(Memo()), Awkward);
    const QString uid = StoredText("select Uid from NoteType where SelfIndex=1");
    NoteHistory::TReader reader(Conn(), uid);
    EXPECT_EQ(reader.Text(Ids(uid).first()), QStringLiteral("糟"));

    // Typed a moment ago and never kept yet: a second slip keeps it all the same.
    Memo()->moveCursor(QTextCursor::End);
    TypeText(Memo(), QStringLiteral("再加一句"));
    QTest::keyClick(Memo(), Qt::Key_A, Qt::ControlModifier);
    TypeText(Memo(), QStringLiteral("又"));
    NoteHistory::TReader again(Conn(), uid);
    EXPECT_EQ(again.Text(Ids(uid).first()), Awkward + QStringLiteral("再加一句"));
}

// Deleting from the tree's menu puts the group in the bin; the bin's 恢复 brings it back into
// the tree with its note, and 清空回收站 asks before it empties.
TEST_F(HistoryWindowTest, ADeletedGroupComesBackFromTheRecycleBin) {
    InsertGroup(1, 0, QStringLiteral("工作"));
    InsertNote(1, Awkward);
    Restart();
    Tree()->setCurrentItem(NodeOf(Tree(), 1));
    boxes_->AnswerYes();
    RunHandler(nullptr, [&] {
        Child<QMenu>(Main(), "pmNoteType")
            ->findChild<QAction*>(QStringLiteral("NDelNoteType"))
            ->trigger();
    });
    ASSERT_EQ(CountRows("select count(*) from NoteType where TypeName='工作'"), 0);
    auto open = [&] {
        RunHandler(nullptr, [&] {
            Child<QMenu>(Main(), "pmSystem")
                ->findChild<QAction*>(QStringLiteral("NRecycleBin"))
                ->trigger();
        });
    };
    WhenModal<TFormRecycleBin>([&](TFormRecycleBin* form) {
        auto* list = Child<QTreeWidget>(form, "lvBin");
        ASSERT_EQ(list->topLevelItemCount(), 1);
        EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("工作"));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        EXPECT_TRUE(list->topLevelItem(0)->isSelected()); // the newest, ready for 恢复
        UserClick(Child<QPushButton>(form, "btnRestore"));
        EXPECT_EQ(list->topLevelItemCount(), 0);
    });
    open();
    const int index = GetIntValue("select SelfIndex from NoteType where TypeName='工作'");
    ASSERT_GT(index, 0);
    EXPECT_EQ(StoredNote(index), Awkward);
    EXPECT_EQ(NotepadPageOf(Main())->NoteTree()->SelectedIndex(), index);
    EXPECT_EQ(ExactPlainText(Memo()), Awkward);

    DbAccess->Write([&](TConnection& c) { PutGroupInBin(c, index); });
    boxes_->ShowRealBoxes();
    WhenModal<TFormRecycleBin>([&](TFormRecycleBin* form) {
        QTimer::singleShot(0, [] {
            QPointer<QMessageBox> box = WaitForRealBox(
                QStringLiteral("确定要清空回收站吗？其中的提醒和分组都将不能恢复。"));
            ASSERT_TRUE(box);
            UserClick(box->button(QMessageBox::Yes));
        });
        UserClick(Child<QPushButton>(form, "btnEmpty"));
        EXPECT_EQ(Child<QTreeWidget>(form, "lvBin")->topLevelItemCount(), 0);
    });
    open();
    boxes_->ShowRealBoxes(false);
    EXPECT_EQ(CountRows("select count(*) from RecycleBin"), 0);
}
