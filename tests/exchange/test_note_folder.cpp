#include "TestSupport.h"

#include "notepad/UntNote.h"
#include "notepad/UntNoteFolder.h"
#include "notepad/UntTree.h"
#include "storage/UException.h"
#include "storage/UntSqlText.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

namespace {

class NoteFolderTest : public DbTest {
protected:
    int Group(int parent, const QString& name) {
        const int self = GetIntValue(QStringLiteral("select max(SelfIndex) from NoteType")) + 1;
        ExecSql(TCardTree::AddGroupStatement(QStringLiteral("NoteType"), self, parent, name));
        return self;
    }
    void Note(int group, const QString& text) { ExecSql(TNote::AddStatement(group, text)); }

    // The tree as nested text: each group's name, note (or "-" without one) and children, in
    // the order the tree shows them; indexes left out.
    QString Tree(int self = 0, int depth = 0) {
        TNote note;
        QString out = QString(depth, u' ');
        if (note.Exists(QString::number(self))) {
            note.Load(QString::number(self));
            out += QStringLiteral("[") + note.ReMark + QStringLiteral("]");
        } else {
            out += u'-';
        }
        out += u'\n';
        DbAccess->OpenQuery(FormatSql(QStringLiteral("select SelfIndex,TypeName from NoteType "
                                                     "where ParentIndex=%s order by SelfIndex"),
                                      {SqlNum(self)}));
        QList<QPair<int, QString>> children;
        for (TCursor& c = DbAccess->MainCursor; !c.Eof(); c.Next())
            children << qMakePair(static_cast<int>(c.AsInteger(0)), c.AsString(1));
        for (const auto& [index, name] : children)
            out += QString(depth + 2, u' ') + name + u'\n' + Tree(index, depth + 2);
        return out;
    }

    void Empty() { ExecSql(QStringLiteral("delete from NoteType@#@delete from NoteBook")); }

