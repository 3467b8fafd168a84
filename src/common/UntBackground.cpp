#include "UntBackground.h"

#include "UntHandler.h"

#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <exception>
#include <memory>
#include <thread>

void TProgress::Check() const {
    if (Cancelled)
        Abort();
}

void RunWithProgress(QWidget* owner, const QString& label,
                     const std::function<void(TProgress&)>& work) {
    auto progress = std::make_shared<TProgress>();
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::exception_ptr failed;
    std::thread worker([&failed, work, progress, finished] {
        try {
            work(*progress);
        } catch (...) {
            failed = std::current_exception();
        }
        *finished = true;
    });

    // The window is owned by the active modal widget when there is one, or it would be
    // blocked by it.
    QWidget* parent = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : owner;
    QPointer<QProgressDialog> dialog =
        new QProgressDialog(label, QStringLiteral("取消"), 0, 0, parent);
    dialog->setObjectName(QStringLiteral("dlgProgress"));
    dialog->setWindowTitle(QStringLiteral("请稍候"));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumDuration(400);
    QObject::connect(dialog, &QProgressDialog::canceled, dialog,
                     [progress] { progress->Cancelled = true; });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(30);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (*finished) {
            loop.quit();
            return;
        }
        if (!dialog)
            return;
        const qint64 total = progress->Total;
        if (total > 0) {
            dialog->setMaximum(static_cast<int>(qMin<qint64>(total, INT_MAX)));
            dialog->setValue(static_cast<int>(qMin<qint64>(progress->Done, total)));
        }
    });
    poll.start();
    // A job done within a few milliseconds never shows a window nor runs a loop.
    for (int i = 0; i < 10 && !*finished; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!*finished)
        loop.exec();
    poll.stop();
    worker.join();
    delete dialog.data();
    if (failed)
        std::rethrow_exception(failed);
}

#ifdef __linux__
namespace {
// On Linux a thread has a nice value and a policy of its own. At nice 10 such threads still
// took the interface thread's processor in the middle of a keystroke whenever both cores were
// busy. A batch thread never takes the processor from a running one when it wakes, and at 19
// it still gets its share while the interface thread waits (it may hold the writer's lock,
// so it must not starve as an idle-policy thread would behind other programs).
void Yield(pid_t tid) {
    const sched_param none{};
    sched_setscheduler(tid, SCHED_BATCH, &none);
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 19);
}
} // namespace
#endif

void YieldToInterface() {
#ifdef __linux__
    Yield(gettid());
#endif
}

int YieldThreadsNamed(const QByteArray& name) {
    int found = 0;
#ifdef __linux__
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name)
            continue;
        ++found;
        Yield(tid.toInt());
    }
#else
    Q_UNUSED(name);
#endif
    return found;
}
