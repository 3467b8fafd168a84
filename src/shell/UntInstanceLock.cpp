#include "UntInstanceLock.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifndef Q_OS_WIN
namespace {

// dir as a folder for this user alone: made 0700 when missing. One that is there must be a
// real folder (not a link) of this user's; it loses any group or other permission. False when
// it cannot be made so.
bool PrivateFolder(const QString& dir) {
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    // Checked and changed through a handle opened without following a link, so a link put
    // there in between is not followed either.
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    const bool own = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
                     ((st.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return own;
}

} // namespace
#endif

QString TInstanceLock::Folder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime;
#ifdef Q_OS_WIN
    return QDir::tempPath(); // each user's own
#else
    // The temporary folder is shared: a fixed name there could be made beforehand by another
    // user, who would then get the second start's message or hold the lock. So a folder of
    // this user's own, there or else in the user's cache.
    const QString own = QStringLiteral("quillet-%1").arg(::geteuid());
    if (const QString tmp = QDir(QDir::tempPath()).filePath(own); PrivateFolder(tmp))
        return tmp;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (!cache.isEmpty() && QDir().mkpath(cache) && PrivateFolder(QDir(cache).filePath(own)))
        return QDir(cache).filePath(own);
    return QString();
#endif
}

QString TInstanceLock::LockPath(const QString& name) {
    const QString dir = Folder();
    return dir.isEmpty() ? QString() : QDir(dir).filePath(name);
}

#ifdef Q_OS_WIN
TInstanceLock::TInstanceLock(const QString& name) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(name.utf16()));
    heldByOther_ = mutex && WaitForSingleObject(mutex, 0) == WAIT_TIMEOUT;
}
TInstanceLock::~TInstanceLock() = default;
#else
TInstanceLock::TInstanceLock(const QString& name) {
    const QString path = LockPath(name);
    if (path.isEmpty())
        return;
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        heldByOther_ = errno == EWOULDBLOCK;
        ::close(fd_);
        fd_ = -1;
    }
}

TInstanceLock::~TInstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}
#endif
