#include "UntNoteFolder.h"

#include "UntNote.h"
#include "UntTree.h"
#include "common/UntBackground.h"
#include "common/UntForeignText.h"
#include "common/UntPrivateFiles.h"
#include "common/UntPublic.h"
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
#include <memory>
#include <optional>
#include <vector>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString GroupTable = QStringLiteral("NoteType");
const QString RootName = QStringLiteral("根目录");
const QString FormatName = QStringLiteral("quillet-notes");
constexpr int MaxNameLength = 60; // characters; CJK names stay well under 255 bytes
constexpr int MaxDepth = 64;
// A note is typed text: 4 MB is well over a million Chinese characters, more than anyone keeps
// in one memo. A larger file is something else (a log, a mailbox, an image); it would hold up
// the import and every sync after it, and escaped for the server it could outgrow the 16 MB
// the sync reads back for one item.
constexpr qint64 MaxNoteBytes = 4 << 20;
// The index names each group and file, under 1 KB a group: far more than any notebook needs.
constexpr qint64 MaxIndexBytes = 64 << 20;

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

const QString LinkText = QStringLiteral("是符号链接");
const QString SpecialText = QStringLiteral("不是普通文件");

QString TooBigText(qint64 limit) {
    return QStringLiteral("文件太大（超过%1 MB）").arg(limit >> 20);
}

#ifndef Q_OS_WIN
QString SystemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Why a file is left out ("" when it is a plain file that may be read).
QString LeftOut(const struct stat& st, qint64 limit) {
    if (S_ISLNK(st.st_mode))
        return LinkText;
    if (!S_ISREG(st.st_mode))
        return SpecialText;
    return st.st_size > limit ? TooBigText(limit) : QString();
}
#endif

// A folder of the import. A folder received from someone else may hold links to the user's
// own files (a key, a mailbox) and pipes that would block a read: links, to files or folders,
// and special files are never opened, so nothing outside the chosen folder is ever read.
// Elsewhere than Windows the folder is held open and each name is looked up in it without
// following a link, so this holds even while someone changes the tree during the import.
class TSourceFolder {
public:
    enum class TKind { Missing, Folder, LinkToFolder, Other };

    // The chosen folder itself; a link the user chose is followed here, once.
    explicit TSourceFolder(const QString& dir);
    ~TSourceFolder();
    TSourceFolder(const TSourceFolder&) = delete;
    TSourceFolder& operator=(const TSourceFolder&) = delete;

    TKind Kind(const QString& name) const;
    // The sub-folder name, which Kind found to be a folder.
    std::unique_ptr<TSourceFolder> Sub(const QString& name) const;
    // The bytes of the plain file name, at most limit of them; or nothing, with a line in
    // *skipped saying why. Throws EAppError when it cannot be read.
    std::optional<QByteArray> Read(const QString& name, qint64 limit, QStringList* skipped) const;
    // The readable names inside, in the order a folder is shown.
    QStringList Names() const {
        return QDir(path_).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot |
                                         QDir::Readable,
                                     QDir::Name | QDir::LocaleAware);
    }
    QString Path() const { return path_; }
    QString FilePath(const QString& name) const { return path_ + u'/' + name; }
    // The summary's line for name, left out for why; named from the chosen folder.
    void Skip(const QString& name, const QString& why, QStringList* skipped) const {
        *skipped << QStringLiteral("“%1”：%2").arg(shown_ + name, why);
    }

private:
    QString path_;
    QString shown_; // the folder as named from the chosen one: "" or "a/b/"
#ifdef Q_OS_WIN
    TSourceFolder(const QString& path, const QString& shown, const QString& root)
        : path_(path), shown_(shown), root_(root) {}
    // Links, junctions and shortcuts are all refused, and what is read must still resolve to
    // a place inside the chosen folder.
    static bool IsLink(const QFileInfo& f) {
        return f.isSymLink() || f.isJunction();
    }
    bool Inside(const QString& path) const {
        const QString top = root_.endsWith(u'/') ? root_ : root_ + u'/'; // a drive's top: "C:/"
        return QFileInfo(path).canonicalFilePath().startsWith(top, Qt::CaseInsensitive);
    }
    QString root_; // the chosen folder's canonical path
