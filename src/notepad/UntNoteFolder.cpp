#include "UntNoteFolder.h"

#include "UntNote.h"
#include "UntTree.h"
#include "common/UntBackground.h"
#include "common/UntForeignText.h"
#include "storage/UException.h"
#include "storage/UntDbAccess.h"
#include "storage/UntSqlText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>
#include <optional>
#include <vector>

namespace {

const QString GroupTable = QStringLiteral("NoteType");
const QString RootName = QStringLiteral("根目录");
const QString FormatName = QStringLiteral("quillet-notes");
constexpr int MaxNameLength = 60; // characters; CJK names stay well under 255 bytes
constexpr int MaxDepth = 64;

// A group as it travels: its name, its note when it has one, its sub-groups in order.
struct TNoteGroup {
    QString Name;
    std::optional<QString> Note;
    std::vector<TNoteGroup> Groups;
};

int CountGroups(const TNoteGroup& g) {
    int n = static_cast<int>(g.Groups.size());
    for (const TNoteGroup& c : g.Groups)
        n += CountGroups(c);
    return n;
}

int CountNotes(const TNoteGroup& g) {
    int n = g.Note ? 1 : 0;
    for (const TNoteGroup& c : g.Groups)
        n += CountNotes(c);
    return n;
}

// ---------------------------------------------------------------- export

TNoteGroup ReadTree(TProgress* progress) {
    TNoteGroup root;
    root.Name = RootName;
    struct Row {
        int self;
        int parent;
        QString name;
    };
    std::vector<Row> rows;
    QHash<int, QString> notes;
    // One statement, so groups and notes are of the same moment even while another copy of
    // the program writes; read off the interface's own connection.
    DbAccess->Reader.ReadRows(
        FormatSql(QStringLiteral("select 0 as k,SelfIndex,ParentIndex,TypeName,SelfIndex as s "
                                 "from %s where SelfIndex <>0 union all "
                                 "select 1,TypeID,0,ReMark,rowid from NoteBook order by k,s"),
                  {GroupTable}),
        {},
        [&](const TRowView& row) {
            const int id = static_cast<int>(row.Integer(1));
            if (row.Integer(0) == 0)
                rows.push_back({id, static_cast<int>(row.Integer(2)), row.Text(3)});
            else if (!notes.contains(id)) // the store reads the first row of a group
                notes.insert(id, row.Text(3));
            return true;
        },
        progress ? &progress->Cancelled : nullptr);
    if (progress)
        progress->Check();
    if (notes.contains(0))
        root.Note = notes.value(0);
    // Rows come parent first (as the tree loads them); a row with an unknown parent is shown
    // under the root, and so it is written there. Children are linked by index into a flat
    // list first, since growing vectors would move the nodes.
    std::vector<TNoteGroup> flat(rows.size());
    std::vector<std::vector<size_t>> children(rows.size());
    std::vector<size_t> top;
    QHash<int, size_t> byIndex;
    for (size_t i = 0; i < rows.size(); ++i) {
        flat[i].Name = rows[i].name;
        if (notes.contains(rows[i].self))
            flat[i].Note = notes.value(rows[i].self);
        const auto parent = byIndex.find(rows[i].parent);
        if (rows[i].parent != 0 && parent != byIndex.end())
            children[*parent].push_back(i);
        else
            top.push_back(i);
        if (!byIndex.contains(rows[i].self))
            byIndex.insert(rows[i].self, i);
    }
    // Build bottom-up: a child always comes after its parent in the list.
    for (size_t i = rows.size(); i-- > 0;)
        for (size_t c : children[i])
            flat[i].Groups.push_back(std::move(flat[c]));
    for (size_t i : top)
        root.Groups.push_back(std::move(flat[i]));
    return root;
}

// Unique names within one folder; file systems that ignore case see "A" and "a" as one.
class TNameSet {
public:
    QString Take(const QString& safe, const QString& extension = QString()) {
        QString name = safe + extension;
        for (int n = 2; used_.contains(name.toCaseFolded()); ++n)
            name = safe + QStringLiteral(" (%1)").arg(n) + extension;
        used_.insert(name.toCaseFolded());
        return name;
    }

private:
    QSet<QString> used_;
};

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        file.write(bytes) != bytes.size() || !file.flush())
        throw EAppError(QStringLiteral("无法写入文件：") + path + QStringLiteral("\n") +
                        file.errorString());
}

