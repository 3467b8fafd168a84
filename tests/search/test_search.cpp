// The search across every note, group name and reminder, and its window.
#include "TestSupport.h"

#include "notepad/NotepadPage.h"
#include "notepad/UntTree.h"
#include "reminders/RemindersPage.h"
#include "search/SearchAll.h"
#include "search/UntSearch.h"
#include "shell/Main.h"
#include "storage/UntSqlText.h"
#include "storage/UntTextMatch.h"
#include <QPushButton>
#include <QTabWidget>

#include <QButtonGroup>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>
#include <QTreeWidget>

namespace {

void Insert(const QString& pattern, std::initializer_list<QString> values) {
    DbAccess->Connection.Exec(FormatSql(pattern, values));
}
void InsertGroup(int self, int parent, const QString& name) {
    Insert(
        QStringLiteral("insert into NoteType(SelfIndex,ParentIndex,TypeName) values(%s,%s,'%s')"),
        {SqlNum(self), SqlNum(parent), name});
}
void InsertNote(int typeId, const QString& text) {
    Insert(QStringLiteral("insert into NoteBook(TypeID,ReMark) values(%s,'%s')"),
           {SqlNum(typeId), text});
}
int InsertReminder(const QString& text) {
    Insert(QStringLiteral("insert into Alam(iHour,iMinute,iMonWeek,ReDay,AlamDate,ReMark) "
                          "values(9,30,1,1,'2026-12-07','%s')"),
           {text});
    return GetIntValue(QStringLiteral("select max(ID) from Alam"));
}

struct Found {
    int total = 0;
    QList<TSearchHit> hits;
};
Found Search(const QString& query, bool caseSensitive = false) {
    Found found;
    const TSearchOutcome outcome = SearchAll(DbAccess->Reader, query, caseSensitive,
                                             [&](QList<TSearchHit>&& hits) { found.hits += hits; });
    EXPECT_TRUE(outcome.Completed);
    found.total = outcome.Total;
    EXPECT_EQ(found.hits.size(), std::min(found.total, SearchHitLimit));
    return found;
}

// The groups 工作 > 项目A, a group named with wildcard characters, notes and reminders.
class SearchTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (HasFatalFailure())
            return;
        InsertGroup(1, 0, QStringLiteral("工作"));
        InsertGroup(2, 1, QStringLiteral("项目A"));
        InsertGroup(3, 0, QStringLiteral("100%_done"));
        InsertNote(0, QStringLiteral("根目录的笔记：电话 13800138000"));
        InsertNote(2, ProjectNote);
        InsertNote(3, QStringLiteral("abXYcd"));
        reminder_ = InsertReminder(QStringLiteral("给客户打电话 'now'"));
    }
    const QString ProjectNote = QStringLiteral("第一行\n打折 50%_off，引号 'it''s' a@#@b c\\d 😀 "
                                               "电话\r\nHello WORLD ΣΑΣ\n末行 hello");
    int reminder_ = 0;
};

TEST_F(SearchTest, FindsNotesGroupNamesAndReminderTexts) {
    const Found phone = Search(QStringLiteral("电话"));
    ASSERT_EQ(phone.total, 3);
    EXPECT_EQ(phone.hits[0].kind, TSearchHit::Note);
    EXPECT_EQ(phone.hits[0].Where, QStringLiteral("根目录"));
    EXPECT_EQ(phone.hits[1].Where, QStringLiteral("根目录->工作->项目A"));
    EXPECT_EQ(ProjectNote.mid(phone.hits[1].Position, phone.hits[1].Length),
              QStringLiteral("电话"));
    // The line around the match, and where in it the match is.
    const TSearchHit& line = phone.hits[1];
    EXPECT_TRUE(line.Line.startsWith(QStringLiteral("打折 50%_off")));
    EXPECT_EQ(line.Line.mid(line.LineStart, line.LineLength), QStringLiteral("电话"));
    EXPECT_FALSE(line.Line.contains(QStringLiteral("Hello")));
    EXPECT_EQ(phone.hits[2].kind, TSearchHit::Reminder);
    EXPECT_EQ(phone.hits[2].Id, reminder_);
    EXPECT_EQ(phone.hits[2].Where, QStringLiteral("提醒 9时 30分"));

    const Found group = Search(QStringLiteral("项目a"));
    ASSERT_EQ(group.total, 1);
    EXPECT_EQ(group.hits[0].kind, TSearchHit::Group);
    EXPECT_EQ(group.hits[0].Id, 2);
}