#else
    TSourceFolder(const QString& path, const QString& shown, int fd)
        : path_(path), shown_(shown), fd_(fd) {}
    int fd_ = -1;
#endif
};

[[noreturn]] void CannotRead(const QString& path, const QString& why) {
    throw EAppError(QStringLiteral("无法读取文件：") + path + QStringLiteral("\n") + why);
}

#ifdef Q_OS_WIN
TSourceFolder::TSourceFolder(const QString& dir)
    : path_(QDir(dir).absolutePath()), root_(QFileInfo(dir).canonicalFilePath()) {}

TSourceFolder::~TSourceFolder() = default;

TSourceFolder::TKind TSourceFolder::Kind(const QString& name) const {
    const QFileInfo f(FilePath(name));
    if (IsLink(f))
        return f.isDir() ? TKind::LinkToFolder : TKind::Other;
    if (!f.exists())
        return TKind::Missing;
    return f.isDir() ? TKind::Folder : TKind::Other;
}

std::unique_ptr<TSourceFolder> TSourceFolder::Sub(const QString& name) const {
    if (!Inside(FilePath(name)))
        throw EAppError(QStringLiteral("无法读取文件夹：") + FilePath(name));
    return std::unique_ptr<TSourceFolder>(
        new TSourceFolder(FilePath(name), shown_ + name + u'/', root_));
}

std::optional<QByteArray> TSourceFolder::Read(const QString& name, qint64 limit,
                                              QStringList* skipped) const {
    const QFileInfo f(FilePath(name));
    QString why;
    if (IsLink(f))
        why = LinkText;
    else if (!f.isFile())
        why = SpecialText;
    else if (!Inside(f.filePath()))
        why = QStringLiteral("在所选文件夹之外");
    else if (f.size() > limit)
        why = TooBigText(limit);
    if (!why.isEmpty()) {
        Skip(name, why, skipped);
        return std::nullopt;
    }
    QFile file(f.filePath());
    if (!file.open(QIODevice::ReadOnly))
        CannotRead(f.filePath(), file.errorString());
    const QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError)
        CannotRead(f.filePath(), file.errorString());
    if (bytes.size() > limit) {
        Skip(name, TooBigText(limit), skipped);
        return std::nullopt;
    }
    return bytes;
}
#else
TSourceFolder::TSourceFolder(const QString& dir) : path_(QDir(dir).absolutePath()) {
    fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        const QString why = SystemError();
        throw EAppError(QStringLiteral("无法读取文件夹：") + dir + QStringLiteral("\n") + why);
    }
}

TSourceFolder::~TSourceFolder() {
    if (fd_ >= 0)
        ::close(fd_);
}