QByteArray NoteBytes(const QString& note, const QString& lineBreak) {
    if (lineBreak == QLatin1String("\n"))
        return note.toUtf8();
    QString text = note;
    return text.replace(u'\n', lineBreak).toUtf8();
}

QJsonObject WriteGroup(const TNoteGroup& g, const QString& folder, TNameSet& names,
                       const QString& lineBreak, TProgress* progress) {
    if (progress) {
        progress->Check();
        ++progress->Done;
    }
    QJsonObject entry;
    entry.insert(QStringLiteral("name"), g.Name);
    if (g.Note) {
        const QString file = names.Take(SafeFileName(g.Name), QStringLiteral(".txt"));
        WriteFile(folder + u'/' + file, NoteBytes(*g.Note, lineBreak));
        entry.insert(QStringLiteral("note"), file);
    }
    QJsonArray groups;
    for (const TNoteGroup& c : g.Groups) {
        const QString sub = names.Take(SafeFileName(c.Name));
        if (!QDir(folder).mkdir(sub))
            throw EAppError(QStringLiteral("无法建立文件夹：") + folder + u'/' + sub);
        TNameSet inner;
        QJsonObject child = WriteGroup(c, folder + u'/' + sub, inner, lineBreak, progress);
        child.insert(QStringLiteral("folder"), sub);
        groups.append(child);
    }
    entry.insert(QStringLiteral("groups"), groups);
    return entry;
}

// ---------------------------------------------------------------- import

[[noreturn]] void BadIndex(const QString& why) {
    throw EAppError(QStringLiteral("笔记文件夹的索引文件已损坏（") + why +
                    QStringLiteral("），没有导入任何笔记。"));
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EAppError(QStringLiteral("无法读取文件：") + path + QStringLiteral("\n") +
                        file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EAppError(QStringLiteral("无法读取文件：") + path + QStringLiteral("\n") +
                        file.errorString());
    return bytes;
}

// A name from the index must stay inside its folder.
QString PlainName(const QJsonValue& v) {
    const QString name = v.toString();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(u'/') || name.contains(u'\\') || name.contains(QChar(0)))
        BadIndex(QStringLiteral("文件名不合规"));
    return name;
}

TNoteGroup ReadIndexedGroup(const QJsonObject& entry, const QString& folder,
                            const QString& lineBreak, int depth) {
    if (depth > MaxDepth)
        BadIndex(QStringLiteral("层数太多"));
    if (!entry.value(QStringLiteral("name")).isString())
        BadIndex(QStringLiteral("缺少名称"));
    TNoteGroup g;
    g.Name = entry.value(QStringLiteral("name")).toString();
    if (entry.contains(QStringLiteral("note"))) {
        const QString path = folder + u'/' + PlainName(entry.value(QStringLiteral("note")));
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8(ReadBytes(path));
        if (utf8.hasError())
            BadIndex(QStringLiteral("笔记不是UTF-8文本：") + path);
        if (lineBreak != QLatin1String("\n"))
            text.replace(lineBreak, QStringLiteral("\n"));
        g.Note = text;
    }
    for (const QJsonValue& v : entry.value(QStringLiteral("groups")).toArray()) {
        if (!v.isObject())
            BadIndex(QStringLiteral("分组格式不对"));
        const QJsonObject child = v.toObject();
        const QString sub = folder + u'/' + PlainName(child.value(QStringLiteral("folder")));
        if (!QFileInfo(sub).isDir())
            BadIndex(QStringLiteral("缺少文件夹：") + sub);
        g.Groups.push_back(ReadIndexedGroup(child, sub, lineBreak, depth + 1));
    }
    return g;
}