TEST_F(SearchTest, QueryCharactersAreLiteral) {
    // %, _ and \ are no wildcards or escapes, quotes and the batch separator change nothing.
    const Found wild = Search(QStringLiteral("%_"));
    ASSERT_EQ(wild.total, 2);
    EXPECT_EQ(wild.hits[0].kind, TSearchHit::Group);
    EXPECT_EQ(wild.hits[1].Id, 2);
    EXPECT_EQ(Search(QStringLiteral("_")).total, 2);
    EXPECT_EQ(Search(QStringLiteral("X_")).total, 0);
    for (const QString& query :
         {QStringLiteral("'it''s'"), QStringLiteral("a@#@b"), QStringLiteral("c\\d"),
          QStringLiteral("😀"), QStringLiteral("'now'")}) {
        const Found found = Search(query);
        ASSERT_EQ(found.total, 1) << query;
        if (found.hits[0].kind == TSearchHit::Note) {
            EXPECT_EQ(ProjectNote.mid(found.hits[0].Position, found.hits[0].Length), query);
        }
    }
    EXPECT_EQ(GetIntValue(QStringLiteral("select count(*) from NoteBook")), 3);
}

TEST_F(SearchTest, CaseFoldsUnlessAskedAndLinesStaySeparate) {
    EXPECT_EQ(Search(QStringLiteral("hello")).total, 2);
    EXPECT_EQ(Search(QStringLiteral("HELLO")).total, 2);
    EXPECT_EQ(Search(QStringLiteral("world")).total, 1);
    EXPECT_EQ(Search(QStringLiteral("σας")).total, 1); // beyond ASCII: Unicode folding
    EXPECT_EQ(Search(QStringLiteral("hello"), true).total, 1);
    EXPECT_EQ(Search(QStringLiteral("Hello"), true).total, 1);
    EXPECT_EQ(Search(QStringLiteral("σας"), true).total, 0);

    // Only a query holding a line break matches across one; CR LF is one line break.
    EXPECT_EQ(Search(QStringLiteral("电话Hello")).total, 0);
    const Found across = Search(QStringLiteral("电话\nhello"));
    ASSERT_EQ(across.total, 1);
    EXPECT_EQ(ProjectNote.mid(across.hits[0].Position, across.hits[0].Length),
              QStringLiteral("电话\r\nHello"));
    EXPECT_TRUE(across.hits[0].Line.contains(QStringLiteral("电话↵Hello")));
}

TEST_F(SearchTest, ListsTheFirstThousandAndCountsAll) {
    InsertNote(1, QStringLiteral("zq ").repeated(1200));
    const Found many = Search(QStringLiteral("ZQ"));
    EXPECT_EQ(many.total, 1200);
    EXPECT_EQ(many.hits.size(), SearchHitLimit);
    EXPECT_EQ(many.hits.back().Ordinal, SearchHitLimit - 1);
    EXPECT_EQ(many.hits.back().Position, 3 * (SearchHitLimit - 1));
}

TEST_F(SearchTest, ReadsTheRestoredDataAfterARestore) {
    const QString copy = dir_->filePath(QStringLiteral("copy.bat"));
    BackupData(copy);
    InsertNote(1, QStringLiteral("新内容XYZ"));
    EXPECT_EQ(Search(QStringLiteral("xyz")).total, 1);
    RestoreData(copy);
    EXPECT_EQ(Search(QStringLiteral("xyz")).total, 0);
    InsertNote(1, QStringLiteral("又一个XYZ"));
    EXPECT_EQ(Search(QStringLiteral("xyz")).total, 1);
}