TSourceFolder::TKind TSourceFolder::Kind(const QString& name) const {
    const QByteArray n = QFile::encodeName(name);
    struct stat st;
    if (::fstatat(fd_, n.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return TKind::Missing;
    if (S_ISDIR(st.st_mode))
        return TKind::Folder;
    if (S_ISLNK(st.st_mode) && ::fstatat(fd_, n.constData(), &st, 0) == 0 && S_ISDIR(st.st_mode))
        return TKind::LinkToFolder;
    return TKind::Other;
}

std::unique_ptr<TSourceFolder> TSourceFolder::Sub(const QString& name) const {
    const int fd = ::openat(fd_, QFile::encodeName(name).constData(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const QString why = SystemError();
        throw EAppError(QStringLiteral("无法读取文件夹：") + FilePath(name) + QStringLiteral("\n") +
                        why);
    }
    return std::unique_ptr<TSourceFolder>(
        new TSourceFolder(FilePath(name), shown_ + name + u'/', fd));
}

std::optional<QByteArray> TSourceFolder::Read(const QString& name, qint64 limit,
                                              QStringList* skipped) const {
    const QString path = FilePath(name);
    const QByteArray n = QFile::encodeName(name);
    auto skip = [&](const QString& why) {
        Skip(name, why, skipped);
        return std::nullopt;
    };
    // Looked at before it is opened: opening a pipe waits for a writer, a device may act.
    struct stat st;
    if (::fstatat(fd_, n.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        CannotRead(path, SystemError());
    if (const QString why = LeftOut(st, limit); !why.isEmpty())
        return skip(why);
    // Exchanged for a link or a pipe since, it is neither followed nor waited for; what was
    // opened is looked at once more.
    const int fd =
        ::openat(fd_, n.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        CannotRead(path, SystemError());
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    if (::fstat(fd, &st) != 0)
        CannotRead(path, SystemError());
    if (const QString why = LeftOut(st, limit); !why.isEmpty())
        return skip(why);
    const QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError)
        CannotRead(path, file.errorString());
    if (bytes.size() > limit) // it grew meanwhile
        return skip(TooBigText(limit));
    return bytes;
}
#endif

// A name from the index must stay inside its folder.
QString PlainName(const QJsonValue& v) {
    const QString name = v.toString();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(u'/') || name.contains(u'\\') || name.contains(QChar(0)))
        BadIndex(QStringLiteral("文件名不合规"));
    return name;
}

TNoteGroup ReadIndexedGroup(const QJsonObject& entry, const TSourceFolder& folder,
                            const QString& lineBreak, int depth, QStringList* skipped) {
    if (depth > MaxDepth)
        BadIndex(QStringLiteral("层数太多"));
    if (!entry.value(QStringLiteral("name")).isString())
        BadIndex(QStringLiteral("缺少名称"));
    TNoteGroup g;
    g.Name = entry.value(QStringLiteral("name")).toString();
    if (entry.contains(QStringLiteral("note"))) {
        const QString name = PlainName(entry.value(QStringLiteral("note")));
        if (const std::optional<QByteArray> bytes = folder.Read(name, MaxNoteBytes, skipped)) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            QString text = utf8(*bytes);
            if (utf8.hasError())
                BadIndex(QStringLiteral("笔记不是UTF-8文本：") + folder.FilePath(name));
            if (lineBreak != QLatin1String("\n"))
                text.replace(lineBreak, QStringLiteral("\n"));
            g.Note = text;
        }
    }
    for (const QJsonValue& v : entry.value(QStringLiteral("groups")).toArray()) {
        if (!v.isObject())
            BadIndex(QStringLiteral("分组格式不对"));
        const QJsonObject child = v.toObject();
        const QString sub = PlainName(child.value(QStringLiteral("folder")));
        const TSourceFolder::TKind kind = folder.Kind(sub);
        if (kind == TSourceFolder::TKind::LinkToFolder)
            folder.Skip(sub, LinkText, skipped);
        else if (kind != TSourceFolder::TKind::Folder)
            BadIndex(QStringLiteral("缺少文件夹：") + folder.FilePath(sub));
        else
            g.Groups.push_back(
                ReadIndexedGroup(child, *folder.Sub(sub), lineBreak, depth + 1, skipped));
    }
    return g;
}

TNoteGroup ReadIndexed(const TSourceFolder& folder, QStringList* skipped) {
    QStringList refused;
    const std::optional<QByteArray> bytes = folder.Read(NoteIndexFileName, MaxIndexBytes, &refused);
    if (!bytes)
        BadIndex(refused.join(QString()));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        BadIndex(error.errorString());
    const QJsonObject top = doc.object();
    if (top.value(QStringLiteral("format")).toString() != FormatName ||
        !top.value(QStringLiteral("root")).isObject())
        BadIndex(QStringLiteral("格式不对"));
    const QString lineBreak = top.value(QStringLiteral("lineBreak")).toString();
    if (lineBreak != QLatin1String("\n") && lineBreak != QLatin1String("\r\n"))
        BadIndex(QStringLiteral("换行符不对"));
    return ReadIndexedGroup(top.value(QStringLiteral("root")).toObject(), folder, lineBreak, 0,
                            skipped);
}

bool IsTextFileName(const QString& name) {
    return name.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".md"), Qt::CaseInsensitive);
}

// A folder's text files and sub-folders: one file is the group's note; several become a
// group each.
void ReadForeignFolder(const TSourceFolder& folder, TNoteGroup* g, QStringList* skipped,
                       int depth) {
    if (depth > MaxDepth)
        throw EAppError(QStringLiteral("文件夹层数太多：") + folder.Path());
    std::vector<TNoteGroup> files;
    QStringList subs;
    for (const QString& name : folder.Names()) {
        const TSourceFolder::TKind kind = folder.Kind(name);
        if (kind == TSourceFolder::TKind::Folder) {
            subs << name;
        } else if (kind == TSourceFolder::TKind::LinkToFolder) {
            folder.Skip(name, LinkText, skipped);
        } else if (kind == TSourceFolder::TKind::Other && IsTextFileName(name)) {
            if (const std::optional<QByteArray> bytes = folder.Read(name, MaxNoteBytes, skipped)) {
                TNoteGroup file;
                file.Name = QFileInfo(name).completeBaseName();
                // Line breaks of any platform become the memo's.
                file.Note =
                    DecodeForeignText(*bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
                files.push_back(std::move(file));
            }
        }
    }
    if (files.size() == 1) {
        g->Note = files.front().Note;
    } else {
        for (TNoteGroup& file : files)
            g->Groups.push_back(std::move(file));
    }
    for (const QString& s : subs) {
        TNoteGroup sub;
        sub.Name = s;
        ReadForeignFolder(*folder.Sub(s), &sub, skipped, depth + 1);
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
    errno = 0;
    if (!parent.mkdir(building))
        throw EAppError(QStringLiteral("无法建立文件夹：") + dir + QStringLiteral("\n") +
                        FileErrorText(errno));
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
        ShareLikeUserFiles(work); // an export is meant to be passed on
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
    result.Text = QStringLiteral("导出了%1个分组、%2篇笔记到文件夹：%3")
                      .arg(result.Groups)
                      .arg(result.Notes)
                      .arg(QDir::toNativeSeparators(QFileInfo(dir).absoluteFilePath()));
    return result;
}

TNoteFolderResult ImportNotes(const QString& dir, int parentGroup, TProgress* progress) {
    if (!QFileInfo(dir).isDir())
        throw EAppError(QStringLiteral("找不到文件夹：") + dir);
    const TSourceFolder top(dir);
    QStringList skipped;
    TNoteGroup root;
    if (top.Kind(NoteIndexFileName) != TSourceFolder::TKind::Missing) {
        root = ReadIndexed(top, &skipped);
    } else {
        root.Name = QFileInfo(QDir(dir).absolutePath()).fileName();
        ReadForeignFolder(top, &root, &skipped, 0);
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
        const int first = next;
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
        result.FirstGroup = next > first ? first : 0;
    });
    result.Groups += CountGroups(root);
    result.Notes = CountNotes(root);
    const QString head =
        result.Groups == 0 && result.Notes == 0
            ? QStringLiteral("这个文件夹里没有可以导入的笔记（.txt 文件或它的子文件夹）")
            : QStringLiteral("导入了%1个分组、%2篇笔记").arg(result.Groups).arg(result.Notes);
    result.Text = skipped.isEmpty() ? head + QStringLiteral("。")
                                    : head + QStringLiteral("，跳过%1项：\n").arg(skipped.size()) +
                                          skipped.join(u'\n');
    return result;
}