TNoteGroup ReadIndexed(const QString& dir) {
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(ReadBytes(dir + u'/' + NoteIndexFileName), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        BadIndex(error.errorString());
    const QJsonObject top = doc.object();
    if (top.value(QStringLiteral("format")).toString() != FormatName ||
        !top.value(QStringLiteral("root")).isObject())
        BadIndex(QStringLiteral("格式不对"));
    const QString lineBreak = top.value(QStringLiteral("lineBreak")).toString();
    if (lineBreak != QLatin1String("\n") && lineBreak != QLatin1String("\r\n"))
        BadIndex(QStringLiteral("换行符不对"));
    return ReadIndexedGroup(top.value(QStringLiteral("root")).toObject(), dir, lineBreak, 0);
}

// A text file from elsewhere; line breaks of any platform become the memo's.
QString ReadForeignText(const QString& path) {
    return DecodeForeignText(ReadBytes(path)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A folder's text files and sub-folders: one file is the group's note; several become a
// group each.
void ReadForeignFolder(const QString& dir, TNoteGroup* g, int depth) {
    if (depth > MaxDepth)
        throw EAppError(QStringLiteral("文件夹层数太多：") + dir);
    const QDir folder(dir);
    const QFileInfoList files =
        folder.entryInfoList({QStringLiteral("*.txt"), QStringLiteral("*.md")},
                             QDir::Files | QDir::Readable, QDir::Name | QDir::LocaleAware);
    if (files.size() == 1) {
        g->Note = ReadForeignText(files.first().filePath());
    } else {
        for (const QFileInfo& f : files) {
            TNoteGroup file;
            file.Name = f.completeBaseName();
            file.Note = ReadForeignText(f.filePath());
            g->Groups.push_back(std::move(file));
        }
    }
    const QFileInfoList subs =
        folder.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks | QDir::Readable,
                             QDir::Name | QDir::LocaleAware);
    for (const QFileInfo& s : subs) {
        TNoteGroup sub;
        sub.Name = s.fileName();
        ReadForeignFolder(s.filePath(), &sub, depth + 1);
        g->Groups.push_back(std::move(sub));
    }
}

void AddStatements(const TNoteGroup& g, int parent, int* next, QStringList* batch) {
    const int self = (*next)++;
    *batch << TCardTree::AddGroupStatement(GroupTable, self, parent, g.Name);
    if (g.Note)
        *batch << TNote::AddStatement(self, *g.Note);
    for (const TNoteGroup& c : g.Groups)
        AddStatements(c, self, next, batch);
}

} // namespace

QString NativeLineBreak() {
#ifdef Q_OS_WIN
    return QStringLiteral("\r\n");
#else
    return QStringLiteral("\n");
#endif
}

QString SafeFileName(const QString& name) {
    // Forbidden on Windows (the strictest common file system), plus control characters.
    static const QString forbidden = QStringLiteral("<>:\"/\\|?*");
    QString safe;
    for (const QChar c : name)
        safe += (c.unicode() < 0x20 || c.unicode() == 0x7F || forbidden.contains(c)) ? u'_' : c;
    if (safe.size() > MaxNameLength) {
        int cut = MaxNameLength;
        if (safe.at(cut - 1).isHighSurrogate())
            --cut;
        safe.truncate(cut);
    }
    // Windows drops trailing dots and blanks, which would merge "a." with "a".
    for (int i = safe.size() - 1; i >= 0 && (safe.at(i) == u'.' || safe.at(i) == u' '); --i)
        safe[i] = u'_';
    if (safe.isEmpty())
        return QStringLiteral("未命名");
    static const QStringList devices = {
        QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),
        QStringLiteral("NUL"),  QStringLiteral("COM1"), QStringLiteral("COM2"),
        QStringLiteral("COM3"), QStringLiteral("COM4"), QStringLiteral("COM5"),
        QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"),
        QStringLiteral("LPT3"), QStringLiteral("LPT4"), QStringLiteral("LPT5"),
        QStringLiteral("LPT6"), QStringLiteral("LPT7"), QStringLiteral("LPT8"),
        QStringLiteral("LPT9")};
    const QString stem = safe.section(u'.', 0, 0).trimmed();
    if (devices.contains(stem, Qt::CaseInsensitive))
        safe.prepend(u'_');
    return safe;
}

