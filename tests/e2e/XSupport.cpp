#include "XSupport.h"

#include "TestSupport.h"

#include <QProcessEnvironment>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Runs xprop on the display env names; its output, or nothing when it failed.
QByteArray Xprop(const QProcessEnvironment& env, const QStringList& arguments) {
    QProcess xprop;
    xprop.setProcessEnvironment(env);
    xprop.start(QStringLiteral("xprop"), arguments);
    if (!xprop.waitForFinished(5000) || xprop.exitStatus() != QProcess::NormalExit ||
        xprop.exitCode() != 0)
        return {};
    return xprop.readAll();
}

// Display number n for this test alone, until the descriptor is closed; -1 when another test
// holds it. Servers started with -displayfd alone choose their own numbers and may take the
// number of one that is still shutting down: that one then removes the newcomer's socket with
// its own, and every client of the newcomer fails.
int LockDisplay(int n) {
    const QByteArray path = "/tmp/quillet-test-display-" + QByteArray::number(n) + ".lock";
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

TXServer::TXServer(bool windowManager) {
    // A loaded machine now and then starts neither in time: once more from the beginning.
    for (int attempt = 0; attempt < 2 && display_.isEmpty(); ++attempt) {
        Stop();
        Start(windowManager);
    }
}

void TXServer::Start(bool windowManager) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return;
    // A number another test holds is passed over, and so is one that an X server of no test
    // uses (Xvfb refuses it).
    for (int number = 40; number < 200 && display_.isEmpty(); ++number) {
        reservation_ = LockDisplay(number);
        if (reservation_ >= 0 && !StartServer(xvfb, number))
            Stop();
    }
    if (display_.isEmpty())
        return;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    if (!windowManager)
        return;
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty()) {
        display_.clear();
        return;
    }
    manager_ = std::make_unique<QProcess>();
    manager_->setProcessEnvironment(env);
    manager_->start(openbox, {QStringLiteral("--sm-disable")});
    // The manager is in charge once it names itself on the root window.
    const bool named =
        manager_->waitForStarted(5000) && WaitFor([&] {
            return Xprop(env, {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                       .contains("window id") ||
                   manager_->state() != QProcess::Running;
        });
    if (!named || manager_->state() != QProcess::Running)
        display_.clear();
}

bool TXServer::StartServer(const QString& xvfb, int number) {
    process_ = std::make_unique<QProcess>();
    // Without -noreset the server resets whenever its last client leaves (a readiness check,
    // an xdotool call), and a client connecting meanwhile is turned away.
    process_->start(xvfb, {QLatin1Char(':') + QString::number(number), QStringLiteral("-displayfd"),
                           QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                           QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                           QStringLiteral("tcp"), QStringLiteral("-noreset")});
    if (!process_->waitForStarted(5000))
        return false;
    // The server writes its display number once it accepts clients.
    WaitFor([&] { return process_->canReadLine() || process_->state() != QProcess::Running; },
            10000);
    if (process_->readLine().trimmed() != QByteArray::number(number))
        return false;
    display_ = QLatin1Char(':') + QString::number(number);
    return true;
}

TXServer::~TXServer() {
    Stop();
}

void TXServer::Stop() {
    // Asked to end, the server removes its socket. Its number is given up only once it has
    // ended, so that no other test's server has taken the number before that removal.
    for (auto* p : {manager_.get(), process_.get()})
        if (p) {
            p->terminate();
            if (!p->waitForFinished(3000)) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    manager_.reset();
    process_.reset();
    display_.clear();
    if (reservation_ >= 0)
        ::close(reservation_);
    reservation_ = -1;
}

// Runs xdotool on the display; its output.
QString RunOnDisplay(const QString& display, const QStringList& command) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(command.first(), command.mid(1));
    p.waitForFinished(15000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString Xdo(const QString& display, const QStringList& arguments) {
    return RunOnDisplay(display, QStringList{QStringLiteral("xdotool")} + arguments).trimmed();
}

bool Viewable(const QString& display, const QString& window) {
    return RunOnDisplay(display, {QStringLiteral("xwininfo"), QStringLiteral("-id"), window})
        .contains(QLatin1String("Map State: IsViewable"));
}

QString WaitForWindow(const QString& display, const QString& name, QProcess* process) {
    QString window;
    WaitFor([&] {
        window = Xdo(display, {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                               QStringLiteral("--name"), name})
                     .section(QLatin1Char('\n'), 0, 0);
        return !window.isEmpty() || process->state() != QProcess::Running;
    });
    return window;
}

QPoint WindowOrigin(const QString& display, const QString& window) {
    QPoint at(-1, -1);
    for (const QString& line :
         Xdo(display, {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window})
             .split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("X=")))
            at.setX(line.mid(2).toInt());
        if (line.startsWith(QLatin1String("Y=")))
            at.setY(line.mid(2).toInt());
    }
    return at;
}

bool ToolsPresent(const QStringList& tools) {
    bool present = true;
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            ADD_FAILURE() << tool.toStdString() << " is not installed; run scripts/setup.sh";
            present = false;
        }
    return present;
}
