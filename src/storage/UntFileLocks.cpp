#include "UntFileLocks.h"

#include <QFile>
#include <QString>
#include <sqlite3.h>

#ifdef __linux__
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// The engine's own system calls, replaced below.
using OpenCall = int (*)(const char*, int, int);
using CloseCall = int (*)(int);
using FcntlCall = int (*)(int, int, ...);
OpenCall engineOpen = nullptr;
CloseCall engineClose = nullptr;
FcntlCall engineFcntl = nullptr;

// Until one lock of the new kind was taken, a system without them can still go back to the
// engine's own kind; never after (the two kinds would conflict inside this process).
enum class TKind { Undecided, OpenFileLocks, ProcessLocks };
std::atomic<TKind> kind{TKind::Undecided};

using TFileId = std::pair<dev_t, ino_t>;
struct TFile {
    int engineDescriptors = 0; // the engine's open descriptors of the file
    int holder = -1;           // a duplicate whose open file description holds the locks
};

std::mutex mutex;
std::map<TFileId, TFile> files;
std::unordered_map<int, TFileId> descriptors;

void Forget(int fd, std::vector<int>& holdersToClose) {
    const auto d = descriptors.find(fd);
    if (d == descriptors.end())
        return;
    const auto f = files.find(d->second);
    if (f != files.end() && --f->second.engineDescriptors == 0) {
        if (f->second.holder >= 0)
            holdersToClose.push_back(f->second.holder);
        files.erase(f);
    }
    descriptors.erase(d);
}

int Open(const char* path, int flags, int mode) {
    const int fd = engineOpen(path, flags, mode);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return fd;
    std::vector<int> stale;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        Forget(fd, stale); // a number closed behind the engine's back
        const TFileId id{st.st_dev, st.st_ino};
        descriptors[fd] = id;
        ++files[id].engineDescriptors;
    }
    for (int holder : stale)
        ::close(holder);
    return fd;
}

int Close(int fd) {
    std::vector<int> holders;
    {
        // Forgotten before the number is free for another thread's open.
        const std::lock_guard<std::mutex> lock(mutex);
        Forget(fd, holders);
    }
    // As with POSIX locks, the file's locks go with the engine's last descriptor of it.
    for (int holder : holders)
        ::close(holder);
    return engineClose(fd);
}

int LockCommand(int command) {
    switch (command) {
    case F_SETLK:
        return F_OFD_SETLK;
    case F_SETLKW:
        return F_OFD_SETLKW;
    default:
        return F_OFD_GETLK;
    }
}

int Fcntl(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    void* argument = va_arg(arguments, void*); // as the C library passes it on
    va_end(arguments);
    const bool locking = command == F_SETLK || command == F_SETLKW || command == F_GETLK;
    if (!locking || kind == TKind::ProcessLocks)
        return engineFcntl(fd, command, argument);

    auto* request = static_cast<struct flock*>(argument);
    const std::lock_guard<std::mutex> lock(mutex);
    const auto d = descriptors.find(fd);
    if (d == descriptors.end())
        return engineFcntl(fd, command, argument);
    TFile& file = files[d->second];
    // Every lock of the process on the file is taken through one description, so they merge
    // and convert as the engine expects of its own process's locks; a query through it does
    // not see them as conflicts.
    if (file.holder < 0 && command != F_GETLK) {
        file.holder = engineFcntl(fd, F_DUPFD_CLOEXEC, 3);
        if (file.holder < 0)
            return -1;
    }
    struct flock own = *request;
    own.l_pid = 0;
    const int rc = engineFcntl(file.holder >= 0 ? file.holder : fd, LockCommand(command), &own);
    if (rc != 0 && errno == EINVAL && kind == TKind::Undecided) {
        // A system without open file description locks: the engine's own kind, as before.
        kind = TKind::ProcessLocks;
        for (auto& [id, each] : files)
            if (each.holder >= 0) {
                ::close(each.holder);
                each.holder = -1;
            }
        return engineFcntl(fd, command, argument);
    }
    if (rc == 0) {
        kind = TKind::OpenFileLocks;
        if (command == F_GETLK)
            *request = own;
    }
    return rc;
}

} // namespace

void UseOwnFileLocks() {
    static const bool installed = [] {
        sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
        if (!vfs || vfs->iVersion < 3 || !vfs->xGetSystemCall || !vfs->xSetSystemCall)
            return false;
        engineOpen = reinterpret_cast<OpenCall>(vfs->xGetSystemCall(vfs, "open"));
        engineClose = reinterpret_cast<CloseCall>(vfs->xGetSystemCall(vfs, "close"));
        engineFcntl = reinterpret_cast<FcntlCall>(vfs->xGetSystemCall(vfs, "fcntl"));
        if (!engineOpen || !engineClose || !engineFcntl)
            return false;
        // Close and fcntl first: they pass descriptors they do not know on unchanged.
        return vfs->xSetSystemCall(vfs, "close", reinterpret_cast<sqlite3_syscall_ptr>(&Close)) ==
                   SQLITE_OK &&
               vfs->xSetSystemCall(vfs, "fcntl", reinterpret_cast<sqlite3_syscall_ptr>(&Fcntl)) ==
                   SQLITE_OK &&
               vfs->xSetSystemCall(vfs, "open", reinterpret_cast<sqlite3_syscall_ptr>(&Open)) ==
                   SQLITE_OK;
    }();
    Q_UNUSED(installed);
}

bool OwnFileLocksActive() {
    return engineFcntl && kind == TKind::OpenFileLocks;
}

bool FileLockedElsewhere(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    // A description of its own sees every other one's locks, this process's included. (Where
    // the system has no such locks the answer is no: nobody can be sure of the file then.)
    const bool locked = ::fcntl(fd, F_OFD_GETLK, &query) == 0 && query.l_type != F_UNLCK;
    ::close(fd);
    return locked;
}

#else

void UseOwnFileLocks() {}

bool OwnFileLocksActive() {
    return false;
}

bool FileLockedElsewhere(const QString&) {
    return false;
}

#endif