TNoteFolderResult ExportNotes(const QString& dir, const QString& lineBreak, TProgress* progress) {
    const QFileInfo target(QDir::cleanPath(QDir(dir).absolutePath()));
    if (target.exists() &&
        (!target.isDir() ||
         !QDir(dir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)))
        throw EAppError(QStringLiteral("请选择一个空文件夹或新文件夹：") + dir);
    const TNoteGroup root = ReadTree(progress);
    if (progress)
        progress->Total = CountGroups(root) + 1;

    // Built beside the target and moved into place, so a failure leaves no half folder.
    QDir parent = target.absoluteDir();
    const QString building =
        QStringLiteral(".%1.part-%2")
            .arg(target.fileName())
            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    if (!parent.mkdir(building))
        throw EAppError(QStringLiteral("无法建立文件夹：") + parent.filePath(building));
    const QString work = parent.filePath(building);
    try {
        TNameSet names;
        names.Take(NoteIndexFileName);
        QJsonObject index;
        index.insert(QStringLiteral("format"), FormatName);
        index.insert(QStringLiteral("version"), 1);
        index.insert(QStringLiteral("lineBreak"), lineBreak);
        index.insert(QStringLiteral("root"), WriteGroup(root, work, names, lineBreak, progress));
        WriteFile(work + u'/' + NoteIndexFileName, QJsonDocument(index).toJson());
        if (target.exists())
            parent.rmdir(target.fileName());
        if (!parent.rename(building, target.fileName()))
            throw EAppError(QStringLiteral("无法建立文件夹：") + dir);
    } catch (...) {
        QDir(work).removeRecursively();
        throw;
    }
    TNoteFolderResult result;
    result.Groups = CountGroups(root);
    result.Notes = CountNotes(root);
    result.Text =
        QStringLiteral("导出了%1个分组、%2篇笔记到文件夹。").arg(result.Groups).arg(result.Notes);
    return result;
}

TNoteFolderResult ImportNotes(const QString& dir, int parentGroup, TProgress* progress) {
    if (!QFileInfo(dir).isDir())
        throw EAppError(QStringLiteral("找不到文件夹：") + dir);
    TNoteGroup root;
    if (QFileInfo::exists(dir + u'/' + NoteIndexFileName)) {
        root = ReadIndexed(dir);
    } else {
        root.Name = QFileInfo(QDir(dir).absolutePath()).fileName();
        ReadForeignFolder(dir, &root, 0);
    }
    if (progress) {
        progress->Check();
        progress->Total = CountGroups(root) + 1;
    }

    TNoteFolderResult result;
    // On a connection of its own, in one transaction: all or nothing, and the numbers taken
    // here are still free at its commit.
    DbAccess->WriteAside([&](TConnection& connection) {
        auto number = [&connection](const QString& sql) {
            TCursor cursor;
            cursor.Open(connection, sql);
            return cursor.Eof() ? 0 : cursor.AsInteger(0);
        };
        if (parentGroup != 0 &&
            number(FormatSql(QStringLiteral("select count(SelfIndex) from %s where SelfIndex=%s"),
                             {GroupTable, SqlNum(parentGroup)})) == 0)
            throw EAppError(QStringLiteral("要导入到的分组已不存在。"));
        int next = static_cast<int>(number(
                       FormatSql(QStringLiteral("select max(SelfIndex) from %s"), {GroupTable}))) +
                   1;
        QStringList batch;
        if (root.Note) {
            if (number(FormatSql(QStringLiteral("select count(*) from NoteBook where TypeID=%s"),
                                 {SqlNum(parentGroup)})) > 0) {
                // The group keeps its own note; the folder's top note comes in as a group of its
                // own.
                TNoteGroup top;
                top.Name = root.Name;
                top.Note = root.Note;
                AddStatements(top, parentGroup, &next, &batch);
                ++result.Groups;
            } else {
                batch << TNote::AddStatement(parentGroup, *root.Note);
            }
        }
        for (const TNoteGroup& g : root.Groups)
            AddStatements(g, parentGroup, &next, &batch);
        for (const QString& piece : SplitBatch(batch.join(BatchSeparator))) {
            if (progress) {
                progress->Check();
                progress->Done = qMin<qint64>(progress->Done + 1, progress->Total);
            }
            if (!IsBlank(piece))
                connection.Exec(piece);
        }
    });
    result.Groups += CountGroups(root);
    result.Notes = CountNotes(root);
    result.Text = QStringLiteral("导入了%1个分组、%2篇笔记。").arg(result.Groups).arg(result.Notes);
    return result;
}
