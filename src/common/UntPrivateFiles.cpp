#include "UntPrivateFiles.h"

#include <QDirIterator>
#include <QFile>
#include <sys/stat.h>

namespace {

// The user's umask before the program narrowed it: what exports are given.
mode_t userMask = 022;
bool narrowed = false;

void Share(const QString& path, bool folder) {
    const mode_t mode = (folder ? 0777 : 0666) & ~userMask;
    ::chmod(QFile::encodeName(path).constData(), mode);
}

} // namespace

void KeepNewFilesPrivate() {
    const mode_t previous = ::umask(077);
    if (!narrowed)
        userMask = previous;
    narrowed = true;
}

void ShareLikeUserFiles(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        if (S_ISREG(st.st_mode))
            Share(path, false);
        return;
    }
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        if (!info.isSymLink() && (info.isDir() || info.isFile()))
            Share(info.filePath(), info.isDir());
    }
    Share(path, true);
}

bool MakePrivate(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0 || S_ISLNK(st.st_mode) || (st.st_mode & 077) == 0)
        return false;
    return ::chmod(name.constData(), st.st_mode & 07700) == 0;
}
