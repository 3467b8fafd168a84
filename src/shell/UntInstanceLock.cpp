#include "UntInstanceLock.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

QString TInstanceLock::LockPath(const QString& name) {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString dir = runtime.isEmpty() ? QDir::tempPath() : runtime;
    return QDir(dir).filePath(name);
}

#ifdef Q_OS_WIN
TInstanceLock::TInstanceLock(const QString& name) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<LPCWSTR>(name.utf16()));
    heldByOther_ = mutex && WaitForSingleObject(mutex, 0) == WAIT_TIMEOUT;
}
TInstanceLock::~TInstanceLock() = default;
#else
TInstanceLock::TInstanceLock(const QString& name) {
    fd_ = ::open(QFile::encodeName(LockPath(name)).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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