// The matcher's quick paths against the plain definition: fold every character (CR LF and
// every other line break being one unit) and compare unit by unit.
TEST(TextMatcherTest, AgreesWithCharacterByCharacterComparison) {
    struct Unit {
        QString folded;
        qsizetype begin, end; // bytes
    };
    auto units = [](const QString& text, bool caseSensitive) {
        QList<Unit> out;
        qsizetype byte = 0;
        for (qsizetype i = 0; i < text.size();) {
            const int n = text.at(i).isHighSurrogate() ? 2 : 1;
            QString c = text.mid(i, n);
            if (c == QStringLiteral("\r") && text.mid(i + 1, 1) == QStringLiteral("\n"))
                c += QLatin1Char('\n');
            const qsizetype bytes = c.toUtf8().size();
            const bool lineBreak = QStringLiteral("\r\n\u2028\u2029").contains(c.back());
            out.append({lineBreak       ? QStringLiteral("LB")
                        : caseSensitive ? c
                                        : c.toCaseFolded(),
                        byte, byte + bytes});
            byte += bytes;
            i += c.size();
        }
        return out;
    };
    const QStringList alphabet = {"z",  "Z",      "e", "p", "h",      "y", "r",  "k",
                                  "K",  "\u212A", "s", "S", "\u017F", " ", "\r", "\n",
                                  "中", "é",      "É", "1", "@",      "`"};
    QRandomGenerator random(7);
    auto pick = [&](int length) {
        QString t;
        for (int i = 0; i < length; ++i)
            t += alphabet[random.bounded(int(alphabet.size()))];
        return t;
    };
    int found = 0;
    for (int round = 0; round < 3000; ++round) {
        const QString text = pick(random.bounded(1, 60));
        const QString query = random.bounded(2) ? pick(random.bounded(1, 6))
                                                : text.mid(random.bounded(int(text.size())), 4);
        for (const bool caseSensitive : {false, true}) {
            const TTextMatcher matcher(query, caseSensitive);
            const QList<Unit> t = units(text, caseSensitive);
            const QList<Unit> q = units(query, caseSensitive);
            const QByteArray utf8 = text.toUtf8();
            // Searches go on from where a match ended: always the start of a unit.
            for (qsizetype u = 0; u < t.size(); u += 3) {
                const qsizetype from = t[u].begin;
                TTextMatcher::Span expected;
                for (qsizetype s = 0; s + q.size() <= t.size() && !expected.Found(); ++s) {
                    qsizetype k = 0;
                    while (k < q.size() && t[s + k].folded == q[k].folded)
                        ++k;
                    if (k == q.size() && t[s].begin >= from)
                        expected = {t[s].begin, t[s + k - 1].end};
                }
                const TTextMatcher::Span span = matcher.Find(utf8, from);
                ASSERT_EQ(span.begin, expected.begin)
                    << query.toUtf8().toHex().constData() << " in "
                    << text.toUtf8().toHex().constData() << " " << from << caseSensitive;
                ASSERT_EQ(span.end, expected.end) << query << " in " << text;
                found += span.Found();
            }
        }
    }
    EXPECT_GT(found, 1000); // the cases are not all misses
}

class SearchWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        InsertGroup(1, 0, QStringLiteral("工作"));
        InsertGroup(2, 1, QStringLiteral("项目A"));
        InsertNote(2, Note);
        reminder_ = InsertReminder(QStringLiteral("项目A 周会"));
        Restart(); // the tree and list as at the next start
    }
    TFormSearchAll* Form() const { return Main()->findChild<TFormSearchAll*>(); }
    void Find(const QString& query) {
        Form()->edtQuery()->setText(query);
        ASSERT_TRUE(WaitFor([&] { return Form()->Idle(); }, 5000));
    }
    void Activate(int row) {
        QTreeWidgetItem* item = Form()->lvResult()->topLevelItem(row);
        ASSERT_TRUE(item);
        Q_EMIT Form()->lvResult()->itemActivated(item, 1);
    }
    const QString Note = QStringLiteral("开头\n第二行 项目a 和 ") +
                         QStringLiteral("填充\n").repeated(200) + QStringLiteral("最后的 项目A");
    int reminder_ = 0;
};