    QString Out(const QString& name = QStringLiteral("export")) const {
        return dir_->filePath(name);
    }
};

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

// Whatever the platform's line break, the texts come back byte for byte.
TEST_F(NoteFolderTest, RoundTripIntoAnEmptyDataFileKeepsTreeAndTexts) {
    const QString tricky =
        QStringLiteral("引号 'a' \"b\" @#@ 😀\r\nCR LF\nLF\rCR\r\r\n\n结尾 \u00a0\u2028");
    auto build = [&] {
        Note(0, QStringLiteral("根的笔记\r\n"));
        const int work = Group(0, QStringLiteral("工作"));
        Note(work, tricky);
        const int plans = Group(work, QStringLiteral("计划"));
        Note(plans, QString());
        Group(plans, QStringLiteral("空组"));
        Group(0, QStringLiteral("工作")); // same name, no note
        Note(Group(0, QStringLiteral("生活")), QStringLiteral("买菜"));
    };
    // Whatever the platform's line break, the texts come back byte for byte.
    for (const QString& lineBreak : {QStringLiteral("\n"), QStringLiteral("\r\n")}) {
        SCOPED_TRACE(lineBreak.size());
        Empty();
        build();
        const QString before = Tree();
        const QString out = Out(QStringLiteral("export%1").arg(lineBreak.size()));
        const TNoteFolderResult exported = ExportNotes(out, lineBreak);
        EXPECT_EQ(exported.Groups, 5);
        EXPECT_EQ(exported.Notes, 4);
        EXPECT_EQ(ReadAll(out + QStringLiteral("/根目录.txt")), lineBreak.size() == 2
                                                                    ? QByteArray("根的笔记\r\r\n")
                                                                    : QByteArray("根的笔记\r\n"));
        EXPECT_EQ(ReadAll(out + QStringLiteral("/工作/计划/计划.txt")), QByteArray());

        Empty();
        const TNoteFolderResult imported = ImportNotes(out, 0);
        EXPECT_EQ(imported.Text, QStringLiteral("导入了5个分组、4篇笔记。"));
        EXPECT_EQ(Tree(), before);
    }
}

TEST_F(NoteFolderTest, UnsafeAndDuplicateNamesBecomeDistinctPortableFiles) {
    EXPECT_EQ(SafeFileName(QStringLiteral("a<b>c:d\"e/f\\g|h?i*j\tk")),
              QStringLiteral("a_b_c_d_e_f_g_h_i_j_k"));
    EXPECT_EQ(SafeFileName(QStringLiteral("结尾. ")), QStringLiteral("结尾__"));
    EXPECT_EQ(SafeFileName(QStringLiteral("..")), QStringLiteral("__"));
    EXPECT_EQ(SafeFileName(QString()), QStringLiteral("未命名"));
    EXPECT_EQ(SafeFileName(QStringLiteral("con.txt")), QStringLiteral("_con.txt"));
    EXPECT_EQ(SafeFileName(QStringLiteral("COM1")), QStringLiteral("_COM1"));
    EXPECT_EQ(SafeFileName(QString(70, QChar(0x4E2D))).size(), 60);
    EXPECT_EQ(SafeFileName(QString(59, u'a') + QStringLiteral("😀x")).size(), 59);

    const QStringList names = {QStringLiteral("a/b"), QStringLiteral("a_b"), QStringLiteral("A_B"),
                               QStringLiteral("quillet-notes.json"), QStringLiteral("根目录.txt")};
    Note(0, QStringLiteral("根"));
    for (const QString& name : names)
        Note(Group(0, name), name);
    const QString before = Tree();
    ExportNotes(Out());
    QStringList entries = QDir(Out()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    entries.sort();
    // Files and folders share one set of names, compared as case-blind file systems do.
    EXPECT_EQ(entries, QStringList({"A_B (3)", "a_b", "a_b (2)", "quillet-notes.json",
                                    "quillet-notes.json (2)", "根目录.txt", "根目录.txt (2)"}));
    EXPECT_TRUE(QFile::exists(Out() + QStringLiteral("/a_b (2)/a_b.txt")));
    const QJsonObject root = QJsonDocument::fromJson(ReadAll(Out() + "/quillet-notes.json"))
                                 .object()
                                 .value(QStringLiteral("root"))
                                 .toObject();
    EXPECT_EQ(root.value(QStringLiteral("note")).toString(), QStringLiteral("根目录.txt"));

    Empty();
    ImportNotes(Out(), 0);
    EXPECT_EQ(Tree(), before);

    // A folder that holds anything is refused, and nothing is written into it.
    EXPECT_THROW(ExportNotes(Out()), EAppError);
    EXPECT_EQ(QDir(Out()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 7);
}

TEST_F(NoteFolderTest, ASecondImportOverwritesNothing) {
    Note(0, QStringLiteral("根"));
    Note(Group(0, QStringLiteral("甲")), QStringLiteral("甲的笔记"));
    ExportNotes(Out());
    const int target = Group(0, QStringLiteral("导入"));
    Note(target, QStringLiteral("原有笔记"));

    EXPECT_EQ(ImportNotes(Out(), target).Text, QStringLiteral("导入了2个分组、2篇笔记。"));
    ImportNotes(Out(), target);
    EXPECT_EQ(Tree(), QStringLiteral("[根]\n"
                                     "  甲\n"
                                     "  [甲的笔记]\n"
                                     "  导入\n"
                                     "  [原有笔记]\n"
                                     "    根目录\n"
                                     "    [根]\n"
                                     "    甲\n"
                                     "    [甲的笔记]\n"
                                     "    根目录\n"
                                     "    [根]\n"
                                     "    甲\n"
                                     "    [甲的笔记]\n"));
}

TEST_F(NoteFolderTest, AnyFolderOfTextFilesAndADamagedIndex) {
    const QString src = Out(QStringLiteral("旅行"));
    Write(src + QStringLiteral("/清单.txt"), "\xEF\xBB\xBF护照\r\n签证\r\n");
    Write(src + QStringLiteral("/日本/行程.md"), "东京\n大阪");
    Write(src + QStringLiteral("/日本/图片.jpg"), "not text");
    Write(src + QStringLiteral("/欧洲/巴黎.txt"), "铁塔");
    Write(src + QStringLiteral("/欧洲/罗马.TXT"), "\xB6\xB7\xBC\xBC\xB3\xA1"); // GB18030
    QDir().mkpath(src + QStringLiteral("/空"));
    const int target = Group(0, QStringLiteral("收件"));

    EXPECT_EQ(ImportNotes(src, target).Text, QStringLiteral("导入了5个分组、4篇笔记。"));
    EXPECT_EQ(Tree(), QStringLiteral("-\n"
                                     "  收件\n"
                                     "  [护照\n签证\n]\n"
                                     "    日本\n"
                                     "    [东京\n大阪]\n"
                                     "    欧洲\n"
                                     "    -\n"
                                     "      巴黎\n"
                                     "      [铁塔]\n"
                                     "      罗马\n"
                                     "      [斗技场]\n"
                                     "    空\n"
                                     "    -\n"));

    const QString before = Tree();
    ExportNotes(Out());
    Write(Out() + QStringLiteral("/quillet-notes.json"), "{\"format\": \"quillet-notes\", \"ro");
    EXPECT_THROW(ImportNotes(Out(), 0), EAppError);
    QJsonObject index;
    index.insert(QStringLiteral("format"), QStringLiteral("quillet-notes"));
    index.insert(QStringLiteral("lineBreak"), QStringLiteral("\n"));
    index.insert(QStringLiteral("root"),
                 QJsonObject{{QStringLiteral("name"), QStringLiteral("x")},
                             {QStringLiteral("note"), QStringLiteral("../../bookkeep.dat")}});
    Write(Out() + QStringLiteral("/quillet-notes.json"), QJsonDocument(index).toJson());
    EXPECT_THROW(ImportNotes(Out(), 0), EAppError);
    EXPECT_THROW(ImportNotes(Out(QStringLiteral("nowhere")), 0), EAppError);
    EXPECT_EQ(Tree(), before);
}

// A received folder may link to the user's own files, hold a pipe (which would block a read) or
// a huge file: none is opened, and the summary names each.
TEST_F(NoteFolderTest, NothingOutsideTheFolderNorPipesNorHugeFilesComeIn) {
    const QString src = Out(QStringLiteral("received"));
    const QString outside = Out(QStringLiteral("home"));
    Write(outside + QStringLiteral("/id_rsa.txt"), "SECRET");
    Write(src + QStringLiteral("/note.txt"), "正文");
    Write(src + QStringLiteral("/big.txt"), QByteArray((4 << 20) + 1, 'a'));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/id_rsa.txt"), src + "/key.txt"));
    ASSERT_TRUE(QFile::link(outside, src + QStringLiteral("/linked")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(src + QStringLiteral("/pipe.txt")).constData(), 0600), 0);

    EXPECT_EQ(ImportNotes(src, 0).Text, QStringLiteral("导入了0个分组、1篇笔记，跳过4项：\n"
                                                       "“big.txt”：文件太大（超过4 MB）\n"
                                                       "“key.txt”：是符号链接\n"
                                                       "“linked”：是符号链接\n"
                                                       "“pipe.txt”：不是普通文件"));
    EXPECT_EQ(Tree().left(100), QStringLiteral("[正文]\n")); // not all 4 MB should it fail

    // An exported folder whose note was swapped for a link keeps its group, without the note.
    Empty();
    Note(Group(0, QStringLiteral("甲")), QStringLiteral("甲的笔记"));
    ExportNotes(Out());
    QFile::remove(Out() + QStringLiteral("/甲/甲.txt"));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/id_rsa.txt"), Out() + "/甲/甲.txt"));
    Empty();
    EXPECT_EQ(ImportNotes(Out(), 0).Text,
              QStringLiteral("导入了1个分组、0篇笔记，跳过1项：\n“甲/甲.txt”：是符号链接"));
    EXPECT_EQ(Tree(), QStringLiteral("-\n  甲\n  -\n"));
}