TEST_F(SearchWindowTest, OpensFromShortcutButtonAndMenuAndClosesOnEsc) {
    QTest::keyClick(Main(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(Form());
    EXPECT_TRUE(Form()->isVisible());
    EXPECT_EQ(Form()->windowTitle(), QStringLiteral("全部查找"));
    EXPECT_FALSE(Form()->chkCase()->isChecked());
    QTest::keyClick(Form()->edtQuery(), Qt::Key_Escape);
    EXPECT_FALSE(Form()->isVisible());
    Child<QPushButton>(Main(), "btnFindAll")->click();
    EXPECT_TRUE(Form()->isVisible());
    Form()->close();
    const QList<QAction*> items = Child<QMenu>(Main(), "pmNoteType")->actions();
    ASSERT_FALSE(items.isEmpty());
    EXPECT_EQ(items.back()->text(), QStringLiteral("全部查找"));
    items.back()->trigger();
    EXPECT_TRUE(Form()->isVisible());
}

TEST_F(SearchWindowTest, ActivatingAResultShowsExactlyItsMatch) {
    Child<QPushButton>(Main(), "btnFindAll")->click();
    Child<QRadioButton>(Main(), "rgAlam4")->setChecked(true); // "每天": another filter than all
    Child<QTabWidget>(Main(), "pgc1")->setCurrentIndex(0);
    Find(QStringLiteral("项目A"));
    // Group name, two places in the note, the reminder.
    ASSERT_EQ(Form()->Hits().size(), 4u);
    EXPECT_EQ(Form()->lblCount()->text(), QStringLiteral("共4处"));

    Main()->hide(); // in the tray: choosing a result brings it back, in front
    Activate(2);    // the second place in the note, far below the first screen
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_TRUE(WaitFor([&] { return QApplication::activeWindow() == Main(); }, 2000));
    EXPECT_EQ(Child<QTabWidget>(Main(), "pgc1")->currentWidget(), NotepadPageOf(Main()));
    EXPECT_EQ(TCardTree::RecordOf(Child<QTreeWidget>(Main(), "tvNote")->currentItem())->SelfIndex,
              2);
    const QTextCursor cursor = Child<QPlainTextEdit>(Main(), "mmoNote")->textCursor();
    EXPECT_EQ(cursor.selectionStart(), Note.lastIndexOf(QStringLiteral("项目A")));
    EXPECT_EQ(cursor.selectedText(), QStringLiteral("项目A"));
    EXPECT_TRUE(Child<QPlainTextEdit>(Main(), "mmoNote")
                    ->viewport()
                    ->rect()
                    .contains(Child<QPlainTextEdit>(Main(), "mmoNote")->cursorRect()));
    EXPECT_TRUE(Form()->isVisible());

    Activate(3);
    EXPECT_EQ(Child<QTabWidget>(Main(), "pgc1")->currentWidget(), RemindersPageOf(Main()));
    EXPECT_TRUE(Child<QRadioButton>(Main(), "rgAlam0")->isChecked());
    ASSERT_TRUE(Child<QTreeWidget>(Main(), "lv1")->currentItem());
    EXPECT_EQ(Child<QTreeWidget>(Main(), "lv1")->currentItem()->text(0),
              QString::number(reminder_));

    Form()->chkCase()->setChecked(true); // searches again at once
    ASSERT_TRUE(WaitFor([&] { return Form()->Idle(); }, 5000));
    EXPECT_EQ(Form()->Hits().size(), 3u);
}

TEST_F(SearchWindowTest, ATypedQueryDoesNotWaitForAnEarlierSlowOne) {
    for (int i = 3; i < 300; ++i)
        InsertGroup(i, 0, QStringLiteral("分组%1").arg(i));
    Child<QPushButton>(Main(), "btnFindAll")->click();
    TSearchRunner& runner = Form()->Runner();
    const quint64 slow = runner.Generation() + 1;
    // The first search takes 10 ms per row: some three seconds for the group rows alone.
    runner.EachRow = [slow](quint64 generation) {
        if (generation == slow)
            QThread::msleep(10);
    };
    Form()->edtQuery()->setText(QStringLiteral("分组"));
    Form()->SearchNow();
    ASSERT_EQ(runner.Generation(), slow);
    QTest::qWait(100);
    QElapsedTimer timer;
    timer.start();
    Find(QStringLiteral("周会"));
    EXPECT_LT(timer.elapsed(), 1500);
    ASSERT_EQ(Form()->Hits().size(), 1u);
    EXPECT_EQ(Form()->Hits()[0].kind, TSearchHit::Reminder);
    EXPECT_EQ(Form()->lblCount()->text(), QStringLiteral("共1处"));
    QTest::qWait(100); // nothing of the older search turns up later
    EXPECT_EQ(Form()->lvResult()->topLevelItemCount(), 1);
}

// Where row's highlight starts, in the view's own pixels; -1 when it shows none.
int HighlightLeft(QTreeWidget* view, int row) {
    const QRect cell = view->visualRect(view->model()->index(row, 1));
    const QImage shot = view->viewport()->grab(cell).toImage();
    for (int x = 0; x < shot.width(); ++x)
        for (int y = 0; y < shot.height(); ++y)
            if (shot.pixelColor(x, y) == QColor(255, 230, 0))
                return x;
    return -1;
}

TEST_F(SearchWindowTest, EachRowHighlightsItsOwnMatchAndANewListItsNewOne) {
    InsertNote(1, QStringLiteral("ab 中文 AB"));
    Child<QPushButton>(Main(), "btnFindAll")->click();
    Find(QStringLiteral("ab"));
    ASSERT_EQ(Form()->Hits().size(), 2u); // one line, two places
    const int first = HighlightLeft(Form()->lvResult(), 0);
    const int second = HighlightLeft(Form()->lvResult(), 1);
    ASSERT_GE(first, 0);
    ASSERT_GT(second, first);

    // The same line, now with the match of the second row in the first.
    Form()->chkCase()->setChecked(true);
    Find(QStringLiteral("AB"));
    ASSERT_EQ(Form()->Hits().size(), 1u);
    EXPECT_EQ(HighlightLeft(Form()->lvResult(), 0), second);
}

} // namespace

// A place deep in the tree is shown whole, as far as half the list allows.
TEST_F(SearchWindowTest, ThePlaceColumnFitsALongPlace) {
    InsertGroup(3, 2, QStringLiteral("很长的分组名称").repeated(4));
    InsertNote(3, QStringLiteral("独一无二"));
    Child<QPushButton>(Main(), "btnFindAll")->click();
    Find(QStringLiteral("独一无二"));
    QTreeWidget* list = Form()->lvResult();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    const int place = list->fontMetrics().horizontalAdvance(list->topLevelItem(0)->text(0));
    ASSERT_GT(place, 200);
    EXPECT_GE(list->columnWidth(0), std::min(place, list->viewport()->width() / 2));
}

// Beside the main window where the screen has room; where it has none, on the side that
// covers least of it, overlapping only what it must.
TEST(SearchPlacement, BesideTheMainWindowOrOverAsLittleOfItAsTheScreenAllows) {
    const QRect screen(0, 0, 1280, 800);
    const QSize own(400, 500);
    EXPECT_EQ(TFormSearchAll::PlaceBeside(QRect(100, 50, 600, 600), own, screen), QPoint(700, 50));
    EXPECT_EQ(TFormSearchAll::PlaceBeside(QRect(600, 50, 600, 600), own, screen), QPoint(200, 50));
    // 300 pixels on the left, 80 on the right: 100 of it is covered on the left.
    EXPECT_EQ(TFormSearchAll::PlaceBeside(QRect(300, 50, 900, 600), own, screen), QPoint(0, 50));
    // As wide as the screen and low: below it.
    EXPECT_EQ(TFormSearchAll::PlaceBeside(QRect(0, 0, 1280, 250), own, screen), QPoint(0, 250));
}
